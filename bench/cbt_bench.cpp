// Changed-block queries of large disks through the facade against the in-process simulator over real
// TLS: CFusionComputeWrapper::QueryDiskAllocatedBlocks and QueryDiskChangedBlocks on disks of 500,
// 1,000 and 2,000 GB in blocks of 64 KB (128 sectors), that is 820, 1,639 and 3,277 pages of 10,000
// blocks.
//
// Reported per query: requests (pages), wall time (Time), client CPU time (CPU: the benchmark thread,
// which runs the library and libcurl; the simulator's threads are not counted), wall and client CPU per
// page, the TLS connections the simulator accepted, and the peak of the memory the client thread held
// through operator new during the query. BM_BareQueryDiskBlocks sends the same requests (as the
// simulator recorded them from the library) from a client on bare libcurl (one reused easy handle),
// reads every answer with boost::json::parse and joins the pages' bitmaps, the yardstick; the ratios of
// the two are printed after the report.
//
//   cbt_bench --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "Actions.h"
#include "FakeClock.h"
#include "FusionComputeWrapper.h"
#include "Model.h"
#include "SimServer.h"

#include "AllocationCounter.h"
#include "BareClient.h"
#include "RatioReporter.h"

// ---- The simulator, a connected wrapper and one prepared disk per size --------------------------------

namespace {

using namespace FusionComputeSDKWrapper;

constexpr std::uint64_t kBlocksPerGB = 16384;  // 64 KB blocks

/// A disk of the simulator shaped to `gb`: a quarter of it allocated before tracking began, a
/// snapshot, then 1% of its blocks written in 4,096 runs spread over the whole disk, then a second
/// snapshot. The change token names the first snapshot.
struct Disk {
    std::string volumeUrn;
    std::string snapshotUrn;
    std::string changeToken;
    std::uint64_t blocks = 0;
};

class Environment {
  public:
    bool Prepare(int gb, benchmark::State& state) {
        if (!server_ && !Start(state)) return false;
        if (disks_.count(gb)) return true;
        static const char* kVms[] = {"vm-0004", "vm-0005", "vm-0007", "vm-0008", "vm-0010"};
        if (disks_.size() >= sizeof kVms / sizeof kVms[0]) return Fail(state, "no VM left for another size");
        return PrepareDisk(gb, kVms[disks_.size()], state);
    }

    CFusionComputeWrapper& wrapper() { return *wrapper_; }
    const Disk& disk(int gb) const { return disks_.at(gb); }
    std::uint64_t requests() const { return server_->Stats().requests; }
    std::uint64_t tlsConnections() const { return server_->Stats().tlsConnections; }
    vrmsim::Model& model() { return server_->sim().model(); }
    fcsdk_bench::BareClient& bare() { return *bare_; }

    /// The requests of one query, as the library sends them (learnt once per disk and kind).
    const std::vector<fcsdk_bench::BareRequest>& RequestsOfQuery(int gb, bool changed) {
        std::vector<fcsdk_bench::BareRequest>& requests = bareRequests_[{gb, changed}];
        if (requests.empty()) {
            const Disk& disk = disks_.at(gb);
            std::string bitmap;
            int sectorOfBlock = 0;
            server_->ClearRequests();
            const bool ok = changed
                                ? wrapper_->QueryDiskChangedBlocks(disk.volumeUrn, disk.snapshotUrn,
                                                                   disk.changeToken, bitmap, sectorOfBlock)
                                : wrapper_->QueryDiskAllocatedBlocks(disk.volumeUrn, disk.snapshotUrn, bitmap,
                                                                     sectorOfBlock);
            if (ok) requests = fcsdk_bench::BareRequestsOf(server_->Requests());
            server_->ClearRequests();
        }
        return requests;
    }

  private:
    bool Fail(benchmark::State& state, const std::string& why) {
        state.SkipWithError(why.c_str());
        return false;
    }

    bool Start(benchmark::State& state) {
        vrmsim::Options options;
        options.recordRequests = true;  // to learn the library's requests for the bare client
        server_ = std::make_unique<fcsdk_test::SimServer>(options);
        if (!server_->ok()) return Fail(state, "simulator: " + server_->error());
        bare_ = std::make_unique<fcsdk_bench::BareClient>(
            "https://" + server_->host() + ":7443",
            server_->host() + ":7443:127.0.0.1:" + std::to_string(server_->port()), server_->caFile());
        wrapper_ = std::make_unique<CFusionComputeWrapper>();
        if (!wrapper_->Connect(server_->host(), server_->user(), server_->password()))
            return Fail(state, "connect: " + wrapper_->GetLastError());
        return true;
    }

    bool PrepareDisk(int gb, const char* vmName, benchmark::State& state) {
        Disk disk;
        disk.blocks = static_cast<std::uint64_t>(gb) * kBlocksPerGB;
        SVMInfoLib vm;
        if (!wrapper_->GetVMInfo(vmName, "", "", vm, VM_PROP_VM_DISK_LIST) || vm.disks.empty())
            return Fail(state, "no disk of " + std::string(vmName));
        disk.volumeUrn = vm.disks.front().urn;
        vrmsim::Model& model = server_->sim().model();
        {
            std::lock_guard<std::mutex> lock(model.Mutex());
            vrmsim::Volume* volume = model.FindVolume(disk.volumeUrn);
            volume->quantityGB = gb;
            volume->userUsedSizeMB = static_cast<std::int64_t>(gb) * 1024 / 4;
        }
        SSnapshotInfoLib first, second;
        if (!wrapper_->CreateVMSnapshot(vm, "bench-full", "", false, true, true, true, first) ||
            !wrapper_->GetDiskChangeToken(disk.volumeUrn, first.urn, disk.changeToken)) {
            return Fail(state, "first snapshot: " + wrapper_->GetLastError());
        }
        {
            std::lock_guard<std::mutex> lock(model.Mutex());
            vrmsim::Volume* volume = model.FindVolume(disk.volumeUrn);
            vrmsim::VolumeCbt& history = vrmsim::CbtOf(model, *volume);
            const std::uint64_t runs = 4096;
            const std::uint64_t length = disk.blocks / 100 / runs;
            for (std::uint64_t i = 0; i < runs; ++i) history.open.Add(i * (disk.blocks / runs), length);
        }
        if (!wrapper_->CreateVMSnapshot(vm, "bench-incr", "", false, true, true, true, second))
            return Fail(state, "second snapshot: " + wrapper_->GetLastError());
        disk.snapshotUrn = second.urn;
        disks_[gb] = disk;
        return true;
    }

    fcsdk_test::FakeClock clock_;  // task polls of the preparation pass at once
    std::unique_ptr<fcsdk_test::SimServer> server_;
    std::unique_ptr<CFusionComputeWrapper> wrapper_;
    std::map<int, Disk> disks_;
    std::unique_ptr<fcsdk_bench::BareClient> bare_;
    std::map<std::pair<int, bool>, std::vector<fcsdk_bench::BareRequest>> bareRequests_;
};

Environment& Env() {
    static Environment* environment = new Environment();  // outlives the runs; freed with the process
    return *environment;
}

// The counters every query benchmark reports: its disk, pages, requests and TLS connections per query,
// peak memory and bitmap size.
void SetQueryCounters(benchmark::State& state, int gb, std::uint64_t pages, std::uint64_t requests,
                      std::uint64_t connections, std::int64_t peakBytes, std::size_t bitmapSize) {
    const double iterations = static_cast<double>(state.iterations());
    if (iterations == 0) return;
    state.counters["GB"] = gb;
    state.counters["pages"] = static_cast<double>(pages);
    state.counters["requests"] = static_cast<double>(requests) / iterations;
    state.counters["tls"] = static_cast<double>(connections) / iterations;
    state.counters["peak_MB"] = static_cast<double>(peakBytes) / (1024.0 * 1024.0);
    state.counters["bitmap_MB"] = static_cast<double>(bitmapSize) / (1024.0 * 1024.0);
}

// Arguments: disk size in GB, 0 for the allocated blocks or 1 for the changed blocks.
void BM_QueryDiskBlocks(benchmark::State& state) {
    const int gb = static_cast<int>(state.range(0));
    const bool changed = state.range(1) == 1;
    Environment& env = Env();
    if (!env.Prepare(gb, state)) return;
    const Disk& disk = env.disk(gb);
    const std::uint64_t pages = (disk.blocks + 9999) / 10000;

    std::int64_t peakBytes = 0;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    std::size_t bitmapSize = 0;
    const std::uint64_t requestsBefore = env.requests();
    const std::uint64_t connectionsBefore = env.tlsConnections();
    for (auto _ : state) {
        std::string bitmap;
        int sectorOfBlock = 0;
        const double cpuStart = fcsdk_bench::ThreadCpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        fcsdk_bench::StartCountingAllocations();
        const bool ok = changed
                            ? env.wrapper().QueryDiskChangedBlocks(disk.volumeUrn, disk.snapshotUrn,
                                                                   disk.changeToken, bitmap, sectorOfBlock)
                            : env.wrapper().QueryDiskAllocatedBlocks(disk.volumeUrn, disk.snapshotUrn, bitmap,
                                                                     sectorOfBlock);
        fcsdk_bench::StopCountingAllocations();
        wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        cpuSeconds += fcsdk_bench::ThreadCpuSeconds() - cpuStart;
        peakBytes = std::max(peakBytes, fcsdk_bench::PeakHeldBytes());
        bitmapSize = bitmap.size();
        if (!ok || sectorOfBlock != 128 || bitmap.size() != disk.blocks / 4) {
            state.SkipWithError(("query failed: " + env.wrapper().GetLastError()).c_str());
            break;
        }
    }
    SetQueryCounters(state, gb, pages, env.requests() - requestsBefore,
                     env.tlsConnections() - connectionsBefore, peakBytes, bitmapSize);
    const double iterations = static_cast<double>(state.iterations());
    if (iterations == 0) return;
    state.counters["wall_us_per_page"] = wallSeconds * 1e6 / iterations / static_cast<double>(pages);
    state.counters["cpu_us_per_page"] = cpuSeconds * 1e6 / iterations / static_cast<double>(pages);
}

BENCHMARK(BM_QueryDiskBlocks)
    ->ArgNames({"GB", "changed"})
    ->Args({500, 0})
    ->Args({500, 1})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Args({2000, 0})
    ->Args({2000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The yardstick: the same requests from bare libcurl; every answer read with boost::json::parse, the
// pages' bitmaps joined.
void BM_BareQueryDiskBlocks(benchmark::State& state) {
    const int gb = static_cast<int>(state.range(0));
    const bool changed = state.range(1) == 1;
    Environment& env = Env();
    if (!env.Prepare(gb, state)) return;
    const Disk& disk = env.disk(gb);
    const std::uint64_t pages = (disk.blocks + 9999) / 10000;
    const std::vector<fcsdk_bench::BareRequest>& requests = env.RequestsOfQuery(gb, changed);
    if (requests.empty()) {
        state.SkipWithError("no query to replay");
        return;
    }

    std::int64_t peakBytes = 0;
    std::size_t bitmapSize = 0;
    const std::uint64_t requestsBefore = env.requests();
    const std::uint64_t connectionsBefore = env.tlsConnections();
    for (auto _ : state) {
        fcsdk_bench::StartCountingAllocations();
        std::string bitmap;
        std::string body;
        bool ok = true;
        for (const fcsdk_bench::BareRequest& request : requests) {
            ok = ok && env.bare().Send(request, body);
            boost::json::error_code error;
            const boost::json::value answer = boost::json::parse(body, error);
            ok = ok && !error && answer.is_object();
            if (!ok) break;
            if (const boost::json::value* page = answer.get_object().if_contains("bitMap")) {
                if (page->is_string()) bitmap.append(page->get_string().data(), page->get_string().size());
            }
        }
        fcsdk_bench::StopCountingAllocations();
        peakBytes = std::max(peakBytes, fcsdk_bench::PeakHeldBytes());
        bitmapSize = bitmap.size();
        if (!ok || bitmap.size() != disk.blocks / 4) {
            state.SkipWithError("bare query failed");
            break;
        }
    }
    SetQueryCounters(state, gb, pages, env.requests() - requestsBefore,
                     env.tlsConnections() - connectionsBefore, peakBytes, bitmapSize);
}

BENCHMARK(BM_BareQueryDiskBlocks)
    ->ArgNames({"GB", "changed"})
    ->Args({2000, 0})
    ->Args({2000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The simulator's side alone: every page of the same query rendered from the sparse history, without
// the network (the time the simulator's handler spends per page under its lock).
void BM_SimulatorPages(benchmark::State& state) {
    const int gb = static_cast<int>(state.range(0));
    const bool changed = state.range(1) == 1;
    Environment& env = Env();
    if (!env.Prepare(gb, state)) return;
    const Disk& disk = env.disk(gb);
    vrmsim::Model& model = env.model();
    std::uint64_t pages = 0;
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(model.Mutex());
        const vrmsim::VolumeCbt& history = vrmsim::CbtOf(model, *model.FindVolume(disk.volumeUrn));
        const std::size_t last = history.marks.size() - 1;
        std::vector<const vrmsim::BlockSet*> sets;
        if (!changed) {
            sets.push_back(&history.base);
            for (const auto& mark : history.marks) sets.push_back(&mark.written);
        } else {
            sets.push_back(&history.marks[last].written);
        }
        pages = 0;
        for (std::uint64_t first = 0; first < disk.blocks; first += 10000, ++pages) {
            vrmsim::CbtPage page =
                vrmsim::MakePage(sets, first, std::min<std::uint64_t>(10000, disk.blocks - first));
            benchmark::DoNotOptimize(page.bitMap.data());
        }
    }
    state.counters["pages"] = static_cast<double>(pages);
    state.counters["us_per_page"] =
        benchmark::Counter(static_cast<double>(pages) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_SimulatorPages)
    ->ArgNames({"GB", "changed"})
    ->Args({2000, 0})
    ->Args({2000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    return fcsdk_bench::RunWithRatios(argc, argv);
}
