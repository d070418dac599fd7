#ifndef FCSDK_TESTS_SUPPORT_RAWCLIENT_H
#define FCSDK_TESTS_SUPPORT_RAWCLIENT_H

// RawClient: one reused libcurl handle (one keep-alive connection) that reaches the simulator of a
// SimServer as vrm.local:7443 with certificate verification on, for tests of the simulator itself: they
// send requests the library would never send and read the answers as they came.

#include <curl/curl.h>

#include <boost/json.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SimServer.h"

namespace fcsdk_test {

/// @brief One answer as it came.
struct RawReply {
    CURLcode code = CURLE_OK;                    ///< libcurl's result
    long status = 0;                             ///< HTTP status (0 when none came)
    std::string body;                            ///< the body
    std::map<std::string, std::string> headers;  ///< by lower-case name

    /// @brief The body as JSON (null when it is not JSON).
    boost::json::value Json() const;
    /// @brief The body as a JSON object (empty when it is not one).
    boost::json::object Object() const;
    /// @brief A string member of the body (empty when absent or not a string).
    std::string Str(const char* key) const;
};

/// @brief A libcurl client of the simulator with its own session token.
class RawClient {
  public:
    /// @param server the simulator to reach
    /// @param caFile the CA file to trust; empty: the simulator's own
    explicit RawClient(const SimServer& server, const std::string& caFile = std::string());
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    /// @brief Sends one request with the token (when there is one), the default headers and `headers`.
    RawReply Send(const std::string& method, const std::string& path, const std::string& body = std::string(),
                  std::vector<std::string> headers = {}, long timeoutMs = 20000);
    RawReply Get(const std::string& path) { return Send("GET", path); }
    /// @brief POST of a JSON body (Content-Type application/json).
    RawReply Post(const std::string& path, const boost::json::value& body);
    /// @brief PUT of a JSON body (Content-Type application/json).
    RawReply Put(const std::string& path, const boost::json::value& body);

    /// @brief A login with these credentials; the token is not kept.
    RawReply Login(const std::string& user, const std::string& password);
    /// @brief Logs in as the server's user and keeps the token for later requests.
    /// @return true when the login gave a token
    bool LogIn(const SimServer& server);
    /// @brief Whether a session token of the simulator's length is kept.
    bool LoggedIn() const { return token_.size() == 64; }
    void SetToken(const std::string& token) { token_ = token; }
    const std::string& token() const { return token_; }
    /// @brief Headers sent with every later request.
    void SetDefaultHeaders(std::vector<std::string> headers) { defaultHeaders_ = std::move(headers); }

  private:
    CURL* handle_ = nullptr;
    curl_slist* connectTo_ = nullptr;
    std::string base_;
    std::string token_;
    std::vector<std::string> defaultHeaders_;
};

/// @brief A simulator fixture (SimTest or one built on it) plus a RawClient logged in before each test.
template <typename Fixture>
class WithRawClient : public Fixture {
  protected:
    void SetUp() override {
        Fixture::SetUp();
        if (this->HasFatalFailure()) return;
        client_ = std::make_unique<RawClient>(this->server());
        ASSERT_TRUE(client_->LogIn(this->server()));
    }

    std::unique_ptr<RawClient> client_;
};

}  // namespace fcsdk_test

#endif  // FCSDK_TESTS_SUPPORT_RAWCLIENT_H
