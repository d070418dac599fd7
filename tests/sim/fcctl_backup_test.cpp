// `fcctl backup` against vrmsim's own backup side (no scripted answers): a full backup, blocks written
// through the simulator's control endpoint, and an incremental backup that reports exactly those blocks.

#include <gtest/gtest.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <boost/json.hpp>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "FcctlRunner.h"
#include "SimServer.h"

namespace {

namespace json = boost::json;
using fcsdk_test::FcctlResult;

class FcctlRealBackupTest : public fcsdk_test::SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        // Tasks and backup resources finish at their first poll: the child process sleeps for real.
        Control("PUT", "/_sim/backup", R"({"taskPolls": 0, "resourcePolls": 0, "releaseReads": 0})");
        dir_ = (std::filesystem::temp_directory_path() / ("fcctl-backup-" + std::to_string(::getpid())))
                   .string();
        std::filesystem::create_directories(dir_);
    }

    void TearDown() override { std::filesystem::remove_all(dir_); }

    FcctlResult Run(const std::vector<std::string>& args,
                    const std::function<void(pid_t)>& started = nullptr) {
        std::vector<std::string> full{"--host", server().host(), "--user", server().user()};
        full.insert(full.end(), args.begin(), args.end());
        return fcsdk_test::RunProgram(FCCTL_PATH, full,
                                      {{"FCSDK_CONFIG", server().configPath()},
                                       {"FCCTL_PASSWORD", server().password()},
                                       {"FCCTL_HOST", std::nullopt},
                                       {"FCCTL_USER", std::nullopt}},
                                      started);
    }

    json::value RunJson(const std::vector<std::string>& args) {
        const FcctlResult result = Run(args);
        EXPECT_EQ(result.exitCode, 0) << result.out << "\n" << result.err;
        boost::system::error_code ec;
        json::value value = json::parse(result.out, ec);
        EXPECT_FALSE(ec) << result.out;
        return value;
    }

    static std::string VolumeId(const json::value& disk) {
        const std::string urn(disk.at("volumeUrn").as_string());
        return urn.substr(urn.rfind(':') + 1);
    }

    std::string dir_;
};

TEST_F(FcctlRealBackupTest, IncrementalBackupReportsExactlyTheWrittenBlocks) {
    const std::string state = dir_ + "/vm-0003.state";
    const json::value full = RunJson({"--json", "backup", "vm-0003", "--state", state});
    EXPECT_EQ(full.at("mode").as_string(), "full");
    const json::array& fullDisks = full.at("disks").as_array();
    ASSERT_EQ(fullDisks.size(), 2u);
    for (const json::value& disk : fullDisks) {
        // The full backup copies what the volume held before tracking began, as the simulator counts it.
        const json::value history = Control("GET", "/_sim/volumes/" + VolumeId(disk) + "/cbt");
        EXPECT_EQ(disk.at("blocks").as_int64(), history.at("allocatedBeforeTracking").as_int64());
        EXPECT_EQ(disk.at("blockSize").as_int64(), history.at("sectorOfBlock").as_int64() * 512);
        EXPECT_EQ(disk.at("sectorOfBlock").as_int64(), history.at("sectorOfBlock").as_int64());
    }

    Control("POST", "/_sim/volumes/" + VolumeId(fullDisks[0]) + "/write",
            R"({"blocks": [{"start": 100, "count": 16}, {"start": 5000, "count": 1}]})");

    const json::value incremental = RunJson({"--json", "backup", "vm-0003", "--state", state, "--quiet"});
    EXPECT_EQ(incremental.at("mode").as_string(), "incremental");
    const json::value& first = incremental.at("disks").at(0);
    const std::int64_t blockSize = first.at("blockSize").as_int64();
    const json::array& extents = first.at("extents").as_array();
    ASSERT_EQ(extents.size(), 2u) << json::serialize(first);
    EXPECT_EQ(extents[0].at("start").as_int64(), 100);
    EXPECT_EQ(extents[0].at("count").as_int64(), 16);
    EXPECT_EQ(extents[0].at("offset").as_int64(), 100 * blockSize);
    EXPECT_EQ(extents[1].at("start").as_int64(), 5000);
    EXPECT_EQ(extents[1].at("count").as_int64(), 1);
    EXPECT_EQ(incremental.at("disks").at(1).at("blocks").as_int64(), 0);
    EXPECT_EQ(incremental.at("totalBytes").as_int64(), 17 * blockSize);

    // Nothing written since: the next backup copies nothing, and no backup snapshot is left behind.
    const json::value idle = RunJson({"--json", "backup", "vm-0003", "--state", state, "--quiet"});
    EXPECT_EQ(idle.at("totalBytes").as_int64(), 0);
    const json::value snapshots = RunJson({"--json", "snapshot", "list", "vm-0003"});
    for (const json::value& snapshot : snapshots.at("snapshots").as_array()) {
        EXPECT_NE(snapshot.at("name").as_string().subview().substr(0, 13), "fcctl-backup-");
    }
}

TEST_F(FcctlRealBackupTest, FullOptionReadsEverythingAgain) {
    const std::string state = dir_ + "/vm-0004.state";
    const json::value first = RunJson({"--json", "backup", "vm-0004", "--state", state, "--quiet"});
    Control("POST", "/_sim/volumes/" + VolumeId(first.at("disks").at(1)) + "/write",
            R"({"blocks": [{"start": 0, "count": 3}]})");
    const json::value again = RunJson({"--json", "backup", "vm-0004", "--state", state, "--quiet", "--full"});
    EXPECT_EQ(again.at("mode").as_string(), "full");
    // The allocated blocks of the second disk now include the three written ones.
    EXPECT_GE(again.at("disks").at(1).at("blocks").as_int64(),
              first.at("disks").at(1).at("blocks").as_int64());
    EXPECT_EQ(again.at("disks").at(1).at("extents").at(0).at("start").as_int64(), 0);
}

TEST_F(FcctlRealBackupTest, SigintCancelsTheBackupAndLeavesNothingBehind) {
    const std::string state = dir_ + "/vm-0003.state";
    const json::value full = RunJson({"--json", "backup", "vm-0003", "--state", state, "--quiet"});
    std::string volumeUri =
        "/service/" + std::string(full.at("disks").at(0).at("volumeUrn").as_string()).substr(4);
    std::replace(volumeUri.begin(), volumeUri.end(), ':', '/');
    std::ifstream before(state);
    std::stringstream stateBefore;
    stateBefore << before.rdbuf();
    ASSERT_FALSE(stateBefore.str().empty());
    server().ClearRequests();
    // The changed-block page of the next backup stalls; fcctl gets SIGINT while it waits for it.
    vrmsim::Fault stall;
    stall.kind = vrmsim::FaultKind::Stall;
    stall.method = "POST";
    stall.path = volumeUri + "/getcbt";
    stall.ms = 60000;
    server().AddFault(stall);
    std::atomic<pid_t> child{0};
    FcctlResult result;
    std::thread run([&] {
        result = Run({"backup", "vm-0003", "--state", state, "--quiet"}, [&](pid_t pid) { child = pid; });
    });
    while (child == 0 || server().Requests(volumeUri + "/getcbt").empty()) std::this_thread::yield();
    ::kill(child, SIGINT);
    run.join();

    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_NE(result.err.find("interrupted by SIGINT"), std::string::npos) << result.err;
    for (const vrmsim::VmState& vm : server().sim().Vms()) {
        for (const std::string& snapshot : vm.snapshotNames) {
            EXPECT_NE(snapshot.rfind("fcctl-backup-", 0), 0u) << "backup snapshot left on " << vm.name;
        }
    }
    for (const vrmsim::DiskAccessState& access : server().sim().DiskAccesses()) {
        EXPECT_TRUE(access.released) << "disk access left open: " << access.uri;
    }
    // The state file is as the last complete backup left it, and the session was given back.
    std::ifstream after(state);
    std::stringstream stateAfter;
    stateAfter << after.rdbuf();
    EXPECT_EQ(stateAfter.str(), stateBefore.str());
    std::size_t logouts = 0;
    for (const vrmsim::RecordedRequest& request : server().Requests("/service/session")) {
        logouts += request.method == "DELETE" ? 1 : 0;
    }
    EXPECT_EQ(logouts, 1u);
}

}  // namespace
