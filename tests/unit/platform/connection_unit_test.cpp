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
