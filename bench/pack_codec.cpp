// Pack codec throughput against ncompress's compress/uncompress (the same LZW family) on one
// deterministic corpus of text-like and binary data. Both sides read and write files in the page
// cache: ours through the engine's own file path (Compress-style writing, OpenExpFile reading),
// ncompress as a process on the same files. Run: bench_pack_codec [google-benchmark flags].
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "archive/fast_file.h"
#include "archive/pack_codec.h"
#include "archive/pack_file.h"
#include "shell/error_reporter.h"
#include "platform/files.h"
#include "shell/configuration.h"

namespace {

namespace fs = std::filesystem;
using namespace talven;

constexpr std::size_t kCorpusSize = 24u << 20;

struct Rng {
  std::uint64_t s = 0x9E3779B97F4A7C15ull;
  std::uint32_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<std::uint32_t>(s >> 11);
  }
};

// 64 KiB blocks of four kinds: prose-like text from a skewed vocabulary, script-like source,
// image-like rows (smooth gradients with a little noise) and structured records; one block in ten
// is incompressible noise.
std::vector<std::uint8_t> make_corpus() {
  Rng rng;
  std::vector<std::string> words;
  const char* syllables[] = {"ka", "to", "ri", "ne", "sa", "mu", "yo", "ha", "ki", "no", "ta", "shi", "e", "o", "n"};
  for (int i = 0; i < 600; ++i) {
    std::string w;
    for (int k = 0, n = 1 + static_cast<int>(rng.next() % 4); k < n; ++k) w += syllables[rng.next() % 15];
    words.push_back(w);
  }
  std::vector<std::uint8_t> out;
  out.reserve(kCorpusSize);
  while (out.size() < kCorpusSize) {
    std::size_t end = out.size() + 65536;
    switch (rng.next() % 10) {
      case 0:
        while (out.size() < end) out.push_back(static_cast<std::uint8_t>(rng.next()));
        break;
      case 1: case 2: case 3: {
        while (out.size() < end) {
          std::uint32_t a = rng.next() % 600, b = rng.next() % 600;
          std::string w = words[a * b / 600] + (rng.next() % 12 == 0 ? ".\n" : " ");
          out.insert(out.end(), w.begin(), w.end());
        }
        break;
      }
      case 4: case 5: {
        while (out.size() < end) {
          std::string line = "    sp_set(" + std::to_string(rng.next() % 64) + ", x + " + std::to_string(rng.next() % 640) +
                             ", y, \"" + words[rng.next() % 40] + ".png\");\n";
          out.insert(out.end(), line.begin(), line.end());
        }
        break;
      }
      case 6: case 7: {
        std::uint32_t base = rng.next();
        for (std::uint32_t x = 0; out.size() < end; ++x) {
          for (int c = 0; c < 3; ++c)
            out.push_back(static_cast<std::uint8_t>(((base >> (8 * c)) & 0xFF) + x / 16 + (rng.next() % 8 == 0)));
          out.push_back(0xFF);
        }
        break;
      }
      default: {
        for (std::uint32_t id = 0; out.size() < end; ++id) {
          std::uint32_t record[4] = {id, id * 3 + 100, rng.next() % 16, 0x00010000};
          const auto* p = reinterpret_cast<const std::uint8_t*>(record);
          out.insert(out.end(), p, p + sizeof record);
        }
      }
    }
  }
  out.resize(kCorpusSize);
  return out;
}

struct Setup {
  fs::path folder;
  std::vector<std::uint8_t> corpus;
  Setup() {
    talven::shell::install_error_reporter();
    archive::set_file_system(3);
    folder = fs::temp_directory_path() / "talven-bench-pack";
    fs::create_directories(folder);
    fs::current_path(folder);
    corpus = make_corpus();
    std::ofstream("corpus.bin", std::ios::binary).write(reinterpret_cast<const char*>(corpus.data()), corpus.size());
  }
  ~Setup() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

std::map<std::string, double> g_seconds;  // best time per run of each measurement
std::map<std::string, std::uintmax_t> g_output_size;

void record(const std::string& name, double seconds, const std::string& output) {
  auto it = g_seconds.find(name);
  if (it == g_seconds.end() || seconds < it->second) g_seconds[name] = seconds;
  g_output_size[name] = fs::file_size(output);
}

template <typename F>
void measure(benchmark::State& state, const std::string& name, const std::string& output, F&& run) {
  setup();
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    if (!run()) {
      state.SkipWithError((name + " failed").c_str());
      return;
    }
    record(name, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), output);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kCorpusSize));
}

bool write_to_file(void* context, const std::uint8_t* bytes, std::size_t count) {
  return static_cast<platform::HostFile*>(context)->write(bytes, count);
}

void BM_TalvenCompress(benchmark::State& state) {
  measure(state, "talven compress", "corpus.acp", [] {
    platform::HostFile file = platform::create_for_writing("corpus.acp");
    archive::BitWriter out(write_to_file, &file);
    const auto& corpus = setup().corpus;
    return out.put(archive::kPackMagic, 32) && out.put(static_cast<std::uint32_t>(corpus.size()), 32) &&
           archive::compress_codes(corpus.data(), corpus.size(), out) == archive::CodecStatus::ok && out.finish();
  });
}

void BM_TalvenDecompress(benchmark::State& state) {
  measure(state, "talven decompress", "corpus.acp", [] {
    archive::ExpFile* file = archive::OpenExpFile("corpus.acp");
    bool ok = file && archive::GetExpFileSize(file) == static_cast<std::int64_t>(kCorpusSize);
    archive::CloseExpFile(file);
    return ok;
  });
}

void BM_NcompressCompress(benchmark::State& state) {
  measure(state, "ncompress compress", "corpus.Z", [] { return std::system("compress -c < corpus.bin > corpus.Z") == 0; });
}

void BM_NcompressUncompress(benchmark::State& state) {
  measure(state, "ncompress uncompress", "corpus.out",
          [] { return std::system("uncompress -c < corpus.Z > corpus.out") == 0; });
}

BENCHMARK(BM_TalvenCompress)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_NcompressCompress)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_TalvenDecompress)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_NcompressUncompress)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void print_summary() {
  auto mbps = [](const std::string& name) { return kCorpusSize / 1e6 / g_seconds.at(name); };
  std::printf("\ncorpus: %zu bytes (text-like, script-like, image-like, records, 10%% noise)\n", kCorpusSize);
  for (const char* name : {"talven compress", "ncompress compress", "talven decompress", "ncompress uncompress"})
    if (g_seconds.count(name)) std::printf("  %-22s %8.1f MB/s (best of runs)\n", name, mbps(name));
  if (g_output_size.count("talven compress") && g_output_size.count("ncompress compress"))
    std::printf("  compressed size: talven %.1f%%, ncompress %.1f%% of the corpus\n",
                100.0 * g_output_size["talven compress"] / kCorpusSize,
                100.0 * g_output_size["ncompress compress"] / kCorpusSize);
  if (g_seconds.count("talven compress") && g_seconds.count("ncompress compress"))
    std::printf("  encoder: talven takes %.2fx the time of compress (target <= 1.5x)\n",
                g_seconds["talven compress"] / g_seconds["ncompress compress"]);
  if (g_seconds.count("talven decompress") && g_seconds.count("ncompress uncompress"))
    std::printf("  decoder: talven takes %.2fx the time of uncompress (target <= 1.0x)\n",
                g_seconds["talven decompress"] / g_seconds["ncompress uncompress"]);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  print_summary();
  return 0;
}
