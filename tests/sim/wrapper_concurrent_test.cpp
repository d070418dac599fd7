// Several wrappers, each on a thread of its own, connecting and filling VMs at the same moment. They
// share the process-wide guest OS catalogue; the ThreadSanitizer build runs this test.

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "FusionComputeWrapper.h"
#include "SimServer.h"
#include "WrapperTestPeer.h"

namespace {

namespace fc = FusionComputeSDKWrapper;
namespace json = boost::json;
using Peer = fc::CFusionComputeWrapperTestPeer;

constexpr int kWrappers = 8;
constexpr int kRoundsPerWrapper = 3;
constexpr int kListedVMs = 12;

struct ThreadResult {
    bool connected = false;
    int successfulFills = 0;
    std::vector<fc::SVMInfoLib> vms;
};

json::object VMWithNic(const std::string& site, int index, const std::string& portGroupUrn) {
    const std::string id = std::to_string(index);
    const json::array nics{json::object{{"name", "nic1"}, {"portGroupUrn", portGroupUrn}}};
    return json::object{
        {"name", "cvm-" + id},
        {"urn", "urn:sites:X:vms:i-c" + id},
        {"uri", site + "/vms/i-c" + id},
        {"uuid", "uuid-c" + id},
        {"osOptions", json::object{{"osType", index % 2 == 0 ? "Windows" : "LINUX"}, {"osVersion", 1}}},
        {"vmConfig", json::object{{"nics", nics}}}};
}

TEST(WrapperConcurrent, EightWrappersFillVMsFromEightThreadsAtOnce) {
    fcsdk_test::SimServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    Peer::ResetGuestOSCatalogue();

    // A switch of the simulated site, to name the NICs by.
    fc::SNetworkInfoLib network;
    {
        fc::CFusionComputeWrapper setup;
        ASSERT_TRUE(setup.Connect(server.host(), server.user(), server.password())) << setup.GetLastError();
        fc::SHostInfoLib host;
        ASSERT_TRUE(setup.GetHostInfo("CNA01", "", host, fc::VM_PROP_HOST_NW_LIST));
        ASSERT_FALSE(host.networks.empty());
        network = host.networks[0];
    }
    Peer::ResetGuestOSCatalogue();

    const std::string site = server.siteUri();
    json::array vms;
    for (int i = 0; i < kListedVMs; ++i) vms.push_back(VMWithNic(site, i, network.urn + ":portgroups:1"));
    vrmsim::Fault list;
    list.kind = vrmsim::FaultKind::Body;
    list.method = "GET";
    list.path = site + "/vms";
    list.query = "detail=2";
    list.count = -1;
    list.body = json::serialize(json::object{{"total", kListedVMs}, {"vms", vms}});
    vrmsim::Fault catalogue;
    catalogue.kind = vrmsim::FaultKind::Body;
    catalogue.method = "GET";
    catalogue.path = site + "/vms/osversions";
    catalogue.count = -1;
    catalogue.body = R"({"windows": [{"id": 1, "versionDes": "Windows Server 2022"}],
                         "linux": [{"id": 1, "versionDes": "openEuler 22.03"}]})";
    // The catalogue rule first: the list rule's path is a prefix of the catalogue's.
    server.AddFault(catalogue);
    server.AddFault(list);

    std::vector<ThreadResult> results(kWrappers);
    std::vector<std::thread> threads;
    for (int t = 0; t < kWrappers; ++t) {
        threads.emplace_back([&server, &results, t] {
            ThreadResult& result = results[t];
            fc::CFusionComputeWrapper wrapper;
            result.connected = wrapper.Connect(server.host(), server.user(), server.password());
            if (!result.connected) return;
            for (int round = 0; round < kRoundsPerWrapper; ++round) {
                std::vector<fc::SVMInfoLib> listed;
                if (wrapper.GetVMInfoList(listed, fc::VM_PROP_VM_GUEST_INFO | fc::VM_PROP_VM_NW_LIST)) {
                    ++result.successfulFills;
                    result.vms = listed;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    for (int t = 0; t < kWrappers; ++t) {
        SCOPED_TRACE(t);
        const ThreadResult& result = results[t];
        ASSERT_TRUE(result.connected);
        EXPECT_EQ(result.successfulFills, kRoundsPerWrapper);
        ASSERT_EQ(result.vms.size(), static_cast<size_t>(kListedVMs));
        for (size_t i = 0; i < result.vms.size(); ++i) {
            const fc::SVMInfoLib& vm = result.vms[i];
            EXPECT_EQ(vm.guestOSName, i % 2 == 0 ? "Windows Server 2022" : "openEuler 22.03") << vm.name;
            ASSERT_EQ(vm.nics.size(), 1u);
            EXPECT_EQ(vm.nics[0].dvSwitchName, network.name);
            EXPECT_EQ(vm.nics[0].dvSwitchUrn, network.urn);
        }
    }
    EXPECT_TRUE(Peer::GuestOSCatalogueCached());
    // Read at most once per wrapper: once one read has landed nobody reads again.
    size_t catalogueReads = 0;
    for (const auto& request : server.Requests(site + "/vms/osversions"))
        catalogueReads += request.method == "GET";
    EXPECT_GE(catalogueReads, 1u);
    EXPECT_LE(catalogueReads, static_cast<size_t>(kWrappers));
    Peer::ResetGuestOSCatalogue();
}

TEST(WrapperConcurrent, GuestOSLookupsOnOtherThreadsRaceWithTheFirstCatalogueRead) {
    fcsdk_test::SimServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    fc::CFusionComputeWrapper reader;
    ASSERT_TRUE(reader.Connect(server.host(), server.user(), server.password())) << reader.GetLastError();
    Peer::ResetGuestOSCatalogue();
    vrmsim::Fault catalogue;
    catalogue.kind = vrmsim::FaultKind::Body;
    catalogue.method = "GET";
    catalogue.path = server.siteUri() + "/vms/osversions";
    catalogue.body = R"({"linux": [{"id": 4, "versionDes": "EulerOS 2.0"}]})";
    server.AddFault(catalogue);

    // These threads touch nothing but the catalogue, so only its own lock orders them with the read.
    constexpr int kLookupThreads = 4;
    std::atomic<bool> readDone{false};
    std::vector<std::string> finalNames(kLookupThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kLookupThreads; ++t) {
        threads.emplace_back([&readDone, &finalNames, t] {
            fc::CFusionComputeWrapper wrapper;
            for (;;) {
                const bool last = readDone.load();
                std::string name;
                Peer::LookupGuestOSName(wrapper, "linux", 4, name);
                if (!name.empty() || last) {
                    finalNames[t] = name;
                    return;
                }
            }
        });
    }
    std::vector<fc::SVMInfoLib> vms;
    const bool listed = reader.GetVMInfoList(vms, 0);
    readDone.store(true);
    for (std::thread& thread : threads) thread.join();

    ASSERT_TRUE(listed) << reader.GetLastError();
    for (const std::string& name : finalNames) EXPECT_EQ(name, "EulerOS 2.0");
    Peer::ResetGuestOSCatalogue();
}

}  // namespace
