// Only src/platform/ talks to SDL and the operating system; every other folder goes through it.
// This keeps the engine portable: a new platform means a new src/platform/, nothing else.
// And each module includes headers only of itself and of the modules its CMakeLists.txt declares
// it depends on, so no layer reaches upward or sideways.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Headers of the window system and of the operating system's own interfaces.
const char* const kPlatformHeaders[] = {
    "SDL", "unistd.h", "sys/", "dirent.h", "iconv.h", "fcntl.h", "pthread.h", "dlfcn.h", "poll.h",
    "netinet/", "arpa/", "netdb.h", "signal.h", "termios.h", "pwd.h", "windows.h", "X11/",
};

// Calls `seen(file relative to src, line number, included name)` for every #include below `folder`.
template <typename Seen>
void for_each_include(const fs::path& src, const fs::path& folder, Seen seen) {
  const std::regex include_line(R"(^\s*#\s*include\s*[<"]([^>"]+)[>"])");
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path());
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      std::smatch m;
      if (std::regex_search(line, m, include_line)) seen(fs::relative(entry.path(), src), number, m[1].str());
    }
  }
}

std::string one_per_line(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& line : lines) all += line + "\n";
  return all;
}

TEST(IncludePolicy, OnlyThePlatformFolderIncludesSystemHeaders) {
  const fs::path src = fs::path(TALVEN_SOURCE_DIR) / "src";
  std::vector<std::string> offenders;
  for_each_include(src, src, [&](const fs::path& file, int number, const std::string& header) {
    if (*file.begin() == "platform") return;
    for (const char* forbidden : kPlatformHeaders)
      if (header.rfind(forbidden, 0) == 0) offenders.push_back(file.string() + ":" + std::to_string(number) + ": " + header);
  });
  EXPECT_TRUE(offenders.empty()) << one_per_line(offenders);
}

// Each folder's declared dependencies: talven_module(NAME DEPENDS a b c) in its CMakeLists.txt.
std::map<std::string, std::set<std::string>> declared_dependencies(const fs::path& src) {
  std::map<std::string, std::set<std::string>> modules;
  const std::regex declaration(R"(talven_module\(\s*(\w+)([^)]*)\))");
  for (const auto& folder : fs::directory_iterator(src)) {
    if (!folder.is_directory()) continue;
    std::ifstream in(folder.path() / "CMakeLists.txt");
    std::stringstream text;
    text << in.rdbuf();
    const std::string cmake = text.str();
    std::smatch m;
    if (!std::regex_search(cmake, m, declaration)) continue;
    std::set<std::string>& depends = modules[folder.path().filename().string()];
    std::istringstream words(m[2].str());
    bool listing = false;
    for (std::string word; words >> word;) {
      if (word == "DEPENDS") listing = true;
      else if (listing) depends.insert(word);
    }
  }
  return modules;
}

TEST(IncludePolicy, ModulesIncludeOnlyTheModulesTheyDependOn) {
  const fs::path src = fs::path(TALVEN_SOURCE_DIR) / "src";
  const auto modules = declared_dependencies(src);
  ASSERT_GE(modules.size(), 10u) << "every folder of src/ should declare itself with talven_module";
  ASSERT_TRUE(modules.at("platform").empty()) << "the platform depends on no other module";
  std::vector<std::string> offenders;
  for (const auto& [module, depends] : modules) {
    for_each_include(src, src / module, [&](const fs::path& file, int number, const std::string& header) {
      const std::size_t slash = header.find('/');
      if (slash == std::string::npos) return;
      const std::string included = header.substr(0, slash);
      if (included == module || depends.count(included) != 0 || modules.count(included) == 0) return;
      offenders.push_back(file.string() + ":" + std::to_string(number) + ": includes " + included + "/, which " +
                          module + " does not depend on");
    });
  }
  EXPECT_TRUE(offenders.empty()) << one_per_line(offenders);
}

}  // namespace
