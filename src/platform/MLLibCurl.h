#ifndef FCSDK_PLATFORM_MLLIBCURL_H
#define FCSDK_PLATFORM_MLLIBCURL_H

#include <atomic>
#include <string>
#include <vector>

/// HTTP verb of a request.
enum _http_req_type_ { HTTP_REQ_GET = 0, HTTP_REQ_POST = 1, HTTP_REQ_PUT = 2, HTTP_REQ_DELETE = 3 };
/// The verb's name as it goes on the wire and into log lines and error messages ("GET", "POST", ...).
const char* HttpMethodName(_http_req_type_ type);
/// Kind of a header line; 0 is a request header.
enum _http_hdr_type_ { HTTP_HDR_REQUEST = 0 };

/// Outcome of one transfer. Transport failures and HTTP errors stay distinct.
enum class MLLibCurlResult { Ok, HttpError, TransportError };

/// Settings of the transport, read from the "Transport" section of the configuration.
struct MLLibCurlSettings {
    std::string caFile;         // sCAFile: PEM file of trusted CAs; empty = system store
    bool verifyPeer = true;     // nVerifyPeer
    std::string connectTo;      // sConnectTo: HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT
    long connectTimeout = 30;   // nConnectTimeout, seconds
    long lowSpeedTime = 120;    // nLowSpeedTime, seconds below 1 byte/s
    long maxResponseMB = 256;   // nMaxResponseMB
    long requestTimeout = 600;  // nRequestTimeout: seconds for one request from start to end; 0 = none
    /// Reads the settings from the configuration (defaults where absent).
    static MLLibCurlSettings FromConfiguration();
    /// False, with a message in `error`, when connectTo is set but not
    /// HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT (ports empty or 1-65535; an IPv6 address in brackets).
    bool CheckConnectTo(std::string& error) const;
};

/// HTTP(S) client over one reused libcurl easy handle (keep-alive across requests).
class MLLibCurl {
  public:
    explicit MLLibCurl(const MLLibCurlSettings& settings = MLLibCurlSettings::FromConfiguration());
    ~MLLibCurl();
    MLLibCurl(const MLLibCurl&) = delete;
    MLLibCurl& operator=(const MLLibCurl&) = delete;

    /// Adds a whole header line ("Name: value") to the next request. False on failure.
    bool MLLibCurlAppendHeader(_http_hdr_type_ kind, const std::string& line);
    /// Sends one request with the headers appended since the last one (then forgets them).
    /// `response` receives the body (also for HTTP errors; empty after a transport failure, where no
    /// complete answer arrived). `error` says what went wrong: curl's error or the HTTP status.
    /// GET requests are resendable, the others are not (see the overload).
    MLLibCurlResult Perform(_http_req_type_ type, const std::string& url, const std::string& body,
                            std::string& response, std::string& error);
    /// As above. libcurl sends a request again on a new connection when a reused keep-alive connection
    /// turns out closed before any byte of the answer arrived. A `resendable` request may go again; any
    /// other only when the server cannot have received all of it (none of its body left), else it fails
    /// as a transport error, so it is sent at most once. Every request uses the one kept connection.
    MLLibCurlResult Perform(_http_req_type_ type, const std::string& url, const std::string& body,
                            std::string& response, std::string& error, bool resendable);

    /// The last answer's header line that begins with `name` (case-insensitive), whole with its CR LF,
    /// or null when there is none.
    const char* GetHttpResponseHeader(const char* name) const;
    /// HTTP status of the last answer; 0 when no answer arrived.
    long GetHttpErrorCode() const;
    /// Percent-encodes `text` (RFC 3986 unreserved characters stay).
    std::string UrlEncode(const std::string& text) const;
    /// Percent-encoding without a client object.
    static std::string PercentEncode(const std::string& text);

    /// Lets `flag` cancel requests: while it is set, no request starts, and a transfer in progress is
    /// aborted (checked by libcurl's progress callback, about once a second when no data flows). Such a
    /// request fails as a transport error with the text "Cancelled". Null turns cancelling off.
    void SetCancelFlag(const std::atomic<bool>* flag);

    /// Forgets the header lines appended for the next request (used when a request is abandoned).
    void ClearHeaders();
    /// The header lines appended for the next request, in order (for request logging).
    const std::vector<std::string>& PendingHeaders() const;
    /// The header lines of the last answer, in order, each with its CR LF.
    const std::vector<std::string>& ResponseHeaders() const;

  private:
    struct Impl;
    Impl* impl_;
};

#endif  // FCSDK_PLATFORM_MLLIBCURL_H
