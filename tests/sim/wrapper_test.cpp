// The facade against vrmsim over real TLS: connect (version choice, login, site list with retries) and
// the inventory reads with their detail fills, checked on the records and on the recorded requests.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "FakeClock.h"
#include "FusionComputeWrapper.h"
#include "LogCapture.h"
#include "SimServer.h"
#include "WrapperTestPeer.h"

namespace {

namespace fc = FusionComputeSDKWrapper;
namespace json = boost::json;
using fc::CFusionComputeWrapper;
using fc::SVMInfoLib;
using Peer = fc::CFusionComputeWrapperTestPeer;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const char kConnectFunction[] =
    "bool FusionComputeSDKWrapper::CFusionComputeWrapper::Connect(const string&, const string&, const "
    "string&)";

class WrapperSimTest : public fcsdk_test::SimTest {
  protected:
    void Connect(CFusionComputeWrapper& wrapper) {
        ASSERT_TRUE(wrapper.Connect(server().host(), server().user(), server().password()))
            << wrapper.GetLastError();
    }

    void SetVersions(const std::vector<std::pair<std::string, std::string>>& versions) {
        vrmsim::RuntimeConfig config = server().sim().Config();
        config.versions = versions;
        server().sim().SetConfig(config);
    }

    static std::vector<std::string> Names(const std::vector<fc::SSnapshotInfoLib>& snapshots) {
        std::vector<std::string> names;
        for (const fc::SSnapshotInfoLib& snapshot : snapshots) names.push_back(snapshot.name);
        return names;
    }

    std::string Site() { return server().siteUri(); }
};

// ---------------------------------------------------------------------------------------------------
// Connect
// ---------------------------------------------------------------------------------------------------

struct VersionCase {
    const char* what;
    std::vector<std::pair<std::string, std::string>> versions;
    std::string sessionVersion;
    std::string managementVersion;
    std::string managementLoginUri;
    int managementNumber;
    std::string note;
};

TEST_F(WrapperSimTest, ConnectChoosesTheNewestVersionUpTo63) {
    const std::vector<VersionCase> cases = {
        {"newer VRM",
         {{"v5.1", "/service/session"},
          {"v6.1", "/service/session"},
          {"v6.3", "/service/session"},
          {"v8.0", "/service/session"}},
         "v6.3",
         "v8.0",
         "/service/session",
         80,
         " using version v6.3 compatibility"},
        {"only versions above the window", {{"v8.0", "/a"}, {"v8.1", "/b"}}, "v8.1", "v8.1", "/b", 81, " "},
        {"the same version twice: the first record wins",
         {{"v6.3", "/first"}, {"v6.3", "/second"}},
         "v6.3",
         "v6.3",
         "/first",
         63,
         " "},
        {"unsorted list", {{"v6.3", "/s"}, {"v5.0", "/s"}, {"v6.1", "/s"}}, "v6.3", "v6.3", "/s", 63, " "},
        {"just outside the window", {{"v4.9", "/s"}, {"v6.4", "/s"}}, "v6.4", "v6.4", "/s", 64, " "},
        {"unparseable text is ignored",
         {{"v6", "/s"}, {"v6.1", "/s"}, {"vx", "/s"}},
         "v6.1",
         "v6.1",
         "/s",
         61,
         " "},
        {"oldest in the window beside newer ones",
         {{"v5.0", "/s"}, {"v9.9", "/s"}},
         "v5.0",
         "v9.9",
         "/s",
         99,
         " using version v5.0 compatibility"},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.what);
        server().Reset();
        SetVersions(c.versions);
        fcsdk_test::LogCapture log(1);
        CFusionComputeWrapper wrapper;
        Connect(wrapper);

        const std::string accept = "application/json;version=" + c.sessionVersion + ";charset=UTF8";
        const auto logins = server().Requests("/service/session");
        ASSERT_EQ(logins.size(), 1u);
        EXPECT_EQ(logins[0].Header("Accept"), accept);
        const auto siteLists = Sent("GET", "/service/sites");
        ASSERT_EQ(siteLists.size(), 1u);
        EXPECT_EQ(siteLists[0].Header("Accept"), accept);

        fc::SVersionInfoLib management;
        ASSERT_TRUE(wrapper.GetManagementVersionInfo(management));
        EXPECT_EQ(management.version, c.managementVersion);
        EXPECT_EQ(management.loginUri, c.managementLoginUri);
        int number = 0;
        ASSERT_TRUE(wrapper.GetManagementVersionNumber(number));
        EXPECT_EQ(number, c.managementNumber);

        const std::string line = std::string(kConnectFunction) + " - Connected to VRM " + server().host() +
                                 " version " + c.managementVersion + " as " + server().user() + c.note;
        const auto debugLines = log.Lines(EvDebugLevel::Debug);
        EXPECT_TRUE(std::any_of(debugLines.begin(), debugLines.end(),
                                [&](const std::string& l) {
                                    return l.size() >= line.size() &&
                                           l.compare(l.size() - line.size(), line.size(), line) == 0;
                                }))
            << "expected a line ending in [" << line << "]\n"
            << log.Text();
        EXPECT_TRUE(log.HasNoSecret(server().password()));
        EXPECT_EQ(wrapper.GetSite().urn, server().siteUrn());
    }
}

TEST_F(WrapperSimTest, ConnectWithoutAUsableVersionListLogsInWithoutAVersion) {
    for (const std::string body : {R"({"versions": []})", "this is not json", R"({"other": [1, 2]})"}) {
        SCOPED_TRACE(body);
        server().Reset();
        Answer("GET", "/service/versions", body);
        fcsdk_test::LogCapture log(1);
        CFusionComputeWrapper wrapper;
        Connect(wrapper);
        const auto logins = server().Requests("/service/session");
        ASSERT_EQ(logins.size(), 1u);
        EXPECT_EQ(logins[0].Header("Accept"), "application/json;charset=UTF8");
        fc::SVersionInfoLib management;
        EXPECT_FALSE(wrapper.GetManagementVersionInfo(management));
        int number = 0;
        EXPECT_FALSE(wrapper.GetManagementVersionNumber(number));
        EXPECT_TRUE(
            log.Contains("Connected to VRM " + server().host() + " version  as " + server().user() + " "))
            << log.Text();
        EXPECT_EQ(wrapper.GetSite().urn, server().siteUrn());
    }
}

struct SiteRetryCase {
    int failures;
    bool connects;
    size_t siteRequests;
    size_t pauses;
    bool dropped = false;  // the answers break off (a transport failure) instead of an error body
};

TEST_F(WrapperSimTest, ConnectReadsTheSiteListWithTenAttemptsAndTenMillisecondPauses) {
    for (const SiteRetryCase& c : {SiteRetryCase{0, true, 1, 0}, SiteRetryCase{3, true, 4, 3},
                                   SiteRetryCase{9, true, 10, 9}, SiteRetryCase{10, false, 10, 10},
                                   SiteRetryCase{25, false, 10, 10}, SiteRetryCase{1, true, 2, 1, true},
                                   // A VRM that cannot answer twice in a row is not asked eight times more
                                   // (each could cost the whole transport time-out).
                                   SiteRetryCase{25, false, 2, 1, true}}) {
        SCOPED_TRACE(std::to_string(c.failures) + (c.dropped ? " dropped" : ""));
        server().Reset();
        if (c.failures > 0 && !c.dropped) {
            Fail("GET", "/service/sites", c.failures, "10000123", "sites are not ready");
        } else if (c.failures > 0) {
            vrmsim::Fault fault;
            fault.kind = vrmsim::FaultKind::Drop;
            fault.method = "GET";
            fault.path = "/service/sites";
            fault.count = c.failures;
            server().AddFault(fault);
        }
        fcsdk_test::FakeClock clock;
        CFusionComputeWrapper wrapper;
        EXPECT_EQ(wrapper.Connect(server().host(), server().user(), server().password()), c.connects);

        EXPECT_EQ(clock.Pauses(), std::vector<unsigned int>(c.pauses, 10u));
        EXPECT_EQ(Sent("GET", "/service/sites").size(), c.siteRequests);
        if (c.connects) {
            EXPECT_EQ(wrapper.GetSite().urn, server().siteUrn());
            EXPECT_EQ(wrapper.GetSite().uri, server().siteUri());
        } else if (!c.dropped) {
            EXPECT_TRUE(wrapper.GetSite().urn.empty());
            EXPECT_EQ(wrapper.GetLastError(), "sites are not ready");
            EXPECT_EQ(wrapper.GetLastErrorCode(), 10000123);
            std::vector<SVMInfoLib> vms;
            EXPECT_FALSE(wrapper.GetVMInfoList(vms, 0));
            EXPECT_EQ(wrapper.GetLastError(), "Not connected to a VRM site");
        }
    }
}

TEST_F(WrapperSimTest, ConnectStopsWhenTheLoginIsRefusedAndSaysWhy) {
    fcsdk_test::LogCapture log(2);
    CFusionComputeWrapper wrapper;
    EXPECT_FALSE(wrapper.Connect(server().host(), server().user(), "wrong password"));
    EXPECT_TRUE(Sent("GET", "/service/sites").empty());
    // The version list read before the refusal is kept; the last error gives the VRM's reason.
    fc::SVersionInfoLib management;
    EXPECT_TRUE(wrapper.GetManagementVersionInfo(management));
    EXPECT_THAT(wrapper.GetLastError(), ::testing::StartsWith("Login refused: "));
    EXPECT_GT(wrapper.GetLastError().size(), std::string("Login refused: ").size());
    EXPECT_EQ(wrapper.GetLastError().find("wrong password"), std::string::npos);
    EXPECT_EQ(wrapper.GetLastError().find("X-Auth"), std::string::npos);
    EXPECT_FALSE(log.Contains("Connected to VRM"));
    EXPECT_TRUE(log.HasNoSecret("wrong password"));
}

TEST_F(WrapperSimTest, SecondConnectEndsTheOldSessionAndSendsAWrongPasswordOnce) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    const std::string oldToken = server().Requests("/service/sites").back().Header("X-Auth-Token");
    ASSERT_FALSE(oldToken.empty());
    server().ClearRequests();

    EXPECT_FALSE(wrapper.Connect(server().host(), server().user(), "wrong password"));

    // The old session is given back, then the new one starts from nothing: no token and no version of
    // the old session travel with the version list or the login, and the refused login is not repeated.
    const std::vector<vrmsim::RecordedRequest> sent = server().Requests();
    std::vector<std::string> lines;
    for (const vrmsim::RecordedRequest& request : sent) lines.push_back(request.method + " " + request.path);
    EXPECT_THAT(lines, ::testing::ElementsAre("DELETE /service/session", "GET /service/versions",
                                              "POST /service/session"));
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].Header("X-Auth-Token"), oldToken);
    EXPECT_EQ(sent[1].Header("X-Auth-Token"), "");
    EXPECT_EQ(sent[1].Header("Accept"), "application/json;charset=UTF8");
    EXPECT_EQ(sent[2].Header("X-Auth-Token"), "");
    EXPECT_EQ(sent[2].status, 401);
    EXPECT_EQ(server().Stats().loginFailures, 1u);
    // Unconnected now: nothing is sent with a session that no longer exists.
    server().ClearRequests();
    std::vector<fc::SVMInfoLib> vms;
    EXPECT_FALSE(wrapper.GetVMInfoList(vms, 0));
    EXPECT_EQ(wrapper.GetLastError(), "Not connected to a VRM site");
    EXPECT_TRUE(server().Requests().empty());
}

TEST_F(WrapperSimTest, LogoutEndsTheSessionOnTheVrm) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    const std::string token = server().Requests("/service/sites").back().Header("X-Auth-Token");
    server().ClearRequests();

    ASSERT_TRUE(wrapper.Logout()) << wrapper.GetLastError();
    EXPECT_TRUE(wrapper.Logout()) << "a second logout has no session to end";

    const std::vector<vrmsim::RecordedRequest> sent = server().Requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].method, "DELETE");
    EXPECT_EQ(sent[0].path, "/service/session");
    EXPECT_EQ(sent[0].Header("X-Auth-Token"), token);
    std::vector<fc::SVMInfoLib> vms;
    EXPECT_FALSE(wrapper.GetVMInfoList(vms, 0));
    EXPECT_EQ(wrapper.GetLastError(), "Not connected to a VRM site");
}

TEST_F(WrapperSimTest, ConnectFailsWhenTheVersionListCannotBeReadAndSaysWhy) {
    Fail("GET", "/service/versions", 1, "10000321", "versions unavailable");
    CFusionComputeWrapper wrapper;
    EXPECT_FALSE(wrapper.Connect(server().host(), server().user(), server().password()));
    EXPECT_TRUE(server().Requests("/service/session").empty());
    EXPECT_EQ(wrapper.GetLastError(), "versions unavailable");
    EXPECT_EQ(wrapper.GetLastErrorCode(), 10000321);
}

TEST_F(WrapperSimTest, ConnectWithoutAnAnswerGivesTheTransportReason) {
    vrmsim::Fault fault;
    fault.kind = vrmsim::FaultKind::Html;
    fault.method = "GET";
    fault.path = "/service/versions";
    server().AddFault(fault);
    CFusionComputeWrapper wrapper;
    EXPECT_FALSE(wrapper.Connect(server().host(), server().user(), server().password()));
    EXPECT_THAT(wrapper.GetLastError(), ::testing::StartsWith("HTTP status 502 on GET https://"));
    EXPECT_THAT(wrapper.GetLastError(), ::testing::HasSubstr("/service/versions"));
    EXPECT_EQ(wrapper.GetLastErrorCode(), 0);

    CFusionComputeWrapper nameless;
    EXPECT_FALSE(nameless.Connect("", server().user(), server().password()));
    EXPECT_EQ(nameless.GetLastError(), "No host name given");
}

TEST_F(WrapperSimTest, ConnectionOptionsOverrideTheConfigurationForTheirWrapperOnly) {
    // Without the CA file the simulator's certificate is not trusted: only the wrapper whose options name
    // the CA (and another port, reached through its own connect-to) gets in.
    server().SetConfigValue("Transport/sCAFile", "");
    CFusionComputeWrapper plain;
    EXPECT_FALSE(plain.Connect(server().host(), server().user(), server().password()));

    fc::SConnectionOptionsLib options;
    options.caFile = server().caFile();
    options.port = 8443;
    options.connectTo = "vrm.local:8443:127.0.0.1:" + std::to_string(server().port());
    options.requestTimeoutSeconds = 30;
    CFusionComputeWrapper own;
    ASSERT_TRUE(own.SetConnectionOptions(options));
    EXPECT_TRUE(own.Connect(server().host(), server().user(), server().password())) << own.GetLastError();

    fc::SConnectionOptionsLib wrongPort;
    wrongPort.port = 70000;
    EXPECT_FALSE(own.SetConnectionOptions(wrongPort));
    EXPECT_EQ(own.GetLastError(), "Invalid port 70000: expected 1 to 65535");
    server().SetConfigValue("Transport/sCAFile", server().caFile());
}

struct ConfigurationFault {
    const char* name;
    std::string key;  // "Section/key" set in the file, or "" to point FCSDK_CONFIG at a missing file
    std::string value;
    std::string restore;                // the key's value afterwards ("" removes it)
    std::vector<std::string> expected;  // parts of the last error
};

TEST_F(WrapperSimTest, AConfigurationThatCannotBeUsedFailsConnectBeforeAnyRequest) {
    const std::string missing = server().configPath() + ".missing";
    const std::string connectTo = "vrm.local:7443:127.0.0.1:" + std::to_string(server().port());
    const ConfigurationFault faults[] = {
        {"missing file", "", "", "", {missing, "cannot open file"}},
        {"not a number",
         "Transport/nConnectTimeout",
         "30s  ; seconds",
         "",
         {server().configPath(), "Transport/nConnectTimeout", "\"30s\""}},
        {"connect-to",
         "Transport/sConnectTo",
         "vrm.local:7443",
         connectTo,
         {"Malformed connect-to", "vrm.local:7443"}},
    };
    for (const ConfigurationFault& fault : faults) {
        SCOPED_TRACE(fault.name);
        if (fault.key.empty()) {
            setenv("FCSDK_CONFIG", missing.c_str(), 1);
        } else {
            server().SetConfigValue(fault.key, fault.value);
        }
        server().ClearRequests();
        CFusionComputeWrapper wrapper;
        EXPECT_FALSE(wrapper.Connect(server().host(), server().user(), server().password()));
        for (const std::string& part : fault.expected) {
            EXPECT_THAT(wrapper.GetLastError(), ::testing::HasSubstr(part));
        }
        EXPECT_TRUE(server().Requests().empty());
        if (fault.key.empty()) {
            setenv("FCSDK_CONFIG", server().configPath().c_str(), 1);
        } else {
            server().SetConfigValue(fault.key, fault.restore);
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// Detail cascade
// ---------------------------------------------------------------------------------------------------

TEST_F(WrapperSimTest, SiteFillCascadesToClustersHostsAndTheirVMs) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    server().ClearRequests();

    fc::SSiteInfoLib site = wrapper.GetSite();
    // The VM-group flag asks for VM summaries (detail 1), which carry the host of each VM.
    const fc::UINT64 flags = fc::VM_PROP_DATACENTER_CLUSTER_LIST | fc::VM_PROP_CLUSTER_HOST_LIST |
                             fc::VM_PROP_HOST_VM_LIST | fc::VM_PROP_VM_HOST_INFO;
    ASSERT_TRUE(wrapper.FillSiteInfoDetails(site, flags));

    ASSERT_EQ(site.clusters.size(), 2u);
    size_t hosts = 0;
    size_t vms = 0;
    std::set<std::string> hostUrns;
    for (const fc::SClusterInfoLib& cluster : site.clusters) {
        EXPECT_FALSE(cluster.hosts.empty()) << cluster.name;
        EXPECT_TRUE(cluster.vms.empty()) << "VMs of a cluster are not asked for";
        for (const fc::SHostInfoLib& host : cluster.hosts) {
            EXPECT_EQ(host.clusterUrn, cluster.urn) << host.name;
            hostUrns.insert(host.urn);
            ++hosts;
            for (const SVMInfoLib& vm : host.vms) {
                EXPECT_EQ(vm.hostUrn, host.urn) << vm.name;
                ++vms;
            }
            EXPECT_TRUE(host.datastores.empty());
            EXPECT_TRUE(host.networks.empty());
        }
    }
    EXPECT_EQ(hosts, 4u);
    EXPECT_GT(vms, 0u);

    // Every host list is scoped to its cluster and every VM list to its host.
    for (const auto& request : Sent("GET", Site() + "/hosts")) {
        ASSERT_EQ(request.QueryValues("scope").size(), 1u);
        EXPECT_TRUE(std::any_of(
            site.clusters.begin(), site.clusters.end(),
            [&](const fc::SClusterInfoLib& c) { return c.urn == request.QueryValues("scope")[0]; }));
    }
    const auto vmLists = Sent("GET", Site() + "/vms");
    EXPECT_EQ(vmLists.size(), 4u);
    for (const auto& request : vmLists) {
        ASSERT_EQ(request.QueryValues("scope").size(), 1u);
        EXPECT_EQ(hostUrns.count(request.QueryValues("scope")[0]), 1u);
    }
}

TEST_F(WrapperSimTest, SiteListFillUsesEachListedSiteForItsClusters) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    std::vector<fc::SSiteInfoLib> sites;
    ASSERT_TRUE(wrapper.GetSiteInfoList(sites, fc::VM_PROP_DATACENTER_CLUSTER_LIST));
    ASSERT_FALSE(sites.empty());
    EXPECT_EQ(sites[0].clusters.size(), 2u);
    EXPECT_EQ(Sent("GET", Site() + "/clusters").size(), 1u);
}

TEST_F(WrapperSimTest, CascadeSucceedsWhenASnapshotTreeCannotBeRead) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    Fail("GET", Site() + "/vms/", -1);  // every single-VM path: snapshot trees included

    fc::SSiteInfoLib site = wrapper.GetSite();
    const fc::UINT64 flags = fc::VM_PROP_DATACENTER_CLUSTER_LIST | fc::VM_PROP_CLUSTER_HOST_LIST |
                             fc::VM_PROP_HOST_VM_LIST | fc::VM_PROP_VM_SNAPSHOT_LIST;
    EXPECT_TRUE(wrapper.FillSiteInfoDetails(site, flags));
    ASSERT_EQ(site.clusters.size(), 2u);

    // The same failure fails a VM read directly, with the snapshot read's own message in place of an
    // earlier one.
    SVMInfoLib missing;
    EXPECT_FALSE(wrapper.GetVMInfo("no-such-vm", "", "", missing, 0));
    EXPECT_EQ(wrapper.GetLastError(), "No objects found");
    std::vector<SVMInfoLib> vms;
    EXPECT_FALSE(wrapper.GetVMInfoList(vms, fc::VM_PROP_VM_SNAPSHOT_LIST));
    EXPECT_EQ(wrapper.GetLastError(), "Simulated failure");
    EXPECT_EQ(wrapper.GetLastErrorCode(), 10000009);
}

// ---------------------------------------------------------------------------------------------------
// Snapshots
// ---------------------------------------------------------------------------------------------------

json::object SnapshotNode(const std::string& site, const std::string& id, json::array children = {}) {
    return json::object{{"name", "snap-" + id},
                        {"urn", "urn:sites:X:vms:i-test:snapshots:" + id},
                        {"uri", site + "/no-such-path/snapshots/" + id},
                        {"childSnapshots", std::move(children)}};
}

TEST_F(WrapperSimTest, SnapshotsAreListedDepthFirstANodeBeforeItsChildren) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    SVMInfoLib vm;
    ASSERT_TRUE(wrapper.GetVMInfo("vm-0005", "", "", vm, 0));

    // Two roots; the first has a child with a child of its own.
    const json::object tree{
        {"currentSnapshot", json::object{{"name", "snap-r2"}}},
        {"rootSnapshots",
         json::array{
             SnapshotNode(Site(), "r1",
                          json::array{SnapshotNode(Site(), "c1", json::array{SnapshotNode(Site(), "g1")})}),
             SnapshotNode(Site(), "r2")}}};
    Answer("GET", vm.uri + "/snapshots", json::serialize(tree));
    server().ClearRequests();

    SVMInfoLib filled;
    ASSERT_TRUE(wrapper.GetVMInfo("", "", vm.uuid, filled, fc::VM_PROP_VM_SNAPSHOT_LIST));
    EXPECT_THAT(Names(filled.snapshots), ElementsAre("snap-r1", "snap-c1", "snap-g1", "snap-r2"));
    // The detail reads fail here; each snapshot keeps the identity the tree gave it.
    for (const fc::SSnapshotInfoLib& snapshot : filled.snapshots) {
        EXPECT_EQ(snapshot.urn, "urn:sites:X:vms:i-test:snapshots:" + snapshot.name.substr(5));
        EXPECT_EQ(snapshot.uri, Site() + "/no-such-path/snapshots/" + snapshot.name.substr(5));
    }
    std::vector<std::string> detailPaths;
    for (const auto& request : server().Requests(Site() + "/no-such-path"))
        detailPaths.push_back(request.path);
    EXPECT_THAT(detailPaths,
                ElementsAre(Site() + "/no-such-path/snapshots/r1", Site() + "/no-such-path/snapshots/c1",
                            Site() + "/no-such-path/snapshots/g1", Site() + "/no-such-path/snapshots/r2"));
}

TEST_F(WrapperSimTest, SeededSnapshotsAreReadWithTheirDetails) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    SVMInfoLib vm;
    ASSERT_TRUE(wrapper.GetVMInfo("vm-0001", "", "", vm, fc::VM_PROP_VM_SNAPSHOT_LIST));
    // A (child C) and B: pre-order gives A, C, B.
    ASSERT_EQ(vm.snapshots.size(), 3u);
    std::vector<std::string> detailPaths;
    for (const auto& request : server().Requests(vm.uri + "/snapshots/")) detailPaths.push_back(request.path);
    std::vector<std::string> snapshotUris;
    for (const fc::SSnapshotInfoLib& snapshot : vm.snapshots) {
        snapshotUris.push_back(snapshot.uri);
        EXPECT_FALSE(snapshot.createTime.empty()) << snapshot.name;
        EXPECT_FALSE(snapshot.volsnapshots.empty()) << snapshot.name;
    }
    EXPECT_EQ(detailPaths, snapshotUris);

    SVMInfoLib withoutSnapshots;
    ASSERT_TRUE(wrapper.GetVMInfo("vm-0010", "", "", withoutSnapshots, fc::VM_PROP_VM_SNAPSHOT_LIST));
    EXPECT_TRUE(withoutSnapshots.snapshots.empty());
}

// ---------------------------------------------------------------------------------------------------
// Guest OS names
// ---------------------------------------------------------------------------------------------------

json::object ListedVM(const std::string& site, const std::string& id, const std::string& osType,
                      int osVersion, const std::string& guestOSName = "") {
    json::object osOptions{{"osType", osType}, {"osVersion", osVersion}};
    if (!guestOSName.empty()) osOptions["guestOSName"] = guestOSName;
    return json::object{{"name", "os-" + id},
                        {"urn", "urn:sites:X:vms:i-" + id},
                        {"uri", site + "/vms/i-" + id},
                        {"uuid", "uuid-" + id},
                        {"osOptions", std::move(osOptions)}};
}

const char kCatalogue[] = R"({"windows": [{"id": 1, "versionDes": "Windows Server 2019"},
                                          {"id": 1, "versionDes": "Windows shadowed"}],
                              "linux": [{"id": 1, "versionDes": "Ubuntu 22.04"}],
                              "other": [{"id": 1, "versionDes": "Other"}]})";

class WrapperGuestOSSimTest : public WrapperSimTest {
  protected:
    void SetUp() override {
        WrapperSimTest::SetUp();
        Peer::ResetGuestOSCatalogue();
    }
    void TearDown() override { Peer::ResetGuestOSCatalogue(); }

    void AnswerVMList() {
        const json::array vms{
            ListedVM(Site(), "1", "WINDOWS", 1), ListedVM(Site(), "2", "Linux", 1),
            ListedVM(Site(), "3", "unix", 1),    ListedVM(Site(), "4", "windows", 1, "Given name"),
            ListedVM(Site(), "5", "windows", 7), ListedVM(Site(), "6", "other", 1)};
        server().Answer("GET", Site() + "/vms",
                        json::serialize(json::object{{"total", vms.size()}, {"vms", vms}}), 1, "detail=0");
    }
};

TEST_F(WrapperGuestOSSimTest, NamesComeFromTheCatalogueByOSTypeInAnyCase) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    Answer("GET", Site() + "/vms/osversions", kCatalogue);
    AnswerVMList();
    server().ClearRequests();

    std::vector<SVMInfoLib> vms;
    ASSERT_TRUE(wrapper.GetVMInfoList(vms, 0));
    ASSERT_EQ(vms.size(), 6u);
    EXPECT_EQ(vms[0].guestOSName, "Windows Server 2019");
    EXPECT_EQ(vms[1].guestOSName, "Ubuntu 22.04");
    EXPECT_EQ(vms[2].guestOSName, "");
    EXPECT_EQ(vms[3].guestOSName, "Given name");
    EXPECT_EQ(vms[4].guestOSName, "");
    EXPECT_EQ(vms[5].guestOSName, "Other");

    // Flags 0: the list at detail 0 and the catalogue, nothing else.
    std::vector<std::string> targets;
    for (const auto& request : server().Requests()) targets.push_back(request.method + " " + request.target);
    EXPECT_THAT(targets, ElementsAre("GET " + Site() + "/vms?detail=0", "GET " + Site() + "/vms/osversions"));
}

TEST_F(WrapperGuestOSSimTest, TheCatalogueIsReadOncePerProcessAndRetriedAfterAFailure) {
    CFusionComputeWrapper first;
    Connect(first);
    Fail("GET", Site() + "/vms/osversions", 1);
    AnswerVMList();
    std::vector<SVMInfoLib> vms;
    ASSERT_TRUE(first.GetVMInfoList(vms, 0));
    EXPECT_EQ(vms[0].guestOSName, "");
    EXPECT_FALSE(Peer::GuestOSCatalogueCached());

    Answer("GET", Site() + "/vms/osversions", kCatalogue);
    AnswerVMList();
    ASSERT_TRUE(first.GetVMInfoList(vms, 0));
    EXPECT_EQ(vms[0].guestOSName, "Windows Server 2019");
    EXPECT_TRUE(Peer::GuestOSCatalogueCached());

    // Another wrapper of the process uses the catalogue already read.
    CFusionComputeWrapper second;
    Connect(second);
    server().ClearRequests();
    AnswerVMList();
    ASSERT_TRUE(second.GetVMInfoList(vms, 0));
    EXPECT_EQ(vms[1].guestOSName, "Ubuntu 22.04");
    EXPECT_TRUE(Sent("GET", Site() + "/vms/osversions").empty());
}

// ---------------------------------------------------------------------------------------------------
// Disks and NICs
// ---------------------------------------------------------------------------------------------------

TEST_F(WrapperSimTest, DiskFillTakesOnlyTheUsedSizeOfEachVolume) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    SVMInfoLib plain;
    ASSERT_TRUE(wrapper.GetVMInfo("vm-0003", "", "", plain, fc::VM_PROP_VM_GUEST_INFO));
    ASSERT_EQ(plain.disks.size(), 2u);
    const fc::SDiskInfoLib& disk = plain.disks[0];
    const std::string volumeUri = UriOf(disk.urn);

    Answer("GET", volumeUri,
           json::serialize(json::object{{"name", "renamed"},
                                        {"urn", disk.urn},
                                        {"uri", volumeUri},
                                        {"userUsedSize", 12345},
                                        {"pciType", "SCSI"},
                                        {"sequenceNum", 77}}));
    server().ClearRequests();
    SVMInfoLib filled;
    ASSERT_TRUE(wrapper.GetVMInfo("vm-0003", "", "", filled, fc::VM_PROP_VM_DISK_LIST));
    ASSERT_EQ(filled.disks.size(), 2u);
    EXPECT_EQ(filled.disks[0].userUsedSize, 12345u);
    EXPECT_EQ(filled.disks[0].name, disk.name);
    EXPECT_EQ(filled.disks[0].sequenceNum, disk.sequenceNum);
    EXPECT_EQ(filled.disks[0].pciType, disk.pciType);
    // One read per disk, and the VM asked for at detail 2.
    EXPECT_EQ(Sent("GET", volumeUri).size(), 1u);
    EXPECT_EQ(Sent("GET", UriOf(filled.disks[1].urn)).size(), 1u);
    const auto searches = Sent("GET", Site() + "/vms");
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_THAT(searches[0].QueryValues("detail"), ElementsAre("2"));
    EXPECT_TRUE(Sent("GET", filled.uri).empty()) << "the list entry had all it needed";

    // A list entry without disks and guest OS (a VRM's summary) is completed from the VM's own link.
    Answer("GET", Site() + "/vms",
           json::serialize(
               json::object{{"total", 1},
                            {"vms", json::array{json::object{
                                        {"name", filled.name}, {"urn", filled.urn}, {"uri", filled.uri}}}}}));
    server().ClearRequests();
    SVMInfoLib completed;
    ASSERT_TRUE(wrapper.GetVMInfo("vm-0003", "", "", completed,
                                  fc::VM_PROP_VM_DISK_LIST | fc::VM_PROP_VM_GUEST_INFO));
    EXPECT_EQ(completed.disks.size(), 2u);
    EXPECT_EQ(completed.osType, filled.osType);
    EXPECT_FALSE(completed.guestOSName.empty());
    EXPECT_EQ(Sent("GET", filled.uri).size(), 1u);
}

TEST_F(WrapperSimTest, ADiskThatCannotBeReadKeepsItsValues) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    SVMInfoLib plain;
    ASSERT_TRUE(wrapper.GetVMInfo("vm-0003", "", "", plain, fc::VM_PROP_VM_GUEST_INFO));
    ASSERT_FALSE(plain.disks.empty());
    Fail("GET", UriOf(plain.disks[0].urn), 1);
    SVMInfoLib filled;
    ASSERT_TRUE(wrapper.GetVMInfo("vm-0003", "", "", filled, fc::VM_PROP_VM_DISK_LIST));
    EXPECT_EQ(filled.disks[0].userUsedSize, plain.disks[0].userUsedSize);
}

TEST_F(WrapperSimTest, NICsGetTheirSwitchFromOneNetworkReadPerList) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    // Full detail lists the NICs with their port groups; the summary a VRM lists by default gives
    // addresses only, so each VM with NICs is read once by its own link.
    for (const bool summary : {false, true}) {
        server().ClearRequests();
        std::vector<SVMInfoLib> vms;
        ASSERT_TRUE(wrapper.GetVMInfoList(
            vms, fc::VM_PROP_VM_NW_LIST | (summary ? fc::VM_PROP_VM_HOST_INFO : fc::VM_PROP_VM_GUEST_INFO)));
        EXPECT_EQ(Sent("GET", Site() + "/dvswitchs").size(), 1u);

        size_t nics = 0;
        for (const SVMInfoLib& vm : vms) {
            EXPECT_EQ(Sent("GET", vm.uri).size(), summary && !vm.nics.empty() ? 1u : 0u) << vm.name;
            for (const fc::SVMNetworkCardInfoLib& nic : vm.nics) {
                ++nics;
                ASSERT_FALSE(nic.portGroupUrn.empty()) << vm.name;
                EXPECT_EQ(nic.portGroupUrn.rfind(nic.dvSwitchUrn + ":portgroups:", 0), 0u)
                    << nic.portGroupUrn << " " << nic.dvSwitchUrn;
                EXPECT_FALSE(nic.dvSwitchName.empty()) << vm.name;
                EXPECT_FALSE(nic.mac.empty()) << vm.name;
            }
        }
        EXPECT_GT(nics, 0u);
    }
}

TEST_F(WrapperSimTest, AFailedNetworkReadFailsTheVMFillWithItsMessage) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    Fail("GET", Site() + "/dvswitchs", 1, "10000777", "switches unavailable");
    SVMInfoLib vm;
    EXPECT_FALSE(wrapper.GetVMInfo("vm-0001", "", "", vm, fc::VM_PROP_VM_NW_LIST));
    EXPECT_EQ(wrapper.GetLastError(), "switches unavailable");
    EXPECT_EQ(wrapper.GetLastErrorCode(), 10000777);
}

// ---------------------------------------------------------------------------------------------------
// Datastores
// ---------------------------------------------------------------------------------------------------

TEST_F(WrapperSimTest, OnlyDswareAndNasDatastoresGetAStorageResource) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    server().ClearRequests();
    std::vector<fc::SDataStoreInfoLib> datastores;
    ASSERT_TRUE(wrapper.GetDataStoreInfoList(datastores, fc::VM_PROP_DS_EXTENT_LIST));
    ASSERT_EQ(datastores.size(), 4u);
    std::set<std::string> typesAsked;
    for (const auto& request : Sent("GET", Site() + "/storageresources")) {
        for (const std::string& type : request.QueryValues("storageType")) typesAsked.insert(type);
    }
    EXPECT_EQ(typesAsked, (std::set<std::string>{"DSWARE", "NAS"}));
    for (const fc::SDataStoreInfoLib& datastore : datastores) {
        SCOPED_TRACE(datastore.name + " " + datastore.storageType);
        if (datastore.storageType == "DSWARE" || datastore.storageType == "NAS") {
            ASSERT_FALSE(datastore.storageResource.name.empty());
            EXPECT_EQ(datastore.storageResource.storageType, datastore.storageType);
            EXPECT_TRUE(std::any_of(datastore.storageUnits.begin(), datastore.storageUnits.end(),
                                    [&](const fc::SStorageUnitInfoLib& unit) {
                                        return unit.sdName == datastore.storageResource.name;
                                    }));
        } else {
            EXPECT_TRUE(datastore.storageResource.name.empty());
        }
    }
}

TEST_F(WrapperSimTest, StorageResourceFollowsTheUnitOrderAndTheExactType) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    const json::array units{json::object{{"urn", "urn:su:1"}, {"sdName", "res-b"}},
                            json::object{{"urn", "urn:su:2"}, {"sdName", "res-a"}}};
    const json::array datastores{
        json::object{
            {"name", "ds-nas"}, {"urn", "urn:ds:1"}, {"storageType", "NAS"}, {"storageUnits", units}},
        json::object{
            {"name", "ds-lower"}, {"urn", "urn:ds:2"}, {"storageType", "nas"}, {"storageUnits", units}}};
    Answer("GET", Site() + "/datastores",
           json::serialize(json::object{{"total", 2}, {"datastores", datastores}}));
    const json::array resources{
        json::object{{"name", "res-a"}, {"urn", "urn:res:a"}, {"storageType", "NAS"}},
        json::object{{"name", "res-b"}, {"urn", "urn:res:b"}, {"storageType", "NAS"}}};
    Answer("GET", Site() + "/storageresources",
           json::serialize(json::object{{"total", 2}, {"storageResources", resources}}));
    server().ClearRequests();

    std::vector<fc::SDataStoreInfoLib> listed;
    ASSERT_TRUE(wrapper.GetDataStoreInfoList(listed, fc::VM_PROP_DS_EXTENT_LIST));
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].storageResource.urn, "urn:res:b");
    EXPECT_TRUE(listed[1].storageResource.urn.empty());
    EXPECT_EQ(Sent("GET", Site() + "/storageresources").size(), 1u);

    // Without the flag nothing is looked up.
    server().ClearRequests();
    fc::SDataStoreInfoLib single;
    ASSERT_TRUE(wrapper.GetDataStoreInfo("datastore03", "", single, 0));
    EXPECT_TRUE(Sent("GET", Site() + "/storageresources").empty());
}

TEST_F(WrapperSimTest, DatastoreVMListHoldsTheVMsOfThatDatastore) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    fc::SDataStoreInfoLib datastore;
    ASSERT_TRUE(wrapper.GetDataStoreInfo("datastore01", "", datastore, fc::VM_PROP_DS_VM_LIST));
    const auto lists = Sent("GET", Site() + "/vms");
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_THAT(lists[0].QueryValues("scope"), ElementsAre(datastore.urn));
    EXPECT_FALSE(datastore.vms.empty());
}

TEST_F(WrapperSimTest, HostFillListsDatastoresDevicesAndNetworksWithPortGroups) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    fc::SHostInfoLib host;
    ASSERT_TRUE(wrapper.GetHostInfo(
        "CNA01", "", host, fc::VM_PROP_HOST_DS_LIST | fc::VM_PROP_HOST_ADAP_INFO | fc::VM_PROP_HOST_NW_LIST));
    EXPECT_FALSE(host.datastores.empty());
    EXPECT_FALSE(host.storageDevices.empty());
    ASSERT_FALSE(host.networks.empty());
    for (const fc::SNetworkInfoLib& network : host.networks) {
        EXPECT_FALSE(network.portGroups.empty()) << network.name;
        for (const fc::SPortGroupInfoLib& group : network.portGroups) {
            EXPECT_EQ(group.urn.rfind(network.urn + ":portgroups:", 0), 0u);
        }
    }
    EXPECT_TRUE(host.vms.empty());
    const auto networkLists = Sent("GET", Site() + "/dvswitchs");
    ASSERT_EQ(networkLists.size(), 1u);
    EXPECT_THAT(networkLists[0].QueryValues("location"), ElementsAre(host.urn));
}

// ---------------------------------------------------------------------------------------------------
// Folders and templates
// ---------------------------------------------------------------------------------------------------

TEST_F(WrapperSimTest, FolderListingMarksTheTemplatesOfTheFolder) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    std::vector<SVMInfoLib> templates;
    ASSERT_TRUE(wrapper.GetVMTemplateList(templates, 0));
    ASSERT_FALSE(templates.empty());
    std::set<std::string> templateUuids;
    for (const SVMInfoLib& t : templates) templateUuids.insert(t.uuid);

    std::vector<fc::SFolderInfoLib> folders;
    ASSERT_TRUE(wrapper.GetVMFolderInfoList("", folders));
    ASSERT_FALSE(folders.empty());
    server().ClearRequests();
    size_t markedTemplates = 0;
    size_t listed = 0;
    for (const fc::SFolderInfoLib& folder : folders) {
        std::vector<SVMInfoLib> vms;
        ASSERT_TRUE(wrapper.GetVMInfoListForFolder(folder.urn, vms, 0)) << wrapper.GetLastError();
        for (const SVMInfoLib& vm : vms) {
            ++listed;
            EXPECT_EQ(vm.isTemplate, templateUuids.count(vm.uuid) == 1) << vm.name;
            if (vm.isTemplate) ++markedTemplates;
        }
    }
    EXPECT_GT(listed, 0u);
    EXPECT_GT(markedTemplates, 0u);
    // The template list is read once for the wrapper.
    size_t templateReads = 0;
    for (const auto& request : Sent("GET", Site() + "/vms"))
        templateReads += request.QueryValues("isTemplate").size();
    EXPECT_EQ(templateReads, 1u);
}

TEST_F(WrapperSimTest, RootFolderFallsBackToTheWholeSiteFilledOnce) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    std::vector<SVMInfoLib> all;
    ASSERT_TRUE(wrapper.GetVMInfoList(all, 0));
    // The site's root folder is not a scope the VRM knows.
    server().FailNext("GET", Site() + "/vms", 500, "10000009", "Simulated failure", 1,
                      "scope=" + server().siteUrn() + ":folders:0");
    server().ClearRequests();

    std::vector<SVMInfoLib> vms;
    ASSERT_TRUE(wrapper.GetVMInfoListForFolder("", vms, fc::VM_PROP_VM_DISK_LIST));
    EXPECT_EQ(vms.size(), all.size());
    const auto lists = Sent("GET", Site() + "/vms");
    ASSERT_GE(lists.size(), 2u);
    EXPECT_THAT(lists[0].QueryValues("scope"), ElementsAre(server().siteUrn() + ":folders:0"));
    EXPECT_TRUE(lists[1].QueryValues("scope").empty());
    // Each disk of each VM was read exactly once.
    std::map<std::string, int> diskReads;
    for (const auto& request : server().Requests(Site() + "/volumes/")) ++diskReads[request.path];
    size_t disks = 0;
    for (const SVMInfoLib& vm : vms) {
        for (const fc::SDiskInfoLib& disk : vm.disks) {
            ++disks;
            EXPECT_EQ(diskReads[UriOf(disk.urn)], 1) << disk.urn;
        }
    }
    EXPECT_GT(disks, 0u);
}

TEST_F(WrapperSimTest, FailedFolderListingCopiesTheErrorAndFailedTemplateReadTurnsMarkingOff) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    std::vector<fc::SFolderInfoLib> folders;
    ASSERT_TRUE(wrapper.GetVMFolderInfoList("", folders));
    ASSERT_FALSE(folders.empty());

    server().FailNext("GET", Site() + "/vms", 500, "10000555", "folder listing failed", 1,
                      "scope=" + folders[0].urn);
    std::vector<SVMInfoLib> vms;
    EXPECT_FALSE(wrapper.GetVMInfoListForFolder(folders[0].urn, vms, 0));
    EXPECT_EQ(wrapper.GetLastError(), "folder listing failed");

    // The template read fails once; the wrapper does not try again and marks nothing.
    server().FailNext("GET", Site() + "/vms", 500, "10000556", "templates unavailable", 1, "isTemplate=true");
    size_t templatesSeen = 0;
    for (int round = 0; round < 2; ++round) {
        for (const fc::SFolderInfoLib& folder : folders) {
            ASSERT_TRUE(wrapper.GetVMInfoListForFolder(folder.urn, vms, 0));
            for (const SVMInfoLib& vm : vms) {
                EXPECT_FALSE(vm.isTemplate) << vm.name;
                if (vm.name.rfind("tpl-", 0) == 0) ++templatesSeen;
            }
        }
    }
    EXPECT_GT(templatesSeen, 0u);
    size_t templateReads = 0;
    for (const auto& request : Sent("GET", Site() + "/vms"))
        templateReads += request.QueryValues("isTemplate").size();
    EXPECT_EQ(templateReads, 1u);
}

TEST_F(WrapperSimTest, FolderListsAskForTheirTypeAndParent) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    server().ClearRequests();
    std::vector<fc::SFolderInfoLib> folders;
    ASSERT_TRUE(wrapper.GetClusterFolderInfoList(folders));
    EXPECT_FALSE(folders.empty());
    ASSERT_TRUE(wrapper.GetVMFolderInfoList("urn:sites:1:folders:7", folders));
    ASSERT_TRUE(wrapper.GetVMFolderInfoList("", folders));
    std::vector<std::string> queries;
    for (const auto& request : Sent("GET", Site() + "/folder")) queries.push_back(request.query);
    EXPECT_THAT(queries, ElementsAre("type=0", "type=1&parentObjUrn=urn:sites:1:folders:7", "type=1"));

    Fail("GET", Site() + "/folder", 1);
    EXPECT_TRUE(wrapper.GetFolderInfoList());
}

TEST_F(WrapperSimTest, HostsOfAClusterUseItsUrnOrTheDefaultScope) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    std::vector<fc::SClusterInfoLib> clusters;
    ASSERT_TRUE(wrapper.GetClusterInfoList(clusters, 0));
    ASSERT_FALSE(clusters.empty());
    server().ClearRequests();

    std::vector<fc::SHostInfoLib> hosts;
    ASSERT_TRUE(wrapper.GetHostInfoListForCluster(clusters[0].urn, hosts, 0));
    ASSERT_FALSE(hosts.empty());
    for (const fc::SHostInfoLib& host : hosts) EXPECT_EQ(host.clusterUrn, clusters[0].urn);
    ASSERT_TRUE(wrapper.GetHostInfoListForCluster("", hosts, 0));
    const auto lists = Sent("GET", Site() + "/hosts");
    ASSERT_EQ(lists.size(), 2u);
    EXPECT_EQ(lists[0].query, "scope=" + clusters[0].urn);
    EXPECT_EQ(lists[1].query, "scope=default");
}

// ---------------------------------------------------------------------------------------------------
// Last error
// ---------------------------------------------------------------------------------------------------

struct FailingQuery {
    const char* what;
    std::string path;  // below the site
    std::function<bool(CFusionComputeWrapper&)> call;
};

TEST_F(WrapperSimTest, AFailedQueryCopiesItsErrorIntoTheWrapper) {
    const std::vector<FailingQuery> cases = {
        {"clusters", "/clusters",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SClusterInfoLib> l;
             return w.GetClusterInfoList(l, 0);
         }},
        {"cluster", "/clusters",
         [](CFusionComputeWrapper& w) {
             fc::SClusterInfoLib c;
             return w.GetClusterInfo("Cluster01", "", c, 0);
         }},
        {"clusters of a folder", "/clusters",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SClusterInfoLib> l;
             return w.GetClusterInfoListForFolder("", l, 0);
         }},
        {"hosts", "/hosts",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SHostInfoLib> l;
             return w.GetHostInfoList(l, 0);
         }},
        {"host", "/hosts",
         [](CFusionComputeWrapper& w) {
             fc::SHostInfoLib h;
             return w.GetHostInfo("CNA01", "", h, 0);
         }},
        {"hosts of a cluster", "/hosts",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SHostInfoLib> l;
             return w.GetHostInfoListForCluster("", l, 0);
         }},
        {"vm", "/vms",
         [](CFusionComputeWrapper& w) {
             SVMInfoLib v;
             return w.GetVMInfo("vm-0001", "", "", v, 0);
         }},
        {"vms", "/vms",
         [](CFusionComputeWrapper& w) {
             std::vector<SVMInfoLib> l;
             return w.GetVMInfoList(l, 0);
         }},
        {"templates", "/vms",
         [](CFusionComputeWrapper& w) {
             std::vector<SVMInfoLib> l;
             return w.GetVMTemplateList(l, 0);
         }},
        {"datastore", "/datastores",
         [](CFusionComputeWrapper& w) {
             fc::SDataStoreInfoLib d;
             return w.GetDataStoreInfo("datastore01", "", d, 0);
         }},
        {"datastores", "/datastores",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SDataStoreInfoLib> l;
             return w.GetDataStoreInfoList(l, 0);
         }},
        {"cluster folders", "/folder",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SFolderInfoLib> l;
             return w.GetClusterFolderInfoList(l);
         }},
        {"vm folders", "/folder",
         [](CFusionComputeWrapper& w) {
             std::vector<fc::SFolderInfoLib> l;
             return w.GetVMFolderInfoList("", l);
         }},
    };
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    int code = 10001000;
    for (const FailingQuery& c : cases) {
        ++code;
        const std::string message = std::string("failure of ") + c.what;
        Fail("GET", Site() + c.path, 1, std::to_string(code), message);
        EXPECT_FALSE(c.call(wrapper)) << c.what;
        EXPECT_EQ(wrapper.GetLastError(), message) << c.what;
        EXPECT_EQ(wrapper.GetLastErrorCode(), code) << c.what;
    }
    // The site list copies as well.
    Fail("GET", "/service/sites", 1, "10002000", "failure of sites");
    std::vector<fc::SSiteInfoLib> sites;
    EXPECT_FALSE(wrapper.GetSiteInfoList(sites, 0));
    EXPECT_EQ(wrapper.GetLastError(), "failure of sites");
}

TEST_F(WrapperSimTest, ASiteSearchLeavesTheWrappersLastErrorAlone) {
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    fc::SClusterInfoLib cluster;
    EXPECT_FALSE(wrapper.GetClusterInfo("no-such-cluster", "", cluster, 0));
    EXPECT_EQ(wrapper.GetLastError(), "No objects found");

    Fail("GET", "/service/sites", 1, "10003000", "site search failed");
    fc::SSiteInfoLib site;
    EXPECT_FALSE(wrapper.GetSiteInfo("", server().siteUrn(), site, 0));
    EXPECT_EQ(wrapper.GetLastError(), "No objects found");
    EXPECT_EQ(wrapper.GetLastErrorCode(), 10003000);

    ASSERT_TRUE(wrapper.GetSiteInfo("", server().siteUrn(), site, fc::VM_PROP_DATACENTER_CLUSTER_LIST));
    EXPECT_EQ(site.uri, server().siteUri());
    EXPECT_EQ(site.clusters.size(), 2u);
}

TEST_F(WrapperSimTest, VMSearchWithFlagsZeroAsksForDetailZeroAndNothingElse) {
    Peer::SetGuestOSCatalogue(fc::SOSVersionsInfoLib());
    CFusionComputeWrapper wrapper;
    Connect(wrapper);
    server().ClearRequests();
    SVMInfoLib vm;
    ASSERT_TRUE(wrapper.GetVMInfo("vm-0002", "", "", vm, 0));
    EXPECT_EQ(vm.name, "vm-0002");
    std::vector<std::string> targets;
    for (const auto& request : server().Requests()) targets.push_back(request.target);
    EXPECT_THAT(targets, ElementsAre(Site() + "/vms?name=vm-0002&detail=0"));
    Peer::ResetGuestOSCatalogue();
}

}  // namespace
