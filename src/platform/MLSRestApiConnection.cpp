#include "platform/MLSRestApiConnection.h"

#include <cstdarg>

#include "platform/FXString.h"
#include "platform/LogMask.h"
#include "platform/MLPlatformInfo.h"

namespace {

// Logged bodies are cut here: a listing answer can be megabytes, and the log is for reading.
constexpr size_t kLoggedBodyLimit = 16 * 1024;

std::string loggableBody(const std::string& body) {
    if (body.size() <= kLoggedBodyLimit) return fcsdk_platform::MaskSecrets(body);
    return fcsdk_platform::MaskSecrets(body.substr(0, kLoggedBodyLimit)) + "... (" +
           std::to_string(body.size()) + " bytes)";
}

std::string joinedHeaders(const std::vector<std::string>& lines) {
    std::string joined;
    for (const std::string& line : lines) {
        std::string trimmed = line;
        FXString::Trim(trimmed, "\r\n");
        if (trimmed.empty()) continue;
        if (!joined.empty()) joined += " | ";
        joined += trimmed;
    }
    return fcsdk_platform::MaskSecrets(joined);
}

}  // namespace

MLSRestApiConnection::MLSRestApiConnection()
    : curl(nullptr), debug(nullptr), connected(false), loginRequest(false), debugEnabled(false) {}

MLSRestApiConnection::~MLSRestApiConnection() {
    delete curl;
}

bool MLSRestApiConnection::computeUrl(const std::string& hostName, const std::string& path,
                                      const VSRestApiRequestOptions* /*options*/, std::string& url) {
    url = "https://" + hostName;
    if (path.empty() || path[0] != '/') url += '/';
    url += path;
    return true;
}

bool MLSRestApiConnection::recvResp(std::string& /*response*/) {
    return true;
}

bool MLSRestApiConnection::addCurlHeaders(_http_req_type_ /*type*/, const std::string& /*path*/,
                                          const std::string& body,
                                          const VSRestApiRequestOptions* /*options*/) {
    if (!addCommonCurlHeaders()) return false;
    if (loginRequest && !addLoginCurlHeaders()) return false;
    if (!body.empty() && !contentType.empty())
        return curl->MLLibCurlAppendHeader(HTTP_HDR_REQUEST, contentType);
    return true;
}

bool MLSRestApiConnection::addCommonCurlHeaders() {
    return curl != nullptr;
}

bool MLSRestApiConnection::addLoginCurlHeaders() {
    return true;
}

bool MLSRestApiConnection::saveLoginCurlHeaders() {
    return true;
}

bool MLSRestApiConnection::failBeforeSending(_http_req_type_ type, const std::string& url,
                                             const std::string& reason) {
    if (curl != nullptr) curl->ClearHeaders();
    lastResult = MLLibCurlResult::TransportError;
    lastError = reason;
    LogError(type, url, reason, std::string());
    return false;
}

bool MLSRestApiConnection::sendReq(_http_req_type_ type, const std::string& path, const std::string& body,
                                   std::string& response, VSRestApiRequestOptions* options) {
    response.clear();
    answerReceived = false;
    if (!connected || curl == nullptr) return failBeforeSending(type, path, "the connection is not open");
    std::string url;
    if (!computeUrl(host, path, options, url))
        return failBeforeSending(type, path, "the URL could not be built");
    if (!addCurlHeaders(type, path, body, options)) {
        return failBeforeSending(type, url, "the request headers could not be set");
    }
    if (debugEnabled) LogRequest(type, url, body);

    // GETs, the login and requests marked as reading only may be resent by libcurl when a kept-alive
    // connection died unseen; a login sent twice only opens a second session. Every other request is
    // sent at most once.
    const bool resendable =
        type == HTTP_REQ_GET || loginRequest || (options != nullptr && options->resendable);
    lastResult = curl->Perform(type, url, body, response, lastError, resendable);
    answerReceived = lastResult != MLLibCurlResult::TransportError;
    if (debugEnabled) LogResponse(type, url, response);
    if (lastResult == MLLibCurlResult::TransportError) {
        LogError(type, url, lastError, response);
        return false;
    }
    if (lastResult == MLLibCurlResult::HttpError) {
        // HTTP errors are answers the callers interpret (401 re-login, the VRM's error body); they are
        // reported there, so the transport notes them only as progress.
        debug.Debug(__PRETTY_FUNCTION__, "%s", lastError.c_str());
        return false;
    }
    if (!recvResp(response)) return false;
    if (loginRequest && !saveLoginCurlHeaders()) return false;
    return true;
}

void MLSRestApiConnection::LogResponse(_http_req_type_ type, const std::string& url,
                                       const std::string& response) {
    const long status = curl != nullptr && answerReceived ? curl->GetHttpErrorCode() : 0;
    const std::string headers = curl != nullptr ? joinedHeaders(curl->ResponseHeaders()) : std::string();
    debug.Debug(__PRETTY_FUNCTION__, "Response to %s %s: status %ld headers [%s] body [%s]",
                HttpMethodName(type), url.c_str(), status, headers.c_str(), loggableBody(response).c_str());
}

void MLSRestApiConnection::LogRequest(_http_req_type_ type, const std::string& url, const std::string& body) {
    const std::string headers = curl != nullptr ? joinedHeaders(curl->PendingHeaders()) : std::string();
    debug.Debug(__PRETTY_FUNCTION__, "Request %s %s headers [%s] body [%s]", HttpMethodName(type),
                url.c_str(), headers.c_str(), loggableBody(body).c_str());
}

void MLSRestApiConnection::LogError(_http_req_type_ type, const std::string& url, const std::string& error,
                                    const std::string& /*response*/) {
    debug.Error(__PRETTY_FUNCTION__, "%s %s failed: %s", HttpMethodName(type), url.c_str(), error.c_str());
}

bool MLSRestApiConnection::connect(const std::string& hostName, bool /*flag*/, const std::string& /*text*/) {
    if (hostName.empty()) {
        debug.Error(__PRETTY_FUNCTION__, "No host name given");
        return false;
    }
    // A new client picks up the transport settings in force now; a configuration that cannot be read
    // fails the connection instead of silently falling back to the defaults.
    std::string problem;
    MLLibCurlSettings settings;
    if (MLPlatformInfo::checkConfiguration(problem)) {
        settings = MLLibCurlSettings::FromConfiguration();
        if (settingsOverride) settingsOverride(settings);
        settings.CheckConnectTo(problem);
    }
    if (!problem.empty()) {
        debug.Error(__PRETTY_FUNCTION__, "%s", problem.c_str());
        lastResult = MLLibCurlResult::TransportError;
        lastError = problem;
        return false;
    }
    delete curl;
    curl = new MLLibCurl(settings);
    curl->SetCancelFlag(&cancelFlag);
    host = hostName;
    connected = true;
    return true;
}

void MLSRestApiConnection::SetContentType(const std::string& line) {
    contentType = line;
}

bool MLSRestApiConnection::get(const std::string& path, std::string& response,
                               VSRestApiRequestOptions* options) {
    return sendReq(HTTP_REQ_GET, path, std::string(), response, options);
}

bool MLSRestApiConnection::post(const std::string& path, const std::string& body, std::string& response,
                                VSRestApiRequestOptions* options) {
    return sendReq(HTTP_REQ_POST, path, body, response, options);
}

bool MLSRestApiConnection::put(const std::string& path, const std::string& body, std::string& response,
                               VSRestApiRequestOptions* options) {
    return sendReq(HTTP_REQ_PUT, path, body, response, options);
}

bool MLSRestApiConnection::del(const std::string& path, const std::string& body, std::string& response,
                               VSRestApiRequestOptions* options) {
    return sendReq(HTTP_REQ_DELETE, path, body, response, options);
}

std::string MLSRestApiConnection::UrlEncode(const std::string& text) {
    return MLLibCurl::PercentEncode(text);
}

void MLSRestApiConnection::appendQueryStringArgument(std::string& path, const char* format, ...) {
    if (format == nullptr) return;
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string argument;
    if (needed > 0) {
        argument.resize(static_cast<size_t>(needed) + 1);
        std::vsnprintf(argument.data(), argument.size(), format, arguments);
        argument.resize(static_cast<size_t>(needed));
    }
    va_end(arguments);
    // A path that ends in "?" (an empty query) or "&" already has its separator.
    if (path.find('?') == std::string::npos) {
        path += '?';
    } else if (path.back() != '?' && path.back() != '&') {
        path += '&';
    }
    path += argument;
}

void MLSRestApiConnection::enableDebug() {
    debugEnabled = true;
}

const char* MLSRestApiConnection::GetHttpResponseHeader(const char* name) const {
    return curl != nullptr && answerReceived ? curl->GetHttpResponseHeader(name) : nullptr;
}

long MLSRestApiConnection::GetHttpErrorCode() const {
    return curl != nullptr && answerReceived ? curl->GetHttpErrorCode() : 0;
}
