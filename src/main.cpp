// talven: runs a game. See `talven --help`.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/process.h"
#include "shell/application.h"

namespace {

constexpr const char* kUsage =
    "usage: talven [options] [GAME]\n"
    "\n"
    "Runs the game in GAME: a game folder (the game's name is the folder's name), or the game's\n"
    ".exe or .cfg file (its folder and base name are used). Without GAME the bundled demo runs.\n"
    "\n"
    "options:\n"
    "  --headless             no window and no audio device; boxes go to stderr and get their\n"
    "                         default answer; the run ends when no script thread is left\n"
    "  --log FILE             append every debug-output line to FILE (- for stdout)\n"
    "  --screenshot FILE      write the picture shown at exit as a PNG\n"
    "  --exit-after MS        close after MS milliseconds of run time\n"
    "  --input FILE           feed the timed input events of FILE to the game, as if typed\n"
    "                         and clicked (the format is in the manual: Testing a game)\n"
    "  --input-record FILE    write the session's input to FILE in the same format\n"
    "  --audio-out FILE       write everything the game's sound plays to FILE (WAV)\n"
    "  --listing              write the compile listing of every compiled source (NAME.txt)\n"
    "  --set Section.Key=V    override a configuration key after the files were read (repeatable)\n"
    "  --version              print the version and exit\n"
    "  --help                 print this text and exit\n"
    "\n"
    "exit status: 0 after a normal close or exit, 1 when no script could be started,\n"
    "2 when scripts were stopped by a runtime error.\n";

int usage_error(const char* message, std::string_view arg) {
  std::fprintf(stderr, "talven: %s: %.*s\n%s", message, static_cast<int>(arg.size()), arg.data(),
               "Try 'talven --help'.\n");
  return 64;
}

// The bundled demo: beside the executable's folder in a source or install tree.
std::string bundled_demo() {
  std::string exe = talven::platform::executable_path();
  std::string dir = exe.substr(0, exe.rfind('/'));
  for (const char* candidate : {"/../games/demo", "/../share/talven/games/demo", "/games/demo"}) {
    std::string path = dir + candidate;
    if (talven::platform::is_directory(path)) return path;
  }
  return TALVEN_SOURCE_GAMES "/demo";
}

}  // namespace

int main(int argc, char** argv) {
  talven::shell::RunOptions options;
  bool have_game = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--version") {
      std::puts("talven " TALVEN_VERSION);
      return 0;
    } else if (arg == "--headless") {
      options.headless = true;
    } else if (arg == "--listing") {
      options.listing = true;
    } else if (arg == "--log") {
      if (!value(options.log_file)) return usage_error("missing file after", arg);
    } else if (arg == "--screenshot") {
      if (!value(options.screenshot)) return usage_error("missing file after", arg);
      options.screenshot = talven::platform::absolute_path(options.screenshot);
    } else if (arg == "--input") {
      if (!value(options.input_file)) return usage_error("missing file after", arg);
    } else if (arg == "--input-record") {
      if (!value(options.input_record_file)) return usage_error("missing file after", arg);
    } else if (arg == "--audio-out") {
      if (!value(options.audio_out)) return usage_error("missing file after", arg);
      options.audio_out = talven::platform::absolute_path(options.audio_out);
    } else if (arg == "--exit-after") {
      std::string ms;
      char* end = nullptr;
      if (!value(ms)) return usage_error("missing milliseconds after", arg);
      options.exit_after_ms = std::strtoll(ms.c_str(), &end, 10);
      if (ms.empty() || *end != '\0' || options.exit_after_ms < 0) return usage_error("not a number of milliseconds", ms);
    } else if (arg == "--set") {
      std::string setting;
      if (!value(setting)) return usage_error("missing Section.Key=value after", arg);
      std::size_t eq = setting.find('=');
      if (eq == std::string::npos || setting.find('.') > eq) return usage_error("not Section.Key=value", setting);
      options.overrides.emplace_back(setting.substr(0, eq), setting.substr(eq + 1));
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage_error("unknown option", arg);
    } else if (have_game) {
      return usage_error("only one GAME may be given; also got", arg);
    } else {
      options.game = std::string(arg);
      have_game = true;
    }
  }
  if (!have_game) options.game = bundled_demo();
  // Paths given on the command line mean the folder talven was started in.
  if (!options.log_file.empty() && options.log_file != "-")
    options.log_file = talven::platform::absolute_path(options.log_file);
  return talven::shell::run_application(options);
}
