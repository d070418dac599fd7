// The session over real TLS against the in-process simulator: URL, headers on the wire, login, token
// replay, re-login on 401, TLS verification, routing, transport failures and secret-free logs.

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <memory>

#include "LogCapture.h"
#include "SimServer.h"
#include "connection/FusionComputeConnection.h"
#include "platform/FXString.h"

namespace {

using fcsdk_test::LogCapture;
using fcsdk_test::SimServer;
using FusionComputeSDKWrapper::CFusionComputeConnection;
using ::testing::HasSubstr;

constexpr char kVersion[] = "v6.3";
constexpr char kAcceptWithoutVersion[] = "application/json;charset=UTF8";
constexpr char kAcceptWithVersion[] = "application/json;version=v6.3;charset=UTF8";

// Exposes the captured token line for checks against the wire.
class TestConnection : public CFusionComputeConnection {
  public:
    std::string TokenValue() const {
        const std::string prefix = "X-Auth-Token:";
        if (tokenHeader.compare(0, prefix.size(), prefix) != 0) return tokenHeader;
        std::string value = tokenHeader.substr(prefix.size());
        FXString::Trim(value, " ");
        return value;
    }
    const std::string& TokenLine() const { return tokenHeader; }
};

size_t CountHeader(const vrmsim::RecordedRequest& request, const std::string& name) {
    size_t count = 0;
    for (const auto& header : request.headers) {
        if (strcasecmp(header.first.c_str(), name.c_str()) == 0) ++count;
    }
    return count;
}

// A port on 127.0.0.1 on which nothing listens (bound once, then released).
int ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class ConnectionTest : public fcsdk_test::SimTest {
  protected:
    void Connect(TestConnection& connection) {
        std::string versions;
        ASSERT_TRUE(connection.connect(server().host(), server().user(), server().password(), versions))
            << connection.GetLastTransportError();
    }
    void ConnectAndLogin(TestConnection& connection) {
        Connect(connection);
        ASSERT_TRUE(connection.login(server().user(), server().password(), kVersion, "/service/session"));
        server().ClearRequests();
    }
    std::vector<vrmsim::RecordedRequest> Requests() { return server().Requests(); }
};

TEST_F(ConnectionTest, ConnectReadsTheVersionListWithCommonHeadersOnly) {
    TestConnection connection;
    std::string versions;
    ASSERT_TRUE(connection.connect(server().host(), "ignored", "ignored", versions));
    EXPECT_THAT(versions, HasSubstr("\"versions\""));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/service/versions");
    EXPECT_EQ(requests[0].Header("Accept"), kAcceptWithoutVersion);
    EXPECT_EQ(CountHeader(requests[0], "Accept"), 1u);
    EXPECT_EQ(requests[0].Header("Host"), "vrm.local:7443");
    EXPECT_FALSE(requests[0].HasHeader("X-Auth-Token"));
    EXPECT_FALSE(requests[0].HasHeader("X-Auth-User"));
    EXPECT_FALSE(requests[0].HasHeader("Content-Type"));
}

TEST_F(ConnectionTest, PathsAreJoinedWithOneSlash) {
    TestConnection connection;
    ConnectAndLogin(connection);
    std::string response;
    connection.get("service/sites", response, nullptr);
    connection.get(server().siteUri(), response, nullptr);
    connection.get("", response, nullptr);
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/service/sites");
    EXPECT_EQ(requests[1].target, server().siteUri());
    EXPECT_EQ(requests[2].target, "/");
}

TEST_F(ConnectionTest, LoginSendsTheFourHeadersInOrderAndCapturesTheToken) {
    TestConnection connection;
    Connect(connection);
    server().ClearRequests();
    ASSERT_TRUE(connection.login(server().user(), server().password(), kVersion, "/ignored/uri"));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    const vrmsim::RecordedRequest& login = requests[0];
    EXPECT_EQ(login.method, "POST");
    EXPECT_EQ(login.target, "/service/session");
    EXPECT_EQ(login.body, "");
    EXPECT_EQ(login.Header("Accept"), kAcceptWithVersion);
    EXPECT_EQ(login.Header("X-Auth-User"), server().user());
    EXPECT_EQ(login.Header("X-Auth-Key"), vrmsim::Sha256Hex(server().password()));
    EXPECT_EQ(login.Header("X-Auth-UserType"), "0");
    EXPECT_EQ(login.Header("X-Auth-AuthType"), "0");
    EXPECT_FALSE(login.HasHeader("X-Auth-Token"));
    EXPECT_FALSE(login.HasHeader("Content-Type"));
    EXPECT_FALSE(login.HasHeader("Expect"));

    EXPECT_THAT(connection.TokenLine(), ::testing::StartsWith("X-Auth-Token:"));
    EXPECT_EQ(connection.TokenLine().find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(connection.TokenValue().size(), 64u);
}

// The simulator's record keeps headers sorted by name, so the order on the wire is read from the
// transport's request log, which lists the lines in the order libcurl sends them.
TEST_F(ConnectionTest, LoginHeadersGoOutInTheirOrder) {
    TestConnection connection;
    Connect(connection);
    LogCapture log(1);
    connection.enableDebug();
    ASSERT_TRUE(connection.login(server().user(), server().password(), kVersion, ""));
    const std::string expected = "Request POST https://vrm.local:7443/service/session headers [Accept: " +
                                 std::string(kAcceptWithVersion) + " | X-Auth-User:" + server().user() +
                                 " | X-Auth-Key:*** | X-Auth-UserType:0 | X-Auth-AuthType:0] body []";
    EXPECT_EQ(log.Count(expected), 1u) << log.Text();
}

TEST_F(ConnectionTest, LaterRequestsReplayTheTokenAndVersion) {
    TestConnection connection;
    ConnectAndLogin(connection);
    std::string response;
    ASSERT_TRUE(connection.get("service/sites", response, nullptr));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("X-Auth-Token"), connection.TokenValue());
    EXPECT_EQ(CountHeader(requests[0], "X-Auth-Token"), 1u);
    EXPECT_EQ(requests[0].Header("Accept"), kAcceptWithVersion);
    EXPECT_FALSE(requests[0].HasHeader("X-Auth-Key"));
    EXPECT_FALSE(requests[0].HasHeader("X-Auth-User"));
}

TEST_F(ConnectionTest, LoginWithoutVersionKeepsThePlainAcceptLine) {
    TestConnection connection;
    Connect(connection);
    ASSERT_TRUE(connection.login(server().user(), server().password(), "", ""));
    std::string response;
    connection.get("service/sites", response, nullptr);
    for (const auto& request : server().Requests("/service/s"))
        EXPECT_EQ(request.Header("Accept"), kAcceptWithoutVersion);
}

TEST_F(ConnectionTest, BodiesCarryTheContentTypeLine) {
    TestConnection connection;
    ConnectAndLogin(connection);
    vrmsim::Fault ok;
    ok.kind = vrmsim::FaultKind::Body;
    ok.path = "/service/echo";
    ok.body = "{}";
    ok.count = -1;
    server().AddFault(ok);
    const std::string body = R"({"name":"vm \u00e9","cpu":2})";
    std::string response;
    EXPECT_TRUE(connection.post("/service/echo", body, response, nullptr));
    EXPECT_TRUE(connection.put("/service/echo", body, response, nullptr));
    EXPECT_TRUE(connection.del("/service/echo", "", response, nullptr));
    EXPECT_TRUE(connection.del("/service/echo", body, response, nullptr));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 4u);
    const std::pair<const char*, bool> expected[] = {
        {"POST", true}, {"PUT", true}, {"DELETE", false}, {"DELETE", true}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(requests[i].method, expected[i].first);
        EXPECT_EQ(requests[i].body, expected[i].second ? body : "");
        EXPECT_EQ(requests[i].Header("Content-Type"),
                  expected[i].second ? "application/json; charset=UTF-8" : "")
            << i;
        EXPECT_FALSE(requests[i].HasHeader("Expect"));
    }
}

TEST_F(ConnectionTest, One401RenewsTheSessionAndResendsWithTheNewToken) {
    TestConnection connection;
    ConnectAndLogin(connection);
    const std::string oldToken = connection.TokenValue();
    server().ExpireTokens();
    std::string response;
    ASSERT_TRUE(connection.get("service/sites", response, nullptr));
    EXPECT_THAT(response, HasSubstr("sites"));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/service/sites");
    EXPECT_EQ(requests[0].status, 401);
    EXPECT_EQ(requests[0].Header("X-Auth-Token"), oldToken);
    EXPECT_EQ(requests[1].target, "/service/session");
    EXPECT_FALSE(requests[1].HasHeader("X-Auth-Token"));
    EXPECT_EQ(requests[1].Header("Accept"), kAcceptWithVersion);
    EXPECT_EQ(requests[2].target, "/service/sites");
    EXPECT_EQ(requests[2].status, 200);
    EXPECT_EQ(requests[2].Header("X-Auth-Token"), connection.TokenValue());
    EXPECT_NE(connection.TokenValue(), oldToken);
}

TEST_F(ConnectionTest, ThreeRefusalsInARowFailAfterThreeSends) {
    TestConnection connection;
    ConnectAndLogin(connection);
    const auto loginsBefore = server().Stats().logins;
    server().FailNext("GET", "/service/sites", 401, "10000001", "The token is invalid or has expired.", -1);
    std::string response;
    EXPECT_FALSE(connection.get("service/sites", response, nullptr));
    EXPECT_THAT(response, HasSubstr("10000001"));
    const auto gets = server().Requests("/service/sites");
    ASSERT_EQ(gets.size(), 3u);
    for (const auto& get : gets) EXPECT_EQ(get.status, 401);
    EXPECT_EQ(server().Requests("/service/session").size(), 3u);
    EXPECT_EQ(server().Stats().logins - loginsBefore, 3u);
}

TEST_F(ConnectionTest, RefusedFirstLoginIsNotRepeated) {
    TestConnection connection;
    Connect(connection);
    server().ClearRequests();
    EXPECT_FALSE(connection.login(server().user(), "wrong password", kVersion, ""));
    EXPECT_EQ(connection.GetHttpErrorCode(), 401);
    EXPECT_EQ(server().Requests().size(), 1u);
    EXPECT_EQ(connection.TokenLine(), "");
}

TEST_F(ConnectionTest, RefusedReloginEndsTheRequestWithoutAnotherLogin) {
    TestConnection connection;
    ConnectAndLogin(connection);
    server().ExpireTokens();
    server().FailNext("POST", "/service/session", 401, "10000040", "Login failed", -1);
    std::string response;
    EXPECT_FALSE(connection.get("service/sites", response, nullptr));
    EXPECT_EQ(connection.GetHttpErrorCode(), 401);
    EXPECT_THAT(response, HasSubstr("10000001"));  // the refused request's own answer
    EXPECT_EQ(server().Requests("/service/sites").size(), 1u);
    EXPECT_EQ(server().Requests("/service/session").size(), 1u);
    EXPECT_EQ(connection.TokenLine(), "");
    // Without a session token a later 401 is final at once: no login attempt.
    server().ClearRequests();
    EXPECT_FALSE(connection.get("service/sites", response, nullptr));
    EXPECT_EQ(server().Requests().size(), 1u);
}

TEST_F(ConnectionTest, HttpErrorsKeepTheBodyAndAreNotRetried) {
    TestConnection connection;
    ConnectAndLogin(connection);
    server().FailNext("GET", "/service/sites", 404, "10300001", "Not here");
    std::string response;
    EXPECT_FALSE(connection.get("service/sites", response, nullptr));
    EXPECT_EQ(connection.GetHttpErrorCode(), 404);
    EXPECT_EQ(connection.GetLastResult(), MLLibCurlResult::HttpError);
    EXPECT_THAT(connection.GetLastTransportError(), HasSubstr("404"));
    EXPECT_THAT(response, HasSubstr("\"errorCode\""));
    EXPECT_THAT(response, HasSubstr("10300001"));
    EXPECT_EQ(server().Requests().size(), 1u);
    server().FailNext("POST", "/service/x", 500);
    EXPECT_FALSE(connection.post("/service/x", "{}", response, nullptr));
    EXPECT_EQ(server().Requests("/service/x").size(), 1u);
}

TEST_F(ConnectionTest, DroppedConnectionIsATransportFailureAndTheNextRequestReconnects) {
    TestConnection connection;
    ConnectAndLogin(connection);
    LogCapture log(0);
    vrmsim::Fault drop;
    drop.kind = vrmsim::FaultKind::Drop;
    drop.path = "/service/sites";
    server().AddFault(drop);
    std::string response;
    EXPECT_FALSE(connection.get("service/sites", response, nullptr));
    EXPECT_EQ(connection.GetLastResult(), MLLibCurlResult::TransportError);
    EXPECT_EQ(connection.GetHttpErrorCode(), 0);
    EXPECT_EQ(response, "");
    EXPECT_THAT(connection.GetLastTransportError(), HasSubstr("curl error"));
    EXPECT_EQ(log.Lines(EvDebugLevel::Error).size(), 1u) << log.Text();
    EXPECT_THAT(log.Text(), HasSubstr("GET https://vrm.local:7443/service/sites failed: curl error"));
    EXPECT_TRUE(connection.get("service/sites", response, nullptr));
    EXPECT_EQ(server().Requests("/service/session").size(), 0u);
}

// A kept-alive connection closed without an answer: libcurl resends a GET on a new connection (the
// server may close idle connections at any time), but a POST, PUT or DELETE that the server received
// whole is never sent twice, with or without a body.
TEST_F(ConnectionTest, ClosedWithoutAnswerResendsOnlyGets) {
    TestConnection connection;
    ConnectAndLogin(connection);
    std::string response;
    ASSERT_TRUE(connection.get("service/sites", response, nullptr));  // the connection is now reused
    server().ClearRequests();
    vrmsim::Fault close;
    close.kind = vrmsim::FaultKind::Close;
    close.path = "/service/sites";
    server().AddFault(close);
    EXPECT_TRUE(connection.get("service/sites", response, nullptr));
    EXPECT_EQ(server().Requests("/service/sites").size(), 2u);

    LogCapture log(0);
    const std::pair<_http_req_type_, std::string> writes[] = {
        {HTTP_REQ_POST, "{\"a\":1}"}, {HTTP_REQ_POST, ""}, {HTTP_REQ_PUT, "{}"}, {HTTP_REQ_DELETE, ""}};
    for (const auto& [type, body] : writes) {
        server().ClearRequests();
        close.path = "/service/write";
        close.method = "";
        server().AddFault(close);
        ASSERT_TRUE(connection.get("service/sites", response, nullptr));
        bool sent = false;
        if (type == HTTP_REQ_POST) sent = connection.post("/service/write", body, response, nullptr);
        if (type == HTTP_REQ_PUT) sent = connection.put("/service/write", body, response, nullptr);
        if (type == HTTP_REQ_DELETE) sent = connection.del("/service/write", body, response, nullptr);
        EXPECT_FALSE(sent) << type;
        EXPECT_EQ(connection.GetLastResult(), MLLibCurlResult::TransportError) << type;
        EXPECT_EQ(connection.GetHttpErrorCode(), 0) << type;
        EXPECT_THAT(connection.GetLastTransportError(), HasSubstr("it is not sent again")) << type;
        EXPECT_EQ(server().Requests("/service/write").size(), 1u) << type;
    }
}

TEST_F(ConnectionTest, OneTlsConnectionServesTheSession) {
    const auto before = server().Stats().tlsConnections;
    {
        TestConnection connection;
        ConnectAndLogin(connection);
        std::string response;
        for (int i = 0; i < 20; ++i) ASSERT_TRUE(connection.get("service/sites", response, nullptr));
    }
    EXPECT_EQ(server().Stats().tlsConnections - before, 1u);
    // The counter does see a second client: reuse above is real, not a blind counter.
    TestConnection other;
    Connect(other);
    EXPECT_EQ(server().Stats().tlsConnections - before, 2u);
}

TEST_F(ConnectionTest, DebugLogsShowRequestsButNoSecrets) {
    LogCapture log(2);
    TestConnection connection;
    connection.enableDebug();
    Connect(connection);
    ASSERT_TRUE(connection.login(server().user(), server().password(), kVersion, ""));
    const std::string firstToken = connection.TokenValue();
    server().ExpireTokens();
    std::string response;
    ASSERT_TRUE(connection.get("service/sites", response, nullptr));
    const std::string secondToken = connection.TokenValue();
    EXPECT_NE(firstToken, secondToken);

    EXPECT_TRUE(log.Contains("Request POST https://vrm.local:7443/service/session")) << log.Text();
    EXPECT_TRUE(log.Contains("Response to GET https://vrm.local:7443/service/sites: status 401"));
    EXPECT_TRUE(log.Contains("X-Auth-Key:***"));
    EXPECT_TRUE(log.Contains("X-Auth-Token: ***"));
    EXPECT_TRUE(log.Contains("Logging in as [" + server().user() + "]"));
    EXPECT_TRUE(log.HasNoSecret(server().password()));
    EXPECT_TRUE(log.HasNoSecret(vrmsim::Sha256Hex(server().password())));
    EXPECT_TRUE(log.HasNoSecret(firstToken));
    EXPECT_TRUE(log.HasNoSecret(secondToken));
}

// Suites with their own simulator or configuration.

TEST(ConnectionTls, UnknownCaIsRefused) {
    vrmsim::Options options;
    options.certificate = vrmsim::CertificateKind::UnknownCa;
    SimServer server(options);
    ASSERT_TRUE(server.ok()) << server.error();
    LogCapture log(0);
    TestConnection connection;
    std::string versions;
    EXPECT_FALSE(connection.connect(server.host(), server.user(), server.password(), versions));
    EXPECT_EQ(connection.GetLastResult(), MLLibCurlResult::TransportError);
    EXPECT_THAT(connection.GetLastTransportError(), HasSubstr("curl error 60"));
    EXPECT_EQ(server.Stats().requests, 0u);
    EXPECT_EQ(log.Lines(EvDebugLevel::Error).size(), 1u) << log.Text();
}

TEST(ConnectionTls, WrongHostNameIsRefusedWhileVerifying) {
    vrmsim::Options options;
    options.certificate = vrmsim::CertificateKind::WrongHost;
    SimServer server(options, {{"Transport/nVerifyPeer", "1"}});
    ASSERT_TRUE(server.ok()) << server.error();
    LogCapture log(0);
    TestConnection connection;
    std::string versions;
    EXPECT_FALSE(connection.connect(server.host(), server.user(), server.password(), versions));
    EXPECT_THAT(connection.GetLastTransportError(), HasSubstr("curl error 60"));
    EXPECT_EQ(server.Stats().requests, 0u);
}

TEST(ConnectionTls, VerificationOffAcceptsTheCertificateAndSaysSoOnce) {
    vrmsim::Options options;
    options.certificate = vrmsim::CertificateKind::WrongHost;
    SimServer server(options, {{"Transport/nVerifyPeer", "0"}});
    ASSERT_TRUE(server.ok()) << server.error();
    LogCapture log(0);
    TestConnection connection;
    std::string versions;
    ASSERT_TRUE(connection.connect(server.host(), server.user(), server.password(), versions))
        << connection.GetLastTransportError();
    ASSERT_TRUE(connection.login(server.user(), server.password(), kVersion, ""));
    std::string response;
    EXPECT_TRUE(connection.get("service/sites", response, nullptr));
    EXPECT_EQ(log.Count("verification is turned off"), 1u) << log.Text();
    EXPECT_EQ(log.Lines(EvDebugLevel::Error).size(), 1u) << log.Text();
}

TEST(ConnectionRouting, ConnectToDecidesWhereTheHostNameGoes) {
    SimServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    TestConnection routed;
    std::string versions;
    ASSERT_TRUE(routed.connect(server.host(), "", "", versions));
    EXPECT_EQ(server.Requests().at(0).Header("Host"), "vrm.local:7443");

    // Without the routing entry the name does not resolve (".local" is not in any resolver here), or
    // at least does not reach the simulator.
    server.SetConfigValue("Transport/sConnectTo", "");
    LogCapture log(0);
    TestConnection unrouted;
    EXPECT_FALSE(unrouted.connect(server.host(), "", "", versions));
    EXPECT_EQ(unrouted.GetLastResult(), MLLibCurlResult::TransportError);
    EXPECT_EQ(server.Stats().requests, 1u);
}

TEST(ConnectionFailures, ServerNotListening) {
    SimServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    server.SetConfigValue("Transport/sConnectTo", "vrm.local:7443:127.0.0.1:" + std::to_string(ClosedPort()));
    LogCapture log(0);
    TestConnection connection;
    std::string versions;
    EXPECT_FALSE(connection.connect(server.host(), "", "", versions));
    EXPECT_EQ(connection.GetHttpErrorCode(), 0);
    EXPECT_THAT(connection.GetLastTransportError(), HasSubstr("curl error 7"));
    EXPECT_THAT(log.Text(), HasSubstr("GET https://vrm.local:7443/service/versions failed: curl error 7"));
}

TEST(ConnectionFailures, StalledAnswerFailsAfterTheLowSpeedTime) {
    SimServer server(vrmsim::Options(), {{"Transport/nLowSpeedTime", "1"}});
    ASSERT_TRUE(server.ok()) << server.error();
    TestConnection connection;
    std::string versions;
    ASSERT_TRUE(connection.connect(server.host(), "", "", versions));
    vrmsim::Fault stall;
    stall.kind = vrmsim::FaultKind::Stall;
    stall.path = "/service/versions";
    stall.ms = 20000;
    server.AddFault(stall);
    LogCapture log(0);
    EXPECT_FALSE(connection.get("service/versions", versions, nullptr));
    EXPECT_EQ(connection.GetLastResult(), MLLibCurlResult::TransportError);
    EXPECT_THAT(connection.GetLastTransportError(), HasSubstr("curl error 28"));
    server.sim().Reset();  // wakes the stalled answer so the server can stop at once
}

TEST(ConnectionFailures, AnswerOverTheSizeLimitFailsWithAClearMessage) {
    SimServer server(vrmsim::Options(), {{"Transport/nMaxResponseMB", "1"}});
    ASSERT_TRUE(server.ok()) << server.error();
    TestConnection connection;
    std::string versions;
    ASSERT_TRUE(connection.connect(server.host(), "", "", versions));
    vrmsim::Fault oversize;
    oversize.kind = vrmsim::FaultKind::Oversize;
    oversize.path = "/service/versions";
    oversize.megabytes = 2;
    server.AddFault(oversize);
    LogCapture log(0);
    std::string response;
    EXPECT_FALSE(connection.get("service/versions", response, nullptr));
    EXPECT_EQ(response, "");
    EXPECT_EQ(connection.GetLastResult(), MLLibCurlResult::TransportError);
    EXPECT_THAT(connection.GetLastTransportError(), HasSubstr("larger than the limit of 1 MB"));
    EXPECT_THAT(log.Text(), HasSubstr("larger than the limit of 1 MB"));
    // Answers below the limit still pass on the same session.
    EXPECT_TRUE(connection.get("service/versions", response, nullptr));
}

}  // namespace
