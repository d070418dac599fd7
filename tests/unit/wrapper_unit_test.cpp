// The facade's own logic without a VRM: version numbers, the behaviour before Connect, guest OS naming
// from the process-wide catalogue and the naming of a NIC's distributed switch.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FusionComputeWrapper.h"
#include "LogCapture.h"
#include "WrapperTestPeer.h"

namespace {

using FusionComputeSDKWrapper::CFusionComputeWrapper;
using FusionComputeSDKWrapper::SFolderInfoLib;
using FusionComputeSDKWrapper::SNetworkInfoLib;
using FusionComputeSDKWrapper::SOSVersionInfoLib;
using FusionComputeSDKWrapper::SOSVersionsInfoLib;
using FusionComputeSDKWrapper::SVMInfoLib;
using FusionComputeSDKWrapper::SVMNetworkCardInfoLib;
using Peer = FusionComputeSDKWrapper::CFusionComputeWrapperTestPeer;
namespace fc = FusionComputeSDKWrapper;

// ---------------------------------------------------------------------------------------------------
// DecodeVersion
// ---------------------------------------------------------------------------------------------------

struct DecodeCase {
    std::string text;
    int number;
    bool logsError;
};

class WrapperDecodeVersionTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(WrapperDecodeVersionTest, GivesTenTimesMajorPlusMinor) {
    const DecodeCase& c = GetParam();
    fcsdk_test::LogCapture log(0);
    CFusionComputeWrapper wrapper;
    EXPECT_EQ(wrapper.DecodeVersion(c.text), c.number) << "[" << c.text << "]";
    const std::string errorLine =
        "int FusionComputeSDKWrapper::CFusionComputeWrapper::DecodeVersion(const string&) - "
        "Failed to parse version [" +
        c.text + "]";
    EXPECT_EQ(log.Contains(errorLine), c.logsError) << log.Text();
}

INSTANTIATE_TEST_SUITE_P(Versions, WrapperDecodeVersionTest,
                         ::testing::Values(DecodeCase{"v6.3", 63, false}, DecodeCase{"v5.0", 50, false},
                                           DecodeCase{"v8.1", 81, false},
                                           // The letter in front is dropped whatever it is.
                                           DecodeCase{"V6.1", 61, false}, DecodeCase{"x5.1", 51, false},
                                           // A two-digit minor number is added as read.
                                           DecodeCase{"v6.10", 70, false},
                                           // Parts are read by their leading digits.
                                           DecodeCase{"v6a.3b", 63, false}, DecodeCase{"v.3", 3, false},
                                           DecodeCase{"vx.y", 0, false}, DecodeCase{"", 0, false},
                                           DecodeCase{"v6", 0, true}, DecodeCase{"v", 0, true},
                                           DecodeCase{"v6.3.1", 0, true},
                                           // The escape character keeps a point inside one part.
                                           DecodeCase{"v6\\.3", 0, true}));

TEST(WrapperDecodeVersion, HugeNumbersStayOutsideTheCompatibleWindowWithoutOverflow) {
    CFusionComputeWrapper wrapper;
    EXPECT_GT(wrapper.DecodeVersion("v99999999999999999999.99999999999999999999"), 63);
    EXPECT_GT(wrapper.DecodeVersion("v2147483647.9"), 63);
}

// ---------------------------------------------------------------------------------------------------
// Before Connect
// ---------------------------------------------------------------------------------------------------

TEST(WrapperBeforeConnect, AccessorsAnswerWithoutARequest) {
    CFusionComputeWrapper wrapper;
    EXPECT_TRUE(wrapper.CheckConnection());
    fc::SVersionInfoLib info;
    info.version = "untouched";
    EXPECT_FALSE(wrapper.GetManagementVersionInfo(info));
    EXPECT_EQ(info.version, "untouched");
    int number = -7;
    EXPECT_FALSE(wrapper.GetManagementVersionNumber(number));
    EXPECT_EQ(number, -7);
    EXPECT_EQ(wrapper.GetLastErrorCode(), 0);
    EXPECT_EQ(wrapper.GetLastError(), "");
}

TEST(WrapperBeforeConnect, GetSiteGivesAnEmptyRecordThatStaysEmpty) {
    CFusionComputeWrapper wrapper;
    fc::SSiteInfoLib& site = wrapper.GetSite();
    EXPECT_TRUE(site.urn.empty());
    EXPECT_TRUE(site.uri.empty());
    site.uri = "/service/sites/written-by-caller";
    site.clusters.resize(3);
    const fc::SSiteInfoLib& again = wrapper.GetSite();
    EXPECT_TRUE(again.uri.empty());
    EXPECT_TRUE(again.clusters.empty());
}

struct SiteOperation {
    const char* name;
    std::function<bool(CFusionComputeWrapper&)> call;
};

TEST(WrapperBeforeConnect, EveryOperationThatNeedsTheSiteFails) {
    const std::vector<SiteOperation> operations = {
        {"GetClusterInfo",
         [](CFusionComputeWrapper& w) {
             fc::SClusterInfoLib c;
             return w.GetClusterInfo("c", "", c, 0);
         }},
        {"GetClusterInfoList",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SClusterInfoLib> l;
             return w.GetClusterInfoList(l, 0);
         }},
        {"GetClusterInfoListForFolder",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SClusterInfoLib> l;
             return w.GetClusterInfoListForFolder("", l, 0);
         }},
        {"GetHostInfo",
         [](CFusionComputeWrapper& w) {
             fc::SHostInfoLib h;
             return w.GetHostInfo("h", "", h, 0);
         }},
        {"GetHostInfoList",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SHostInfoLib> l;
             return w.GetHostInfoList(l, 0);
         }},
        {"GetHostInfoListForCluster",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SHostInfoLib> l;
             return w.GetHostInfoListForCluster("", l, 0);
         }},
        {"GetVMInfo",
         [](CFusionComputeWrapper& w) {
             SVMInfoLib v;
             return w.GetVMInfo("vm", "", "", v, 0);
         }},
        {"GetVMInfoList",
         [](CFusionComputeWrapper& w) {
             std::vector<SVMInfoLib> l;
             return w.GetVMInfoList(l, 0);
         }},
        {"GetVMTemplateList",
         [](CFusionComputeWrapper& w) {
             std::vector<SVMInfoLib> l;
             return w.GetVMTemplateList(l, 0);
         }},
        {"GetVMInfoListForFolder",
         [](CFusionComputeWrapper& w) {
             std::vector<SVMInfoLib> l;
             return w.GetVMInfoListForFolder("", l, 0);
         }},
        {"GetDataStoreInfo",
         [](CFusionComputeWrapper& w) {
             fc::SDataStoreInfoLib d;
             return w.GetDataStoreInfo("d", "", d, 0);
         }},
        {"GetDataStoreInfoList",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SDataStoreInfoLib> l;
             return w.GetDataStoreInfoList(l, 0);
         }},
        {"GetClusterFolderInfoList",
         [](CFusionComputeWrapper& w) {
             std::vector<SFolderInfoLib> l;
             return w.GetClusterFolderInfoList(l);
         }},
        {"GetVMFolderInfoList",
         [](CFusionComputeWrapper& w) {
             std::vector<SFolderInfoLib> l;
             return w.GetVMFolderInfoList("", l);
         }},
        {"GetFolderInfoList", [](CFusionComputeWrapper& w) { return w.GetFolderInfoList(); }},
        {"FillVMInfoDetails",
         [](CFusionComputeWrapper& w) {
             SVMInfoLib v;
             return w.FillVMInfoDetails(v, 0);
         }},
        {"FillVMInfoListDetails",
         [](CFusionComputeWrapper& w) {
             std::vector<SVMInfoLib> l(1);
             return w.FillVMInfoListDetails(l, 0);
         }},
        {"FillClusterInfoDetails with a nested list",
         [](CFusionComputeWrapper& w) {
             fc::SClusterInfoLib c;
             return w.FillClusterInfoDetails(c, fc::VM_PROP_CLUSTER_HOST_LIST);
         }},
        {"FillHostInfoDetails with a nested list",
         [](CFusionComputeWrapper& w) {
             fc::SHostInfoLib h;
             return w.FillHostInfoDetails(h, fc::VM_PROP_HOST_VM_LIST);
         }},
        {"FillDataStoreInfoDetails with a nested list",
         [](CFusionComputeWrapper& w) {
             fc::SDataStoreInfoLib d;
             d.storageType = "NAS";
             return w.FillDataStoreInfoDetails(d, fc::VM_PROP_DS_EXTENT_LIST);
         }},
    };
    fcsdk_test::LogCapture log(0);
    for (const SiteOperation& operation : operations) {
        CFusionComputeWrapper wrapper;
        EXPECT_FALSE(operation.call(wrapper)) << operation.name;
        EXPECT_EQ(wrapper.GetLastError(), "Not connected to a VRM site") << operation.name;
        EXPECT_EQ(wrapper.GetLastErrorCode(), 0) << operation.name;
    }
    EXPECT_EQ(log.Count("Not connected to a VRM site"), operations.size());
}

TEST(WrapperBeforeConnect, FillsThatNeedNothingFromTheSiteSucceed) {
    CFusionComputeWrapper wrapper;
    fc::SSiteInfoLib site;
    EXPECT_TRUE(wrapper.FillSiteInfoDetails(site, 0));
    fc::SClusterInfoLib cluster;
    EXPECT_TRUE(wrapper.FillClusterInfoDetails(cluster, fc::VM_PROP_HOST_VM_LIST));
    fc::SHostInfoLib host;
    EXPECT_TRUE(wrapper.FillHostInfoDetails(host, fc::VM_PROP_CLUSTER_HOST_LIST));
    fc::SDataStoreInfoLib datastore;
    EXPECT_TRUE(wrapper.FillDataStoreInfoDetails(datastore, 0));
    EXPECT_EQ(wrapper.GetLastError(), "");
}

// ---------------------------------------------------------------------------------------------------
// Guest OS naming
// ---------------------------------------------------------------------------------------------------

SOSVersionInfoLib OsVersion(int id, const std::string& description) {
    SOSVersionInfoLib version;
    version.id = id;
    version.versionDes = description;
    return version;
}

SOSVersionsInfoLib SampleCatalogue() {
    SOSVersionsInfoLib catalogue;
    catalogue.windows = {OsVersion(2, "Windows 10"), OsVersion(1, "Windows 7"),
                         OsVersion(1, "Windows 7 again")};
    catalogue.linux = {OsVersion(1, "Ubuntu 22.04"), OsVersion(3, "Debian 12")};
    catalogue.other = {OsVersion(1, "Other (32 bit)")};
    return catalogue;
}

class WrapperGuestOSTest : public ::testing::Test {
  protected:
    void SetUp() override { Peer::SetGuestOSCatalogue(SampleCatalogue()); }
    void TearDown() override { Peer::ResetGuestOSCatalogue(); }
    CFusionComputeWrapper wrapper;
};

TEST_F(WrapperGuestOSTest, NamesByOSTypeInAnyCaseAndFirstMatchingId) {
    struct Case {
        std::string osType;
        int osVersion;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"windows", 1, "Windows 7"},
        {"WINDOWS", 2, "Windows 10"},
        {"Windows", 1, "Windows 7"},
        {"linux", 3, "Debian 12"},
        {"LiNuX", 1, "Ubuntu 22.04"},
        {"other", 1, "Other (32 bit)"},
        {"OTHER", 1, "Other (32 bit)"},
        {"windows", 3, ""},
        {"unix", 1, ""},
        {"win", 1, ""},
        {"windows ", 1, ""},
        {"", 1, ""},
    };
    for (const Case& c : cases) {
        std::string name;
        Peer::LookupGuestOSName(wrapper, c.osType, c.osVersion, name);
        EXPECT_EQ(name, c.expected) << c.osType << " " << c.osVersion;
    }
}

TEST_F(WrapperGuestOSTest, VMFillNamesOnlyWhenTheVRMGaveATypeButNoName) {
    std::vector<SNetworkInfoLib> networks;
    SVMInfoLib unnamed;
    unnamed.osType = "Linux";
    unnamed.osVersion = 3;
    SVMInfoLib named = unnamed;
    named.guestOSName = "Given by the VRM";
    SVMInfoLib untyped;
    untyped.osVersion = 1;
    SVMInfoLib unknownVersion = unnamed;
    unknownVersion.osVersion = 99;

    for (SVMInfoLib* vm : {&unnamed, &named, &untyped, &unknownVersion}) {
        EXPECT_TRUE(Peer::FillOneVM(wrapper, *vm, 0, networks));
    }
    EXPECT_EQ(unnamed.guestOSName, "Debian 12");
    EXPECT_EQ(named.guestOSName, "Given by the VRM");
    EXPECT_EQ(untyped.guestOSName, "");
    EXPECT_EQ(unknownVersion.guestOSName, "");
}

TEST(WrapperGuestOS, AnEmptyCatalogueLeavesNamesEmpty) {
    Peer::ResetGuestOSCatalogue();
    CFusionComputeWrapper wrapper;
    std::string name;
    Peer::LookupGuestOSName(wrapper, "windows", 1, name);
    EXPECT_EQ(name, "");
}

// ---------------------------------------------------------------------------------------------------
// Switch naming of NICs
// ---------------------------------------------------------------------------------------------------

SNetworkInfoLib Network(const std::string& name, const std::string& urn) {
    SNetworkInfoLib network;
    network.name = name;
    network.urn = urn;
    return network;
}

struct SwitchCase {
    const char* what;
    std::string portGroupUrn;
    std::vector<SNetworkInfoLib> networks;
    std::string expectedName;
    std::string expectedUrn;
};

TEST(WrapperSwitchNaming, NamesTheSwitchWhoseUrnPrecedesThePortGroup) {
    const SNetworkInfoLib dvs2 = Network("dvs-2", "urn:sites:1:dvswitchs:2");
    const SNetworkInfoLib dvs20 = Network("dvs-20", "urn:sites:1:dvswitchs:20");
    const SNetworkInfoLib unnamedUrn = Network("no-urn", "");
    const std::vector<SwitchCase> cases = {
        {"port group of switch 2", "urn:sites:1:dvswitchs:2:portgroups:3", {dvs20, dvs2}, "dvs-2", dvs2.urn},
        {"port group of switch 20",
         "urn:sites:1:dvswitchs:20:portgroups:1",
         {dvs2, dvs20},
         "dvs-20",
         dvs20.urn},
        {"text without portgroups is taken whole",
         "urn:sites:1:dvswitchs:20",
         {dvs2, dvs20},
         "dvs-20",
         dvs20.urn},
        {"case counts", "URN:SITES:1:DVSWITCHS:2:portgroups:3", {dvs2, dvs20}, "", ""},
        {"the walk goes on after a match",
         "urn:sites:1:dvswitchs:2:portgroups:3",
         {dvs2, Network("dvs-2 renamed", dvs2.urn)},
         "dvs-2 renamed",
         dvs2.urn},
        {"unknown switch", "urn:sites:1:dvswitchs:7:portgroups:1", {dvs2, dvs20}, "", ""},
        {"nothing before portgroups", "portgroups:3", {unnamedUrn}, "", ""},
        {"no port group", "", {unnamedUrn, dvs2}, "", ""},
    };
    for (const SwitchCase& c : cases) {
        CFusionComputeWrapper wrapper;
        SVMInfoLib vm;
        SVMNetworkCardInfoLib nic;
        nic.portGroupUrn = c.portGroupUrn;
        vm.nics = {nic, nic};
        std::vector<SNetworkInfoLib> networks = c.networks;
        ASSERT_TRUE(Peer::FillOneVM(wrapper, vm, fc::VM_PROP_VM_NW_LIST, networks)) << c.what;
        for (const SVMNetworkCardInfoLib& filled : vm.nics) {
            EXPECT_EQ(filled.dvSwitchName, c.expectedName) << c.what;
            EXPECT_EQ(filled.dvSwitchUrn, c.expectedUrn) << c.what;
        }
    }
}

TEST(WrapperSwitchNaming, LeavesNICsAloneWithoutTheNetworkFlag) {
    CFusionComputeWrapper wrapper;
    SVMInfoLib vm;
    SVMNetworkCardInfoLib nic;
    nic.portGroupUrn = "urn:sites:1:dvswitchs:2:portgroups:3";
    vm.nics = {nic};
    std::vector<SNetworkInfoLib> networks = {Network("dvs-2", "urn:sites:1:dvswitchs:2")};
    ASSERT_TRUE(Peer::FillOneVM(wrapper, vm,
                                fc::VM_PROP_ALL_VM & ~fc::VM_PROP_VM_NW_LIST & ~fc::VM_PROP_VM_DISK_LIST &
                                    ~fc::VM_PROP_VM_SNAPSHOT_LIST,
                                networks));
    EXPECT_EQ(vm.nics[0].dvSwitchName, "");
    EXPECT_EQ(vm.nics[0].dvSwitchUrn, "");
}

}  // namespace
