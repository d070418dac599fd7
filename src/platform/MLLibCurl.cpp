#include "platform/MLLibCurl.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "EvDebug.h"
#include "platform/MLPlatformInfo.h"

namespace {

constexpr long kDefaultMaxResponseMB = 256;
// The whole error text of a cancelled request; callers show it as the reason of the failure.
constexpr char kCancelledText[] = "Cancelled";

void initializeCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

long configuredNumber(const char* key, long fallback) {
    uint64_t value = 0;
    return MLPlatformInfo::getNumber("Transport", key, value) ? static_cast<long>(value) : fallback;
}

bool startsWithNoCase(const std::string& line, const char* prefix) {
    const size_t length = std::char_traits<char>::length(prefix);
    return line.size() >= length && strncasecmp(line.data(), prefix, length) == 0;
}

}  // namespace

const char* HttpMethodName(_http_req_type_ type) {
    switch (type) {
        case HTTP_REQ_POST:
            return "POST";
        case HTTP_REQ_PUT:
            return "PUT";
        case HTTP_REQ_DELETE:
            return "DELETE";
        default:
            return "GET";
    }
}

MLLibCurlSettings MLLibCurlSettings::FromConfiguration() {
    MLLibCurlSettings settings;
    MLPlatformInfo::getString("Transport", "sCAFile", settings.caFile);
    settings.verifyPeer = configuredNumber("nVerifyPeer", 1) != 0;
    MLPlatformInfo::getString("Transport", "sConnectTo", settings.connectTo);
    settings.connectTimeout = configuredNumber("nConnectTimeout", settings.connectTimeout);
    settings.lowSpeedTime = configuredNumber("nLowSpeedTime", settings.lowSpeedTime);
    settings.maxResponseMB = configuredNumber("nMaxResponseMB", settings.maxResponseMB);
    settings.requestTimeout = configuredNumber("nRequestTimeout", settings.requestTimeout);
    return settings;
}

bool MLLibCurlSettings::CheckConnectTo(std::string& error) const {
    if (connectTo.empty()) return true;
    // Four fields separated by ':' outside brackets; the two ports are empty or 1-65535.
    std::vector<std::string> fields(1);
    bool inBrackets = false;
    for (char c : connectTo) {
        if (c == '[') inBrackets = true;
        if (c == ']') inBrackets = false;
        if (c == ':' && !inBrackets) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    const auto validPort = [](const std::string& port) {
        if (port.empty()) return true;
        if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
        const long value = std::stol(port);
        return value >= 1 && value <= 65535;
    };
    if (fields.size() != 4 || inBrackets || !validPort(fields[1]) || !validPort(fields[3])) {
        error = "Malformed connect-to setting (Transport/sConnectTo or the wrapper's options) \"" +
                connectTo + "\": expected HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT (ports 1-65535)";
        return false;
    }
    return true;
}

struct MLLibCurl::Impl {
    MLLibCurlSettings settings;
    CURL* handle = nullptr;
    curl_slist* connectTo = nullptr;
    std::vector<std::string> pendingHeaders;
    std::vector<std::string> responseHeaders;
    long status = 0;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    // State of the transfer in progress, used by the callbacks.
    std::string* body = nullptr;
    size_t bodyLimit = 0;
    bool bodyOverLimit = false;
    // Set by the owner of the connection to cancel what runs on it (see SetCancelFlag).
    const std::atomic<bool>* cancelFlag = nullptr;

    // The request in progress, as the resend guard sees it (see onBeforeSend).
    const std::string* requestBody = nullptr;
    size_t requestBodyHandedOut = 0;  // bytes of the body given to libcurl so far
    bool resendable = true;
    int sendAttempts = 0;  // times libcurl was about to send the request
    bool resendRefused = false;

    explicit Impl(const MLLibCurlSettings& configured) : settings(configured) {
        if (settings.maxResponseMB < 1) settings.maxResponseMB = kDefaultMaxResponseMB;
        bodyLimit = static_cast<size_t>(settings.maxResponseMB) * 1024 * 1024;
        initializeCurlOnce();
        handle = curl_easy_init();
        if (handle != nullptr) configureHandle();
    }

    ~Impl() {
        if (handle != nullptr) curl_easy_cleanup(handle);
        curl_slist_free_all(connectTo);
    }

    // Installs one of the static callbacks below with this object as the data pointer it receives.
    template <typename Callback>
    void setCallback(CURLoption functionOption, Callback callback, CURLoption dataOption) {
        curl_easy_setopt(handle, functionOption, callback);
        curl_easy_setopt(handle, dataOption, this);
    }

    // Options that hold for every request of the connection; the handle (and with it the open
    // connection) is reused, so one TLS handshake serves the whole session.
    void configureHandle() {
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorBuffer);
        setCallback(CURLOPT_WRITEFUNCTION, &Impl::onBody, CURLOPT_WRITEDATA);
        setCallback(CURLOPT_HEADERFUNCTION, &Impl::onHeader, CURLOPT_HEADERDATA);
        setCallback(CURLOPT_READFUNCTION, &Impl::onReadBody, CURLOPT_READDATA);
        setCallback(CURLOPT_SEEKFUNCTION, &Impl::onRewindBody, CURLOPT_SEEKDATA);
        setCallback(CURLOPT_PREREQFUNCTION, &Impl::onBeforeSend, CURLOPT_PREREQDATA);
        setCallback(CURLOPT_XFERINFOFUNCTION, &Impl::onProgress, CURLOPT_XFERINFODATA);
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, settings.connectTimeout);
        if (settings.lowSpeedTime > 0) {
            curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
            curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, settings.lowSpeedTime);
        }
        curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(bodyLimit));
        // The low-speed check does not end an answer that trickles in just fast enough; this caps one
        // request from start to end.
        if (settings.requestTimeout > 0) curl_easy_setopt(handle, CURLOPT_TIMEOUT, settings.requestTimeout);
        // Older protocol versions are refused whatever the system's OpenSSL policy still allows.
        curl_easy_setopt(handle, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        if (!settings.caFile.empty()) curl_easy_setopt(handle, CURLOPT_CAINFO, settings.caFile.c_str());
        if (settings.verifyPeer) {
            curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
            curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
        } else {
            curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
            EvDebug(nullptr).Error(__PRETTY_FUNCTION__,
                                   "TLS certificate and host name verification is turned off "
                                   "(Transport/nVerifyPeer=0): the connection can be intercepted");
        }
        if (!settings.connectTo.empty()) {
            connectTo = curl_slist_append(nullptr, settings.connectTo.c_str());
            curl_easy_setopt(handle, CURLOPT_CONNECT_TO, connectTo);
        }
    }

    static size_t onBody(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const size_t length = size * count;
        std::string& body = *self->body;
        if (body.size() + length > self->bodyLimit) {
            self->bodyOverLimit = true;
            return 0;  // makes curl abort the transfer
        }
        // The string would double its capacity past the limit; growth is capped there so that an
        // answer just under the limit holds about the limit in memory, not twice it.
        if (body.size() + length > body.capacity()) {
            body.reserve(std::min(self->bodyLimit, std::max(body.size() + length, 2 * body.capacity())));
        }
        body.append(data, length);
        return length;
    }

    bool cancelled() const { return cancelFlag != nullptr && cancelFlag->load(); }

    // libcurl calls this often during a transfer and about once a second while it waits for data; a
    // non-zero answer aborts the transfer with CURLE_ABORTED_BY_CALLBACK.
    static int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<Impl*>(user)->cancelled() ? 1 : 0;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const size_t length = size * count;
        std::string line(data, length);
        // A status line starts a new answer (after "100 Continue" or an interim answer): only the last
        // answer's headers are kept.
        if (startsWithNoCase(line, "HTTP/")) self->responseHeaders.clear();
        self->responseHeaders.push_back(std::move(line));
        return length;
    }

    // Every request goes over the session's kept connection. When a reused connection turns out closed
    // before any byte of the answer arrived, libcurl sends the request again on a new connection. A
    // request that changes state may only go again when the server cannot have received all of it: its
    // body is handed to libcurl here, and as long as none of it was handed out, the server got at most
    // the headers of a request that announced a body. A request without a body is complete with its
    // headers, so it is never sent again. See docs/adr/0004.
    static size_t onReadBody(char* buffer, size_t size, size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const std::string& text = *self->requestBody;
        const size_t length = std::min(size * count, text.size() - self->requestBodyHandedOut);
        std::memcpy(buffer, text.data() + self->requestBodyHandedOut, length);
        self->requestBodyHandedOut += length;
        return length;
    }

    // libcurl rewinds the body only to send it again; a body that was handed out is not sent twice.
    static int onRewindBody(void* user, curl_off_t offset, int origin) {
        auto* self = static_cast<Impl*>(user);
        if (offset == 0 && origin == SEEK_SET && (self->resendable || self->requestBodyHandedOut == 0)) {
            self->requestBodyHandedOut = 0;
            return CURL_SEEKFUNC_OK;
        }
        self->resendRefused = true;
        return CURL_SEEKFUNC_CANTSEEK;
    }

    // Called before every send of the request, the first and any resend on a new connection.
    static int onBeforeSend(void* user, char*, char*, int, int) {
        auto* self = static_cast<Impl*>(user);
        if (++self->sendAttempts == 1 || self->resendable) return CURL_PREREQFUNC_OK;
        if (!self->requestBody->empty() && self->requestBodyHandedOut == 0) return CURL_PREREQFUNC_OK;
        self->resendRefused = true;
        return CURL_PREREQFUNC_ABORT;
    }

    bool hasPendingHeader(const char* prefix) const {
        for (const std::string& line : pendingHeaders) {
            if (startsWithNoCase(line, prefix)) return true;
        }
        return false;
    }

    curl_slist* buildHeaderList(_http_req_type_ type, const std::string& body) const {
        curl_slist* list = nullptr;
        for (const std::string& line : pendingHeaders) list = curl_slist_append(list, line.c_str());
        // No "Expect: 100-continue" round trip for bodies, and no form content type that curl would
        // otherwise invent for a POST without a body.
        list = curl_slist_append(list, "Expect:");
        if (type != HTTP_REQ_GET && body.empty() && !hasPendingHeader("content-type:")) {
            list = curl_slist_append(list, "Content-Type:");
        }
        return list;
    }

    void setMethod(_http_req_type_ type, const std::string& body, bool resendable) {
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, nullptr);
        if (type == HTTP_REQ_GET || (type == HTTP_REQ_DELETE && body.empty())) {
            curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
        } else {
            // The body of a request that must not go twice is read through onReadBody, so that the
            // resend guard knows whether any of it left; any other goes out with the headers in one
            // write (an empty one needs no reading either).
            const bool guarded = !resendable && !body.empty();
            curl_easy_setopt(handle, CURLOPT_POSTFIELDS, guarded ? nullptr : body.c_str());
            curl_easy_setopt(handle, CURLOPT_POST, 1L);
            curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        }
        if (type == HTTP_REQ_PUT || type == HTTP_REQ_DELETE) {
            curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, HttpMethodName(type));
        }
    }

    std::string transportErrorText(CURLcode code, _http_req_type_ type, const std::string& url) const {
        if (code == CURLE_ABORTED_BY_CALLBACK && cancelled()) return kCancelledText;
        std::string text;
        if (bodyOverLimit || code == CURLE_FILESIZE_EXCEEDED) {
            text = "the answer is larger than the limit of " + std::to_string(settings.maxResponseMB) +
                   " MB (Transport/nMaxResponseMB)";
        } else if (resendRefused) {
            text =
                "the connection closed without an answer after the request was sent; it is not sent "
                "again because the server may have acted on it";
        } else {
            text = std::string("curl error ") + std::to_string(static_cast<int>(code)) + " (" +
                   curl_easy_strerror(code) + ")";
            if (errorBuffer[0] != '\0') text += std::string(": ") + errorBuffer;
            if (code == CURLE_OPERATION_TIMEDOUT && settings.requestTimeout > 0) {
                text += " (a request may take " + std::to_string(settings.requestTimeout) +
                        " s, Transport/nRequestTimeout)";
            }
        }
        return text + " on " + HttpMethodName(type) + " " + url;
    }
};

MLLibCurl::MLLibCurl(const MLLibCurlSettings& settings) : impl_(new Impl(settings)) {}

MLLibCurl::~MLLibCurl() {
    delete impl_;
}

bool MLLibCurl::MLLibCurlAppendHeader(_http_hdr_type_ kind, const std::string& line) {
    // Only request headers exist; a line break inside a header would smuggle a second header.
    if (kind != HTTP_HDR_REQUEST || line.empty() || line.find_first_of("\r\n") != std::string::npos) {
        return false;
    }
    impl_->pendingHeaders.push_back(line);
    return true;
}

MLLibCurlResult MLLibCurl::Perform(_http_req_type_ type, const std::string& url, const std::string& body,
                                   std::string& response, std::string& error) {
    return Perform(type, url, body, response, error, type == HTTP_REQ_GET);
}

MLLibCurlResult MLLibCurl::Perform(_http_req_type_ type, const std::string& url, const std::string& body,
                                   std::string& response, std::string& error, bool resendable) {
    response.clear();
    error.clear();
    impl_->responseHeaders.clear();
    impl_->status = 0;
    if (impl_->handle == nullptr) {
        ClearHeaders();
        error = "the HTTP client could not be created";
        return MLLibCurlResult::TransportError;
    }
    if (impl_->cancelled()) {
        ClearHeaders();
        error = kCancelledText;
        return MLLibCurlResult::TransportError;
    }
    CURL* handle = impl_->handle;
    curl_slist* headers = impl_->buildHeaderList(type, body);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    impl_->setMethod(type, body, resendable);
    impl_->requestBody = &body;
    impl_->requestBodyHandedOut = 0;
    impl_->resendable = resendable;
    impl_->sendAttempts = 0;
    impl_->resendRefused = false;
    impl_->body = &response;
    impl_->bodyOverLimit = false;
    impl_->errorBuffer[0] = '\0';

    const CURLcode code = curl_easy_perform(handle);

    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    ClearHeaders();
    impl_->body = nullptr;
    impl_->requestBody = nullptr;
    if (code != CURLE_OK) {
        // An interrupted answer is not an answer: no status, no partial body.
        error = impl_->transportErrorText(code, type, url);
        response.clear();
        impl_->responseHeaders.clear();
        return MLLibCurlResult::TransportError;
    }
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &impl_->status);
    if (impl_->status >= 200 && impl_->status < 300) return MLLibCurlResult::Ok;
    error = "HTTP status " + std::to_string(impl_->status) + " on " + HttpMethodName(type) + " " + url;
    return MLLibCurlResult::HttpError;
}

const char* MLLibCurl::GetHttpResponseHeader(const char* name) const {
    if (name == nullptr) return nullptr;
    for (const std::string& line : impl_->responseHeaders) {
        if (startsWithNoCase(line, name)) return line.c_str();
    }
    return nullptr;
}

long MLLibCurl::GetHttpErrorCode() const {
    return impl_->status;
}

std::string MLLibCurl::UrlEncode(const std::string& text) const {
    return PercentEncode(text);
}

std::string MLLibCurl::PercentEncode(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                                byte == '~';
        if (unreserved) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

void MLLibCurl::SetCancelFlag(const std::atomic<bool>* flag) {
    impl_->cancelFlag = flag;
}

void MLLibCurl::ClearHeaders() {
    impl_->pendingHeaders.clear();
}

const std::vector<std::string>& MLLibCurl::PendingHeaders() const {
    return impl_->pendingHeaders;
}

const std::vector<std::string>& MLLibCurl::ResponseHeaders() const {
    return impl_->responseHeaders;
}
