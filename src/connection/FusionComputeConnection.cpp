#include "connection/FusionComputeConnection.h"

#include "connection/FusionComputeLogFunctions.h"
#include "platform/FXString.h"
#include "platform/MlcHash.h"

namespace FusionComputeSDKWrapper {
namespace {

constexpr const char kContentType[] = "Content-Type: application/json; charset=UTF-8";
constexpr const char kVersionsPath[] = "service/versions";
constexpr const char kSessionPath[] = "service/session";
constexpr const char kTokenHeaderName[] = "X-Auth-Token:";
constexpr long kHttpUnauthorized = 401;
constexpr int kMaxSends = 3;
constexpr size_t kDigestSize = 32;

}  // namespace

CFusionComputeConnection::CFusionComputeConnection() = default;

CFusionComputeConnection::~CFusionComputeConnection() = default;

bool CFusionComputeConnection::connect(const std::string& hostName, const std::string& /*user*/,
                                       const std::string& /*password*/, std::string& versionsResponse) {
    SetContentType(kContentType);
    // A new connect starts a new session: nothing of an earlier one may travel with its requests.
    tokenHeader.clear();
    version.clear();
    user.clear();
    password.clear();
    lastLoginAnswer.clear();
    if (!MLSRestApiConnection::connect(hostName, true, "")) return false;
    return get(kVersionsPath, versionsResponse, nullptr);
}

bool CFusionComputeConnection::login(const std::string& userName, const std::string& userPassword,
                                     const std::string& apiVersion, const std::string& /*loginUri*/) {
    if (host.empty() || !connected) {
        debug.Error(LogFunction::kLogin, "Connect was not called");
        return false;
    }
    user = userName;
    password = userPassword;
    version = apiVersion;
    return _login();
}

bool CFusionComputeConnection::_login() {
    loginRequest = true;
    std::string response;
    bool loggedIn = post(kSessionPath, "", response, nullptr);
    loginRequest = false;
    // A login answer without a session token opens no session: every later request would be refused.
    // (A re-login has cleared the old token before it posts, so an empty token here is this answer's.)
    loginLackedToken = loggedIn && tokenHeader.empty();
    if (loginLackedToken) {
        debug.Error(LogFunction::kLogin, "The login answer carried no X-Auth-Token header");
        loggedIn = false;
    }
    // Only a refusal is kept: it is the VRM's error body, which says why the login was refused.
    lastLoginAnswer = loggedIn ? std::string() : response;
    return loggedIn;
}

namespace {

// A login URI from the version list is used only when it is a plain path of the VRM's service.
bool IsServicePath(const std::string& path) {
    static const std::string kPrefix = "/service/";
    if (path.compare(0, kPrefix.size(), kPrefix) != 0 || path.find("..") != std::string::npos) return false;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '?' || c == '#' || c == '%' || c == '\\') return false;
    }
    return true;
}

}  // namespace

bool CFusionComputeConnection::logout(const std::string& loginUri) {
    if (tokenHeader.empty() || !connected) return true;
    const std::string path = IsServicePath(loginUri) ? loginUri : std::string("/") + kSessionPath;
    std::string response;
    // The base's send: a refused token must not start a new session just to end it.
    const bool ended = MLSRestApiConnection::sendReq(HTTP_REQ_DELETE, path, "", response, nullptr) ||
                       GetHttpErrorCode() == kHttpUnauthorized;
    tokenHeader.clear();
    return ended;
}

std::string CFusionComputeConnection::SHA256Hash(const std::string& text) {
    unsigned char digest[kDigestSize];
    try {
        MlcSHA256 hasher;
        hasher.reset();
        hasher.addData(text.data(), text.size());
        hasher.finish(digest, sizeof(digest));
    } catch (const MlException& failure) {
        EvDebug(nullptr).Error(LogFunction::kSHA256Hash, "Failed to hash - %s",
                               failure.formatError().c_str());
        return std::string();
    }
    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * kDigestSize);
    for (const unsigned char byte : digest) {
        hex += kHexDigits[byte >> 4];
        hex += kHexDigits[byte & 0x0F];
    }
    return hex;
}

bool CFusionComputeConnection::checkConnection() {
    return false;
}

bool CFusionComputeConnection::computeUrl(const std::string& hostName, const std::string& path,
                                          const VSRestApiRequestOptions* /*options*/, std::string& url) {
    url = "https://" + hostName + ":" + std::to_string(port);
    if (path.empty() || path[0] != '/') url += '/';
    url += path;
    debug.DebugLvl(LogFunction::kComputeUrl, 2, "Computed URL [%s]", url.c_str());
    return true;
}

bool CFusionComputeConnection::addCommonCurlHeaders() {
    if (!MLSRestApiConnection::addCommonCurlHeaders()) return false;
    const std::string accept =
        version.empty()
            ? std::string("Accept: application/json;charset=UTF8")
            : FXString::Format("Accept: application/json;version=%s;charset=UTF8", version.c_str());
    if (!curl->MLLibCurlAppendHeader(HTTP_HDR_REQUEST, accept)) {
        debug.Error(LogFunction::kAddCommonCurlHeaders, "Failed to set CURL Accept application header");
        return false;
    }
    if (!tokenHeader.empty() && !curl->MLLibCurlAppendHeader(HTTP_HDR_REQUEST, tokenHeader)) {
        debug.Error(LogFunction::kAddCommonCurlHeaders, "Failed to set CURL X-Auth-Token header");
        return false;
    }
    return true;
}

bool CFusionComputeConnection::addLoginCurlHeaders() {
    debug.Debug(LogFunction::kAddLoginCurlHeaders, "Logging in as [%s]", user.c_str());
    const std::string lines[] = {
        "X-Auth-User:" + user,
        "X-Auth-Key:" + SHA256Hash(password),
        "X-Auth-UserType:0",
        "X-Auth-AuthType:0",
    };
    for (const std::string& line : lines) {
        if (!curl->MLLibCurlAppendHeader(HTTP_HDR_REQUEST, line)) {
            debug.Error(LogFunction::kAddLoginCurlHeaders, "Failed to set CURL header");
            return false;
        }
    }
    return true;
}

bool CFusionComputeConnection::saveLoginCurlHeaders() {
    const char* line = curl->GetHttpResponseHeader(kTokenHeaderName);
    if (line != nullptr) {
        tokenHeader = line;
        FXString::Trim(tokenHeader, "\r\n");
    }
    return true;
}

bool CFusionComputeConnection::sendReq(_http_req_type_ type, const std::string& path, const std::string& body,
                                       std::string& response, VSRestApiRequestOptions* options) {
    for (int attempt = 1;; ++attempt) {
        if (MLSRestApiConnection::sendReq(type, path, body, response, options)) return true;
        // Only a refusal of a held session token is renewed; the login request itself holds none.
        // A refused login is never answered with another login (a wrong password would count twice).
        if (GetHttpErrorCode() != kHttpUnauthorized || tokenHeader.empty() || loginRequest) return false;
        tokenHeader.clear();
        if (!_login() || attempt >= kMaxSends) return false;
    }
}

}  // namespace FusionComputeSDKWrapper
