// The query engine and the inventory queries against the in-process simulator: exact request targets,
// paging, search outcomes with their errors and log lines, encoding of search values, failures.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "FusionComputeErrorState.h"
#include "FusionComputeRecords.h"
#include "LogCapture.h"
#include "SimServer.h"
#include "connection/FusionComputeConnection.h"
#include "parser/FusionComputeParser.h"
#include "queries/FusionComputeQueries.h"

namespace FusionComputeSDKWrapper {
namespace {

using fcsdk_test::LogCapture;

constexpr int kListedVms = 250;  // VMs and templates together: what GET .../vms lists

// The encoding a VRM expects for a name in a query string, written independently of the library:
// RFC 3986 unreserved characters stay, every other byte becomes %XX with upper-case digits.
std::string ExpectedEncoding(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

// True when one captured line holds every part (function text and message are checked together).
::testing::AssertionResult HasLine(const LogCapture& log, std::initializer_list<std::string> parts) {
    for (const std::string& line : log.Lines()) {
        bool all = true;
        for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
        if (all) return ::testing::AssertionSuccess();
    }
    std::string wanted;
    for (const std::string& part : parts) wanted += "[" + part + "] ";
    return ::testing::AssertionFailure() << "no line with " << wanted << "in\n" << log.Text();
}

const char kSearchFunction[] = "bool FusionComputeSDKWrapper::CFusionComputeQueries::GetOneObjectFromLink(";
const char kVmInstance[] = "T = FusionComputeSDKWrapper::SVMInfoLib";

class QueriesTest : public fcsdk_test::SimTest {
  protected:
    static void SetUpTestSuite() {
        vrmsim::Options options;
        options.inventory.vms = kListedVms - 2;
        options.inventory.templates = 2;
        options.inventory.storageResources = 120;  // more than one page of storage resources
        StartServer(options);
    }

    void SetUp() override {
        SimTest::SetUp();
        std::string versions;
        ASSERT_TRUE(connection.connect(server().host(), server().user(), server().password(), versions));
        ASSERT_TRUE(connection.login(server().user(), server().password(), "v6.3", ""));
        server().ClearRequests();
        site.urn = server().siteUrn();
        site.uri = server().siteUri();
    }

    /// Targets (path and query as sent) of the recorded requests, oldest first.
    std::vector<std::string> Targets() {
        std::vector<std::string> targets;
        for (const auto& request : server().Requests())
            targets.push_back(request.method + " " + request.target);
        return targets;
    }

    /// Renames the VMs (templates skipped) in the order of the VRM's list, first to last.
    static void RenameVms(const std::vector<std::string>& names) {
        size_t next = 0;
        for (const vrmsim::VmState& vm : server().sim().Vms()) {
            if (next == names.size()) break;
            if (!vm.isTemplate) server().sim().RenameVm(vm.urn, names[next++]);
        }
    }

    /// A copy of the n-th VM of the simulator (templates skipped).
    static vrmsim::VmState ModelVm(size_t index) {
        size_t next = 0;
        for (const vrmsim::VmState& vm : server().sim().Vms()) {
            if (!vm.isTemplate && next++ == index) return vm;
        }
        return vrmsim::VmState();
    }

    /// The next `count` GETs of `path` (with `queryPart` in their query) are answered with `body`.
    static void AnswerWith(const std::string& path, const std::string& queryPart, const std::string& body,
                           int count = 1) {
        server().Answer("GET", path, body, count, queryPart);
    }

    CFusionComputeConnection connection;
    CFusionComputeParser parser;
    CFusionComputeErrorState state;
    CFusionComputeQueries queries{&connection, &parser, &state};
    SSiteInfoLib site;
};

// ---- Paging ----------------------------------------------------------------------------------------

TEST_F(QueriesTest, ListOfTwoHundredFiftyTakesThreePagesWithOffsets) {
    std::vector<SVMInfoLib> vms;
    ASSERT_TRUE(queries.GetVMInfoList(site, vms, MIN_VM_PROPS));

    const std::string path = site.uri + "/vms";
    EXPECT_EQ(Targets(),
              (std::vector<std::string>{"GET " + path + "?detail=0", "GET " + path + "?detail=0&offset=100",
                                        "GET " + path + "?detail=0&offset=200"}));
    ASSERT_EQ(vms.size(), static_cast<size_t>(kListedVms));
    std::set<std::string> urns;
    for (const SVMInfoLib& vm : vms) urns.insert(vm.urn);
    EXPECT_EQ(urns.size(), vms.size()) << "a page was read twice";
    EXPECT_EQ(vms.front().urn, ModelVm(0).urn);
}

TEST_F(QueriesTest, OffsetFollowsAnEmptyQueryOfTheSiteRelativeForm) {
    std::vector<SVMInfoLib> vms;
    ASSERT_TRUE(queries.GetVMInfoList(site, vms, VM_PROP_VM_SNAPSHOT_LIST));  // level 1: no detail argument
    const auto requests = server().Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, site.uri + "/vms?");
    EXPECT_TRUE(requests[0].hasQuery);
    EXPECT_EQ(requests[0].query, "");
    EXPECT_EQ(requests[1].QueryValues("offset"), std::vector<std::string>{"100"});
    EXPECT_EQ(requests[2].QueryValues("offset"), std::vector<std::string>{"200"});
    EXPECT_EQ(vms.size(), static_cast<size_t>(kListedVms));
}

TEST_F(QueriesTest, TotalOfZeroEndsAfterOnePageWhateverItHolds) {
    AnswerWith(site.uri + "/clusters", "",
               R"({"total": 0, "clusters": [{"name": "a", "urn": "urn:sites:1:clusters:1"},)"
               R"( {"name": "b", "urn": "urn:sites:1:clusters:2"}, "not an object", 7]})");
    std::vector<SClusterInfoLib> clusters;
    ASSERT_TRUE(queries.GetClusterInfoList(site, clusters, 0));
    EXPECT_EQ(server().Requests().size(), 1u);
    ASSERT_EQ(clusters.size(), 2u);
    EXPECT_EQ(clusters[1].name, "b");
}

TEST_F(QueriesTest, PageWithoutTotalEndsTheList) {
    AnswerWith(site.uri + "/hosts", "", R"({"hosts": [{"name": "h1"}]})");
    std::vector<SHostInfoLib> hosts;
    ASSERT_TRUE(queries.GetHostInfoList(site, hosts, 0));
    EXPECT_EQ(server().Requests().size(), 1u);
    EXPECT_EQ(hosts.size(), 1u);
}

TEST_F(QueriesTest, PageThatAddsNothingEndsTheReadAsAFailure) {
    LogCapture log(0);
    AnswerWith(site.uri + "/vms", "offset=100", R"({"total": 250, "vms": []})");
    std::vector<SVMInfoLib> vms;
    EXPECT_FALSE(queries.GetVMInfoList(site, vms, MIN_VM_PROPS));
    EXPECT_EQ(server().Requests().size(), 2u) << "the empty page must not be asked for again";
    const std::string message = "List [" + site.uri + "/vms?detail=0] ended after 100 of 250 objects";
    EXPECT_EQ(queries.GetLastError(), message);
    EXPECT_TRUE(HasLine(log, {"CFusionComputeQueries::GetListFromLink(", " - " + message}));
}

TEST_F(QueriesTest, FirstPageWithoutEntriesBelowItsTotalFails) {
    AnswerWith(site.uri + "/datastores", "", R"({"total": 5, "datastores": ["x", 1]})");
    std::vector<SDataStoreInfoLib> datastores;
    EXPECT_FALSE(queries.GetDataStoreInfoList(site, datastores, 0));
    EXPECT_EQ(server().Requests().size(), 1u);
    EXPECT_EQ(queries.GetLastError(), "List [" + site.uri + "/datastores] ended after 0 of 5 objects");
}

TEST_F(QueriesTest, NegativeOrAbsurdTotalEndsTheReadAtOnce) {
    // Read into 32 bits, 5000000000 would become a count the VRM seems to deliver page after page.
    for (const char* total : {"-1", "5000000000"}) {
        SCOPED_TRACE(total);
        server().Reset();
        AnswerWith(site.uri + "/hosts", "",
                   std::string(R"({"total": )") + total +
                       R"(, "hosts": [{"name": "h1", "urn": "urn:sites:1:hosts:1"}]})");
        std::vector<SHostInfoLib> hosts;
        EXPECT_FALSE(queries.GetHostInfoList(site, hosts, 0));
        EXPECT_EQ(server().Requests().size(), 1u);
        EXPECT_EQ(queries.GetLastError(),
                  "List [" + site.uri + "/hosts] ended after 0 of " + std::string(total) + " objects");
    }
}

TEST_F(QueriesTest, StorageResourcePagesReplaceTheirOwnOffset) {
    std::vector<SStorageResourceInfoLib> resources;
    ASSERT_TRUE(queries.GetStorageResourceInfoList(site, "", resources, 0));
    const auto requests = server().Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, site.uri + "/storageresources?limit=100&offset=0");
    EXPECT_EQ(requests[1].target, site.uri + "/storageresources?limit=100&offset=100");
    EXPECT_GT(resources.size(), 100u);
    std::set<std::string> urns;
    for (const auto& resource : resources) urns.insert(resource.urn);
    EXPECT_EQ(urns.size(), resources.size());
}

// ---- Searches ----------------------------------------------------------------------------------------

TEST_F(QueriesTest, NameSearchAcceptsItsOneResultIgnoringCase) {
    RenameVms({"web01"});
    SVMInfoLib vm;
    ASSERT_TRUE(queries.GetVMInfo(site, "WEB01", "", "", vm, MIN_VM_PROPS));
    EXPECT_EQ(vm.name, "web01");
    EXPECT_EQ(vm.urn, ModelVm(0).urn);
    EXPECT_EQ(Targets(), std::vector<std::string>{"GET " + site.uri + "/vms?name=WEB01&detail=0"});
}

TEST_F(QueriesTest, NameSearchRefusesAResultWithAnotherName) {
    LogCapture log(0);
    RenameVms({"alpha-web01"});
    SVMInfoLib vm;
    vm.name = "untouched";
    EXPECT_FALSE(queries.GetVMInfo(site, "alpha-web0", "", "", vm, MIN_VM_PROPS));
    EXPECT_EQ(vm.name, "untouched");
    EXPECT_EQ(queries.GetLastError(), "incorrect object found");
    EXPECT_TRUE(HasLine(
        log, {kSearchFunction, kVmInstance, " - incorrect object [alpha-web01] found for [alpha-web0]"}));
}

TEST_F(QueriesTest, SeveralResultsPickTheFirstCaseInsensitiveMatch) {
    LogCapture log(1);
    RenameVms({"qdb10", "QDB1", "qdb1"});
    SVMInfoLib vm;
    ASSERT_TRUE(queries.GetVMInfo(site, "qdb1", "", "", vm, MIN_VM_PROPS));
    EXPECT_EQ(vm.name, "QDB1");
    EXPECT_EQ(vm.urn, ModelVm(1).urn);
    EXPECT_TRUE(HasLine(
        log, {"ERROR", kSearchFunction, kVmInstance, " - Found 3 objects for [/vms][name=qdb1&detail=0]"}));
    EXPECT_TRUE(HasLine(log, {"DEBUG", kSearchFunction, kVmInstance, " - Matched object by name [qdb1]"}));
    EXPECT_FALSE(log.Contains("Object Names"));
}

TEST_F(QueriesTest, SeveralResultsWithoutTheNameFailAndListTheNames) {
    LogCapture log(0);
    RenameVms({"xyz-a1", "xyz-a2"});
    SVMInfoLib vm;
    EXPECT_FALSE(queries.GetVMInfo(site, "xyz-a", "", "", vm, MIN_VM_PROPS));
    EXPECT_EQ(queries.GetLastError(), "Found multiple objects when one object was expected");
    EXPECT_TRUE(HasLine(log, {kSearchFunction, " - Found 2 objects for [/vms][name=xyz-a&detail=0]"}));
    EXPECT_TRUE(HasLine(log, {kSearchFunction, " - Object Names: xyz-a1, xyz-a2"}));
}

TEST_F(QueriesTest, SearchWithoutNameRefusesSeveralResults) {
    LogCapture log(0);
    const vrmsim::VmState first = ModelVm(0);
    AnswerWith(site.uri + "/vms", "uuid=",
               R"({"total": 2, "vms": [{"name": "a", "urn": "urn:sites:1:vms:i-1"},)"
               R"( {"name": "b", "urn": "urn:sites:1:vms:i-2"}]})");
    SVMInfoLib vm;
    EXPECT_FALSE(queries.GetVMInfo(site, "a", "", first.uuid, vm, MIN_VM_PROPS));
    EXPECT_EQ(queries.GetLastError(), "Found multiple objects when one object was expected");
    const std::string query = "uuid=" + first.uuid + "&detail=0";
    EXPECT_TRUE(HasLine(log, {kSearchFunction, " - Found 2 objects for [/vms][" + query + "]"}));
    const auto errors = log.Lines(EvDebugLevel::Error);
    ASSERT_FALSE(errors.empty());
    const std::string& last = errors.back();
    EXPECT_EQ(last.substr(last.size() - std::string(" - Object Names: ").size()), " - Object Names: ");
}

TEST_F(QueriesTest, SearchThatFindsNothingFails) {
    LogCapture log(0);
    SVMInfoLib vm;
    EXPECT_FALSE(queries.GetVMInfo(site, "no-such-vm", "", "", vm, MIN_VM_PROPS));
    EXPECT_EQ(queries.GetLastError(), "No objects found");
    EXPECT_TRUE(HasLine(
        log, {kSearchFunction, kVmInstance, " - No objects found for [/vms][name=no-such-vm&detail=0]"}));
}

TEST_F(QueriesTest, EmptyAnswerIsAnEmptyListButAFailedSearch) {
    AnswerWith(site.uri + "/clusters", "", R"({"total": 0, "clusters": []})", 2);
    std::vector<SClusterInfoLib> clusters{SClusterInfoLib()};
    EXPECT_TRUE(queries.GetClusterInfoList(site, clusters, 0));
    EXPECT_TRUE(clusters.empty());
    SClusterInfoLib cluster;
    EXPECT_FALSE(queries.GetClusterInfo(site, "c", "", cluster, 0));
    EXPECT_EQ(queries.GetLastError(), "No objects found");
}

TEST_F(QueriesTest, IdentifierSearchesAcceptTheirResultWhateverItsName) {
    const vrmsim::VmState first = ModelVm(0);
    SVMInfoLib vm;
    ASSERT_TRUE(queries.GetVMInfo(site, "some other name", first.urn, "", vm, MIN_VM_PROPS));
    EXPECT_EQ(vm.urn, first.urn);
    ASSERT_TRUE(queries.GetVMInfo(site, "some other name", first.urn, first.uuid, vm, VM_PROP_VM_DISK_LIST));
    EXPECT_EQ(vm.uuid, first.uuid);
    EXPECT_EQ(Targets(),
              (std::vector<std::string>{"GET " + site.uri + "/vms?vmurns=" + first.urn + "&detail=0",
                                        "GET " + site.uri + "/vms?uuid=" + first.uuid + "&detail=2"}));
}

TEST_F(QueriesTest, ClusterSearchPrefersTheUrnOverTheName) {
    SClusterInfoLib wanted;
    const vrmsim::ObjectState firstCluster = server().sim().Objects("clusters").at(0);
    wanted.urn = firstCluster.urn;
    wanted.name = firstCluster.name;
    SClusterInfoLib cluster;
    ASSERT_TRUE(queries.GetClusterInfo(site, "not-its-name", wanted.urn, cluster, 0));
    EXPECT_EQ(cluster.name, wanted.name);
    EXPECT_EQ(Targets(), std::vector<std::string>{"GET " + site.uri + "/clusters?clusterUrns=" + wanted.urn});
}

struct MissingArgumentsCase {
    const char* label;
    std::function<bool(CFusionComputeQueries&, const SSiteInfoLib&)> call;
    const char* function;
    const char* message;
};

class MissingSearchArgumentsTest : public QueriesTest,
                                   public ::testing::WithParamInterface<MissingArgumentsCase> {};

TEST_P(MissingSearchArgumentsTest, FailWithoutRequestAndSayWhy) {
    LogCapture log(0);
    state.message = "earlier failure";
    state.code = 10300025;
    EXPECT_FALSE(GetParam().call(queries, site));
    EXPECT_TRUE(server().Requests().empty());
    EXPECT_EQ(queries.GetLastError(), GetParam().message);
    EXPECT_EQ(queries.GetErrorCode(), 10300025);
    EXPECT_TRUE(HasLine(log, {GetParam().function, std::string(" - ") + GetParam().message}));
}

INSTANTIATE_TEST_SUITE_P(
    Searches, MissingSearchArgumentsTest,
    ::testing::Values(
        MissingArgumentsCase{"Site",
                             [](CFusionComputeQueries& q, const SSiteInfoLib&) {
                                 SSiteInfoLib out;
                                 return q.GetSiteInfo("", "", out, 0);
                             },
                             "bool FusionComputeSDKWrapper::CFusionComputeQueries::GetSiteInfo(",
                             "Could not find site [/]"},
        MissingArgumentsCase{"Cluster",
                             [](CFusionComputeQueries& q, const SSiteInfoLib& s) {
                                 SClusterInfoLib out;
                                 return q.GetClusterInfo(s, "", "", out, 0);
                             },
                             "bool FusionComputeSDKWrapper::CFusionComputeQueries::GetClusterInfo(",
                             "Could not find cluster [/]"},
        // Hosts and datastores are searched by name only: a URN alone shows only in the message.
        MissingArgumentsCase{"HostWithUrnOnly",
                             [](CFusionComputeQueries& q, const SSiteInfoLib& s) {
                                 SHostInfoLib out;
                                 return q.GetHostInfo(s, "", "urn:sites:1:hosts:9", out, 0);
                             },
                             "bool FusionComputeSDKWrapper::CFusionComputeQueries::GetHostInfo(",
                             "Could not find host [/urn:sites:1:hosts:9]"},
        MissingArgumentsCase{"DataStoreWithUrnOnly",
                             [](CFusionComputeQueries& q, const SSiteInfoLib& s) {
                                 SDataStoreInfoLib out;
                                 return q.GetDataStoreInfo(s, "", "urn:sites:1:datastores:3", out, 0);
                             },
                             "bool FusionComputeSDKWrapper::CFusionComputeQueries::GetDataStoreInfo(",
                             "Could not find DataStore [/urn:sites:1:datastores:3]"},
        MissingArgumentsCase{"Vm",
                             [](CFusionComputeQueries& q, const SSiteInfoLib& s) {
                                 SVMInfoLib out;
                                 return q.GetVMInfo(s, "", "", "", out, VM_PROP_ALL);
                             },
                             "bool FusionComputeSDKWrapper::CFusionComputeQueries::GetVMInfo(",
                             "Could not find vm [//]"}),
    [](const ::testing::TestParamInfo<MissingArgumentsCase>& info) { return std::string(info.param.label); });

// ---- Encoding of search values ---------------------------------------------------------------------

TEST_F(QueriesTest, NamesAreEncodedAndFoundAgain) {
    const std::vector<std::string> names = {"web 01",    "a&b=c",          "100% load",
                                            "c++ build", "Überwachung-ÄÖ", "日本語 vm"};
    RenameVms(names);
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        server().ClearRequests();
        SVMInfoLib vm;
        ASSERT_TRUE(queries.GetVMInfo(site, names[i], "", "", vm, VM_PROP_VM_SNAPSHOT_LIST));
        EXPECT_EQ(vm.name, names[i]);
        EXPECT_EQ(vm.urn, ModelVm(i).urn);
        const auto requests = server().Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].query, "name=" + ExpectedEncoding(names[i]));
        EXPECT_EQ(requests[0].QueryValues("name"), std::vector<std::string>{names[i]});
    }
}

TEST_F(QueriesTest, UrnsUuidsAndMacsGoInUnencoded) {
    const vrmsim::VmState first = ModelVm(0);
    ASSERT_FALSE(first.nicMacs.empty());
    SVMInfoLib vm;
    ASSERT_TRUE(queries.GetVMInfo(site, "", first.urn, "", vm, VM_PROP_VM_SNAPSHOT_LIST));
    ASSERT_TRUE(queries.GetVMInfo(site, "", "", first.uuid, vm, VM_PROP_VM_SNAPSHOT_LIST));
    std::vector<SVMInfoLib> vms;
    ASSERT_TRUE(queries.GetVMInfoListForMACAddress(site, first.nicMacs[0], vms, VM_PROP_VM_SNAPSHOT_LIST));
    ASSERT_EQ(vms.size(), 1u);
    EXPECT_EQ(vms[0].urn, first.urn);
    const auto requests = server().Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].query, "vmurns=" + first.urn);
    EXPECT_EQ(requests[1].query, "uuid=" + first.uuid);
    EXPECT_EQ(requests[2].query, "mac=" + first.nicMacs[0]);
    EXPECT_NE(first.urn.find(':'), std::string::npos);
    EXPECT_NE(first.nicMacs[0].find(':'), std::string::npos);
}

// ---- Detail levels -----------------------------------------------------------------------------------

struct DetailCase {
    const char* label;
    UINT64 flags;
    const char* query;  // of GET <site>/vms
};

class DetailLevelTest : public QueriesTest, public ::testing::WithParamInterface<DetailCase> {};

TEST_P(DetailLevelTest, FlagsChooseTheVmDetailLevel) {
    std::vector<SVMInfoLib> vms;
    ASSERT_TRUE(queries.GetVMInfoListOfTemplates(site, vms, GetParam().flags));
    const auto requests = server().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, site.uri + "/vms?" + GetParam().query);
    EXPECT_EQ(vms.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, DetailLevelTest,
    ::testing::Values(
        DetailCase{"None", MIN_VM_PROPS, "isTemplate=true&detail=0"},
        DetailCase{"HostFlagsOnly", VM_PROP_HOST_VM_LIST | VM_PROP_DS_VM_LIST, "isTemplate=true&detail=0"},
        DetailCase{"SnapshotList", VM_PROP_VM_SNAPSHOT_LIST, "isTemplate=true"},
        DetailCase{"HostInfo", VM_PROP_VM_HOST_INFO, "isTemplate=true"},
        DetailCase{"GuestInfo", VM_PROP_VM_GUEST_INFO, "isTemplate=true&detail=2"},
        DetailCase{"DiskList", VM_PROP_VM_DISK_LIST | VM_PROP_VM_NW_LIST, "isTemplate=true&detail=2"},
        DetailCase{"All", VM_PROP_ALL, "isTemplate=true&detail=2"}),
    [](const ::testing::TestParamInfo<DetailCase>& info) { return std::string(info.param.label); });

TEST_F(QueriesTest, DetailLevelDecidesHowMuchOfTheVmArrives) {
    std::vector<SVMInfoLib> bare, full;
    ASSERT_TRUE(queries.GetVMInfoListForObject(site, SBaseInfoLib(), bare, MIN_VM_PROPS));
    ASSERT_TRUE(queries.GetVMInfoListForObject(site, SBaseInfoLib(), full, VM_PROP_VM_DISK_LIST));
    ASSERT_EQ(bare.size(), full.size());
    EXPECT_TRUE(bare.front().disks.empty());
    EXPECT_FALSE(full.front().disks.empty());
    EXPECT_EQ(server().Requests().front().target, site.uri + "/vms?detail=0");
}

TEST(AdjustVMDetailQuery, AppendsTheLevelAfterTheQuery) {
    CFusionComputeParser parser;
    CFusionComputeQueries queries(nullptr, &parser, nullptr);
    struct Case {
        std::string query;
        UINT64 flags;
        std::string expected;
    };
    const Case cases[] = {
        {"", 0, "detail=0"},
        {"", VM_PROP_VM_SNAPSHOT_LIST, ""},
        {"name=web01", VM_PROP_VM_DISK_LIST, "name=web01&detail=2"},
        {"scope=urn:sites:1:hosts:2", VM_PROP_VM_GUEST_INFO | VM_PROP_VM_CFG_FILE,
         "scope=urn:sites:1:hosts:2&detail=2"},
        {"mac=28:6e:d4:00:00:01", VM_PROP_VM_ATTRIBUTES, "mac=28:6e:d4:00:00:01"},
        {"isTemplate=true", VM_PROP_ALL_HOST | VM_PROP_ALL_DS, "isTemplate=true&detail=0"},
        {"", 0x8000, ""},
    };
    for (const Case& c : cases) {
        std::string query = c.query;
        queries.AdjustVMDetailQuery(query, c.flags);
        EXPECT_EQ(query, c.expected) << "query [" << c.query << "] flags " << std::hex << c.flags;
    }
}

TEST(ConvertUrnToUri, TurnsUrnsIntoServicePaths) {
    CFusionComputeParser parser;
    CFusionComputeQueries queries(nullptr, &parser, nullptr);
    const std::pair<std::string, std::string> cases[] = {
        {"urn:sites:3D4E0A1B:vms:i-0000001A", "/service/sites/3D4E0A1B/vms/i-0000001A"},
        {"urn:sites:1:hosts:42", "/service/sites/1/hosts/42"},
        {"abc-urn:sites:1", "/service/sites/1"},
        {"sites:1", ""},
        {"", ""},
        {"URN:sites:1", ""},
        {"urn:sites:1:volumes:7:urn:x", "/service/sites/1/volumes/7/urn/x"},
        // Only what URNs are made of: a URN that would make another path has no URI.
        {"urn:", ""},
        {"urn:sites:1:volumes:5/../../vms/i-3", ""},
        {"urn:sites:1:volumes:..:vms:i-3", ""},
        {"urn:sites:1:volumes:5?x=1", ""},
        {"urn:sites:1:volumes:5%2F..", ""},
        {"urn:sites:1:volumes:5 ", ""},
        {"urn:sites:1::volumes", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(queries.ConvertUrnToUri(c.first), c.second) << c.first;
}

// ---- Failures ------------------------------------------------------------------------------------------

TEST_F(QueriesTest, FailedGetTakesTheErrorFromItsBody) {
    server().FailNext("GET", site.uri + "/clusters", 500, "10300025", "The cluster is busy");
    std::vector<SClusterInfoLib> clusters;
    EXPECT_FALSE(queries.GetClusterInfoList(site, clusters, 0));
    EXPECT_EQ(queries.GetLastError(), "The cluster is busy");
    EXPECT_EQ(queries.GetErrorCode(), 10300025);
    EXPECT_EQ(state.message, "The cluster is busy");
}

TEST_F(QueriesTest, FailedLaterPageFailsTheList) {
    vrmsim::Fault fault;
    fault.method = "GET";
    fault.path = site.uri + "/vms";
    fault.query = "offset=200";
    fault.status = 503;
    fault.errorCode = "10000009";
    fault.errorDes = "Service unavailable";
    server().AddFault(fault);
    std::vector<SVMInfoLib> vms;
    EXPECT_FALSE(queries.GetVMInfoList(site, vms, MIN_VM_PROPS));
    EXPECT_EQ(queries.GetLastError(), "Service unavailable");
    EXPECT_EQ(queries.GetErrorCode(), 10000009);
    EXPECT_EQ(server().Requests().size(), 3u);
}

TEST_F(QueriesTest, FailedSearchAndObjectReadsTakeTheErrorFromTheirBodies) {
    server().FailNext("GET", site.uri + "/vms", 404, "10300011", "VM does not exist");
    SVMInfoLib vm;
    EXPECT_FALSE(queries.GetVMInfo(site, "web", "", "", vm, 0));
    EXPECT_EQ(queries.GetLastError(), "VM does not exist");
    EXPECT_EQ(queries.GetErrorCode(), 10300011);

    server().FailNext("GET", site.uri + "/vms/osversions", 500, "-1", "catalogue failed");
    SOSVersionsInfoLib catalogue;
    EXPECT_FALSE(queries.GetOSVersions(site, catalogue));
    EXPECT_EQ(queries.GetLastError(), "catalogue failed");
    EXPECT_EQ(queries.GetErrorCode(), 4294967295LL);
}

TEST_F(QueriesTest, HtmlErrorPageGivesTheHttpStatusAndCodeZero) {
    vrmsim::Fault fault;
    fault.kind = vrmsim::FaultKind::Html;
    fault.method = "GET";
    fault.path = site.uri + "/hosts";
    server().AddFault(fault);
    state.message = "earlier";
    state.code = 5;
    std::vector<SHostInfoLib> hosts;
    EXPECT_FALSE(queries.GetHostInfoList(site, hosts, 0));
    EXPECT_THAT(queries.GetLastError(), ::testing::StartsWith("HTTP status 5"));
    EXPECT_THAT(queries.GetLastError(), ::testing::HasSubstr("GET https://"));
    EXPECT_THAT(queries.GetLastError(), ::testing::HasSubstr(site.uri + "/hosts"));
    EXPECT_EQ(queries.GetErrorCode(), 0) << "the earlier code would answer for this failure";
}

TEST_F(QueriesTest, AnswerThatDoesNotParseNamesTheRequest) {
    state.message = "earlier";
    state.code = 5;
    AnswerWith(site.uri + "/dvswitchs", "", "{not json");
    std::vector<SNetworkInfoLib> networks;
    EXPECT_FALSE(queries.GetNetworkInfoList(site, networks, 0));
    EXPECT_EQ(queries.GetLastError(), "Could not read the VRM's answer to [" + site.uri + "/dvswitchs]");
    state.message = "earlier";
    AnswerWith(site.uri + "/dvswitchs", "", R"({"total": 1, "switches": []})");
    EXPECT_FALSE(queries.GetNetworkInfoList(site, networks, 0));
    EXPECT_EQ(queries.GetLastError(), "Could not read the VRM's answer to [" + site.uri + "/dvswitchs]");
    EXPECT_EQ(queries.GetErrorCode(), 5);
}

TEST_F(QueriesTest, ObjectReadWithoutAnswerGivesTheTransportReason) {
    vrmsim::Fault fault;
    fault.kind = vrmsim::FaultKind::Drop;
    fault.method = "GET";
    fault.path = site.uri + "/vms/osversions";
    server().AddFault(fault);
    state.message = "earlier";
    state.code = 5;
    SOSVersionsInfoLib catalogue;
    EXPECT_FALSE(queries.GetOSVersions(site, catalogue));
    EXPECT_THAT(queries.GetLastError(), ::testing::StartsWith("curl error "));
    EXPECT_THAT(queries.GetLastError(), ::testing::HasSubstr(" on GET https://"));
    EXPECT_THAT(queries.GetLastError(), ::testing::HasSubstr(site.uri + "/vms/osversions"));
    EXPECT_EQ(queries.GetErrorCode(), 0);
}

TEST_F(QueriesTest, UnreadableObjectAnswerNamesTheRequest) {
    AnswerWith(site.uri + "/vms/osversions", "", "[1, 2");
    state.message = "earlier";
    SOSVersionsInfoLib catalogue;
    EXPECT_FALSE(queries.GetOSVersions(site, catalogue));
    EXPECT_EQ(queries.GetLastError(), "Could not read the VRM's answer to [" + site.uri + "/vms/osversions]");
}

// ---- Every query on the wire ---------------------------------------------------------------------------

struct Inventory {
    std::string siteName;
    vrmsim::VmState vm;
    std::string clusterUrn, clusterName, hostUrn, hostName, datastoreName, folderUrn, clusterFolderUrn;
    std::string switchUri, switchUrn, portGroupUri, snapshotUrn, volumeUrn, taskUrn, taskUri;
};

TEST_F(QueriesTest, EveryQuerySendsItsExactRequest) {
    Inventory inv;
    inv.vm = ModelVm(0);
    vrmsim::Simulator& sim = server().sim();
    inv.siteName = sim.Objects("sites").at(0).name;
    const vrmsim::ObjectState cluster0 = sim.Objects("clusters").at(0), host0 = sim.Objects("hosts").at(0);
    inv.clusterUrn = cluster0.urn;
    inv.clusterName = cluster0.name;
    inv.hostUrn = host0.urn;
    inv.hostName = host0.name;
    inv.datastoreName = sim.Objects("datastores").at(0).name;
    for (const vrmsim::ObjectState& folder : sim.Objects("folders")) {
        if (folder.type == 1 && inv.folderUrn.empty()) inv.folderUrn = folder.urn;
        if (folder.type == 0 && inv.clusterFolderUrn.empty()) inv.clusterFolderUrn = folder.urn;
    }
    const vrmsim::ObjectState dvs = sim.Objects("dvSwitches").at(0);
    inv.switchUri = dvs.uri;
    inv.switchUrn = dvs.urn;
    inv.portGroupUri = sim.Objects("portGroups").at(0).uri;
    if (!inv.vm.snapshotUrns.empty()) inv.snapshotUrn = inv.vm.snapshotUrns.front();
    inv.volumeUrn = inv.vm.volumeUrns.front();
    const vrmsim::TaskState started = sim.StartTask("test", inv.vm.urn, 2);
    inv.taskUrn = started.urn;
    inv.taskUri = started.uri;
    ASSERT_FALSE(inv.snapshotUrn.empty()) << "the first VM is seeded with snapshots";
    ASSERT_FALSE(inv.vm.nicMacs.empty());
    const std::string s = site.uri;
    SHostInfoLib host;
    host.urn = inv.hostUrn;
    SClusterInfoLib cluster;
    cluster.urn = inv.clusterUrn;

    struct Call {
        std::string label;
        std::function<bool()> run;
        std::string target;  // path and query as sent; "" for a query that sends nothing
        bool succeeds;
        size_t pages = 1;  // GETs of the list: later pages add their offset
    };
    std::vector<SSiteInfoLib> sites;
    std::vector<SClusterInfoLib> clusters;
    std::vector<SHostInfoLib> hosts;
    std::vector<SVMInfoLib> vms;
    std::vector<SDataStoreInfoLib> datastores;
    std::vector<SStorageDeviceInfoLib> devices;
    std::vector<SStorageResourceInfoLib> resources;
    std::vector<SNetworkInfoLib> networks;
    std::vector<SPortGroupInfoLib> portGroups;
    std::vector<SFolderInfoLib> folders;
    SSiteInfoLib oneSite;
    SClusterInfoLib oneCluster;
    SHostInfoLib oneHost;
    SVMInfoLib oneVm;
    SDataStoreInfoLib oneDatastore;
    SSnapshotTreeInfoLib tree;
    SSnapshotInfoLib snapshot;
    snapshot.urn = inv.snapshotUrn;
    SDiskInfoLib disk;
    disk.urn = inv.volumeUrn;
    SNetworkInfoLib network;
    network.uri = inv.switchUri;
    SPortGroupInfoLib portGroup;
    portGroup.uri = inv.portGroupUri;
    SBaseInfoLib nicPortGroup;
    nicPortGroup.urn = inv.vm.nicPortGroupUrns[0];
    STaskInfoLib task;
    task.taskUrn = inv.taskUrn;
    SBackupResourceInfoLib resource;
    resource.uri = fcsdk_test::UriOf(inv.volumeUrn) + "/backupresources/4242";
    SBackupResourceInfoLib resourceWithoutUri;
    resourceWithoutUri.urn = "urn:sites:1:backupresources:1";
    SOSVersionsInfoLib catalogue;
    SVMInfoLib snapshotVm;
    snapshotVm.uri = inv.vm.uri;
    const std::string enc = ExpectedEncoding(inv.hostName);

    const std::vector<Call> calls = {
        {"GetSiteInfo by URN", [&] { return queries.GetSiteInfo("x", site.urn, oneSite, 0); },
         "/service/sites?urn=" + site.urn, true},
        {"GetSiteInfo by name", [&] { return queries.GetSiteInfo(inv.siteName, "", oneSite, 0); },
         "/service/sites?name=" + ExpectedEncoding(inv.siteName), true},
        {"GetClusterInfo", [&] { return queries.GetClusterInfo(site, inv.clusterName, "", oneCluster, 0); },
         s + "/clusters?name=" + ExpectedEncoding(inv.clusterName), true},
        {"GetHostInfo", [&] { return queries.GetHostInfo(site, inv.hostName, inv.hostUrn, oneHost, 0); },
         s + "/hosts?name=" + enc, true},
        {"GetVMInfo",
         [&] { return queries.GetVMInfo(site, inv.vm.name, "", "", oneVm, VM_PROP_VM_GUEST_INFO); },
         s + "/vms?name=" + ExpectedEncoding(inv.vm.name) + "&detail=2", true},
        {"GetDataStoreInfo",
         [&] { return queries.GetDataStoreInfo(site, inv.datastoreName, "urn:x", oneDatastore, 0); },
         s + "/datastores?name=" + ExpectedEncoding(inv.datastoreName), true},
        {"GetSiteInfoList", [&] { return queries.GetSiteInfoList(sites, 0); }, "/service/sites", true},
        {"GetClusterInfoList", [&] { return queries.GetClusterInfoList(site, clusters, 0); }, s + "/clusters",
         true},
        {"GetClusterInfoListForFolder default",
         [&] { return queries.GetClusterInfoListForFolder(site, "", clusters, 0); },
         s + "/clusters?parentObjUrn=default", true},
        {"GetClusterInfoListForFolder folder",
         [&] { return queries.GetClusterInfoListForFolder(site, inv.clusterFolderUrn, clusters, 0); },
         s + "/clusters?parentObjUrn=" + inv.clusterFolderUrn, true},
        {"GetHostInfoList", [&] { return queries.GetHostInfoList(site, hosts, 0); }, s + "/hosts", true},
        {"GetHostInfoListForObject",
         [&] { return queries.GetHostInfoListForObject(site, cluster, hosts, 0); },
         s + "/hosts?scope=" + inv.clusterUrn, true},
        {"GetHostInfoListForObject without URN",
         [&] { return queries.GetHostInfoListForObject(site, SBaseInfoLib(), hosts, 0); },
         s + "/hosts?scope=", true},
        {"GetVMInfoListForObject", [&] { return queries.GetVMInfoListForObject(site, host, vms, 0); },
         s + "/vms?scope=" + inv.hostUrn + "&detail=0", true},
        {"GetVMInfoListForObject port group",
         [&] { return queries.GetVMInfoListForObject(site, nicPortGroup, vms, 0); },
         s + "/vms?scope=" + inv.vm.nicPortGroupUrns[0] + "&detail=0", true},
        {"GetVMInfoListForObject without URN",
         [&] { return queries.GetVMInfoListForObject(site, SBaseInfoLib(), vms, VM_PROP_VM_GUEST_INFO); },
         s + "/vms?detail=2", true, 3},
        {"GetVMInfoListForMACAddress",
         [&] { return queries.GetVMInfoListForMACAddress(site, inv.vm.nicMacs[0], vms, 0); },
         s + "/vms?mac=" + inv.vm.nicMacs[0] + "&detail=0", true},
        {"GetVMInfoListOfTemplates", [&] { return queries.GetVMInfoListOfTemplates(site, vms, 0); },
         s + "/vms?isTemplate=true&detail=0", true},
        {"GetDataStoreInfoList", [&] { return queries.GetDataStoreInfoList(site, datastores, 0); },
         s + "/datastores", true},
        {"GetDataStoreInfoListForObject",
         [&] { return queries.GetDataStoreInfoListForObject(site, host, datastores, 0); },
         s + "/datastores?scope=" + inv.hostUrn, true},
        {"GetStorageDeviceInfoListForHost",
         [&] { return queries.GetStorageDeviceInfoListForHost(site, host, devices, 0); },
         s + "/storageunits?hostUrn=" + inv.hostUrn + "&useState=all&deviceType=0", true},
        {"GetStorageResourceInfoList typed",
         [&] { return queries.GetStorageResourceInfoList(site, "DSWARE", resources, 0); },
         s + "/storageresources?limit=100&offset=0&storageType=DSWARE", true},
        {"GetNetworkInfoList", [&] { return queries.GetNetworkInfoList(site, networks, 0); },
         s + "/dvswitchs", true},
        {"GetNetworkInfoListForObject",
         [&] { return queries.GetNetworkInfoListForObject(site, host, networks, 0); },
         s + "/dvswitchs?location=" + inv.hostUrn, true},
        {"GetNetworkPortGroups", [&] { return queries.GetNetworkPortGroups(network, portGroups, 0); },
         inv.switchUri + "/portgroups", true},
        {"GetFolderInfoList VM folders below a parent",
         [&] { return queries.GetFolderInfoList(site, 1, inv.folderUrn, folders); },
         s + "/folder?type=1&parentObjUrn=" + inv.folderUrn, true},
        {"GetFolderInfoList cluster folders", [&] { return queries.GetFolderInfoList(site, 0, "", folders); },
         s + "/folder?type=0", true},
        {"GetFolderInfo", [&] { return queries.GetFolderInfo(site); }, "", false},
        {"GetVMSnapshotTree", [&] { return queries.GetVMSnapshotTree(snapshotVm, tree); },
         inv.vm.uri + "/snapshots", true},
        {"GetVMSnapshotInfo from URN", [&] { return queries.GetVMSnapshotInfo(snapshot); },
         fcsdk_test::UriOf(inv.snapshotUrn), true},
        {"GetDiskInfo from URN", [&] { return queries.GetDiskInfo(disk); }, fcsdk_test::UriOf(inv.volumeUrn),
         true},
        {"GetNetworkInfo", [&] { return queries.GetNetworkInfo(network); }, inv.switchUri, true},
        {"GetPortGroupInfo", [&] { return queries.GetPortGroupInfo(portGroup); }, inv.portGroupUri, true},
        {"GetTaskInfo from URN", [&] { return queries.GetTaskInfo(task); }, inv.taskUri, true},
        {"GetBackupResourceInfo unknown", [&] { return queries.GetBackupResourceInfo(resource); },
         resource.uri, false},
        {"GetBackupResourceInfo without URI",
         [&] { return queries.GetBackupResourceInfo(resourceWithoutUri); }, "", false},
        {"GetOSVersions", [&] { return queries.GetOSVersions(site, catalogue); }, s + "/vms/osversions",
         true},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.label);
        server().ClearRequests();
        EXPECT_EQ(call.run(), call.succeeds);
        const auto requests = server().Requests();
        if (call.target.empty()) {
            EXPECT_TRUE(requests.empty());
            continue;
        }
        ASSERT_EQ(requests.size(), call.pages);
        for (size_t page = 0; page < requests.size(); ++page) {
            EXPECT_EQ(requests[page].method, "GET");
            const std::string offset = page == 0 ? "" : "&offset=" + std::to_string(page * 100);
            EXPECT_EQ(requests[page].target, call.target + offset);
        }
    }

    // What came back is the simulator's inventory.
    EXPECT_EQ(oneSite.urn, site.urn);
    EXPECT_EQ(oneCluster.urn, inv.clusterUrn);
    EXPECT_EQ(oneHost.urn, inv.hostUrn);
    EXPECT_EQ(oneVm.urn, inv.vm.urn);
    EXPECT_FALSE(oneDatastore.urn.empty());
    EXPECT_FALSE(folders.empty());
    EXPECT_FALSE(portGroups.empty());
    EXPECT_EQ(snapshot.uri, fcsdk_test::UriOf(inv.snapshotUrn));
    EXPECT_EQ(snapshot.urn, inv.snapshotUrn);
    EXPECT_EQ(disk.uri, fcsdk_test::UriOf(inv.volumeUrn)) << "the derived URI stays in the record";
    EXPECT_EQ(disk.urn, inv.volumeUrn);
    EXPECT_EQ(task.taskUri, inv.taskUri);
    EXPECT_FALSE(task.status.empty());
    EXPECT_FALSE(tree.childSnapshots.empty());
    EXPECT_FALSE(catalogue.windows.empty() && catalogue.linux.empty() && catalogue.other.empty());
}

TEST_F(QueriesTest, ReadsByUriWithoutIdentifiersSendNothing) {
    SSnapshotInfoLib snapshot;
    SDiskInfoLib disk;
    SNetworkInfoLib network;
    SPortGroupInfoLib portGroup;
    STaskInfoLib task;
    state.message = "earlier";
    EXPECT_FALSE(queries.GetVMSnapshotInfo(snapshot));
    EXPECT_EQ(queries.GetLastError(), "No URI or URN of the object given");
    EXPECT_FALSE(queries.GetDiskInfo(disk));
    EXPECT_FALSE(queries.GetNetworkInfo(network));
    EXPECT_FALSE(queries.GetPortGroupInfo(portGroup));
    EXPECT_FALSE(queries.GetTaskInfo(task));
    SBackupResourceInfoLib resource;
    EXPECT_FALSE(queries.GetBackupResourceInfo(resource));
    EXPECT_EQ(queries.GetLastError(), "No backup resource URI given");
    task.taskUrn = "urn:sites:1:tasks:..";
    EXPECT_FALSE(queries.GetTaskInfo(task));
    EXPECT_EQ(queries.GetLastError(), "Refused to use the malformed URN [urn:sites:1:tasks:..]");
    EXPECT_TRUE(server().Requests().empty());
}

TEST_F(QueriesTest, DerivedUriStaysWhenTheReadFails) {
    SDiskInfoLib disk;
    disk.urn = "urn:sites:" + site.urn.substr(site.urn.rfind(':') + 1) + ":volumes:999999";
    EXPECT_FALSE(queries.GetDiskInfo(disk));
    EXPECT_EQ(disk.uri, site.uri + "/volumes/999999");
    ASSERT_EQ(server().Requests().size(), 1u);
    EXPECT_EQ(server().Requests()[0].target, disk.uri);
}

}  // namespace
}  // namespace FusionComputeSDKWrapper
