// Security of the session against vrmsim: TLS verification is on unless turned off explicitly, a
// refused certificate fails the connect with a log line that names the reason, and no password,
// X-Auth-Key value or session token reaches the log at any level, also with EnableDebug. The log files
// written here (<build>/test-logs) are grepped once more by the CTest test secret_grep, together with
// the list of tokens the simulator issued (issued-tokens.txt). fcctl takes no password option.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
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
// Caller values and links: a value never changes the request's shape, and a request goes only to a link
// of the kind its operation means
// ------------------------------------------------------------------------------------------------------

struct CallerValueCase {
    const char* name;
    // Runs the call on a connected wrapper; `vm` is vm-0001 with disks and snapshots, `site` the site URI.
    std::function<bool(fc::CFusionComputeWrapper&, const fc::SVMInfoLib& vm, const std::string& site)> call;
    // Empty: the call is refused and nothing is sent. Otherwise the one GET sent carries exactly this
    // query argument with the caller's whole value (and no argument the value smuggled in).
    const char* argument;
    const char* value;
};

std::string VolumeUri(const fc::SVMInfoLib& vm) {
    std::string uri = "/service/" + vm.disks.front().urn.substr(4);
    std::replace(uri.begin(), uri.end(), ':', '/');
    return uri;
}

std::string Resource(const fc::SVMInfoLib& vm) {
    return VolumeUri(vm) + "/backupresources/7";
}

const CallerValueCase kCallerValues[] = {
    {"UrnWithTraversalDeletesNothing",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib& vm, const std::string&) {
         fc::SDiskInfoLib disk;
         disk.urn = vm.disks.front().urn + "/../../vms:" + vm.urn.substr(vm.urn.rfind(':') + 1);
         return w.DeleteDisk(disk);
     },
     "", ""},
    {"LinkWithTraversalDeletesNothing",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib& vm, const std::string&) {
         fc::SDiskInfoLib disk;
         disk.uri = VolumeUri(vm) + "/../../vms/" + vm.uri.substr(vm.uri.rfind('/') + 1);
         return w.DeleteDisk(disk);
     },
     "", ""},
    {"VmUrnHandedToDeleteDisk",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib& vm, const std::string&) {
         fc::SDiskInfoLib disk;
         disk.urn = vm.urn;
         return w.DeleteDisk(disk);
     },
     "", ""},
    {"SnapshotLinkHandedToReleaseDiskAccess",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib& vm, const std::string&) {
         return w.ReleaseDiskAccess(vm.snapshots.front().uri);
     },
     "", ""},
    {"ResourceLinkWithQuery",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib& vm, const std::string&) {
         return w.ExtendDiskAccess(Resource(vm) + "?delay=1", 600);
     },
     "", ""},
    {"ResourceLinkWithFragment",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib& vm, const std::string&) {
         return w.ValidateDiskAccess(Resource(vm) + "#x");
     },
     "", ""},
    {"ResourceLinkOfAnotherSite",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib& vm, const std::string& site) {
         std::string link = Resource(vm);
         return w.ReleaseDiskAccess("/service/sites/OTHER" + link.substr(site.size()));
     },
     "", ""},
    {"SnapshotLinkWithEscapedDots",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib& vm, const std::string&) {
         fc::SSnapshotInfoLib snapshot = vm.snapshots.front();
         snapshot.uri += "/%2e%2e/%2e%2e";
         return w.DeleteVMSnapshot(vm, snapshot);
     },
     "", ""},
    {"SnapshotUrnWithCrLf",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib& vm, const std::string&) {
         std::string token;
         return w.GetDiskChangeToken(vm.disks.front().urn, vm.snapshots.front().urn + "\r\nX-Evil: 1", token);
     },
     "", ""},
    {"VmLinkWithSpace",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib& vm, const std::string&) {
         fc::SVMInfoLib target = vm;
         target.uri += " /x";
         return w.DeleteVM(target, false);
     },
     "", ""},
    {"HostWithPort",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib&, const std::string&) {
         return w.Connect("vrm.local:8443", "admin", "x");
     },
     "", ""},
    {"HostWithUserInfoAndPath",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib&, const std::string&) {
         return w.Connect("evil@vrm.local/x", "admin", "x");
     },
     "", ""},
    {"UuidWithAmpersand",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib&, const std::string&) {
         fc::SVMInfoLib found;
         return w.GetVMInfo("", "", "x&name=evil", found, fc::MIN_VM_PROPS);
     },
     "uuid", "x&name=evil"},
    {"MacWithHash",
     [](fc::CFusionComputeWrapper& w, const fc::SVMInfoLib&, const std::string&) {
         bool inUse = true;
         return w.CheckMACAddress("28:6e:d4:88:c6:2b#&detail=2", inUse);
     },
     "mac", "28:6e:d4:88:c6:2b#&detail=2"},
};

class CallerValueTest : public ::testing::TestWithParam<CallerValueCase> {
  protected:
    static void SetUpTestSuite() { server = new fcsdk_test::SimServer(vrmsim::Options()); }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    static fcsdk_test::SimServer* server;
};

fcsdk_test::SimServer* CallerValueTest::server = nullptr;

TEST_P(CallerValueTest, NeverChangesTheRequest) {
    ASSERT_TRUE(server->ok()) << server->error();
    server->Reset();
    fcsdk_test::FakeClock clock;
    fc::CFusionComputeWrapper wrapper;
    ASSERT_TRUE(wrapper.Connect(server->host(), server->user(), server->password()));
    fc::SVMInfoLib vm;
    ASSERT_TRUE(wrapper.GetVMInfo("vm-0001", "", "", vm, fc::VM_PROP_ALL)) << wrapper.GetLastError();
    ASSERT_FALSE(vm.disks.empty());
    ASSERT_FALSE(vm.snapshots.empty());
    server->ClearRequests();

    const bool result = GetParam().call(wrapper, vm, server->siteUri());
    const std::vector<vrmsim::RecordedRequest> sent = server->Requests();
    if (std::string(GetParam().argument).empty()) {
        EXPECT_FALSE(result);
        EXPECT_THAT(wrapper.GetLastError(), ::testing::Not(::testing::IsEmpty()));
        EXPECT_THAT(wrapper.GetLastError(), ::testing::Not(HasSubstr("\n")));
        EXPECT_THAT(clock.Pauses(), ::testing::IsEmpty()) << "a refused request is not tried again";
        for (const vrmsim::RecordedRequest& request : sent)
            ADD_FAILURE() << request.method << " " << request.target;
    } else {
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].method, "GET");
        EXPECT_THAT(sent[0].QueryValues(GetParam().argument), ::testing::ElementsAre(GetParam().value));
        EXPECT_THAT(sent[0].QueryValues("name"), ::testing::IsEmpty());
        EXPECT_THAT(sent[0].QueryValues("detail"), ::testing::ElementsAre("0"));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CallerValueTest, ::testing::ValuesIn(kCallerValues),
                         [](const ::testing::TestParamInfo<CallerValueCase>& info) {
                             return info.param.name;
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
