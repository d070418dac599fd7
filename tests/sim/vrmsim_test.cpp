// Tests of the simulator itself, over real TLS with libcurl: login, tokens, paging, filters, detail
// levels, faults, recording, connection counting, reset, certificates and the control endpoints.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Query.h"
#include "RawClient.h"
#include "Router.h"
#include "SimServer.h"
#include "VrmSimulator.h"

namespace {

namespace json = boost::json;
using fcsdk_test::SimServer;

using Reply = fcsdk_test::RawReply;
using Client = fcsdk_test::RawClient;

std::vector<std::string> Names(const json::array& items) {
    std::vector<std::string> names;
    for (const auto& item : items) names.emplace_back(item.at("name").as_string());
    return names;
}

std::set<std::string> Keys(const json::object& object) {
    std::set<std::string> keys;
    for (const auto& member : object) keys.emplace(member.key());
    return keys;
}

// ---------------------------------------------------------------------------------------------
// Pure parts: query strings, paging arguments, routing, URN rule.

TEST(VrmsimQuery, DecodesAndKeepsEveryValueWithTheLastWinning) {
    vrmsim::QueryArgs args("name=web%2001&limit=100&offset=0&offset=100&flag&a+b=c+d");
    EXPECT_EQ(*args.Last("name"), "web 01");
    EXPECT_EQ(*args.Last("offset"), "100");
    EXPECT_EQ(args.All("offset"), (std::vector<std::string>{"0", "100"}));
    EXPECT_TRUE(args.Has("flag"));
    EXPECT_EQ(*args.Last("flag"), "");
    EXPECT_EQ(*args.Last("a b"), "c d");
    EXPECT_FALSE(args.Last("missing").has_value());
    EXPECT_EQ(vrmsim::UrlDecode("%zz%4"), "%zz%4");
}

TEST(VrmsimQuery, PageArgumentsAreCheckedAndCapped) {
    struct Case {
        const char* query;
        bool ok;
        std::size_t offset, limit;
    };
    const Case cases[] = {{"", true, 0, 100},          {"offset=250", true, 250, 100},
                          {"limit=10", true, 0, 10},   {"limit=500", true, 0, 100},
                          {"offset=-1", false, 0, 0},  {"limit=0", false, 0, 0},
                          {"offset=abc", false, 0, 0}, {"offset=5&offset=7", true, 7, 100}};
    for (const auto& c : cases) {
        vrmsim::PageRequest page;
        std::string error;
        bool ok = vrmsim::ParsePage(vrmsim::QueryArgs(c.query), 100, page, error);
        EXPECT_EQ(ok, c.ok) << c.query;
        if (ok && c.ok) {
            EXPECT_EQ(page.offset, c.offset) << c.query;
            EXPECT_EQ(page.limit, c.limit) << c.query;
        } else {
            EXPECT_FALSE(error.empty()) << c.query;
        }
    }
}

TEST(VrmsimRouter, LiteralSegmentsWinOverParameters) {
    vrmsim::Router router;
    auto answer = [](int status) {
        return [status](const vrmsim::HttpRequest&, const vrmsim::PathParams&) {
            vrmsim::HttpResponse response;
            response.status = status;
            return response;
        };
    };
    router.Add("GET", "/s/{site}/vms/{id}", answer(1));
    router.Add("GET", "/s/{site}/vms/osversions", answer(2));
    vrmsim::PathParams params;
    const auto* handler = router.Find("GET", "/s/A/vms/osversions", params);
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ((*handler)({}, params).status, 2);
    handler = router.Find("GET", "/s/A/vms/i-1", params);
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ((*handler)({}, params).status, 1);
    EXPECT_EQ(params["site"], "A");
    EXPECT_EQ(params["id"], "i-1");
    EXPECT_EQ(router.Find("GET", "/s/A/vms/", params), nullptr);
    EXPECT_EQ(router.Find("GET", "//s/A/vms/i-1", params), nullptr);
    EXPECT_EQ(router.Find("POST", "/s/A/vms/i-1", params), nullptr);
    EXPECT_TRUE(router.KnowsPath("/s/A/vms/i-1"));
}

TEST(VrmsimModel, SeedIsDeterministicAndDependsOnTheSeed) {
    // Built, not started: the constructor seeds the state.
    vrmsim::Options options;
    vrmsim::Simulator a(options), b(options);
    options.inventory.seed = 2;
    vrmsim::Simulator c(options);
    EXPECT_EQ(a.SiteUrn(), b.SiteUrn());
    EXPECT_NE(a.SiteUrn(), c.SiteUrn());
    const std::vector<vrmsim::VmState> vmsA = a.Vms(), vmsB = b.Vms();
    ASSERT_EQ(vmsA.size(), vmsB.size());
    for (std::size_t i = 0; i < vmsA.size(); ++i) EXPECT_EQ(vmsA[i].uuid, vmsB[i].uuid);
    EXPECT_EQ(vmsA.size(), 22u);
}

// ---------------------------------------------------------------------------------------------
// Session: versions, login, tokens.

class VrmsimSession : public fcsdk_test::SimTest {};

TEST_F(VrmsimSession, VersionsNeedNoToken) {
    Client client(server());
    Reply reply = client.Get("/service/versions");
    ASSERT_EQ(reply.code, CURLE_OK);
    EXPECT_EQ(reply.status, 200);
    auto versions = reply.Object().at("versions").as_array();
    ASSERT_EQ(versions.size(), 3u);
    EXPECT_EQ(versions[2].at("version").as_string(), "v6.3");
    EXPECT_EQ(versions[2].at("loginUri").as_string(), "/service/session");
}

TEST_F(VrmsimSession, LoginAcceptsTheHashedPasswordAndIssuesAToken) {
    Client client(server());
    Reply reply = client.Login(server().user(), server().password());
    EXPECT_EQ(reply.status, 200);
    const std::string token = reply.headers["x-auth-token"];
    EXPECT_EQ(token.size(), 64u);
    EXPECT_EQ(reply.Object().at("userName").as_string(), server().user());
    EXPECT_EQ(server().Stats().logins, 1u);
    EXPECT_EQ(server().sim().LiveTokens(), 1u);

    client.SetToken(token);
    EXPECT_EQ(client.Get("/service/sites").status, 200);

    // Other clients of the API log in without X-Auth-AuthType; the record shows what was sent.
    Reply other = client.Send("POST", "/service/session", "",
                              {"X-Auth-User:" + server().user(),
                               "X-Auth-Key:" + vrmsim::Sha256Hex(server().password()), "X-Auth-UserType:2"});
    EXPECT_EQ(other.status, 200);
    EXPECT_EQ(other.headers["x-auth-token"].size(), 64u);
    auto logins = server().Requests("/service/session");
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_TRUE(logins[0].HasHeader("X-Auth-AuthType"));
    EXPECT_FALSE(logins[1].HasHeader("X-Auth-AuthType"));
    EXPECT_EQ(logins[1].Header("X-Auth-UserType"), "2");
}

TEST_F(VrmsimSession, LoginRefusalsAnswer401WithAnErrorBody) {
    struct Case {
        std::string name;
        std::vector<std::string> headers;
    };
    const std::string key = "X-Auth-Key:" + vrmsim::Sha256Hex(server().password());
    const std::vector<Case> cases = {
        {"wrong password",
         {"X-Auth-User:admin", "X-Auth-Key:" + vrmsim::Sha256Hex("nope"), "X-Auth-UserType:0",
          "X-Auth-AuthType:0"}},
        {"wrong user", {"X-Auth-User:someone", key, "X-Auth-UserType:0", "X-Auth-AuthType:0"}},
        {"plain password as key",
         {"X-Auth-User:admin", "X-Auth-Key:" + server().password(), "X-Auth-UserType:0",
          "X-Auth-AuthType:0"}},
        {"upper-case hex key",
         {"X-Auth-User:admin",
          "X-Auth-Key:" +
              [&] {
                  std::string upper = vrmsim::Sha256Hex(server().password());
                  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                  return upper;
              }(),
          "X-Auth-UserType:0", "X-Auth-AuthType:0"}},
        {"no user type", {"X-Auth-User:admin", key, "X-Auth-AuthType:0"}},
        // Credentials are checked before the other headers, as another client of the API sends them.
        {"wrong password, no auth type",
         {"X-Auth-User:admin", "X-Auth-Key:" + vrmsim::Sha256Hex("nope"), "X-Auth-UserType:2"}},
        {"no headers", {}},
    };
    Client client(server());
    for (const auto& c : cases) {
        Reply reply = client.Send("POST", "/service/session", "", c.headers);
        EXPECT_EQ(reply.status, 401) << c.name;
        EXPECT_EQ(reply.headers.count("x-auth-token"), 0u) << c.name;
        auto body = reply.Object();
        ASSERT_TRUE(body.contains("errorCode")) << c.name;
        EXPECT_TRUE(body.at("errorCode").is_string()) << c.name;
        EXPECT_EQ(body.at("errorCode").as_string(), "10000040") << c.name;
        EXPECT_FALSE(body.at("errorDes").as_string().empty()) << c.name;
        if (c.name.find("wrong password") == 0) {
            EXPECT_EQ(body.at("errorDes").as_string(), "The user name or password is incorrect.") << c.name;
        }
    }
    EXPECT_EQ(server().Stats().loginFailures, cases.size());
    EXPECT_EQ(server().Stats().logins, 0u);
}

TEST_F(VrmsimSession, EveryOtherRequestNeedsALiveToken) {
    Client client(server());
    const std::string sites = "/service/sites";
    for (const std::string& token : {std::string(), std::string("0123456789ABCDEF")}) {
        client.SetToken(token);
        Reply reply = client.Get(sites);
        EXPECT_EQ(reply.status, 401) << token;
        EXPECT_EQ(reply.Object().at("errorCode").as_string(), "10000001");
    }
    ASSERT_TRUE(client.LogIn(server()));
    EXPECT_EQ(client.Get(sites).status, 200);
    server().ExpireTokens();
    EXPECT_EQ(client.Get(sites).status, 401);
    EXPECT_EQ(server().Stats().unauthorized, 3u);
    // A token of an earlier login stays valid beside a new one.
    ASSERT_TRUE(client.LogIn(server()));
    std::string first = client.token();
    ASSERT_TRUE(client.LogIn(server()));
    client.SetToken(first);
    EXPECT_EQ(client.Get(sites).status, 200);
    // A logout ends that session only.
    ASSERT_TRUE(client.LogIn(server()));
    const std::string other = client.token();
    client.SetToken(first);
    EXPECT_EQ(client.Send("DELETE", "/service/session").status, 200);
    EXPECT_EQ(client.Get(sites).status, 401);
    client.SetToken(other);
    EXPECT_EQ(client.Get(sites).status, 200);
}

TEST(VrmsimTokens, TokensExpireAfterTheirLifetime) {
    std::atomic<std::int64_t> now{1000000};
    vrmsim::Options options;
    options.tokenLifetimeSeconds = 60;
    options.clock = [&now] { return now.load(); };
    SimServer server(options);
    ASSERT_TRUE(server.ok()) << server.error();
    Client client(server);
    ASSERT_TRUE(client.LogIn(server));
    now += 59;
    EXPECT_EQ(client.Get("/service/sites").status, 200);
    now += 1;
    EXPECT_EQ(client.Get("/service/sites").status, 401);
    EXPECT_EQ(server.sim().LiveTokens(), 0u);
    // The lifetime can change at run time; 0 means a token never expires.
    auto config = server.sim().Config();
    config.tokenLifetimeSeconds = 0;
    server.sim().SetConfig(config);
    ASSERT_TRUE(client.LogIn(server));
    now += 1000000;
    EXPECT_EQ(client.Get("/service/sites").status, 200);
}

// ---------------------------------------------------------------------------------------------
// Lists: paging, filters, detail levels.

class VrmsimPaging : public fcsdk_test::WithRawClient<fcsdk_test::SimTest> {
  protected:
    static void SetUpTestSuite() {
        vrmsim::Options options;
        options.inventory.vms = 250;
        options.inventory.templates = 0;
        StartServer(options);
    }
    json::object Vms(const std::string& query) {
        return client_->Get(server().siteUri() + "/vms?" + query).Object();
    }
};

TEST_F(VrmsimPaging, TwoHundredFiftyVmsComeInThreePages) {
    std::set<std::string> urns;
    const std::vector<std::pair<std::string, std::size_t>> pages = {
        {"", 100}, {"offset=100", 100}, {"offset=200", 50}};
    for (const auto& page : pages) {
        auto body = Vms(page.first);
        EXPECT_EQ(body.at("total").to_number<int>(), 250) << page.first;
        auto vms = body.at("vms").as_array();
        EXPECT_EQ(vms.size(), page.second) << page.first;
        for (const auto& vm : vms) urns.emplace(vm.at("urn").as_string());
    }
    EXPECT_EQ(urns.size(), 250u);
    EXPECT_EQ(Vms("offset=300").at("vms").as_array().size(), 0u);
    EXPECT_EQ(Vms("offset=300").at("total").to_number<int>(), 250);
}

TEST_F(VrmsimPaging, OffsetAndLimitSelectTheWindowAndTheLastArgumentWins) {
    EXPECT_EQ(Names(Vms("limit=3&offset=245").at("vms").as_array()),
              (std::vector<std::string>{"vm-0246", "vm-0247", "vm-0248"}));
    EXPECT_EQ(Names(Vms("offset=248&limit=10").at("vms").as_array()),
              (std::vector<std::string>{"vm-0249", "vm-0250"}));
    auto repeated = Vms("limit=100&offset=0&offset=100").at("vms").as_array();
    ASSERT_EQ(repeated.size(), 100u);
    EXPECT_EQ(repeated[0].at("name").as_string(), "vm-0101");
    EXPECT_EQ(Vms("limit=1000").at("vms").as_array().size(), 100u);
    for (const char* bad : {"offset=-1", "limit=0", "offset=x"}) {
        Reply reply = client_->Get(server().siteUri() + "/vms?" + bad);
        EXPECT_EQ(reply.status, 400) << bad;
        EXPECT_EQ(reply.Object().at("errorCode").as_string(), "10100002") << bad;
    }
}

TEST_F(VrmsimPaging, PageSizeFollowsTheRuntimeConfig) {
    auto config = server().sim().Config();
    config.pageSize = 7;
    server().sim().SetConfig(config);
    auto body = Vms("name=vm-00");
    EXPECT_EQ(body.at("total").to_number<int>(), 99);
    EXPECT_EQ(body.at("vms").as_array().size(), 7u);
}

class VrmsimInventory : public fcsdk_test::WithRawClient<fcsdk_test::SimTest> {
  protected:
    Reply Get(const std::string& path) { return client_->Get(server().siteUri() + path); }
    json::array List(const std::string& path, const char* key) {
        return Get(path).Object().at(key).as_array();
    }
};

TEST_F(VrmsimInventory, VmFiltersMatchLikeTheVrm) {
    const std::vector<vrmsim::VmState> all = server().sim().Vms();
    const vrmsim::VmState first = all.at(0), template1 = all.at(20);
    const std::string hostUrn = first.hostUrn, clusterUrn = first.clusterUrn;
    const std::string folderUrn = server().sim().Objects("folders").back().urn;
    const std::string datastoreUrn = server().sim().FindVolume(first.volumeUrns[0])->datastoreUrn;
    const std::string portGroupUrn = first.nicPortGroupUrns.at(0);
    std::size_t withPortGroup = 0;
    for (const vrmsim::VmState& vm : all) {
        const auto& groups = vm.nicPortGroupUrns;
        withPortGroup += std::find(groups.begin(), groups.end(), portGroupUrn) != groups.end();
    }
    ASSERT_TRUE(template1.isTemplate);
    ASSERT_GT(withPortGroup, 0u);
    ASSERT_LT(withPortGroup, 22u);
    struct Case {
        std::string query;
        std::size_t count;
    };
    const std::vector<Case> cases = {
        {"name=VM-000", 9},  // partial and case-insensitive
        {"name=vm%2D0001", 1},
        {"name=tpl", 2},
        {"uuid=" + first.uuid, 1},
        {"uuid=" + first.uuid.substr(0, 8), 0},  // exact only
        {"vmurns=" + first.urn + "," + template1.urn, 2},
        {"mac=28:6E:D4:00:00:0", 15},  // serials 0x01 to 0x0f
        {"isTemplate=true", 2},
        {"isTemplate=false", 20},
        {"", 22},
        {"scope=" + server().siteUrn(), 22},
        {"scope=" + hostUrn + "&isTemplate=false", 5},
        {"name=vm&status=stopped", 6},
        {"scope=" + portGroupUrn, withPortGroup},
    };
    for (const auto& c : cases) {
        Reply reply = Get("/vms?" + c.query);
        EXPECT_EQ(reply.status, 200) << c.query;
        auto body = reply.Object();
        EXPECT_EQ(body.at("vms").as_array().size(), c.count) << c.query;
        EXPECT_EQ(body.at("total").to_number<std::size_t>(), c.count) << c.query;
    }
    for (const auto& vm : List("/vms?scope=" + clusterUrn, "vms"))
        EXPECT_EQ(vm.at("clusterUrn").as_string(), clusterUrn);
    for (const auto& vm : List("/vms?scope=" + datastoreUrn + "&detail=2", "vms")) {
        bool onDatastore = false;
        for (const auto& disk : vm.at("vmConfig").at("disks").as_array()) {
            onDatastore = onDatastore || disk.at("datastoreUrn").as_string() == datastoreUrn;
        }
        EXPECT_TRUE(onDatastore) << vm.at("name").as_string();
    }
    EXPECT_EQ(Get("/vms?scope=urn:sites:NOPE:clusters:1").status, 404);
    EXPECT_EQ(Get("/vms?scope=" + portGroupUrn + "9").status, 404);
    // A kind of object lists cannot be scoped by is a bad argument, not a missing object.
    EXPECT_EQ(Get("/vms?scope=" + first.urn).status, 400);
    EXPECT_EQ(Get("/vms?scope=anything").status, 400);
    EXPECT_EQ(Get("/vms?isTemplate=maybe").status, 400);
}

TEST_F(VrmsimInventory, FolderScopeListsTemplatesWithoutTheirFlag) {
    const std::string folderUrn =
        server().siteUrn() + ":folders:2";  // the first VM folder (1 holds clusters)
    std::size_t inFolder = 0, templatesInFolder = 0, atRoot = 0;
    for (const vrmsim::VmState& vm : server().sim().Vms()) {
        inFolder += vm.folderUrn == folderUrn;
        templatesInFolder += vm.folderUrn == folderUrn && vm.isTemplate;
        atRoot += vm.folderUrn.empty();
    }
    ASSERT_GT(templatesInFolder, 0u);
    auto vms = List("/vms?scope=" + folderUrn, "vms");
    EXPECT_EQ(vms.size(), inFolder);
    for (const auto& vm : vms) EXPECT_FALSE(vm.at("isTemplate").as_bool());
    EXPECT_EQ(List("/vms?scope=" + server().siteUrn() + ":folders:0", "vms").size(), atRoot);
    auto config = server().sim().Config();
    config.folderScopeHidesTemplateFlag = false;
    server().sim().SetConfig(config);
    std::size_t flagged = 0;
    for (const auto& vm : List("/vms?scope=" + folderUrn, "vms")) flagged += vm.at("isTemplate").as_bool();
    EXPECT_EQ(flagged, templatesInFolder);
}

TEST_F(VrmsimInventory, DetailLevelsChooseTheKeys) {
    auto level0 = List("/vms?detail=0&limit=1", "vms")[0].as_object();
    EXPECT_EQ(Keys(level0), (std::set<std::string>{"urn", "uri", "uuid", "name", "status", "isTemplate"}));

    auto level1 = List("/vms?limit=1", "vms")[0].as_object();
    EXPECT_EQ(level1, List("/vms?detail=1&limit=1", "vms")[0].as_object());
    ASSERT_TRUE(level1.contains("vmConfig"));
    EXPECT_TRUE(level1.at("vmConfig").as_object().contains("nics"));
    EXPECT_FALSE(level1.at("vmConfig").as_object().contains("disks"));
    EXPECT_FALSE(level1.contains("osOptions"));
    EXPECT_TRUE(level1.contains("hostUrn"));

    // List entries name no port group for their NICs: the VM's own link does.
    EXPECT_FALSE(level1.at("vmConfig").at("nics").as_array()[0].as_object().contains("portGroupUrn"));

    // The keys and types of each level are the fidelity test's; here only what the level holds.
    auto level2 = List("/vms?detail=2&limit=1", "vms")[0].as_object();
    EXPECT_EQ(level2.at("vmConfig").at("disks").as_array().size(), 2u);
    EXPECT_TRUE(level2.at("vmConfig").at("nics").as_array()[0].as_object().contains("portGroupUrn"));
    EXPECT_EQ(level2.at("osOptions").at("osType").as_string(), "Linux");

    // One VM read by its URI is complete.
    Reply single = client_->Get(std::string(level0.at("uri").as_string()));
    EXPECT_EQ(single.Object(), level2);
    EXPECT_EQ(Get("/vms?detail=3").status, 400);
}

TEST_F(VrmsimInventory, OtherListsFilterByTheirArguments) {
    const std::vector<vrmsim::ObjectState> clusters = server().sim().Objects("clusters");
    const std::vector<vrmsim::ObjectState> hosts = server().sim().Objects("hosts");
    const std::string clusterUrn = clusters.front().urn, folderUrn = clusters.back().parentUrn;
    const std::string hostUrn = hosts.front().urn;
    std::size_t hostsInCluster = 0;
    for (const vrmsim::ObjectState& host : hosts) hostsInCluster += host.parentUrn == clusterUrn;
    EXPECT_EQ(List("/clusters", "clusters").size(), 2u);
    EXPECT_EQ(List("/clusters?parentObjUrn=default", "clusters").size(), 1u);
    EXPECT_EQ(List("/clusters?parentObjUrn=" + folderUrn, "clusters").size(), 1u);
    EXPECT_EQ(Names(List("/clusters?clusterUrns=" + clusterUrn, "clusters")),
              (std::vector<std::string>{"ManagementCluster"}));
    EXPECT_EQ(List("/clusters?name=cluster", "clusters").size(), 2u);
    EXPECT_EQ(List("/hosts?scope=" + clusterUrn, "hosts").size(), hostsInCluster);
    EXPECT_EQ(List("/hosts?scope=", "hosts").size(), 4u);
    EXPECT_EQ(List("/hosts?scope=default", "hosts").size(), 0u);
    EXPECT_EQ(Names(List("/hosts?name=cna01", "hosts")), (std::vector<std::string>{"CNA01"}));
    EXPECT_EQ(List("/datastores", "datastores").size(), 4u);
    // The local datastore belongs to the fourth host: the first one sees the three shared ones.
    EXPECT_EQ(List("/datastores?scope=" + hostUrn, "datastores").size(), 3u);
    auto units = List("/storageunits?hostUrn=" + hostUrn + "&useState=all&deviceType=0", "storageUnits");
    EXPECT_EQ(units.size(), 4u);  // the 3 shared units and its unused local disk
    auto resources = List("/storageresources?limit=100&offset=0&storageType=DSWARE", "storageResources");
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].at("storageType").as_string(), "DSWARE");
    EXPECT_EQ(List("/storageresources?limit=100&offset=0", "storageResources").size(), 4u);
    EXPECT_EQ(List("/dvswitchs?location=" + hostUrn, "dvSwitchs").size(), 2u);
    auto switches = List("/dvswitchs", "dvSwitchs");
    ASSERT_EQ(switches.size(), 2u);
    EXPECT_EQ(client_->Get(std::string(switches[0].at("uri").as_string()) + "/portgroups")
                  .Object()
                  .at("portGroups")
                  .as_array()
                  .size(),
              2u);
    // The site-wide list holds the port groups of every switch and pages like the other lists.
    auto all = Get("/portgroups").Object();
    EXPECT_EQ(all.at("total").to_number<int>(), 4);
    auto second = Get("/portgroups?offset=1&limit=2").Object().at("portGroups").as_array();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0], all.at("portGroups").as_array()[1]);
    EXPECT_EQ(List("/folder?type=1", "folders").size(), 2u);
    EXPECT_EQ(List("/folder?type=0", "folders").size(), 1u);
    EXPECT_EQ(List("/folder?type=1&parentObjUrn=" + server().siteUrn() + ":folders:99", "folders").size(),
              0u);
    EXPECT_EQ(Get("/storageunits?hostUrn=urn:sites:X:hosts:9").status, 404);
}

TEST_F(VrmsimInventory, EveryUriFollowsFromItsUrnAndAnswers) {
    std::vector<std::pair<std::string, std::string>> objects;  // urn, uri
    auto collect = [&](const json::array& items) {
        for (const auto& item : items)
            objects.emplace_back(item.at("urn").as_string(), item.at("uri").as_string());
    };
    collect(client_->Get("/service/sites").Object().at("sites").as_array());
    for (auto [path, key] :
         std::vector<std::pair<std::string, const char*>>{{"/clusters", "clusters"},
                                                          {"/hosts", "hosts"},
                                                          {"/vms", "vms"},
                                                          {"/volumes", "volumes"},
                                                          {"/datastores", "datastores"},
                                                          {"/storageunits", "storageUnits"},
                                                          {"/storageresources", "storageResources"},
                                                          {"/dvswitchs", "dvSwitchs"},
                                                          {"/folder?type=0", "folders"},
                                                          {"/folder?type=1", "folders"}}) {
        collect(List(path, key));
    }
    for (const auto& sw : List("/dvswitchs", "dvSwitchs")) {
        collect(client_->Get(std::string(sw.at("uri").as_string()) + "/portgroups")
                    .Object()
                    .at("portGroups")
                    .as_array());
    }
    // NICs name their own links only in full detail; list entries carry addresses alone.
    for (const auto& vm : List("/vms?detail=2", "vms")) collect(vm.at("vmConfig").at("nics").as_array());
    ASSERT_GT(objects.size(), 60u);
    for (const auto& [urn, uri] : objects) {
        EXPECT_EQ(uri, fcsdk_test::UriOf(urn));
        Reply reply = client_->Get(uri);
        EXPECT_EQ(reply.status, 200) << uri;
        EXPECT_EQ(reply.Object().at("urn").as_string(), urn);
    }
    Reply missing = Get("/vms/i-7FFFFFFF");
    EXPECT_EQ(missing.status, 404);
    EXPECT_TRUE(missing.Object().at("errorCode").is_string());
    EXPECT_EQ(Get("/no-such-list").status, 404);
}

TEST_F(VrmsimInventory, SnapshotTreeAndSnapshotsCarryTheChangedBlockData) {
    auto vm = List("/vms?limit=1&detail=2", "vms")[0].as_object();
    std::string vmUri(vm.at("uri").as_string());
    auto tree = client_->Get(vmUri + "/snapshots").Object();
    auto roots = tree.at("rootSnapshots").as_array();
    ASSERT_EQ(Names(roots), (std::vector<std::string>{"snapshot-A", "snapshot-B"}));
    EXPECT_EQ(Names(roots[0].at("childSnapshots").as_array()), (std::vector<std::string>{"snapshot-C"}));
    EXPECT_EQ(tree.at("currentSnapshot").at("name").as_string(), "snapshot-B");

    auto snapshot = client_->Get(std::string(roots[0].at("uri").as_string())).Object();
    auto volsnapshots = snapshot.at("volsnapshots").as_array();
    auto disks = vm.at("vmConfig").at("disks").as_array();
    ASSERT_EQ(volsnapshots.size(), disks.size());
    for (std::size_t i = 0; i < disks.size(); ++i) {
        EXPECT_EQ(volsnapshots[i].at("volumeUrn"), disks[i].at("volumeUrn"));
        EXPECT_EQ(volsnapshots[i].at("volumeUri").as_string(),
                  fcsdk_test::UriOf(std::string(disks[i].at("volumeUrn").as_string())));
        EXPECT_FALSE(volsnapshots[i].at("chgID").as_string().empty());
        EXPECT_FALSE(volsnapshots[i].at("snapUuid").as_string().empty());
        EXPECT_FALSE(volsnapshots[i].at("volCBTCreateTime").as_string().empty());
    }
    // A VM without snapshots has an empty tree and no current snapshot.
    auto last = List("/vms?offset=19&limit=1", "vms")[0];
    auto empty = client_->Get(std::string(last.at("uri").as_string()) + "/snapshots").Object();
    EXPECT_TRUE(empty.at("rootSnapshots").as_array().empty());
    EXPECT_FALSE(empty.contains("currentSnapshot"));

    auto catalogue = Get("/vms/osversions").Object();
    EXPECT_FALSE(catalogue.at("windows").as_array().empty());
    EXPECT_EQ(catalogue.at("linux").as_array()[0].at("id").kind(), json::kind::int64);
}

TEST_F(VrmsimInventory, TasksMoveOnWithEachPollAndFinishOnce) {
    const vrmsim::TaskState task = server().sim().StartTask("createVm", "urn:x", 3);
    EXPECT_EQ(task.status, "waiting");
    EXPECT_EQ(task.uri, fcsdk_test::UriOf(task.urn));
    auto poll = [&](const std::string& uri) { return client_->Get(uri).Object(); };
    json::object state = poll(task.uri);
    EXPECT_EQ(state.at("status").as_string(), "running");
    const std::int64_t first = state.at("progress").as_int64();
    state = poll(task.uri);
    EXPECT_EQ(state.at("status").as_string(), "running");
    EXPECT_GT(state.at("progress").as_int64(), first);
    state = poll(task.uri);
    EXPECT_EQ(state.at("status").as_string(), "success");
    EXPECT_EQ(state.at("progress").as_int64(), 100);
    const json::value finishTime = state.at("finishTime");
    state = poll(task.uri);  // an ended task stays as it ended
    EXPECT_EQ(state.at("status").as_string(), "success");
    EXPECT_EQ(state.at("finishTime"), finishTime);

    const vrmsim::TaskState failing = server().sim().StartTask("deleteVm", "urn:x", 1, true);
    state = poll(failing.uri);
    EXPECT_EQ(state.at("status").as_string(), "failed");
    EXPECT_FALSE(state.at("reasonDes").as_string().empty());
}

TEST_F(VrmsimInventory, TasksAdvanceWhenPolled) {
    // A stop of the first VM starts a task that ends at the second poll and then stops the VM.
    const std::string vmUri = server().sim().Vms().front().uri;
    const std::string uri(
        client_->Send("POST", vmUri + "/action/stop", "{}").Object().at("taskUri").as_string());
    auto first = client_->Get(uri).Object();
    EXPECT_EQ(first.at("status").as_string(), "running");
    EXPECT_FALSE(first.contains("finishTime"));
    EXPECT_EQ(first.at("costTime").as_string(), "null");
    // The task list shows it without moving it on, newest first, and filters by status.
    auto listed = List("/tasks?status=running", "tasks");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].at("urn"), first.at("urn"));
    EXPECT_TRUE(List("/tasks?status=success", "tasks").empty());
    auto second = client_->Get(uri).Object();
    EXPECT_EQ(second.at("status").as_string(), "success");
    EXPECT_EQ(second.at("progress").as_int64(), 100);
    EXPECT_FALSE(second.at("cancelled").as_bool());
    EXPECT_EQ(List("/vms?limit=1", "vms")[0].at("status").as_string(), "stopped");
}

// ---------------------------------------------------------------------------------------------
// Fidelity: vrmsim's answers against the key paths, JSON types and value formats of a real VRM
// (tests/data/vrm-answers.tsv), scored per object kind.

/// One row of the real shapes.
struct RealKey {
    std::string path, type, format;
};

std::map<std::string, std::vector<RealKey>> ReadRealShapes() {
    std::map<std::string, std::vector<RealKey>> shapes;
    std::ifstream in(std::string(FCSDK_TEST_DATA_DIR) + "/vrm-answers.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> columns;
        std::stringstream stream(line);
        std::string column;
        while (std::getline(stream, column, '\t')) columns.push_back(column);
        columns.resize(4);
        shapes[columns[0]].push_back({columns[1], columns[2], columns[3]});
    }
    return shapes;
}

/// Every value of an answer by its key path ("a.b", "list[]" for each element).
void CollectPaths(const json::value& value, const std::string& path,
                  std::map<std::string, std::vector<const json::value*>>& paths) {
    if (!path.empty()) paths[path].push_back(&value);
    if (value.is_object()) {
        for (const auto& member : value.as_object()) {
            std::string key(member.key());
            CollectPaths(member.value(), path.empty() ? key : path + "." + key, paths);
        }
    } else if (value.is_array()) {
        for (const auto& element : value.as_array()) CollectPaths(element, path + "[]", paths);
    }
}

bool HasType(const json::value& value, const std::string& type) {
    if (type == "number") return value.is_number();
    if (type == "string") return value.is_string();
    if (type == "bool") return value.is_bool();
    if (type == "array") return value.is_array();
    if (type == "object") return value.is_object();
    return false;
}

/// A "urn ..." or "uri ..." format as a pattern: placeholders and numbered segments match any segment.
std::regex LinkPattern(const std::string& shape, char separator) {
    std::string pattern;
    std::stringstream stream(shape);
    std::string segment;
    bool first = true;
    while (std::getline(stream, segment, separator)) {
        if (!first) pattern += separator;
        first = false;
        bool variable = segment.find('<') != std::string::npos ||
                        std::any_of(segment.begin(), segment.end(), [](char c) { return std::isdigit(c); });
        pattern += variable ? std::string("[^:/]+") : segment;
    }
    return std::regex(pattern);
}

/// Whether a value has the recorded format. Quoted examples ("running") and free text are not
/// checked: they depend on the object's state, not on the shape.
bool HasFormat(const json::value& value, const std::string& format) {
    auto text = [&]() { return value.is_string() ? std::string(value.as_string()) : std::string("\x01"); };
    auto matches = [&](const char* pattern) { return std::regex_match(text(), std::regex(pattern)); };
    if (format == "integer") return value.is_int64() || value.is_uint64();
    if (format == "13-digit integer (ms)")
        return value.is_int64() && std::to_string(value.as_int64()).size() == 13;
    if (format == "digits as text") return matches("[0-9]+");
    if (format == "decimal as text") return matches("-?[0-9]+(\\.[0-9]+)?");
    if (format == "the text \"null\"") return text() == "null";
    if (format.rfind("date-time", 0) == 0)
        return matches("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
    if (format.rfind("dotted digits", 0) == 0) return matches("[0-9]+(\\.[0-9]+)+");
    if (format == "UUID")
        return matches("[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}");
    if (format == "MAC") return matches("[0-9a-fA-F]{2}(:[0-9a-fA-F]{2}){5}");
    if (format.rfind("urn ", 0) == 0) return std::regex_match(text(), LinkPattern(format.substr(4), ':'));
    if (format.rfind("uri ", 0) == 0) return std::regex_match(text(), LinkPattern(format.substr(4), '/'));
    return true;
}

/// Key paths the library reads, per object kind: these must be present with the real type.
std::set<std::string> LibraryReads(const std::string& kind) {
    auto under = [](const std::string& prefix, std::initializer_list<const char*> keys) {
        std::set<std::string> paths;
        for (const char* key : keys) paths.insert(prefix + key);
        return paths;
    };
    auto join = [](std::set<std::string> a, const std::set<std::string>& b) {
        a.insert(b.begin(), b.end());
        return a;
    };
    const std::set<std::string> vm = {"name",
                                      "uri",
                                      "urn",
                                      "description",
                                      "status",
                                      "uuid",
                                      "hostName",
                                      "hostUrn",
                                      "clusterName",
                                      "clusterUrn",
                                      "toolsVersion",
                                      "isTemplate",
                                      "vmConfig",
                                      "vmConfig.nics",
                                      "vmConfig.nics[].ip",
                                      "vmConfig.nics[].mac",
                                      "vmConfig.nics[].sequenceNum"};
    const std::set<std::string> task = {"urn",       "uri",        "type",     "status",    "entityUrn",
                                        "startTime", "finishTime", "progress", "cancelled", "cancelable"};
    if (kind == "vm-list" || kind == "template-list") {
        std::set<std::string> paths = {"total"};
        for (const auto& path : vm) paths.insert("vms[]." + path);
        return paths;
    }
    if (kind == "vm") {
        return join(
            join(join(vm, under("osOptions.", {"osType", "osVersion", "guestOSName"})),
                 under("vmConfig.nics[].", {"name", "urn", "uri", "nicType", "portGroupName", "portGroupUrn",
                                            "portId", "virtIo"})),
            under("vmConfig.disks[].", {"diskName", "volumeUrn", "volumeUuid", "volumeUrl", "datastoreName",
                                        "datastoreUrn", "quantityGB", "pciType", "sequenceNum", "volType",
                                        "isThin", "persistentDisk", "indepDisk"}));
    }
    if (kind == "volume") {
        return {"name",           "uri",        "urn",          "uuid",    "volumeUrl", "datastoreName",
                "datastoreUrn",   "quantityGB", "userUsedSize", "pciType", "volType",   "isThin",
                "persistentDisk", "indepDisk"};
    }
    if (kind == "cluster-list") return under("clusters[].", {"name", "uri", "urn"});
    if (kind == "host-list") {
        return join({"total"}, under("hosts[].", {"name", "uri", "urn", "description", "status", "ip",
                                                  "clusterName", "clusterUrn", "cpuMHz", "cpuQuantity",
                                                  "memResource.totalSizeMB", "memResource.allocatedSizeMB"}));
    }
    if (kind == "datastore-list") {
        return join(
            {"total"},
            under("datastores[].", {"name", "uri", "urn", "description", "status", "storageType", "isThin",
                                    "capacityGB", "usedSizeGB", "freeSizeGB", "suName", "suUrn", "hosts[]",
                                    "storageUnits[].urn", "storageUnits[].sdName", "storageUnits[].suName"}));
    }
    if (kind == "switch-list") {
        return under("dvSwitchs[].",
                     {"name", "uri", "urn", "description", "type", "portGroupNum", "isIgmpSnooping"});
    }
    if (kind == "portgroup-list") {
        return join({"total"},
                    under("portGroups[].",
                          {"name", "uri", "urn", "description", "portType", "vlanId", "txLimit",
                           "txPeakLimit", "txBurstSize", "txWeight", "priority", "rxLimit", "rxPeakLimit",
                           "rxBurstSize", "isDhcpIsolation", "isIpMacBind", "ipBcstSuppress"}));
    }
    if (kind.rfind("task-", 0) == 0 && kind != "task-list") return task;
    return {};
}

TEST_F(VrmsimInventory, AnswersTakeTheShapesOfARealVrm) {
    const auto shapes = ReadRealShapes();
    ASSERT_EQ(shapes.size(), 14u) << FCSDK_TEST_DATA_DIR;

    // The objects to read: a running VM that names its guest OS, a template, a volume without
    // changed-block tracking, the first host and the first (SAN) datastore.
    std::string vmName, vmUri, stoppedVmUri, templateName, volumeUri;
    vrmsim::Simulator& sim = server().sim();
    for (const vrmsim::VmState& vm : sim.Vms()) {
        if (vm.isTemplate && templateName.empty()) templateName = vm.name;
        if (!vm.isTemplate && vm.status == "stopped" && stoppedVmUri.empty()) stoppedVmUri = vm.uri;
        if (!vm.isTemplate && vm.status == "running" && !vm.guestOSName.empty() && vmUri.empty()) {
            vmName = vm.name;
            vmUri = vm.uri;
        }
    }
    for (const vrmsim::VolumeState& volume : sim.Volumes()) {
        if (volume.volCBTCreateTime.empty() && !volume.vmUrn.empty() && volumeUri.empty())
            volumeUri = volume.uri;
    }
    const std::string hostName = sim.Objects("hosts").at(0).name;
    const std::string datastoreName = sim.Objects("datastores").at(0).name;
    const std::string vmUrn = server().siteUrn() + ":vms:i-00000001";
    // Tasks of kinds vrmsim has no request for, ended at once; one more that keeps running.
    const std::string deployTaskUri = sim.StartTask("DeployVM", vmUrn, 0).uri;
    const std::string systemTaskUri = sim.StartTask("InjectCustomizationTask", vmUrn, 0).uri;
    const std::string runningTaskUri = sim.StartTask("MigrateVolorVmTask", vmUrn, 100).uri;
    ASSERT_FALSE(vmUri.empty() || stoppedVmUri.empty() || templateName.empty() || volumeUri.empty());
    client_->Get(runningTaskUri);  // from waiting to running

    auto finishedTask = [&](const std::string& actionUri) {
        std::string uri(client_->Send("POST", actionUri, "{}").Object().at("taskUri").as_string());
        json::value task;
        for (int poll = 0; poll < 10; ++poll) {
            task = client_->Get(uri).Json();
            if (task.at("status") == "success") break;
        }
        return task;
    };
    const std::string switchUri(List("/dvswitchs", "dvSwitchs")[0].at("uri").as_string());
    const std::map<std::string, json::value> answers = {
        {"vm-list", Get("/vms?name=" + vmName).Json()},
        {"template-list", Get("/vms?isTemplate=true&name=" + templateName).Json()},
        {"vm", client_->Get(vmUri).Json()},
        {"volume", client_->Get(volumeUri).Json()},
        {"cluster-list", Get("/clusters").Json()},
        {"host-list", Get("/hosts?name=" + hostName).Json()},
        {"datastore-list", Get("/datastores?name=" + datastoreName).Json()},
        {"switch-list", Get("/dvswitchs").Json()},
        {"portgroup-list", client_->Get(switchUri + "/portgroups").Json()},
        {"task-deploy", client_->Get(deployTaskUri).Json()},
        {"task-stop", finishedTask(vmUri + "/action/stop")},
        {"task-start", finishedTask(stoppedVmUri + "/action/start")},
        {"task-system", client_->Get(systemTaskUri).Json()},
        {"task-list", Get("/tasks?status=running").Json()},
    };

    std::size_t matched = 0, total = 0;
    for (const auto& [kind, rows] : shapes) {
        ASSERT_TRUE(answers.count(kind)) << kind;
        std::map<std::string, std::vector<const json::value*>> paths;
        CollectPaths(answers.at(kind), "", paths);
        const std::set<std::string> reads = LibraryReads(kind);
        std::set<std::string> known;
        std::size_t kindMatched = 0;
        std::string misses;
        for (const RealKey& row : rows) {
            known.insert(row.path);
            auto found = paths.find(row.path);
            bool ok = found != paths.end() &&
                      std::all_of(found->second.begin(), found->second.end(), [&](const json::value* value) {
                          return HasType(*value, row.type) && HasFormat(*value, row.format);
                      });
            if (ok) {
                ++kindMatched;
                continue;
            }
            misses += "\n    " + row.path + " (" + row.type + (row.format.empty() ? "" : ", " + row.format) +
                      ")" + (found == paths.end() ? " missing" : " differs");
            EXPECT_EQ(reads.count(row.path), 0u) << kind << ": the library reads " << row.path;
        }
        std::string extras;
        for (const auto& entry : paths) {
            if (!known.count(entry.first)) extras += " " + entry.first;
        }
        // A key a VRM does not send is one the library and its callers must not come to rely on.
        EXPECT_TRUE(extras.empty()) << kind << ": keys a VRM does not send:" << extras;
        std::printf("fidelity %-15s %3zu/%3zu  %5.1f%%%s\n", kind.c_str(), kindMatched, rows.size(),
                    100.0 * static_cast<double>(kindMatched) / static_cast<double>(rows.size()),
                    misses.c_str());
        matched += kindMatched;
        total += rows.size();
    }
    const double score = 100.0 * static_cast<double>(matched) / static_cast<double>(total);
    std::printf("fidelity %-15s %3zu/%3zu  %5.1f%%\n", "overall", matched, total, score);
    EXPECT_GE(score, 95.0);
}

// ---------------------------------------------------------------------------------------------
// Faults.

class VrmsimFaults : public VrmsimInventory {
  protected:
    vrmsim::Fault On(vrmsim::FaultKind kind, const std::string& path) {
        vrmsim::Fault fault;
        fault.kind = kind;
        fault.method = "GET";
        fault.path = path;
        return fault;
    }
    std::string Sites() const { return "/service/sites"; }
};

TEST_F(VrmsimFaults, StatusHtmlAndBodyReplaceTheAnswer) {
    vrmsim::Fault status = On(vrmsim::FaultKind::Status, Sites());
    status.status = 503;
    status.errorCode = "10300025";
    status.errorDes = "busy";
    server().AddFault(status);
    Reply reply = client_->Get(Sites());
    EXPECT_EQ(reply.status, 503);
    EXPECT_EQ(reply.Object(), (json::object{{"errorCode", "10300025"}, {"errorDes", "busy"}}));

    server().AddFault(On(vrmsim::FaultKind::Html, Sites()));
    reply = client_->Get(Sites());
    EXPECT_EQ(reply.status, 502);
    EXPECT_EQ(reply.headers["content-type"], "text/html");
    EXPECT_NE(reply.body.find("<html>"), std::string::npos);

    vrmsim::Fault body = On(vrmsim::FaultKind::Body, Sites());
    body.body = "{\"sites\": [";
    server().AddFault(body);
    reply = client_->Get(Sites());
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "{\"sites\": [");

    EXPECT_EQ(client_->Get(Sites()).status, 200);  // every fault fired once
    EXPECT_EQ(server().sim().PendingFaults(), 0u);
    EXPECT_EQ(server().Stats().faults, 3u);
}

TEST_F(VrmsimFaults, CountSkipMethodPathAndQueryDecideWhichRequestsFail) {
    vrmsim::Fault fault = On(vrmsim::FaultKind::Status, server().siteUri() + "/vms");
    fault.query = "offset=100";
    fault.skip = 1;
    fault.count = 2;
    server().AddFault(fault);
    std::vector<long> statuses;
    for (const char* query : {"", "?offset=100", "?offset=100", "?limit=5", "?offset=100", "?offset=100"}) {
        statuses.push_back(Get(std::string("/vms") + query).status);
    }
    EXPECT_EQ(statuses, (std::vector<long>{200, 200, 500, 200, 500, 200}));
    vrmsim::Fault onDelete = fault;
    onDelete.method = "DELETE";
    onDelete.query.clear();
    onDelete.skip = 0;
    onDelete.count = 1;
    server().AddFault(onDelete);
    EXPECT_EQ(Get("/vms").status, 200);
    EXPECT_EQ(client_->Send("DELETE", server().siteUri() + "/vms").status, 500);

    fault.query.clear();
    fault.skip = 0;
    fault.count = -1;
    server().AddFault(fault);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Get("/vms").status, 500);
    EXPECT_EQ(server().sim().PendingFaults(), 1u);
    server().sim().ClearFaults();
    EXPECT_EQ(Get("/vms").status, 200);
}

TEST_F(VrmsimFaults, ConnectionFaultsBreakTheTransfer) {
    server().AddFault(On(vrmsim::FaultKind::Drop, Sites()));
    Reply drop = client_->Get(Sites());
    EXPECT_EQ(drop.code, CURLE_PARTIAL_FILE) << curl_easy_strerror(drop.code);
    EXPECT_EQ(drop.status, 200);

    server().AddFault(On(vrmsim::FaultKind::Close, Sites()));
    Reply close = client_->Get(Sites());
    EXPECT_NE(close.code, CURLE_OK);
    EXPECT_EQ(close.status, 0);

    vrmsim::Fault stall = On(vrmsim::FaultKind::Stall, Sites());
    stall.ms = 5000;
    server().AddFault(stall);
    Reply stalled = client_->Send("GET", Sites(), "", {}, 300);
    EXPECT_EQ(stalled.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(stalled.status, 200);  // the headers came, the body did not
    server().Reset();                // wakes the stalled answer

    vrmsim::Fault delay = On(vrmsim::FaultKind::Delay, Sites());
    delay.ms = 20;
    server().AddFault(delay);
    EXPECT_EQ(client_->Get(Sites()).status, 200);  // a delayed answer is whole, and reset kept the token
    EXPECT_EQ(server().Requests().back().fault, "delay");
}

TEST_F(VrmsimFaults, SpoiledAnswersKeepTheStatus) {
    Reply full = client_->Get(Sites());
    vrmsim::Fault truncate = On(vrmsim::FaultKind::Truncate, Sites());
    server().AddFault(truncate);
    Reply cut = client_->Get(Sites());
    EXPECT_EQ(cut.code, CURLE_OK);
    EXPECT_EQ(cut.status, 200);
    EXPECT_EQ(cut.body, full.body.substr(0, full.body.size() / 2));
    EXPECT_TRUE(cut.Json().is_null());

    server().AddFault(On(vrmsim::FaultKind::WrongTypes, Sites()));
    auto flipped = client_->Get(Sites()).Object();
    EXPECT_EQ(flipped.at("total").as_string(), "1");
    EXPECT_EQ(flipped.at("sites").as_array()[0].at("isSelf").as_string(), "true");

    vrmsim::Fault patch = On(vrmsim::FaultKind::WrongTypes, server().siteUri() + "/hosts");
    patch.patchJson = "{\"memResource\": 5, \"cpuMHz\": \"fast\"}";
    server().AddFault(patch);
    auto host = Get("/hosts").Object().at("hosts").as_array()[0].as_object();
    EXPECT_EQ(host.at("memResource").as_int64(), 5);
    EXPECT_EQ(host.at("cpuMHz").as_string(), "fast");

    vrmsim::Fault oversize = On(vrmsim::FaultKind::Oversize, Sites());
    oversize.megabytes = 2;
    server().AddFault(oversize);
    Reply big = client_->Get(Sites());
    EXPECT_EQ(big.code, CURLE_OK);
    EXPECT_EQ(big.body.size(), 2u * 1024 * 1024);
    EXPECT_TRUE(big.Json().is_object());
}

TEST_F(VrmsimFaults, ExpireTokenFaultRefusesTheRequestItHits) {
    vrmsim::Fault expire = On(vrmsim::FaultKind::ExpireToken, Sites());
    server().AddFault(expire);
    EXPECT_EQ(client_->Get(Sites()).status, 401);
    EXPECT_EQ(client_->Get(Sites()).status, 401);
    EXPECT_EQ(server().sim().LiveTokens(), 0u);
    ASSERT_TRUE(client_->LogIn(server()));
    EXPECT_EQ(client_->Get(Sites()).status, 200);
}

TEST_F(VrmsimInventory, ABodyAboveSixtyFourMegabytesIsRefusedUnread) {
    const std::string huge(64u * 1024 * 1024 + 1, ' ');
    EXPECT_EQ(client_->Send("POST", server().siteUri() + "/vms", huge, {}, 60000).status, 413);
    EXPECT_TRUE(server().Requests(server().siteUri() + "/vms").empty()) << "the body reached the handler";
}

TEST_F(VrmsimFaults, FaultsCanBeGivenAsJson) {
    std::string error;
    EXPECT_TRUE(server().sim().AddFaultJson(
        R"({"faults": [{"kind": "status", "path": "/service/sites", "status": 404, "errorCode": "1"},
                       {"kind": "delay", "ms": 1}]})",
        &error))
        << error;
    EXPECT_EQ(server().sim().PendingFaults(), 2u);
    for (const char* bad :
         {R"({"kind": "explode"})", R"({"kind": "status", "count": 0})",
          R"({"kind": "status", "status": "500"})", R"({"kind": "status", "status": 99})",
          R"({"kind": "html", "status": 600})", R"({"kind": "body", "status": -1})", "[1]", "not json"}) {
        EXPECT_FALSE(server().sim().AddFaultJson(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_EQ(server().sim().PendingFaults(), 2u);
    EXPECT_EQ(client_->Get(Sites()).status, 404);
}

// ---------------------------------------------------------------------------------------------
// Recording, stats, reset, control endpoints.

TEST_F(VrmsimInventory, RecordsEveryVrmRequestAsSent) {
    server().ClearRequests();
    client_->Get(server().siteUri() + "/vms?");
    Reply put = client_->Send("PUT", server().siteUri() + "/nothing/here?x=1%202", "{\"name\":\"n\"}",
                              {"Content-Type: application/json; charset=UTF-8"});
    client_->Get("/_sim/stats");
    auto requests = server().Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, server().siteUri() + "/vms?");
    EXPECT_TRUE(requests[0].hasQuery);
    EXPECT_EQ(requests[0].query, "");
    EXPECT_EQ(requests[0].Header("x-auth-token"), client_->token());
    EXPECT_EQ(requests[0].status, 200);
    EXPECT_EQ(requests[1].method, "PUT");
    EXPECT_EQ(requests[1].path, server().siteUri() + "/nothing/here");
    EXPECT_EQ(requests[1].query, "x=1%202");
    EXPECT_EQ(requests[1].QueryValues("x"), (std::vector<std::string>{"1 2"}));
    EXPECT_EQ(requests[1].body, "{\"name\":\"n\"}");
    EXPECT_EQ(SimServer::BodyObject(requests[1]).at("name").as_string(), "n");
    EXPECT_EQ(requests[1].status, 404);
    EXPECT_EQ(put.status, 404);
    EXPECT_LT(requests[0].seq, requests[1].seq);
    EXPECT_EQ(server().Requests(server().siteUri() + "/nothing/").size(), 1u);
    // A known path asked with another method answers 405.
    EXPECT_EQ(client_->Send("DELETE", "/service/versions").status, 405);

    auto viaHttp = client_->Get("/_sim/requests?path=" + server().siteUri()).Object();
    EXPECT_EQ(viaHttp.at("total").to_number<int>(), 2);
    EXPECT_EQ(viaHttp.at("requests").as_array()[1].at("body").as_string(), "{\"name\":\"n\"}");
}

TEST_F(VrmsimInventory, CountsTlsConnectionsAndRequestsPerPath) {
    auto before = server().Stats();
    for (int i = 0; i < 5; ++i) client_->Get("/service/sites");
    EXPECT_EQ(server().Stats().tlsConnections, before.tlsConnections);  // one kept-alive connection
    Client other(server());
    other.SetToken(client_->token());
    other.Get("/service/sites");
    other.Get("/service/sites");
    auto after = server().Stats();
    EXPECT_EQ(after.tlsConnections, before.tlsConnections + 1);
    EXPECT_EQ(after.requestsByPath["GET /service/sites"], 7u);
    EXPECT_EQ(after.requests, before.requests + 7);

    auto stats = client_->Get("/_sim/stats").Object();
    EXPECT_EQ(stats.at("tlsConnections").to_number<std::uint64_t>(), after.tlsConnections);
    EXPECT_EQ(stats.at("requestsByPath").at("GET /service/sites").to_number<int>(), 7);
}

TEST_F(VrmsimInventory, ResetRestoresTheSeededState) {
    // The first VM leaves the list as the GET of it arrives.
    const std::string uri = server().sim().Vms().front().uri;
    vrmsim::Fault gone;
    gone.kind = vrmsim::FaultKind::ListChange;
    gone.path = uri;
    gone.objects = -1;
    server().AddFault(gone);
    EXPECT_EQ(client_->Get(uri).status, 404);
    server().FailNext("GET", "/nothing", 500);
    client_->Send("POST", "/_sim/reset");
    EXPECT_EQ(client_->Get(uri).status, 200);
    EXPECT_EQ(server().sim().PendingFaults(), 0u);
    EXPECT_EQ(server().Requests().size(), 1u);
    EXPECT_EQ(server().Stats().requests, 1u);
}

TEST_F(VrmsimInventory, ControlEndpointsReadAndChangeTheSimulator) {
    auto info = client_->Get("/_sim/info").Object();
    EXPECT_EQ(info.at("siteUrn").as_string(), server().siteUrn());
    EXPECT_EQ(info.at("counts").at("vms").to_number<int>(), 20);
    EXPECT_EQ(info.at("counts").at("templates").to_number<int>(), 2);

    Reply bad = client_->Send("POST", "/_sim/faults", "{\"kind\":\"nope\"}");
    EXPECT_EQ(bad.status, 400);
    Reply added = client_->Send("POST", "/_sim/faults",
                                "{\"kind\":\"status\",\"path\":\"/service/versions\",\"status\":418}");
    EXPECT_EQ(added.Object().at("added").to_number<int>(), 1);
    EXPECT_EQ(client_->Get("/_sim/faults").Object().at("faults").as_array()[0].at("status").as_int64(), 418);
    EXPECT_EQ(client_->Get("/service/versions").status, 418);

    Reply config =
        client_->Send("PUT", "/_sim/config", R"({"versions": [{"version": "v8.0"}], "pageSize": 3})");
    EXPECT_EQ(config.status, 200);
    auto versions = client_->Get("/service/versions").Object().at("versions").as_array();
    ASSERT_EQ(versions.size(), 1u);
    EXPECT_EQ(versions[0].at("loginUri").as_string(), "/service/session");
    EXPECT_EQ(List("/vms", "vms").size(), 3u);
    EXPECT_EQ(client_->Send("PUT", "/_sim/config", R"({"pageSize": "big"})").status, 400);

    Reply expired = client_->Send("POST", "/_sim/tokens/expire");
    EXPECT_GE(expired.Object().at("expired").to_number<int>(), 1);
    EXPECT_EQ(client_->Get("/service/sites").status, 401);
    EXPECT_EQ(client_->Get("/_sim/nothing").status, 404);
}

TEST_F(VrmsimInventory, APostWithoutLengthHeadersHasAnEmptyBody) {
    // libcurl sends neither Content-Length nor Transfer-Encoding for a custom POST without data.
    server().ClearRequests();
    CURL* raw = curl_easy_init();
    curl_slist* connectTo = curl_slist_append(
        nullptr, (server().host() + ":7443:127.0.0.1:" + std::to_string(server().port())).c_str());
    std::string url = "https://" + server().host() + ":7443/service/session";
    curl_easy_setopt(raw, CURLOPT_URL, url.c_str());
    curl_easy_setopt(raw, CURLOPT_CONNECT_TO, connectTo);
    curl_easy_setopt(raw, CURLOPT_CAINFO, server().caFile().c_str());
    curl_easy_setopt(raw, CURLOPT_CUSTOMREQUEST, "POST");
    curl_easy_setopt(raw, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(
        raw, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
    EXPECT_EQ(curl_easy_perform(raw), CURLE_OK);
    long status = 0;
    curl_easy_getinfo(raw, CURLINFO_RESPONSE_CODE, &status);
    EXPECT_EQ(status, 401);  // no login headers, but answered at once
    curl_easy_cleanup(raw);
    curl_slist_free_all(connectTo);
    auto requests = server().Requests("/service/session");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, "");
    EXPECT_FALSE(requests[0].HasHeader("Content-Length"));
}

TEST(VrmsimLifecycle, StopClosesIdleKeptAliveConnections) {
    auto server = std::make_unique<SimServer>();
    ASSERT_TRUE(server->ok()) << server->error();
    Client client(*server);
    ASSERT_EQ(client.Get("/service/versions").status, 200);  // the connection stays open and idle
    auto start = std::chrono::steady_clock::now();
    server->sim().Stop();
    // The keep-alive timeout is 60 s; Stop must not wait for it.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(server->sim().Running());
    EXPECT_NE(client.Get("/service/versions").code, CURLE_OK);
}

// ---------------------------------------------------------------------------------------------
// Certificates.

TEST(VrmsimCertificates, BadCertificatesAreRefusedByAVerifyingClient) {
    struct Case {
        vrmsim::CertificateKind kind;
        bool accepted;
    };
    for (const Case& c :
         {Case{vrmsim::CertificateKind::Valid, true}, Case{vrmsim::CertificateKind::WrongHost, false},
          Case{vrmsim::CertificateKind::Expired, false}, Case{vrmsim::CertificateKind::UnknownCa, false}}) {
        vrmsim::Options options;
        options.certificate = c.kind;
        SimServer server(options);
        ASSERT_TRUE(server.ok()) << server.error();
        Client client(server);
        Reply reply = client.Get("/service/versions");
        if (c.accepted) {
            EXPECT_EQ(reply.code, CURLE_OK) << curl_easy_strerror(reply.code);
        } else {
            EXPECT_EQ(reply.code, CURLE_PEER_FAILED_VERIFICATION)
                << static_cast<int>(c.kind) << ": " << curl_easy_strerror(reply.code);
        }
    }
}

TEST(VrmsimCertificates, ExistingCertificatesAreKeptWhileTheyFit) {
    SimServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    auto read = [](const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    const std::string dir = server.certDir();
    std::string ca = read(dir + "/ca.pem"), cert = read(dir + "/server.pem");
    std::string error;
    ASSERT_TRUE(vrmsim::EnsureCertificates(dir, "vrm.local", &error)) << error;
    EXPECT_EQ(read(dir + "/ca.pem"), ca);
    EXPECT_EQ(read(dir + "/server.pem"), cert);
    // Another host name needs another server certificate from the same CA.
    ASSERT_TRUE(vrmsim::EnsureCertificates(dir, "other.local", &error)) << error;
    EXPECT_EQ(read(dir + "/ca.pem"), ca);
    EXPECT_NE(read(dir + "/server.pem"), cert);
    EXPECT_EQ(vrmsim::Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
