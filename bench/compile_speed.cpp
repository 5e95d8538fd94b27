// Compile speed of the script compiler: source lines per second over both passes (sizing and
// emitting) on a generated C-subset source of more than 50,000 lines.
//
//   bench_compile_speed --source=FILE   also writes the generated source to FILE, so that other
//                                        compilers (tcc -c FILE) can be timed on the same text.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "compiler/compiler.h"
#include "shell/error_reporter.h"
#include "vm/script_memory.h"

namespace {

std::string generated_source(int functions) {
  std::string s = "int table[64];\nstruct pair { int a; int b; };\n";
  char buf[1024];
  for (int f = 0; f < functions; ++f) {
    std::snprintf(buf, sizeof buf,
                  "int f%d(int n, int k)\n{\n  int i, s;\n  struct pair p;\n  s = k;\n"
                  "  for (i = 0; i < n; i++) {\n    s = s + i * %d - (s >> 3);\n    if (s > 100000) s = s %% 977;\n"
                  "    table[i & 63] = s;\n  }\n  p.a = s;\n  p.b = %s;\n  return p.a + p.b;\n}\n",
                  f, f % 17 + 1, f > 0 ? ("f" + std::to_string(f - 1) + "(n - 1, s)").c_str() : "0");
    s += buf;
  }
  s += "int main()\n{\n  return f" + std::to_string(functions - 1) + "(10, 1);\n}\n";
  return s;
}

const std::string& source() {
  static const std::string text = generated_source(3600);
  return text;
}

std::size_t line_count(const std::string& s) {
  std::size_t n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

void BM_CompileBothPasses(benchmark::State& state) {
  talven::shell::install_error_reporter();
  const std::string& text = source();
  talven::compiler::CompileOptions options;
  options.report_errors = false;
  options.reader = [&](const std::string&, std::string& out) {
    out = text;
    return talven::compiler::SourceStatus::ok;
  };
  std::size_t lines = line_count(text);
  for (auto _ : state) {
    talven::compiler::ProgramImage image = talven::compiler::compile_image("main.c", 0, options);
    if (image.base == 0) {
      state.SkipWithError("compile failed");
      break;
    }
    talven::vm::script_free(image.base);
  }
  state.counters["lines"] = static_cast<double>(lines);
  state.counters["lines_per_second"] =
      benchmark::Counter(static_cast<double>(lines) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CompileBothPasses)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--source=", 9) == 0) {
      if (std::FILE* f = std::fopen(argv[i] + 9, "wb")) {
        std::fwrite(source().data(), 1, source().size(), f);
        std::fclose(f);
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
