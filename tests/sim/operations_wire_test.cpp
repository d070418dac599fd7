// The requests of the VM, OVF, snapshot, volume, NIC, backup-resource and datastore operations as they
// reach the simulator: method, path and JSON body member by member. Bodies are compared as whole JSON
// objects, so a missing or extra member, or a member of another JSON type (a number sent as a string or a
// bool, an unsigned number), fails the comparison.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "LogCapture.h"
#include "OperationsSimFixture.h"

namespace fcsdk_test {
namespace {

using namespace FusionComputeSDKWrapper;
using ::testing::IsEmpty;
using ::testing::SizeIs;
namespace json = boost::json;

constexpr int kTask = 7;

class OperationsWireTest : public OperationsSimTest {
  protected:
    std::string VmUri() const { return SiteUri() + "/vms/i-0000A001"; }
    std::string HostUrn() const { return SiteUrn() + ":hosts:2"; }
    std::string ClusterUrn() const { return SiteUrn() + ":clusters:1"; }
    std::string VolumeUri(int n) const { return SiteUri() + "/volumes/" + std::to_string(n); }
    std::string VolumeUrn(int n) const { return SiteUrn() + ":volumes:" + std::to_string(n); }

    SVMInfoLib Vm() const {
        SVMInfoLib vm;
        vm.name = "vm-new";
        vm.uri = VmUri();
        return vm;
    }
    bool NothingSent() const { return server().Requests().empty(); }
    /// Exactly one request of `method` on `path` went out, with an empty body.
    static void ExpectOneEmptyBody(const std::string& method, const std::string& path) {
        std::vector<vrmsim::RecordedRequest> sent = Sent(method, path);
        ASSERT_THAT(sent, SizeIs(1)) << method << " " << path;
        EXPECT_EQ(sent[0].body, "");
    }

    FakeClock clock_;
};

// ---- Power state ----------------------------------------------------------------------------------

TEST_F(OperationsWireTest, StartSendsAnEmptyBodyAndLogsNoBody) {
    ScriptSuccessfulTask("POST", VmUri() + "/action/start", kTask);
    LogCapture log(1);

    EXPECT_TRUE(ops().ChangeVMPowerState(Vm(), true, true));

    ExpectOneEmptyBody("POST", VmUri() + "/action/start");
    EXPECT_FALSE(log.Contains("body: ")) << log.Text();
    EXPECT_THAT(Sent("GET", TaskUri(kTask)), SizeIs(1));
}

TEST_F(OperationsWireTest, StopSendsTheModeAndLogsTheBody) {
    for (bool force : {true, false}) {
        SCOPED_TRACE(force ? "force" : "safe");
        server().Reset();
        ScriptSuccessfulTask("POST", VmUri() + "/action/stop", kTask);
        LogCapture log(1);

        EXPECT_TRUE(ops().ChangeVMPowerState(Vm(), false, force));

        const json::object expected{{"mode", force ? "force" : "safe"}};
        EXPECT_EQ(OnlyBody("POST", VmUri() + "/action/stop"), expected);
        EXPECT_TRUE(
            log.Contains("bool FusionComputeSDKWrapper::CFusionComputeOperations::ChangeVMPowerState("
                         "const FusionComputeSDKWrapper::SVMInfoLib&, bool, bool) - body: " +
                         json::serialize(expected)))
            << log.Text();
    }
}

// ---- Creation -------------------------------------------------------------------------------------

TEST_F(OperationsWireTest, CreateVmSendsTheConfigurationAndTakesTheNewIdentity) {
    ScriptSuccessfulTask("POST", SiteUri() + "/vms", kTask, SiteUrn() + ":vms:i-0000B001",
                         SiteUri() + "/vms/i-0000B001");
    SSiteInfoLib site;
    site.uri = SiteUri();
    SVMInfoLib vm;
    vm.name = "vm-new";
    vm.uuid = "6f1c2a3b-0000-4000-8000-000000000001";
    vm.hostUrn = HostUrn();
    vm.clusterUrn = ClusterUrn();  // the host wins
    vm.cpuQuantity = 4;
    vm.coresPerSocket = 2;
    vm.memoryQuantityMB = 8192;
    vm.osType = "Linux";  // always created as Windows, version 3
    vm.osVersion = 77;

    EXPECT_TRUE(ops().CreateVM(site, vm));

    const json::object expected{
        {"vmConfig", {{"cpu", {{"quantity", 4}, {"coresPerSocket", 2}}}, {"memory", {{"quantityMB", 8192}}}}},
        {"osOptions", {{"osType", "Windows"}, {"osVersion", 3}}},
        {"location", HostUrn()},
        {"name", "vm-new"},
        {"uuid", "6f1c2a3b-0000-4000-8000-000000000001"},
        {"autoBoot", false}};
    EXPECT_EQ(OnlyBody("POST", SiteUri() + "/vms"), expected);
    EXPECT_EQ(vm.urn, SiteUrn() + ":vms:i-0000B001");
    EXPECT_EQ(vm.uri, SiteUri() + "/vms/i-0000B001");
}

TEST_F(OperationsWireTest, CreateVmPlacedByClusterWithoutNameOrUuid) {
    SSiteInfoLib site;
    site.uri = SiteUri();
    ScriptSuccessfulTask("POST", SiteUri() + "/vms", kTask);
    SVMInfoLib vm;
    vm.clusterUrn = ClusterUrn();
    // Memory beyond the signed 64-bit range travels as an unsigned JSON number.
    vm.memoryQuantityMB = 0x8000000000000005ull;

    EXPECT_TRUE(ops().CreateVM(site, vm));

    json::object body = OnlyBody("POST", SiteUri() + "/vms");
    EXPECT_EQ(body.at("location"), json::value(ClusterUrn()));
    EXPECT_FALSE(body.contains("name"));
    EXPECT_FALSE(body.contains("uuid"));
    const json::value& quantityMB = body.at("vmConfig").at("memory").at("quantityMB");
    ASSERT_TRUE(quantityMB.is_uint64()) << quantityMB;
    EXPECT_EQ(quantityMB.as_uint64(), 0x8000000000000005ull);
    EXPECT_EQ(body.at("vmConfig").at("cpu"), json::value({{"quantity", 0}, {"coresPerSocket", 0}}));
}

TEST_F(OperationsWireTest, CreateVmWithoutLocationSendsNothing) {
    SSiteInfoLib site;
    site.uri = SiteUri();
    SVMInfoLib vm;
    vm.name = "vm-nowhere";
    vm.urn = "earlier urn";

    EXPECT_FALSE(ops().CreateVM(site, vm));

    EXPECT_EQ(ops().GetLastError(), "Location (cluster/host) was not specified");
    EXPECT_TRUE(NothingSent());
    EXPECT_EQ(vm.urn, "earlier urn");
}

TEST_F(OperationsWireTest, FailedCreationNamesWhatTheVrmAccepted) {
    SSiteInfoLib site;
    site.uri = SiteUri();
    AnswerTaskStart("POST", SiteUri() + "/vms", kTask, SiteUrn() + ":vms:i-0000B001", SiteUri() + "/vms/x");
    Answer("GET", TaskUri(kTask), json::serialize(TaskObject(kTask, "failed", 10, "Insufficient memory.")));
    SVMInfoLib vm;
    vm.hostUrn = HostUrn();
    vm.urn = "earlier urn";
    vm.uri = "earlier uri";

    EXPECT_FALSE(ops().CreateVM(site, vm));

    // The caller needs the identity of what the VRM accepted to create, to undo it.
    EXPECT_EQ(vm.urn, SiteUrn() + ":vms:i-0000B001");
    EXPECT_EQ(vm.uri, SiteUri() + "/vms/x");
    EXPECT_EQ(ops().GetLastError(), "Insufficient memory.");
}

TEST_F(OperationsWireTest, UpdateCreateVmOverwritesWhatTheBodyHeld) {
    SVMInfoLib vm;
    vm.hostUrn = HostUrn();
    json_spirit::mObject body;
    body["location"] = "elsewhere";
    body["autoBoot"] = true;
    body["name"] = "kept when the record has none";

    EXPECT_TRUE(ops().UpdateCreateVM(vm, body));

    EXPECT_EQ(body["location"].get_str(), HostUrn());
    EXPECT_EQ(body["autoBoot"].type(), json_spirit::bool_type);
    EXPECT_FALSE(body["autoBoot"].get_bool());
    EXPECT_EQ(body["name"].get_str(), "kept when the record has none");
    EXPECT_EQ(body.count("uuid"), 0u);
}

// ---- Deletion and modification --------------------------------------------------------------------

TEST_F(OperationsWireTest, DeleteVmSaysWhetherToKeepTheDisksAsANumber) {
    for (bool deleteDisks : {true, false}) {
        SCOPED_TRACE(deleteDisks);
        server().Reset();
        ScriptSuccessfulTask("DELETE", VmUri(), kTask);

        EXPECT_TRUE(ops().DeleteVM(Vm(), deleteDisks));

        EXPECT_EQ(OnlyBody("DELETE", VmUri()), json::object({{"isReserveDisks", deleteDisks ? 0 : 1}}));
    }
}

TEST_F(OperationsWireTest, DeleteOrModifyVmWithoutUriSendsNothing) {
    SVMInfoLib vm;
    vm.name = "vm-0001";
    SVMInfoLib wanted;
    wanted.name = "renamed";

    EXPECT_FALSE(ops().DeleteVM(vm, true));
    EXPECT_EQ(ops().GetLastError(), "VM URI is not specified");
    state_.message.clear();
    EXPECT_FALSE(ops().ModifyVM(vm, wanted));
    EXPECT_EQ(ops().GetLastError(), "VM URI is not specified");
    EXPECT_TRUE(NothingSent());
}

TEST_F(OperationsWireTest, ModifyVmSendsOnlyWhatDiffers) {
    struct Case {
        const char* name;
        void (*change)(SVMInfoLib&);
        json::object expected;
    };
    const std::vector<Case> cases = {
        {"cores only", [](SVMInfoLib& vm) { vm.coresPerSocket = 4; }, {{"cpu", {{"coresPerSocket", 4}}}}},
        {"processors only", [](SVMInfoLib& vm) { vm.cpuQuantity = 8; }, {{"cpu", {{"quantity", 8}}}}},
        {"name and memory",
         [](SVMInfoLib& vm) {
             vm.name = "vm-renamed";
             vm.memoryQuantityMB = 16384;
         },
         {{"name", "vm-renamed"}, {"memory", {{"quantityMB", 16384}}}}},
        {"name differing in case", [](SVMInfoLib& vm) { vm.name = "VM-NEW"; }, {{"name", "VM-NEW"}}},
        {"everything",
         [](SVMInfoLib& vm) {
             vm.name = "";
             vm.cpuQuantity = 2;
             vm.coresPerSocket = 1;
             vm.memoryQuantityMB = 2048;
         },
         {{"name", ""},
          {"cpu", {{"quantity", 2}, {"coresPerSocket", 1}}},
          {"memory", {{"quantityMB", 2048}}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server().Reset();
        ScriptSuccessfulTask("PUT", VmUri(), kTask);
        const SVMInfoLib current = Vm();
        SVMInfoLib wanted = current;
        c.change(wanted);

        EXPECT_TRUE(ops().ModifyVM(current, wanted));

        EXPECT_EQ(OnlyBody("PUT", VmUri()), c.expected);
    }
}

TEST_F(OperationsWireTest, ModifyVmWithNothingToChangeSendsNothing) {
    SVMInfoLib current = Vm();
    current.cpuQuantity = 2;
    SVMInfoLib wanted = current;
    wanted.hostUrn = "not compared";

    EXPECT_TRUE(ops().ModifyVM(current, wanted));

    EXPECT_TRUE(NothingSent());
}

// ---- OVF descriptors ------------------------------------------------------------------------------

TEST_F(OperationsWireTest, GenerateOvfDescriptorListsEveryDiskAsAFileItem) {
    Answer("POST", VmUri() + "/action/createdescriptor", R"({"ovfDescriptor": "<Envelope/>"})");
    SVMInfoLib vm = Vm();
    SDiskInfoLib system;
    system.pciType = "IDE";
    system.sequenceNum = 1;
    system.uuid = "uuid-system";
    system.userUsedSize = 5;
    SDiskInfoLib data;
    data.pciType = "SCSI";
    data.sequenceNum = 12;
    data.uuid = "uuid-data";
    data.userUsedSize = 1ull << 40;  // in MB; the descriptor gets bytes
    vm.disks = {system, data};
    std::string descriptor;

    EXPECT_TRUE(ops().GenerateOVFDescriptor(vm, descriptor));

    EXPECT_EQ(descriptor, "<Envelope/>");
    const json::object expected{
        {"name", "vm-new"},
        {"fileItems",
         json::array{json::object{{"deviceId", "IDE-1"}, {"path", "uuid-system"}, {"size", 5242880}},
                     json::object{{"deviceId", "SCSI-12"},
                                  {"path", "uuid-data"},
                                  {"size", static_cast<uint64_t>(1ull << 60)}}}}};
    EXPECT_EQ(OnlyBody("POST", VmUri() + "/action/createdescriptor"), expected);
    EXPECT_THAT(server().Requests(SiteUri() + "/tasks"), IsEmpty());
}

TEST_F(OperationsWireTest, GenerateOvfDescriptorWithoutDisksSendsAnEmptyFileItemList) {
    Answer("POST", VmUri() + "/action/createdescriptor", R"({"ovfDescriptor": "<Envelope/>"})");
    std::string descriptor;

    EXPECT_TRUE(ops().GenerateOVFDescriptor(Vm(), descriptor));

    EXPECT_EQ(OnlyBody("POST", VmUri() + "/action/createdescriptor"),
              json::object({{"name", "vm-new"}, {"fileItems", json::array()}}));
}

TEST_F(OperationsWireTest, GenerateOvfDescriptorRefusesAnAnswerWithoutDescriptor) {
    const std::string link = VmUri() + "/action/createdescriptor";
    const std::pair<const char*, std::string> cases[] = {
        {R"({"other": 1})", "The VRM's answer to [" + link + "] holds no OVF descriptor"},
        {R"({"ovfDescriptor": ""})", "The VRM's answer to [" + link + "] holds no OVF descriptor"},
        {"not json", "Could not read the VRM's answer to [" + link + "]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        server().Reset();
        Answer("POST", link, c.first);
        std::string descriptor = "earlier";
        state_.message = "earlier";

        EXPECT_FALSE(ops().GenerateOVFDescriptor(Vm(), descriptor));

        EXPECT_EQ(descriptor, "earlier");
        EXPECT_EQ(ops().GetLastError(), c.second);
    }
}

TEST_F(OperationsWireTest, GenerateOvfDescriptorRefusedTakesTheErrorBody) {
    server().FailNext("POST", VmUri() + "/action/createdescriptor", 500, "10400001", "Descriptor failed.");
    std::string descriptor = "earlier";

    EXPECT_FALSE(ops().GenerateOVFDescriptor(Vm(), descriptor));

    EXPECT_EQ(ops().GetLastError(), "Descriptor failed.");
    EXPECT_EQ(state_.code, 10400001);
    EXPECT_EQ(descriptor, "earlier");
}

TEST_F(OperationsWireTest, ParseOvfDescriptorReplacesTheBodyWithTheAnswer) {
    SSiteInfoLib site;
    site.uri = SiteUri();
    const std::string link = SiteUri() + "/vms/action/parsedescriptor";
    Answer("POST", link, R"({"vmConfig": {"cpu": {"quantity": 2}}, "recover": true})");
    json_spirit::mObject body;
    body["stale"] = 1;

    EXPECT_TRUE(ops().ParseOVFDescriptor(site, "<Envelope>\"quoted\"</Envelope>", body));

    EXPECT_EQ(OnlyBody("POST", link), json::object({{"ovfDescriptor", "<Envelope>\"quoted\"</Envelope>"}}));
    EXPECT_EQ(body.count("stale"), 0u);
    ASSERT_EQ(body.count("vmConfig"), 1u);
    EXPECT_EQ(body["vmConfig"].get_obj().at("cpu").get_obj().at("quantity").get_int(), 2);
    EXPECT_TRUE(body["recover"].get_bool());
}

TEST_F(OperationsWireTest, ParseOvfDescriptorFailsWhenTheAnswerIsNoObject) {
    SSiteInfoLib site;
    site.uri = SiteUri();
    const std::string link = SiteUri() + "/vms/action/parsedescriptor";
    for (const char* answer : {"[1, 2]", "\"text\"", "null", "not json at all", ""}) {
        SCOPED_TRACE(answer);
        server().Reset();
        Answer("POST", link, answer);
        state_.message.clear();
        json_spirit::mObject body;
        body["stale"] = 1;

        EXPECT_FALSE(ops().ParseOVFDescriptor(site, "<Envelope/>", body));

        EXPECT_FALSE(ops().GetLastError().empty());
    }
}

class OvfCreationTest : public OperationsWireTest {
  protected:
    void SetUp() override {
        OperationsWireTest::SetUp();
        site_.uri = SiteUri();
        vm_.name = "vm-restored";
        vm_.hostUrn = HostUrn();
    }
    std::string ParseLink() const { return SiteUri() + "/vms/action/parsedescriptor"; }
    static SDiskInfoLib Disk(const std::string& uuid, const std::string& urn) {
        SDiskInfoLib disk;
        disk.uuid = uuid;
        disk.urn = urn;
        return disk;
    }
    // The VRM's parse answer; "vmConfig" and "fileItems" as given.
    void AnswerParse(const json::value& vmConfig, const json::array& fileItems) {
        json::object answer{{"name", "vm-original"},
                            {"uuid", "uuid-original"},
                            {"description", "from the descriptor"},
                            {"recover", true},
                            {"osOptions", {{"osType", "Linux"}, {"osVersion", 201}}},
                            {"vmConfig", vmConfig},
                            {"fileItems", fileItems}};
        Answer("POST", ParseLink(), json::serialize(answer));
    }
    static json::object FileItem(const std::string& path, const std::string& ovfId) {
        return {{"path", path}, {"ovfId", ovfId}, {"deviceId", "ignored"}, {"size", 1}};
    }

    SSiteInfoLib site_;
    SVMInfoLib vm_;
};

TEST_F(OvfCreationTest, DisksTakeBusAndSlotFromTheFileItemsOrFallBackToIdeByPosition) {
    AnswerParse({{"cpu", {{"quantity", 2}}},
                 {"memory", {{"quantityMB", 4096}}},
                 {"disks", json::array{json::object{{"volumeUrn", "stale"}}}},
                 {"nics", json::array{json::object{{"portGroupUrn", "pg"}}}}},
                json::array{FileItem("path-1", "SCSI-2"), FileItem("path-2", "nodash"),
                            FileItem("uuid-3", "VIRTIO-0"), FileItem("path-1", "IDE-9"),
                            FileItem("uuid-5", "SATA-x1"), FileItem("uuid-6", "SCSI-3-extra")});
    ScriptSuccessfulTask("POST", SiteUri() + "/vms", kTask, SiteUrn() + ":vms:i-0000C001",
                         SiteUri() + "/vms/i-0000C001");
    vm_.disks = {Disk("new-1", VolumeUrn(1)),  Disk("path-2", VolumeUrn(2)), Disk("uuid-3", VolumeUrn(3)),
                 Disk("uuid-4", VolumeUrn(4)), Disk("uuid-5", VolumeUrn(5)), Disk("uuid-6", VolumeUrn(6))};
    const std::map<std::string, std::string> paths = {{"new-1", "path-1"}, {"unused", "path-2"}};

    EXPECT_TRUE(ops().CreateVMFromOVFDescriptor(site_, "<Envelope/>", vm_, paths));

    const json::object expected{
        {"description", "from the descriptor"},
        {"osOptions", {{"osType", "Linux"}, {"osVersion", 201}}},
        {"vmConfig",
         {{"cpu", {{"quantity", 2}}},
          {"memory", {{"quantityMB", 4096}}},
          {"disks",
           json::array{// mapped to path-1: the first item of that path counts
                       json::object{{"pciType", "SCSI"}, {"sequenceNum", 2}, {"volumeUrn", VolumeUrn(1)}},
                       // item without "-"
                       json::object{{"pciType", "IDE"}, {"sequenceNum", 2}, {"volumeUrn", VolumeUrn(2)}},
                       // slot 0
                       json::object{{"pciType", "IDE"}, {"sequenceNum", 3}, {"volumeUrn", VolumeUrn(3)}},
                       // no item
                       json::object{{"pciType", "IDE"}, {"sequenceNum", 4}, {"volumeUrn", VolumeUrn(4)}},
                       // slot not a number
                       json::object{{"pciType", "IDE"}, {"sequenceNum", 5}, {"volumeUrn", VolumeUrn(5)}},
                       // text after the first "-" read up to the first non-digit
                       json::object{{"pciType", "SCSI"}, {"sequenceNum", 3}, {"volumeUrn", VolumeUrn(6)}}}}}},
        {"location", HostUrn()},
        {"name", "vm-restored"},
        {"autoBoot", false}};
    EXPECT_EQ(OnlyBody("POST", SiteUri() + "/vms"), expected);
    EXPECT_EQ(vm_.urn, SiteUrn() + ":vms:i-0000C001");
    EXPECT_EQ(vm_.uri, SiteUri() + "/vms/i-0000C001");
}

TEST_F(OvfCreationTest, VmWithoutDisksDropsTheDescriptorsDisksAndTakesItsOwnUuid) {
    AnswerParse({{"cpu", {{"quantity", 1}}}, {"disks", json::array{json::object{{"volumeUrn", "stale"}}}}},
                json::array{FileItem("x", "SCSI-1")});
    ScriptSuccessfulTask("POST", SiteUri() + "/vms", kTask);
    vm_.name.clear();
    vm_.uuid = "uuid-wanted";
    vm_.hostUrn.clear();
    vm_.clusterUrn = ClusterUrn();

    EXPECT_TRUE(ops().CreateVMFromOVFDescriptor(site_, "<Envelope/>", vm_, {}));

    const json::object expected{{"description", "from the descriptor"},
                                {"osOptions", {{"osType", "Linux"}, {"osVersion", 201}}},
                                {"vmConfig", {{"cpu", {{"quantity", 1}}}}},
                                {"location", ClusterUrn()},
                                {"uuid", "uuid-wanted"},
                                {"autoBoot", false}};
    EXPECT_EQ(OnlyBody("POST", SiteUri() + "/vms"), expected);
}

TEST_F(OvfCreationTest, AnswerWithoutUsableVmConfigCreatesNothingAndSaysWhy) {
    struct Case {
        const char* name;
        json::value vmConfig;  // null kind with `absent` set means: no member at all
        bool absent;
    };
    const std::vector<Case> cases = {{"absent", nullptr, true},
                                     {"null", nullptr, false},
                                     {"string", "text", false},
                                     {"array", json::array{1}, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server().Reset();
        json::object answer{{"name", "vm-original"}, {"fileItems", json::array()}};
        if (!c.absent) answer["vmConfig"] = c.vmConfig;
        Answer("POST", ParseLink(), json::serialize(answer));
        state_.message = "earlier";

        EXPECT_FALSE(ops().CreateVMFromOVFDescriptor(site_, "<Envelope/>", vm_, {}));

        EXPECT_THAT(Sent("POST", SiteUri() + "/vms"), IsEmpty());
        if (c.absent || c.vmConfig.is_null()) {
            EXPECT_EQ(ops().GetLastError(), "The descriptor parse answer holds no vmConfig");
        } else {
            EXPECT_EQ(ops().GetLastError(), "The descriptor's vmConfig is not a JSON object");
        }
    }
}

TEST_F(OvfCreationTest, RefusedParseRequestCreatesNothing) {
    server().FailNext("POST", ParseLink(), 400, "10100002", "Invalid descriptor.");

    EXPECT_FALSE(ops().CreateVMFromOVFDescriptor(site_, "<bad/>", vm_, {}));

    EXPECT_EQ(ops().GetLastError(), "Invalid descriptor.");
    EXPECT_THAT(Sent("POST", SiteUri() + "/vms"), IsEmpty());
}

// ---- Snapshots ------------------------------------------------------------------------------------

TEST_F(OperationsWireTest, SnapshotTypeFollowsBackupAndChangedBlockFlags) {
    struct Case {
        bool forBackup;
        bool useCBT;
        const char* type;
    };
    for (const Case& c : {Case{false, false, "normal"}, Case{false, true, "normal"},
                          Case{true, false, "backup"}, Case{true, true, "CBTbackup"}}) {
        SCOPED_TRACE(c.type);
        server().Reset();
        ScriptSuccessfulTask("POST", VmUri() + "/snapshots", kTask, SiteUrn() + ":vms:i-0000A001:snapshots:9",
                             VmUri() + "/snapshots/9");
        SSnapshotInfoLib snapshot;

        EXPECT_TRUE(ops().CreateVMSnapshot(Vm(), "backup-1", "nightly", c.forBackup, !c.forBackup,
                                           c.forBackup, c.useCBT, snapshot));

        const json::object expected{{"name", "backup-1"},
                                    {"description", "nightly"},
                                    {"needMemoryShot", c.forBackup},
                                    {"isConsistent", !c.forBackup},
                                    {"type", c.type}};
        EXPECT_EQ(OnlyBody("POST", VmUri() + "/snapshots"), expected);
        EXPECT_EQ(snapshot.urn, SiteUrn() + ":vms:i-0000A001:snapshots:9");
        EXPECT_EQ(snapshot.uri, VmUri() + "/snapshots/9");
    }
}

TEST_F(OperationsWireTest, DeleteSnapshotSendsAnEmptyBody) {
    SSnapshotInfoLib snapshot;
    snapshot.uri = VmUri() + "/snapshots/9";
    ScriptSuccessfulTask("DELETE", snapshot.uri, kTask);

    EXPECT_TRUE(ops().DeleteVMSnapshot(snapshot));

    ExpectOneEmptyBody("DELETE", snapshot.uri);
}

TEST_F(OperationsWireTest, DeletionsWithoutUriSendNothing) {
    SSnapshotInfoLib snapshot;
    snapshot.urn = "urn:only";
    EXPECT_FALSE(ops().DeleteVMSnapshot(snapshot));
    EXPECT_EQ(ops().GetLastError(), "Snapshot URI is not specified");

    SDiskInfoLib disk;
    disk.urn = "urn:only";
    EXPECT_FALSE(ops().DeleteDisk(disk));
    EXPECT_EQ(ops().GetLastError(), "Disk URI is not specified");
    state_.message.clear();
    EXPECT_FALSE(ops().ModifyDiskAttributes(disk));
    EXPECT_EQ(ops().GetLastError(), "Disk URI is not specified");

    EXPECT_TRUE(NothingSent());
}

// ---- Volumes --------------------------------------------------------------------------------------

TEST_F(OperationsWireTest, CreateDiskSendsVolTypeOnlyForThickDisksUnlessOmitted) {
    struct Case {
        const char* name;
        bool isThin;
        bool omitVolType;
        bool sendsVolType;
    };
    for (const Case& c : {Case{"thick", false, false, true}, Case{"thick, omitted", false, true, false},
                          Case{"thin", true, false, false}, Case{"thin, omitted", true, true, false}}) {
        SCOPED_TRACE(c.name);
        server().Reset();
        ScriptSuccessfulTask("POST", SiteUri() + "/volumes", kTask, VolumeUrn(31), VolumeUri(31));
        SSiteInfoLib site;
        site.uri = SiteUri();
        SDiskInfoLib disk;
        disk.name = "data-disk";
        disk.quantityGB = 40;
        disk.datastoreUrn = SiteUrn() + ":datastores:1";
        disk.isThin = c.isThin;
        disk.indepDisk = true;
        disk.persistentDisk = false;

        EXPECT_TRUE(ops().CreateDisk(site, disk, c.omitVolType));

        json::object expected{
            {"name", "data-disk"},    {"quantityGB", 40}, {"datastoreUrn", SiteUrn() + ":datastores:1"},
            {"isThin", c.isThin},     {"type", "normal"}, {"indepDisk", true},
            {"persistentDisk", false}};
        if (c.sendsVolType) expected["volType"] = 1;
        EXPECT_EQ(OnlyBody("POST", SiteUri() + "/volumes"), expected);
        EXPECT_EQ(disk.urn, VolumeUrn(31));
        EXPECT_EQ(disk.uri, VolumeUri(31));
    }
}

TEST_F(OperationsWireTest, CreateDiskFromADefaultRecordIsPersistentAndCarriesItsUuidWhenSet) {
    ScriptSuccessfulTask("POST", SiteUri() + "/volumes", kTask, VolumeUrn(32), VolumeUri(32));
    SSiteInfoLib site;
    site.uri = SiteUri();
    SDiskInfoLib disk;
    disk.uuid = "uuid-of-the-volume";
    disk.isThin = true;

    EXPECT_TRUE(ops().CreateDisk(site, disk, false));

    const json::object expected{
        {"name", ""},     {"quantityGB", 0},  {"datastoreUrn", ""}, {"uuid", "uuid-of-the-volume"},
        {"isThin", true}, {"type", "normal"}, {"indepDisk", false}, {"persistentDisk", true}};
    EXPECT_EQ(OnlyBody("POST", SiteUri() + "/volumes"), expected);
}

TEST_F(OperationsWireTest, DeleteDiskSendsAnEmptyBody) {
    SDiskInfoLib disk;
    disk.uri = VolumeUri(5);
    ScriptSuccessfulTask("DELETE", disk.uri, kTask);

    EXPECT_TRUE(ops().DeleteDisk(disk));

    ExpectOneEmptyBody("DELETE", disk.uri);
}

TEST_F(OperationsWireTest, ModifyDiskAttributesReadsNoTask) {
    // The answer is not even looked at: a body that is no task still counts as success.
    Answer("PUT", VolumeUri(5), "accepted");
    SDiskInfoLib disk;
    disk.uri = VolumeUri(5);
    disk.quantityGB = 80;  // not part of the change

    EXPECT_TRUE(ops().ModifyDiskAttributes(disk));

    EXPECT_EQ(OnlyBody("PUT", VolumeUri(5)),
              json::object({{"name", ""}, {"indepDisk", false}, {"persistentDisk", true}}));
    EXPECT_EQ(server().Requests().size(), 1u);
}

TEST_F(OperationsWireTest, RefusedDiskModificationTakesTheErrorBody) {
    server().FailNext("PUT", VolumeUri(5), 403, "10300100", "The volume is busy.");
    SDiskInfoLib disk;
    disk.uri = VolumeUri(5);
    disk.name = "renamed";

    EXPECT_FALSE(ops().ModifyDiskAttributes(disk));

    EXPECT_EQ(ops().GetLastError(), "The volume is busy.");
    EXPECT_EQ(state_.code, 10300100);
}

// ---- Attach, detach, NICs -------------------------------------------------------------------------

TEST_F(OperationsWireTest, AttachSendsBusAndSlotOnlyWhenSet) {
    struct Case {
        const char* name;
        std::string pciType;
        int sequenceNum;
        json::object expected;
    };
    const std::string volume = VolumeUrn(5);
    const std::vector<Case> cases = {
        {"neither", "", 0, {{"volUrn", volume}}},
        {"both", "VIRTIO", 3, {{"volUrn", volume}, {"pciType", "VIRTIO"}, {"sequenceNum", 3}}},
        {"bus only", "SCSI", 0, {{"volUrn", volume}, {"pciType", "SCSI"}}},
        {"slot only", "", 2, {{"volUrn", volume}, {"sequenceNum", 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server().Reset();
        ScriptSuccessfulTask("POST", VmUri() + "/action/attachvol", kTask);
        SDiskInfoLib disk;
        disk.urn = volume;
        disk.pciType = c.pciType;
        disk.sequenceNum = c.sequenceNum;

        EXPECT_TRUE(ops().AttachDiskToVM(Vm(), disk));

        EXPECT_EQ(OnlyBody("POST", VmUri() + "/action/attachvol"), c.expected);
    }
}

TEST_F(OperationsWireTest, DetachSendsTheVolumeOnly) {
    ScriptSuccessfulTask("POST", VmUri() + "/action/detachvol", kTask);
    SDiskInfoLib disk;
    disk.urn = VolumeUrn(5);
    disk.pciType = "SCSI";
    disk.sequenceNum = 3;

    EXPECT_TRUE(ops().DetachDiskFromVM(Vm(), disk));

    EXPECT_EQ(OnlyBody("POST", VmUri() + "/action/detachvol"), json::object({{"volUrn", VolumeUrn(5)}}));
}

TEST_F(OperationsWireTest, AddNicSendsNameAndMacOnlyWhenSet) {
    const std::string portGroup = SiteUrn() + ":dvswitchs:1:portgroups:2";
    SVMNetworkCardInfoLib bare;
    bare.portGroupUrn = portGroup;
    SVMNetworkCardInfoLib full = bare;
    full.name = "nic-2";
    full.mac = "28:6e:d4:00:00:09";
    full.sequenceNum = 2;
    full.virtIo = 1;
    full.portId = "port-9";
    full.ip = "10.0.0.9";  // not sent
    struct Case {
        const char* name;
        SVMNetworkCardInfoLib nic;
        json::object expected;
    };
    const std::vector<Case> cases = {
        {"bare", bare, {{"portGroupUrn", portGroup}, {"sequenceNum", 0}, {"virtIo", 0}, {"portId", ""}}},
        {"full",
         full,
         {{"name", "nic-2"},
          {"portGroupUrn", portGroup},
          {"mac", "28:6e:d4:00:00:09"},
          {"sequenceNum", 2},
          {"virtIo", 1},
          {"portId", "port-9"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server().Reset();
        ScriptSuccessfulTask("POST", VmUri() + "/virtualNics", kTask);

        EXPECT_TRUE(ops().AddNicToVM(Vm(), c.nic));

        EXPECT_EQ(OnlyBody("POST", VmUri() + "/virtualNics"), c.expected);
    }
}

// ---- Backup resources -----------------------------------------------------------------------------

class BackupResourceWireTest : public OperationsWireTest {
  protected:
    SDiskInfoLib Disk() const {
        SDiskInfoLib disk;
        disk.uri = VolumeUri(5);
        return disk;
    }
    std::string Collection() const { return VolumeUri(5) + "/backupresources"; }
    std::string ResourceUri(int taskId) const { return Collection() + "/" + std::to_string(taskId); }
    std::string ResourceAnswer(const std::string& status, const std::string& reasonDes = "") const {
        json::object answer{{"taskUri", TaskUri(12)},
                            {"taskUrn", TaskUrn(12)},
                            {"resourceUrl", "nbd://192.168.40.11:10809/vol5"},
                            {"hostIP", "192.168.40.11"},
                            {"hostPort", "10809"},
                            {"targetFile", "/dev/vol5"},
                            {"token", "resource-token"},
                            {"caCert", "-----BEGIN CERTIFICATE-----"},
                            {"status", status},
                            {"runningTime", 4}};
        if (!reasonDes.empty()) answer["reasonDes"] = reasonDes;
        return json::serialize(answer);
    }
};

TEST_F(BackupResourceWireTest, PreparationBodyFollowsRestoreAndTransportFlags) {
    struct Case {
        const char* name;
        bool restore;
        bool ssl;
        json::object expected;
    };
    const std::string snap = SiteUrn() + ":vms:i-0000A001:snapshots:9";
    const std::vector<Case> cases = {
        {"backup over lan",
         false,
         false,
         {{"delay", 150},
          {"taskType", "CBTBackup"},
          {"ip", "10.1.1.1"},
          {"snapUrn2", snap},
          {"transMode", "lan"}}},
        {"backup over tls",
         false,
         true,
         {{"delay", 150},
          {"taskType", "CBTBackup"},
          {"ip", "10.1.1.1"},
          {"snapUrn2", snap},
          {"transMode", "lanssl"}}},
        {"restore",
         true,
         false,
         {{"delay", 150}, {"taskType", "CBTRestore"}, {"ip", "10.1.1.1"}, {"transMode", "lan"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server().Reset();
        AnswerTaskStart("POST", Collection(), 12);
        Answer("GET", ResourceUri(12), ResourceAnswer("success"));
        SBackupResourceInfoLib resource;

        EXPECT_TRUE(ops().PrepareBackupResource(Disk(), snap, "10.1.1.1", c.restore, c.ssl, resource));

        EXPECT_EQ(OnlyBody("POST", Collection()), c.expected);
    }
}

TEST_F(BackupResourceWireTest, ResourceIsAddressedByItsTaskAndFilledWhenReady) {
    AnswerTaskStart("POST", Collection(), 12);
    Answer("GET", ResourceUri(12), ResourceAnswer("running"));
    Answer("GET", ResourceUri(12), ResourceAnswer("success"));
    SBackupResourceInfoLib resource;

    EXPECT_TRUE(ops().PrepareBackupResource(Disk(), "urn:snap", "10.1.1.1", false, false, resource));

    EXPECT_EQ(resource.uri, ResourceUri(12));
    EXPECT_EQ(resource.hostIP, "192.168.40.11");
    EXPECT_EQ(resource.hostPort, "10809");
    EXPECT_EQ(resource.targetFile, "/dev/vol5");
    EXPECT_EQ(resource.token, "resource-token");
    EXPECT_EQ(resource.runningTime, 4);
    EXPECT_THAT(Sent("GET", ResourceUri(12)), SizeIs(2));
    EXPECT_THAT(Sent("GET", TaskUri(12)), IsEmpty());
    EXPECT_THAT(Sent("DELETE", ResourceUri(12)), IsEmpty());
}

TEST_F(BackupResourceWireTest, TaskUriWithoutSlashIsTheIdentifierItself) {
    Answer("POST", Collection(), R"({"taskUrn": "urn:t", "taskUri": "4711"})");
    Answer("GET", Collection() + "/4711", ResourceAnswer("success"));
    SBackupResourceInfoLib resource;

    EXPECT_TRUE(ops().PrepareBackupResource(Disk(), "urn:snap", "10.1.1.1", false, false, resource));

    EXPECT_EQ(resource.uri, Collection() + "/4711");
}

TEST_F(BackupResourceWireTest, FailedResourceIsReleasedAndItsReasonKept) {
    AnswerTaskStart("POST", Collection(), 12);
    Answer("GET", ResourceUri(12), ResourceAnswer("failed", "No NBD port free."));
    Answer("DELETE", ResourceUri(12), "{}");
    SBackupResourceInfoLib resource;

    EXPECT_FALSE(ops().PrepareBackupResource(Disk(), "urn:snap", "10.1.1.1", false, false, resource));

    EXPECT_EQ(ops().GetLastError(), "No NBD port free.");
    std::vector<vrmsim::RecordedRequest> released = Sent("DELETE", ResourceUri(12));
    ASSERT_THAT(released, SizeIs(1));
    EXPECT_EQ(released[0].body, "");
}

TEST_F(BackupResourceWireTest, ResourceNotReadyWithinAMinuteIsReleasedAndTheTimeOutReported) {
    AnswerTaskStart("POST", Collection(), 12);
    Answer("GET", ResourceUri(12), ResourceAnswer("running"), -1);
    Answer("DELETE", ResourceUri(12), "{}");
    state_.message = "earlier";
    SBackupResourceInfoLib resource;

    EXPECT_FALSE(ops().PrepareBackupResource(Disk(), "urn:snap", "10.1.1.1", false, false, resource));

    EXPECT_THAT(clock_.Pauses(), SizeIs(13));
    EXPECT_THAT(Sent("DELETE", ResourceUri(12)), SizeIs(1));
    // The resource record carries no URN, so the time-out names none; it still replaces the old error.
    EXPECT_EQ(state_.message, "Timeout waiting for status []");
}

TEST_F(BackupResourceWireTest, FailedReleaseAfterTheTimeOutKeepsTheTimeOutAndNamesTheResource) {
    AnswerTaskStart("POST", Collection(), 12);
    Answer("GET", ResourceUri(12), ResourceAnswer("running"), -1);
    server().FailNext("DELETE", ResourceUri(12), 500, "10420009", "Release failed.");
    state_.code = 7;
    SBackupResourceInfoLib resource;

    EXPECT_FALSE(ops().PrepareBackupResource(Disk(), "urn:snap", "10.1.1.1", false, false, resource));

    EXPECT_THAT(Sent("DELETE", ResourceUri(12)), SizeIs(1));
    EXPECT_EQ(state_.message, "Timeout waiting for status []; backup resource " + ResourceUri(12) +
                                  " may remain on the VRM (releasing it failed: Release failed.)");
    EXPECT_EQ(state_.code, 7);
}

TEST_F(BackupResourceWireTest, RefusedPreparationHasNothingToRelease) {
    server().FailNext("POST", Collection(), 500, "10420001", "CBT is not enabled.");
    SBackupResourceInfoLib resource;
    resource.uri = "untouched";

    EXPECT_FALSE(ops().PrepareBackupResource(Disk(), "urn:snap", "10.1.1.1", false, false, resource));

    EXPECT_EQ(ops().GetLastError(), "CBT is not enabled.");
    EXPECT_EQ(resource.uri, "untouched");
    EXPECT_EQ(server().Requests().size(), 1u);
}

TEST_F(BackupResourceWireTest, AnswerNamingNoTaskNeitherPollsNorDeletesTheCollection) {
    Answer("POST", Collection(), R"({"result": "accepted"})");
    SBackupResourceInfoLib resource;

    EXPECT_FALSE(ops().PrepareBackupResource(Disk(), "urn:snap", "10.1.1.1", false, false, resource));

    EXPECT_FALSE(ops().GetLastError().empty());
    EXPECT_EQ(server().Requests().size(), 1u);
    EXPECT_EQ(resource.uri, "");
}

TEST_F(BackupResourceWireTest, ReleaseAndModifyGoToTheResourceWithoutTask) {
    Answer("DELETE", ResourceUri(12), "not a task");
    Answer("PUT", ResourceUri(12), "not a task");
    SBackupResourceInfoLib resource;
    resource.uri = ResourceUri(12);

    EXPECT_TRUE(ops().ModifyBackupResource(resource, 600));
    EXPECT_TRUE(ops().ReleaseBackupResource(resource));

    EXPECT_EQ(OnlyBody("PUT", ResourceUri(12)), json::object({{"delay", 600}}));
    std::vector<vrmsim::RecordedRequest> released = Sent("DELETE", ResourceUri(12));
    ASSERT_THAT(released, SizeIs(1));
    EXPECT_EQ(released[0].body, "");
    EXPECT_EQ(server().Requests().size(), 2u);
}

TEST_F(BackupResourceWireTest, RefusedReleaseOrModificationTakesTheErrorBody) {
    SBackupResourceInfoLib resource;
    resource.uri = ResourceUri(12);
    server().FailNext("DELETE", ResourceUri(12), 404, "10300006", "No such resource.");
    EXPECT_FALSE(ops().ReleaseBackupResource(resource));
    EXPECT_EQ(ops().GetLastError(), "No such resource.");

    server().FailNext("PUT", ResourceUri(12), 400, "10100002", "Delay out of range.");
    EXPECT_FALSE(ops().ModifyBackupResource(resource, -1));
    EXPECT_EQ(ops().GetLastError(), "Delay out of range.");
    EXPECT_EQ(state_.code, 10100002);
}

// ---- Datastores -----------------------------------------------------------------------------------

TEST_F(OperationsWireTest, CreateDataStoreSendsTheFormatFlagAsANumber) {
    for (bool format : {false, true}) {
        SCOPED_TRACE(format);
        server().Reset();
        ScriptSuccessfulTask("POST", SiteUri() + "/datastores", kTask, SiteUrn() + ":datastores:9");
        SSiteInfoLib site;
        site.uri = SiteUri();

        EXPECT_TRUE(
            ops().CreateDataStore(site, "ds-new", HostUrn(), SiteUrn() + ":storageunits:3", 7, format));

        const json::object expected{{"name", "ds-new"},
                                    {"hostUrn", HostUrn()},
                                    {"storageUnitUrn", SiteUrn() + ":storageunits:3"},
                                    {"useType", 7},
                                    {"formatFlag", format ? 1 : 0}};
        EXPECT_EQ(OnlyBody("POST", SiteUri() + "/datastores"), expected);
        EXPECT_THAT(Sent("GET", TaskUri(kTask)), SizeIs(1));
    }
}

}  // namespace
}  // namespace fcsdk_test
