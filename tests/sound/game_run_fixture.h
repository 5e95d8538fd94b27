// Small games run headless through the real executable with --audio-out: the fixture writes the
// game, runs it, and reads back what it logged and what was heard.
#pragma once
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sound_test_support.h"

namespace talven::sound {

namespace fs = std::filesystem;

class SoundOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    work_ = fs::temp_directory_path() / ("talven-sound-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(work_);
    fs::create_directories(work_ / "game");
    fs::copy_file(fs::path(TALVEN_SOURCE_DIR) / "sdk/include/talven.h", work_ / "game/talven.h");
    config("");
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(work_);
  }
  void config(const std::string& more) {
    std::ofstream(work_ / "game.cfg") << "[General]\nFileSystem=3\nError=1\n" << more;
  }
  void file(const std::string& name, const std::string& bytes) {
    std::ofstream(work_ / name, std::ios::binary) << bytes;
  }
  // Runs the game; its log lines by their first word, the output in `heard`.
  int run(const std::string& main_c, const std::string& options = "") {
    std::ofstream(work_ / "game/main.c") << "#include \"talven.h\"\n" << main_c;
    const std::string command = "cd '" + work_.string() + "' && timeout 120 '" TALVEN_BINARY_DIR "/talven' --headless " +
                                "--log log.txt --audio-out out.wav " + options + " game.cfg >stdout.txt 2>stderr.txt";
    const int raw = std::system(command.c_str());
    heard_ = test::read_wave_output(work_ / "out.wav", rate_);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::vector<std::string> log() {
    std::vector<std::string> lines;
    std::istringstream in(test::read_bytes(work_ / "log.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The number a line "NAME ... VALUE" of the log ends with, for the first line starting with NAME.
  long logged(const std::string& name) {
    for (const std::string& line : log())
      if (line.rfind(name + " ", 0) == 0) return std::stol(line.substr(line.rfind(' ') + 1));
    ADD_FAILURE() << "no log line " << name << " in\n" << test::read_bytes(work_ / "log.txt");
    return -1;
  }
  // The output's frame at `ms` of the script's time. Scripts count from their own start, which the
  // output began a little before: the two are lined up at the first sound, which scripts log as
  // "start".
  int frame_at(long ms) const { return static_cast<int>((ms + offset_ms_) * rate_ / 1000); }
  void line_up_at_first_sound(long script_ms) {
    std::size_t first = 0;
    while (first < heard_.size() && std::abs(heard_[first]) < 0.01f) ++first;
    offset_ms_ = static_cast<long>(first / 2 * 1000 / static_cast<std::size_t>(rate_)) - script_ms;
  }
  double level(long from_ms, long to_ms, int channel = -1) const {
    return test::rms(heard_, frame_at(from_ms), frame_at(to_ms), channel);
  }
  double pitch(long from_ms, long to_ms) const { return test::frequency(heard_, frame_at(from_ms), frame_at(to_ms), rate_); }

  fs::path work_;
  std::vector<float> heard_;
  int rate_ = 0;
  long offset_ms_ = 0;
};

}  // namespace talven::sound
