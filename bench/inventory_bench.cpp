// Listing every VM of a site through the query engine against the in-process simulator over real TLS.
//
// Reported per run: requests sent per list read, wall time (Time), client CPU time (CPU: the
// benchmark thread, which runs the library and libcurl; the simulator's threads are not counted),
// time per VM, and the memory the client allocated through operator new: the peak during the read and
// what the finished list keeps, both per VM. BM_BareListAllVms sends the same requests (as the simulator
// recorded them from the library) to the same simulator from a client on bare libcurl (one reused easy
// handle) and reads each page with boost::json::parse into the same records, the yardstick; the CPU
// ratio of the two is printed after the report.
//
//   inventory_bench --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "FusionComputeErrorState.h"
#include "FusionComputeRecords.h"
#include "SimServer.h"
#include "connection/FusionComputeConnection.h"
#include "parser/FusionComputeParser.h"
#include "queries/FusionComputeQueries.h"

#include "AllocationCounter.h"
#include "BareClient.h"
#include "RatioReporter.h"

// ---- The simulator and a logged-in session -----------------------------------------------------------

namespace {

using namespace FusionComputeSDKWrapper;

/// One simulator per inventory size; only one runs at a time because each points FCSDK_CONFIG at
/// itself. Runs of the same size follow each other, so each size is seeded once.
class Environment {
  public:
    bool Prepare(int vmCount, benchmark::State& state) {
        if (vmCount != vmCount_) {
            queries_.reset();
            connection_.reset();
            server_.reset();
            vmCount_ = vmCount;
            bareRequests_.clear();
            vrmsim::Options options;
            options.recordRequests = true;  // once, to learn the library's requests for the bare client
            options.inventory.vms = vmCount;
            options.inventory.templates = 0;
            server_ = std::make_unique<fcsdk_test::SimServer>(options);
            if (!server_->ok()) return Fail(state, "simulator: " + server_->error());
            connection_ = std::make_unique<CFusionComputeConnection>();
            std::string versions;
            if (!connection_->connect(server_->host(), server_->user(), server_->password(), versions) ||
                !connection_->login(server_->user(), server_->password(), "v6.3", "")) {
                return Fail(state, "could not log in to the simulator");
            }
            queries_ = std::make_unique<CFusionComputeQueries>(connection_.get(), &parser_, &errorState_);
            site_.urn = server_->siteUrn();
            site_.uri = server_->siteUri();
            bare_ = std::make_unique<fcsdk_bench::BareClient>(
                "https://" + server_->host() + ":7443",
                server_->host() + ":7443:127.0.0.1:" + std::to_string(server_->port()), server_->caFile());
        }
        return server_ && server_->ok() && queries_;
    }

    /// The requests of one list read at `flags`, as the library sends them (read once per size).
    const std::vector<fcsdk_bench::BareRequest>& RequestsOfList(UINT64 flags) {
        std::vector<fcsdk_bench::BareRequest>& requests = bareRequests_[flags];
        if (requests.empty()) {
            server_->ClearRequests();
            std::vector<SVMInfoLib> vms;
            if (queries_->GetVMInfoList(site_, vms, flags)) {
                requests = fcsdk_bench::BareRequestsOf(server_->Requests());
            }
            server_->ClearRequests();
        }
        return requests;
    }

    fcsdk_bench::BareClient& bare() { return *bare_; }
    CFusionComputeQueries& queries() { return *queries_; }
    const SSiteInfoLib& site() const { return site_; }
    std::uint64_t requests() const { return server_->Stats().requests; }
    std::string lastError() const { return errorState_.message; }

  private:
    bool Fail(benchmark::State& state, const std::string& why) {
        state.SkipWithError(why.c_str());
        queries_.reset();
        return false;
    }

    int vmCount_ = -1;
    std::unique_ptr<fcsdk_test::SimServer> server_;
    std::unique_ptr<CFusionComputeConnection> connection_;
    CFusionComputeParser parser_;
    CFusionComputeErrorState errorState_;
    std::unique_ptr<CFusionComputeQueries> queries_;
    SSiteInfoLib site_;
    std::unique_ptr<fcsdk_bench::BareClient> bare_;
    std::map<UINT64, std::vector<fcsdk_bench::BareRequest>> bareRequests_;
};

Environment& Env() {
    static Environment* environment = new Environment();  // outlives the runs; freed with the process
    return *environment;
}

UINT64 FlagsForDetail(int detail) {
    return detail == 0 ? MIN_VM_PROPS : VM_PROP_VM_DISK_LIST;
}

// The counters of a list read: requests per read, time and bytes per VM (at the peak and kept).
void SetListCounters(benchmark::State& state, int vmCount, std::uint64_t requests, std::int64_t peakBytes,
                     std::int64_t keptBytes) {
    const double iterations = static_cast<double>(state.iterations());
    if (iterations == 0) return;
    state.counters["requests"] = static_cast<double>(requests) / iterations;
    state.counters["vms"] = vmCount;
    state.counters["time_per_vm"] = benchmark::Counter(
        static_cast<double>(vmCount) * iterations, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["peak_B_per_vm"] = static_cast<double>(peakBytes) / vmCount;
    state.counters["kept_B_per_vm"] = static_cast<double>(keptBytes) / vmCount;
}

// Arguments: number of VMs, VRM detail level (0 or 2).
void BM_ListAllVms(benchmark::State& state) {
    const int vmCount = static_cast<int>(state.range(0));
    const UINT64 flags = FlagsForDetail(static_cast<int>(state.range(1)));
    Environment& env = Env();
    if (!env.Prepare(vmCount, state)) return;

    std::int64_t peakBytes = 0;
    std::int64_t keptBytes = 0;
    const std::uint64_t requestsBefore = env.requests();
    for (auto _ : state) {
        fcsdk_bench::StartCountingAllocations();
        {
            std::vector<SVMInfoLib> vms;
            const bool ok = env.queries().GetVMInfoList(env.site(), vms, flags);
            keptBytes = fcsdk_bench::HeldBytes();
            if (!ok || static_cast<int>(vms.size()) != vmCount) {
                fcsdk_bench::StopCountingAllocations();
                state.SkipWithError(("list read failed: " + env.lastError()).c_str());
                break;
            }
            benchmark::DoNotOptimize(vms.data());
        }
        fcsdk_bench::StopCountingAllocations();
        peakBytes = fcsdk_bench::PeakHeldBytes();
    }
    SetListCounters(state, vmCount, env.requests() - requestsBefore, peakBytes, keptBytes);
}

// The yardstick: the same requests from bare libcurl, each page read with boost::json::parse into the
// same records.
void BM_BareListAllVms(benchmark::State& state) {
    const int vmCount = static_cast<int>(state.range(0));
    const UINT64 flags = FlagsForDetail(static_cast<int>(state.range(1)));
    Environment& env = Env();
    if (!env.Prepare(vmCount, state)) return;
    const std::vector<fcsdk_bench::BareRequest>& requests = env.RequestsOfList(flags);
    if (requests.empty()) {
        state.SkipWithError(("no list read to replay: " + env.lastError()).c_str());
        return;
    }

    std::int64_t peakBytes = 0;
    std::int64_t keptBytes = 0;
    const std::uint64_t requestsBefore = env.requests();
    for (auto _ : state) {
        fcsdk_bench::StartCountingAllocations();
        {
            std::vector<SVMInfoLib> vms;
            std::string body;
            unsigned int total = 0;
            bool ok = true;
            for (const fcsdk_bench::BareRequest& request : requests) {
                ok = ok && env.bare().Send(request, body) && fcsdk_bench::BareVmPage(body, vms, total);
            }
            body = std::string();
            keptBytes = fcsdk_bench::HeldBytes();
            if (!ok || static_cast<int>(vms.size()) != vmCount) {
                fcsdk_bench::StopCountingAllocations();
                state.SkipWithError("bare list read failed");
                break;
            }
            benchmark::DoNotOptimize(vms.data());
        }
        fcsdk_bench::StopCountingAllocations();
        peakBytes = fcsdk_bench::PeakHeldBytes();
    }
    SetListCounters(state, vmCount, env.requests() - requestsBefore, peakBytes, keptBytes);
}

// The growth at detail 0 and detail 2 over 1,000 to 20,000 VMs; at 10,000 VMs the yardstick runs right
// after the library, against the same simulator.
BENCHMARK(BM_ListAllVms)
    ->ArgNames({"vms", "detail"})
    ->Args({1000, 0})
    ->Args({1000, 2})
    ->Args({5000, 0})
    ->Args({5000, 2})
    ->Args({10000, 0})
    ->Args({10000, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_BareListAllVms)
    ->ArgNames({"vms", "detail"})
    ->Args({10000, 0})
    ->Args({10000, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_ListAllVms)
    ->ArgNames({"vms", "detail"})
    ->Args({20000, 0})
    ->Args({20000, 2})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    return fcsdk_bench::RunWithRatios(argc, argv);
}
