// Lifecycle of the facade: the objects it owns, the connect handshake (API version choice, login, site
// list), the version and site accessors and the last error.

#include "FusionComputeWrapper.h"

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "connection/FusionComputeConnection.h"
#include "connection/FusionComputeLinks.h"
#include "connection/FusionComputeLogFunctions.h"
#include "operations/FusionComputeOperations.h"
#include "parser/FusionComputeParser.h"
#include "platform/CObString.h"
#include "platform/FXString.h"
#include "platform/MLSRestApiConnection.h"
#include "platform/ObSleep.h"
#include "queries/FusionComputeQueries.h"

namespace FusionComputeSDKWrapper {

namespace {

// Versions 5.0 to 6.3 of the VRM's interface are the ones this library speaks natively; a newer VRM is
// asked for the newest of them it still offers.
constexpr int kOldestCompatibleVersion = 50;
constexpr int kNewestCompatibleVersion = 63;

// The VRM's HTTPS port unless the wrapper's options name another.
constexpr int kVrmPort = 7443;

constexpr int kSiteListAttempts = 10;
constexpr unsigned int kSiteListPauseMs = 10;

const char kNotConnectedMessage[] = "Not connected to a VRM site";

// Keeps the number parts of a version text small enough that 10 * major + minor cannot overflow,
// whatever the VRM sends.
constexpr long long kVersionPartLimit = 1000000;

// Leading-digits conversion of one version part ("3" gives 3, "3a" gives 3, "a" gives 0).
long long VersionPartValue(const std::string& part) {
    long long value = std::strtoll(part.c_str(), nullptr, 10);
    if (value > kVersionPartLimit) value = kVersionPartLimit;
    if (value < -kVersionPartLimit) value = -kVersionPartLimit;
    return value;
}

}  // namespace

CFusionComputeWrapper::CFusionComputeWrapper() {
    // Built into owners first so that a constructor that throws leaves nothing behind.
    std::unique_ptr<CFusionComputeConnection> newConnection(new CFusionComputeConnection());
    std::unique_ptr<CFusionComputeParser> newParser(new CFusionComputeParser());
    std::unique_ptr<CFusionComputeQueries> newQueries(
        new CFusionComputeQueries(newConnection.get(), newParser.get(), &errorState));
    std::unique_ptr<CFusionComputeOperations> newOperations(
        new CFusionComputeOperations(newConnection.get(), newParser.get(), newQueries.get(), &errorState));
    connection = newConnection.release();
    parser = newParser.release();
    queries = newQueries.release();
    operations = newOperations.release();
    templateUuidsLoaded = false;
}

CFusionComputeWrapper::~CFusionComputeWrapper() {
    // Users before what they use: the operations hold the queries, both hold parser and connection.
    delete operations;
    operations = nullptr;
    delete queries;
    queries = nullptr;
    delete parser;
    parser = nullptr;
    delete connection;
    connection = nullptr;
}

void CFusionComputeWrapper::EnableDebug() {
    if (connection != nullptr) connection->enableDebug();
}

bool CFusionComputeWrapper::Connect(const std::string& host, const std::string& user,
                                    const std::string& password) {
    const ConnectionCall call(connection);
    std::string body;
    if (host.empty()) return _Fail("No host name given");
    // The host goes into the URL as it is: a scheme, port, path or user info would change where the
    // requests (and the password's hash) go.
    if (!IsWellFormedHost(host)) {
        return _Fail("Invalid host [" + PrintableText(host) +
                     "]: give a host name, an IPv4 address or a bracketed IPv6 address");
    }
    // A second Connect starts from nothing: the earlier session is ended, and no site, version or
    // template list of it is kept.
    if (connection->hasSession()) Logout();
    sites.clear();
    templateUuids.clear();
    templateUuidsLoaded = false;
    compatibleVersion = SVersionInfoLib();
    managementVersion = SVersionInfoLib();
    if (!connection->connect(host, user, password, body)) return _FailRequest(body);

    // An unreadable body leaves the list empty; the login then goes out without a version.
    std::vector<SVersionInfoLib> versions;
    parser->ParseList<SVersionInfoLib>(body, "versions", versions);

    int best = 0;
    int highest = 0;
    for (const SVersionInfoLib& record : versions) {
        const int number = DecodeVersion(record.version);
        if (number >= kOldestCompatibleVersion && number <= kNewestCompatibleVersion && number > best) {
            best = number;
            compatibleVersion = record;
        }
        if (number > highest) {
            highest = number;
            managementVersion = record;
        }
    }
    if (best == 0) {
        best = highest;
        compatibleVersion = managementVersion;
    }

    if (!connection->login(user, password, compatibleVersion.version, compatibleVersion.loginUri))
        return _FailLogin();

    std::string note;
    if (best > 0 && best != highest) {
        note = FXString::Format("using version %s compatibility", compatibleVersion.version.c_str());
    }
    Debug(LogFunction::kConnect, "Connected to VRM %s version %s as %s %s", host.c_str(),
          managementVersion.version.c_str(), user.c_str(), note.c_str());

    bool haveSites = false;
    bool transportFailed = false;
    for (int attempt = 0; attempt < kSiteListAttempts && !haveSites; ++attempt) {
        haveSites = GetSiteInfoList(sites, MIN_VM_PROPS);
        if (haveSites) break;
        // A VRM that answers may be busy and is asked again; one that cannot be reached twice in a row
        // (refused, stalled, timed out) would cost every further attempt its full transport time-out.
        const bool noAnswer = connection->GetLastResult() == MLLibCurlResult::TransportError;
        if (noAnswer && transportFailed) break;
        transportFailed = noAnswer;
        if (!fcsdk_platform::SleepUnlessCancelled(kSiteListPauseMs, connection->CancelFlag())) {
            return _Fail(kCancelledMessage);
        }
    }
    // State-changing requests go only to links below the site this session works in.
    operations->SetSiteUri(haveSites && !sites.empty() ? sites.front().uri : std::string());
    return haveSites;
}

int CFusionComputeWrapper::DecodeVersion(const std::string& versionText) {
    if (versionText.empty()) return 0;

    const CObString number(versionText.substr(1));
    std::vector<CObString> parts;
    number.Tokenize(parts, "", "", '\\', '.', true);
    if (parts.size() != 2) {
        Error(LogFunction::kDecodeVersion, "Failed to parse version [%s]", versionText.c_str());
        return 0;
    }
    const long long value = 10 * VersionPartValue(parts[0].str()) + VersionPartValue(parts[1].str());
    return static_cast<int>(value);
}

bool CFusionComputeWrapper::CheckConnection() {
    return true;
}

bool CFusionComputeWrapper::GetManagementVersionInfo(SVersionInfoLib& info) {
    if (managementVersion.version.empty()) return false;
    info = managementVersion;
    return true;
}

bool CFusionComputeWrapper::GetManagementVersionNumber(int& number) {
    if (managementVersion.version.empty()) return false;
    number = DecodeVersion(managementVersion.version);
    return true;
}

SSiteInfoLib& CFusionComputeWrapper::GetSite() {
    if (sites.empty()) {
        // A caller may have written into the record handed out before; it must stay empty.
        noSite = SSiteInfoLib();
        return noSite;
    }
    return sites.front();
}

long CFusionComputeWrapper::GetLastErrorCode() {
    return static_cast<long>(errorState.code);
}

std::string CFusionComputeWrapper::GetLastError() const {
    return lastError;
}

bool CFusionComputeWrapper::_CheckConnected() {
    if (!sites.empty()) return true;
    Error(__PRETTY_FUNCTION__, "%s", kNotConnectedMessage);
    return _Fail(kNotConnectedMessage);
}

bool CFusionComputeWrapper::_Fail(const std::string& message) {
    lastError = message;
    return false;
}

bool CFusionComputeWrapper::_CopyQueriesError() {
    return _Fail(queries->GetLastError());
}

bool CFusionComputeWrapper::_CopyOperationsError() {
    return _Fail(operations->GetLastError());
}

bool CFusionComputeWrapper::SetConnectionOptions(const SConnectionOptionsLib& options) {
    if (options.port && (*options.port < 1 || *options.port > 65535)) {
        return _Fail("Invalid port " + std::to_string(*options.port) + ": expected 1 to 65535");
    }
    for (const auto& [value, name] : {std::make_pair(options.connectTimeoutSeconds, "connect time-out"),
                                      std::make_pair(options.lowSpeedTimeSeconds, "low-speed time"),
                                      std::make_pair(options.requestTimeoutSeconds, "request time-out"),
                                      std::make_pair(options.maxResponseMB, "answer-size limit")}) {
        if (value && *value < 0) return _Fail("Invalid " + std::string(name) + " " + std::to_string(*value));
    }
    connection->SetPort(options.port.value_or(kVrmPort));
    connection->SetSettingsOverride([options](MLLibCurlSettings& settings) {
        if (options.caFile) settings.caFile = *options.caFile;
        if (options.verifyPeer) settings.verifyPeer = *options.verifyPeer;
        if (options.connectTo) settings.connectTo = *options.connectTo;
        if (options.connectTimeoutSeconds) settings.connectTimeout = *options.connectTimeoutSeconds;
        if (options.lowSpeedTimeSeconds) settings.lowSpeedTime = *options.lowSpeedTimeSeconds;
        if (options.requestTimeoutSeconds) settings.requestTimeout = *options.requestTimeoutSeconds;
        if (options.maxResponseMB) settings.maxResponseMB = *options.maxResponseMB;
    });
    return true;
}

void CFusionComputeWrapper::SetProgressCallback(std::function<void(const SWaitProgressLib&)> callback) {
    operations->SetProgressCallback(std::move(callback));
}

bool CFusionComputeWrapper::_FailRequest(const std::string& response) {
    operations->RecordFailedRequest(response);
    return _CopyOperationsError();
}

bool CFusionComputeWrapper::_FailUnreadable(const std::string& path) {
    operations->SetLastError(CFusionComputeErrorHandler::UnreadableAnswerMessage(path));
    return _CopyOperationsError();
}

bool CFusionComputeWrapper::_FailLogin() {
    // The message is made of the VRM's error text or the transport's account (method, URL, reason or
    // status); neither carries the password, its hash or a session token.
    operations->RecordFailedRequest(connection->GetLastLoginAnswer());
    if (connection->LoginLackedToken()) {
        operations->SetErrorCode(0);
        return _Fail("Login failed: the VRM's answer carried no session token (X-Auth-Token)");
    }
    const char* prefix = connection->GetHttpErrorCode() != 0 ? "Login refused: " : "Login failed: ";
    operations->SetLastError(prefix + operations->GetLastError());
    return _CopyOperationsError();
}

}  // namespace FusionComputeSDKWrapper
