// list_processes against the shell pipeline an agent would otherwise run:
// `ps -eo pid,rss,comm --sort=-rss | head -25`, both timed by the wall
// clock in the same run. Prints the ratio (list_processes / ps) at the end;
// below 1 means list_processes is the faster.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <unistd.h>

#include <map>
#include <string>

#include "json/json.h"
#include "tools/host/host_tools.h"

namespace tarvix {
namespace {

void BM_ListProcesses(benchmark::State& state) {
  size_t listed = 0;
  for (auto _ : state) {
    ToolResult result = ListProcesses(Json::object());
    listed = result->at("processes").size();
    benchmark::DoNotOptimize(result);
  }
  state.counters["listed"] = static_cast<double>(listed);
}

void BM_PsPipeline(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    FILE* pipe = popen("ps -eo pid,rss,comm --sort=-rss | head -25", "re");
    if (pipe == nullptr) {
      state.SkipWithError("popen failed");
      break;
    }
    char buffer[4096];
    bytes = 0;
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) bytes += n;
    pclose(pipe);
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

BENCHMARK(BM_ListProcesses)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PsPipeline)->Unit(benchmark::kMillisecond)->UseRealTime();

// Remembers each benchmark's wall time per iteration for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colour only on a terminal, so captured output stays plain.
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // With repetitions the mean stands for the benchmark.
      const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
      if (run.run_type == Run::RT_Iteration || mean) {
        seconds_[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds_;
};

}  // namespace
}  // namespace tarvix

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  tarvix::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const auto list = reporter.seconds_.find("BM_ListProcesses");
  const auto ps = reporter.seconds_.find("BM_PsPipeline");
  if (list != reporter.seconds_.end() && ps != reporter.seconds_.end() && ps->second > 0) {
    printf("list_processes / ps pipeline wall time per call: %.3f\n", list->second / ps->second);
  }
  return 0;
}
