// CFusionComputeParser against VRM answers as the VRM writes them: many keys the records ignore,
// optional keys left out, nested objects and arrays, and values of unexpected JSON types.

#include "parser/FusionComputeParser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "EvDebug.h"
#include "LogCapture.h"

namespace FusionComputeSDKWrapper {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

json_spirit::mObject Object(const std::string& text) {
    json_spirit::mObject object;
    EXPECT_TRUE(MlJson::Unserialize(text, object)) << text;
    return object;
}

// A VM as GET .../vms/<id> answers at detail level 2.
const char* const kVmDetail2 = R"({
  "urn": "urn:sites:43BC08E8:vms:i-00000012",
  "uri": "/service/sites/43BC08E8/vms/i-00000012",
  "uuid": "7a3c9e2f-5b1d-4c8a-9f0e-2d6b8a1c4e73",
  "name": "db-prod-01",
  "description": "PostgreSQL primary",
  "group": "", "location": "urn:sites:43BC08E8:clusters:117", "locationName": "ManagementCluster",
  "hostUrn": "urn:sites:43BC08E8:hosts:177", "hostName": "CNA-03",
  "clusterUrn": "urn:sites:43BC08E8:clusters:117", "clusterName": "ManagementCluster",
  "status": "running", "pvDriverStatus": "running", "toolInstallStatus": "empty", "cdRomStatus": "empty",
  "isTemplate": false, "isLinkClone": false, "isBindingHost": false, "createTime": "2024-03-11 08:12:45",
  "toolsVersion": "2.5.0.156", "hostGroupName": null, "vmType": 0, "drStatus": 9, "rpoStatus": 0,
  "objectPrivs": ["VM_VIEW", "VM_POWER"],
  "vmConfig": {
    "cpu": {"quantity": 8, "reservation": 0, "weight": 8000, "limit": 0, "coresPerSocket": 2},
    "memory": {"quantityMB": 16384, "reservation": 0, "weight": 163840, "limit": 0},
    "disks": [
      {"storageType": "LOCAL", "volumeUrl": "/service/sites/43BC08E8/volumes/5121",
       "diskName": "db-prod-01-sys", "volumeUrn": "urn:sites:43BC08E8:volumes:5121",
       "volumeUuid": "c1f0a7d2-0b5e-4e55-8a2a-6f1b2d9e0c11", "quantityGB": 80, "isThin": true,
       "datastoreUrn": "urn:sites:43BC08E8:datastores:40", "datastoreName": "autoDS_CNA-03",
       "pciType": "VIRTIO", "sequenceNum": 1, "volType": 0, "indepDisk": false, "persistentDisk": true,
       "userUsedSize": 20480, "ioMode": "dataplane", "maxReadBytes": 0, "maxWriteBytes": 0,
       "siocFlag": 0, "diskTag": null},
      "not a disk",
      {"storageType": "LOCAL", "volumeUrl": "/service/sites/43BC08E8/volumes/5122",
       "diskName": "db-prod-01-data", "volumeUrn": "urn:sites:43BC08E8:volumes:5122",
       "volumeUuid": "5d8e7c21-9a0f-4b3d-8e62-77a1c0f4d9b2", "quantityGB": 500, "isThin": false,
       "datastoreUrn": "urn:sites:43BC08E8:datastores:41", "datastoreName": "san-ds-01",
       "pciType": "SCSI", "sequenceNum": 2, "volType": 1, "indepDisk": true, "persistentDisk": false,
       "userUsedSize": 409600}
    ],
    "nics": [
      {"name": "Network Adapter 1", "urn": "urn:sites:43BC08E8:vms:i-00000012:nics:0",
       "uri": "/service/sites/43BC08E8/vms/i-00000012/nics/0",
       "portGroupUrn": "urn:sites:43BC08E8:dvswitchs:1:portgroups:2", "portGroupName": "managePortgroup",
       "mac": "28:6e:d4:88:c5:0a", "ip": "192.168.40.21", "ips6": [], "sequenceNum": 0, "virtIo": 1,
       "nicType": 2, "portId": "24", "vlanId": 0, "qosLimit": null, "bandwidth": 0}
    ],
    "usb": [], "properties": {"bootOption": "disk", "isEnableHa": true, "recoverByHost": false}
  },
  "osOptions": {"osType": "Linux", "osVersion": 301, "guestOSName": "CentOS 7.6 64bit",
                "hostname": "db-prod-01", "password": null},
  "vncAccessInfo": {"hostIp": "10.1.1.3", "vncPort": 5901}
})";

// -------------------------------------------------------------------------------------------------
// Base fields and resetting of scalar fields
// -------------------------------------------------------------------------------------------------

TEST(ParserBaseTest, ReadsTheFourBaseKeysAndResetsMissingOnes) {
    CFusionComputeParser parser;
    SBaseInfoLib base("old", "urn:old", "/service/old", "old text");
    EXPECT_TRUE(parser.ConvertBaseInfo(
        Object(
            R"({"name":"CNA-01","urn":"urn:sites:1:hosts:7","uri":"/service/sites/1/hosts/7","description":"d",
                   "Name":"wrong case","extra":{"name":"nested"}})"),
        base));
    EXPECT_EQ(base.name, "CNA-01");
    EXPECT_EQ(base.urn, "urn:sites:1:hosts:7");
    EXPECT_EQ(base.uri, "/service/sites/1/hosts/7");
    EXPECT_EQ(base.description, "d");

    EXPECT_TRUE(parser.ConvertBaseInfo(Object(R"({"Name":"wrong case","URN":"x","id":4})"), base));
    EXPECT_EQ(base.name, "");
    EXPECT_EQ(base.urn, "");
    EXPECT_EQ(base.uri, "");
    EXPECT_EQ(base.description, "");
}

TEST(ParserBaseTest, StringsAreKeptExactly) {
    CFusionComputeParser parser;
    SSiteInfoLib site;
    EXPECT_TRUE(parser.ParseObject(R"({"name":"  Site \u00c4 \"one\"\n ","urn":"URN:Sites:1"})", site));
    EXPECT_EQ(site.name, "  Site \xC3\x84 \"one\"\n ");
    EXPECT_EQ(site.urn, "URN:Sites:1");
}

// -------------------------------------------------------------------------------------------------
// VM, disks and NICs
// -------------------------------------------------------------------------------------------------

TEST(ParserVmTest, ReadsVmWithDisksAndNicsAndIgnoresOtherKeys) {
    CFusionComputeParser parser;
    SVMInfoLib vm;
    ASSERT_TRUE(parser.ParseObject(kVmDetail2, vm));

    EXPECT_EQ(vm.name, "db-prod-01");
    EXPECT_EQ(vm.urn, "urn:sites:43BC08E8:vms:i-00000012");
    EXPECT_EQ(vm.uri, "/service/sites/43BC08E8/vms/i-00000012");
    EXPECT_EQ(vm.description, "PostgreSQL primary");
    EXPECT_EQ(vm.status, "running");
    EXPECT_EQ(vm.uuid, "7a3c9e2f-5b1d-4c8a-9f0e-2d6b8a1c4e73");
    EXPECT_EQ(vm.hostName, "CNA-03");
    EXPECT_EQ(vm.hostUrn, "urn:sites:43BC08E8:hosts:177");
    EXPECT_EQ(vm.clusterName, "ManagementCluster");
    EXPECT_EQ(vm.clusterUrn, "urn:sites:43BC08E8:clusters:117");
    EXPECT_EQ(vm.osType, "Linux");
    EXPECT_EQ(vm.osVersion, 301);
    EXPECT_EQ(vm.guestOSName, "CentOS 7.6 64bit");
    EXPECT_EQ(vm.toolsVersion, "2.5.0.156");
    EXPECT_FALSE(vm.isTemplate);
    // CPU and memory sizes travel only from the caller to the VRM.
    EXPECT_EQ(vm.cpuQuantity, 0);
    EXPECT_EQ(vm.coresPerSocket, 0);
    EXPECT_EQ(vm.memoryQuantityMB, 0u);
    EXPECT_THAT(vm.snapshots, IsEmpty());

    ASSERT_EQ(vm.disks.size(), 2u);  // the string element is skipped
    const SDiskInfoLib& sys = vm.disks[0];
    EXPECT_EQ(sys.name, "db-prod-01-sys");
    EXPECT_EQ(sys.urn, "urn:sites:43BC08E8:volumes:5121");
    EXPECT_EQ(sys.uri, "");
    EXPECT_EQ(sys.uuid, "c1f0a7d2-0b5e-4e55-8a2a-6f1b2d9e0c11");
    EXPECT_EQ(sys.volumeUrl, "/service/sites/43BC08E8/volumes/5121");
    EXPECT_EQ(sys.quantityGB, 80);
    EXPECT_EQ(sys.userUsedSize, 20480u);
    EXPECT_EQ(sys.datastoreName, "autoDS_CNA-03");
    EXPECT_EQ(sys.datastoreUrn, "urn:sites:43BC08E8:datastores:40");
    EXPECT_EQ(sys.pciType, "VIRTIO");
    EXPECT_EQ(sys.sequenceNum, 1);
    EXPECT_EQ(sys.volType, 0);
    EXPECT_TRUE(sys.isThin);
    EXPECT_TRUE(sys.persistentDisk);
    EXPECT_FALSE(sys.indepDisk);
    const SDiskInfoLib& data = vm.disks[1];
    EXPECT_EQ(data.name, "db-prod-01-data");
    EXPECT_EQ(data.quantityGB, 500);
    EXPECT_EQ(data.userUsedSize, 409600u);
    EXPECT_EQ(data.volType, 1);
    EXPECT_FALSE(data.isThin);
    EXPECT_FALSE(data.persistentDisk);
    EXPECT_TRUE(data.indepDisk);

    ASSERT_EQ(vm.nics.size(), 1u);
    const SVMNetworkCardInfoLib& nic = vm.nics[0];
    EXPECT_EQ(nic.name, "Network Adapter 1");
    EXPECT_EQ(nic.urn, "urn:sites:43BC08E8:vms:i-00000012:nics:0");
    EXPECT_EQ(nic.uri, "/service/sites/43BC08E8/vms/i-00000012/nics/0");
    EXPECT_EQ(nic.nicType, 2);
    EXPECT_EQ(nic.sequenceNum, 0);
    EXPECT_EQ(nic.portGroupName, "managePortgroup");
    EXPECT_EQ(nic.portGroupUrn, "urn:sites:43BC08E8:dvswitchs:1:portgroups:2");
    EXPECT_EQ(nic.portId, "24");
    EXPECT_EQ(nic.ip, "192.168.40.21");
    EXPECT_EQ(nic.mac, "28:6e:d4:88:c5:0a");
    EXPECT_EQ(nic.virtIo, 1);
    EXPECT_EQ(nic.dvSwitchName, "");
    EXPECT_EQ(nic.dvSwitchUrn, "");
}

TEST(ParserVmTest, SecondConversionResetsScalarsAndAppendsLists) {
    CFusionComputeParser parser;
    SVMInfoLib vm;
    vm.cpuQuantity = 4;
    vm.memoryQuantityMB = 8192;
    ASSERT_TRUE(parser.ParseObject(kVmDetail2, vm));
    // A detail-0 answer: identity and status only, still with osOptions and vmConfig.
    ASSERT_TRUE(parser.ParseObject(R"({"urn":"urn:sites:1:vms:i-2","status":"stopped",
        "vmConfig":{"disks":[{"name":"vol-a","urn":"urn:sites:1:volumes:9","uuid":"u9"}],"nics":[]},
        "osOptions":{"osType":"Windows"}})",
                                   vm));
    EXPECT_EQ(vm.name, "");
    EXPECT_EQ(vm.uri, "");
    EXPECT_EQ(vm.urn, "urn:sites:1:vms:i-2");
    EXPECT_EQ(vm.status, "stopped");
    EXPECT_EQ(vm.uuid, "");
    EXPECT_EQ(vm.hostName, "");
    EXPECT_EQ(vm.toolsVersion, "");
    EXPECT_EQ(vm.osType, "Windows");
    EXPECT_EQ(vm.osVersion, 0);
    EXPECT_EQ(vm.guestOSName, "");
    EXPECT_EQ(vm.cpuQuantity, 4);
    EXPECT_EQ(vm.memoryQuantityMB, 8192u);
    ASSERT_EQ(vm.disks.size(), 3u);
    EXPECT_EQ(vm.disks[2].name, "vol-a");
    EXPECT_EQ(vm.nics.size(), 1u);
}

struct VmConfigCase {
    const char* label;
    const char* vmConfig;  // JSON text of the value, or nullptr for a missing key
    bool parses;
    size_t disks;
    size_t nics;
};

// vmConfig: missing and null keep the lists; an object appends; any other type is the type error.
TEST(ParserVmTest, VmConfigShapes) {
    const std::vector<VmConfigCase> cases = {
        {"missing", nullptr, true, 1, 1},
        {"null", "null", true, 1, 1},
        {"object", R"({"disks":[{"diskName":"d2"},{"diskName":"d3"}],"nics":[{"mac":"m2"}]})", true, 3, 2},
        {"object without lists", R"({"cpu":{"quantity":2}})", true, 1, 1},
        {"lists of wrong type", R"({"disks":{"diskName":"x"},"nics":"none"})", true, 1, 1},
        {"number", "17", false, 1, 1},
        {"string", R"("none")", false, 1, 1},
        {"array", R"([{"disks":[]}])", false, 1, 1},
        {"bool", "false", false, 1, 1},
    };
    for (const VmConfigCase& c : cases) {
        SCOPED_TRACE(c.label);
        fcsdk_test::LogCapture log;
        CFusionComputeParser parser;
        SVMInfoLib vm;
        vm.disks.resize(1);
        vm.nics.resize(1);
        vm.osType = "kept";
        std::string body = R"({"name":"vm1","status":"running")";
        if (c.vmConfig != nullptr) {
            body += std::string(R"(,"vmConfig":)") + c.vmConfig;
        }
        body += R"(,"toolsVersion":"2.5"})";
        EXPECT_EQ(parser.ParseObject(body, vm), c.parses);
        EXPECT_EQ(vm.disks.size(), c.disks);
        EXPECT_EQ(vm.nics.size(), c.nics);
        // Fields read before vmConfig keep their new values even when it fails.
        EXPECT_EQ(vm.name, "vm1");
        EXPECT_EQ(vm.status, "running");
        EXPECT_EQ(vm.osType, "kept");
        EXPECT_EQ(vm.toolsVersion, c.parses ? "2.5" : "");
        EXPECT_EQ(log.Lines().size(), c.parses ? 0u : 1u);
    }
}

TEST(ParserVmTest, OsOptionsOnlyWhenAnObject) {
    CFusionComputeParser parser;
    for (const char* osOptions :
         {"", R"(,"osOptions":null)", R"(,"osOptions":"Linux")", R"(,"osOptions":[1])"}) {
        SCOPED_TRACE(osOptions);
        SVMInfoLib vm;
        vm.osType = "Linux";
        vm.osVersion = 88;
        vm.guestOSName = "Debian";
        ASSERT_TRUE(parser.ParseObject(std::string(R"({"name":"x")") + osOptions + "}", vm));
        EXPECT_EQ(vm.osType, "Linux");
        EXPECT_EQ(vm.osVersion, 88);
        EXPECT_EQ(vm.guestOSName, "Debian");
    }
    SVMInfoLib vm;
    vm.guestOSName = "Debian";
    ASSERT_TRUE(parser.ParseObject(R"({"osOptions":{"osType":"Other","osVersion":"1002"}})", vm));
    EXPECT_EQ(vm.osType, "Other");
    EXPECT_EQ(vm.osVersion, 1002);
    EXPECT_EQ(vm.guestOSName, "");
}

TEST(ParserVmTest, TemplateFlag) {
    CFusionComputeParser parser;
    SVMInfoLib vm;
    ASSERT_TRUE(parser.ParseObject(R"({"isTemplate":true,"vmConfig":null})", vm));
    EXPECT_TRUE(vm.isTemplate);
    ASSERT_TRUE(parser.ParseObject(R"({"name":"t"})", vm));
    EXPECT_FALSE(vm.isTemplate);
}

struct DiskCase {
    const char* label;
    const char* json;
    const char* name;
    const char* urn;
    const char* uuid;
};

TEST(ParserDiskTest, IdentityFallbacks) {
    const std::vector<DiskCase> cases = {
        {"vm config element", R"({"diskName":"d","volumeUrn":"urn:v:1","volumeUuid":"vu"})", "d", "urn:v:1",
         "vu"},
        {"volume object", R"({"name":"n","urn":"urn:v:2","uuid":"u"})", "n", "urn:v:2", "u"},
        {"both keys: primary wins",
         R"({"name":"n","diskName":"d","urn":"urn:p","volumeUrn":"urn:f","uuid":"u","volumeUuid":"vu"})", "n",
         "urn:p", "u"},
        {"empty primary falls back", R"({"name":"","diskName":"d","urn":"","volumeUrn":"urn:f","uuid":"",
                                       "volumeUuid":"vu"})",
         "d", "urn:f", "vu"},
        {"nothing", R"({"quantityGB":10})", "", "", ""},
        {"fallback keys are case sensitive", R"({"DiskName":"d","volumeURN":"x","VolumeUuid":"y"})", "", "",
         ""},
    };
    CFusionComputeParser parser;
    for (const DiskCase& c : cases) {
        SCOPED_TRACE(c.label);
        SDiskInfoLib disk;
        disk.name = "previous";
        disk.urn = "urn:previous";
        disk.uuid = "previous";
        ASSERT_TRUE(parser.ParseObject(c.json, disk));
        EXPECT_EQ(disk.name, c.name);
        EXPECT_EQ(disk.urn, c.urn);
        EXPECT_EQ(disk.uuid, c.uuid);
    }
}

TEST(ParserDiskTest, MissingFlagsBecomeFalseIncludingPersistentDisk) {
    CFusionComputeParser parser;
    SDiskInfoLib disk;
    disk.isThin = true;
    disk.indepDisk = true;
    ASSERT_TRUE(disk.persistentDisk);
    ASSERT_TRUE(parser.ParseObject(R"({"name":"vol","quantityGB":"40","userUsedSize":-1})", disk));
    EXPECT_FALSE(disk.persistentDisk);
    EXPECT_FALSE(disk.isThin);
    EXPECT_FALSE(disk.indepDisk);
    EXPECT_EQ(disk.quantityGB, 40);
    // The 32-bit reading is sign-extended into the 64-bit field.
    EXPECT_EQ(disk.userUsedSize, 0xFFFFFFFFFFFFFFFFull);
}

// -------------------------------------------------------------------------------------------------
// Host, cluster, site, folder
// -------------------------------------------------------------------------------------------------

TEST(ParserHostTest, ReadsTopLevelCpuAndMemResource) {
    CFusionComputeParser parser;
    SHostInfoLib host;
    host.vms.resize(2);
    ASSERT_TRUE(parser.ParseObject(R"({
      "urn":"urn:sites:1:hosts:177","uri":"/service/sites/1/hosts/177","name":"CNA-03","description":"",
      "ip":"10.1.1.3","bmcIp":"10.1.2.3","status":"normal","clusterUrn":"urn:sites:1:clusters:117",
      "clusterName":"ManagementCluster","cpuQuantity":32,"cpuMHz":2600,"isMaintaining":false,
      "memResource":{"totalSizeMB":262144,"allocatedSizeMB":131072,"realtimeUsedSizeMB":90000},
      "cpuResource":{"totalSizeMHz":83200,"allocatedSizeMHz":20000},"hostRealName":"cna03","gpuCapacity":0})",
                                   host));
    EXPECT_EQ(host.name, "CNA-03");
    EXPECT_EQ(host.status, "normal");
    EXPECT_EQ(host.ip, "10.1.1.3");
    EXPECT_EQ(host.clusterName, "ManagementCluster");
    EXPECT_EQ(host.clusterUrn, "urn:sites:1:clusters:117");
    EXPECT_EQ(host.cpuMHz, 2600);
    EXPECT_EQ(host.cpuQuantity, 32);
    EXPECT_EQ(host.totalSizeMB, 262144);
    EXPECT_EQ(host.allocatedSizeMB, 131072);
    EXPECT_EQ(host.vms.size(), 2u);  // filled by the facade, never by the converter
}

TEST(ParserHostTest, CpuOnlyInsideCpuResourceAndMissingMemResource) {
    CFusionComputeParser parser;
    SHostInfoLib host;
    host.totalSizeMB = 1024;
    host.allocatedSizeMB = 512;
    host.cpuMHz = 7;
    ASSERT_TRUE(parser.ParseObject(R"({"name":"h","cpuResource":{"cpuMHz":2400,"cpuQuantity":16}})", host));
    EXPECT_EQ(host.cpuMHz, 0);
    EXPECT_EQ(host.cpuQuantity, 0);
    EXPECT_EQ(host.totalSizeMB, 1024);
    EXPECT_EQ(host.allocatedSizeMB, 512);
}

TEST(ParserHostTest, MemResourceOfWrongTypeFailsTheParse) {
    for (const char* value : {"null", "4096", R"("4096")", "[]"}) {
        SCOPED_TRACE(value);
        fcsdk_test::LogCapture log;
        CFusionComputeParser parser;
        SHostInfoLib host;
        const std::string body =
            std::string(R"({"name":"CNA-01","cpuMHz":2600,"memResource":)") + value + "}";
        EXPECT_FALSE(parser.ParseObject(body, host));
        EXPECT_EQ(host.name, "CNA-01");
        EXPECT_EQ(host.cpuMHz, 2600);
        EXPECT_EQ(log.Lines().size(), 1u);
    }
}

TEST(ParserInventoryTest, ClusterSiteAndFolder) {
    CFusionComputeParser parser;
    SClusterInfoLib cluster;
    ASSERT_TRUE(parser.ParseObject(R"({"urn":"urn:sites:1:clusters:117","uri":"/service/sites/1/clusters/117",
        "name":"ManagementCluster","parentObjUrn":"urn:sites:1","parentObjName":"site","tag":"",
        "isEnableHa":true,"isEnableDrs":false,"hosts":[{"name":"ignored"}]})",
                                   cluster));
    EXPECT_EQ(cluster.name, "ManagementCluster");
    EXPECT_EQ(cluster.parentObjUrn, "urn:sites:1");
    EXPECT_EQ(cluster.parentObjName, "site");
    EXPECT_THAT(cluster.hosts, IsEmpty());

    SSiteInfoLib site;
    site.clusters.resize(1);
    ASSERT_TRUE(
        parser.ParseObject(R"({"urn":"urn:sites:43BC08E8","uri":"/service/sites/43BC08E8","name":"site",
        "ip":"10.1.1.1","isDR":false,"status":"normal","clusters":[{"name":"ignored"}]})",
                           site));
    EXPECT_EQ(site.uri, "/service/sites/43BC08E8");
    EXPECT_EQ(site.clusters.size(), 1u);

    SFolderInfoLib folder;
    ASSERT_TRUE(
        parser.ParseObject(R"({"urn":"urn:sites:1:folders:3","name":"Prod","vms":[{"name":"x"}]})", folder));
    EXPECT_EQ(folder.name, "Prod");
    EXPECT_THAT(folder.vms, IsEmpty());
}

// -------------------------------------------------------------------------------------------------
// Storage and network
// -------------------------------------------------------------------------------------------------

TEST(ParserStorageTest, DatastoreWithHostsAndStorageUnits) {
    CFusionComputeParser parser;
    SDataStoreInfoLib ds;
    ds.vms.resize(1);
    ds.storageResource.name = "kept";
    ASSERT_TRUE(parser.ParseObject(R"({
      "urn":"urn:sites:1:datastores:41","uri":"/service/sites/1/datastores/41","name":"san-ds-01",
      "description":"","storageType":"DSWARE","status":"NORMAL","isThin":true,"capacityGB":3000,
      "usedSizeGB":1200,"freeSizeGB":1800,"actualCapacityGB":3000,"refreshTime":"2024-03-11 08:00:00",
      "hosts":["urn:sites:1:hosts:177","urn:sites:1:hosts:178",5,"urn:sites:1:hosts:179"],
      "storageUnits":[{"urn":"urn:sites:1:storageunits:A1","sdName":"OceanStor-1","suName":"lun-01","x":1},
                      42,
                      {"urn":"urn:sites:1:storageunits:A2","sdName":"OceanStor-1","suName":"lun-02"}],
      "suUrn":"urn:sites:1:storageunits:A1","suName":"lun-01","clusterSize":1024,"siteUrn":"urn:sites:1"})",
                                   ds));
    EXPECT_EQ(ds.status, "NORMAL");
    EXPECT_EQ(ds.storageType, "DSWARE");
    EXPECT_TRUE(ds.isThin);
    EXPECT_EQ(ds.capacityGB, 3000);
    EXPECT_EQ(ds.usedSizeGB, 1200);
    EXPECT_EQ(ds.freeSizeGB, 1800);
    EXPECT_THAT(ds.hosts,
                ElementsAre("urn:sites:1:hosts:177", "urn:sites:1:hosts:178", "urn:sites:1:hosts:179"));
    ASSERT_EQ(ds.storageUnits.size(), 2u);
    EXPECT_EQ(ds.storageUnits[0].urn, "urn:sites:1:storageunits:A1");
    EXPECT_EQ(ds.storageUnits[0].sdName, "OceanStor-1");
    EXPECT_EQ(ds.storageUnits[1].suName, "lun-02");
    EXPECT_EQ(ds.suUrn, "urn:sites:1:storageunits:A1");
    EXPECT_EQ(ds.suName, "lun-01");
    EXPECT_EQ(ds.clusterSize, 1024);
    EXPECT_EQ(ds.vms.size(), 1u);
    EXPECT_EQ(ds.storageResource.name, "kept");
}

TEST(ParserStorageTest, SixtyFourBitSizesComeThroughTheThirtyTwoBitReading) {
    CFusionComputeParser parser;
    SDataStoreInfoLib ds;
    ds.hosts.push_back("kept");
    ASSERT_TRUE(
        parser.ParseObject(R"({"capacityGB":2147483647,"usedSizeGB":-5,"freeSizeGB":4294967296})", ds));
    EXPECT_EQ(ds.capacityGB, 2147483647);
    EXPECT_EQ(ds.usedSizeGB, -5);
    EXPECT_NE(ds.freeSizeGB, 4294967296LL);
    EXPECT_THAT(ds.hosts, ElementsAre("kept"));
    EXPECT_THAT(ds.storageUnits, IsEmpty());
}

TEST(ParserStorageTest, StorageDeviceAndStorageResource) {
    CFusionComputeParser parser;
    SStorageDeviceInfoLib device;
    ASSERT_TRUE(parser.ParseObject(R"({"urn":"urn:sites:1:storageunits:A1","name":"lun-01","status":"NORMAL",
        "type":"IPSAN","capacityGB":2048,"wwn":"6a0b1c2d3e4f","isThin":true,"usedSizeGB":100})",
                                   device));
    EXPECT_EQ(device.name, "lun-01");
    EXPECT_EQ(device.status, "NORMAL");
    EXPECT_EQ(device.type, "IPSAN");
    EXPECT_EQ(device.capacityGB, 2048);
    EXPECT_EQ(device.wwn, "6a0b1c2d3e4f");
    EXPECT_TRUE(device.isThin);

    SStorageResourceInfoLib resource;
    ASSERT_TRUE(parser.ParseObject(R"({"urn":"urn:sites:1:storageresources:3","name":"OceanStor-1",
        "storageType":"IPSAN","deviceType":"OceanStor","managementIp":"10.2.0.5","managementPort":"8088",
        "iSCSITargetIQN":"iqn.2006-08.com.huawei:oceanstor","vender":"Huawei","vendor":"wrong key"})",
                                   resource));
    EXPECT_EQ(resource.storageType, "IPSAN");
    EXPECT_EQ(resource.deviceType, "OceanStor");
    EXPECT_EQ(resource.managementIp, "10.2.0.5");
    EXPECT_EQ(resource.managementPort, 8088);
    EXPECT_EQ(resource.iSCSITargetIQN, "iqn.2006-08.com.huawei:oceanstor");
    EXPECT_EQ(resource.vender, "Huawei");
}

TEST(ParserNetworkTest, SwitchAndPortGroup) {
    CFusionComputeParser parser;
    SNetworkInfoLib dvs;
    dvs.portGroups.resize(3);
    ASSERT_TRUE(parser.ParseObject(R"({"urn":"urn:sites:1:dvswitchs:1","uri":"/service/sites/1/dvswitchs/1",
        "name":"ManagementDVS","type":1,"portGroupNum":4,"isIgmpSnooping":true,"mtu":1600,"vlanpool":[]})",
                                   dvs));
    EXPECT_EQ(dvs.type, 1);
    EXPECT_EQ(dvs.portGroupNum, 4);
    EXPECT_TRUE(dvs.isIgmpSnooping);
    EXPECT_EQ(dvs.portGroups.size(), 3u);

    SPortGroupInfoLib pg;
    pg.vlanRange = "old";
    ASSERT_TRUE(parser.ParseObject(R"({"urn":"urn:sites:1:dvswitchs:1:portgroups:2","name":"managePortgroup",
        "subnetUrn":"urn:sites:1:subnets:9","portType":1,"vlanId":40,"vxlanId":5001,"adminStatus":1,
        "txLimit":1000,"txPeakLimit":2000,"txBurstSize":3000,"txWeight":4,"priority":5,"rxLimit":6000,
        "rxPeakLimit":7000,"rxBurstSize":8000,"rxWeight":9,"isDhcpIsolation":true,"isIpMacBind":true,
        "vspNum":12,"multicastIp":"239.0.0.1","arpBcstSuppress":13,"ipBcstSuppress":14,"portGroupType":0})",
                                   pg));
    EXPECT_EQ(pg.subnetUrn, "urn:sites:1:subnets:9");
    EXPECT_EQ(pg.vlanRange, "");
    const std::vector<int32_t> numbers = {pg.portType, pg.vlanId,      pg.vxlanId,         pg.adminStatus,
                                          pg.txLimit,  pg.txPeakLimit, pg.txBurstSize,     pg.txWeight,
                                          pg.priority, pg.rxLimit,     pg.rxPeakLimit,     pg.rxBurstSize,
                                          pg.rxWeight, pg.vspNum,      pg.arpBcstSuppress, pg.ipBcstSuppress};
    EXPECT_THAT(numbers,
                ElementsAre(1, 40, 5001, 1, 1000, 2000, 3000, 4, 5, 6000, 7000, 8000, 9, 12, 13, 14));
    EXPECT_TRUE(pg.isDhcpIsolation);
    EXPECT_TRUE(pg.isIpMacBind);
    EXPECT_EQ(pg.multicastIp, "239.0.0.1");
}

// -------------------------------------------------------------------------------------------------
// Service records
// -------------------------------------------------------------------------------------------------

struct ErrorCodeCase {
    const char* errorCode;  // JSON text of the value, or nullptr for a missing key
    uint32_t expected;
};

TEST(ParserServiceTest, ErrorCodeIsReadAsTextThenConverted) {
    const std::vector<ErrorCodeCase> cases = {
        {R"("10300023")", 10300023u},
        {R"("")", 0u},
        {nullptr, 0u},
        {R"("123abc")", 123u},
        {R"("  42")", 42u},
        {R"("abc")", 0u},
        {"10420004", 10420004u},
        {R"("+7")", 7u},
        {R"("-1")", 0xFFFFFFFFu},
        {"null", 0u},
        {R"("4294967295")", 4294967295u},
        {R"("99999999999999999999999")", static_cast<uint32_t>(static_cast<int32_t>(LONG_MAX))},
    };
    CFusionComputeParser parser;
    for (const ErrorCodeCase& c : cases) {
        SCOPED_TRACE(c.errorCode ? c.errorCode : "missing");
        SErrorInfoLib error;
        error.errorCode = 99;
        std::string body = R"({"errorDes":"The VM does not exist.")";
        if (c.errorCode != nullptr) body += std::string(R"(,"errorCode":)") + c.errorCode;
        body += "}";
        ASSERT_TRUE(parser.ParseObject(body, error));
        EXPECT_EQ(error.errorCode, c.expected);
        EXPECT_EQ(error.errorDes, "The VM does not exist.");
    }
}

TEST(ParserServiceTest, VersionList) {
    CFusionComputeParser parser;
    std::vector<SVersionInfoLib> versions;
    ASSERT_TRUE(
        parser.ParseList(R"({"versions":[{"version":"v6.3","loginUri":"/service/session","status":"1"},
        {"version":"v8.0","loginUri":"/service/session"}]})",
                         "versions", versions));
    ASSERT_EQ(versions.size(), 2u);
    EXPECT_EQ(versions[0].version, "v6.3");
    EXPECT_EQ(versions[0].loginUri, "/service/session");
    EXPECT_EQ(versions[1].version, "v8.0");
}

TEST(ParserServiceTest, TaskAnswerOfAPostThenPolls) {
    CFusionComputeParser parser;
    STaskInfoLib task;
    task.status = "before";
    task.progress = 3;
    ASSERT_TRUE(
        parser.ParseObject(R"({"taskUrn":"urn:sites:1:tasks:2047","taskUri":"/service/sites/1/tasks/2047",
        "urn":"urn:sites:1:vms:i-00000099","uri":"/service/sites/1/vms/i-00000099","status":"ignored"})",
                           task));
    EXPECT_EQ(task.taskUrn, "urn:sites:1:tasks:2047");
    EXPECT_EQ(task.taskUri, "/service/sites/1/tasks/2047");
    EXPECT_EQ(task.urn, "urn:sites:1:vms:i-00000099");
    EXPECT_EQ(task.uri, "/service/sites/1/vms/i-00000099");
    EXPECT_EQ(task.status, "before");
    EXPECT_EQ(task.progress, 3);

    const char* const polls[] = {
        R"({"urn":"urn:sites:1:tasks:2047","uri":"/service/sites/1/tasks/2047","type":"CreateVm",
            "status":"running","progress":40,"entityUrn":"urn:sites:1:vms:i-00000099",
            "entityUri":"/service/sites/1/vms/i-00000099","startTime":"2024-03-11 08:12:45",
            "reason":"","reasonDes":"","canceled":false,"cancelable":true,"userName":"admin"})",
        R"({"urn":"urn:sites:1:tasks:2047","uri":"/service/sites/1/tasks/2047","type":"CreateVm",
            "status":"failed","progress":100,"entityUrn":"urn:sites:1:vms:i-00000099",
            "entityUri":"/service/sites/1/vms/i-00000099","startTime":"2024-03-11 08:12:45",
            "finishTime":"2024-03-11 08:13:02","reason":"10300007","reasonDes":"Insufficient memory.",
            "canceled":true})",
    };
    ASSERT_TRUE(parser.ParseObject(polls[0], task));
    EXPECT_EQ(task.status, "running");
    EXPECT_EQ(task.progress, 40);
    EXPECT_EQ(task.type, "CreateVm");
    EXPECT_TRUE(task.cancelable);
    EXPECT_EQ(task.finishTime, "");

    ASSERT_TRUE(parser.ParseObject(polls[1], task));
    EXPECT_EQ(task.taskUrn, "urn:sites:1:tasks:2047");
    EXPECT_EQ(task.taskUri, "/service/sites/1/tasks/2047");
    EXPECT_EQ(task.status, "failed");
    EXPECT_EQ(task.progress, 100);
    EXPECT_EQ(task.entityUrn, "urn:sites:1:vms:i-00000099");
    EXPECT_EQ(task.entityUri, "/service/sites/1/vms/i-00000099");
    EXPECT_EQ(task.startTime, "2024-03-11 08:12:45");
    EXPECT_EQ(task.finishTime, "2024-03-11 08:13:02");
    EXPECT_EQ(task.reason, "10300007");
    EXPECT_EQ(task.reasonDes, "Insufficient memory.");
    EXPECT_TRUE(task.canceled);
    EXPECT_FALSE(task.cancelable);
    // The created object named by the POST answer survives the polls.
    EXPECT_EQ(task.urn, "urn:sites:1:vms:i-00000099");
    EXPECT_EQ(task.uri, "/service/sites/1/vms/i-00000099");

    // A VRM spells the flag "cancelled"; it counts when "canceled" is absent, and only then.
    ASSERT_TRUE(parser.ParseObject(R"({"urn":"urn:sites:1:tasks:2047","cancelled":true})", task));
    EXPECT_TRUE(task.canceled);
    ASSERT_TRUE(
        parser.ParseObject(R"({"urn":"urn:sites:1:tasks:2047","canceled":false,"cancelled":true})", task));
    EXPECT_FALSE(task.canceled);
}

TEST(ParserServiceTest, TaskWithEmptyTaskUrnIsATaskObject) {
    CFusionComputeParser parser;
    STaskInfoLib task;
    task.urn = "urn:created";
    ASSERT_TRUE(parser.ParseObject(R"({"taskUrn":"","taskUri":"/ignored","urn":"urn:sites:1:tasks:5",
        "uri":"/service/sites/1/tasks/5","status":"success","progress":"100"})",
                                   task));
    EXPECT_EQ(task.taskUrn, "urn:sites:1:tasks:5");
    EXPECT_EQ(task.taskUri, "/service/sites/1/tasks/5");
    EXPECT_EQ(task.status, "success");
    EXPECT_EQ(task.progress, 100);
    EXPECT_EQ(task.urn, "urn:created");
}

TEST(ParserServiceTest, OsCatalogue) {
    CFusionComputeParser parser;
    SOSVersionsInfoLib catalogue;
    ASSERT_TRUE(parser.ParseObject(R"({"windows":[
        {"id":1,"versionDes":"Windows Server 2019 Datacenter 64bit","cpuQuantityLimit":64,"cpuSocketLimit":4,
         "memoryQuantityLimit":4194304,"supportMemHotPlug":true,"osFamily":"windows"},
        "x", null, [1,2],
        {"id":2,"versionDes":"Windows 10 64bit"}]})",
                                   catalogue));
    EXPECT_THAT(catalogue.other, IsEmpty());
    EXPECT_THAT(catalogue.linux, IsEmpty());
    ASSERT_EQ(catalogue.windows.size(), 2u);
    const SOSVersionInfoLib& w = catalogue.windows[0];
    EXPECT_EQ(w.id, 1);
    EXPECT_EQ(w.versionDes, "Windows Server 2019 Datacenter 64bit");
    EXPECT_EQ(w.cpuQuantityLimit, 64);
    EXPECT_EQ(w.cpuSocketLimit, 4);
    EXPECT_EQ(w.memoryQuantityLimit, 4194304);
    EXPECT_TRUE(w.supportMemHotPlug);
    EXPECT_FALSE(catalogue.windows[1].supportMemHotPlug);

    ASSERT_TRUE(
        parser.ParseObject(R"({"linux":[{"id":301}],"other":[{"id":1001}],"windows":[]})", catalogue));
    EXPECT_EQ(catalogue.windows.size(), 2u);
    ASSERT_EQ(catalogue.linux.size(), 1u);
    EXPECT_EQ(catalogue.linux[0].id, 301);
    ASSERT_EQ(catalogue.other.size(), 1u);
    EXPECT_EQ(catalogue.other[0].id, 1001);
}

// -------------------------------------------------------------------------------------------------
// Snapshots, bitmap, backup resource, OVF
// -------------------------------------------------------------------------------------------------

void Walk(const SSnapshotTreeInfoLib& node, std::vector<std::string>& names) {
    if (!node.urn.empty()) names.push_back(node.name);
    for (const SSnapshotTreeInfoLib& child : node.childSnapshots) Walk(child, names);
}

TEST(ParserSnapshotTest, TreeWithRootAndChildSnapshots) {
    CFusionComputeParser parser;
    SSnapshotTreeInfoLib root;
    ASSERT_TRUE(parser.ParseObject(R"({
      "currentSnapshot":{"urn":"urn:sites:1:vms:i-12:snapshots:3","uri":"/service/sites/1/vms/i-12/snapshots/3",
                         "name":"C","createTime":"2024-03-12 01:00:00","status":"ready",
                         "includingMemorySnapshot":true,"type":"normal"},
      "rootSnapshots":[
        {"urn":"urn:sites:1:vms:i-12:snapshots:1","name":"A","createTime":"2024-03-10 01:00:00",
         "childSnapshots":[{"urn":"urn:sites:1:vms:i-12:snapshots:3","name":"C","childSnapshots":[]}]},
        "skip me",
        {"urn":"urn:sites:1:vms:i-12:snapshots:2","name":"B"}],
      "childSnapshots":[{"urn":"urn:sites:1:vms:i-12:snapshots:9","name":"D"}]})",
                                   root));
    EXPECT_EQ(root.urn, "");
    EXPECT_EQ(root.currentSnapshot.name, "C");
    EXPECT_EQ(root.currentSnapshot.uri, "/service/sites/1/vms/i-12/snapshots/3");
    EXPECT_EQ(root.currentSnapshot.createTime, "2024-03-12 01:00:00");
    EXPECT_EQ(root.currentSnapshot.status, "ready");
    EXPECT_TRUE(root.currentSnapshot.includingMemorySnapshot);
    ASSERT_EQ(root.childSnapshots.size(), 3u);  // root entries first, then the node's own children
    EXPECT_EQ(root.childSnapshots[0].name, "A");
    EXPECT_EQ(root.childSnapshots[1].name, "B");
    EXPECT_EQ(root.childSnapshots[2].name, "D");
    ASSERT_EQ(root.childSnapshots[0].childSnapshots.size(), 1u);
    EXPECT_EQ(root.childSnapshots[0].childSnapshots[0].name, "C");
    EXPECT_THAT(root.childSnapshots[1].childSnapshots, IsEmpty());

    std::vector<std::string> walk;
    Walk(root, walk);
    EXPECT_THAT(walk, ElementsAre("A", "C", "B", "D"));
}

TEST(ParserSnapshotTest, EmptyTreeAndCurrentSnapshotOfWrongType) {
    CFusionComputeParser parser;
    SSnapshotTreeInfoLib root;
    ASSERT_TRUE(parser.ParseObject(R"({"rootSnapshots":[],"currentSnapshot":null})", root));
    EXPECT_THAT(root.childSnapshots, IsEmpty());
    EXPECT_EQ(root.currentSnapshot.urn, "");

    root.currentSnapshot.name = "kept";
    ASSERT_TRUE(parser.ParseObject(R"({"currentSnapshot":"urn:x","rootSnapshots":{"a":1}})", root));
    EXPECT_EQ(root.currentSnapshot.name, "kept");
    EXPECT_THAT(root.childSnapshots, IsEmpty());
}

TEST(ParserSnapshotTest, SnapshotWithDiskSnapshots) {
    CFusionComputeParser parser;
    SSnapshotInfoLib snapshot;
    ASSERT_TRUE(parser.ParseObject(R"({"urn":"urn:sites:1:vms:i-12:snapshots:3","name":"backup-20240312",
      "description":"","createTime":"2024-03-12 01:00:00","status":"ready","includingMemorySnapshot":false,
      "type":"backup","volsnapshots":[
        {"volumeUri":"/service/sites/1/volumes/5121","volumeUrn":"urn:sites:1:volumes:5121",
         "datastoreUrn":"urn:sites:1:datastores:40","volCBTCreateTime":"1710205245000",
         "chgID":"52 3b 7d 1c-00000007","snapUuid":"9f1e2d3c","size":80},
        {"volumeUrn":"urn:sites:1:volumes:5122","chgID":"0"}]})",
                                   snapshot));
    EXPECT_EQ(snapshot.name, "backup-20240312");
    EXPECT_EQ(snapshot.status, "ready");
    ASSERT_EQ(snapshot.volsnapshots.size(), 2u);
    const SDiskSnapshotInfoLib& d = snapshot.volsnapshots[0];
    EXPECT_EQ(d.volumeUri, "/service/sites/1/volumes/5121");
    EXPECT_EQ(d.volumeUrn, "urn:sites:1:volumes:5121");
    EXPECT_EQ(d.datastoreUrn, "urn:sites:1:datastores:40");
    EXPECT_EQ(d.volCBTCreateTime, "1710205245000");
    EXPECT_EQ(d.chgID, "52 3b 7d 1c-00000007");
    EXPECT_EQ(d.snapUuid, "9f1e2d3c");
    EXPECT_EQ(snapshot.volsnapshots[1].volumeUri, "");

    SSnapshotInfoLib bare;
    ASSERT_TRUE(parser.ParseObject(R"({"name":"s"})", bare));
    EXPECT_THAT(bare.volsnapshots, IsEmpty());
}

TEST(ParserBackupTest, BitmapPageAndResource) {
    CFusionComputeParser parser;
    SDiskBitmapInfoLib page;
    ASSERT_TRUE(parser.ParseObject(R"({"sectorOfBlock":2048,"bitNum":10000,"bit1Num":3,
        "bitMap":"0b000000","offset":0})",
                                   page));
    EXPECT_EQ(page.sectorOfBlock, 2048);
    EXPECT_EQ(page.bitNum, 10000);
    EXPECT_EQ(page.bit1Num, 3);
    EXPECT_EQ(page.bitMap, "0b000000");

    SBackupResourceInfoLib resource;
    resource.uri = "/service/sites/1/backupresources/77";
    resource.urn = "urn:sites:1:backupresources:77";
    ASSERT_TRUE(parser.ParseObject(R"({"uri":"/other","urn":"urn:other","taskUri":"/service/sites/1/tasks/9",
        "taskUrn":"urn:sites:1:tasks:9","resourceUrl":"nbd://10.1.1.3:10809/vol","hostIP":"10.1.1.3",
        "hostPort":10809,"targetFile":"/dev/vol5121","caCert":"-----BEGIN CERTIFICATE-----","status":"running",
        "reason":"","reasonDes":"","runningTime":12})",
                                   resource));
    EXPECT_EQ(resource.uri, "/service/sites/1/backupresources/77");
    EXPECT_EQ(resource.urn, "urn:sites:1:backupresources:77");
    EXPECT_EQ(resource.taskUri, "/service/sites/1/tasks/9");
    EXPECT_EQ(resource.taskUrn, "urn:sites:1:tasks:9");
    EXPECT_EQ(resource.resourceUrl, "nbd://10.1.1.3:10809/vol");
    EXPECT_EQ(resource.hostIP, "10.1.1.3");
    EXPECT_EQ(resource.hostPort, "10809");
    EXPECT_EQ(resource.targetFile, "/dev/vol5121");
    EXPECT_EQ(resource.token, "");
    EXPECT_EQ(resource.caCert, "-----BEGIN CERTIFICATE-----");
    EXPECT_EQ(resource.status, "running");
    EXPECT_EQ(resource.runningTime, 12);

    ASSERT_TRUE(parser.ParseObject(R"({"status":"failed","reasonDes":"Volume is busy."})", resource));
    EXPECT_EQ(resource.status, "failed");
    EXPECT_EQ(resource.reasonDes, "Volume is busy.");
    EXPECT_EQ(resource.hostIP, "");
    EXPECT_EQ(resource.uri, "/service/sites/1/backupresources/77");
}

TEST(ParserOvfTest, DescriptorAndFileItems) {
    CFusionComputeParser parser;
    SOVFInfoLib ovf;
    ASSERT_TRUE(
        parser.ParseObject(R"({"ovfDescriptor":"<?xml version=\"1.0\"?><Envelope/>","taskUrn":"x"})", ovf));
    EXPECT_EQ(ovf.ovfDescriptor, "<?xml version=\"1.0\"?><Envelope/>");

    const json_spirit::mObject answer = Object(R"({"vmConfig":{},"fileItems":[
        {"path":"db-prod-01-disk1.vmdk","deviceId":"disk1","ovfId":"file1","size":"1073741824"},
        7,
        {"path":"db-prod-01-disk2.vmdk","deviceId":"disk2","ovfId":"file2","size":2048}]})");
    std::vector<SOVFFileItemInfoLib> items;
    ASSERT_TRUE(parser.ConvertNestedList(answer, "fileItems", items));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].path, "db-prod-01-disk1.vmdk");
    EXPECT_EQ(items[0].deviceId, "disk1");
    EXPECT_EQ(items[0].ovfId, "file1");
    EXPECT_EQ(items[0].size, 1073741824);
    EXPECT_EQ(items[1].size, 2048);
}

// -------------------------------------------------------------------------------------------------
// Framework: lists, pages, nested templates, failures and their log lines
// -------------------------------------------------------------------------------------------------

TEST(ParserListTest, NonObjectElementsAreSkipped) {
    CFusionComputeParser parser;
    std::vector<SClusterInfoLib> clusters;
    ASSERT_TRUE(parser.ParseList(
        R"({"clusters":["c", 12, {"name":"only"}, null, [{"name":"nested"}], true]})", "clusters", clusters));
    ASSERT_EQ(clusters.size(), 1u);
    EXPECT_EQ(clusters[0].name, "only");
}

struct ListBodyCase {
    const char* label;
    const char* body;
    bool result;
    size_t appended;
};

TEST(ParserListTest, BodyShapes) {
    const std::vector<ListBodyCase> cases = {
        {"empty array", R"({"sites":[]})", true, 0},
        {"missing key", R"({"site":[{"name":"s"}]})", false, 0},
        {"key of another case", R"({"Sites":[{"name":"s"}]})", false, 0},
        {"key holds an object", R"({"sites":{"name":"s"}})", false, 0},
        {"key holds null", R"({"sites":null})", false, 0},
        {"top level is an array", R"([{"name":"s"}])", false, 0},
        {"not JSON", "<html>502 Bad Gateway</html>", false, 0},
        {"truncated", R"({"sites":[{"name":"s"})", false, 0},
        {"empty body", "", false, 0},
        {"two sites", R"({"sites":[{"name":"a"},{"name":"b"}],"total":2})", true, 2},
    };
    for (const ListBodyCase& c : cases) {
        SCOPED_TRACE(c.label);
        fcsdk_test::LogCapture log;
        CFusionComputeParser parser;
        std::vector<SSiteInfoLib> sites(1);
        EXPECT_EQ(parser.ParseList(c.body, "sites", sites), c.result);
        EXPECT_EQ(sites.size(), 1 + c.appended);
        EXPECT_THAT(log.Lines(), IsEmpty());  // none of these is a type error

        std::vector<SSiteInfoLib> paged(1);
        int64_t total = 77;
        EXPECT_EQ(parser.ParsePagedList(c.body, "sites", paged, total), c.result);
        EXPECT_EQ(paged.size(), 1 + c.appended);
        EXPECT_EQ(total, static_cast<int64_t>(c.result ? c.appended : 77u));
    }
}

TEST(ParserListTest, ObjectBodyShapes) {
    CFusionComputeParser parser;
    SVersionInfoLib version;
    version.version = "kept";
    EXPECT_FALSE(parser.ParseObject("[]", version));
    EXPECT_FALSE(parser.ParseObject("\"text\"", version));
    EXPECT_FALSE(parser.ParseObject("", version));
    EXPECT_FALSE(parser.ParseObject(R"({"version":"6.3")", version));
    EXPECT_EQ(version.version, "kept");
    EXPECT_TRUE(parser.ParseObject("{}", version));
    EXPECT_EQ(version.version, "");
}

TEST(ParserListTest, AppendsAcrossCalls) {
    CFusionComputeParser parser;
    std::vector<SHostInfoLib> hosts;
    int64_t total = 0;
    ASSERT_TRUE(
        parser.ParsePagedList(R"({"total":3,"hosts":[{"name":"h1"},{"name":"h2"}]})", "hosts", hosts, total));
    EXPECT_EQ(total, 3);
    ASSERT_TRUE(parser.ParsePagedList(R"({"total":3,"hosts":[{"name":"h3"}]})", "hosts", hosts, total));
    ASSERT_TRUE(parser.ParseList(R"({"hosts":[{"name":"h4"}]})", "hosts", hosts));
    ASSERT_EQ(hosts.size(), 4u);
    EXPECT_EQ(hosts[0].name, "h1");
    EXPECT_EQ(hosts[2].name, "h3");
    EXPECT_EQ(hosts[3].name, "h4");
}

struct TotalCase {
    const char* total;  // JSON text of "total", or nullptr for a missing key
    int64_t expected;
};

TEST(ParserListTest, PagedTotal) {
    const std::vector<TotalCase> cases = {
        {"250", 250}, {nullptr, 0}, {R"("250")", 250},          {"null", 0},
        {"{}", 0},    {"12.9", 12}, {"5000000000", 5000000000}, {"-1", -1},
    };
    CFusionComputeParser parser;
    for (const TotalCase& c : cases) {
        SCOPED_TRACE(c.total ? c.total : "missing");
        std::vector<SVMInfoLib> vms;
        int64_t total = 99;
        std::string body = R"({"vms":[{"name":"a","vmConfig":null}])";
        if (c.total != nullptr) body += std::string(R"(,"total":)") + c.total;
        body += "}";
        ASSERT_TRUE(parser.ParsePagedList(body, "vms", vms, total));
        EXPECT_EQ(total, c.expected);
        EXPECT_EQ(vms.size(), 1u);
    }
}

TEST(ParserListTest, NestedTemplatesReportMissingOrWrongTypes) {
    CFusionComputeParser parser;
    const json_spirit::mObject object =
        Object(R"({"list":[{"name":"a"},"b"],"obj":{"name":"o"},"str":"s","nul":null,"num":1})");

    std::vector<SSiteInfoLib> sites;
    EXPECT_TRUE(parser.ConvertNestedList(object, "list", sites));
    EXPECT_EQ(sites.size(), 1u);
    for (const char* key : {"missing", "obj", "str", "nul", "num"}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(parser.ConvertNestedList(object, key, sites));
    }
    EXPECT_EQ(sites.size(), 1u);

    SSiteInfoLib site;
    EXPECT_TRUE(parser.ConvertNestedObject(object, "obj", site));
    EXPECT_EQ(site.name, "o");
    for (const char* key : {"missing", "list", "str", "nul", "num"}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(parser.ConvertNestedObject(object, key, site));
        EXPECT_EQ(site.name, "o");
    }

    EXPECT_TRUE(parser.ConvertList(json_spirit::mArray{}, sites));
    EXPECT_TRUE(
        parser.ConvertList(json_spirit::mArray{json_spirit::mValue(3), json_spirit::mValue("x")}, sites));
    EXPECT_EQ(sites.size(), 1u);
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters)
std::string ExpectedFunction(const std::string& name, const std::string& parameters,
                             const std::string& record, const std::string& typedefs = std::string()) {
#if defined(__GNUC__) && !defined(__clang__)
    return "bool FusionComputeSDKWrapper::CFusionComputeParser::" + name + "(" + parameters +
           ") [with T = FusionComputeSDKWrapper::" + record +
           "; std::string = std::__cxx11::basic_string<char>" + typedefs + "]";
#else
    (void)parameters;
    (void)typedefs;
    return "FusionComputeSDKWrapper::CFusionComputeParser::" + name;
#endif
}

TEST(ParserFailureTest, TypeErrorInAnObjectIsLoggedWithTheWholeBody) {
    fcsdk_test::LogCapture log;
    CFusionComputeParser parser;
    const std::string body =
        "{\"name\":\"CNA-03\",\n \"memResource\": 262144,\n \"cpuMHz\": 2600, \"ip\": \"10.1.1.3\"}";
    SHostInfoLib host;
    EXPECT_FALSE(parser.ParseObject(body, host));
    ASSERT_EQ(log.Lines(EvDebugLevel::Error).size(), 1u);
    const std::string line = log.Lines().at(0);
    EXPECT_THAT(line, HasSubstr(" ERROR " +
                                ExpectedFunction("ParseObject", "const std::string&, T&", "SHostInfoLib") +
                                " - Exception parsing json object - value type is 4 not 0\n" + body));
    EXPECT_EQ(line.substr(line.size() - body.size()), body);

    // A large body: its first 16 KB and its size, not the whole answer in the error log.
    const std::string large =
        body.substr(0, body.size() - 1) + ", \"padding\": \"" + std::string(100000, 'x') + "\"}";
    log.Clear();
    EXPECT_FALSE(parser.ParseObject(large, host));
    ASSERT_EQ(log.Lines(EvDebugLevel::Error).size(), 1u);
    const std::string cut = log.Lines().at(0);
    EXPECT_THAT(cut,
                HasSubstr(large.substr(0, 16 * 1024) + "... (" + std::to_string(large.size()) + " bytes)"));
    EXPECT_LT(cut.size(), 17u * 1024);
}

TEST(ParserFailureTest, TypeErrorInAListKeepsEarlierRecordsAndLogsTheKey) {
    const std::string body =
        R"({"total":3,"vms":[{"name":"vm-a","vmConfig":null},{"name":"vm-b","vmConfig":{"disks":[]}},)"
        R"({"name":"vm-c","vmConfig":"broken"}]})";
    const struct {
        bool paged;
        const char* function;
        const char* parameters;
        const char* typedefs;
    } entries[] = {
        {false, "ParseList", "const std::string&, const std::string&, std::vector<T>&", ""},
        {true, "ParsePagedList", "const std::string&, const std::string&, std::vector<T>&, int64_t&",
         "; int64_t = long int"},
    };
    for (const auto& entry : entries) {
        SCOPED_TRACE(entry.function);
        fcsdk_test::LogCapture log;
        CFusionComputeParser parser;
        std::vector<SVMInfoLib> vms;
        int64_t total = 0;
        const bool result =
            entry.paged ? parser.ParsePagedList(body, "vms", vms, total) : parser.ParseList(body, "vms", vms);
        EXPECT_FALSE(result);
        ASSERT_EQ(vms.size(), 2u);
        EXPECT_EQ(vms[1].name, "vm-b");
        EXPECT_EQ(total, entry.paged ? 3 : 0);
        ASSERT_EQ(log.Lines(EvDebugLevel::Error).size(), 1u);
        EXPECT_THAT(
            log.Lines().at(0),
            HasSubstr(" ERROR " +
                      ExpectedFunction(entry.function, entry.parameters, "SVMInfoLib", entry.typedefs) +
                      " - Exception parsing json list [vms] - value type is 2 not 0\n" + body));
    }
}

TEST(ParserSnapshotTest, NestedTreeLevelsConvertRecursively) {
    fcsdk_test::LogCapture log;
    CFusionComputeParser parser;
    SSnapshotTreeInfoLib root;
    const std::string body = R"({"rootSnapshots":[{"name":"A","childSnapshots":[{"name":"C","rootSnapshots":[
        {"name":"E","currentSnapshot":{"volsnapshots":[{"x":1}]}}]}]}],
        "currentSnapshot":{"name":"cur"}})";
    ASSERT_TRUE(parser.ParseObject(body, root));
    EXPECT_EQ(root.childSnapshots.at(0).childSnapshots.at(0).childSnapshots.at(0).name, "E");
    EXPECT_EQ(root.childSnapshots[0].childSnapshots[0].childSnapshots[0].currentSnapshot.volsnapshots.size(),
              1u);
    EXPECT_THAT(log.Lines(), IsEmpty());
}

}  // namespace
}  // namespace FusionComputeSDKWrapper
