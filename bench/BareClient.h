#ifndef FCSDK_BENCH_BARECLIENT_H
#define FCSDK_BENCH_BARECLIENT_H

// The yardstick of the benchmarks: what a client written on bare libcurl (one reused easy handle) and
// Boost.JSON's DOM (boost::json::parse) spends on the library's requests. BareVmPage reads the same
// fields of a page of VMs into the same records as the library's parser; BareClient sends the requests
// the library sent (as the simulator recorded them) with the same routing, CA file and headers.

#include <curl/curl.h>

#include <boost/json.hpp>
#include <cctype>
#include <string>
#include <vector>

#include "FusionComputeRecords.h"

namespace fcsdk_bench {

namespace bare {

namespace json = boost::json;
using SBaseInfoLib = FusionComputeSDKWrapper::SBaseInfoLib;
using SDiskInfoLib = FusionComputeSDKWrapper::SDiskInfoLib;
using SVMInfoLib = FusionComputeSDKWrapper::SVMInfoLib;
using SVMNetworkCardInfoLib = FusionComputeSDKWrapper::SVMNetworkCardInfoLib;

inline std::string Str(const json::object& object, json::string_view key) {
    const json::value* value = object.if_contains(key);
    return value != nullptr && value->is_string() ? std::string(value->get_string()) : std::string();
}

inline int Int(const json::object& object, json::string_view key) {
    const json::value* value = object.if_contains(key);
    return value != nullptr && value->is_int64() ? static_cast<int>(value->get_int64()) : 0;
}

inline bool Bool(const json::object& object, json::string_view key) {
    const json::value* value = object.if_contains(key);
    return value != nullptr && value->is_bool() && value->get_bool();
}

inline void ReadBase(const json::object& object, SBaseInfoLib& record) {
    record.name = Str(object, "name");
    record.description = Str(object, "description");
    record.uri = Str(object, "uri");
    record.urn = Str(object, "urn");
}

inline void ReadDisk(const json::object& object, SDiskInfoLib& record) {
    ReadBase(object, record);
    if (record.name.empty()) record.name = Str(object, "diskName");
    if (record.urn.empty()) record.urn = Str(object, "volumeUrn");
    record.uuid = Str(object, "uuid");
    if (record.uuid.empty()) record.uuid = Str(object, "volumeUuid");
    record.volumeUrl = Str(object, "volumeUrl");
    record.datastoreName = Str(object, "datastoreName");
    record.datastoreUrn = Str(object, "datastoreUrn");
    record.quantityGB = Int(object, "quantityGB");
    record.userUsedSize = static_cast<uint64_t>(Int(object, "userUsedSize"));
    record.pciType = Str(object, "pciType");
    record.sequenceNum = Int(object, "sequenceNum");
    record.volType = Int(object, "volType");
    record.isThin = Bool(object, "isThin");
    record.persistentDisk = Bool(object, "persistentDisk");
    record.indepDisk = Bool(object, "indepDisk");
}

inline void ReadNic(const json::object& object, SVMNetworkCardInfoLib& record) {
    ReadBase(object, record);
    record.nicType = Int(object, "nicType");
    record.sequenceNum = Int(object, "sequenceNum");
    record.portGroupName = Str(object, "portGroupName");
    record.portGroupUrn = Str(object, "portGroupUrn");
    record.portId = Str(object, "portId");
    record.ip = Str(object, "ip");
    record.mac = Str(object, "mac");
    record.virtIo = Int(object, "virtIo");
}

template <typename Record, typename Reader>
void ReadList(const json::object& object, json::string_view key, std::vector<Record>& records, Reader read) {
    const json::value* list = object.if_contains(key);
    if (list == nullptr || !list->is_array()) return;
    for (const json::value& element : list->get_array()) {
        if (!element.is_object()) continue;
        Record record;
        read(element.get_object(), record);
        records.push_back(std::move(record));
    }
}

inline void ReadVm(const json::object& object, SVMInfoLib& record) {
    ReadBase(object, record);
    record.status = Str(object, "status");
    record.uuid = Str(object, "uuid");
    record.hostName = Str(object, "hostName");
    record.hostUrn = Str(object, "hostUrn");
    record.clusterName = Str(object, "clusterName");
    record.clusterUrn = Str(object, "clusterUrn");
    if (const json::value* config = object.if_contains("vmConfig");
        config != nullptr && config->is_object()) {
        ReadList(config->get_object(), "disks", record.disks, ReadDisk);
        ReadList(config->get_object(), "nics", record.nics, ReadNic);
    }
    if (const json::value* os = object.if_contains("osOptions"); os != nullptr && os->is_object()) {
        record.osType = Str(os->get_object(), "osType");
        record.osVersion = Int(os->get_object(), "osVersion");
        record.guestOSName = Str(os->get_object(), "guestOSName");
    }
    record.toolsVersion = Str(object, "toolsVersion");
    record.isTemplate = Bool(object, "isTemplate");
}

}  // namespace bare

/// One page of the VM list ({"total": N, "vms": [...]}) parsed with boost::json::parse and read into
/// `vms` (appended); false when the text is not such a page.
inline bool BareVmPage(const std::string& body, std::vector<FusionComputeSDKWrapper::SVMInfoLib>& vms,
                       unsigned int& total) {
    boost::json::error_code error;
    const boost::json::value page = boost::json::parse(body, error);
    if (error || !page.is_object()) return false;
    total = static_cast<unsigned int>(bare::Int(page.get_object(), "total"));
    bare::ReadList(page.get_object(), "vms", vms, bare::ReadVm);
    return true;
}

/// One request as the library sent it: method, target (path and query), body and the header lines that
/// matter to the VRM (Accept, Content-Type, X-Auth-*).
struct BareRequest {
    std::string method;
    std::string target;
    std::string body;
    std::vector<std::string> headers;
};

/// The requests the simulator recorded (vrmsim::RecordedRequest), as BareRequests.
template <typename Recorded>
std::vector<BareRequest> BareRequestsOf(const std::vector<Recorded>& recorded) {
    std::vector<BareRequest> requests;
    for (const Recorded& record : recorded) {
        BareRequest request{record.method, record.target, record.body, {}};
        for (const auto& [name, value] : record.headers) {
            std::string lower;
            for (const char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower == "accept" || lower == "content-type" || lower.rfind("x-auth-", 0) == 0)
                request.headers.push_back(name + ": " + value);
        }
        requests.push_back(std::move(request));
    }
    return requests;
}

/// A client on one reused libcurl easy handle (so one TLS connection), with the library's routing
/// (CURLOPT_CONNECT_TO) and CA file, that sends BareRequests and keeps each answer body in a string.
class BareClient {
  public:
    /// `base` is "https://host:7443", `connectTo` the HOST:PORT:ADDRESS:PORT routing.
    BareClient(const std::string& base, const std::string& connectTo, const std::string& caFile)
        : base_(base), handle_(curl_easy_init()) {
        route_ = curl_slist_append(nullptr, connectTo.c_str());
        curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle_, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(handle_, CURLOPT_CAINFO, caFile.c_str());
        curl_easy_setopt(handle_, CURLOPT_CONNECT_TO, route_);
        curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &BareClient::Append);
        curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &body_);
    }
    ~BareClient() {
        curl_easy_cleanup(handle_);
        curl_slist_free_all(route_);
    }
    BareClient(const BareClient&) = delete;
    BareClient& operator=(const BareClient&) = delete;

    /// Sends `request`; `body` receives the answer. False unless it answered 2xx.
    bool Send(const BareRequest& request, std::string& body) {
        curl_slist* headers = nullptr;
        for (const std::string& line : request.headers) headers = curl_slist_append(headers, line.c_str());
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, nullptr);
        if (request.method == "GET") {
            curl_easy_setopt(handle_, CURLOPT_HTTPGET, 1L);
        } else {
            curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, request.body.c_str());
            if (request.method != "POST")
                curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }
        body_.clear();
        const std::string url = base_ + request.target;
        curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
        const CURLcode code = curl_easy_perform(handle_);
        long status = 0;
        curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(headers);
        body.swap(body_);
        return code == CURLE_OK && status >= 200 && status < 300;
    }

  private:
    static size_t Append(char* data, size_t size, size_t count, void* user) {
        static_cast<std::string*>(user)->append(data, size * count);
        return size * count;
    }

    std::string base_;
    CURL* handle_;
    curl_slist* route_ = nullptr;
    std::string body_;
};

}  // namespace fcsdk_bench

#endif  // FCSDK_BENCH_BARECLIENT_H
