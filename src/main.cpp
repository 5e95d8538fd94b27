// talven: runs a game. See `talven --help`.
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "usage: talven [options] [GAME]\n"
    "\n"
    "Runs the game in GAME (a game folder, or the game's .exe or .cfg file).\n"
    "Without GAME the bundled demo game runs.\n"
    "\n"
    "options:\n"
    "  --headless             no window and no audio device; boxes go to stderr\n"
    "  --log FILE             append every debug-output line to FILE (- for stdout)\n"
    "  --screenshot FILE      write the picture shown at exit as a PNG\n"
    "  --exit-after MS        close after MS milliseconds of run time\n"
    "  --listing              write the compile listing of every compiled source\n"
    "  --set Section.Key=V    override a configuration key (repeatable)\n"
    "  --version              print the version and exit\n"
    "  --help                 print this text and exit\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("talven " TALVEN_VERSION);
      return 0;
    }
  }
  // Games need the script runtime (threads, window, call gate), which is not built yet.
  std::fputs("talven: running games is not available yet in this build; "
             "the virtual machine, configuration and tools are.\n", stderr);
  return 1;
}
