#ifndef FCSDK_CONNECTION_FUSIONCOMPUTECONNECTION_H
#define FCSDK_CONNECTION_FUSIONCOMPUTECONNECTION_H

#include <string>

#include "platform/MLSRestApiConnection.h"

namespace FusionComputeSDKWrapper {

/// @brief The authenticated HTTPS session with one VRM.
///
/// Adds to the REST transport what the VRM requires: the base URL on port 7443, the JSON Accept header
/// with the negotiated API version, the login handshake with the SHA-256 of the password, the capture and
/// replay of the X-Auth-Token header, and a transparent re-login when a request is refused with 401.
class CFusionComputeConnection : public MLSRestApiConnection {
  public:
    /// @brief Builds an unconnected session with empty credentials, version and token.
    CFusionComputeConnection();
    /// @brief Ends the session (no logout request is sent).
    ~CFusionComputeConnection() override;

    /// @brief Opens the transport to `host` and reads the VRM's list of API versions.
    /// @param host the VRM's host name or address (the port is always 7443)
    /// @param user not used here; given again to login
    /// @param password not used here; given again to login
    /// @param versionsResponse receives the body of GET service/versions
    /// @return true when the transport is open and the versions were read
    bool connect(const std::string& host, const std::string& user, const std::string& password,
                 std::string& versionsResponse);

    /// @brief Sets the port of the VRM's HTTPS interface used by computeUrl (7443 until set).
    /// @param vrmPort the port, 1 to 65535
    void SetPort(int vrmPort) { port = vrmPort; }

    /// @brief Stores the credentials and the API version and logs in.
    /// @param user user name, sent as X-Auth-User
    /// @param password password; only its SHA-256 digest is sent
    /// @param version API version for the Accept header ("v6.3"); empty for none
    /// @param loginUri accepted and not used: the login path is fixed
    /// @return true when the VRM accepted the login
    bool login(const std::string& user, const std::string& password, const std::string& version,
               const std::string& loginUri);

    /// @brief Sends the login request with the stored credentials (also used for re-login).
    /// @return true when the VRM accepted the login
    bool _login();

    /// @brief SHA-256 of the bytes of `text` as 64 lowercase hexadecimal digits.
    /// @param text the input, embedded zero bytes included
    /// @return the digest text, or an empty text when hashing failed
    std::string SHA256Hash(const std::string& text);

    /// @brief Ends the session on the VRM: DELETE of `loginUri` with the session's token, then forgets the
    /// token. A refusal with 401 means the session had ended already. Never logs in again.
    /// @param loginUri the login URI of the chosen version; one that is not a "/service/" path of its
    ///        own is replaced by the fixed login path
    /// @return true when the session ended or there was none
    bool logout(const std::string& loginUri);

    /// @brief Whether a login succeeded and its token is held.
    /// @return true while a session token is held
    bool hasSession() const { return !tokenHeader.empty(); }

    /// @brief Always false; no request is sent.
    /// @return false
    bool checkConnection();

    /// @brief "https://" + host + ":" + port (7443 unless set) + path, with a "/" in between when the path
    /// lacks it.
    bool computeUrl(const std::string& host, const std::string& path, const VSRestApiRequestOptions* options,
                    std::string& url) override;
    /// @brief The transport's common headers, then Accept (with the version) and the session token.
    bool addCommonCurlHeaders() override;
    /// @brief X-Auth-User, X-Auth-Key, X-Auth-UserType and X-Auth-AuthType, in this order.
    bool addLoginCurlHeaders() override;
    /// @brief Keeps the X-Auth-Token header line of the login answer.
    bool saveLoginCurlHeaders() override;
    /// @brief Sends a request; a 401 while a session token is held renews the session and resends
    /// (at most 3 sends in all).
    bool sendReq(_http_req_type_ type, const std::string& path, const std::string& body,
                 std::string& response, VSRestApiRequestOptions* options) override;

    /// @brief The answer body of the last login that failed (the VRM's error body, if it sent one).
    /// @return the body; empty after a successful login or a login that got no answer
    const std::string& GetLastLoginAnswer() const { return lastLoginAnswer; }
    /// @brief Whether the last login was answered with success but without a session token.
    /// @return true when the token was missing
    bool LoginLackedToken() const { return loginLackedToken; }

  protected:
    std::string lastLoginAnswer;
    bool loginLackedToken = false;
    std::string user;
    std::string password;
    std::string tokenHeader;
    std::string version;
    int port = 7443;
};

}  // namespace FusionComputeSDKWrapper

#endif  // FCSDK_CONNECTION_FUSIONCOMPUTECONNECTION_H
