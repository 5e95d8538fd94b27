// Shared fixtures of the archive tests: a scratch folder that is the current directory, files
// written into it, archives built from tables of members, and the messages that were reported.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/archive_format.h"
#include "platform/text_encoding.h"
#include "shell/configuration.h"
#include "shell/error_reporter.h"
#include "shell/modules.h"

namespace talven::archive::test {

inline std::vector<std::string>& reported() {
  static std::vector<std::string> messages;
  return messages;
}

inline std::string bytes_of(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::filesystem::path& path, std::string_view bytes) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A cp932 member name and its content.
struct TestMember {
  std::string name;
  std::string data;
};

// The bytes of an archive holding `members`, which are sorted here in archive name order.
inline std::string archive_bytes(std::vector<TestMember> members, std::uint32_t seed = 0x1234) {
  std::sort(members.begin(), members.end(),
            [](const TestMember& a, const TestMember& b) { return compare_archive_names(a.name, b.name) < 0; });
  std::vector<ArchiveMemberPlan> plans;
  for (const TestMember& m : members) plans.push_back({m.name, m.data.size()});
  std::vector<std::uint8_t> front;
  std::string error;
  EXPECT_TRUE(build_archive_front(seed, plans, front, error)) << error;
  std::string bytes(front.begin(), front.end());
  for (const TestMember& m : members) bytes += m.data;
  return bytes;
}

// A fresh folder made the current directory for one test, with the archive and shell state of a
// fresh process and reported messages collected.
class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder_ = std::filesystem::temp_directory_path() /
              ("talven-test-" + std::to_string(random()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(folder_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    archive::reset_archive_state();
    shell::reset_shell_state();
    shell::config().error = 2;
    reported().clear();
    shell::set_report_listener([](const char* text) { reported().push_back(text); });
  }
  void TearDown() override {
    archive::reset_archive_state();
    shell::reset_shell_state();
    std::filesystem::current_path(previous_);
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  // The one message reported, formatted as the reader does for `path`.
  static std::string message(const char* utf8_format, const std::string& path) {
    char text[512];
    std::snprintf(text, sizeof text, platform::cp932(utf8_format), path.c_str());
    return text;
  }

  std::filesystem::path folder_;
  std::filesystem::path previous_;
};

}  // namespace talven::archive::test
