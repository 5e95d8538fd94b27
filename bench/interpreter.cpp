// Interpreter throughput against the same work done by native code.
//
// The loop mixes what compiled scripts spend their time on: frame and absolute loads and stores,
// integer arithmetic, a compare with a rarely taken branch, and the loop branch.
#include <benchmark/benchmark.h>

#include <ctime>
#include <cstdio>

#include "support/assembler.h"
#include "vm/interpreter.h"
#include "vm/program.h"

namespace {

using talven::test::Assembler;
using namespace talven::vm;

constexpr std::uint32_t kIterations = 1u << 16;
// Thirteen instructions per turn, one more every eighth turn, six to set up and one to end.
constexpr std::uint64_t kInstructionsPerRun = 13ull * kIterations + kIterations / 8 + 7;

// What the loop leaves in its global word.
std::uint32_t expected_global() {
  std::uint32_t local = 0, global = 0;
  for (std::uint32_t i = 0; i < kIterations; ++i) {
    std::uint32_t r2 = local + i;
    global ^= r2;
    if ((i & 7) == 3) r2 += global;
    local = r2;
  }
  return global;
}

double cpu_seconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

double g_interpreter_rate = 0;
double g_native_rate = 0;

Assembler loop_program(Address global) {
  Assembler a;
  a.enter(16)
      .movl_imm(1, 0)
      .movl_imm(5, 7)
      .movl_imm(2, 0)
      .store_frame(op_store_l_f, -24, 2)
      .store_sym(op_store_l_s, global, 2)
      .label("loop")
      .load_frame(op_load_l_f, 2, -24)
      .alu(op_add_rr, 2, 1)
      .load_sym(op_load_l_s, 3, global)
      .alu(op_xor, 3, 2)
      .store_sym(op_store_l_s, global, 3)
      .movl(4, 1)
      .alu(op_and, 4, 5)
      .cmp_imm(4, 3)
      .jump(op_jne, "skip")
      .alu(op_add_rr, 2, 3)
      .label("skip")
      .store_frame(op_store_l_f, -24, 2)
      .add_imm(1, 1)
      .cmp_imm(1, kIterations)
      .jump(op_jl, "loop")
      .leave(16);
  return a;
}

void BM_Interpreter(benchmark::State& state) {
  ScriptContext* context = create_context(4096, 4096);
  if (context == nullptr) {
    state.SkipWithError("no script memory");
    return;
  }
  const Address global = context->image_base + 2048;
  loop_program(global).load(*context);
  const ScriptContext initial = *context;
  std::uint64_t instructions = 0;
  const double start = cpu_seconds();
  for (auto _ : state) {
    *context = initial;
    while (context->state == kRunning) run_slice(*context);
    instructions += kInstructionsPerRun;
  }
  const double seconds = cpu_seconds() - start;
  std::uint32_t checksum = 0;
  load(global, checksum);
  benchmark::DoNotOptimize(checksum);
  if (context->state != kEnded) state.SkipWithError("the program did not end normally");
  if (checksum != expected_global()) state.SkipWithError("the program computed a different result");
  g_interpreter_rate = instructions / seconds;
  state.counters["instructions/s"] = benchmark::Counter(double(instructions), benchmark::Counter::kIsRate);
  free_context(context);
}
BENCHMARK(BM_Interpreter)->Unit(benchmark::kMillisecond);

// The same loop in C++; volatile keeps every load and store a real memory access, as in the VM.
void BM_Native(benchmark::State& state) {
  volatile std::uint32_t local = 0;
  volatile std::uint32_t global = 0;
  std::uint64_t instructions = 0;
  const double start = cpu_seconds();
  for (auto _ : state) {
    local = 0;
    global = 0;
    for (std::uint32_t i = 0; i < kIterations; ++i) {
      std::uint32_t r2 = local + i;
      std::uint32_t r3 = global ^ r2;
      global = r3;
      if ((i & 7) == 3) r2 += r3;
      local = r2;
    }
    benchmark::DoNotOptimize(global);
    instructions += kInstructionsPerRun;
  }
  const double seconds = cpu_seconds() - start;
  g_native_rate = instructions / seconds;
  state.counters["instructions/s"] = benchmark::Counter(double(instructions), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Native)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_interpreter_rate > 0 && g_native_rate > 0) {
    std::printf("interpreter: %.1f M script instructions/s\n", g_interpreter_rate / 1e6);
    std::printf("native:      %.1f M equivalent instructions/s\n", g_native_rate / 1e6);
    std::printf("native / interpreter: %.1fx\n", g_native_rate / g_interpreter_rate);
  }
  return 0;
}
