// Security of the session against vrmsim: TLS verification is on unless turned off explicitly, a
// refused certificate fails the connect with a log line that names the reason, and no password,
// X-Auth-Key value or session token reaches the log at any level, also with EnableDebug. The log files
// written here (<build>/test-logs) are grepped once more by the CTest test secret_grep, together with
// the list of tokens the simulator issued (issued-tokens.txt). fcctl takes no password option.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "FusionComputeWrapper.h"
#include "LogCapture.h"
#include "SimServer.h"
#include "VrmSimulator.h"

namespace {

namespace fc = FusionComputeSDKWrapper;
using ::testing::HasSubstr;

std::string LogDir() {
    return FCSDK_TEST_LOG_DIR;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The session tokens the simulator handed out, as the client sent them back.
std::set<std::string> IssuedTokens(const fcsdk_test::SimServer& server) {
    std::set<std::string> tokens;
    for (const vrmsim::RecordedRequest& request : server.Requests()) {
        const std::string token = request.Header("X-Auth-Token");
        if (!token.empty()) tokens.insert(token);
    }
    return tokens;
}

// Each run starts a new token list (the log files are rewritten by their tests).
const bool kTokenListCleared = [] {
    std::filesystem::create_directories(LogDir());
    std::remove((LogDir() + "/issued-tokens.txt").c_str());
    return true;
}();

void AppendTokens(const std::set<std::string>& tokens) {
    std::ofstream out(LogDir() + "/issued-tokens.txt", std::ios::app);
    for (const std::string& token : tokens) out << token << "\n";
}

// ------------------------------------------------------------------------------------------------------
// Certificate verification
// ------------------------------------------------------------------------------------------------------

struct BadCertificate {
    const char* name;
    vrmsim::CertificateKind kind;
    const char* logged;  // what the refusal logged names
};

class CertificateTest : public ::testing::TestWithParam<BadCertificate> {};

TEST_P(CertificateTest, RefusedByDefaultWithTheReasonLogged) {
    vrmsim::Options options;
    options.certificate = GetParam().kind;
    fcsdk_test::SimServer server(options);
    ASSERT_TRUE(server.ok()) << server.error();
    fcsdk_test::FakeClock clock;
    fcsdk_test::LogCapture log(0);

    fc::CFusionComputeWrapper wrapper;
    EXPECT_FALSE(wrapper.Connect(server.host(), server.user(), server.password()));
    EXPECT_EQ(server.Stats().requests, 0u) << "a request passed the TLS handshake";
    EXPECT_EQ(server.Stats().logins, 0u);
    // Connect leaves the facade's last error alone; the reason is in the log.
    EXPECT_THAT(log.Text(), HasSubstr(GetParam().logged)) << log.Text();
    EXPECT_THAT(log.Text(), HasSubstr("/service/versions")) << "the failed request is not named";
}

TEST_P(CertificateTest, VerifyPeerOffConnectsAndWarns) {
    vrmsim::Options options;
    options.certificate = GetParam().kind;
    fcsdk_test::SimServer server(options, {{"Transport/nVerifyPeer", "0"}});
    ASSERT_TRUE(server.ok()) << server.error();
    fcsdk_test::FakeClock clock;
    fcsdk_test::LogCapture log(0);

    fc::CFusionComputeWrapper wrapper;
    ASSERT_TRUE(wrapper.Connect(server.host(), server.user(), server.password())) << log.Text();
    std::vector<fc::SVMInfoLib> vms;
    EXPECT_TRUE(wrapper.GetVMInfoList(vms, fc::MIN_VM_PROPS)) << wrapper.GetLastError();
    EXPECT_EQ(vms.size(), 22u);  // VMs and templates
    // One warning per connection, as an error line, whatever the number of requests.
    EXPECT_EQ(log.Count("nVerifyPeer=0"), 1u) << log.Text();
    EXPECT_TRUE(log.Contains("can be intercepted")) << log.Text();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CertificateTest,
    ::testing::Values(BadCertificate{"UnknownCa", vrmsim::CertificateKind::UnknownCa, "certificate"},
                      BadCertificate{"WrongHost", vrmsim::CertificateKind::WrongHost, "vrm.local"},
                      BadCertificate{"Expired", vrmsim::CertificateKind::Expired, "expired"}),
    [](const ::testing::TestParamInfo<BadCertificate>& info) { return info.param.name; });

TEST(CertificateTrust, ValidCertificateOfAnotherCaIsRefused) {
    // The right host and a valid date do not help when the CA file is another one.
    fcsdk_test::SimServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    fcsdk_test::SimServer other;
    ASSERT_TRUE(other.ok()) << other.error();
    server.SetConfigValue("Transport/sCAFile", other.caFile());
    fcsdk_test::FakeClock clock;
    fcsdk_test::LogCapture log(0);
    fc::CFusionComputeWrapper wrapper;
    EXPECT_FALSE(wrapper.Connect(server.host(), server.user(), server.password()));
    EXPECT_EQ(server.Stats().requests, 0u);
}

// ------------------------------------------------------------------------------------------------------
// No secrets in the log
// ------------------------------------------------------------------------------------------------------

class SecretLogTest : public ::testing::TestWithParam<int> {};

// Connect, list and search, snapshot with change token and block bitmap, disk access, a re-login after
// the token expired, a failed login with the wrong password, and a VRM error: everything that handles
// the password, the key or a token.
void RunFlow(fcsdk_test::SimServer& server) {
    fc::CFusionComputeWrapper wrapper;
    wrapper.EnableDebug();
    ASSERT_TRUE(wrapper.Connect(server.host(), server.user(), server.password())) << wrapper.GetLastError();
    std::vector<fc::SVMInfoLib> vms;
    ASSERT_TRUE(wrapper.GetVMInfoList(vms, fc::VM_PROP_ALL)) << wrapper.GetLastError();
    fc::SVMInfoLib vm;
    ASSERT_TRUE(wrapper.GetVMInfo("vm-0002", "", "", vm, fc::VM_PROP_ALL)) << wrapper.GetLastError();
    ASSERT_FALSE(vm.disks.empty());

    server.ExpireTokens();  // the next request logs in again
    fc::SSnapshotInfoLib snapshot;
    ASSERT_TRUE(wrapper.CreateVMSnapshot(vm, "secret-flow", "", false, true, true, true, snapshot))
        << wrapper.GetLastError();
    std::string token, bitmap;
    int sectorOfBlock = 0;
    ASSERT_TRUE(wrapper.GetDiskChangeToken(vm.disks.front().urn, snapshot.urn, token))
        << wrapper.GetLastError();
    ASSERT_TRUE(wrapper.QueryDiskAllocatedBlocks(vm.disks.front().urn, snapshot.urn, bitmap, sectorOfBlock))
        << wrapper.GetLastError();
    std::string resourceUri, hostIp, hostPort, accessToken, targetFile;
    ASSERT_TRUE(wrapper.PrepareDiskAccess(vm.disks.front().urn, snapshot.urn, "10.0.0.9", false, resourceUri,
                                          hostIp, hostPort, accessToken, targetFile))
        << wrapper.GetLastError();
    ASSERT_TRUE(wrapper.ReleaseDiskAccess(resourceUri)) << wrapper.GetLastError();
    ASSERT_TRUE(wrapper.DeleteVMSnapshot(vm, snapshot)) << wrapper.GetLastError();

    server.FailNext("GET", server.siteUri() + "/vms", 500);
    EXPECT_FALSE(wrapper.GetVMInfoList(vms, fc::MIN_VM_PROPS));

    fc::CFusionComputeWrapper refused;
    refused.EnableDebug();
    EXPECT_FALSE(refused.Connect(server.host(), server.user(), server.password() + "-wrong"));
}

TEST_P(SecretLogTest, NoSecretAtThisLevelWithEnableDebug) {
    const int level = GetParam();
    std::filesystem::create_directories(LogDir());
    const std::string logFile = LogDir() + "/security_test-level" + std::to_string(level) + ".log";
    std::remove(logFile.c_str());
    fcsdk_test::SimServer server(vrmsim::Options(),
                                 {{"Log/sFile", logFile}, {"Log/nLevel", std::to_string(level)}});
    ASSERT_TRUE(server.ok()) << server.error();
    fcsdk_test::FakeClock clock;

    RunFlow(server);

    const std::set<std::string> tokens = IssuedTokens(server);
    ASSERT_GE(tokens.size(), 2u) << "the flow should have logged in twice";
    AppendTokens(tokens);
    const std::string text = ReadFile(logFile);
    // Without the request lines the check proves little: from level 1 on EnableDebug shows every
    // request and answer with the secret headers masked.
    if (level >= 1) {
        EXPECT_THAT(text, HasSubstr("Request POST https://vrm.local:7443/service/session"));
        EXPECT_THAT(text, HasSubstr("X-Auth-Key:***"));
        EXPECT_THAT(text, HasSubstr("X-Auth-Token: ***"));
    }
    if (level >= 2) {
        EXPECT_THAT(text, HasSubstr("DETAIL"));
    } else {
        EXPECT_EQ(text.find("DETAIL"), std::string::npos) << "detail lines above the configured level";
    }
    const std::string password = server.password();
    EXPECT_EQ(text.find(password), std::string::npos);
    EXPECT_EQ(text.find(password + "-wrong"), std::string::npos);
    EXPECT_EQ(text.find(vrmsim::Sha256Hex(password)), std::string::npos);
    EXPECT_EQ(text.find(vrmsim::Sha256Hex(password + "-wrong")), std::string::npos);
    for (const std::string& token : tokens) {
        EXPECT_EQ(text.find(token), std::string::npos) << token;
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, SecretLogTest, ::testing::Values(0, 1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Level" + std::to_string(info.param);
                         });

// ------------------------------------------------------------------------------------------------------
// fcctl
// ------------------------------------------------------------------------------------------------------

TEST(FcctlSecurity, HasNoPasswordOption) {
#ifdef FCCTL_PATH
    const std::string command = std::string(FCCTL_PATH) + " --password x vms 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr) output += buffer;
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2) << output;  // the usage error
    EXPECT_THAT(output, HasSubstr("--password")) << output;
    EXPECT_EQ(output.find("cannot connect"), std::string::npos) << "the option was taken: " << output;
#else
    GTEST_SKIP() << "fcctl is not built";
#endif
}

}  // namespace
