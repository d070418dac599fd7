#ifndef FCSDK_PLATFORM_MLSRESTAPICONNECTION_H
#define FCSDK_PLATFORM_MLSRESTAPICONNECTION_H

#include <atomic>
#include <functional>
#include <string>
#include <utility>

#include "EvDebug.h"
#include "platform/MLLibCurl.h"

/// Per-request options; null means the defaults.
struct VSRestApiRequestOptions {
    /// The request reads and changes nothing (a POST that only asks), so it may be sent again like a GET.
    bool resendable = false;
};

/// REST transport base. A subclass supplies the URL, the headers and the login handshake through the
/// virtual hooks; get/post/put/del route through sendReq.
class MLSRestApiConnection {
  public:
    MLSRestApiConnection();
    virtual ~MLSRestApiConnection();
    MLSRestApiConnection(const MLSRestApiConnection&) = delete;
    MLSRestApiConnection& operator=(const MLSRestApiConnection&) = delete;

    virtual bool computeUrl(const std::string& host, const std::string& path,
                            const VSRestApiRequestOptions* options, std::string& url);
    virtual bool recvResp(std::string& response);
    virtual bool addCurlHeaders(_http_req_type_ type, const std::string& path, const std::string& body,
                                const VSRestApiRequestOptions* options);
    virtual bool addCommonCurlHeaders();
    virtual bool addLoginCurlHeaders();
    virtual bool saveLoginCurlHeaders();
    virtual bool sendReq(_http_req_type_ type, const std::string& path, const std::string& body,
                         std::string& response, VSRestApiRequestOptions* options);
    virtual void LogResponse(_http_req_type_ type, const std::string& url, const std::string& response);
    virtual void LogRequest(_http_req_type_ type, const std::string& url, const std::string& body);
    virtual void LogError(_http_req_type_ type, const std::string& url, const std::string& error,
                          const std::string& response);

    /// Creates the HTTP client (settings from the configuration, adjusted by the override) and remembers
    /// `host`. Fails, with the reason in GetLastTransportError(), when the configuration file cannot be
    /// read or holds a malformed setting.
    bool connect(const std::string& host, bool flag, const std::string& text);
    /// Adjusts the settings read from the configuration for this connection only (from the next connect).
    void SetSettingsOverride(std::function<void(MLLibCurlSettings&)> adjust) {
        settingsOverride = std::move(adjust);
    }
    /// Stores the content-type header line sent with every request.
    void SetContentType(const std::string& line);

    bool get(const std::string& path, std::string& response, VSRestApiRequestOptions* options);
    bool post(const std::string& path, const std::string& body, std::string& response,
              VSRestApiRequestOptions* options);
    bool put(const std::string& path, const std::string& body, std::string& response,
             VSRestApiRequestOptions* options);
    bool del(const std::string& path, const std::string& body, std::string& response,
             VSRestApiRequestOptions* options);

    /// Percent-encoded `text`.
    std::string UrlEncode(const std::string& text);
    /// Appends one printf-formatted argument to `path`, after "?" or "&".
    void appendQueryStringArgument(std::string& path, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    /// Logs every request and response from now on (secrets masked).
    void enableDebug();

    /// The last answer's header line beginning with `name`, or null.
    const char* GetHttpResponseHeader(const char* name) const;
    /// HTTP status of the last answer; 0 when the last request got no answer (transport failure or a
    /// request abandoned before it was sent).
    long GetHttpErrorCode() const;
    /// How the last request ended: success, HTTP error status, or transport failure (no answer).
    MLLibCurlResult GetLastResult() const { return lastResult; }
    /// What went wrong with the last request (curl's error or the HTTP status); empty after success.
    const std::string& GetLastTransportError() const { return lastError; }

    /// Asks what runs on this connection to stop: waits end, no request starts, a transfer in progress
    /// is aborted. Only a lock-free atomic store, so a signal handler or another thread may call it.
    void RequestCancel() { cancelFlag.store(true); }
    /// Whether a cancel was asked for and not yet forgotten.
    bool CancelRequested() const { return cancelFlag.load(); }
    /// The flag behind RequestCancel, for pauses that end early on it.
    const std::atomic<bool>& CancelFlag() const { return cancelFlag; }

  protected:
    friend class ConnectionCall;
    friend class CancelShield;
    MLLibCurl* curl;
    EvDebug debug;
    std::string host;
    bool connected;
    std::string contentType;
    bool loginRequest;
    bool debugEnabled;
    MLLibCurlResult lastResult = MLLibCurlResult::Ok;
    std::string lastError;
    bool answerReceived = false;  // the last request reached the server and got an HTTP answer
    std::function<void(MLLibCurlSettings&)> settingsOverride;

  private:
    static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets the cancel flag");
    std::atomic<bool> cancelFlag{false};
    int callDepth = 0;  // calls of the connection's owner in progress (nested ones included)

    bool failBeforeSending(_http_req_type_ type, const std::string& url, const std::string& reason);
};

/// One call of the connection's owner, from start to return. The outermost call forgets a cancel that
/// came while no call ran, so that a cancel only ends the call in progress.
class ConnectionCall {
  public:
    explicit ConnectionCall(MLSRestApiConnection* connection) : connection_(connection) {
        if (connection_ != nullptr && connection_->callDepth++ == 0) connection_->cancelFlag.store(false);
    }
    ~ConnectionCall() {
        if (connection_ != nullptr) --connection_->callDepth;
    }
    ConnectionCall(const ConnectionCall&) = delete;
    ConnectionCall& operator=(const ConnectionCall&) = delete;

  private:
    MLSRestApiConnection* connection_;
};

/// Lets clean-up requests run after a cancel: the flag is put aside for the object's lifetime and set
/// again afterwards. A cancel asked for meanwhile stops the clean-up too.
class CancelShield {
  public:
    explicit CancelShield(MLSRestApiConnection* connection)
        : connection_(connection),
          wasCancelled_(connection != nullptr && connection->cancelFlag.exchange(false)) {}
    ~CancelShield() {
        if (wasCancelled_) connection_->cancelFlag.store(true);
    }
    CancelShield(const CancelShield&) = delete;
    CancelShield& operator=(const CancelShield&) = delete;

  private:
    MLSRestApiConnection* connection_;
    bool wasCancelled_;
};

#endif  // FCSDK_PLATFORM_MLSRESTAPICONNECTION_H
