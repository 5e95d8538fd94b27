// Only src/platform/ talks to SDL and the operating system; every other folder goes through it.
// This keeps the engine portable: a new platform means a new src/platform/, nothing else.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Headers of the window system and of the operating system's own interfaces.
const char* const kPlatformHeaders[] = {
    "SDL", "unistd.h", "sys/", "dirent.h", "iconv.h", "fcntl.h", "pthread.h", "dlfcn.h", "poll.h",
    "netinet/", "arpa/", "netdb.h", "signal.h", "termios.h", "pwd.h", "windows.h", "X11/",
};

TEST(IncludePolicy, OnlyThePlatformFolderIncludesSystemHeaders) {
  const fs::path src = fs::path(TALVEN_SOURCE_DIR) / "src";
  const std::regex include_line(R"(^\s*#\s*include\s*[<"]([^>"]+)[>"])");
  std::vector<std::string> offenders;
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    if (!entry.is_regular_file()) continue;
    const fs::path rel = fs::relative(entry.path(), src);
    if (*rel.begin() == "platform") continue;
    std::ifstream in(entry.path());
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      std::smatch m;
      if (!std::regex_search(line, m, include_line)) continue;
      const std::string header = m[1];
      for (const char* forbidden : kPlatformHeaders)
        if (header.rfind(forbidden, 0) == 0) offenders.push_back(rel.string() + ":" + std::to_string(number) + ": " + header);
    }
  }
  EXPECT_TRUE(offenders.empty()) << [&] {
    std::string all;
    for (const auto& o : offenders) all += o + "\n";
    return all;
  }();
}

}  // namespace
