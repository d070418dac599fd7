// Load test: sixteen wrappers, each on a thread of its own with a session of its own, against one
// in-process simulator for a bounded time. Every round reads the inventory (VMs with details, hosts,
// datastores) and runs a full and an incremental backup of the thread's own VM (snapshot with changed-block
// tracking, change tokens, allocated and changed blocks, disk access opened and released, snapshots
// deleted). No fault is injected, so every failed call is a fault of the library or the simulator.
//
// FCSDK_LOAD_SECONDS (default 5) bounds the run time and FCSDK_LOAD_ROUNDS (default 100000) the rounds per
// thread; scripts/soak.sh runs the same test for minutes. The process's resident memory is sampled while
// the load runs and printed in one line per sample plus a summary line, which the soak script reads.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FusionComputeWrapper.h"
#include "SimServer.h"
#include "platform/ObSleep.h"

namespace {

namespace fc = FusionComputeSDKWrapper;
using Clock = std::chrono::steady_clock;

constexpr int kThreads = 16;
constexpr int kVMs = 24;  // more VMs than threads: every thread backs up a VM of its own
constexpr fc::UINT64 kVMDetails = fc::VM_PROP_VM_DISK_LIST | fc::VM_PROP_VM_GUEST_INFO |
                                  fc::VM_PROP_VM_SNAPSHOT_LIST | fc::VM_PROP_VM_NW_LIST;

long EnvNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value > 0) ? value : fallback;
}

// Resident set size of this process in KiB, from /proc/self/status.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// Task polls pause 5 s between reads of the task; the simulator's tasks end after a few polls, so a 1 ms
// pause keeps the backups fast while the threads still yield to each other.
class ShortSleeps {
  public:
    ShortSleeps() {
        fcsdk_platform::SetSleepHook(
            [](unsigned int) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
    }
    ~ShortSleeps() { fcsdk_platform::SetSleepHook(nullptr); }
};

// What one thread did; failures keep the first few messages for the report.
struct Tally {
    long calls = 0;
    long failures = 0;
    long rounds = 0;
    long backups = 0;
    std::vector<std::string> messages;

    bool Check(bool ok, const char* call, fc::CFusionComputeWrapper& wrapper) {
        ++calls;
        if (!ok) {
            ++failures;
            if (messages.size() < 5) messages.push_back(std::string(call) + ": " + wrapper.GetLastError());
        }
        return ok;
    }
    void Expect(bool ok, const std::string& what) {
        if (!ok) {
            ++failures;
            if (messages.size() < 5) messages.push_back(what);
        }
    }
};

// Inventory reads of one round: every VM with details, the hosts and the datastores.
void ReadInventory(fc::CFusionComputeWrapper& wrapper, Tally& tally) {
    std::vector<fc::SVMInfoLib> vms;
    if (tally.Check(wrapper.GetVMInfoList(vms, kVMDetails), "GetVMInfoList", wrapper)) {
        tally.Expect(vms.size() == static_cast<size_t>(kVMs), "VM list of " + std::to_string(vms.size()));
    }
    std::vector<fc::SHostInfoLib> hosts;
    if (tally.Check(wrapper.GetHostInfoList(hosts, fc::MIN_VM_PROPS), "GetHostInfoList", wrapper)) {
        tally.Expect(!hosts.empty(), "empty host list");
    }
    std::vector<fc::SDataStoreInfoLib> datastores;
    if (tally.Check(wrapper.GetDataStoreInfoList(datastores, fc::MIN_VM_PROPS), "GetDataStoreInfoList",
                    wrapper)) {
        tally.Expect(!datastores.empty(), "empty datastore list");
    }
}

bool HasSetBit(const std::string& bitmap) {
    return bitmap.find_first_not_of('0') != std::string::npos;
}

// Opens read access to a disk in a snapshot and releases it again.
void OpenAndRelease(fc::CFusionComputeWrapper& wrapper, const std::string& volumeUrn,
                    const std::string& snapshotUrn, Tally& tally) {
    std::string resourceUri, hostIP, hostPort, token, targetFile;
    if (tally.Check(wrapper.PrepareDiskAccess(volumeUrn, snapshotUrn, "127.0.0.1", false, resourceUri, hostIP,
                                              hostPort, token, targetFile),
                    "PrepareDiskAccess", wrapper)) {
        tally.Check(wrapper.ReleaseDiskAccess(resourceUri), "ReleaseDiskAccess", wrapper);
    }
}

// A full backup (allocated blocks of every disk) followed by an incremental one (blocks changed since the
// full backup's change token); nothing writes to the VM's disks in between, so no block may be changed.
void BackUpTwice(fc::CFusionComputeWrapper& wrapper, const fc::SVMInfoLib& vm, long round, Tally& tally) {
    fc::SSnapshotInfoLib full;
    if (!tally.Check(wrapper.CreateVMSnapshot(vm, "full-" + std::to_string(round), "load test", false, true,
                                              true, true, full),
                     "CreateVMSnapshot (full)", wrapper)) {
        return;
    }
    std::vector<std::string> tokens;
    for (const fc::SDiskInfoLib& disk : vm.disks) {
        std::string token, bitmap;
        int sectorOfBlock = 0;
        tally.Check(wrapper.GetDiskChangeToken(disk.urn, full.urn, token), "GetDiskChangeToken", wrapper);
        tokens.push_back(token);
        if (tally.Check(wrapper.QueryDiskAllocatedBlocks(disk.urn, full.urn, bitmap, sectorOfBlock),
                        "QueryDiskAllocatedBlocks", wrapper)) {
            tally.Expect(HasSetBit(bitmap) && sectorOfBlock > 0, "no allocated block on " + disk.urn);
        }
        OpenAndRelease(wrapper, disk.urn, full.urn, tally);
    }

    fc::SSnapshotInfoLib incremental;
    if (tally.Check(wrapper.CreateVMSnapshot(vm, "incr-" + std::to_string(round), "load test", false, true,
                                             true, true, incremental),
                    "CreateVMSnapshot (incremental)", wrapper)) {
        for (size_t i = 0; i < vm.disks.size(); ++i) {
            std::string bitmap;
            int sectorOfBlock = 0;
            if (tally.Check(wrapper.QueryDiskChangedBlocks(vm.disks[i].urn, incremental.urn, tokens[i],
                                                           bitmap, sectorOfBlock),
                            "QueryDiskChangedBlocks", wrapper)) {
                tally.Expect(!bitmap.empty() && !HasSetBit(bitmap), "changed blocks on " + vm.disks[i].urn);
            }
            OpenAndRelease(wrapper, vm.disks[i].urn, incremental.urn, tally);
        }
        tally.Check(wrapper.DeleteVMSnapshot(vm, incremental), "DeleteVMSnapshot (incremental)", wrapper);
    }
    tally.Check(wrapper.DeleteVMSnapshot(vm, full), "DeleteVMSnapshot (full)", wrapper);
    ++tally.backups;
}

void RunWorker(fcsdk_test::SimServer& server, int index, Clock::time_point deadline, long maxRounds,
               Tally& tally) {
    fc::CFusionComputeWrapper wrapper;
    if (!tally.Check(wrapper.Connect(server.host(), server.user(), server.password()), "Connect", wrapper)) {
        return;
    }
    char name[16];
    std::snprintf(name, sizeof name, "vm-%04d", index + 1);
    fc::SVMInfoLib vm;
    if (!tally.Check(wrapper.GetVMInfo(name, "", "", vm, fc::VM_PROP_VM_DISK_LIST), "GetVMInfo", wrapper)) {
        return;
    }
    tally.Expect(!vm.disks.empty(), std::string(name) + " has no disk");
    // Every thread runs at least one round: on a loaded machine (or under ThreadSanitizer) Connect alone
    // may outlast a short budget, and a thread that did no work would prove nothing.
    for (long round = 0; round < maxRounds && (round == 0 || Clock::now() < deadline); ++round) {
        ReadInventory(wrapper, tally);
        BackUpTwice(wrapper, vm, round, tally);
        ++tally.rounds;
    }
}

TEST(LoadConcurrent, SixteenWrappersReadInventoryAndBackUpForABoundedTime) {
    const long seconds = EnvNumber("FCSDK_LOAD_SECONDS", 5);
    const long maxRounds = EnvNumber("FCSDK_LOAD_ROUNDS", 100000);
    vrmsim::Options options;
    options.recordRequests = false;  // a soak of hours must not fill the recorder
    options.inventory.vms = kVMs;
    options.inventory.templates = 0;
    options.inventory.vmsWithSnapshots = 0;
    fcsdk_test::SimServer server(options);
    ASSERT_TRUE(server.ok()) << server.error();
    ShortSleeps sleeps;

    const long rssStart = ResidentKiB();
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::seconds(seconds);
    std::vector<Tally> tallies(kThreads);
    std::vector<std::thread> threads;
    std::atomic<int> running{kThreads};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            RunWorker(server, t, deadline, maxRounds, tallies[t]);
            --running;
        });
    }
    // Memory samples while the load runs, about one per tenth of the run (at least every 10 s).
    const auto sampleEvery = std::chrono::seconds(std::max(1L, std::min(10L, seconds / 10)));
    auto nextSample = start + sampleEvery;
    while (running.load() > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (Clock::now() >= nextSample) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start);
            std::printf("LOAD-SAMPLE t=%llds rss_kib=%ld\n", static_cast<long long>(elapsed.count()),
                        ResidentKiB());
            std::fflush(stdout);
            nextSample += sampleEvery;
        }
    }
    for (std::thread& thread : threads) thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const long rssEnd = ResidentKiB();

    Tally total;
    for (int t = 0; t < kThreads; ++t) {
        const Tally& tally = tallies[t];
        total.calls += tally.calls;
        total.failures += tally.failures;
        total.rounds += tally.rounds;
        total.backups += tally.backups;
        for (const std::string& message : tally.messages) ADD_FAILURE() << "thread " << t << ": " << message;
        EXPECT_GT(tally.rounds, 0) << "thread " << t << " finished no round";
    }
    const vrmsim::Stats stats = server.Stats();
    const vrmsim::StateCounts counts = server.sim().Counts();
    // The simulator keeps every finished task: part of the process's growth.
    const size_t simTasks = counts.tasks;
    const size_t simResources = counts.diskAccesses;
    std::printf(
        "LOAD-RESULT threads=%d seconds=%.1f rounds=%ld backups=%ld calls=%ld requests=%llu "
        "tls_connections=%llu failures=%ld injected_faults=%llu sim_tasks=%zu sim_resources=%zu "
        "rss_start_kib=%ld rss_end_kib=%ld\n",
        kThreads, elapsed, total.rounds, total.backups, total.calls,
        static_cast<unsigned long long>(stats.requests),
        static_cast<unsigned long long>(stats.tlsConnections), total.failures,
        static_cast<unsigned long long>(stats.faults), simTasks, simResources, rssStart, rssEnd);
    std::fflush(stdout);
    RecordProperty("requests", std::to_string(stats.requests));
    RecordProperty("rss_start_kib", std::to_string(rssStart));
    RecordProperty("rss_end_kib", std::to_string(rssEnd));

    EXPECT_EQ(total.failures, 0);
    EXPECT_EQ(stats.faults, 0u);
    EXPECT_GT(stats.requests, 0u);
}

}  // namespace
