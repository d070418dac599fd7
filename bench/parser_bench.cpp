// Cost of reading one page of the VM list: 100 VMs at detail level 2 (about 300 KB of JSON, two disks
// and two NICs each, with the many keys the VRM sends that the records ignore) parsed and converted into
// SVMInfoLib records with ParsePagedList, beside the yardstick: Boost.JSON's own DOM parse of the same
// text with the same fields read into the same records (BM_BareParsePagedListOfVms); the ratio of the two
// is printed after the report.
//
//   build/bench/parser_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>

#include <boost/json.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "FusionComputeRecords.h"
#include "parser/FusionComputeParser.h"
#include "platform/MlJson.h"
#include "platform/json_spirit.h"

#include "BareClient.h"
#include "RatioReporter.h"

namespace {

using FusionComputeSDKWrapper::CFusionComputeParser;
using FusionComputeSDKWrapper::SVMInfoLib;

constexpr int kVmsPerPage = 100;
template <typename... Args>
std::string Format(const char* format, Args... args) {
    char text[512];
    std::snprintf(text, sizeof(text), format, args...);
    return text;
}

std::string Disk(int vm, int n) {
    return Format(R"({"storageType":"LOCAL","volumeUrl":"/service/sites/43BC08E8/volumes/%d%d",)"
                  R"("diskName":"app-%03d-disk%d",)",
                  vm, n) +
           Format(
               R"("volumeUrn":"urn:sites:43BC08E8:volumes:%d%d","volumeUuid":"c1f0a7d2-0b5e-4e55-8a2a-%06d%06d",)",
               vm, n) +
           Format(R"("quantityGB":%d,"isThin":true,"datastoreUrn":"urn:sites:43BC08E8:datastores:4%d",)",
                  40 + vm, n) +
           Format(R"("datastoreName":"autoDS_CNA-0%d","pciType":"VIRTIO","sequenceNum":%d,"volType":0,)", n,
                  n + 1) +
           R"("indepDisk":false,"persistentDisk":true,"userUsedSize":20480,"ioMode":"dataplane",)"
           R"("maxReadBytes":0,"maxWriteBytes":0,"siocFlag":0,"diskTag":null})";
}

std::string Nic(int vm, int n) {
    return Format(R"({"name":"Network Adapter %d","urn":"urn:sites:43BC08E8:vms:i-%08d:nics:)", n + 1, vm) +
           Format(R"(%d","uri":"/service/sites/43BC08E8/vms/i-%08d/nics/)", n, vm) +
           Format(R"(%d","portGroupUrn":"urn:sites:43BC08E8:dvswitchs:1:portgroups:%d",)", n, n + 1) +
           Format(R"("portGroupName":"managePortgroup","mac":"28:6e:d4:88:%02x:%02x",)", vm % 256, n) +
           Format(R"("ip":"192.168.%d.%d","ips6":[],)", n, vm % 250 + 2) +
           Format(R"("sequenceNum":%d,"virtIo":1,"nicType":2,"portId":"2%d","vlanId":0,"qosLimit":null,)", n,
                  n) +
           R"("bandwidth":0})";
}

std::string Vm(int i) {
    std::string vm =
        Format(R"({"urn":"urn:sites:43BC08E8:vms:i-%08d","uri":"/service/sites/43BC08E8/vms/i-%08d",)", i, i);
    vm += Format(R"("uuid":"7a3c9e2f-5b1d-4c8a-9f0e-%012d","name":"app-%03d","description":"",)", i, i);
    vm += R"("group":"","location":"urn:sites:43BC08E8:clusters:117","locationName":"ManagementCluster",)";
    vm += Format(R"("hostUrn":"urn:sites:43BC08E8:hosts:17%d","hostName":"CNA-0%d",)", i % 4, i % 4);
    vm +=
        R"("clusterUrn":"urn:sites:43BC08E8:clusters:117","clusterName":"ManagementCluster",)"
        R"("status":"running","pvDriverStatus":"running","toolInstallStatus":"empty","cdRomStatus":"empty",)"
        R"("isTemplate":false,"isLinkClone":false,"isBindingHost":false,"createTime":"2024-03-11 08:12:45",)"
        R"("toolsVersion":"2.5.0.156","hostGroupName":null,"vmType":0,"drStatus":9,"rpoStatus":0,)"
        R"("initSyncStatus":0,"objectPrivs":["VM_VIEW","VM_POWER","VM_SNAPSHOT"],"params":{"cdRomBootOrder":"1"},)"
        R"("vmConfig":{"cpu":{"quantity":4,"reservation":0,"weight":4000,"limit":0,"coresPerSocket":2,)"
        R"("cpuHotPlug":0,"cpuPolicy":"shared","cpuThreadPolicy":"prefer"},)"
        R"("memory":{"quantityMB":8192,"reservation":0,"weight":81920,"limit":0,"memHotPlug":0,)"
        R"("hugePage":"4K"},"disks":[)";
    for (int n = 0; n < 2; ++n) vm += (n ? "," : "") + Disk(i, n);
    vm += R"(],"nics":[)";
    for (int n = 0; n < 2; ++n) vm += (n ? "," : "") + Nic(i, n);
    vm += R"(],"usb":[],"gpu":[],"properties":{"bootOption":"disk","isEnableHa":true,"recoverByHost":false,)"
          R"("vmVncKeymapSetting":7,"clockMode":"freeClock","isAutoUpgrade":true,"secureVmType":""}},)";
    vm += Format(R"("osOptions":{"osType":"Linux","osVersion":%d,"guestOSName":"CentOS 7.6 64bit",)", 301);
    vm += Format(R"("hostname":"app-%03d","password":null},"vncAccessInfo":{"hostIp":"10.1.1.%d",)", i,
                 i % 4 + 2);
    vm += R"("vncPort":5901,"vncOldPassword":null},"minCompatibleimcVersion":"","uefiCert":null})";
    return vm;
}

const std::string& PageOfVms() {
    static const std::string page = [] {
        std::string text = R"({"total":2500,"vms":[)";
        for (int i = 0; i < kVmsPerPage; ++i) text += (i ? "," : "") + Vm(i);
        text += "]}";
        return text;
    }();
    return page;
}

void BM_ParsePagedListOfVms(benchmark::State& state) {
    const std::string& body = PageOfVms();
    CFusionComputeParser parser;
    for (auto _ : state) {
        std::vector<SVMInfoLib> vms;
        int64_t total = 0;
        if (!parser.ParsePagedList(body, "vms", vms, total) || vms.size() != kVmsPerPage ||
            vms.back().disks.size() != 2) {
            state.SkipWithError("the page did not convert");
        }
        benchmark::DoNotOptimize(vms.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
    state.counters["json_bytes"] = static_cast<double>(body.size());
}
BENCHMARK(BM_ParsePagedListOfVms)->Unit(benchmark::kMicrosecond);

// The yardstick: boost::json::parse of the same page and the same fields read into the same records.
void BM_BareParsePagedListOfVms(benchmark::State& state) {
    const std::string& body = PageOfVms();
    for (auto _ : state) {
        std::vector<SVMInfoLib> vms;
        unsigned int total = 0;
        if (!fcsdk_bench::BareVmPage(body, vms, total) || vms.size() != kVmsPerPage ||
            vms.back().disks.size() != 2) {
            state.SkipWithError("the page did not convert");
        }
        benchmark::DoNotOptimize(vms.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_BareParsePagedListOfVms)->Unit(benchmark::kMicrosecond);

// The JSON layer alone: text into json_spirit values, without converting into records.
void BM_JsonSpiritReadOnly(benchmark::State& state) {
    const std::string& body = PageOfVms();
    for (auto _ : state) {
        json_spirit::mObject object;
        benchmark::DoNotOptimize(MlJson::Unserialize(body, object));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_JsonSpiritReadOnly)->Unit(benchmark::kMicrosecond);

void BM_BoostJsonParse(benchmark::State& state) {
    const std::string& body = PageOfVms();
    for (auto _ : state) {
        boost::json::value value = boost::json::parse(body);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_BoostJsonParse)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    return fcsdk_bench::RunWithRatios(argc, argv);
}
