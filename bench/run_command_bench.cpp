// What run_command costs on top of starting the shell: the pipes, the
// process group, the waiter thread, the channel and the result object,
// measured against a bare posix_spawnp + waitpid of the same `sh -c true`.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/host_tools.h"

extern char** environ;

namespace tarvix {
namespace {

void BM_RunCommandTrue(benchmark::State& state) {
  const Json params{{"command", "true"}};
  for (auto _ : state) {
    ToolResult result = RunCommand(params);
    if (!result) {
      state.SkipWithError(result.error().c_str());
      break;
    }
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_RunCommandTrue)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_DirectSpawnTrue(benchmark::State& state) {
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>("true"),
                  nullptr};
  for (auto _ : state) {
    pid_t pid = -1;
    int status = 0;
    if (posix_spawnp(&pid, "sh", nullptr, nullptr, argv, environ) != 0 ||
        waitpid(pid, &status, 0) != pid) {
      state.SkipWithError("direct spawn failed");
      break;
    }
  }
}
BENCHMARK(BM_DirectSpawnTrue)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Keeps the real time per iteration of every run so that main can print the
// overhead and the ratio after the usual table. With repetitions (best with
// --benchmark_enable_random_interleaving, as the machine is shared) the
// median of the runs is used.
class TimeKeepingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        micros_[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  std::optional<double> MedianMicros(const std::string& name) {
    auto it = micros_.find(name);
    if (it == micros_.end()) return std::nullopt;
    std::vector<double>& times = it->second;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  }

 private:
  std::map<std::string, std::vector<double>> micros_;
};

}  // namespace
}  // namespace tarvix

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);  // as in the daemon
  benchmark::Initialize(&argc, argv);
  tarvix::TimeKeepingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const std::optional<double> tool = reporter.MedianMicros("BM_RunCommandTrue");
  const std::optional<double> direct = reporter.MedianMicros("BM_DirectSpawnTrue");
  if (tool && direct) {
    std::printf("run_command overhead per call: %.3f ms (%.1f us vs %.1f us direct, ratio %.2f)\n",
                (*tool - *direct) / 1000.0, *tool, *direct, *tool / *direct);
  }
  return 0;
}
