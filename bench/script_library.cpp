// Library built-ins called from a script loop, against the same loop in Lua 5.4.
//
// Each side runs as its own process: the real talven executable (headless) on a generated game,
// and lua5.4 on a generated script. A run of N turns minus a run of 0 turns leaves the processor
// time of the loop itself, so start-up and compilation do not count. Per-call times and the ratios
// talven / Lua are printed at the end.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Operation {
  const char* name;
  const char* script_setup;  // inside main(), before the loop
  const char* script_body;   // one turn; `i` is the loop counter
  const char* lua_setup;
  const char* lua_body;
};

// memset and string.rep make 1000 bytes of one value; memcpy and table.move copy 1000 elements;
// strlen and # measure 1000 bytes; sprintf and string.format format three values.
const Operation kOperations[] = {
    {"memset", "", "memset(a, 65, 1000);", "", "a = string.rep('A', 1000)"},
    {"memcpy", "memset(a, 65, 1000);", "memcpy(b, a, 1000);",
     "local ta, tb = {}, {} for k = 1, 1000 do ta[k] = k end", "table.move(ta, 1, 1000, 1, tb)"},
    {"strlen", "memset(a, 65, 1000); a[1000] = 0;", "n = n + strlen(a);", "local s = string.rep('A', 1000)", "n = n + #s"},
    {"sprintf", "", "sprintf(b, \"%d:%s:%x\", i, \"abc\", i);", "", "b = string.format('%d:%s:%x', i, 'abc', i)"},
};

constexpr int kTurns = 200000;

fs::path build_dir() { return fs::canonical("/proc/self/exe").parent_path().parent_path(); }

// The source folder, as the build recorded it.
fs::path source_dir() {
  std::ifstream cache(build_dir() / "CMakeCache.txt");
  std::string line;
  const std::string key = "Talven_SOURCE_DIR:STATIC=";
  while (std::getline(cache, line))
    if (line.rfind(key, 0) == 0) return line.substr(key.size());
  return {};
}

// Processor time (user and system) of the command's processes. Wall time would mostly measure the
// other processes of a busy machine: a built-in with yield flag 1 hands the processor away after
// every call.
double child_cpu_seconds() {
  struct rusage usage {};
  getrusage(RUSAGE_CHILDREN, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double run_seconds(const std::string& command) {
  double start = child_cpu_seconds();
  int status = std::system(command.c_str());
  if (status != 0) return -1;
  return child_cpu_seconds() - start;
}

fs::path work_dir() {
  static const fs::path dir = fs::temp_directory_path() / ("talven-bench-library-" + std::to_string(::getpid()));
  return dir;
}

double talven_seconds(const Operation& op, int turns) {
  const fs::path game = work_dir() / "talven";
  fs::create_directories(game / "game");
  fs::copy_file(source_dir() / "sdk/include/talven.h", game / "game/talven.h", fs::copy_options::overwrite_existing);
  std::ofstream(game / "game.cfg") << "[General]\nFileSystem=3\nError=1\n";
  std::ofstream(game / "game/main.c") << "#include \"talven.h\"\nchar a[1024];\nchar b[1024];\nint main()\n{\n  int i, n;\n  n = 0;\n  "
                                      << op.script_setup << "\n  for (i = 0; i < " << turns << "; i++) {\n    " << op.script_body
                                      << "\n  }\n  exit();\n  return n;\n}\n";
  return run_seconds("cd '" + game.string() + "' && '" + (build_dir() / "talven").string() +
                     "' --headless game.cfg >/dev/null 2>&1");
}

double lua_seconds(const Operation& op, int turns) {
  const fs::path script = work_dir() / "loop.lua";
  fs::create_directories(work_dir());
  std::ofstream(script) << "local a, b, n = nil, nil, 0\n" << op.lua_setup << "\nfor i = 1, " << turns << " do\n  " << op.lua_body
                        << "\nend\n";
  return run_seconds("lua5.4 '" + script.string() + "' >/dev/null 2>&1");
}

std::map<std::string, double> g_talven_ns, g_lua_ns;

// Nanoseconds per turn: a run of kTurns minus an empty run, best of the benchmark's repetitions.
void measure(benchmark::State& state, const Operation& op, bool lua, std::map<std::string, double>& results) {
  double best = 0;
  for (auto _ : state) {
    double full = lua ? lua_seconds(op, kTurns) : talven_seconds(op, kTurns);
    double empty = lua ? lua_seconds(op, 0) : talven_seconds(op, 0);
    if (full < 0 || empty < 0) {
      state.SkipWithError(lua ? "lua5.4 did not run (is it installed? scripts/install-deps)" : "talven did not run");
      return;
    }
    double ns = (full - empty) * 1e9 / kTurns;
    state.SetIterationTime(full - empty);
    if (best == 0 || ns < best) best = ns;
  }
  results[op.name] = best;
  state.counters["ns/call"] = best;
}

void register_all() {
  for (const Operation& op : kOperations) {
    benchmark::RegisterBenchmark((std::string("talven/") + op.name).c_str(),
                                 [&op](benchmark::State& s) { measure(s, op, false, g_talven_ns); })
        ->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("lua/") + op.name).c_str(),
                                 [&op](benchmark::State& s) { measure(s, op, true, g_lua_ns); })
        ->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(work_dir());
  std::printf("\n%-8s %14s %14s %16s\n", "call", "talven ns/call", "lua ns/call", "talven / lua");
  for (const Operation& op : kOperations) {
    auto t = g_talven_ns.find(op.name), l = g_lua_ns.find(op.name);
    if (t == g_talven_ns.end() || l == g_lua_ns.end()) continue;
    if (l->second <= 0) {
      std::printf("%-8s %14.1f %14s %16s\n", op.name, t->second, "below noise", "-");
      continue;
    }
    std::printf("%-8s %14.1f %14.1f %15.2fx\n", op.name, t->second, l->second, t->second / l->second);
  }
  return 0;
}
