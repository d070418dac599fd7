#include "SimServer.h"

#include <boost/json/parse.hpp>

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

}  // namespace

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

void SimServer::FailNext(const std::string& method, const std::string& pathPrefix, int status,
                         const std::string& code, const std::string& des, int count) {
    vrmsim::Fault fault;
    fault.kind = vrmsim::FaultKind::Status;
    fault.method = method;
    fault.path = pathPrefix;
    fault.status = status;
    fault.errorCode = code;
    fault.errorDes = des;
    fault.count = count;
    AddFault(fault);
}

std::vector<vrmsim::RecordedRequest> SimServer::Requests(const std::string& pathPrefix) const {
    return sim_ ? sim_->Requests(pathPrefix) : std::vector<vrmsim::RecordedRequest>();
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

SimServer* SimTest::server_ = nullptr;

void SimTest::SetUpTestSuite() {
    if (!server_) server_ = new SimServer();
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

}  // namespace fcsdk_test
