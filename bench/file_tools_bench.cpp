// Costs of the file tools and of the UTF-8 pass every file and name takes.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/utf8.h"
#include "tools/host/host_tools.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A directory removed when the benchmark ends.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "tarvix-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// 1 MiB of valid text: plain ASCII (arg 0) or prose with accented letters
// and CJK mixed in (arg 1).
std::string Text(int64_t kind) {
  const std::string unit = kind == 0 ? std::string("The quick brown fox jumps over the dog. ")
                                     : std::string(
                                           "Gr\xC3\xBC\xC3\x9F"
                                           "e, \xE4\xB8\x96\xE7\x95\x8C! caf\xC3\xA9 ");
  std::string text;
  while (text.size() + unit.size() <= (1 << 20)) text += unit;
  text.append((1 << 20) - text.size(), 'x');
  return text;
}

void BM_ReadFile64KiB(benchmark::State& state) {
  ScratchDir dir;
  const std::string path = dir.path() + "/data.txt";
  std::ofstream(path, std::ios::binary) << Text(1).substr(0, 64 * 1024);
  const Json params{{"path", path}};
  for (auto _ : state) {
    ToolResult result = ReadFile(params);
    if (!result) state.SkipWithError(result.error().c_str());
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(state.iterations() * 64 * 1024);
}
BENCHMARK(BM_ReadFile64KiB);

void BM_ListDir1000(benchmark::State& state) {
  ScratchDir dir;
  for (int i = 0; i < 1000; ++i) std::ofstream(dir.path() + "/entry-" + std::to_string(i)) << i;
  const Json params{{"path", dir.path()}};
  for (auto _ : state) {
    ToolResult result = ListDir(params);
    if (!result || (*result)["entries"].size() != 1000) state.SkipWithError("listing failed");
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ListDir1000)->Unit(benchmark::kMicrosecond);

// LossyUtf8 of valid text against the cheapest way to produce the same
// string (allocate and memcpy); "ratio" is how many times slower it is.
void BM_LossyUtf8VsCopy(benchmark::State& state) {
  const std::string text = Text(state.range(0));
  std::chrono::nanoseconds lossy{0}, copy{0};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    std::string decoded = LossyUtf8(std::string_view(text));
    benchmark::DoNotOptimize(decoded.data());
    const auto t1 = Clock::now();
    std::string copied(text.size(), '\0');
    std::memcpy(copied.data(), text.data(), text.size());
    benchmark::DoNotOptimize(copied.data());
    const auto t2 = Clock::now();
    lossy += t1 - t0;
    copy += t2 - t1;
  }
  const double bytes = static_cast<double>(text.size()) * static_cast<double>(state.iterations());
  state.counters["lossy_GBps"] = bytes / static_cast<double>(lossy.count());
  state.counters["copy_GBps"] = bytes / static_cast<double>(copy.count());
  state.counters["ratio"] = static_cast<double>(lossy.count()) / static_cast<double>(copy.count());
}
BENCHMARK(BM_LossyUtf8VsCopy)->Arg(0)->Arg(1)->ArgNames({"mixed"});

void BM_IsValidUtf8(benchmark::State& state) {
  const std::string text = Text(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(IsValidUtf8(text));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_IsValidUtf8)->Arg(0)->Arg(1)->ArgNames({"mixed"});

}  // namespace
}  // namespace tarvix

BENCHMARK_MAIN();
