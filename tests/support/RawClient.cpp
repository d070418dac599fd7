#include "RawClient.h"

#include <cctype>

namespace fcsdk_test {

namespace {

size_t OnBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

size_t OnHeader(char* data, size_t size, size_t count, void* target) {
    std::string line(data, size * count);
    auto colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        value.erase(value.find_last_not_of("\r\n") + 1);
        (*static_cast<std::map<std::string, std::string>*>(target))[name] = value;
    }
    return size * count;
}

}  // namespace

boost::json::value RawReply::Json() const {
    boost::system::error_code ec;
    boost::json::value value = boost::json::parse(body, ec);
    return ec ? boost::json::value() : value;
}

boost::json::object RawReply::Object() const {
    boost::json::value value = Json();
    return value.is_object() ? value.as_object() : boost::json::object();
}

std::string RawReply::Str(const char* key) const {
    const boost::json::object o = Object();
    return o.contains(key) && o.at(key).is_string() ? std::string(o.at(key).as_string()) : std::string();
}

RawClient::RawClient(const SimServer& server, const std::string& caFile) {
    handle_ = curl_easy_init();
    connectTo_ = curl_slist_append(
        nullptr, (server.host() + ":7443:127.0.0.1:" + std::to_string(server.port())).c_str());
    curl_easy_setopt(handle_, CURLOPT_CONNECT_TO, connectTo_);
    curl_easy_setopt(handle_, CURLOPT_CAINFO, (caFile.empty() ? server.caFile() : caFile).c_str());
    curl_easy_setopt(handle_, CURLOPT_NOSIGNAL, 1L);
    base_ = "https://" + server.host() + ":7443";
}

RawClient::~RawClient() {
    curl_easy_cleanup(handle_);
    curl_slist_free_all(connectTo_);
}

RawReply RawClient::Send(const std::string& method, const std::string& path, const std::string& body,
                         std::vector<std::string> headers, long timeoutMs) {
    RawReply reply;
    if (!token_.empty()) headers.push_back("X-Auth-Token: " + token_);
    headers.insert(headers.end(), defaultHeaders_.begin(), defaultHeaders_.end());
    curl_slist* list = nullptr;
    for (const auto& header : headers) list = curl_slist_append(list, header.c_str());
    const std::string url = base_ + path;
    curl_easy_setopt(handle_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(handle_, CURLOPT_CUSTOMREQUEST, method == "GET" ? nullptr : method.c_str());
    curl_easy_setopt(handle_, CURLOPT_HTTPGET, method == "GET" ? 1L : 0L);
    if (method != "GET") {
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(handle_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    }
    curl_easy_setopt(handle_, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(handle_, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(handle_, CURLOPT_HEADERDATA, &reply.headers);
    reply.code = curl_easy_perform(handle_);
    curl_easy_getinfo(handle_, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(list);
    return reply;
}

RawReply RawClient::Post(const std::string& path, const boost::json::value& body) {
    return Send("POST", path, boost::json::serialize(body), {"Content-Type: application/json"});
}

RawReply RawClient::Put(const std::string& path, const boost::json::value& body) {
    return Send("PUT", path, boost::json::serialize(body), {"Content-Type: application/json"});
}

RawReply RawClient::Login(const std::string& user, const std::string& password) {
    token_.clear();
    return Send("POST", "/service/session", "",
                {"X-Auth-User:" + user, "X-Auth-Key:" + vrmsim::Sha256Hex(password), "X-Auth-UserType:0",
                 "X-Auth-AuthType:0"});
}

bool RawClient::LogIn(const SimServer& server) {
    RawReply reply = Login(server.user(), server.password());
    token_ = reply.headers["x-auth-token"];
    return reply.status == 200 && !token_.empty();
}

}  // namespace fcsdk_test
