#ifndef FCSDK_BENCH_RATIOREPORTER_H
#define FCSDK_BENCH_RATIOREPORTER_H

// The console report, followed by the CPU-time ratio of every library benchmark over its bare
// yardstick: "BM_<Name>/<args>" against "BM_Bare<Name>/<args>" of the same run. With repetitions the
// median stands for a benchmark, else its (last) run.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fcsdk_bench {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.function_name + Args(run);
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                cpuNs_[name] = run.GetAdjustedCPUTime() * Scale(run);
                wallNs_[name] = run.GetAdjustedRealTime() * Scale(run);
                medians_.insert(name);
            } else if (run.run_type == Run::RT_Iteration && medians_.count(name) == 0) {
                cpuNs_[name] = run.GetAdjustedCPUTime() * Scale(run);
                wallNs_[name] = run.GetAdjustedRealTime() * Scale(run);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const auto& [name, bareNs] : cpuNs_) {
            if (name.rfind("BM_Bare", 0) != 0) continue;
            const std::string library = "BM_" + name.substr(7);
            const auto found = cpuNs_.find(library);
            if (found == cpuNs_.end() || bareNs <= 0) continue;
            std::printf(
                "%s: CPU library %.3f ms, bare %.3f ms, ratio %.2f; wall library %.3f ms, bare %.3f ms, "
                "ratio %.2f\n",
                library.c_str(), found->second / 1e6, bareNs / 1e6, found->second / bareNs,
                wallNs_[library] / 1e6, wallNs_[name] / 1e6, wallNs_[library] / wallNs_[name]);
        }
    }

  protected:
    /// CPU nanoseconds per iteration of each benchmark (name with its arguments).
    std::map<std::string, double> cpuNs_;
    std::map<std::string, double> wallNs_;

  private:
    // The run name without the function name and the repetition/aggregate suffixes.
    static std::string Args(const Run& run) {
        return run.run_name.args.empty() ? "" : "/" + run.run_name.args;
    }
    // GetAdjusted* report in the benchmark's time unit; this turns them into nanoseconds.
    static double Scale(const Run& run) { return 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit); }
    std::set<std::string> medians_;
};

/// The whole main() of a benchmark program that needs no set-up: runs the benchmarks the command line
/// selects and reports them with their ratios.
inline int RunWithRatios(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace fcsdk_bench

#endif  // FCSDK_BENCH_RATIOREPORTER_H
