// veilmora-bench's entry: runs every registered benchmark (each repeated, medians reported)
// and then prints, per group and argument, the ratio of our median to the peer's median.
//
// Naming rule for the groups: "<group>/veilmora" is ours and "<group>/<peer>" the peer,
// with the same arguments; e.g. "fft_2d/veilmora/512" against "fft_2d/fftw/512".
#include <benchmark/benchmark.h>

#include "bench/transform_floor.h"
#include "fft/fft_kernels.h"
#include "render/tile_kernels.h"

#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

struct Median {
  double ms = 0;
  bool seen = false;
};

// The console reporter, which also remembers the median of every benchmark.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& reports) override {
    for (const Run& run : reports) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (!median && !single) continue;
      const std::string& name = run.run_name.function_name;
      const size_t slash = name.rfind('/');
      if (slash == std::string::npos) continue;
      const std::string group = name.substr(0, slash);
      const std::string who = name.substr(slash + 1);
      const double ms = run.GetAdjustedCPUTime() * to_ms(run.time_unit);
      auto& entry = results_[{group, run.run_name.args.size(), run.run_name.args}];
      if (who == "veilmora") {
        entry.first = {ms, true};
      } else {
        entry.second = {ms, true};
        peers_[group] = who;
      }
    }
    ConsoleReporter::ReportRuns(reports);
  }

  void print_ratios() const {
    std::string last_group;
    for (const auto& [key, pair] : results_) {
      const auto& [ours, peer] = pair;
      if (!ours.seen || !peer.seen) continue;
      const auto& [group, width, args] = key;
      if (group != last_group) {
        std::printf("\n%s: median ms, ours / %s\n", group.c_str(), peers_.at(group).c_str());
        last_group = group;
      }
      std::printf("  %-8s veilmora %10.3f   %s %10.3f   ratio %.3f\n", args.c_str(), ours.ms,
                  peers_.at(group).c_str(), peer.ms, ours.ms / peer.ms);
    }
  }

  // For every render of ours: its transform floor, from the fft_2d medians of this run at
  // the tile size (skipped when that group did not run), and the render's time over it.
  void print_floors() const {
    for (const char* group : {"render_float", "render_8bit", "render_unweighted"}) {
      bool header = false;
      for (const auto& [key, pair] : results_) {
        const auto& [name, width, args] = key;
        if (name != group || !pair.first.seen) continue;
        const TransformFloor plan = transform_floor(kRenderWidth, kRenderHeight, std::stod(args));
        const std::string n = std::to_string(plan.n);
        const auto fft = results_.find({"fft_2d", n.size(), n});
        if (fft == results_.end() || !fft->second.first.seen) continue;
        const double floor_ms = plan.pairs * fft->second.first.ms;
        if (!header) {
          std::printf("\n%s: transform floor (fft_2d/veilmora of this run), median ms\n", group);
          header = true;
        }
        std::printf("  %-8s tile %4d  tiles %2d (%2d write)  floor %9.3f   veilmora %9.3f   "
                    "ratio %.3f\n",
                    args.c_str(), plan.n, plan.tiles, plan.tiles_written, floor_ms,
                    pair.first.ms, pair.first.ms / floor_ms);
      }
    }
  }

 private:
  static double to_ms(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond:
        return 1e-6;
      case benchmark::kMicrosecond:
        return 1e-3;
      case benchmark::kMillisecond:
        return 1.0;
      default:
        return 1e3;
    }
  }

  // Keyed by (group, length of the argument text, argument text): numbers sort by value.
  std::map<std::tuple<std::string, size_t, std::string>, std::pair<Median, Median>> results_;
  std::map<std::string, std::string> peers_;
};

}  // namespace

int main(int argc, char** argv) {
  // Repetitions of ours and the peer's are interleaved at random unless asked otherwise, so
  // that a burst of load on the machine does not land on one side only.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  bool given = false;
  for (int i = 1; i < argc; ++i)
    given = given || std::string(argv[i]).rfind("--benchmark_enable_random_interleaving", 0) == 0;
  if (!given) args.push_back(interleave.data());
  argc = static_cast<int>(args.size());
  args.push_back(nullptr);
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  static const char* const fft_names[] = {"portable (SSE2)", "AVX2", "AVX-512"};
  static const char* const tile_names[] = {"portable", "AVX2", "AVX-512"};
  std::printf("paths: fft_2d %s, tile loops %s (VEILMORA_ISA limits them)\n",
              fft_names[static_cast<int>(fft_best_path())],
              tile_names[static_cast<int>(tile_best_path())]);
  std::fflush(stdout);  // before the reporter's own output (and any child process)
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratios();
  reporter.print_floors();
  benchmark::Shutdown();
  return 0;
}
