// The VM management operations of the facade against vrmsim over real TLS: what the facade looks up,
// the bodies of the requests as they went out, and the results and errors the caller sees.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "FacadeSimFixture.h"
#include "LogCapture.h"

namespace {

namespace fc = FusionComputeSDKWrapper;
namespace json = boost::json;
using fc::SDiskInfoLib;
using fc::SVMInfoLib;
using fc::SVMNetworkCardInfoLib;
using ::testing::HasSubstr;

class FacadeVMTest : public fcsdk_test::FacadeSimTest {
  protected:
    // Host, cluster and datastore records as the facade finds them; the reads are not kept in the recording.
    template <typename Record>
    Record FoundByName(bool (fc::CFusionComputeWrapper::*get)(const std::string&, const std::string&, Record&,
                                                              fc::UINT64),
                       const std::string& name) {
        Record record;
        EXPECT_TRUE((wrapper().*get)(name, "", record, fc::MIN_VM_PROPS)) << wrapper().GetLastError();
        server().ClearRequests();
        return record;
    }
    fc::SHostInfoLib Host(const std::string& name) {
        return FoundByName(&fc::CFusionComputeWrapper::GetHostInfo, name);
    }
    fc::SClusterInfoLib Cluster(const std::string& name) {
        return FoundByName(&fc::CFusionComputeWrapper::GetClusterInfo, name);
    }
    fc::SDataStoreInfoLib Datastore(const std::string& name) {
        return FoundByName(&fc::CFusionComputeWrapper::GetDataStoreInfo, name);
    }

    // A VM record that names only the UUID of a seeded VM, as a caller that kept only that would build it.
    static SVMInfoLib ByUuid(const SVMInfoLib& vm) { return SVMInfoLib("", "", vm.uuid); }

    std::vector<vrmsim::RecordedRequest> Lists(const std::string& path) const {
        return Sent("GET", SiteUri() + path);
    }
};

// ---------------------------------------------------------------------------------------------------
// Before Connect
// ---------------------------------------------------------------------------------------------------

TEST(FacadeVMNotConnected, EveryOperationFailsWithoutRequest) {
    fcsdk_test::SimServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    fcsdk_test::FakeClock clock;
    fc::CFusionComputeWrapper wrapper;
    SVMInfoLib vm("vm-0001", "", "");
    vm.uri = "/service/sites/X/vms/i-1";
    SDiskInfoLib disk;
    disk.uri = "/service/sites/X/volumes/1";
    disk.urn = "urn:sites:X:volumes:1";
    SVMNetworkCardInfoLib nic;
    nic.portGroupUrn = "urn:sites:X:dvswitchs:1:portgroups:1";
    std::string text;
    bool flag = false;

    const std::vector<std::pair<const char*, std::function<bool()>>> operations = {
        {"PowerOnVM", [&] { return wrapper.PowerOnVM("vm-0001", "", ""); }},
        {"PowerOffVM", [&] { return wrapper.PowerOffVM("vm-0001", "", ""); }},
        {"ShutdownVM", [&] { return wrapper.ShutdownVM("vm-0001", "", ""); }},
        {"CreateVM",
         [&] {
             SVMInfoLib created;
             created.hostUrn = "urn:sites:X:hosts:1";
             return wrapper.CreateVM(created);
         }},
        {"CreateVMFromOVFDescriptor",
         [&] {
             SVMInfoLib created;
             created.hostUrn = "urn:sites:X:hosts:1";
             return wrapper.CreateVMFromOVFDescriptor("<ovf/>", created, {});
         }},
        {"DeleteVM", [&] { return wrapper.DeleteVM(vm, true); }},
        {"ModifyVM", [&] { return wrapper.ModifyVM(vm); }},
        {"GetOVFDescriptorForVM", [&] { return wrapper.GetOVFDescriptorForVM("vm-0001", "", "", text); }},
        {"GetJSONDescriptorForVM", [&] { return wrapper.GetJSONDescriptorForVM(vm, text); }},
        {"ReconnectNetworksFromJSONDescriptor",
         [&] {
             return wrapper.ReconnectNetworksFromJSONDescriptor(vm,
                                                                R"({"vmConfig":{"nics":[{"mac":"aa"}]}})");
         }},
        {"CreateDisk",
         [&] {
             SDiskInfoLib created;
             created.datastoreUrn = "urn:sites:X:datastores:1";
             return wrapper.CreateDisk(created, false);
         }},
        {"DeleteDisk", [&] { return wrapper.DeleteDisk(disk); }},
        {"ModifyDisk", [&] { return wrapper.ModifyDisk(disk); }},
        {"AddDiskToVM", [&] { return wrapper.AddDiskToVM(vm, disk, false); }},
        {"CheckDatastoreThinSupport",
         [&] { return wrapper.CheckDatastoreThinSupport("datastore01", "", flag); }},
        {"AddNicToVM", [&] { return wrapper.AddNicToVM(vm, nic); }},
        {"CheckMACAddress", [&] { return wrapper.CheckMACAddress("28:6e:d4:00:00:01", flag); }},
        {"CreateDataStore",
         [&] { return wrapper.CreateDataStore("ds", "urn:sites:X:hosts:1", "su", 0, true); }},
    };
    for (const auto& [name, operation] : operations) {
        EXPECT_FALSE(operation()) << name;
        EXPECT_EQ(wrapper.GetLastError(), "Not connected to a VRM site") << name;
    }
    EXPECT_TRUE(server.Requests().empty());
}

// ---------------------------------------------------------------------------------------------------
// Power
// ---------------------------------------------------------------------------------------------------

TEST_F(FacadeVMTest, PowerOperationsFindTheVMAndSendTheirMode) {
    const SVMInfoLib vm = SeededVM("vm-0002");
    struct Case {
        const char* label;
        std::function<bool(fc::CFusionComputeWrapper&)> call;
        std::string action;
        std::string body;
    };
    const std::vector<Case> cases = {
        {"PowerOnVM", [&](auto& w) { return w.PowerOnVM("", "", vm.uuid); }, "/action/start", ""},
        {"PowerOffVM", [&](auto& w) { return w.PowerOffVM("", vm.urn, ""); }, "/action/stop",
         R"({"mode":"force"})"},
        {"ShutdownVM", [&](auto& w) { return w.ShutdownVM("vm-0002", "", ""); }, "/action/stop",
         R"({"mode":"safe"})"},
    };
    int taskId = 100;
    for (const Case& c : cases) {
        server().ClearRequests();
        ScriptSuccessfulTask("POST", vm.uri + c.action, ++taskId);
        EXPECT_TRUE(c.call(wrapper())) << c.label << ": " << wrapper().GetLastError();
        std::vector<vrmsim::RecordedRequest> posts = Sent("POST", vm.uri + c.action);
        ASSERT_EQ(posts.size(), 1u) << c.label;
        EXPECT_EQ(posts.front().body, c.body) << c.label;
        // The VM is looked up with no details.
        std::vector<vrmsim::RecordedRequest> lookups = Lists("/vms");
        ASSERT_EQ(lookups.size(), 1u) << c.label;
        EXPECT_EQ(lookups.front().QueryValues("detail"), std::vector<std::string>{"0"}) << c.label;
    }
}

TEST_F(FacadeVMTest, WaitsReportEveryPollToTheProgressCallback) {
    std::vector<fc::SWaitProgressLib> reports;
    wrapper().SetProgressCallback([&](const fc::SWaitProgressLib& report) { reports.push_back(report); });
    ASSERT_TRUE(wrapper().PowerOnVM("vm-0003", "", "")) << wrapper().GetLastError();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_THAT(reports[0].urn, ::testing::StartsWith("urn:sites:"));
    EXPECT_EQ(reports[1].urn, reports[0].urn);
    EXPECT_EQ(reports[0].type, "StartVmTask");
    EXPECT_EQ(std::make_tuple(reports[0].status, reports[0].progress, reports[0].elapsedSeconds),
              std::make_tuple(std::string("running"), 50, int64_t{0}));
    EXPECT_EQ(std::make_tuple(reports[1].status, reports[1].progress, reports[1].elapsedSeconds),
              std::make_tuple(std::string("success"), 100, int64_t{5}));

    // A callback that throws is logged and the wait goes on; one that cancels ends the call.
    wrapper().SetProgressCallback([](const fc::SWaitProgressLib&) { throw std::runtime_error("boom"); });
    EXPECT_TRUE(wrapper().PowerOnVM("vm-0006", "", "")) << wrapper().GetLastError();
    wrapper().SetProgressCallback([&](const fc::SWaitProgressLib&) { wrapper().Cancel(); });
    EXPECT_FALSE(wrapper().PowerOnVM("vm-0009", "", ""));
    EXPECT_EQ(wrapper().GetLastError(), "Cancelled");
}

TEST_F(FacadeVMTest, PowerOperationOnAnUnknownVMSendsNothing) {
    EXPECT_FALSE(wrapper().PowerOnVM("no-such-vm", "", ""));
    EXPECT_FALSE(wrapper().GetLastError().empty());
    EXPECT_TRUE(SentWithMethod("POST").empty());
}

// ---------------------------------------------------------------------------------------------------
// Creation
// ---------------------------------------------------------------------------------------------------

TEST_F(FacadeVMTest, CreateVMPlacesByHostBeforeClusterAndAppliesTheDefaults) {
    const fc::SHostInfoLib host = Host("CNA02");
    const SVMInfoLib existing = SeededVM("vm-0003");
    ScriptSuccessfulTask("POST", SiteUri() + "/vms", 201, existing.urn, existing.uri);

    SVMInfoLib vm;
    vm.hostName = "CNA02";
    vm.clusterName = "ManagementCluster";
    vm.osType = "Linux";
    vm.osVersion = 77;
    ASSERT_TRUE(wrapper().CreateVM(vm)) << wrapper().GetLastError();

    EXPECT_EQ(
        OnlyBody("POST", SiteUri() + "/vms"),
        (json::object{{"vmConfig", json::object{{"cpu", json::object{{"quantity", 1}, {"coresPerSocket", 1}}},
                                                {"memory", json::object{{"quantityMB", 1024}}}}},
                      {"osOptions", json::object{{"osType", "Windows"}, {"osVersion", 3}}},
                      {"location", host.urn},
                      {"autoBoot", false}}));
    EXPECT_TRUE(Lists("/clusters").empty()) << "a host name makes the cluster lookup unnecessary";
    // The caller's record is the created VM, read back with every detail.
    EXPECT_EQ(vm.urn, existing.urn);
    EXPECT_EQ(vm.name, existing.name);
    EXPECT_EQ(vm.disks.size(), existing.disks.size());
}

TEST_F(FacadeVMTest, CreateVMKeepsTheCallersSizesAndPlacesByCluster) {
    const fc::SClusterInfoLib cluster = Cluster("ManagementCluster");
    const SVMInfoLib existing = SeededVM("vm-0004");
    ScriptSuccessfulTask("POST", SiteUri() + "/vms", 202, existing.urn, existing.uri);

    SVMInfoLib vm;
    vm.name = "vm-0004";
    vm.uuid = existing.uuid;
    vm.clusterName = "ManagementCluster";
    vm.cpuQuantity = 4;
    vm.coresPerSocket = 2;
    vm.memoryQuantityMB = UINT64_MAX;  // the unsigned form of -1 means "not given"
    ASSERT_TRUE(wrapper().CreateVM(vm)) << wrapper().GetLastError();

    json::object body = OnlyBody("POST", SiteUri() + "/vms");
    EXPECT_EQ(body.at("location"), json::value(cluster.urn));
    EXPECT_EQ(body.at("name"), json::value("vm-0004"));
    EXPECT_EQ(body.at("uuid"), json::value(existing.uuid));
    EXPECT_EQ(body.at("vmConfig"),
              (json::object{{"cpu", json::object{{"quantity", 4}, {"coresPerSocket", 2}}},
                            {"memory", json::object{{"quantityMB", 1024}}}}));
}

TEST_F(FacadeVMTest, CreateVMWithAnUnknownHostSendsNoCreation) {
    SVMInfoLib vm;
    vm.hostName = "CNA99";
    vm.clusterName = "ManagementCluster";
    EXPECT_FALSE(wrapper().CreateVM(vm));
    EXPECT_FALSE(wrapper().GetLastError().empty());
    EXPECT_TRUE(SentWithMethod("POST").empty());
    EXPECT_TRUE(Lists("/clusters").empty());
}

TEST_F(FacadeVMTest, CreateVMWithoutLocationFailsWithTheOperationsMessage) {
    SVMInfoLib vm;
    vm.name = "nowhere";
    EXPECT_FALSE(wrapper().CreateVM(vm));
    EXPECT_EQ(wrapper().GetLastError(), "Location (cluster/host) was not specified");
    EXPECT_TRUE(SentWithMethod("POST").empty());
}

TEST_F(FacadeVMTest, CreateVMFromOVFDescriptorPlacesTheVMWithoutSizeDefaults) {
    const fc::SHostInfoLib host = Host("CNA03");
    const SVMInfoLib existing = SeededVM("vm-0016");
    // The parse answer first: its rule must not be taken by the creation's, whose path is a prefix of it.
    const json::object vmConfig{{"cpu", json::object{{"quantity", 2}}},
                                {"memory", json::object{{"quantityMB", 0}}}};
    Answer(
        "POST", SiteUri() + "/vms/action/parsedescriptor",
        json::serialize(json::object{{"name", "from-ovf"}, {"vmConfig", vmConfig}, {"isTemplate", false}}));
    ScriptSuccessfulTask("POST", SiteUri() + "/vms", 203, existing.urn, existing.uri);

    SVMInfoLib vm;
    vm.hostName = "CNA03";
    ASSERT_TRUE(wrapper().CreateVMFromOVFDescriptor("<Envelope/>", vm, {})) << wrapper().GetLastError();

    EXPECT_EQ(OnlyBody("POST", SiteUri() + "/vms/action/parsedescriptor"),
              (json::object{{"ovfDescriptor", "<Envelope/>"}}));
    EXPECT_EQ(
        OnlyBody("POST", SiteUri() + "/vms"),
        (json::object{
            {"vmConfig", vmConfig}, {"isTemplate", false}, {"location", host.urn}, {"autoBoot", false}}));
    EXPECT_EQ(vm.urn, existing.urn);
    EXPECT_EQ(vm.name, existing.name);
}

// ---------------------------------------------------------------------------------------------------
// Change and deletion
// ---------------------------------------------------------------------------------------------------

TEST_F(FacadeVMTest, ModifyVMByUuidSendsOnlyWhatDiffersAndNeverAnEmptyName) {
    const SVMInfoLib vm = SeededVM("vm-0005");
    ScriptSuccessfulTask("PUT", vm.uri, 301);

    SVMInfoLib wanted = ByUuid(vm);
    wanted.coresPerSocket = 2;
    ASSERT_TRUE(wrapper().ModifyVM(wanted)) << wrapper().GetLastError();

    EXPECT_EQ(OnlyBody("PUT", vm.uri), (json::object{{"cpu", json::object{{"coresPerSocket", 2}}}}));
}

TEST_F(FacadeVMTest, ModifyVMWithNothingToChangeSendsNoRequest) {
    const SVMInfoLib vm = SeededVM("vm-0005");
    for (SVMInfoLib wanted : {ByUuid(vm), SVMInfoLib("vm-0005", "", "")}) {
        EXPECT_TRUE(wrapper().ModifyVM(wanted)) << wrapper().GetLastError();
    }
    EXPECT_TRUE(SentWithMethod("PUT").empty());
}

TEST_F(FacadeVMTest, ModifyVMRenamesAndResizesMemory) {
    const SVMInfoLib vm = SeededVM("vm-0006");
    ScriptSuccessfulTask("PUT", vm.uri, 302);
    SVMInfoLib wanted("renamed-vm", vm.urn, "");
    wanted.memoryQuantityMB = 4096;
    ASSERT_TRUE(wrapper().ModifyVM(wanted)) << wrapper().GetLastError();
    EXPECT_EQ(OnlyBody("PUT", vm.uri),
              (json::object{{"name", "renamed-vm"}, {"memory", json::object{{"quantityMB", 4096}}}}));
}

TEST_F(FacadeVMTest, ModifyVMReportsTheFailedTask) {
    const SVMInfoLib vm = SeededVM("vm-0006");
    Fail("PUT", vm.uri, 1, "10410001", "Not enough memory on the host.");
    SVMInfoLib wanted = ByUuid(vm);
    wanted.memoryQuantityMB = 1 << 20;
    EXPECT_FALSE(wrapper().ModifyVM(wanted));
    EXPECT_EQ(wrapper().GetLastError(), "Not enough memory on the host.");
}

TEST_F(FacadeVMTest, DeleteVMByIdentityLooksTheVMUp) {
    const SVMInfoLib vm = SeededVM("vm-0007");
    ScriptSuccessfulTask("DELETE", vm.uri, 303);
    ASSERT_TRUE(wrapper().DeleteVM("", "", vm.uuid, true)) << wrapper().GetLastError();
    EXPECT_EQ(OnlyBody("DELETE", vm.uri), (json::object{{"isReserveDisks", 0}}));
}

// ---------------------------------------------------------------------------------------------------
// Descriptors
// ---------------------------------------------------------------------------------------------------

TEST_F(FacadeVMTest, JSONDescriptorIsTheVMObjectAndReadsBack) {
    const SVMInfoLib vm = SeededVM("vm-0008");
    std::string descriptor;
    ASSERT_TRUE(wrapper().GetJSONDescriptorForVM(vm, descriptor)) << wrapper().GetLastError();
    ASSERT_EQ(Sent("GET", vm.uri).size(), 1u);
    EXPECT_TRUE(json::parse(descriptor).is_object());
    EXPECT_TRUE(SentWithMethod("POST").empty());

    SVMInfoLib parsed;
    ASSERT_TRUE(wrapper().GetVMInfoFromJSONDescriptor(descriptor, parsed));
    EXPECT_EQ(parsed.urn, vm.urn);
    EXPECT_EQ(parsed.uuid, vm.uuid);
    EXPECT_EQ(parsed.disks.size(), vm.disks.size());
    ASSERT_EQ(parsed.nics.size(), vm.nics.size());
    EXPECT_EQ(parsed.nics.front().mac, vm.nics.front().mac);

    EXPECT_FALSE(wrapper().GetVMInfoFromJSONDescriptor("<vm/>", parsed));
}

TEST_F(FacadeVMTest, JSONDescriptorNeedsTheVMLink) {
    std::string descriptor;
    EXPECT_FALSE(wrapper().GetJSONDescriptorForVM(SVMInfoLib("vm-0008", "", ""), descriptor));
    EXPECT_EQ(wrapper().GetLastError(), "VM URI is not specified");
    EXPECT_TRUE(server().Requests().empty());
}

TEST_F(FacadeVMTest, OVFDescriptorOfACompleteRecordNeedsNoLookup) {
    const SVMInfoLib vm = SeededVM("vm-0008");
    Answer("POST", vm.uri + "/action/createdescriptor", R"({"ovfDescriptor":"<Envelope/>"})", 2);
    std::string descriptor;
    ASSERT_TRUE(wrapper().GetOVFDescriptorForVM(vm, descriptor)) << wrapper().GetLastError();
    EXPECT_EQ(descriptor, "<Envelope/>");
    EXPECT_TRUE(Lists("/vms").empty());

    // Without its disks the record is read again, with the disk list.
    ASSERT_TRUE(wrapper().GetOVFDescriptorForVM("", "", vm.uuid, descriptor)) << wrapper().GetLastError();
    std::vector<vrmsim::RecordedRequest> lookups = Lists("/vms");
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(lookups.front().QueryValues("detail"), std::vector<std::string>{"2"});
    std::vector<vrmsim::RecordedRequest> posts = Sent("POST", vm.uri + "/action/createdescriptor");
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(BodyOf(posts[1]).at("fileItems").as_array().size(), vm.disks.size());
}

// ---------------------------------------------------------------------------------------------------
// Network cards
// ---------------------------------------------------------------------------------------------------

TEST_F(FacadeVMTest, ReconnectNetworksClearsAMacAddressThatIsInUse) {
    const SVMInfoLib target = SeededVM("vm-0009");
    const SVMInfoLib other = SeededVM("vm-0010");
    ASSERT_FALSE(other.nics.empty());
    const std::string usedMac = other.nics.front().mac;
    const std::string freeMac = "aa:bb:cc:dd:ee:01";
    const std::string portGroup = other.nics.front().portGroupUrn;
    json::object descriptor{
        {"name", "old-vm"},
        {"vmConfig", json::object{{"nics", json::array{json::object{{"name", "Nic1"},
                                                                    {"mac", usedMac},
                                                                    {"portGroupUrn", portGroup},
                                                                    {"sequenceNum", 0},
                                                                    {"virtIo", 1}},
                                                       json::object{{"name", "Nic2"},
                                                                    {"mac", freeMac},
                                                                    {"portGroupUrn", portGroup},
                                                                    {"sequenceNum", 1},
                                                                    {"virtIo", 1},
                                                                    {"portId", "p-7"}}}}}}};
    ScriptSuccessfulTask("POST", target.uri + "/virtualNics", 401);
    ScriptSuccessfulTask("POST", target.uri + "/virtualNics", 402);

    EXPECT_TRUE(wrapper().ReconnectNetworksFromJSONDescriptor(target, json::serialize(descriptor)))
        << wrapper().GetLastError();

    std::vector<vrmsim::RecordedRequest> posts = Sent("POST", target.uri + "/virtualNics");
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(BodyOf(posts[0]), (json::object{{"name", "Nic1"},
                                              {"portGroupUrn", portGroup},
                                              {"sequenceNum", 0},
                                              {"virtIo", 1},
                                              {"portId", ""}}));
    EXPECT_EQ(BodyOf(posts[1]), (json::object{{"name", "Nic2"},
                                              {"portGroupUrn", portGroup},
                                              {"mac", freeMac},
                                              {"sequenceNum", 1},
                                              {"virtIo", 1},
                                              {"portId", "p-7"}}));
    // The MAC searches went to the site's VM list.
    std::vector<vrmsim::RecordedRequest> searches = Lists("/vms");
    ASSERT_EQ(searches.size(), 2u);
    EXPECT_EQ(searches[0].QueryValues("mac"), std::vector<std::string>{usedMac});
    EXPECT_TRUE(Lists("/dvswitchs").empty()) << "cards with a port group need no switch lookup";
}

TEST_F(FacadeVMTest, ReconnectNetworksSucceedsWhenNoCardCouldBeAdded) {
    fcsdk_test::LogCapture log(1);
    const SVMInfoLib target = SeededVM("vm-0011");
    const std::string descriptor =
        R"({"vmConfig":{"nics":[{"mac":"aa:bb:cc:00:00:01","portGroupUrn":"x"},{"mac":"aa:bb:cc:00:00:02","portGroupUrn":"x"}]}})";
    Fail("POST", target.uri + "/virtualNics", 2, "10420002", "Port group not found.");

    EXPECT_TRUE(wrapper().ReconnectNetworksFromJSONDescriptor(target, descriptor));
    EXPECT_EQ(Sent("POST", target.uri + "/virtualNics").size(), 2u);
    EXPECT_EQ(wrapper().GetLastError(), "Port group not found.");
    EXPECT_TRUE(log.Contains(
        "bool FusionComputeSDKWrapper::CFusionComputeWrapper::ReconnectNetworksFromJSONDescriptor(const "
        "FusionComputeSDKWrapper::SVMInfoLib&, const string&) - Reconnected 0 of 2 nics to vm "
        "[vm-0011]"))
        << log.Text();

    EXPECT_FALSE(wrapper().ReconnectNetworksFromJSONDescriptor(target, "not json"));
}

TEST_F(FacadeVMTest, AddNicToVMChoosesTheFirstPortGroupOfTheNamedSwitch) {
    const SVMInfoLib vm = SeededVM("vm-0012");
    ScriptSuccessfulTask("POST", vm.uri + "/virtualNics", 403);
    SVMNetworkCardInfoLib nic;
    nic.dvSwitchName = "DVS02";
    ASSERT_TRUE(wrapper().AddNicToVM(SVMInfoLib(vm.name, "", ""), nic)) << wrapper().GetLastError();

    EXPECT_EQ(nic.portGroupName, "PG-2-1");
    EXPECT_THAT(nic.portGroupUrn, HasSubstr(":portgroups:1"));
    EXPECT_EQ(OnlyBody("POST", vm.uri + "/virtualNics").at("portGroupUrn"), json::value(nic.portGroupUrn));
}

TEST_F(FacadeVMTest, CheckMACAddressSearchesTheSite) {
    const SVMInfoLib vm = SeededVM("vm-0013");
    bool inUse = false;
    ASSERT_TRUE(wrapper().CheckMACAddress(vm.nics.front().mac, inUse));
    EXPECT_TRUE(inUse);
    ASSERT_TRUE(wrapper().CheckMACAddress("aa:bb:cc:dd:ee:ff", inUse));
    EXPECT_FALSE(inUse);

    Fail("GET", SiteUri() + "/vms", 1, "10000009", "Search refused");
    EXPECT_FALSE(wrapper().CheckMACAddress("aa:bb:cc:dd:ee:ff", inUse));
    EXPECT_EQ(wrapper().GetLastError(), "Search refused");
}

// ---------------------------------------------------------------------------------------------------
// Disks and datastores
// ---------------------------------------------------------------------------------------------------

class FacadeDiskTest : public FacadeVMTest {
  protected:
    void SetUp() override {
        FacadeVMTest::SetUp();
        vm_ = SeededVM("vm-0014");
        // The volume the VRM "creates": an existing one, so that reading it back works.
        volume_ = SeededVM("vm-0015").disks.back();
        ASSERT_FALSE(volume_.urn.empty());
        // A VM's disk element names its volume by URN only.
        volume_.uri = UriOf(volume_.urn);
    }

    // A new disk as a caller describes it, with its own bus and slot.
    static SDiskInfoLib NewDisk() {
        SDiskInfoLib disk;
        disk.name = "data-disk";
        disk.quantityGB = 10;
        disk.datastoreName = "datastore01";
        disk.pciType = "VIRTIO";
        disk.sequenceNum = 3;
        return disk;
    }

    void ScriptCreation() {
        ScriptSuccessfulTask("POST", SiteUri() + "/volumes", 501, volume_.urn, volume_.uri);
    }

    SVMInfoLib vm_;
    SDiskInfoLib volume_;
};

TEST_F(FacadeDiskTest, AddDiskToVMAttachesANewVolumeWithTheCallersBusAndSlot) {
    const std::string datastoreUrn = Datastore("datastore01").urn;
    ScriptCreation();
    ScriptSuccessfulTask("POST", vm_.uri + "/action/attachvol", 502);
    SDiskInfoLib disk = NewDisk();

    ASSERT_TRUE(wrapper().AddDiskToVM("", "", vm_.uuid, disk, false)) << wrapper().GetLastError();

    EXPECT_EQ(OnlyBody("POST", SiteUri() + "/volumes"), (json::object{{"name", "data-disk"},
                                                                      {"quantityGB", 10},
                                                                      {"datastoreUrn", datastoreUrn},
                                                                      {"isThin", false},
                                                                      {"volType", 1},
                                                                      {"type", "normal"},
                                                                      {"indepDisk", false},
                                                                      {"persistentDisk", true}}));
    EXPECT_EQ(OnlyBody("POST", vm_.uri + "/action/attachvol"),
              (json::object{{"volUrn", volume_.urn}, {"pciType", "VIRTIO"}, {"sequenceNum", 3}}));
    EXPECT_EQ(disk.urn, volume_.urn);
    EXPECT_EQ(disk.pciType, "VIRTIO");
    EXPECT_EQ(disk.sequenceNum, 3);
    EXPECT_TRUE(SentWithMethod("DELETE").empty());
}

TEST_F(FacadeDiskTest, AddDiskToVMDeletesTheVolumeItCreatedWhenAttachingFails) {
    ScriptCreation();
    Fail("POST", vm_.uri + "/action/attachvol", 1, "10420003", "The slot is occupied.");
    ScriptSuccessfulTask("DELETE", volume_.uri, 503);
    SDiskInfoLib disk = NewDisk();

    EXPECT_FALSE(wrapper().AddDiskToVM(vm_, disk, true));

    EXPECT_EQ(wrapper().GetLastError(),
              "The slot is occupied.; the new volume " + volume_.urn + " was deleted again");
    EXPECT_EQ(wrapper().GetLastErrorCode(), 10420003);
    std::vector<vrmsim::RecordedRequest> deletes = Sent("DELETE", volume_.uri);
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes.front().body, "");
    EXPECT_FALSE(OnlyBody("POST", SiteUri() + "/volumes").contains("volType")) << "omitVolType";
    // The record no longer names the deleted volume, so a retry creates a new one.
    EXPECT_EQ(disk.urn, "");
    EXPECT_EQ(disk.uri, "");
}

TEST_F(FacadeDiskTest, AddDiskToVMKeepsAVolumeItDidNotCreate) {
    Fail("POST", vm_.uri + "/action/attachvol", 1, "10420003", "The slot is occupied.");
    SDiskInfoLib disk = volume_;

    EXPECT_FALSE(wrapper().AddDiskToVM(vm_, disk, false));

    EXPECT_EQ(wrapper().GetLastError(), "The slot is occupied.");
    EXPECT_TRUE(SentWithMethod("DELETE").empty());
    EXPECT_TRUE(Sent("POST", SiteUri() + "/volumes").empty());
    EXPECT_EQ(disk.urn, volume_.urn);
}

TEST_F(FacadeDiskTest, AddDiskToVMWithAnUnknownDatastoreCreatesNothing) {
    SDiskInfoLib disk = NewDisk();
    disk.datastoreName = "no-such-datastore";
    EXPECT_FALSE(wrapper().AddDiskToVM(vm_, disk, false));
    EXPECT_FALSE(wrapper().GetLastError().empty());
    EXPECT_TRUE(SentWithMethod("POST").empty());
}

TEST_F(FacadeDiskTest, ModifyDiskKeepsTheNameWhenTheCallerGaveNone) {
    Answer("PUT", volume_.uri, "{}");
    SDiskInfoLib wanted;
    wanted.urn = volume_.urn;
    wanted.persistentDisk = !volume_.persistentDisk;
    wanted.indepDisk = volume_.indepDisk;

    ASSERT_TRUE(wrapper().ModifyDisk(wanted)) << wrapper().GetLastError();

    EXPECT_EQ(OnlyBody("PUT", volume_.uri), (json::object{{"name", volume_.name},
                                                          {"indepDisk", volume_.indepDisk},
                                                          {"persistentDisk", !volume_.persistentDisk}}));
    EXPECT_EQ(wanted.uri, volume_.uri);
}

TEST_F(FacadeDiskTest, ModifyDiskWithoutChangeSendsNothingAndRefreshesTheRecord) {
    SDiskInfoLib wanted;
    wanted.urn = volume_.urn;
    wanted.name = volume_.name;
    wanted.persistentDisk = volume_.persistentDisk;
    wanted.indepDisk = volume_.indepDisk;
    ASSERT_TRUE(wrapper().ModifyDisk(wanted)) << wrapper().GetLastError();
    EXPECT_TRUE(SentWithMethod("PUT").empty());
    EXPECT_EQ(wanted.quantityGB, volume_.quantityGB);
    EXPECT_EQ(wanted.datastoreUrn, volume_.datastoreUrn);
}

TEST_F(FacadeDiskTest, DeleteDiskByUrnReadsTheVolumeFirst) {
    ScriptSuccessfulTask("DELETE", volume_.uri, 504);
    SDiskInfoLib byUrn;
    byUrn.urn = volume_.urn;
    ASSERT_TRUE(wrapper().DeleteDisk(byUrn)) << wrapper().GetLastError();
    EXPECT_EQ(Sent("GET", volume_.uri).size(), 1u);
    EXPECT_EQ(Sent("DELETE", volume_.uri).size(), 1u);
}

TEST_F(FacadeDiskTest, CheckDatastoreThinSupportAndCreateDataStore) {
    const fc::SDataStoreInfoLib datastore = Datastore("datastore02");
    bool isThin = !datastore.isThin;
    ASSERT_TRUE(wrapper().CheckDatastoreThinSupport("datastore02", "", isThin));
    EXPECT_EQ(isThin, datastore.isThin);
    EXPECT_FALSE(wrapper().CheckDatastoreThinSupport("no-such-datastore", "", isThin));

    const fc::SHostInfoLib host = Host("CNA01");
    ScriptSuccessfulTask("POST", SiteUri() + "/datastores", 505);
    ASSERT_TRUE(wrapper().CreateDataStore("new-ds", host.urn, "urn:sites:X:storageunits:9", 2, false))
        << wrapper().GetLastError();
    EXPECT_EQ(OnlyBody("POST", SiteUri() + "/datastores"),
              (json::object{{"name", "new-ds"},
                            {"hostUrn", host.urn},
                            {"storageUnitUrn", "urn:sites:X:storageunits:9"},
                            {"useType", 2},
                            {"formatFlag", 0}}));
}

// ---------------------------------------------------------------------------------------------------
// A restore as a backup product runs it, against the simulator's own VMs, volumes and descriptors (no
// scripted answers)
// ---------------------------------------------------------------------------------------------------

TEST_F(FacadeVMTest, RestoreRecreatesTheVMFromItsDescriptorsOnNewVolumes) {
    const SVMInfoLib old = SeededVM("vm-0017");
    ASSERT_FALSE(old.disks.empty());
    ASSERT_FALSE(old.nics.empty());

    // At backup time: both descriptors of the VM.
    std::string jsonDescriptor;
    std::string ovfDescriptor;
    ASSERT_TRUE(wrapper().GetJSONDescriptorForVM(old, jsonDescriptor)) << wrapper().GetLastError();
    ASSERT_TRUE(wrapper().GetOVFDescriptorForVM(old, ovfDescriptor)) << wrapper().GetLastError();
    EXPECT_FALSE(ovfDescriptor.empty());

    // The VM is lost: stopped and deleted with its disks.
    if (old.status == "running") {
        ASSERT_TRUE(wrapper().PowerOffVM("", old.urn, "")) << wrapper().GetLastError();
    }
    ASSERT_TRUE(wrapper().DeleteVM(old, true)) << wrapper().GetLastError();
    SVMInfoLib gone;
    EXPECT_FALSE(wrapper().GetVMInfo("", "", old.uuid, gone, fc::MIN_VM_PROPS));

    // New volumes like the old disks; the descriptor still names the old ones by their UUIDs.
    SVMInfoLib restored;
    restored.name = old.name + "-restored";
    restored.hostUrn = old.hostUrn;
    restored.clusterUrn = old.clusterUrn;
    std::map<std::string, std::string> diskPathMap;
    std::map<std::string, SDiskInfoLib> oldDiskOfVolume;
    for (const SDiskInfoLib& oldDisk : old.disks) {
        SDiskInfoLib volume;
        volume.name = restored.name + "-" + oldDisk.name;
        volume.quantityGB = oldDisk.quantityGB;
        volume.datastoreUrn = oldDisk.datastoreUrn;
        volume.isThin = oldDisk.isThin;
        ASSERT_TRUE(wrapper().CreateDisk(volume, false)) << wrapper().GetLastError();
        ASSERT_NE(volume.uuid, oldDisk.uuid);
        diskPathMap[volume.uuid] = oldDisk.uuid;
        oldDiskOfVolume[volume.urn] = oldDisk;
        restored.disks.push_back(volume);
    }
    ASSERT_TRUE(wrapper().CreateVMFromOVFDescriptor(ovfDescriptor, restored, diskPathMap))
        << wrapper().GetLastError();

    // The record is the new VM: the new volumes in the old disks' slots, no network cards yet.
    EXPECT_EQ(restored.name, old.name + "-restored");
    EXPECT_NE(restored.urn, old.urn);
    ASSERT_EQ(restored.disks.size(), old.disks.size());
    for (const SDiskInfoLib& disk : restored.disks) {
        ASSERT_EQ(oldDiskOfVolume.count(disk.urn), 1u) << disk.urn << " is not one of the new volumes";
        const SDiskInfoLib& oldDisk = oldDiskOfVolume[disk.urn];
        EXPECT_EQ(disk.pciType, oldDisk.pciType) << disk.urn;
        EXPECT_EQ(disk.sequenceNum, oldDisk.sequenceNum) << disk.urn;
        EXPECT_EQ(disk.quantityGB, oldDisk.quantityGB) << disk.urn;
    }
    EXPECT_TRUE(restored.nics.empty());

    // The old cards come back; their addresses became free with the old VM.
    ASSERT_TRUE(wrapper().ReconnectNetworksFromJSONDescriptor(restored, jsonDescriptor))
        << wrapper().GetLastError();
    SVMInfoLib result;
    ASSERT_TRUE(wrapper().GetVMInfo("", restored.urn, "", result, fc::VM_PROP_ALL))
        << wrapper().GetLastError();
    ASSERT_EQ(result.nics.size(), old.nics.size());
    for (size_t i = 0; i < old.nics.size(); ++i) {
        EXPECT_EQ(result.nics[i].portGroupUrn, old.nics[i].portGroupUrn) << i;
        EXPECT_EQ(result.nics[i].mac, old.nics[i].mac) << i;
    }
}

TEST_F(FacadeVMTest, ReconnectingTheCardsOfAVMThatStillExistsGivesThemNewAddresses) {
    const SVMInfoLib source = SeededVM("vm-0019");
    const SVMInfoLib target = SeededVM("vm-0020");
    std::string descriptor;
    ASSERT_TRUE(wrapper().GetJSONDescriptorForVM(source, descriptor)) << wrapper().GetLastError();

    ASSERT_TRUE(wrapper().ReconnectNetworksFromJSONDescriptor(target, descriptor))
        << wrapper().GetLastError();

    SVMInfoLib result;
    ASSERT_TRUE(wrapper().GetVMInfo("", "", target.uuid, result, fc::VM_PROP_ALL))
        << wrapper().GetLastError();
    ASSERT_EQ(result.nics.size(), target.nics.size() + source.nics.size());
    for (size_t i = 0; i < source.nics.size(); ++i) {
        const SVMNetworkCardInfoLib& added = result.nics[target.nics.size() + i];
        EXPECT_EQ(added.portGroupUrn, source.nics[i].portGroupUrn);
        EXPECT_FALSE(added.mac.empty());
        EXPECT_NE(added.mac, source.nics[i].mac) << "the address is still used by " << source.name;
    }
    for (const vrmsim::RecordedRequest& request : Sent("POST", target.uri + "/virtualNics")) {
        EXPECT_FALSE(BodyOf(request).contains("mac")) << request.body;
    }
}

// ---------------------------------------------------------------------------------------------------
// Undo: a creation the VRM accepted is deleted again when a later step of the same call fails
// ---------------------------------------------------------------------------------------------------

enum class Created { Snapshot, Volume, VM };
enum class Break { PollDropped, TimedOut, ReadBackFails };

class FacadeUndoTest : public FacadeVMTest, public ::testing::WithParamInterface<std::tuple<Created, Break>> {
  protected:
    void SetUp() override {
        FacadeVMTest::SetUp();
        // A short task time-out, read by a wrapper built afterwards.
        server().SetConfigValue("VirtualServer/nOperationTimeout", "1");
        fresh_ = std::make_unique<fc::CFusionComputeWrapper>();
        ASSERT_TRUE(fresh_->Connect(server().host(), server().user(), server().password()));
        vm_ = SeededVM("vm-0001");
        datastoreUrn_ = Datastore("datastore01").urn;
    }
    void TearDown() override { server().SetConfigValue("VirtualServer/nOperationTimeout", ""); }

    // What exists on the simulator that a creation could add to.
    std::tuple<size_t, size_t, size_t> Objects() {
        const std::optional<vrmsim::VmState> vm = server().sim().FindVm(vm_.urn);
        const vrmsim::StateCounts counts = server().sim().Counts();
        return {vm ? vm->snapshotUrns.size() : 0, counts.volumes, counts.vms};
    }

    // Runs the creation; returns its result.
    bool Create(Created kind) {
        switch (kind) {
            case Created::Snapshot: {
                fc::SSnapshotInfoLib snapshot;
                return fresh_->CreateVMSnapshot(vm_, "undo", "", false, true, true, true, snapshot);
            }
            case Created::Volume: {
                SDiskInfoLib disk;
                disk.name = "undo-disk";
                disk.quantityGB = 1;
                disk.datastoreUrn = datastoreUrn_;
                return fresh_->CreateDisk(disk, false);
            }
            case Created::VM: {
                SVMInfoLib vm;
                vm.name = "undo-vm";
                vm.hostName = "CNA01";
                return fresh_->CreateVM(vm);
            }
        }
        return false;
    }

    std::string CreationPath(Created kind) const {
        switch (kind) {
            case Created::Snapshot:
                return vm_.uri + "/snapshots";
            case Created::Volume:
                return SiteUri() + "/volumes";
            case Created::VM:
                return SiteUri() + "/vms";
        }
        return std::string();
    }

    std::unique_ptr<fc::CFusionComputeWrapper> fresh_;
    SVMInfoLib vm_;
    std::string datastoreUrn_;
};

TEST_P(FacadeUndoTest, NothingRemainsOnTheVrmAndTheErrorSaysWhatWasUndone) {
    const auto [kind, fault] = GetParam();
    const auto before = Objects();
    switch (fault) {
        case Break::PollDropped: {
            vrmsim::Fault drop;
            drop.kind = vrmsim::FaultKind::Drop;
            drop.method = "GET";
            drop.path = SiteUri() + "/tasks/";
            server().AddFault(drop);
            break;
        }
        case Break::TimedOut: {
            // Still running when the wait of a minute gives up; ends while the undo waits for it.
            Control("POST", "/_sim/outcomes",
                    boost::json::serialize(boost::json::object{
                        {"method", "POST"}, {"path", CreationPath(kind)}, {"polls", 20}}));
            break;
        }
        case Break::ReadBackFails:
            // The first read after the creation task: the new snapshot, the new volume, the VM search.
            Fail("GET",
                 kind == Created::Snapshot ? vm_.uri + "/snapshots/"
                                           : SiteUri() + (kind == Created::Volume ? "/volumes/" : "/vms"),
                 1, "10000009", "Simulated read failure");
            break;
    }

    EXPECT_FALSE(Create(kind));

    const std::string error = fresh_->GetLastError();
    EXPECT_THAT(error, HasSubstr(" was deleted again")) << error;
    if (fault == Break::ReadBackFails) {
        EXPECT_THAT(error, ::testing::StartsWith("Simulated read failure; the new "));
        EXPECT_EQ(fresh_->GetLastErrorCode(), 10000009);
    }
    if (fault == Break::TimedOut) {
        EXPECT_THAT(error, ::testing::StartsWith("Timeout waiting for status"));
    }
    EXPECT_EQ(Objects(), before) << "an object was left behind";
    EXPECT_EQ(server().sim().PendingFaults(), 0u);
}

std::string UndoCaseName(const ::testing::TestParamInfo<std::tuple<Created, Break>>& info) {
    static const char* const kKinds[] = {"Snapshot", "Volume", "VM"};
    static const char* const kFaults[] = {"PollDropped", "TimedOut", "ReadBackFails"};
    return std::string(kKinds[static_cast<int>(std::get<0>(info.param))]) +
           kFaults[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    AfterAcceptedCreation, FacadeUndoTest,
    ::testing::Combine(::testing::Values(Created::Snapshot, Created::Volume, Created::VM),
                       ::testing::Values(Break::PollDropped, Break::TimedOut, Break::ReadBackFails)),
    UndoCaseName);

}  // namespace
