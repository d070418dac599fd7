#include "SimServer.h"

#include <curl/curl.h>

#include <boost/json/parse.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fcsdk_test {

namespace {

std::string MakeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fcsdk-sim-XXXXXX").string();
    if (!mkdtemp(&pattern[0])) return std::string();
    return pattern;
}

size_t CollectAnswer(char* data, size_t size, size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(data, size * count);
    return size * count;
}

}  // namespace

std::string UriOf(const std::string& urn) {
    std::string uri = "/service/" + urn.substr(4);
    std::replace(uri.begin(), uri.end(), ':', '/');
    return uri;
}

SimServer::SimServer(vrmsim::Options options, std::map<std::string, std::string> extraConfig)
    : config_(std::move(extraConfig)) {
    if (const char* previous = std::getenv("FCSDK_CONFIG")) {
        hadPreviousConfig_ = true;
        previousConfig_ = previous;
    }
    tempDir_ = MakeTempDir();
    if (tempDir_.empty()) {
        error_ = "cannot create a temporary directory";
        return;
    }
    certDir_ = tempDir_ + "/certs";
    configPath_ = tempDir_ + "/fcsdk.ini";
    options.listenHost = "127.0.0.1";
    options.port = 0;
    options.certDir = certDir_;
    sim_ = std::make_unique<vrmsim::Simulator>(std::move(options));
    if (!sim_->Start()) {
        error_ = "vrmsim did not start: " + sim_->LastError();
        return;
    }
    WriteConfig();
    ok_ = true;
}

SimServer::~SimServer() {
    if (sim_) sim_->Stop();
    if (hadPreviousConfig_) {
        setenv("FCSDK_CONFIG", previousConfig_.c_str(), 1);
    } else {
        unsetenv("FCSDK_CONFIG");
    }
    if (!tempDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(tempDir_, ignored);
    }
}

void SimServer::WriteConfig() {
    std::map<std::string, std::map<std::string, std::string>> sections;
    sections["Transport"]["sConnectTo"] = host() + ":7443:127.0.0.1:" + std::to_string(port());
    sections["Transport"]["sCAFile"] = caFile();
    for (const auto& entry : config_) {
        auto slash = entry.first.find('/');
        if (slash == std::string::npos) continue;
        std::string section = entry.first.substr(0, slash), key = entry.first.substr(slash + 1);
        if (entry.second.empty()) {
            sections[section].erase(key);
        } else {
            sections[section][key] = entry.second;
        }
    }
    std::ofstream out(configPath_, std::ios::trunc);
    for (const auto& section : sections) {
        out << "[" << section.first << "]\n";
        for (const auto& value : section.second) out << value.first << " = " << value.second << "\n";
        out << "\n";
    }
    out.close();
    setenv("FCSDK_CONFIG", configPath_.c_str(), 1);
}

std::string SimServer::host() const {
    return sim_ ? sim_->options().hostName : std::string();
}
std::string SimServer::user() const {
    return sim_ ? sim_->Config().user : std::string();
}
std::string SimServer::password() const {
    return sim_ ? sim_->Config().password : std::string();
}
int SimServer::port() const {
    return sim_ ? sim_->Port() : 0;
}
std::string SimServer::caFile() const {
    return certDir_ + "/ca.pem";
}
std::string SimServer::siteUrn() const {
    return sim_ ? sim_->SiteUrn() : std::string();
}
std::string SimServer::siteUri() const {
    return sim_ ? sim_->SiteUri() : std::string();
}

void SimServer::SetConfigValue(const std::string& sectionKey, const std::string& value) {
    config_[sectionKey] = value;
    if (ok_) WriteConfig();
}

void SimServer::Reset() {
    if (!sim_) return;
    sim_->Reset();
    if (ok_) WriteConfig();
}

void SimServer::AddFault(const vrmsim::Fault& fault) {
    if (sim_) sim_->AddFault(fault);
}

namespace {

// A fault rule for the next `count` requests with this method, path prefix and query text.
vrmsim::Fault RuleFor(vrmsim::FaultKind kind, const std::string& method, const std::string& pathPrefix,
                      int count, const std::string& query = std::string()) {
    vrmsim::Fault fault;
    fault.kind = kind;
    fault.method = method;
    fault.path = pathPrefix;
    fault.query = query;
    fault.count = count;
    return fault;
}

}  // namespace

void SimServer::FailNext(const std::string& method, const std::string& pathPrefix, int status,
                         const std::string& code, const std::string& des, int count,
                         const std::string& query) {
    vrmsim::Fault fault = RuleFor(vrmsim::FaultKind::Status, method, pathPrefix, count, query);
    fault.status = status;
    fault.errorCode = code;
    fault.errorDes = des;
    AddFault(fault);
}

void SimServer::Answer(const std::string& method, const std::string& pathPrefix, const std::string& body,
                       int count, const std::string& query) {
    vrmsim::Fault fault = RuleFor(vrmsim::FaultKind::Body, method, pathPrefix, count, query);
    fault.body = body;
    AddFault(fault);
}

void SimServer::Patch(const std::string& pathPrefix, const boost::json::object& patch, int count) {
    vrmsim::Fault fault = RuleFor(vrmsim::FaultKind::WrongTypes, "GET", pathPrefix, count);
    fault.patchJson = boost::json::serialize(patch);
    AddFault(fault);
}

std::vector<vrmsim::RecordedRequest> SimServer::Requests(const std::string& pathPrefix) const {
    return sim_ ? sim_->Requests(pathPrefix) : std::vector<vrmsim::RecordedRequest>();
}

std::vector<vrmsim::RecordedRequest> SimServer::Sent(const std::string& method,
                                                     const std::string& path) const {
    std::vector<vrmsim::RecordedRequest> matching;
    for (const vrmsim::RecordedRequest& request : Requests(path)) {
        if (request.method == method && (path.empty() || request.path == path)) matching.push_back(request);
    }
    return matching;
}

void SimServer::ClearRequests() {
    if (sim_) sim_->ClearRequests();
}

vrmsim::Stats SimServer::Stats() const {
    return sim_ ? sim_->GetStats() : vrmsim::Stats();
}

void SimServer::ExpireTokens() {
    if (sim_) sim_->ExpireTokens();
}

boost::json::object SimServer::BodyObject(const vrmsim::RecordedRequest& request) {
    boost::system::error_code ec;
    boost::json::value value = boost::json::parse(request.body, ec);
    if (ec || !value.is_object()) return boost::json::object();
    return value.as_object();
}

boost::json::value SimServer::Control(const std::string& method, const std::string& path,
                                      const std::string& body) {
    CURL* curl = curl_easy_init();
    const std::string url = "https://" + host() + ":7443" + path;
    const std::string connectTo = host() + ":7443:127.0.0.1:" + std::to_string(port());
    curl_slist* connectList = curl_slist_append(nullptr, connectTo.c_str());
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    const std::string ca = caFile();
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectList);
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (!body.empty()) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectAnswer);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    const CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_slist_free_all(connectList);
    curl_easy_cleanup(curl);
    EXPECT_EQ(code, CURLE_OK) << curl_easy_strerror(code);
    EXPECT_EQ(status, 200) << method << " " << path << ": " << answer;
    boost::json::error_code error;
    boost::json::value value = boost::json::parse(answer, error);
    EXPECT_FALSE(error) << answer;
    return value;
}

SimServer* SimTest::server_ = nullptr;

void SimTest::StartServer(vrmsim::Options options, std::map<std::string, std::string> extraConfig) {
    if (!server_) server_ = new SimServer(std::move(options), std::move(extraConfig));
}

void SimTest::TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
}

void SimTest::SetUp() {
    ASSERT_NE(server_, nullptr);
    ASSERT_TRUE(server_->ok()) << server_->error();
    server_->Reset();
}

void SimTest::AnswerTaskStart(const std::string& method, const std::string& path, int taskId,
                              const std::string& urn, const std::string& uri) {
    boost::json::object answer{{"taskUrn", TaskUrn(taskId)}, {"taskUri", TaskUri(taskId)}};
    if (!urn.empty()) answer["urn"] = urn;
    if (!uri.empty()) answer["uri"] = uri;
    Answer(method, path, boost::json::serialize(answer));
}

boost::json::object SimTest::TaskObject(int taskId, const std::string& status, int progress,
                                        const std::string& reasonDes) {
    boost::json::object task{{"urn", TaskUrn(taskId)},
                             {"uri", TaskUri(taskId)},
                             {"type", "testtask"},
                             {"status", status},
                             {"progress", progress}};
    if (!reasonDes.empty()) task["reasonDes"] = reasonDes;
    return task;
}

void SimTest::ScriptPolls(int taskId, const std::vector<std::string>& statuses) {
    int progress = 0;
    for (const std::string& status : statuses) {
        progress = status == "success" ? 100 : progress + 1;
        Answer("GET", TaskUri(taskId), boost::json::serialize(TaskObject(taskId, status, progress)));
    }
}

boost::json::object SimTest::BodyOf(const vrmsim::RecordedRequest& request) {
    boost::json::error_code error;
    boost::json::value parsed = boost::json::parse(request.body, error);
    EXPECT_FALSE(error) << "body is not JSON: " << request.body;
    EXPECT_TRUE(parsed.is_object()) << "body is not a JSON object: " << request.body;
    return parsed.is_object() ? parsed.as_object() : boost::json::object();
}

boost::json::object SimTest::OnlyBody(const std::string& method, const std::string& path) {
    std::vector<vrmsim::RecordedRequest> sent = Sent(method, path);
    EXPECT_EQ(sent.size(), 1u) << method << " " << path;
    return sent.empty() ? boost::json::object() : BodyOf(sent.front());
}

}  // namespace fcsdk_test
