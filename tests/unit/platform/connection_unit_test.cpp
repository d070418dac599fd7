// The session's request-independent parts: URL joining, the login precondition, checkConnection.

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "connection/FusionComputeConnection.h"

namespace {

using FusionComputeSDKWrapper::CFusionComputeConnection;

TEST(ConnectionUrl, JoinsHostPortAndPathWithExactlyOneSlash) {
    fcsdk_test::LogCapture capture(2);
    CFusionComputeConnection connection;
    const std::pair<const char*, const char*> cases[] = {
        {"service/versions", "https://vrm.local:7443/service/versions"},
        {"/service/sites/1/vms", "https://vrm.local:7443/service/sites/1/vms"},
        {"", "https://vrm.local:7443/"},
        {"/", "https://vrm.local:7443/"},
        {"service/vms?limit=100&offset=0", "https://vrm.local:7443/service/vms?limit=100&offset=0"},
    };
    for (const auto& [path, expected] : cases) {
        capture.Clear();
        std::string url = "previous";
        EXPECT_TRUE(connection.computeUrl("vrm.local", path, nullptr, url));
        EXPECT_EQ(url, expected);
        EXPECT_EQ(capture.Count(
                      std::string("DETAIL virtual bool FusionComputeSDKWrapper::CFusionComputeConnection::"
                                  "computeUrl(const string&, const string&, const "
                                  "VSRestApiRequestOptions*, std::string&) - Computed URL [") +
                      expected + "]"),
                  1u)
            << capture.Text();
    }
}

TEST(ConnectionLogin, RefusedBeforeConnect) {
    fcsdk_test::LogCapture capture(0);
    CFusionComputeConnection connection;
    EXPECT_FALSE(connection.login("admin", "secret-password", "v6.3", "/service/session"));
    const std::vector<std::string> lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(
        lines[0].find("ERROR bool FusionComputeSDKWrapper::CFusionComputeConnection::login(const string&, "
                      "const string&, const string&, const string&) - Connect was not called"),
        std::string::npos)
        << lines[0];
    EXPECT_TRUE(capture.HasNoSecret("secret-password"));
}

TEST(ConnectionCheck, AlwaysFalse) {
    CFusionComputeConnection connection;
    EXPECT_FALSE(connection.checkConnection());
}

TEST(ConnectionRequest, WithoutConnectFailsWithoutAnswer) {
    fcsdk_test::LogCapture capture(0);
    CFusionComputeConnection connection;
    std::string response = "stale";
    EXPECT_FALSE(connection.get("service/sites", response, nullptr));
    EXPECT_EQ(response, "");
    EXPECT_EQ(connection.GetHttpErrorCode(), 0);
    EXPECT_EQ(connection.GetLastResult(), MLLibCurlResult::TransportError);
    EXPECT_EQ(capture.Lines(EvDebugLevel::Error).size(), 1u) << capture.Text();
}

}  // namespace

namespace {

// A transport whose hooks can be made to fail; the host is never contacted when a hook fails.
class FailingHooks : public MLSRestApiConnection {
  public:
    bool failCommon = false;
    bool failLogin = false;
    int commonCalls = 0;
    int loginCalls = 0;
    bool addCommonCurlHeaders() override {
        ++commonCalls;
        return !failCommon && MLSRestApiConnection::addCommonCurlHeaders();
    }
    bool addLoginCurlHeaders() override {
        ++loginCalls;
        return !failLogin;
    }
    void SetLoginRequest(bool value) { loginRequest = value; }
};

TEST(TransportHooks, AFailingHookAbandonsTheRequestBeforeSending) {
    fcsdk_test::LogCapture capture(0);
    FailingHooks transport;
    ASSERT_TRUE(transport.connect("unreachable.invalid", true, ""));
    std::string response = "stale";

    transport.failCommon = true;
    EXPECT_FALSE(transport.get("x", response, nullptr));
    EXPECT_EQ(transport.commonCalls, 1);
    EXPECT_EQ(transport.loginCalls, 0);
    EXPECT_EQ(response, "");
    EXPECT_EQ(transport.GetHttpErrorCode(), 0);
    EXPECT_EQ(transport.GetLastTransportError(), "the request headers could not be set");

    transport.failCommon = false;
    transport.failLogin = true;
    transport.SetLoginRequest(true);
    EXPECT_FALSE(transport.post("session", "", response, nullptr));
    EXPECT_EQ(transport.commonCalls, 2);
    EXPECT_EQ(transport.loginCalls, 1);
    EXPECT_EQ(capture.Lines(EvDebugLevel::Error).size(), 2u) << capture.Text();
}

TEST(TransportHeaders, LinesWithLineBreaksAreRefused) {
    MLLibCurl client(MLLibCurlSettings{});
    EXPECT_TRUE(client.MLLibCurlAppendHeader(HTTP_HDR_REQUEST, "X-Auth-User:admin"));
    EXPECT_FALSE(client.MLLibCurlAppendHeader(HTTP_HDR_REQUEST, "X-Auth-User:admin\r\nX-Evil: 1"));
    EXPECT_FALSE(client.MLLibCurlAppendHeader(HTTP_HDR_REQUEST, "X-A:\n"));
    EXPECT_FALSE(client.MLLibCurlAppendHeader(HTTP_HDR_REQUEST, ""));
    EXPECT_EQ(client.PendingHeaders(), (std::vector<std::string>{"X-Auth-User:admin"}));
    client.ClearHeaders();
    EXPECT_TRUE(client.PendingHeaders().empty());
}

}  // namespace
