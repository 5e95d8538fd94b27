// CPU time of one script program's `work()`, measured on the interpreting thread alone.
//
//   bench_script_cpu FILE.c [RUNS]
//
// FILE.c is one of the programs of bench/scripts (plain C subset, no built-ins). It is compiled
// with a `main` that returns work(), run to its end in slices the way a script thread runs them,
// and timed with the thread's CPU clock, so that other processes on a busy machine change the
// result far less than they change wall time. Prints work()'s result and the best of RUNS times
// in milliseconds.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "compiler/compiler.h"
#include "vm/interpreter.h"
#include "vm/program.h"

namespace {

using namespace talven;

double thread_cpu_ms() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.c [RUNS]\n", argv[0]);
    return 2;
  }
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 2;
  }
  std::stringstream text;
  text << in.rdbuf();
  const std::string source = text.str() + "\nint main() { return work(); }\n";

  constexpr std::uint32_t kImageSize = 4u << 20, kStackSize = 256u << 10;
  double best = -1;
  std::uint32_t result = 0;
  for (int run = 0; run < runs; ++run) {
    vm::ScriptContext* context = vm::create_context(kImageSize, kStackSize);
    if (context == nullptr) {
      std::fprintf(stderr, "%s: no script memory\n", argv[0]);
      return 1;
    }
    compiler::CompileOptions options;
    options.image_base = context->image_base;
    options.capacity = kImageSize;
    options.reader = [&source](const std::string&, std::string& out) {
      out = source;
      return compiler::SourceStatus::ok;
    };
    const compiler::CompileResult compiled = compiler::compile("main.c", options);
    if (!compiled.ok) {
      std::fprintf(stderr, "%s: %s does not compile\n", argv[0], argv[1]);
      return 1;
    }
    vm::note_code_write(context->image_base, kImageSize);
    vm::SliceRun slices;
    slices.slices = 1 << 20;
    slices.go_on = [](const void*) { return true; };
    const double start = thread_cpu_ms();
    while (context->state == vm::kRunning && vm::g_stop_flag.load() == 0) vm::run_slice(*context, slices);
    const double spent = thread_cpu_ms() - start;
    if (context->state != vm::kEnded) {
      std::fprintf(stderr, "%s: %s stopped with an error\n", argv[0], argv[1]);
      return 1;
    }
    result = context->r[0];
    if (best < 0 || spent < best) best = spent;
    vm::free_context(context);
  }
  std::printf("%d %.1f\n", static_cast<std::int32_t>(result), best);
  return 0;
}
