// The snapshot, change-token, changed-block and disk-access operations of the facade against vrmsim over
// real TLS: the requests as they went out, the pauses of the retry and wait loops on the fake clock, and
// the results and errors the caller sees.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "FacadeSimFixture.h"
#include "LogCapture.h"

namespace {

namespace fc = FusionComputeSDKWrapper;
namespace json = boost::json;
using fc::SSnapshotInfoLib;
using fc::SVMInfoLib;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr char kBusy[] = "The snapshot is in use by a running task.";

class FacadeBackupTest : public fcsdk_test::FacadeSimTest {
  protected:
    void SetUp() override {
        FacadeSimTest::SetUp();
        // vm-0001 is seeded with snapshots A (child C) and B, each with one disk snapshot per disk.
        vm_ = SeededVM("vm-0001");
        ASSERT_EQ(vm_.snapshots.size(), 3u);
        ASSERT_GE(vm_.disks.size(), 1u);
    }

    const fc::SDiskInfoLib& Disk() const { return vm_.disks.front(); }
    const SSnapshotInfoLib& Snapshot(size_t index) const { return vm_.snapshots.at(index); }
    // The disk snapshot of the first disk in a snapshot of vm-0001.
    fc::SDiskSnapshotInfoLib DiskSnapshot(size_t index) const {
        for (const fc::SDiskSnapshotInfoLib& entry : Snapshot(index).volsnapshots) {
            if (entry.volumeUrn == Disk().urn) return entry;
        }
        ADD_FAILURE() << "no disk snapshot of " << Disk().urn;
        return {};
    }

    // A VM's disk element names its volume by URN only; the volume's link follows from it.
    std::string DiskUri() const { return UriOf(Disk().urn); }
    std::string CbtLink() const { return DiskUri() + "/getcbt"; }
    std::string ResourceUri(int id) const { return DiskUri() + "/backupresources/" + std::to_string(id); }

    // One changed-block answer page.
    static std::string Page(int sectorOfBlock, int bitNum, const std::string& bitMap) {
        return json::serialize(json::object{
            {"sectorOfBlock", sectorOfBlock}, {"bitNum", bitNum}, {"bit1Num", 1}, {"bitMap", bitMap}});
    }

    // A backup resource as a GET of it answers.
    static std::string Resource(const std::string& status) {
        return json::serialize(json::object{{"status", status},
                                            {"hostIP", "192.168.40.11"},
                                            {"hostPort", "10809"},
                                            {"token", "tok-123"},
                                            {"targetFile", "/dev/vol-1"},
                                            {"resourceUrl", "nbd://192.168.40.11:10809"},
                                            {"caCert", "-----BEGIN CERTIFICATE-----"}});
    }

    // Makes the facade's last error a known text, set by the facade's own check (no VRM error body).
    void SetKnownLastError() {
        EXPECT_FALSE(wrapper().DeleteVMSnapshot(vm_, SSnapshotInfoLib()));
        ASSERT_EQ(wrapper().GetLastError(), "snapshot urn was not specified");
    }

    SVMInfoLib vm_;
};

// ---------------------------------------------------------------------------------------------------
// Before Connect
// ---------------------------------------------------------------------------------------------------

TEST(FacadeBackupNotConnected, EveryOperationFailsWithoutRequest) {
    fcsdk_test::SimServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    fcsdk_test::FakeClock clock;
    fc::CFusionComputeWrapper wrapper;
    std::string text;
    std::string a, b, c, d, e;
    int number = 0;
    const std::string volume = server.siteUrn() + ":volumes:1";
    const std::string snapshot = server.siteUrn() + ":vms:i-00000001:snapshots:1";
    SSnapshotInfoLib record;
    record.uri = "/service/sites/X/vms/i-1/snapshots/1";
    SVMInfoLib vm("vm-0001", "", "");
    vm.uri = "/service/sites/X/vms/i-1";

    const std::vector<std::pair<const char*, std::function<bool()>>> operations = {
        {"CreateVMSnapshot",
         [&] { return wrapper.CreateVMSnapshot(vm, "s", "", false, true, true, true, record); }},
        {"DeleteVMSnapshot", [&] { return wrapper.DeleteVMSnapshot(vm, record); }},
        {"GetDiskChangeId", [&] { return wrapper.GetDiskChangeId(volume, snapshot, a, b, c); }},
        {"GetDiskChangeToken", [&] { return wrapper.GetDiskChangeToken(volume, snapshot, text); }},
        {"QueryDiskAllocatedBlocks",
         [&] { return wrapper.QueryDiskAllocatedBlocks(volume, snapshot, text, number); }},
        {"QueryDiskChangedBlocks",
         [&] { return wrapper.QueryDiskChangedBlocks(volume, snapshot, "{}", text, number); }},
        {"QueryDiskCBT", [&] { return wrapper.QueryDiskCBT(volume, "u", "", "t", text, number); }},
        {"PrepareDiskAccess",
         [&] { return wrapper.PrepareDiskAccess(volume, snapshot, "10.0.0.9", false, a, b, c, d, e); }},
        {"ReleaseDiskAccess",
         [&] { return wrapper.ReleaseDiskAccess("/service/sites/X/volumes/1/backupresources/7"); }},
        {"ValidateDiskAccess",
         [&] { return wrapper.ValidateDiskAccess("/service/sites/X/volumes/1/backupresources/7"); }},
        {"ExtendDiskAccess",
         [&] { return wrapper.ExtendDiskAccess("/service/sites/X/volumes/1/backupresources/7", 300); }},
    };
    for (const auto& [name, operation] : operations) {
        EXPECT_FALSE(operation()) << name;
        EXPECT_EQ(wrapper.GetLastError(), "Not connected to a VRM site") << name;
    }
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(clock.Pauses().empty());
}

// ---------------------------------------------------------------------------------------------------
// Snapshots
// ---------------------------------------------------------------------------------------------------

TEST_F(FacadeBackupTest, CreateVMSnapshotSendsTheRequestAndReadsTheSnapshotIntoAFreshDiskList) {
    const SSnapshotInfoLib& created = Snapshot(0);
    ScriptSuccessfulTask("POST", vm_.uri + "/snapshots", 301, created.urn, created.uri);

    // A record reused from an earlier backup must not keep its old disk snapshots.
    SSnapshotInfoLib snapshot = Snapshot(2);
    ASSERT_FALSE(snapshot.volsnapshots.empty());
    ASSERT_TRUE(wrapper().CreateVMSnapshot(SVMInfoLib("vm-0001", "", ""), "backup-1", "nightly", false, true,
                                           true, true, snapshot))
        << wrapper().GetLastError();

    EXPECT_EQ(OnlyBody("POST", vm_.uri + "/snapshots"), (json::object{{"name", "backup-1"},
                                                                      {"description", "nightly"},
                                                                      {"needMemoryShot", false},
                                                                      {"isConsistent", true},
                                                                      {"type", "CBTbackup"}}));
    EXPECT_EQ(snapshot.urn, created.urn);
    EXPECT_EQ(snapshot.name, created.name);
    ASSERT_EQ(snapshot.volsnapshots.size(), created.volsnapshots.size());
    for (size_t i = 0; i < created.volsnapshots.size(); ++i) {
        EXPECT_EQ(snapshot.volsnapshots[i].chgID, created.volsnapshots[i].chgID) << i;
        EXPECT_EQ(snapshot.volsnapshots[i].snapUuid, created.volsnapshots[i].snapUuid) << i;
    }
}

TEST_F(FacadeBackupTest, CreateVMSnapshotWithAKnownUriLooksNothingUp) {
    const SSnapshotInfoLib& created = Snapshot(1);
    ScriptSuccessfulTask("POST", vm_.uri + "/snapshots", 302, created.urn, created.uri);
    SSnapshotInfoLib snapshot;
    ASSERT_TRUE(wrapper().CreateVMSnapshot(vm_, "s", "", true, false, false, true, snapshot));
    EXPECT_TRUE(Sent("GET", SiteUri() + "/vms").empty());
    EXPECT_EQ(OnlyBody("POST", vm_.uri + "/snapshots").at("type"), json::value("normal"));
    EXPECT_EQ(snapshot.uri, created.uri);
}

TEST_F(FacadeBackupTest, OnlyErrorCode10300025MakesASnapshotErrorRetryable) {
    struct Case {
        const char* code;
        bool retryable;
    };
    for (const Case& c : {Case{"10300025", true}, Case{"10300026", false}, Case{"1030002", false},
                          Case{"103000250", false}}) {
        Fail("POST", vm_.uri + "/snapshots", 1, c.code, "Snapshot refused");
        SSnapshotInfoLib snapshot;
        EXPECT_FALSE(wrapper().CreateVMSnapshot(vm_, "s", "", false, true, true, true, snapshot)) << c.code;
        EXPECT_EQ(wrapper().GetLastError(), "Snapshot refused") << c.code;
        EXPECT_EQ(wrapper().IsCreateVMSnapshotErrorRetryable(), c.retryable) << c.code;
    }
}

TEST_F(FacadeBackupTest, RetryableErrorStaysUntilAnotherVrmErrorBodyReplacesIt) {
    Fail("POST", vm_.uri + "/snapshots", 1, "10300025", "Another snapshot task is running");
    SSnapshotInfoLib snapshot;
    ASSERT_FALSE(wrapper().CreateVMSnapshot(vm_, "s", "", false, true, true, true, snapshot));
    ASSERT_TRUE(wrapper().IsCreateVMSnapshotErrorRetryable());

    // A failure of the facade's own checks carries no error body: the code stays.
    SetKnownLastError();
    EXPECT_TRUE(wrapper().IsCreateVMSnapshotErrorRetryable());

    Fail("POST", vm_.uri + "/snapshots", 1, "10300099", "Disk is busy");
    ASSERT_FALSE(wrapper().CreateVMSnapshot(vm_, "s", "", false, true, true, true, snapshot));
    EXPECT_FALSE(wrapper().IsCreateVMSnapshotErrorRetryable());
}

TEST_F(FacadeBackupTest, FourFailedDeletionsPauseThreeTimesTenSeconds) {
    const SSnapshotInfoLib& snapshot = Snapshot(1);
    Fail("DELETE", snapshot.uri, 4, "10300120", kBusy);

    EXPECT_FALSE(wrapper().DeleteVMSnapshot(vm_, snapshot));

    EXPECT_EQ(wrapper().GetLastError(), kBusy);
    EXPECT_THAT(clock().Pauses(), ElementsAre(10000, 10000, 10000));
    std::vector<vrmsim::RecordedRequest> deletes = Sent("DELETE", snapshot.uri);
    ASSERT_EQ(deletes.size(), 4u);
    for (const vrmsim::RecordedRequest& request : deletes) EXPECT_EQ(request.body, "");
}

TEST_F(FacadeBackupTest, DeletionThatSucceedsAtTheThirdAttemptPausesTwice) {
    const SSnapshotInfoLib& snapshot = Snapshot(1);
    Fail("DELETE", snapshot.uri, 2, "10300120", kBusy);
    ScriptSuccessfulTask("DELETE", snapshot.uri, 401);

    EXPECT_TRUE(wrapper().DeleteVMSnapshot("vm-0001", "", "", snapshot)) << wrapper().GetLastError();

    EXPECT_THAT(clock().Pauses(), ElementsAre(10000, 10000));
    EXPECT_EQ(Sent("DELETE", snapshot.uri).size(), 3u);
}

TEST_F(FacadeBackupTest, DeletionBySnapshotUrnReadsTheSnapshotFirst) {
    SSnapshotInfoLib byUrn;
    byUrn.urn = Snapshot(2).urn;
    ScriptSuccessfulTask("DELETE", Snapshot(2).uri, 402);

    EXPECT_TRUE(wrapper().DeleteVMSnapshot(vm_, byUrn)) << wrapper().GetLastError();
    EXPECT_EQ(Sent("GET", Snapshot(2).uri).size(), 1u);
    EXPECT_EQ(Sent("DELETE", Snapshot(2).uri).size(), 1u);
    EXPECT_TRUE(byUrn.uri.empty()) << "the caller's record is not changed";
}

TEST_F(FacadeBackupTest, DeletionOfAnUnnamedOrUnknownSnapshotSendsNoDelete) {
    SSnapshotInfoLib unknown;
    unknown.urn = vm_.urn + ":snapshots:999";
    EXPECT_FALSE(wrapper().DeleteVMSnapshot(vm_, unknown));
    EXPECT_EQ(wrapper().GetLastError(), "Could not find snapshot");

    EXPECT_FALSE(wrapper().DeleteVMSnapshot(vm_, SSnapshotInfoLib()));
    EXPECT_EQ(wrapper().GetLastError(), "snapshot urn was not specified");

    EXPECT_TRUE(SentWithMethod("DELETE").empty());
    EXPECT_TRUE(clock().Pauses().empty());
}

// ---------------------------------------------------------------------------------------------------
// Change identifiers and tokens
// ---------------------------------------------------------------------------------------------------

TEST_F(FacadeBackupTest, ChangeTokenRoundTripGivesBackTheDiskSnapshotValues) {
    const fc::SDiskSnapshotInfoLib expected = DiskSnapshot(1);
    ASSERT_FALSE(expected.chgID.empty());

    std::string token;
    ASSERT_TRUE(wrapper().GetDiskChangeToken(Disk().urn, Snapshot(1).urn, token)) << wrapper().GetLastError();

    json::value parsed = json::parse(token);
    EXPECT_EQ(parsed,
              (json::object{{"chgID", expected.chgID}, {"volCBTCreateTime", expected.volCBTCreateTime}}));

    std::string chgID = "old";
    std::string created = "old";
    ASSERT_TRUE(wrapper().ParseDiskChangeToken(token, chgID, created));
    EXPECT_EQ(chgID, expected.chgID);
    EXPECT_EQ(created, expected.volCBTCreateTime);
}

TEST_F(FacadeBackupTest, ParseDiskChangeTokenAcceptsAnyObjectAndRejectsOtherText) {
    std::string chgID = "kept";
    std::string created = "kept";
    EXPECT_FALSE(wrapper().ParseDiskChangeToken("not a token", chgID, created));
    EXPECT_FALSE(wrapper().ParseDiskChangeToken("[\"chgID\"]", chgID, created));
    EXPECT_EQ(chgID, "kept");
    EXPECT_EQ(created, "kept");

    ASSERT_TRUE(wrapper().ParseDiskChangeToken(R"({"volCBTCreateTime":"1700000000","extra":1,"chgID":"42"})",
                                               chgID, created));
    EXPECT_EQ(chgID, "42");
    EXPECT_EQ(created, "1700000000");

    ASSERT_TRUE(wrapper().ParseDiskChangeToken("{}", chgID, created));
    EXPECT_EQ(chgID, "");
    EXPECT_EQ(created, "");
}

TEST_F(FacadeBackupTest, GetDiskChangeIdNamesWhatWasNotFound) {
    std::string chgID, created, snapUuid;
    ASSERT_TRUE(wrapper().GetDiskChangeId(Disk().urn, Snapshot(0).urn, chgID, created, snapUuid));
    EXPECT_EQ(chgID, DiskSnapshot(0).chgID);
    EXPECT_EQ(created, DiskSnapshot(0).volCBTCreateTime);
    EXPECT_EQ(snapUuid, DiskSnapshot(0).snapUuid);

    EXPECT_FALSE(
        wrapper().GetDiskChangeId(SiteUrn() + ":volumes:99999", Snapshot(0).urn, chgID, created, snapUuid));
    EXPECT_EQ(wrapper().GetLastError(), "Could not find disk snapshot");
    EXPECT_EQ(chgID, "");

    EXPECT_FALSE(wrapper().GetDiskChangeId(Disk().urn, vm_.urn + ":snapshots:999", chgID, created, snapUuid));
    EXPECT_EQ(wrapper().GetLastError(), "Could not find snapshot");

    // A disk snapshot without a change identifier (tracking not started) counts as missing.
    Patch(Snapshot(0).uri, json::object{{"chgID", ""}});
    std::string token = "kept";
    EXPECT_FALSE(wrapper().GetDiskChangeToken(Disk().urn, Snapshot(0).urn, token));
    EXPECT_EQ(wrapper().GetLastError(), "Could not find disk snapshot");
    EXPECT_EQ(token, "kept");
}

// ---------------------------------------------------------------------------------------------------
// Changed-block bitmaps
// ---------------------------------------------------------------------------------------------------

struct PagingCase {
    const char* label;
    int quantityGB;
    int sectorOfBlock;
    std::vector<int> bitNums;      // what each answer page covers
    std::vector<int> startBlocks;  // the "startBlock" each request must carry
};

class FacadeCbtPagingTest : public FacadeBackupTest, public ::testing::WithParamInterface<PagingCase> {};

TEST_P(FacadeCbtPagingTest, PagesFollowTheBlocksTheVrmReported) {
    const PagingCase& c = GetParam();
    Patch(DiskUri(), json::object{{"quantityGB", c.quantityGB}});
    std::string expectedBitmap;
    for (size_t i = 0; i < c.bitNums.size(); ++i) {
        // Each page its own digits, so the test sees the order in which they were joined.
        std::string bitMap((c.bitNums[i] + 3) / 4, "0123456789"[i % 10]);
        bitMap[0] = 'f';
        expectedBitmap += bitMap;
        Answer("POST", CbtLink(), Page(c.sectorOfBlock, c.bitNums[i], bitMap));
    }

    std::string bitmap;
    int sectorOfBlock = 0;
    ASSERT_TRUE(wrapper().QueryDiskCBT(Disk().urn, "snap-uuid-1", "17", "1700000000", bitmap, sectorOfBlock))
        << wrapper().GetLastError();

    EXPECT_EQ(bitmap, expectedBitmap);
    EXPECT_EQ(sectorOfBlock, c.sectorOfBlock);
    std::vector<vrmsim::RecordedRequest> posts = Sent("POST", CbtLink());
    ASSERT_EQ(posts.size(), c.startBlocks.size());
    for (size_t i = 0; i < posts.size(); ++i) {
        EXPECT_EQ(BodyOf(posts[i]), (json::object{{"type", "DiffBitmapAndBit1Num"},
                                                  {"volCBTCreateTime", "1700000000"},
                                                  {"chgID", "17"},
                                                  {"snapUuid", "snap-uuid-1"},
                                                  {"startBlock", c.startBlocks[i]},
                                                  {"blockNum", 10000}}))
            << "page " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Disks, FacadeCbtPagingTest,
    ::testing::Values(
        // 1 GB = 2097152 sectors = 16384 blocks of 128 sectors.
        PagingCase{"OneGigabyteTwoPages", 1, 128, {10000, 6384}, {0, 10000}},
        PagingCase{"ShortPagesAdvanceByWhatTheyCover", 1, 128, {8000, 8000, 384}, {0, 8000, 16000}},
        PagingCase{"ZeroGigabyteOnePage", 0, 128, {10000}, {0}},
        PagingCase{"LargeBlocksOnePage", 1, 2048, {1024}, {0}}),
    [](const ::testing::TestParamInfo<PagingCase>& info) { return std::string(info.param.label); });

struct BadPageCase {
    const char* label;
    int goodPages;  // pages of 10000 blocks of 128 sectors before the bad one
    int sectorOfBlock;
    int bitNum;
    std::string bitMap = "ff";
};

class FacadeCbtBadPageTest : public FacadeBackupTest, public ::testing::WithParamInterface<BadPageCase> {};

TEST_P(FacadeCbtBadPageTest, FailsNamingThePageInsteadOfLooping) {
    const BadPageCase& c = GetParam();
    Patch(DiskUri(), json::object{{"quantityGB", 4}});
    for (int i = 0; i < c.goodPages; ++i) Answer("POST", CbtLink(), Page(128, 10000, std::string(2500, 'a')));
    // Repeated, so a loop that does not stop at the bad page would keep getting it.
    Answer("POST", CbtLink(), Page(c.sectorOfBlock, c.bitNum, c.bitMap), 5);

    std::string bitmap = "untouched";
    int sectorOfBlock = 0;
    EXPECT_FALSE(wrapper().QueryDiskCBT(Disk().urn, "u", "", "t", bitmap, sectorOfBlock));

    EXPECT_EQ(bitmap, "untouched");
    EXPECT_EQ(Sent("POST", CbtLink()).size(), static_cast<size_t>(c.goodPages + 1));
    const std::string error = wrapper().GetLastError();
    EXPECT_THAT(error, HasSubstr("at block " + std::to_string(c.goodPages * 10000)));
    EXPECT_THAT(error, HasSubstr("sectorOfBlock " + std::to_string(c.sectorOfBlock)));
    EXPECT_THAT(error, HasSubstr("bitNum " + std::to_string(c.bitNum)));
    EXPECT_THAT(error, HasSubstr(Disk().urn));
}

INSTANTIATE_TEST_SUITE_P(Pages, FacadeCbtBadPageTest,
                         ::testing::Values(BadPageCase{"NoBlockSize", 0, 0, 10000},
                                           BadPageCase{"NegativeBlockSize", 0, -128, 10000},
                                           BadPageCase{"NoBlocksCovered", 0, 128, 0},
                                           BadPageCase{"NegativeBlocksCovered", 0, 128, -10000},
                                           BadPageCase{"NoBlocksCoveredOnSecondPage", 1, 128, 0},
                                           // Joined as they are, these would shift or drop blocks.
                                           BadPageCase{"BitmapShorterThanItsBlocks", 1, 128, 10000},
                                           BadPageCase{"BitmapLongerThanItsBlocks", 0, 128, 4},
                                           BadPageCase{"NotHexadecimal", 0, 128, 8, "fg"},
                                           BadPageCase{"OtherBlockSizeOnSecondPage", 1, 256, 8}),
                         [](const ::testing::TestParamInfo<BadPageCase>& info) {
                             return std::string(info.param.label);
                         });

TEST_F(FacadeBackupTest, FailedPageLeavesTheBitmapAndSaysWhatFailed) {
    SetKnownLastError();
    Answer("POST", CbtLink(), Page(128, 8, "ab"));
    Fail("POST", CbtLink(), 1, "10300200", "CBT unavailable");

    std::string bitmap = "untouched";
    int sectorOfBlock = 0;
    EXPECT_FALSE(wrapper().QueryDiskCBT(Disk().urn, "u", "", "t", bitmap, sectorOfBlock));
    EXPECT_EQ(bitmap, "untouched");
    EXPECT_EQ(wrapper().GetLastError(), "CBT unavailable");
    EXPECT_EQ(wrapper().GetLastErrorCode(), 10300200);

    SetKnownLastError();
    Answer("POST", CbtLink(), "this is not JSON");
    EXPECT_FALSE(wrapper().QueryDiskCBT(Disk().urn, "u", "", "t", bitmap, sectorOfBlock));
    EXPECT_EQ(bitmap, "untouched");
    EXPECT_EQ(wrapper().GetLastError(), "Could not read the VRM's answer to [" + CbtLink() + "]");
}

// ---------------------------------------------------------------------------------------------------
// Cancel from a second thread
// ---------------------------------------------------------------------------------------------------

TEST_F(FacadeBackupTest, CancelDuringTheSnapshotTaskWaitEndsTheCallAndDeletesTheSnapshot) {
    const size_t snapshotsBefore = vm_.snapshots.size();
    // The first pause of the wait holds the call until the second thread has cancelled it.
    std::promise<void> paused, cancelled;
    std::shared_future<void> cancelledFuture = cancelled.get_future().share();
    std::once_flag first;
    clock().OnPause([&](unsigned int) {
        std::call_once(first, [&] {
            paused.set_value();
            cancelledFuture.wait();
        });
    });
    SSnapshotInfoLib snapshot;
    bool result = true;
    std::thread call([&] {
        result = wrapper().CreateVMSnapshot(vm_, "cancelled", "", false, true, true, true, snapshot);
    });
    paused.get_future().wait();
    std::thread canceller([&] { wrapper().Cancel(); });
    canceller.join();
    cancelled.set_value();
    call.join();
    clock().OnPause(nullptr);

    EXPECT_FALSE(result);
    EXPECT_THAT(wrapper().GetLastError(),
                ::testing::StartsWith("Cancelled; the new snapshot " + snapshot.urn + " was deleted again"));
    ASSERT_FALSE(snapshot.urn.empty()) << "the record names what the VRM created";
    EXPECT_EQ(Sent("DELETE", snapshot.uri).size(), 1u);
    EXPECT_EQ(server().sim().FindVm(vm_.urn)->snapshotUrns.size(), snapshotsBefore);
    // The cancel ended that call only.
    SVMInfoLib again;
    EXPECT_TRUE(wrapper().GetVMInfo("", vm_.urn, "", again, fc::MIN_VM_PROPS)) << wrapper().GetLastError();
}

TEST_F(FacadeBackupTest, CancelDuringASlowChangedBlockPageAbortsTheTransfer) {
    vrmsim::Fault stall;
    stall.kind = vrmsim::FaultKind::Stall;
    stall.method = "POST";
    stall.path = CbtLink();
    stall.ms = 60000;
    server().AddFault(stall);
    std::string bitmap = "untouched";
    int sectorOfBlock = 0;
    bool result = true;
    const auto started = std::chrono::steady_clock::now();
    std::thread call([&] {
        result = wrapper().QueryDiskAllocatedBlocks(Disk().urn, Snapshot(0).urn, bitmap, sectorOfBlock);
    });
    // Cancel once the page is on its way (the simulator has recorded the request).
    while (Sent("POST", CbtLink()).empty()) std::this_thread::yield();
    std::thread([&] { wrapper().Cancel(); }).join();
    call.join();
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count();

    EXPECT_FALSE(result);
    EXPECT_EQ(wrapper().GetLastError(), "Cancelled");
    EXPECT_EQ(bitmap, "untouched");
    EXPECT_LT(tookMs, 5000) << "the stalled page was not aborted";
    EXPECT_TRUE(clock().Pauses().empty());
}

TEST_F(FacadeBackupTest, AllocatedBlocksAskWithAnEmptyChangeIdOfTheSnapshotItself) {
    Patch(DiskUri(), json::object{{"quantityGB", 0}});
    Answer("POST", CbtLink(), Page(128, 16, "ff00"));
    const fc::SDiskSnapshotInfoLib current = DiskSnapshot(1);

    std::string bitmap;
    int sectorOfBlock = 0;
    ASSERT_TRUE(wrapper().QueryDiskAllocatedBlocks(Disk().urn, Snapshot(1).urn, bitmap, sectorOfBlock))
        << wrapper().GetLastError();

    json::object body = OnlyBody("POST", CbtLink());
    EXPECT_EQ(body.at("chgID"), json::value(""));
    EXPECT_EQ(body.at("snapUuid"), json::value(current.snapUuid));
    EXPECT_EQ(body.at("volCBTCreateTime"), json::value(current.volCBTCreateTime));
    EXPECT_EQ(bitmap, "ff00");
}

TEST_F(FacadeBackupTest, ChangedBlocksCompareTheCurrentDiskSnapshotWithTheToken) {
    std::string token;
    ASSERT_TRUE(wrapper().GetDiskChangeToken(Disk().urn, Snapshot(0).urn, token));
    Patch(DiskUri(), json::object{{"quantityGB", 0}});
    Answer("POST", CbtLink(), Page(128, 8, "0f"));
    server().ClearRequests();

    std::string bitmap;
    int sectorOfBlock = 0;
    ASSERT_TRUE(wrapper().QueryDiskChangedBlocks(Disk().urn, Snapshot(1).urn, token, bitmap, sectorOfBlock))
        << wrapper().GetLastError();

    json::object body = OnlyBody("POST", CbtLink());
    EXPECT_EQ(body.at("chgID"), json::value(DiskSnapshot(0).chgID));
    EXPECT_EQ(body.at("volCBTCreateTime"), json::value(DiskSnapshot(0).volCBTCreateTime));
    EXPECT_EQ(body.at("snapUuid"), json::value(DiskSnapshot(1).snapUuid));

    EXPECT_FALSE(
        wrapper().QueryDiskChangedBlocks(Disk().urn, Snapshot(1).urn, "garbage", bitmap, sectorOfBlock));
    EXPECT_EQ(Sent("POST", CbtLink()).size(), 1u);
}

// ---------------------------------------------------------------------------------------------------
// Disk access
// ---------------------------------------------------------------------------------------------------

TEST_F(FacadeBackupTest, PrepareDiskAccessHandsOutTheReadyResource) {
    Answer("POST", DiskUri() + "/backupresources",
           json::serialize(json::object{{"taskUrn", TaskUrn(77)}, {"taskUri", TaskUri(77)}}));
    Answer("GET", ResourceUri(77), Resource("running"));
    Answer("GET", ResourceUri(77), Resource("success"));

    std::string resourceUri, hostIP, hostPort, token, targetFile;
    ASSERT_TRUE(wrapper().PrepareDiskAccess(Disk().urn, Snapshot(1).urn, "10.0.0.9", false, resourceUri,
                                            hostIP, hostPort, token, targetFile))
        << wrapper().GetLastError();

    EXPECT_EQ(OnlyBody("POST", DiskUri() + "/backupresources"), (json::object{{"delay", 150},
                                                                              {"taskType", "CBTBackup"},
                                                                              {"ip", "10.0.0.9"},
                                                                              {"snapUrn2", Snapshot(1).urn},
                                                                              {"transMode", "lan"}}));
    EXPECT_EQ(resourceUri, ResourceUri(77));
    EXPECT_EQ(hostIP, "192.168.40.11");
    EXPECT_EQ(hostPort, "10809");
    EXPECT_EQ(token, "tok-123");
    EXPECT_EQ(targetFile, "/dev/vol-1");
    EXPECT_THAT(clock().Pauses(), ElementsAre(5000));
}

TEST_F(FacadeBackupTest, ResourceNotReadyWithinSixtySecondsIsReleased) {
    Answer("POST", DiskUri() + "/backupresources",
           json::serialize(json::object{{"taskUrn", TaskUrn(78)}, {"taskUri", TaskUri(78)}}));
    Answer("GET", ResourceUri(78), Resource("running"), -1);
    Answer("DELETE", ResourceUri(78), "{}");

    std::string resourceUri = "kept", hostIP, hostPort, token, targetFile;
    EXPECT_FALSE(wrapper().PrepareDiskAccess(Disk().urn, "", "10.0.0.9", true, resourceUri, hostIP, hostPort,
                                             token, targetFile));

    EXPECT_EQ(resourceUri, "kept");
    std::vector<vrmsim::RecordedRequest> deletes = Sent("DELETE", ResourceUri(78));
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes.front().body, "");
    // Polled every 5 seconds until more than 60 seconds have passed.
    EXPECT_THAT(clock().Pauses(), Each(5000u));
    EXPECT_EQ(clock().Pauses().size(), 13u);
    EXPECT_GT(clock().ElapsedMs(), 60000u);
    // A restore names no snapshot.
    EXPECT_EQ(
        OnlyBody("POST", DiskUri() + "/backupresources"),
        (json::object{{"delay", 150}, {"taskType", "CBTRestore"}, {"ip", "10.0.0.9"}, {"transMode", "lan"}}));
}

TEST_F(FacadeBackupTest, ReleaseOfAResourceThatStaysReadableEndsAfterTenReads) {
    fcsdk_test::LogCapture log(2);
    Answer("GET", ResourceUri(80), Resource("success"), -1);
    Answer("DELETE", ResourceUri(80), "{}");

    EXPECT_TRUE(wrapper().ReleaseDiskAccess(ResourceUri(80))) << wrapper().GetLastError();

    EXPECT_EQ(Sent("DELETE", ResourceUri(80)).size(), 1u);
    EXPECT_EQ(Sent("GET", ResourceUri(80)).size(), 11u) << "one read before the release, ten after";
    EXPECT_EQ(clock().Pauses(), std::vector<unsigned int>(10, 5000));
    EXPECT_EQ(
        log.Count("bool FusionComputeSDKWrapper::CFusionComputeWrapper::ReleaseDiskAccess(const string&) - "
                  "Backup resource [" +
                  ResourceUri(80) + "] still exists, waiting"),
        10u)
        << log.Text();
}

TEST_F(FacadeBackupTest, ReleaseEndsAtTheFirstReadThatFindsTheResourceGone) {
    Answer("GET", ResourceUri(81), Resource("success"), 3);
    Answer("DELETE", ResourceUri(81), "{}");
    Fail("GET", ResourceUri(81), 1, "10300306", "The backup resource does not exist.", 404);

    EXPECT_TRUE(wrapper().ReleaseDiskAccess(ResourceUri(81)));

    EXPECT_THAT(clock().Pauses(), ElementsAre(5000, 5000));
    EXPECT_EQ(Sent("GET", ResourceUri(81)).size(), 4u);
    // The read that found it gone left its error body behind, although the release succeeded.
    EXPECT_EQ(wrapper().GetLastErrorCode(), 10300306);
}

TEST_F(FacadeBackupTest, ReleaseRefusedByTheVrmFails) {
    Answer("GET", ResourceUri(82), Resource("success"));
    Fail("DELETE", ResourceUri(82), 1, "10300307", "Resource is in use.");

    EXPECT_FALSE(wrapper().ReleaseDiskAccess(ResourceUri(82)));
    EXPECT_EQ(wrapper().GetLastError(), "Resource is in use.");
    EXPECT_TRUE(clock().Pauses().empty());
}

TEST_F(FacadeBackupTest, ValidateAndExtendReadTheResourceFirst) {
    Answer("GET", ResourceUri(83), Resource("success"), 2);
    Answer("PUT", ResourceUri(83), "{}");

    EXPECT_TRUE(wrapper().ValidateDiskAccess(ResourceUri(83)));
    EXPECT_TRUE(wrapper().ExtendDiskAccess(ResourceUri(83), 600)) << wrapper().GetLastError();
    EXPECT_EQ(OnlyBody("PUT", ResourceUri(83)), (json::object{{"delay", 600}}));

    Fail("GET", ResourceUri(84), 2, "10300306", "The backup resource does not exist.", 404);
    EXPECT_FALSE(wrapper().ValidateDiskAccess(ResourceUri(84)));
    EXPECT_EQ(wrapper().GetLastError(), "The backup resource does not exist.");
    EXPECT_FALSE(wrapper().ExtendDiskAccess(ResourceUri(84), 600));
    EXPECT_TRUE(Sent("PUT", ResourceUri(84)).empty());
}

// ---------------------------------------------------------------------------------------------------
// A backup as a backup product runs it, against the simulator's own snapshots, change tracking and
// backup resources (no scripted answers)
// ---------------------------------------------------------------------------------------------------

// The blocks whose bits are set in a bitmap of the VRM's encoding: two hexadecimal digits per byte, byte k
// for blocks 8k to 8k+7, the least significant bit for block 8k. Decoding is the caller's business; a
// backup product does this to find the extents it must copy.
std::set<uint64_t> SetBlocks(const std::string& bitmap) {
    std::set<uint64_t> blocks;
    for (size_t k = 0; 2 * k + 1 < bitmap.size(); ++k) {
        const unsigned value = static_cast<unsigned>(std::stoul(bitmap.substr(2 * k, 2), nullptr, 16));
        for (unsigned bit = 0; bit < 8; ++bit) {
            if (value & (1u << bit)) blocks.insert(8 * k + bit);
        }
    }
    return blocks;
}

class FacadeBackupFlowTest : public fcsdk_test::FacadeSimTest {
  protected:
    void SetUp() override {
        FacadeSimTest::SetUp();
        // A released resource is still readable twice, as a busy VRM shows it.
        Control("PUT", "/_sim/backup", R"({"releaseReads": 2})");
    }

    static std::string VolumeId(const std::string& urn) { return urn.substr(urn.rfind(':') + 1); }
    // Each request to the simulator's control side comes on a TLS connection of its own.
    boost::json::value SimControl(const std::string& method, const std::string& path,
                                  const std::string& body = "") {
        ++controlConnections_;
        return Control(method, path, body);
    }
    boost::json::value History(const std::string& volumeUrn) {
        return SimControl("GET", "/_sim/volumes/" + VolumeId(volumeUrn) + "/cbt");
    }
    // TLS connections the simulator accepted from the wrapper since `before`.
    uint64_t WrapperConnectionsSince(uint64_t before) const {
        return server().Stats().tlsConnections - before - controlConnections_;
    }

    uint64_t controlConnections_ = 0;

    // Reads a disk through a backup resource as a backup product would: open, check, extend, close.
    void CopyDisk(const std::string& volumeUrn, const std::string& snapshotUrn) {
        std::string resourceUri, hostIP, hostPort, token, targetFile;
        ASSERT_TRUE(wrapper().PrepareDiskAccess(volumeUrn, snapshotUrn, "192.168.40.200", false, resourceUri,
                                                hostIP, hostPort, token, targetFile))
            << wrapper().GetLastError();
        EXPECT_FALSE(hostIP.empty());
        EXPECT_FALSE(hostPort.empty());
        EXPECT_FALSE(token.empty());
        EXPECT_FALSE(targetFile.empty());
        EXPECT_TRUE(wrapper().ValidateDiskAccess(resourceUri)) << wrapper().GetLastError();
        EXPECT_TRUE(wrapper().ExtendDiskAccess(resourceUri, 600)) << wrapper().GetLastError();
        clock().ClearPauses();
        ASSERT_TRUE(wrapper().ReleaseDiskAccess(resourceUri)) << wrapper().GetLastError();
        // Two reads still found it, the third did not.
        EXPECT_THAT(clock().Pauses(), ElementsAre(5000, 5000));
        EXPECT_FALSE(wrapper().ValidateDiskAccess(resourceUri));
    }
};

TEST_F(FacadeBackupFlowTest, FullThenIncrementalBackupFindsExactlyTheWrittenBlocks) {
    const uint64_t connectionsBefore = server().Stats().tlsConnections;
    const SVMInfoLib vm = SeededVM("vm-0005");
    ASSERT_EQ(vm.disks.size(), 2u);
    ASSERT_TRUE(vm.snapshots.empty());

    // Full backup: snapshot, allocated blocks and change token of every disk, disk copy, snapshot gone.
    SSnapshotInfoLib full;
    ASSERT_TRUE(wrapper().CreateVMSnapshot(vm, "full", "full backup", false, true, true, true, full))
        << wrapper().GetLastError();
    ASSERT_EQ(full.volsnapshots.size(), 2u);
    std::vector<std::string> tokens;
    // The first page of the first disk finds its connection closed without an answer: a page only reads,
    // so it is asked again on a new connection.
    vrmsim::Fault close;
    close.kind = vrmsim::FaultKind::Close;
    close.path = UriOf(vm.disks[0].urn) + "/getcbt";
    server().AddFault(close);
    for (const fc::SDiskInfoLib& disk : vm.disks) {
        std::string bitmap;
        int sectorOfBlock = 0;
        ASSERT_TRUE(wrapper().QueryDiskAllocatedBlocks(disk.urn, full.urn, bitmap, sectorOfBlock))
            << wrapper().GetLastError();
        const json::value history = History(disk.urn);
        EXPECT_EQ(sectorOfBlock, history.at("sectorOfBlock").as_int64());
        // What the volume held before tracking began counts as allocated, from block 0 on.
        const std::set<uint64_t> allocated = SetBlocks(bitmap);
        const uint64_t expected = static_cast<uint64_t>(history.at("allocatedBeforeTracking").as_int64());
        EXPECT_GT(expected, 0u) << "a seeded disk holds data";
        ASSERT_EQ(allocated.size(), expected) << disk.urn;
        if (!allocated.empty()) {
            EXPECT_EQ(*allocated.rbegin(), expected - 1) << disk.urn;
        }
        // The bitmap covers the whole disk: one bit per block.
        EXPECT_EQ(bitmap.size(), static_cast<size_t>(history.at("blocks").as_int64() / 4)) << disk.urn;

        std::string token;
        ASSERT_TRUE(wrapper().GetDiskChangeToken(disk.urn, full.urn, token)) << wrapper().GetLastError();
        tokens.push_back(token);
        CopyDisk(disk.urn, full.urn);
    }
    ASSERT_TRUE(wrapper().DeleteVMSnapshot(vm, full)) << wrapper().GetLastError();

    // The guest writes: blocks 5 to 7 and 20000 of the first disk, nothing on the second.
    SimControl("POST", "/_sim/volumes/" + VolumeId(vm.disks[0].urn) + "/write",
               R"({"blocks":[{"start":5,"count":3},{"start":20000,"count":1}]})");

    // Incremental backup: new snapshot, blocks changed since the tokens of the full backup.
    SSnapshotInfoLib incremental;
    ASSERT_TRUE(
        wrapper().CreateVMSnapshot(vm.name, "", "", "incremental", "", false, true, true, true, incremental))
        << wrapper().GetLastError();
    server().ClearRequests();
    const std::vector<std::set<uint64_t>> written = {{5, 6, 7, 20000}, {}};
    for (size_t i = 0; i < vm.disks.size(); ++i) {
        std::string bitmap;
        int sectorOfBlock = 0;
        ASSERT_TRUE(wrapper().QueryDiskChangedBlocks(vm.disks[i].urn, incremental.urn, tokens[i], bitmap,
                                                     sectorOfBlock))
            << wrapper().GetLastError();
        EXPECT_EQ(SetBlocks(bitmap), written[i]) << vm.disks[i].urn;
        const uint64_t blocks = static_cast<uint64_t>(History(vm.disks[i].urn).at("blocks").as_int64());
        EXPECT_EQ(bitmap.size(), blocks / 4);
        // One request per page of 10000 blocks.
        EXPECT_EQ(Sent("POST", UriOf(vm.disks[i].urn) + "/getcbt").size(), (blocks + 9999) / 10000);

        std::string nextToken;
        ASSERT_TRUE(wrapper().GetDiskChangeToken(vm.disks[i].urn, incremental.urn, nextToken));
        EXPECT_NE(nextToken, tokens[i]) << "the next backup starts from the new snapshot";
        CopyDisk(vm.disks[i].urn, incremental.urn);
    }
    ASSERT_TRUE(wrapper().DeleteVMSnapshot("", "", vm.uuid, incremental)) << wrapper().GetLastError();

    SVMInfoLib after;
    ASSERT_TRUE(wrapper().GetVMInfo("", "", vm.uuid, after, fc::VM_PROP_VM_SNAPSHOT_LIST));
    EXPECT_TRUE(after.snapshots.empty());
    // Every pause was a task or resource poll; no deletion needed a retry.
    EXPECT_THAT(clock().Pauses(), Each(5000u));
    // Both backups, writes and changed-block pages included, went over the session's connection; the
    // one new connection is the resent page's.
    EXPECT_EQ(WrapperConnectionsSince(connectionsBefore), 1u);
}

}  // namespace
