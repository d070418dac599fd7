// Tests of the simulator's state-changing side over real TLS: tasks, snapshots and their limits,
// changed-block pages and their encoding, writes followed by changed-block queries, backup resources,
// VM power states, VM, volume and datastore management, OVF descriptors and reset. Raw requests go
// through libcurl (status codes and error bodies); whole flows go through the library's facade on the
// fake clock.

#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <strings.h>

#include <boost/json.hpp>

#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Cbt.h"
#include "FacadeSimFixture.h"
#include "Ovf.h"
#include "RawClient.h"

namespace {

namespace fc = FusionComputeSDKWrapper;
namespace json = boost::json;
using fc::SSnapshotInfoLib;
using fc::SVMInfoLib;
using ::testing::HasSubstr;

using Reply = fcsdk_test::RawReply;
using Client = fcsdk_test::RawClient;

/// Bits of a joined bitmap text (pages of whole bytes, except the last).
std::vector<bool> DecodeBitmap(const std::string& hex, std::size_t bits) {
    auto digit = [&](std::size_t index) {
        char c = hex.at(index);
        return c <= '9' ? c - '0' : c - 'a' + 10;
    };
    std::vector<bool> out(bits);
    const bool shortTail = bits % 8 != 0 && bits % 8 <= 4;
    for (std::size_t b = 0; b < bits; ++b) {
        std::size_t byte = b / 8;
        bool lastShort = shortTail && byte == bits / 8;
        std::size_t index = lastShort ? 2 * byte : 2 * byte + (b % 8 < 4 ? 1 : 0);
        out[b] = ((digit(index) >> (b % 4)) & 1) != 0;
    }
    return out;
}

std::set<std::uint64_t> SetBits(const std::vector<bool>& bits) {
    std::set<std::uint64_t> set;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i]) set.insert(i);
    }
    return set;
}

// ---------------------------------------------------------------------------------------------------
// The encoding and the sparse block sets, without a server.
// ---------------------------------------------------------------------------------------------------

TEST(CbtEncodingTest, BytesAreLowBlockFirstAndAShortTailIsOneDigit) {
    struct Case {
        std::vector<std::uint8_t> bits;
        std::uint64_t bitNum;
        const char* text;
    };
    const std::vector<Case> cases = {
        {{}, 0, ""},
        {{0x01}, 1, "1"},
        {{0x01}, 8, "01"},
        {{0x80}, 8, "80"},
        {{0x0f}, 4, "f"},
        {{0x1f}, 5, "1f"},
        {{0xc1, 0x03}, 10, "c13"},  // blocks 0, 6, 7, 8, 9
        {{0xc1, 0x13}, 13, "c113"},
        {{0xab, 0xcd, 0xef}, 24, "abcdef"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vrmsim::EncodeBitmap(c.bits, c.bitNum), c.text) << c.bitNum;
        EXPECT_EQ(std::string(c.text).size(), (c.bitNum + 3) / 4);
    }
}

TEST(CbtEncodingTest, BlockSetMergesRunsAndPaintsLikeAPlainBitmap) {
    vrmsim::BlockSet set;
    set.Add(0, 4);
    set.Add(4, 4);
    set.Add(20, 5);
    set.Add(10, 11);  // touches [20, 25): one run 10..24
    EXPECT_EQ(set.Runs(), 2u);
    EXPECT_EQ(set.Count(), 23u);

    std::mt19937 random(7);
    vrmsim::BlockSet sparse;
    std::vector<bool> plain(5000);
    for (int i = 0; i < 300; ++i) {
        std::uint64_t start = random() % 4990;
        std::uint64_t count = 1 + random() % 9;
        sparse.Add(start, count);
        for (std::uint64_t b = start; b < start + count; ++b) plain[b] = true;
    }
    std::uint64_t expectedCount = 0;
    for (bool bit : plain) expectedCount += bit ? 1 : 0;
    EXPECT_EQ(sparse.Count(), expectedCount);
    for (int window = 0; window < 200; ++window) {
        std::uint64_t first = random() % 5000;
        std::uint64_t count = 1 + random() % (5000 - first);
        vrmsim::CbtPage page = vrmsim::MakePage({&sparse}, first, count);
        std::vector<bool> decoded = DecodeBitmap(page.bitMap, count);
        std::uint64_t ones = 0;
        for (std::uint64_t i = 0; i < count; ++i) {
            ASSERT_EQ(decoded[i], plain[first + i]) << "block " << first + i << " in window at " << first;
            ones += plain[first + i] ? 1 : 0;
        }
        EXPECT_EQ(page.bit1Num, ones);
        EXPECT_EQ(page.bitNum, count);
    }
}

TEST(CbtEncodingTest, AFailedSnapshotsBlocksMoveToTheNextMark) {
    vrmsim::VolumeCbt history;
    history.open.Add(1, 1);
    history.AddMark("c1", "s1");
    history.open.Add(2, 1);
    history.AddMark("c2", "s2");
    history.open.Add(3, 1);
    history.RemoveMark("c2");  // block 2 now belongs to the open blocks with block 3
    ASSERT_EQ(history.marks.size(), 1u);
    EXPECT_EQ(history.open.Count(), 2u);
    history.AddMark("c3", "s3");
    history.RemoveMark("c1");  // block 1 moves into c3
    ASSERT_EQ(history.marks.size(), 1u);
    EXPECT_EQ(history.marks[0].written.Count(), 3u);
    EXPECT_EQ(history.FindSnapshot("s3"), 0);
    EXPECT_EQ(history.FindChange("c1"), -1);
}

TEST(OvfXmlTest, ParsesElementsAttributesEntitiesAndRefusesBrokenText) {
    vrmsim::XmlElement root;
    std::string error;
    ASSERT_TRUE(vrmsim::ParseXml(
        "<?xml version=\"1.0\"?><!-- c --><a:Root x:k='v &amp; w'><B>t&lt;1&gt;</B><B/><C>&#65;</C></a:Root>",
        root, error))
        << error;
    EXPECT_EQ(root.LocalName(), "Root");
    EXPECT_EQ(root.Attribute("k"), "v & w");
    ASSERT_EQ(root.Children("B").size(), 2u);
    EXPECT_EQ(root.Child("B")->text, "t<1>");
    EXPECT_EQ(root.Child("C")->text, "A");
    for (const char* bad : {"", "<a>", "<a></b>", "<a x=1/>", "<a>&bogus;</a>", "<a/><b/>", "text"}) {
        EXPECT_FALSE(vrmsim::ParseXml(bad, root, error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(vrmsim::XmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&apos;");
}

// ---------------------------------------------------------------------------------------------------
// Over the wire.
// ---------------------------------------------------------------------------------------------------

class VrmsimBackupTest : public fcsdk_test::WithRawClient<fcsdk_test::FacadeSimTest> {
  protected:
    Client& raw() { return *client_; }
    std::string VmUri(const std::string& name) { return UriOf(VmUrn(name)); }
    std::string VmUrn(const std::string& name) { return Vm(name).urn; }
    vrmsim::VmState Vm(const std::string& name) {
        for (const vrmsim::VmState& vm : server().sim().Vms()) {
            if (vm.name == name) return vm;
        }
        ADD_FAILURE() << "no VM " << name;
        return vrmsim::VmState();
    }
    /// The k-th volume (0-based) of a VM.
    vrmsim::VolumeState VolumeOf(const std::string& vmName, std::size_t k = 0) {
        return server().sim().FindVolume(Vm(vmName).volumeUrns.at(k)).value_or(vrmsim::VolumeState());
    }
    /// Changes a volume (size, used space) before a test uses it.
    void ShapeVolume(const std::string& urn, int quantityGB, std::int64_t usedMB) {
        ASSERT_TRUE(server().sim().ShapeVolume(urn, quantityGB, usedMB)) << urn;
    }
    std::string VmStatus(const std::string& name) { return Vm(name).status; }

    void Settings(const json::object& settings) {
        Reply reply = raw().Put("/_sim/backup", settings);
        ASSERT_EQ(reply.status, 200) << reply.body;
    }
    void Outcome(const json::object& rule) {
        Reply reply = raw().Post("/_sim/outcomes", rule);
        ASSERT_EQ(reply.status, 200) << reply.body;
    }
    Reply Write(const vrmsim::VolumeState& volume, const json::object& body) {
        return raw().Post("/_sim/volumes/" + std::to_string(volume.id) + "/write", body);
    }

    /// Polls a task until it ends; returns every answer.
    std::vector<json::object> PollTask(const std::string& taskUri, int most = 50) {
        std::vector<json::object> answers;
        for (int i = 0; i < most; ++i) {
            Reply reply = raw().Get(taskUri);
            EXPECT_EQ(reply.status, 200) << reply.body;
            answers.push_back(reply.Object());
            std::string status = reply.Str("status");
            if (status == "success" || status == "failed" || reply.status != 200) break;
        }
        return answers;
    }
    /// Sends a request that starts a task and waits for it; returns the start answer.
    Reply Run(const std::string& method, const std::string& path, const json::value& body) {
        Reply start = raw().Send(method, path, body.is_null() ? std::string() : json::serialize(body));
        EXPECT_EQ(start.status, 200) << method << " " << path << ": " << start.body;
        if (start.status == 200) {
            std::vector<json::object> polls = PollTask(start.Str("taskUri"));
            EXPECT_EQ(polls.back().at("status"), json::value("success")) << json::serialize(polls.back());
        }
        return start;
    }
    Reply Snapshot(const std::string& vmName, const std::string& type, const std::string& name = "snap") {
        return Run("POST", VmUri(vmName) + "/snapshots",
                   json::object{{"name", name},
                                {"description", ""},
                                {"needMemoryShot", false},
                                {"isConsistent", true},
                                {"type", type}});
    }
    json::object DiskSnapshot(const std::string& snapshotUri, const std::string& volumeUrn) {
        json::object snapshot = raw().Get(snapshotUri).Object();
        for (const auto& entry : snapshot.at("volsnapshots").as_array()) {
            if (entry.at("volumeUrn") == json::value(volumeUrn)) return entry.as_object();
        }
        ADD_FAILURE() << "no disk snapshot of " << volumeUrn << " in " << json::serialize(snapshot);
        return json::object();
    }
    static void ExpectError(const Reply& reply, long status, const std::string& code) {
        EXPECT_EQ(reply.status, status) << reply.body;
        EXPECT_EQ(reply.Str("errorCode"), code) << reply.body;
        EXPECT_FALSE(reply.Str("errorDes").empty()) << reply.body;
    }
    Reply GetCbt(const vrmsim::VolumeState& volume, const json::object& disk, const std::string& chgID,
                 std::int64_t startBlock) {
        return raw().Post(volume.uri + "/getcbt",
                          json::object{{"type", "DiffBitmapAndBit1Num"},
                                       {"volCBTCreateTime", disk.at("volCBTCreateTime")},
                                       {"chgID", chgID},
                                       {"snapUuid", disk.at("snapUuid")},
                                       {"startBlock", startBlock},
                                       {"blockNum", 10000}});
    }
};

// ---- tasks ----------------------------------------------------------------------------------------

TEST_F(VrmsimBackupTest, TaskRunsForTheConfiguredPollsWithRisingProgress) {
    Settings({{"taskPolls", 4}});
    Reply start =
        raw().Post(VmUri("vm-0001") + "/snapshots", json::object{{"name", "s"}, {"type", "normal"}});
    ASSERT_EQ(start.status, 200) << start.body;
    const std::string snapshotUri = start.Str("uri");
    EXPECT_EQ(raw().Get(snapshotUri).Str("status"), "creating");

    std::vector<json::object> polls = PollTask(start.Str("taskUri"));
    ASSERT_EQ(polls.size(), 4u);
    const std::vector<int> progress = {25, 50, 75, 100};
    for (std::size_t i = 0; i < polls.size(); ++i) {
        EXPECT_EQ(polls[i].at("status"), json::value(i + 1 < polls.size() ? "running" : "success")) << i;
        EXPECT_EQ(polls[i].at("progress"), json::value(progress[i])) << i;
        EXPECT_EQ(polls[i].at("entityUrn"), json::value(VmUrn("vm-0001")));
    }
    EXPECT_EQ(raw().Get(snapshotUri).Str("status"), "ready");
    json::object tree = raw().Get(VmUri("vm-0001") + "/snapshots").Object();
    EXPECT_EQ(tree.at("currentSnapshot").at("uri"), json::value(snapshotUri));
    // An ended task stays ended.
    EXPECT_EQ(raw().Get(start.Str("taskUri")).Str("status"), "success");
}

TEST_F(VrmsimBackupTest, OutcomeRuleFailsTheNextMatchingTaskAndItsWorkIsUndone) {
    const std::string path = VmUri("vm-0002") + "/snapshots";
    Outcome(
        {{"path", path}, {"fail", true}, {"polls", 1}, {"reason", "10300200"}, {"reasonDes", "Disk busy."}});
    Reply start = raw().Post(path, json::object{{"name", "doomed"}, {"type", "CBTbackup"}});
    ASSERT_EQ(start.status, 200) << start.body;

    std::vector<json::object> polls = PollTask(start.Str("taskUri"));
    ASSERT_EQ(polls.size(), 1u);
    EXPECT_EQ(polls[0].at("status"), json::value("failed"));
    EXPECT_EQ(polls[0].at("reason"), json::value("10300200"));
    EXPECT_EQ(polls[0].at("reasonDes"), json::value("Disk busy."));
    ExpectError(raw().Get(start.Str("uri")), 404, "10300006");
    // The rule is used up: the next snapshot works, and its history has no mark of the failed one.
    Reply next = Snapshot("vm-0002", "CBTbackup");
    Reply history = raw().Get("/_sim/volumes/" + std::to_string(VolumeOf("vm-0002").id) + "/cbt");
    EXPECT_EQ(history.Object().at("marks").as_array().size(), 4u) << history.body;  // A, C, B and the new one
    EXPECT_EQ(raw().Get("/_sim/outcomes").Object().at("outcomes").as_array().size(), 0u);
}

TEST_F(VrmsimBackupTest, NeverEndingTaskKeepsRunning) {
    Outcome({{"never", true}});
    Reply start = raw().Post(VmUri("vm-0004") + "/action/start", json::object());
    ASSERT_EQ(start.status, 400) << "vm-0004 runs already";
    start = raw().Post(VmUri("vm-0003") + "/action/start", json::object());
    ASSERT_EQ(start.status, 200) << start.body;
    std::vector<json::object> polls = PollTask(start.Str("taskUri"), 20);
    EXPECT_EQ(polls.size(), 20u);
    EXPECT_EQ(polls.back().at("status"), json::value("running"));
    EXPECT_EQ(VmStatus("vm-0003"), "starting");
}

TEST(VrmsimTimedTaskTest, TaskEndsByTheSimulatorsClock) {
    std::atomic<std::int64_t> now{1800000000};
    vrmsim::Options options;
    options.clock = [&now] { return now.load(); };
    fcsdk_test::SimServer server(options);
    ASSERT_TRUE(server.ok()) << server.error();
    Client client(server);
    ASSERT_TRUE(client.LogIn(server));
    ASSERT_EQ(client.Put("/_sim/backup", json::object{{"taskSeconds", 30}}).status, 200);
    Reply start = client.Post(server.siteUri() + "/vms/i-00000003/action/start", json::object());
    ASSERT_EQ(start.status, 200) << start.body;
    const std::string task = start.Str("taskUri");

    EXPECT_EQ(client.Get(task).Str("status"), "running");
    now += 15;
    json::object half = client.Get(task).Object();
    EXPECT_EQ(half.at("status"), json::value("running"));
    EXPECT_EQ(half.at("progress"), json::value(50));
    now += 15;
    json::object done = client.Get(task).Object();
    EXPECT_EQ(done.at("status"), json::value("success"));
    EXPECT_EQ(done.at("finishTime"), json::value("2027-01-15 08:00:30"));
}

// ---- snapshots ------------------------------------------------------------------------------------

TEST_F(VrmsimBackupTest, SnapshotsOfEachTypeStopAtTheLimit) {
    Settings({{"taskPolls", 0}});
    const std::string path = VmUri("vm-0004") + "/snapshots";
    for (int i = 0; i < 32; ++i) {
        Reply reply = raw().Post(path, json::object{{"name", "b" + std::to_string(i)}, {"type", "backup"}});
        ASSERT_EQ(reply.status, 200) << i << ": " << reply.body;
    }
    ExpectError(raw().Post(path, json::object{{"name", "b32"}, {"type", "backup"}}), 400, "10300110");
    // The limit counts per type.
    EXPECT_EQ(raw().Post(path, json::object{{"name", "n"}, {"type", "normal"}}).status, 200);
    EXPECT_EQ(raw().Post(path, json::object{{"name", "c"}, {"type", "CBTbackup"}}).status, 200);

    Settings({{"snapshotLimit", 1}});
    ExpectError(raw().Post(path, json::object{{"name", "n2"}, {"type", "normal"}}), 400, "10300110");
}

TEST_F(VrmsimBackupTest, SnapshotRequestsAreChecked) {
    const std::string running = VmUri("vm-0004") + "/snapshots";
    ExpectError(raw().Post(running, json::object{{"name", "x"}, {"type", "incremental"}}), 400, "10100002");
    ExpectError(raw().Post(running, json::object{{"name", ""}, {"type", "normal"}}), 400, "10100002");
    ExpectError(
        raw().Post(running, json::object{{"name", "x"}, {"type", "normal"}, {"needMemoryShot", "yes"}}), 400,
        "10100002");
    ExpectError(raw().Post(VmUri("vm-0003") + "/snapshots",
                           json::object{{"name", "m"}, {"type", "normal"}, {"needMemoryShot", true}}),
                400, "10400010");
    ExpectError(raw().Post(VmUri("tpl-01") + "/snapshots", json::object{{"name", "t"}, {"type", "normal"}}),
                400, "10400010");
    ExpectError(raw().Post(SiteUri() + "/vms/i-0000FFFF/snapshots", json::object{{"name", "x"}}), 404,
                "10300006");
    // One snapshot task at a time: the second is refused with the retryable code while the first runs.
    ASSERT_EQ(raw().Post(running, json::object{{"name", "first"}, {"type", "normal"}}).status, 200);
    ExpectError(raw().Post(running, json::object{{"name", "second"}, {"type", "normal"}}), 409, "10300025");
}

TEST_F(VrmsimBackupTest, SnapshotTreeFollowsCreationAndDeletion) {
    // vm-0001: A (child C) and B, B current.
    json::object tree = raw().Get(VmUri("vm-0001") + "/snapshots").Object();
    const std::string b = std::string(tree.at("currentSnapshot").at("urn").as_string());
    Reply d = Snapshot("vm-0001", "normal", "D");
    Reply e = Snapshot("vm-0001", "normal", "E");
    json::object dObject = raw().Get(d.Str("uri")).Object();
    EXPECT_EQ(dObject.at("parentUrn"), json::value(b));
    EXPECT_EQ(raw().Get(e.Str("uri")).Object().at("parentUrn"), json::value(d.Str("urn")));

    Run("DELETE", d.Str("uri"), nullptr);
    ExpectError(raw().Get(d.Str("uri")), 404, "10300006");
    EXPECT_EQ(raw().Get(e.Str("uri")).Object().at("parentUrn"), json::value(b)) << "E moves up to B";
    Run("DELETE", e.Str("uri"), nullptr);
    EXPECT_EQ(raw().Get(VmUri("vm-0001") + "/snapshots").Object().at("currentSnapshot").at("urn"),
              json::value(b));
    ExpectError(raw().Send("DELETE", e.Str("uri")), 404, "10300006");
}

TEST_F(VrmsimBackupTest, CbtSnapshotStartsTrackingAndGivesEveryDiskAChangeId) {
    const vrmsim::VolumeState volume = VolumeOf("vm-0005");
    ASSERT_TRUE(volume.volCBTCreateTime.empty());
    Reply normal = Snapshot("vm-0005", "normal");
    json::object untracked = DiskSnapshot(normal.Str("uri"), volume.urn);
    EXPECT_TRUE(untracked.at("chgID").is_null()) << json::serialize(untracked);
    EXPECT_FALSE(untracked.at("snapUuid").as_string().empty());

    Reply cbt = Snapshot("vm-0005", "CBTbackup");
    json::object snapshot = raw().Get(cbt.Str("uri")).Object();
    ASSERT_EQ(snapshot.at("volsnapshots").as_array().size(), 2u);
    std::set<std::string> ids;
    for (const auto& disk : snapshot.at("volsnapshots").as_array()) {
        EXPECT_TRUE(disk.at("chgID").is_string()) << json::serialize(disk);
        EXPECT_TRUE(disk.at("volCBTCreateTime").is_string());
        ids.insert(std::string(disk.at("chgID").as_string()));
    }
    EXPECT_EQ(ids.size(), 2u);
    EXPECT_EQ(raw().Get(volume.uri).Object().at("volCBTCreateTime"),
              snapshot.at("volsnapshots").at(0).at("volCBTCreateTime"));
    // Tracked now, so even a normal snapshot carries a chgID.
    Reply later = Snapshot("vm-0005", "normal");
    EXPECT_TRUE(DiskSnapshot(later.Str("uri"), volume.urn).at("chgID").is_string());
}

// ---- changed blocks -------------------------------------------------------------------------------

TEST_F(VrmsimBackupTest, OneGigabyteDiskAnswersTwoPagesOfSixtyFourKilobyteBlocks) {
    const vrmsim::VolumeState volume = VolumeOf("vm-0005");
    ShapeVolume(volume.urn, 1, 1);  // 1 MB used: blocks 0..15
    Reply s1 = Snapshot("vm-0005", "CBTbackup");
    ASSERT_EQ(Write(volume, {{"blocks", json::array{json::object{{"start", 9998}, {"count", 4}}}},
                             {"bytes", json::array{json::object{{"offset", 1073741823}, {"length", 1}}}}})
                  .status,
              200);
    Reply s2 = Snapshot("vm-0005", "CBTbackup");
    const json::object d1 = DiskSnapshot(s1.Str("uri"), volume.urn);
    const json::object d2 = DiskSnapshot(s2.Str("uri"), volume.urn);

    struct Query {
        const char* label;
        std::string chgID;
        std::set<std::uint64_t> blocks;
    };
    std::set<std::uint64_t> allocated{9998, 9999, 10000, 10001, 16383};
    for (std::uint64_t b = 0; b < 16; ++b) allocated.insert(b);
    const std::vector<Query> queries = {
        {"allocated", "", allocated},
        {"changed", std::string(d1.at("chgID").as_string()), {9998, 9999, 10000, 10001, 16383}},
        {"unchanged", std::string(d2.at("chgID").as_string()), {}},
    };
    for (const Query& q : queries) {
        SCOPED_TRACE(q.label);
        Reply first = GetCbt(volume, d2, q.chgID, 0);
        Reply second = GetCbt(volume, d2, q.chgID, 10000);
        ASSERT_EQ(first.status, 200) << first.body;
        ASSERT_EQ(second.status, 200) << second.body;
        json::object p1 = first.Object(), p2 = second.Object();
        EXPECT_EQ(p1.at("sectorOfBlock"), json::value(128));
        EXPECT_EQ(p1.at("bitNum"), json::value(10000));
        EXPECT_EQ(p2.at("bitNum"), json::value(6384));
        EXPECT_EQ(p1.at("bitMap").as_string().size(), 2500u);
        EXPECT_EQ(p2.at("bitMap").as_string().size(), 1596u);
        std::string joined =
            std::string(p1.at("bitMap").as_string()) + std::string(p2.at("bitMap").as_string());
        EXPECT_EQ(SetBits(DecodeBitmap(joined, 16384)), q.blocks);
        EXPECT_EQ(p1.at("bit1Num").as_int64() + p2.at("bit1Num").as_int64(),
                  static_cast<std::int64_t>(q.blocks.size()));
    }
    // Byte 1249 of the first page covers blocks 9992 to 9999: 9998 and 9999 are its two high bits.
    json::object page = GetCbt(volume, d2, std::string(d1.at("chgID").as_string()), 0).Object();
    EXPECT_EQ(std::string(page.at("bitMap").as_string()).substr(2498), "c0");
}

TEST_F(VrmsimBackupTest, ChangedBlockQueriesAreChecked) {
    const vrmsim::VolumeState volume = VolumeOf("vm-0005");
    const vrmsim::VolumeState untracked = VolumeOf("vm-0006");
    Reply s1 = Snapshot("vm-0005", "CBTbackup");
    Reply s2 = Snapshot("vm-0005", "CBTbackup");
    const json::object d1 = DiskSnapshot(s1.Str("uri"), volume.urn);
    const json::object d2 = DiskSnapshot(s2.Str("uri"), volume.urn);
    const std::string c2(d2.at("chgID").as_string());

    ExpectError(GetCbt(volume, d1, c2, 0), 400, "10420005");  // the token is newer than the snapshot
    ExpectError(GetCbt(volume, d2, "999999", 0), 400, "10420005");
    json::object otherSnap = d2;
    otherSnap["snapUuid"] = "not-a-snapshot";
    ExpectError(GetCbt(volume, otherSnap, "", 0), 404, "10420005");
    json::object restarted = d2;
    restarted["volCBTCreateTime"] = "1";
    ExpectError(GetCbt(volume, restarted, "", 0), 400, "10420005");
    ExpectError(GetCbt(untracked, d2, "", 0), 400, "10420001");
    ExpectError(GetCbt(volume, d2, "", 40LL * 16384), 400, "10100002");  // beyond the 40 GB disk

    const std::vector<std::pair<const char*, json::value>> wrongTypes = {
        {"startBlock", "0"}, {"blockNum", 10000.0}, {"chgID", 17}, {"type", "Bitmap"}, {"blockNum", 0}};
    for (const auto& [key, value] : wrongTypes) {
        json::object body{{"type", "DiffBitmapAndBit1Num"},
                          {"volCBTCreateTime", d2.at("volCBTCreateTime")},
                          {"chgID", ""},
                          {"snapUuid", d2.at("snapUuid")},
                          {"startBlock", 0},
                          {"blockNum", 10000}};
        body[key] = value;
        ExpectError(raw().Post(volume.uri + "/getcbt", body), 400, "10100002");
    }
}

TEST_F(VrmsimBackupTest, EmptyDiskAnswersOnePage) {
    const vrmsim::VolumeState volume = VolumeOf("vm-0005", 1);
    ShapeVolume(volume.urn, 0, 0);
    Reply s = Snapshot("vm-0005", "CBTbackup");
    std::string bitmap = "old";
    int sectorOfBlock = 0;
    ASSERT_TRUE(wrapper().QueryDiskAllocatedBlocks(volume.urn, s.Str("urn"), bitmap, sectorOfBlock))
        << wrapper().GetLastError();
    EXPECT_EQ(bitmap, std::string(2500, '0'));
    EXPECT_EQ(sectorOfBlock, 128);
    EXPECT_EQ(Sent("POST", volume.uri + "/getcbt").size(), 1u);
}

TEST_F(VrmsimBackupTest, WrittenBlocksAreTheChangedBlocksOfTheNextBackup) {
    const vrmsim::VolumeState volume = VolumeOf("vm-0007");
    ShapeVolume(volume.urn, 2, 3);  // 2 GB: 32768 blocks, four pages; 3 MB used: blocks 0..47
    SSnapshotInfoLib first;
    ASSERT_TRUE(wrapper().CreateVMSnapshot("vm-0007", "", "", "full", "", false, true, true, true, first))
        << wrapper().GetLastError();
    std::string token;
    ASSERT_TRUE(wrapper().GetDiskChangeToken(volume.urn, first.urn, token)) << wrapper().GetLastError();

    const std::set<std::uint64_t> written{5, 47, 48, 9999, 10000, 20001, 32767};
    json::array blocks;
    for (std::uint64_t b : written) blocks.push_back(json::object{{"start", b}, {"count", 1}});
    ASSERT_EQ(Write(volume, {{"blocks", blocks}}).status, 200);
    SSnapshotInfoLib second;
    ASSERT_TRUE(wrapper().CreateVMSnapshot("vm-0007", "", "", "incr", "", false, true, true, true, second));
    // Writes after the second snapshot belong to the next backup.
    ASSERT_EQ(Write(volume, {{"blocks", json::array{json::object{{"start", 100}, {"count", 50}}}}}).status,
              200);
    // The first snapshot may go: its change identifier stays valid.
    ASSERT_TRUE(wrapper().DeleteVMSnapshot(SVMInfoLib("vm-0007", "", ""), first)) << wrapper().GetLastError();
    server().ClearRequests();

    std::string bitmap;
    int sectorOfBlock = 0;
    ASSERT_TRUE(wrapper().QueryDiskChangedBlocks(volume.urn, second.urn, token, bitmap, sectorOfBlock))
        << wrapper().GetLastError();
    EXPECT_EQ(sectorOfBlock, 128);
    EXPECT_EQ(Sent("POST", volume.uri + "/getcbt").size(), 4u);
    ASSERT_EQ(bitmap.size(), 32768u / 4);
    EXPECT_EQ(SetBits(DecodeBitmap(bitmap, 32768)), written);

    ASSERT_TRUE(wrapper().QueryDiskAllocatedBlocks(volume.urn, second.urn, bitmap, sectorOfBlock));
    std::set<std::uint64_t> allocated = written;
    for (std::uint64_t b = 0; b < 48; ++b) allocated.insert(b);
    EXPECT_EQ(SetBits(DecodeBitmap(bitmap, 32768)), allocated);
}

TEST_F(VrmsimBackupTest, WriteEndpointChecksItsRanges) {
    const vrmsim::VolumeState volume = VolumeOf("vm-0001");  // 40 GB: 655360 blocks
    Reply ok = Write(volume, {{"bytes", json::array{json::object{{"offset", 65535}, {"length", 2}}}}});
    ASSERT_EQ(ok.status, 200) << ok.body;
    EXPECT_EQ(ok.Object().at("marked"), json::value(2)) << "the two bytes straddle blocks 0 and 1";
    EXPECT_EQ(ok.Object().at("blocks"), json::value(655360));
    EXPECT_EQ(Write(volume, {{"blocks", json::array{json::object{{"start", 655359}, {"count", 2}}}}}).status,
              400);
    EXPECT_EQ(Write(volume, {{"blocks", json::array{json::object{{"start", "1"}, {"count", 2}}}}}).status,
              400);
    EXPECT_EQ(Write(volume, json::object()).status, 400);
    EXPECT_EQ(raw().Post("/_sim/volumes/99999/write", json::object{{"blocks", json::array()}}).status, 404);
}

// ---- backup resources -----------------------------------------------------------------------------

TEST_F(VrmsimBackupTest, BackupResourceIsReadyExtendableAndGoneAfterRelease) {
    const vrmsim::VolumeState volume = VolumeOf("vm-0001");
    json::object tree = raw().Get(VmUri("vm-0001") + "/snapshots").Object();
    const std::string snapshot(tree.at("currentSnapshot").at("urn").as_string());

    std::string uri, hostIP, hostPort, token, targetFile;
    ASSERT_TRUE(wrapper().PrepareDiskAccess(volume.urn, snapshot, "10.0.0.9", false, uri, hostIP, hostPort,
                                            token, targetFile))
        << wrapper().GetLastError();
    EXPECT_THAT(uri, ::testing::StartsWith(volume.uri + "/backupresources/"));
    EXPECT_EQ(hostIP, "192.168.40.10") << "the host of vm-0001";
    EXPECT_FALSE(hostPort.empty());
    EXPECT_EQ(token.size(), 32u);
    EXPECT_EQ(targetFile,
              "/dev/disk/by-id/snap-" +
                  std::string(DiskSnapshot(UriOf(snapshot), volume.urn).at("snapUuid").as_string()));
    // Two reads: "creating", then "success".
    EXPECT_EQ(Sent("GET", uri).size(), 2u);
    const std::string taskId = uri.substr(uri.rfind('/') + 1);
    EXPECT_EQ(raw().Get(uri).Str("taskUri"), TaskUri(std::stoi(taskId)));

    json::object resource = raw().Get(uri).Object();
    std::ifstream caFile(server().caFile());
    EXPECT_EQ(resource.at("caCert"), json::value(std::string(std::istreambuf_iterator<char>(caFile), {})));
    EXPECT_EQ(resource.at("status"), json::value("success"));
    EXPECT_EQ(resource.at("hostPort"), json::value(hostPort));

    EXPECT_TRUE(wrapper().ValidateDiskAccess(uri));
    ASSERT_TRUE(wrapper().ExtendDiskAccess(uri, 600)) << wrapper().GetLastError();
    EXPECT_EQ(raw().Get(uri).Object().at("delay"), json::value(600));
    ExpectError(raw().Put(uri, json::object{{"delay", "600"}}), 400, "10100002");

    ASSERT_TRUE(wrapper().ReleaseDiskAccess(uri)) << wrapper().GetLastError();
    EXPECT_EQ(clock().Pauses().size(), 1u) << "one pause of the preparation, none while releasing";
    ExpectError(raw().Get(uri), 404, "10300006");
    EXPECT_FALSE(wrapper().ValidateDiskAccess(uri));
    ExpectError(raw().Send("DELETE", uri), 404, "10300006");
}

TEST_F(VrmsimBackupTest, ReleasedResourceCanLingerForSomeReads) {
    Settings({{"releaseReads", 2}, {"resourcePolls", 0}});
    const vrmsim::VolumeState volume = VolumeOf("vm-0003");
    std::string uri, hostIP, hostPort, token, targetFile;
    ASSERT_TRUE(wrapper().PrepareDiskAccess(volume.urn, "", "10.0.0.9", true, uri, hostIP, hostPort, token,
                                            targetFile))
        << wrapper().GetLastError();
    EXPECT_EQ(targetFile, "/dev/disk/by-id/vol-" + volume.uuid) << "a restore writes the volume itself";
    clock().ClearPauses();
    ASSERT_TRUE(wrapper().ReleaseDiskAccess(uri));
    EXPECT_EQ(clock().Pauses(), (std::vector<unsigned int>{5000, 5000}));
    EXPECT_EQ(wrapper().GetLastErrorCode(), 10300006);
}

TEST_F(VrmsimBackupTest, FailingOrNeverReadyResourceIsGivenBack) {
    const vrmsim::VolumeState volume = VolumeOf("vm-0002");
    std::string uri, hostIP, hostPort, token, targetFile;
    Outcome({{"target", "backupresource"}, {"fail", true}, {"reasonDes", "No NBD port free."}});
    EXPECT_FALSE(wrapper().PrepareDiskAccess(volume.urn, "", "10.0.0.9", true, uri, hostIP, hostPort, token,
                                             targetFile));
    EXPECT_EQ(wrapper().GetLastError(), "No NBD port free.");

    Outcome({{"target", "backupresource"}, {"never", true}});
    clock().ClearPauses();
    EXPECT_FALSE(wrapper().PrepareDiskAccess(volume.urn, "", "10.0.0.9", true, uri, hostIP, hostPort, token,
                                             targetFile));
    EXPECT_EQ(clock().Pauses().size(), 13u);
    // Both were released by the library, so nothing is left on the volume.
    EXPECT_TRUE(server().sim().DiskAccesses().empty());
}

TEST_F(VrmsimBackupTest, BackupResourceRequestsAreChecked) {
    const vrmsim::VolumeState volume = VolumeOf("vm-0001");
    const std::string collection = volume.uri + "/backupresources";
    const std::string otherVmSnapshot = VmUrn("vm-0002") + ":snapshots:4";
    json::object good{{"delay", 150}, {"taskType", "CBTBackup"}, {"ip", "10.0.0.9"}, {"transMode", "lan"}};
    ExpectError(raw().Post(collection, good), 400, "10100002");  // a backup names its snapshot
    good["snapUrn2"] = otherVmSnapshot;
    ExpectError(raw().Post(collection, good), 400, "10420005");  // of another VM
    good["snapUrn2"] = VmUrn("vm-0001") + ":snapshots:999";
    ExpectError(raw().Post(collection, good), 404, "10300006");
    good["snapUrn2"] = VmUrn("vm-0001") + ":snapshots:1";
    good["transMode"] = "ssh";
    ExpectError(raw().Post(collection, good), 400, "10100002");
    good["transMode"] = "lanssl";
    good["delay"] = "150";
    ExpectError(raw().Post(collection, good), 400, "10100002");
    good["delay"] = 150;
    Reply created = raw().Post(collection, good);
    ASSERT_EQ(created.status, 200) << created.body;
    const std::string uri =
        collection + "/" + created.Str("taskUri").substr(created.Str("taskUri").rfind('/') + 1);
    EXPECT_EQ(raw().Get(uri).Str("status"), "creating");
    json::object ready = raw().Get(uri).Object();
    EXPECT_EQ(ready.at("status"), json::value("success"));
    EXPECT_THAT(std::string(ready.at("resourceUrl").as_string()), ::testing::StartsWith("nbds://"));
}

// ---- VMs ------------------------------------------------------------------------------------------

TEST_F(VrmsimBackupTest, PowerRequestsFollowTheVmsState) {
    ExpectError(raw().Post(VmUri("vm-0001") + "/action/start", json::object()), 400, "10400010");
    ExpectError(raw().Post(VmUri("vm-0003") + "/action/stop", json::object{{"mode", "force"}}), 400,
                "10400010");
    ExpectError(raw().Post(VmUri("vm-0001") + "/action/stop", json::object{{"mode", "hard"}}), 400,
                "10100002");
    ExpectError(raw().Post(VmUri("tpl-01") + "/action/start", json::object()), 400, "10400010");

    ASSERT_TRUE(wrapper().ShutdownVM("vm-0001", "", "")) << wrapper().GetLastError();
    EXPECT_EQ(VmStatus("vm-0001"), "stopped");
    EXPECT_FALSE(wrapper().PowerOffVM("vm-0001", "", ""));
    EXPECT_THAT(wrapper().GetLastError(), HasSubstr("not running"));
    ASSERT_TRUE(wrapper().PowerOnVM("vm-0001", "", "")) << wrapper().GetLastError();
    EXPECT_EQ(VmStatus("vm-0001"), "running");

    // While a power task runs, the VM refuses other power requests.
    Reply stop = raw().Post(VmUri("vm-0002") + "/action/stop", json::object{{"mode", "safe"}});
    ASSERT_EQ(stop.status, 200);
    EXPECT_EQ(VmStatus("vm-0002"), "stopping");
    ExpectError(raw().Post(VmUri("vm-0002") + "/action/stop", json::object{{"mode", "force"}}), 409,
                "10300025");
    PollTask(stop.Str("taskUri"));
    EXPECT_EQ(VmStatus("vm-0002"), "stopped");
}

TEST_F(VrmsimBackupTest, VmIsCreatedChangedGivenDisksAndNicsAndDeleted) {
    SVMInfoLib vm;
    vm.name = "vm-made";
    vm.hostName = "CNA02";
    vm.cpuQuantity = 4;
    vm.coresPerSocket = 2;
    vm.memoryQuantityMB = 8192;
    ASSERT_TRUE(wrapper().CreateVM(vm)) << wrapper().GetLastError();
    EXPECT_EQ(vm.name, "vm-made");
    EXPECT_EQ(vm.status, "stopped");
    EXPECT_EQ(vm.hostName, "CNA02");
    EXPECT_FALSE(vm.uuid.empty());
    {
        const std::optional<vrmsim::VmState> made = server().sim().FindVm(vm.urn);
        ASSERT_TRUE(made.has_value());
        EXPECT_EQ(made->cpuQuantity, 4);
        EXPECT_EQ(made->coresPerSocket, 2);
        EXPECT_EQ(made->memoryMB, 8192);
        EXPECT_EQ(made->osType, "Windows");
        EXPECT_EQ(made->osVersion, 3);
    }

    fc::SDiskInfoLib disk;
    disk.name = "made-data";
    disk.quantityGB = 20;
    disk.datastoreName = "datastore01";
    disk.isThin = true;
    disk.pciType = "SCSI";
    disk.sequenceNum = 2;
    ASSERT_TRUE(wrapper().AddDiskToVM(vm, disk, false)) << wrapper().GetLastError();
    fc::SVMNetworkCardInfoLib nic;
    nic.dvSwitchName = "DVS02";
    ASSERT_TRUE(wrapper().AddNicToVM(vm, nic)) << wrapper().GetLastError();
    SVMInfoLib renamed("vm-renamed", vm.urn, "");
    renamed.memoryQuantityMB = 4096;
    ASSERT_TRUE(wrapper().ModifyVM(renamed)) << wrapper().GetLastError();

    SVMInfoLib back;
    ASSERT_TRUE(wrapper().GetVMInfo("", vm.urn, "", back, fc::VM_PROP_ALL)) << wrapper().GetLastError();
    EXPECT_EQ(back.name, "vm-renamed");
    ASSERT_EQ(back.disks.size(), 1u);
    EXPECT_EQ(back.disks[0].name, "made-data");
    EXPECT_EQ(back.disks[0].pciType, "SCSI");
    EXPECT_EQ(back.disks[0].sequenceNum, 2);
    ASSERT_EQ(back.nics.size(), 1u);
    EXPECT_EQ(back.nics[0].portGroupName, "PG-2-1");
    bool inUse = false;
    ASSERT_TRUE(wrapper().CheckMACAddress(back.nics[0].mac, inUse));
    EXPECT_TRUE(inUse);

    // Deleting the VM but keeping its disks leaves the volume, detached.
    ASSERT_TRUE(wrapper().DeleteVM(back, false)) << wrapper().GetLastError();
    ExpectError(raw().Get(UriOf(vm.urn)), 404, "10300006");
    json::object volume = raw().Get(UriOf(back.disks[0].urn)).Object();
    EXPECT_FALSE(volume.contains("vms")) << json::serialize(volume);
    // Now the volume can go as well.
    ASSERT_TRUE(wrapper().DeleteDisk(back.disks[0])) << wrapper().GetLastError();
    ExpectError(raw().Get(UriOf(back.disks[0].urn)), 404, "10300006");
}

TEST_F(VrmsimBackupTest, DeletingAVmWithItsDisksRemovesTheVolumes) {
    const vrmsim::VolumeState volume = VolumeOf("vm-0009", 1);
    ASSERT_TRUE(wrapper().DeleteVM("vm-0009", "", "", true)) << wrapper().GetLastError();
    ExpectError(raw().Get(volume.uri), 404, "10300006");
    SVMInfoLib gone;
    EXPECT_FALSE(wrapper().GetVMInfo("vm-0009", "", "", gone, 0));
}

TEST_F(VrmsimBackupTest, VmAndVolumeRequestsAreChecked) {
    const std::string vms = SiteUri() + "/vms";
    const json::object config{{"cpu", json::object{{"quantity", 4}, {"coresPerSocket", 3}}}};
    ExpectError(raw().Post(vms, json::object{{"location", SiteUrn() + ":hosts:1"}, {"vmConfig", config}}),
                400,
                "10100002");  // 3 cores per socket do not divide 4 CPUs
    ExpectError(
        raw().Post(vms, json::object{{"location", SiteUrn() + ":hosts:77"}, {"vmConfig", json::object()}}),
        404, "10300006");
    ExpectError(raw().Post(vms, json::object{{"location", SiteUrn() + ":datastores:1"},
                                             {"vmConfig", json::object()}}),
                400, "10100002");
    const vrmsim::VolumeState attached = VolumeOf("vm-0001");
    ExpectError(
        raw().Post(
            vms,
            json::object{{"location", SiteUrn() + ":hosts:1"},
                         {"vmConfig",
                          json::object{{"disks", json::array{json::object{{"volumeUrn", attached.urn}}}}}}}),
        409, "10300104");
    ExpectError(raw().Put(VmUri("vm-0001"), json::object{{"name", ""}}), 400, "10100002");
    ExpectError(raw().Put(VmUri("vm-0001"), json::object{{"memory", json::object{{"quantityMB", "4096"}}}}),
                400, "10100002");
    ExpectError(raw().Send("DELETE", VmUri("vm-0001"), R"({"isReserveDisks": true})"), 400, "10100002");
    ExpectError(raw().Send("DELETE", attached.uri), 400, "10300104");
    ExpectError(raw().Post(VmUri("vm-0002") + "/action/attachvol", json::object{{"volUrn", attached.urn}}),
                409, "10300104");
    ExpectError(raw().Post(VmUri("vm-0001") + "/action/detachvol", json::object{{"volUrn", attached.urn}}),
                400,
                "10400010");  // the system volume stays
    ExpectError(
        raw().Post(VmUri("vm-0001") + "/virtualNics",
                   json::object{{"portGroupUrn", SiteUrn() + ":dvswitchs:1:portgroups:1"}, {"mac", "28:6e"}}),
        400, "10100002");
    const std::string owner = VmUrn("vm-0002");
    const std::string usedMac = server().sim().FindVm(owner)->nicMacs.at(0);
    ExpectError(
        raw().Post(VmUri("vm-0001") + "/virtualNics",
                   json::object{{"portGroupUrn", SiteUrn() + ":dvswitchs:1:portgroups:1"}, {"mac", usedMac}}),
        409, "10300130");

    const std::string volumes = SiteUri() + "/volumes";
    json::object thick{
        {"name", "big"},         {"quantityGB", 60000}, {"datastoreUrn", SiteUrn() + ":datastores:1"},
        {"isThin", false},       {"type", "normal"},    {"indepDisk", false},
        {"persistentDisk", true}};
    ExpectError(raw().Post(volumes, thick), 400, "10300120");
    json::object thinOnLocal = thick;
    thinOnLocal["isThin"] = true;
    thinOnLocal["quantityGB"] = 10;
    thinOnLocal["datastoreUrn"] = SiteUrn() + ":datastores:4";
    ExpectError(raw().Post(volumes, thinOnLocal), 400, "10400010");
    thinOnLocal["quantityGB"] = 0;
    ExpectError(raw().Post(volumes, thinOnLocal), 400, "10100002");
}

TEST_F(VrmsimBackupTest, DatastoreIsCreatedOnAFreeStorageUnitOfTheHost) {
    std::string unitUrn;
    for (const vrmsim::ObjectState& unit : server().sim().Objects("storageUnits")) {
        if (unit.name == "CNA01-sdb") unitUrn = unit.urn;
    }
    const std::string hostUrn = server().sim().Objects("hosts").at(0).urn;
    ASSERT_FALSE(unitUrn.empty());
    ASSERT_TRUE(wrapper().CreateDataStore("ds-new", hostUrn, unitUrn, 0, true)) << wrapper().GetLastError();
    fc::SDataStoreInfoLib ds;
    ASSERT_TRUE(wrapper().GetDataStoreInfo("ds-new", "", ds, 0)) << wrapper().GetLastError();
    EXPECT_EQ(ds.capacityGB, 1117);
    EXPECT_FALSE(wrapper().CreateDataStore("ds-again", hostUrn, unitUrn, 0, true));
    EXPECT_THAT(wrapper().GetLastError(), HasSubstr("holds ds-new"));
}

// ---- descriptors ----------------------------------------------------------------------------------

TEST_F(VrmsimBackupTest, OvfDescriptorRoundTripRecreatesTheVmOnNewVolumes) {
    const SVMInfoLib original = SeededVM("vm-0002");
    ASSERT_EQ(original.disks.size(), 2u);
    std::string descriptor;
    ASSERT_TRUE(wrapper().GetOVFDescriptorForVM(original, descriptor)) << wrapper().GetLastError();
    for (const auto& disk : original.disks)
        EXPECT_THAT(descriptor, HasSubstr("ovf:href=\"" + disk.uuid + "\""));
    EXPECT_THAT(descriptor, HasSubstr("ovf:id=\"SCSI-2\""));

    // New volumes like the old disks, mapped to the paths under which the descriptor lists them.
    std::map<std::string, std::string> paths;
    SVMInfoLib restored;
    restored.name = "vm-0002-restored";
    restored.hostName = "CNA03";
    for (const auto& old : original.disks) {
        fc::SDiskInfoLib disk;
        disk.name = old.name + "-restored";
        disk.quantityGB = old.quantityGB;
        disk.datastoreUrn = old.datastoreUrn;
        disk.isThin = old.isThin;
        ASSERT_TRUE(wrapper().CreateDisk(disk, true)) << wrapper().GetLastError();
        paths[disk.uuid] = old.uuid;
        restored.disks.push_back(disk);
    }
    ASSERT_TRUE(wrapper().CreateVMFromOVFDescriptor(descriptor, restored, paths)) << wrapper().GetLastError();

    EXPECT_EQ(restored.name, "vm-0002-restored");
    ASSERT_EQ(restored.disks.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(restored.disks[i].pciType, original.disks[i].pciType) << i;
        EXPECT_EQ(restored.disks[i].sequenceNum, original.disks[i].sequenceNum) << i;
        EXPECT_EQ(restored.disks[i].name, original.disks[i].name + "-restored") << i;
    }
    const std::optional<vrmsim::VmState> before = server().sim().FindVm(original.urn);
    const std::optional<vrmsim::VmState> after = server().sim().FindVm(restored.urn);
    ASSERT_TRUE(before.has_value() && after.has_value());
    EXPECT_EQ(after->cpuQuantity, before->cpuQuantity);
    EXPECT_EQ(after->memoryMB, before->memoryMB);
    EXPECT_EQ(after->osType, before->osType);
    EXPECT_EQ(after->osVersion, before->osVersion);
    EXPECT_TRUE(after->nicMacs.empty()) << "cards are added afterwards";
}

TEST_F(VrmsimBackupTest, ParsedDescriptorCarriesTheCreationBodyAndFileItems) {
    const SVMInfoLib vm = SeededVM("vm-0004");
    std::string descriptor;
    ASSERT_TRUE(wrapper().GetOVFDescriptorForVM(vm, descriptor));
    Reply parsed =
        raw().Post(SiteUri() + "/vms/action/parsedescriptor", json::object{{"ovfDescriptor", descriptor}});
    ASSERT_EQ(parsed.status, 200) << parsed.body;
    json::object answer = parsed.Object();
    EXPECT_EQ(answer.at("name"), json::value("vm-0004"));
    EXPECT_EQ(answer.at("uuid"), json::value(vm.uuid));
    EXPECT_TRUE(answer.contains("recover"));
    const json::array& items = answer.at("fileItems").as_array();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].at("path"), json::value(vm.disks[0].uuid));
    EXPECT_EQ(items[0].at("ovfId"), json::value("VIRTIO-1"));
    EXPECT_EQ(items[1].at("ovfId"), json::value("SCSI-2"));
    EXPECT_EQ(items[1].at("size"), json::value(vm.disks[1].userUsedSize << 20));
    const json::object& config = answer.at("vmConfig").as_object();
    EXPECT_EQ(config.at("disks").as_array().size(), 2u);
    EXPECT_EQ(config.at("disks").at(1).at("quantityGB"), json::value(vm.disks[1].quantityGB));
    ASSERT_EQ(config.at("nics").as_array().size(), 1u);
    EXPECT_EQ(config.at("nics").at(0).at("mac"), json::value(vm.nics[0].mac));
    EXPECT_EQ(config.at("nics").at(0).at("portGroupUrn"), json::value(vm.nics[0].portGroupUrn));

    ExpectError(
        raw().Post(SiteUri() + "/vms/action/parsedescriptor", json::object{{"ovfDescriptor", "<Envelope>"}}),
        400, "10400020");
    ExpectError(
        raw().Post(SiteUri() + "/vms/action/parsedescriptor", json::object{{"ovfDescriptor", "<a/>"}}), 400,
        "10400020");
    ExpectError(
        raw().Post(vm.uri + "/action/createdescriptor",
                   json::object{{"name", "x"},
                                {"fileItems", json::array{json::object{
                                                  {"deviceId", "SCSI-2"}, {"path", "nope"}, {"size", 1}}}}}),
        400, "10100002");
}

// ---- reset ----------------------------------------------------------------------------------------

TEST_F(VrmsimBackupTest, ResetRestoresEverythingOfTheBackupSide) {
    Settings({{"taskPolls", 7}, {"snapshotLimit", 3}});
    Outcome({{"fail", true}, {"count", -1}});
    const vrmsim::VolumeState volume = VolumeOf("vm-0001");
    ASSERT_EQ(Write(volume, {{"blocks", json::array{json::object{{"start", 1}, {"count", 1}}}}}).status, 200);
    ASSERT_EQ(raw().Post(VmUri("vm-0003") + "/action/start", json::object()).status, 200);
    ASSERT_EQ(raw()
                  .Post(SiteUri() + "/vms",
                        json::object{{"location", SiteUrn() + ":hosts:1"}, {"vmConfig", json::object()}})
                  .status,
              200);

    ASSERT_EQ(raw().Post("/_sim/reset", json::object()).status, 200);

    json::object settings = raw().Get("/_sim/backup").Object();
    EXPECT_EQ(settings.at("taskPolls"), json::value(2));
    EXPECT_EQ(settings.at("snapshotLimit"), json::value(32));
    EXPECT_TRUE(raw().Get("/_sim/outcomes").Object().at("outcomes").as_array().empty());
    EXPECT_EQ(VmStatus("vm-0003"), "stopped");
    const vrmsim::StateCounts counts = server().sim().Counts();
    EXPECT_EQ(counts.vms, 22u);
    EXPECT_EQ(counts.changedBlockHistories, 0u);
    EXPECT_EQ(counts.tasks, 0u);
}

}  // namespace
