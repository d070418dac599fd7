// fcctl end to end: the real executable, run as a child process against vrmsim in this process over
// loopback TLS, with FCSDK_CONFIG and FCCTL_PASSWORD in its environment.

#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

#include "BackupState.h"
#include "FcctlRunner.h"
#include "SimServer.h"

namespace {

namespace json = boost::json;
using fcsdk_test::FcctlResult;
using Env = std::map<std::string, std::optional<std::string>>;

class FcctlTest : public fcsdk_test::SimTest {
  protected:
    // Runs fcctl with --host and --user of the simulator; the environment carries the configuration and
    // the password unless `env` says otherwise.
    FcctlResult Run(const std::vector<std::string>& args, const Env& env = {}) {
        std::vector<std::string> full{"--host", server().host(), "--user", server().user()};
        full.insert(full.end(), args.begin(), args.end());
        return RunBare(full, env);
    }

    FcctlResult RunBare(const std::vector<std::string>& args, const Env& env = {}) {
        Env merged{{"FCSDK_CONFIG", server().configPath()},
                   {"FCCTL_PASSWORD", server().password()},
                   {"FCCTL_HOST", std::nullopt},
                   {"FCCTL_USER", std::nullopt}};
        for (const auto& item : env) merged[item.first] = item.second;
        return fcsdk_test::RunProgram(FCCTL_PATH, args, merged);
    }

    // The document fcctl printed (one object on one line, "format": 1 first), or its member `member`.
    static json::value ParseJson(const FcctlResult& result, const char* member = nullptr) {
        boost::system::error_code ec;
        json::value value = json::parse(result.out, ec);
        EXPECT_FALSE(ec) << "not JSON: " << result.out;
        EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out;
        EXPECT_EQ(result.out.rfind("{\"format\":1,", 0), 0u) << result.out;
        if (ec || member == nullptr) return value;
        const json::value* found = value.is_object() ? value.as_object().if_contains(member) : nullptr;
        EXPECT_NE(found, nullptr) << member << " missing: " << result.out;
        return found != nullptr ? *found : json::value();
    }

    // A file in a directory removed with the test.
    std::string TempFile(const std::string& name, const std::string& content) {
        if (dir_.empty()) {
            dir_ = (std::filesystem::temp_directory_path() / ("fcctl-test-" + std::to_string(::getpid())))
                       .string();
            std::filesystem::create_directories(dir_);
        }
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    void TearDown() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    std::string dir_;
};

// Whether a line of `text` holds exactly these blank-separated cells.
bool HasRow(const std::string& text, const std::vector<std::string>& cells) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<std::string> found{std::istream_iterator<std::string>(words),
                                       std::istream_iterator<std::string>()};
        if (found == cells) return true;
    }
    return false;
}

#define EXPECT_EXIT_CODE(result, code) \
    EXPECT_EQ((result).exitCode, code) << "stdout:\n" << (result).out << "\nstderr:\n" << (result).err

TEST_F(FcctlTest, VersionsShowsTheNegotiatedVersionAndSite) {
    const FcctlResult text = Run({"versions"});
    EXPECT_EXIT_CODE(text, 0);
    EXPECT_NE(text.out.find("v6.3 (63)"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(server().siteUrn()), std::string::npos) << text.out;

    const FcctlResult result = Run({"--json", "versions"});
    EXPECT_EXIT_CODE(result, 0);
    const json::value v = ParseJson(result);
    EXPECT_EQ(v.at("version").as_string(), "v6.3");
    EXPECT_EQ(v.at("versionNumber").as_int64(), 63);
    EXPECT_EQ(v.at("site").at("urn").as_string(), server().siteUrn());
}

TEST_F(FcctlTest, EveryInventoryListIsValidJson) {
    const struct {
        std::vector<std::string> args;
        const char* member;
        std::size_t expected;
    } cases[] = {
        {{"sites"}, "sites", 1},
        {{"site", "list"}, "sites", 1},
        {{"clusters"}, "clusters", 2},
        {{"cluster", "list"}, "clusters", 2},
        {{"hosts"}, "hosts", 4},
        {{"host", "list"}, "hosts", 4},
        {{"vms"}, "vms", 20},  // the VRM lists 20 VMs and 2 templates; the templates are left out
        {{"vm", "list"}, "vms", 20},
        {{"vms", "--templates"}, "vms", 22},
        {{"vm", "list", "--templates-only"}, "vms", 2},
        {{"datastores"}, "datastores", 4},
        {{"datastore", "list"}, "datastores", 4},
        {{"networks"}, "networks", 2},
        {{"network", "list"}, "networks", 2},
        {{"folders"}, "folders", 3},  // one cluster folder, two VM folders
        {{"folder", "list", "--type", "vm"}, "folders", 2},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const FcctlResult result = Run(args);
        EXPECT_EXIT_CODE(result, 0);
        const json::value v = ParseJson(result, c.member);
        ASSERT_TRUE(v.is_array()) << result.out;
        EXPECT_EQ(v.as_array().size(), c.expected) << c.args[0] << " " << c.args.back();
    }
}

TEST_F(FcctlTest, TemplatesAreListedOnlyWhenAskedFor) {
    const json::value templates = ParseJson(Run({"--json", "vm", "list", "--templates-only"}), "vms");
    for (const json::value& vm : templates.as_array()) {
        EXPECT_EQ(vm.at("name").as_string().subview().substr(0, 4), "tpl-");
    }
    const json::value vms = ParseJson(Run({"--json", "vms"}), "vms");
    for (const json::value& vm : vms.as_array()) {
        EXPECT_EQ(vm.at("name").as_string().subview().substr(0, 3), "vm-");
    }
}

TEST_F(FcctlTest, SiteClusterCascadeFollowsTheDetails) {
    const json::value v =
        ParseJson(Run({"--json", "--details", "site-clusters,cluster-hosts", "sites"}), "sites");
    const json::array& clusters = v.at(0).at("clusters").as_array();
    ASSERT_EQ(clusters.size(), 2u);
    std::size_t hosts = 0;
    for (const json::value& cluster : clusters) hosts += cluster.at("hosts").as_array().size();
    EXPECT_EQ(hosts, 4u);
}

TEST_F(FcctlTest, VmTableHasAlignedColumnsAndEveryVm) {
    const json::value list = ParseJson(Run({"--json", "vms"}), "vms");
    const FcctlResult result = Run({"vms"});
    EXPECT_EXIT_CODE(result, 0);
    std::istringstream lines(result.out);
    std::string header;
    std::getline(lines, header);
    EXPECT_EQ(header.rfind("NAME", 0), 0u) << header;
    const std::size_t statusColumn = header.find("STATUS");
    const std::size_t uuidColumn = header.find("UUID");
    ASSERT_NE(statusColumn, std::string::npos);
    ASSERT_NE(uuidColumn, std::string::npos);
    std::map<std::string, std::string> rows;
    std::string line;
    while (std::getline(lines, line) && !line.empty()) {
        // Every row starts its cells where the header starts its titles.
        EXPECT_EQ(line[statusColumn - 1], ' ') << line;
        EXPECT_NE(line[statusColumn], ' ') << line;
        EXPECT_NE(line[uuidColumn], ' ') << line;
        rows[line.substr(0, line.find(' '))] = line;
    }
    ASSERT_EQ(rows.size(), list.as_array().size());
    for (const json::value& vm : list.as_array()) {
        const std::string name(vm.at("name").as_string());
        ASSERT_EQ(rows.count(name), 1u) << name;
        EXPECT_EQ(rows[name].substr(uuidColumn, vm.at("uuid").as_string().size()), vm.at("uuid").as_string());
        EXPECT_EQ(rows[name].substr(statusColumn, vm.at("status").as_string().size()),
                  vm.at("status").as_string());
    }
}

TEST_F(FcctlTest, DetailsReachTheWire) {
    // A plain VM list asks for the VRM's summary (detail 1); disks need detail 2 and one read per volume.
    ASSERT_EQ(Run({"vms"}).exitCode, 0);
    std::vector<vrmsim::RecordedRequest> requests = server().Requests(server().siteUri() + "/vms");
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().query, "");
    EXPECT_TRUE(server().Requests(server().siteUri() + "/volumes").empty());

    server().ClearRequests();
    const FcctlResult result = Run({"vms", "--details", "disks,snapshots,nics"});
    EXPECT_EXIT_CODE(result, 0);
    requests = server().Requests(server().siteUri() + "/vms");
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().QueryValues("detail"), std::vector<std::string>{"2"});
    EXPECT_EQ(server().Requests(server().siteUri() + "/volumes/").size(), 44u);  // 22 VMs, 2 disks each
    for (const char* section :
         {"\nDisks\n", "\nNetwork cards\n", "\nSnapshots\n", "snapshot-A", "vm-0001-disk2"}) {
        EXPECT_NE(result.out.find(section), std::string::npos) << section;
    }
}

TEST_F(FcctlTest, VmShowFindsByNameUrnOrUuid) {
    const json::value byName =
        ParseJson(Run({"--json", "vm", "show", "vm-0002", "--details", "snapshots"}), "vm");
    ASSERT_TRUE(byName.is_object());
    EXPECT_EQ(byName.at("name").as_string(), "vm-0002");
    EXPECT_EQ(byName.at("disks").as_array().size(), 2u);
    EXPECT_EQ(byName.at("snapshots").as_array().size(), 3u);
    EXPECT_GT(byName.at("disks").at(0).at("userUsedSize").as_int64(), 0);
    const std::string urn(byName.at("urn").as_string());
    const std::string uuid(byName.at("uuid").as_string());

    EXPECT_EQ(ParseJson(Run({"--json", "vm", "show", "--urn", urn}), "vm").at("uuid").as_string(), uuid);
    EXPECT_EQ(ParseJson(Run({"--json", "vm", "show", "--uuid", uuid}), "vm").at("urn").as_string(), urn);
}

TEST_F(FcctlTest, MacFilterKeepsOnlyTheVmWithThatAddress) {
    const json::value vm = ParseJson(Run({"--json", "vm", "show", "vm-0003"}), "vm");
    std::string mac(vm.at("nics").at(0).at("mac").as_string());
    for (char& c : mac) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const json::value list = ParseJson(Run({"--json", "vms", "--mac", mac}), "vms");
    ASSERT_EQ(list.as_array().size(), 1u);
    EXPECT_EQ(list.at(0).at("name").as_string(), "vm-0003");

    const FcctlResult check = Run({"--json", "mac", "check", mac});
    EXPECT_EXIT_CODE(check, 0);
    EXPECT_TRUE(ParseJson(check).at("inUse").as_bool());
    EXPECT_FALSE(ParseJson(Run({"--json", "mac", "check", "02:00:00:00:00:01"})).at("inUse").as_bool());
    // A partial address would match by the VRM's partial search, so it is refused.
    EXPECT_EXIT_CODE(Run({"mac", "check", "28:6e"}), 2);
}

// The changed-block answers are scripted with the simulator's body faults, one page per POST.
class FcctlCbtTest : public FcctlTest {
  protected:
    void SetUp() override {
        FcctlTest::SetUp();
        const json::value vm =
            ParseJson(Run({"--json", "vm", "show", "vm-0001", "--details", "snapshots"}), "vm");
        volume_ = std::string(vm.at("disks").at(0).at("urn").as_string());
        ASSERT_EQ(vm.at("disks").at(0).at("quantityGB").as_int64(), 40);
        snapshot_ = std::string(vm.at("snapshots").at(2).at("urn").as_string());
        server().ClearRequests();
    }

    void AnswerPage(int sectorOfBlock, int bitNum, const std::string& bitMap) {
        vrmsim::Fault fault;
        fault.kind = vrmsim::FaultKind::Body;
        fault.method = "POST";
        fault.path = UriOf(volume_) + "/getcbt";
        fault.body = json::serialize(json::object{
            {"sectorOfBlock", sectorOfBlock}, {"bitNum", bitNum}, {"bit1Num", 0}, {"bitMap", bitMap}});
        server().AddFault(fault);
    }

    std::vector<std::string> Args(const std::string& command) const {
        return {"cbt", command, "--volume", volume_, "--snapshot", snapshot_};
    }

    std::string volume_;
    std::string snapshot_;
};

TEST_F(FcctlCbtTest, AllocatedBlocksAreDecodedAcrossPages) {
    // 40 GB in blocks of 4096 sectors (2 MiB): 20480 blocks in pages of 10000, 10000 and 480 blocks.
    // Set: the last block of page 1 and the first of page 2 (one extent), and the very last block.
    AnswerPage(4096, 10000, std::string(2498, '0') + "80");
    AnswerPage(4096, 10000, "01" + std::string(2498, '0'));
    AnswerPage(4096, 480, std::string(118, '0') + "80");
    std::vector<std::string> args = Args("allocated");
    const std::string out = TempFile("bitmap.hex", "");
    args.insert(args.begin(), "--json");
    args.insert(args.end(), {"--out", out});
    const FcctlResult result = Run(args);
    EXPECT_EXIT_CODE(result, 0);
    const json::value v = ParseJson(result);
    EXPECT_EQ(v.at("blockSize").as_int64(), 2097152);
    EXPECT_EQ(v.at("blocks").as_int64(), 3);
    EXPECT_EQ(v.at("bytes").as_int64(), 3 * 2097152);
    EXPECT_EQ(v.at("bitmapBlocks").as_int64(), 20480);
    const json::array& extents = v.at("extents").as_array();
    ASSERT_EQ(extents.size(), 2u) << result.out;
    EXPECT_EQ(extents[0].at("start").as_int64(), 9999);
    EXPECT_EQ(extents[0].at("count").as_int64(), 2);
    EXPECT_EQ(extents[0].at("offset").as_int64(), 9999LL * 2097152);
    EXPECT_EQ(extents[1].at("start").as_int64(), 20479);

    std::ifstream written(out);
    std::string raw((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_EQ(raw,
              std::string(2498, '0') + "80" + "01" + std::string(2498, '0') + std::string(118, '0') + "80");
    EXPECT_EQ(server().Requests(UriOf(volume_) + "/getcbt").size(), 3u);
}

TEST_F(FcctlCbtTest, PageOfBlocksNotAMultipleOfEightEndsWithTheLowNibble) {
    // 40 GB in blocks of 8388608 sectors (4 GiB): 10 blocks, ceil(10 / 4) = 3 digits. "c1" sets blocks
    // 0, 6 and 7; the last digit "3" is the low nibble of byte 1: blocks 8 and 9.
    AnswerPage(8388608, 10, "c13");
    const FcctlResult result = Run(Args("allocated"));
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_NE(result.out.find("5 in 2 extents"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("21474836480"), std::string::npos) << result.out;  // 5 blocks of 4 GiB
    // The extent table: block 0 alone, then blocks 6 to 9.
    EXPECT_TRUE(HasRow(result.out, {"0", "1", "0", "4294967296"})) << result.out;
    EXPECT_TRUE(HasRow(result.out, {"6", "4", "25769803776", "17179869184"})) << result.out;
}

TEST_F(FcctlCbtTest, ChangedBlocksUseTheTokenOfTheFile) {
    const FcctlResult token = Run(Args("token"));
    EXPECT_EXIT_CODE(token, 0);
    const json::value parsed = json::parse(token.out);
    const std::string chgID(parsed.at("chgID").as_string());
    const std::string tokenFile = TempFile("token", token.out);
    server().ClearRequests();

    AnswerPage(8388608, 10, "200");  // block 5
    std::vector<std::string> args = Args("changed");
    args.insert(args.begin(), "--json");
    args.insert(args.end(), {"--token-file", tokenFile});
    const FcctlResult result = Run(args);
    EXPECT_EXIT_CODE(result, 0);
    const json::value v = ParseJson(result);
    EXPECT_EQ(v.at("kind").as_string(), "changed");
    ASSERT_EQ(v.at("extents").as_array().size(), 1u);
    EXPECT_EQ(v.at("extents").at(0).at("start").as_int64(), 5);
    const std::vector<vrmsim::RecordedRequest> posts = server().Requests(UriOf(volume_) + "/getcbt");
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(fcsdk_test::SimServer::BodyObject(posts[0]).at("chgID").as_string(), chgID);
}

TEST_F(FcctlCbtTest, BitmapThatIsNotHexIsAFailure) {
    AnswerPage(8388608, 10, "c1z");
    const FcctlResult result = Run(Args("allocated"));
    EXPECT_EXIT_CODE(result, 1);
    // The library refuses the page before fcctl would have to decode it.
    EXPECT_NE(result.err.find("not a hexadecimal digit"), std::string::npos) << result.err;
}

TEST_F(FcctlTest, MissingPasswordIsAClearErrorAndNothingIsSent) {
    const FcctlResult result = Run({"vms"}, {{"FCCTL_PASSWORD", std::nullopt}});
    EXPECT_EXIT_CODE(result, 2);
    EXPECT_NE(result.err.find(
                  "no password: give --password-file FILE (- for standard input) or set FCCTL_PASSWORD"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(result.out.empty());
    EXPECT_TRUE(server().Requests().empty());
    EXPECT_EQ(server().Stats().logins, 0u);

    EXPECT_EXIT_CODE(Run({"vms"}, {{"FCCTL_PASSWORD", ""}}), 2);
}

TEST_F(FcctlTest, PasswordFileIsReadAndChecked) {
    const std::string good = TempFile("password", server().password() + "\n");
    std::filesystem::permissions(good,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const FcctlResult own = Run({"--password-file", good, "versions"}, {{"FCCTL_PASSWORD", std::nullopt}});
    EXPECT_EXIT_CODE(own, 0);
    EXPECT_EQ(own.err.find("warning"), std::string::npos) << own.err;
    std::filesystem::permissions(good, std::filesystem::perms::group_read,
                                 std::filesystem::perm_options::add);
    const FcctlResult shared = Run({"--password-file", good, "versions"}, {{"FCCTL_PASSWORD", std::nullopt}});
    EXPECT_EXIT_CODE(shared, 0);
    EXPECT_NE(shared.err.find("warning: the password file " + good + " may be read by group or others"),
              std::string::npos)
        << shared.err;
    // "-" reads standard input (here /dev/null: nothing).
    EXPECT_EXIT_CODE(Run({"--password-file", "-", "versions"}), 2);
    // The file wins over the environment.
    EXPECT_EXIT_CODE(Run({"--password-file", good, "versions"}, {{"FCCTL_PASSWORD", "wrong"}}), 0);

    const FcctlResult empty = Run({"--password-file", TempFile("empty", ""), "versions"});
    EXPECT_EXIT_CODE(empty, 2);
    EXPECT_NE(empty.err.find("is empty"), std::string::npos) << empty.err;
    const FcctlResult missing = Run({"--password-file", dir_ + "/no-such-file", "versions"});
    EXPECT_EXIT_CODE(missing, 2);
    EXPECT_NE(missing.err.find("cannot read the password file"), std::string::npos) << missing.err;
}

TEST_F(FcctlTest, ThereIsNoPasswordOption) {
    const FcctlResult result = Run({"--password", server().password(), "versions"});
    EXPECT_EXIT_CODE(result, 2);
    EXPECT_EQ(server().Stats().logins, 0u);
    const FcctlResult help = RunBare({"--help"});
    EXPECT_EXIT_CODE(help, 0);
    EXPECT_EQ(help.out.find("--password "), std::string::npos);
    EXPECT_NE(help.out.find("FCSDK_CONFIG"), std::string::npos);
    EXPECT_NE(help.out.find("sConnectTo"), std::string::npos);
    EXPECT_NE(help.out.find("sCAFile"), std::string::npos);
}

// Every connection setting from options or the environment, with no INI file at all; the exit code tells
// a refused login (3) from a VRM that cannot be reached or trusted (5), with a hint at the fix.
TEST_F(FcctlTest, ConnectionFromOptionsAloneAndItsExitCodes) {
    const std::string port = std::to_string(server().port());
    const std::string connectTo = server().host() + ":7443:127.0.0.1:" + port;
    const std::string ca = server().caFile();
    const struct {
        std::vector<std::string> args;
        Env env;
        int exitCode;
        std::string stderrHas;
    } cases[] = {
        {{"--connect-to", connectTo},
         {},
         5,
         "fcctl: hint: the VRM's certificate is not trusted: give its CA with --ca-file FILE (or "
         "FCCTL_CA_FILE)"},
        {{"--connect-to", connectTo, "--ca-file", ca}, {}, 0, ""},
        {{}, {{"FCCTL_CONNECT_TO", connectTo}, {"FCCTL_CA_FILE", ca}}, 0, ""},
        {{"--ca-file", ca, "--connect-to", connectTo}, {{"FCCTL_CA_FILE", "/no/such/ca.pem"}}, 0, ""},
        {{"--port", "8443", "--connect-to", server().host() + ":8443:127.0.0.1:" + port, "--ca-file", ca},
         {},
         0,
         ""},
        {{"--connect-to", connectTo, "--insecure"}, {}, 0, "fcctl: warning: --insecure: "},
        {{"--connect-to", connectTo, "--ca-file", ca},
         {{"FCCTL_PASSWORD", "not-the-password"}},
         3,
         "cannot connect to vrm.local as admin: Login refused: "},
        {{"--connect-to", server().host() + ":7443:127.0.0.1:1", "--ca-file", ca},
         {},
         5,
         "fcctl: hint: check --host, --port (default 7443) and --connect-to"},
        {{"--connect-to", "vrm.local:7443", "--ca-file", ca}, {}, 2, "Malformed connect-to"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("versions");
        Env env{{"FCSDK_CONFIG", std::nullopt}, {"FCCTL_CA_FILE", std::nullopt}};
        for (const auto& item : c.env) env[item.first] = item.second;
        const FcctlResult result = Run(args, env);
        EXPECT_EXIT_CODE(result, c.exitCode);
        EXPECT_NE(result.err.find(c.stderrHas), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("not-the-password"), std::string::npos);
    }
}

TEST_F(FcctlTest, DebugShowsRequestsButNoSecrets) {
    const FcctlResult result = Run({"--debug", "vm", "show", "vm-0001", "--details", "disks"});
    EXPECT_EXIT_CODE(result, 0);
    // The run really logged the session: without lines to look at the secret check would prove nothing.
    EXPECT_NE(result.err.find("DETAIL"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("/service/session"), std::string::npos);

    const std::vector<vrmsim::RecordedRequest> requests = server().Requests(server().siteUri());
    ASSERT_FALSE(requests.empty());
    const std::string token = requests.back().Header("X-Auth-Token");
    ASSERT_EQ(token.size(), 64u);
    const std::string key = vrmsim::Sha256Hex(server().password());
    for (const std::string* stream : {&result.out, &result.err}) {
        EXPECT_EQ(stream->find(server().password()), std::string::npos);
        EXPECT_EQ(stream->find(token), std::string::npos);
        EXPECT_EQ(stream->find(key), std::string::npos);
    }
}

TEST_F(FcctlTest, VrmErrorsPrintTheMessageAndCode) {
    server().FailNext("GET", server().siteUri() + "/vms", 500, "10300099", "Simulated VM list failure");
    const FcctlResult result = Run({"vms"});
    EXPECT_EXIT_CODE(result, 1);
    EXPECT_NE(result.err.find("fcctl: cannot list the VMs: "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("Simulated VM list failure"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("(error code 10300099)"), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty());

    // A VM that does not exist: exit code 4, whether fcctl looks it up or the library does.
    const FcctlResult missing = Run({"vm", "show", "no-such-vm"});
    EXPECT_EXIT_CODE(missing, 4);
    EXPECT_NE(missing.err.find("fcctl: there is no VM \"no-such-vm\""), std::string::npos) << missing.err;
    EXPECT_EXIT_CODE(Run({"vm", "start", "--urn", server().siteUrn() + ":vms:i-99999999"}), 4);

    // A VRM's text can neither move the cursor nor forge a line of its own.
    server().FailNext("GET", server().siteUri() + "/vms", 500, "10300099", "bad\x1b[2J\rfcctl: forged\nline");
    const FcctlResult hostile = Run({"vms"});
    EXPECT_EXIT_CODE(hostile, 1);
    EXPECT_NE(hostile.err.find("bad [2J fcctl: forged line"), std::string::npos) << hostile.err;
}

TEST_F(FcctlTest, UsageErrorsExitWithTwoBeforeConnecting) {
    const std::vector<std::vector<std::string>> cases = {
        {"no-such-command"},
        {"vms", "--details", "disks,bogus"},
        {"vm", "show"},  // no VM named
        {"vm"},          // no subcommand
        {"folders", "--type", "other"},
        {"snapshot", "create", "vm-0001"},                       // --name missing
        {"cbt", "changed", "--volume", "u", "--snapshot", "s"},  // no token
    };
    for (const auto& args : cases) {
        const FcctlResult result = Run(args);
        EXPECT_EXIT_CODE(result, 2);
        EXPECT_FALSE(result.err.empty());
    }
    EXPECT_EQ(server().Stats().logins, 0u);
    EXPECT_EXIT_CODE(RunBare({"vms"}), 2);  // no --host
}

TEST_F(FcctlTest, EveryCommandHasHelp) {
    const std::vector<std::vector<std::string>> commands = {{"versions"},
                                                            {"vm", "list"},
                                                            {"host", "list"},
                                                            {"cluster", "list"},
                                                            {"datastore", "list"},
                                                            {"network", "list"},
                                                            {"site", "list"},
                                                            {"folder", "list"},
                                                            {"sites"},
                                                            {"clusters"},
                                                            {"hosts"},
                                                            {"vms"},
                                                            {"vm", "show"},
                                                            {"datastores"},
                                                            {"networks"},
                                                            {"folders"},
                                                            {"snapshot", "create"},
                                                            {"snapshot", "delete"},
                                                            {"snapshot", "list"},
                                                            {"cbt", "token"},
                                                            {"cbt", "allocated"},
                                                            {"cbt", "changed"},
                                                            {"disk-access", "prepare"},
                                                            {"disk-access", "validate"},
                                                            {"disk-access", "extend"},
                                                            {"disk-access", "release"},
                                                            {"backup"},
                                                            {"vm", "start"},
                                                            {"vm", "stop"},
                                                            {"vm", "shutdown"},
                                                            {"vm", "create"},
                                                            {"vm", "modify"},
                                                            {"vm", "delete"},
                                                            {"vm", "export-ovf"},
                                                            {"vm", "import-ovf"},
                                                            {"vm", "export-json"},
                                                            {"vm", "reconnect-nics"},
                                                            {"disk", "create"},
                                                            {"disk", "delete"},
                                                            {"disk", "modify"},
                                                            {"disk", "attach"},
                                                            {"nic", "add"},
                                                            {"datastore", "create"},
                                                            {"mac", "check"}};
    // The bash completion (copied beside the program) offers each command and then each of its verbs.
    const std::string completion = std::filesystem::path(FCCTL_PATH).parent_path() / "fcctl-completion.bash";
    const auto complete = [&](const std::vector<std::string>& words) {
        std::string script = "source '" + completion + "'; COMP_WORDS=(fcctl";
        for (const std::string& word : words) script += " " + word;
        script +=
            " ''); COMP_CWORD=" + std::to_string(words.size() + 1) + "; _fcctl; echo \" ${COMPREPLY[*]} \"";
        return fcsdk_test::RunProgram("/bin/bash", {"-c", script}, {}).out;
    };
    const std::string commandWords = complete({});
    for (const auto& command : commands) {
        std::vector<std::string> args = command;
        args.push_back("--help");
        const FcctlResult result = RunBare(args);
        EXPECT_EXIT_CODE(result, 0);
        EXPECT_NE(result.out.find("Usage: fcctl " + command[0]), std::string::npos) << result.out;
        EXPECT_NE(commandWords.find(" " + command[0] + " "), std::string::npos) << commandWords;
        if (command.size() > 1) {
            const std::string verbs = complete({"--json", command[0]});
            EXPECT_NE(verbs.find(" " + command[1] + " "), std::string::npos) << command[0] << ":" << verbs;
        }
    }
    EXPECT_EQ(server().Stats().logins, 0u);
}

}  // namespace

namespace {

// VM management commands: the VRM's answers to the state-changing requests are scripted (a task that has
// already succeeded at its first poll), and the requests fcctl made the library send are checked.
class FcctlManageTest : public FcctlTest {
  protected:
    void SetUp() override {
        FcctlTest::SetUp();
        vm_ = ParseJson(Run({"--json", "vm", "show", "vm-0001", "--details", "snapshots"}), "vm");
        ASSERT_TRUE(vm_.is_object());
        server().ClearRequests();
    }

    std::string VmUri() const { return std::string(vm_.at("uri").as_string()); }
    // Link of the VM's first volume.
    std::string UriOfVolume() const {
        return UriOf(std::string(vm_.at("disks").at(0).at("urn").as_string()));
    }

    void Answer(const std::string& method, const std::string& path, const std::string& body) {
        vrmsim::Fault fault;
        fault.kind = vrmsim::FaultKind::Body;
        fault.method = method;
        fault.path = path;
        fault.body = body;
        server().AddFault(fault);
    }

    // `method` on `path` starts a task that the first poll finds done.
    void AnswerTask(const std::string& method, const std::string& path) {
        const std::string taskUri = server().siteUri() + "/tasks/9001";
        Answer(method, path,
               json::serialize(
                   json::object{{"taskUrn", server().siteUrn() + ":tasks:9001"}, {"taskUri", taskUri}}));
        Answer("GET", taskUri,
               json::serialize(json::object{{"urn", server().siteUrn() + ":tasks:9001"},
                                            {"type", "FcctlTestTask"},
                                            {"status", "success"},
                                            {"progress", 100}}));
    }

    // The body of the only request of `method` whose path is exactly `path`.
    json::object SentBody(const std::string& method, const std::string& path) {
        std::vector<json::object> bodies;
        for (const vrmsim::RecordedRequest& request : server().Requests(path)) {
            if (request.method == method && request.path == path)
                bodies.push_back(fcsdk_test::SimServer::BodyObject(request));
        }
        EXPECT_EQ(bodies.size(), 1u) << method << " " << path;
        return bodies.empty() ? json::object() : bodies.front();
    }

    json::value vm_;
};

TEST_F(FcctlManageTest, PowerCommandsSendTheirStopModes) {
    const struct {
        const char* command;
        const char* action;
        const char* mode;
    } cases[] = {{"stop", "/action/stop", "force"},
                 {"shutdown", "/action/stop", "safe"},
                 {"start", "/action/start", nullptr}};
    for (const auto& c : cases) {
        server().ClearRequests();
        AnswerTask("POST", VmUri() + c.action);
        const FcctlResult result = Run({"vm", c.command, "vm-0001"});
        EXPECT_EXIT_CODE(result, 0);
        // Standard error is no terminal: the wait is one time-stamped line per status, here the one poll.
        const std::regex waitLine("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ fcctl: vm " +
                                  std::string(c.command) + ": task " + server().siteUrn() +
                                  ":tasks:9001: success 100% \\(0 s\\)\n");
        EXPECT_TRUE(std::regex_match(result.err, waitLine)) << result.err;
        if (c.mode != nullptr) {
            EXPECT_EQ(SentBody("POST", VmUri() + c.action), (json::object{{"mode", c.mode}})) << c.command;
        } else {
            EXPECT_EQ(server().Requests(VmUri() + c.action).size(), 1u);
        }
    }
}

TEST_F(FcctlManageTest, ModifyPinsTheVmAndSendsOnlyTheChanges) {
    AnswerTask("PUT", VmUri());
    const FcctlResult result =
        Run({"--json", "vm", "modify", "vm-0001", "--new-name", "vm-0001-renamed", "--cpus", "4"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(SentBody("PUT", VmUri()),
              (json::object{{"name", "vm-0001-renamed"}, {"cpu", {{"quantity", 4}}}}));
    EXPECT_EQ(ParseJson(result, "vm").at("name").as_string(), "vm-0001-renamed");
}

TEST_F(FcctlManageTest, DeleteWithDisksAsksTheVrmNotToKeepThem) {
    AnswerTask("DELETE", VmUri());
    EXPECT_EXIT_CODE(
        Run({"vm", "delete", "--uuid", std::string(vm_.at("uuid").as_string()), "--delete-disks"}), 0);
    EXPECT_EQ(SentBody("DELETE", VmUri()), (json::object{{"isReserveDisks", 0}}));
}

TEST_F(FcctlManageTest, SnapshotDeleteByNameDeletesThatSnapshot) {
    std::string uri;
    for (const json::value& snapshot : vm_.at("snapshots").as_array()) {
        if (snapshot.at("name").as_string() == "snapshot-C")
            uri = std::string(snapshot.at("uri").as_string());
    }
    ASSERT_FALSE(uri.empty());
    AnswerTask("DELETE", uri);
    const FcctlResult result = Run({"snapshot", "delete", "vm-0001", "--snapshot", "snapshot-C"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(server().Requests(uri).back().method, "DELETE");

    const FcctlResult unknown = Run({"snapshot", "delete", "vm-0001", "--snapshot", "no-such-snapshot"});
    EXPECT_EXIT_CODE(unknown, 4);
    EXPECT_NE(unknown.err.find("has no snapshot named \"no-such-snapshot\""), std::string::npos)
        << unknown.err;
}

TEST_F(FcctlManageTest, NicAddSendsTheCard) {
    const std::string portGroup = server().siteUrn() + ":dvswitchs:2:portgroups:1";
    AnswerTask("POST", VmUri() + "/virtualNics");
    const FcctlResult result = Run({"nic", "add", "vm-0001", "--port-group-urn", portGroup, "--mac",
                                    "02:00:00:00:00:09", "--name", "nic9"});
    EXPECT_EXIT_CODE(result, 0);
    const json::object body = SentBody("POST", VmUri() + "/virtualNics");
    EXPECT_EQ(body.at("portGroupUrn").as_string(), portGroup);
    EXPECT_EQ(body.at("mac").as_string(), "02:00:00:00:00:09");
    EXPECT_EQ(body.at("name").as_string(), "nic9");
    EXPECT_EXIT_CODE(Run({"nic", "add", "vm-0001"}), 2);  // neither switch nor port group
}

TEST_F(FcctlManageTest, DiskModifyKeepsTheModesNotGiven) {
    // A non-persistent volume renamed without naming its modes must stay non-persistent.
    const std::string volume(vm_.at("disks").at(1).at("urn").as_string());
    const std::optional<vrmsim::VolumeState> found = server().sim().FindVolume(volume);
    ASSERT_TRUE(found.has_value());
    const std::string volumeUri = found->uri;
    // Every VM read shows its disks non-persistent.
    server().Patch(server().siteUri() + "/vms", json::object{{"persistentDisk", false}});
    Answer("PUT", volumeUri, "{}");
    const FcctlResult result = Run({"disk", "modify", "--urn", volume, "--name", "renamed-disk"});
    EXPECT_EXIT_CODE(result, 0);
    EXPECT_EQ(SentBody("PUT", volumeUri),
              (json::object{{"name", "renamed-disk"}, {"indepDisk", false}, {"persistentDisk", false}}));

    server().ClearRequests();
    Answer("PUT", volumeUri, "{}");
    EXPECT_EXIT_CODE(Run({"disk", "modify", "--urn", volume, "--independent", "yes", "--vm", "vm-0001"}), 0);
    const json::object body = SentBody("PUT", volumeUri);
    EXPECT_TRUE(body.at("indepDisk").as_bool());
    EXPECT_FALSE(body.at("persistentDisk").as_bool());
}

TEST_F(FcctlManageTest, DatastoreCreateResolvesTheHost) {
    AnswerTask("POST", server().siteUri() + "/datastores");
    const FcctlResult result =
        Run({"datastore", "create", "--name", "ds-new", "--on-host", "CNA02", "--storage-unit-urn",
             server().siteUrn() + ":storageunits:3", "--format"});
    EXPECT_EXIT_CODE(result, 0);
    const json::object body = SentBody("POST", server().siteUri() + "/datastores");
    EXPECT_EQ(body.at("hostUrn").as_string(), server().siteUrn() + ":hosts:2");
    EXPECT_EQ(body.at("formatFlag").as_int64(), 1);
    EXPECT_EQ(body.at("name").as_string(), "ds-new");
}

TEST_F(FcctlManageTest, DiskAccessValidateFailsForAResourceThatIsGone) {
    const std::string resource = UriOfVolume() + "/backupresources/4242";
    const FcctlResult result = Run({"disk-access", "validate", resource});
    EXPECT_EXIT_CODE(result, 1);
    EXPECT_NE(result.err.find("is not valid"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("error code 10300006"), std::string::npos) << result.err;
}

}  // namespace

namespace {

// `fcctl backup` with the VRM's backup answers scripted: the snapshot "taken" is the seeded snapshot B of
// vm-0001 (so its disk snapshots and change identifiers are real), tasks succeed at their first poll, each
// disk's backup resource is ready at once and gone after its release.
class FcctlBackupTest : public FcctlManageTest {
  protected:
    void SetUp() override {
        FcctlManageTest::SetUp();
        snapshot_ = vm_.at("snapshots").at(2);
        ASSERT_EQ(snapshot_.at("name").as_string(), "snapshot-B");
        for (const json::value& disk : vm_.at("disks").as_array())
            volumes_.push_back(std::string(disk.at("urn").as_string()));
        ASSERT_EQ(volumes_.size(), 2u);
        state_ = TempFile("vm-0001.state", "");
        std::filesystem::remove(state_);
    }

    std::string Task(int id) const { return server().siteUri() + "/tasks/" + std::to_string(id); }
    std::string TaskUrn(int id) const { return server().siteUrn() + ":tasks:" + std::to_string(id); }
    std::string Resource(std::size_t disk) const { return UriOf(volumes_[disk]) + "/backupresources/77"; }

    // Scripts one backup run; `pages[d]` is the bitmap of disk d (40 GB and 20 GB in 4 GiB blocks: 10 and 5
    // blocks, one page each).
    void ScriptBackup(const std::vector<std::string>& pages) {
        Answer("POST", VmUri() + "/snapshots",
               json::serialize(json::object{{"taskUrn", TaskUrn(9101)},
                                            {"taskUri", Task(9101)},
                                            {"urn", snapshot_.at("urn")},
                                            {"uri", snapshot_.at("uri")}}));
        Answer("GET", Task(9101), R"({"status": "success", "progress": 100})");
        const int blocks[] = {10, 5};
        for (std::size_t d = 0; d < pages.size(); ++d) {
            Answer("POST", UriOf(volumes_[d]) + "/getcbt",
                   json::serialize(json::object{{"sectorOfBlock", 8388608},
                                                {"bitNum", blocks[d]},
                                                {"bit1Num", 0},
                                                {"bitMap", pages[d]}}));
            Answer("POST", UriOf(volumes_[d]) + "/backupresources",
                   json::serialize(json::object{{"taskUrn", TaskUrn(77)}, {"taskUri", Task(77)}}));
            const std::string ready = json::serialize(json::object{{"status", "success"},
                                                                   {"hostIP", "192.168.40.10"},
                                                                   {"hostPort", "8902"},
                                                                   {"targetFile", "vol-" + std::to_string(d)},
                                                                   {"token", "secret-resource-token"}});
            Answer("GET", Resource(d), ready);  // the wait for the resource
            Answer("GET", Resource(d), ready);  // the read before the release
            Answer("DELETE", Resource(d), "{}");
        }
        AnswerTask("DELETE", std::string(snapshot_.at("uri").as_string()));
    }

    std::vector<json::object> CbtBodies(std::size_t disk) const {
        std::vector<json::object> bodies;
        for (const auto& request : server().Requests(UriOf(volumes_[disk]) + "/getcbt")) {
            bodies.push_back(fcsdk_test::SimServer::BodyObject(request));
        }
        return bodies;
    }

    json::value snapshot_;
    std::vector<std::string> volumes_;
    std::string state_;
};

TEST_F(FcctlBackupTest, FullThenIncrementalWithTheStateFile) {
    ScriptBackup({"ff3", "1f"});  // disk 1: all 10 blocks; disk 2: all 5 blocks
    const FcctlResult full = Run({"--json", "backup", "vm-0001", "--state", state_});
    EXPECT_EXIT_CODE(full, 0);
    json::value report = ParseJson(full);
    EXPECT_EQ(report.at("mode").as_string(), "full");
    EXPECT_TRUE(report.at("snapshot").at("deleted").as_bool());
    EXPECT_EQ(report.at("disks").at(0).at("blocks").as_int64(), 10);
    EXPECT_EQ(report.at("disks").at(1).at("blocks").as_int64(), 5);
    EXPECT_EQ(report.at("totalBytes").as_int64(), 60LL << 30);  // both disks whole: 40 GB + 20 GB
    EXPECT_EQ(report.at("disks").at(1).at("access").at("targetFile").as_string(), "vol-1");
    // A full backup asks for all allocated blocks: an empty change identifier.
    ASSERT_EQ(CbtBodies(0).size(), 1u);
    EXPECT_EQ(CbtBodies(0)[0].at("chgID").as_string(), "");
    // Progress went to standard error, step by step; the resource's access token went nowhere.
    for (const char* step : {"snapshot", "disk 1/2 vm-0001-disk1: change token", "allocated blocks",
                             "open disk access", "close disk access", "delete snapshot"}) {
        EXPECT_NE(full.err.find(step), std::string::npos) << step << "\n" << full.err;
    }
    EXPECT_EQ(full.out.find("secret-resource-token"), std::string::npos);
    EXPECT_EQ(full.err.find("secret-resource-token"), std::string::npos);
    // Every opened access was released and the snapshot deleted.
    for (std::size_t d = 0; d < 2; ++d) {
        std::vector<std::string> methods;
        for (const auto& request : server().Requests(Resource(d))) methods.push_back(request.method);
        // Ready at the first wait, read again, released, then found gone.
        EXPECT_EQ(methods, (std::vector<std::string>{"GET", "GET", "DELETE", "GET"})) << "disk " << d;
    }
    EXPECT_EQ(server().Requests(std::string(snapshot_.at("uri").as_string())).back().method, "DELETE");

    fcctl::BackupState state;
    bool exists = false;
    std::string error;
    ASSERT_TRUE(fcctl::LoadBackupState(state_, state, exists, error)) << error;
    EXPECT_EQ(state.vmUrn, std::string(vm_.at("urn").as_string()));
    ASSERT_EQ(state.tokens.size(), 2u);
    const json::value token = json::parse(state.tokens.at(volumes_[0]));
    const std::string chgID(token.at("chgID").as_string());
    ASSERT_FALSE(chgID.empty());

    // The second run is incremental: the change identifier of the first run's token goes to the VRM, and
    // exactly the changed blocks are reported.
    server().ClearRequests();
    ScriptBackup({"201", "10"});  // disk 1: blocks 5 and 8; disk 2: block 4
    const FcctlResult incremental = Run({"backup", "vm-0001", "--state", state_});
    EXPECT_EXIT_CODE(incremental, 0);
    EXPECT_NE(incremental.out.find(": incremental, snapshot snapshot-B (deleted)"), std::string::npos)
        << incremental.out;
    ASSERT_EQ(CbtBodies(0).size(), 1u);
    EXPECT_EQ(CbtBodies(0)[0].at("chgID").as_string(), chgID);
    EXPECT_TRUE(HasRow(incremental.out, {"vm-0001-disk1", "5", "1", "21474836480", "4294967296"}))
        << incremental.out;
    EXPECT_TRUE(HasRow(incremental.out, {"vm-0001-disk1", "8", "1", "34359738368", "4294967296"}))
        << incremental.out;
    EXPECT_TRUE(HasRow(incremental.out, {"vm-0001-disk2", "4", "1", "17179869184", "4294967296"}))
        << incremental.out;
    EXPECT_NE(incremental.out.find("To copy: 12884901888 bytes"), std::string::npos) << incremental.out;
}

TEST_F(FcctlBackupTest, FailedRunCleansUpAndKeepsTheOldState) {
    ScriptBackup({"ff3", "1f"});
    ASSERT_EQ(Run({"backup", "vm-0001", "--state", state_, "--quiet"}).exitCode, 0);
    std::ifstream before(state_);
    const std::string oldState((std::istreambuf_iterator<char>(before)), std::istreambuf_iterator<char>());
    server().ClearRequests();
    server().sim().ClearFaults();

    // The second disk's changed blocks cannot be read.
    ScriptBackup({"ff3"});
    server().FailNext("POST", UriOf(volumes_[1]) + "/getcbt", 500, "10400001", "CBT is broken");
    AnswerTask("DELETE", std::string(snapshot_.at("uri").as_string()));
    const FcctlResult result = Run({"backup", "vm-0001", "--state", state_, "--quiet"});
    EXPECT_EXIT_CODE(result, 1);
    EXPECT_NE(result.err.find("cannot read the changed blocks of " + volumes_[1]), std::string::npos)
        << result.err;
    EXPECT_TRUE(result.err.find("fcctl: ") == 0 || result.err.find("\nfcctl: ") != std::string::npos);
    // The first disk's access was released, the snapshot deleted, the state file left as it was.
    bool released = false;
    for (const auto& request : server().Requests(Resource(0))) released |= request.method == "DELETE";
    EXPECT_TRUE(released);
    EXPECT_EQ(server().Requests(std::string(snapshot_.at("uri").as_string())).back().method, "DELETE");
    std::ifstream after(state_);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()),
              oldState);
}

TEST_F(FcctlBackupTest, StateOfAnotherVmIsRefused) {
    fcctl::BackupState other;
    other.vmUrn = server().siteUrn() + ":vms:i-00000009";
    std::string error;
    ASSERT_TRUE(fcctl::SaveBackupState(state_, other, error)) << error;
    const FcctlResult result = Run({"backup", "vm-0001", "--state", state_});
    EXPECT_EXIT_CODE(result, 2);
    EXPECT_NE(result.err.find("belongs to VM " + other.vmUrn), std::string::npos) << result.err;
    EXPECT_TRUE(server().Requests(VmUri() + "/snapshots").empty());
}

}  // namespace

namespace {

// The restore walk-through: descriptors exported, then a VM created from the OVF descriptor on new
// volumes like the old ones, then the old VM's network cards added to it.
class FcctlRestoreTest : public FcctlManageTest {};

TEST_F(FcctlRestoreTest, ExportedDescriptorsAreWrittenToFiles) {
    const std::string json = TempFile("vm-0001.json", "");
    FcctlResult result = Run({"vm", "export-json", "vm-0001", "--out", json});
    EXPECT_EXIT_CODE(result, 0);
    std::ifstream in(json);
    const json::value descriptor = json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
    EXPECT_EQ(descriptor.at("urn"), vm_.at("urn"));

    Answer("POST", VmUri() + "/action/createdescriptor",
           R"({"ovfDescriptor": "<Envelope>vm-0001</Envelope>"})");
    const std::string ovf = TempFile("vm-0001.ovf", "");
    result = Run({"vm", "export-ovf", "vm-0001", "--out", ovf});
    EXPECT_EXIT_CODE(result, 0);
    std::ifstream ovfIn(ovf);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(ovfIn), {}), "<Envelope>vm-0001</Envelope>");
    EXPECT_EQ(SentBody("POST", VmUri() + "/action/createdescriptor").at("fileItems").as_array().size(), 2u);
}

TEST_F(FcctlRestoreTest, ImportCreatesVolumesLikeTheOldDisksAndTheVmOnThem) {
    std::string descriptor;
    {
        const FcctlResult exported = Run({"vm", "export-json", "vm-0001"});
        ASSERT_EQ(exported.exitCode, 0) << exported.err;
        descriptor = exported.out;
    }
    const std::string json = TempFile("vm-0001.json", descriptor);
    const std::string ovf = TempFile("vm-0001.ovf", "<Envelope/>");
    const json::value old = json::parse(descriptor);
    const json::array& oldDisks = old.at("vmConfig").at("disks").as_array();
    ASSERT_EQ(oldDisks.size(), 2u);

    // The two "new" volumes are volumes the simulator holds (those of vm-0020), so reading them back works;
    // the "new" VM is vm-0002 for the same reason.
    const json::value target = ParseJson(Run({"--json", "vm", "show", "vm-0020"}), "vm");
    const json::value created = ParseJson(Run({"--json", "vm", "show", "vm-0002"}), "vm");
    server().ClearRequests();
    for (int d = 0; d < 2; ++d) {
        const std::string urn(target.at("disks").at(d).at("urn").as_string());
        const std::string uri = UriOf(urn);
        Answer("POST", server().siteUri() + "/volumes",
               json::serialize(json::object{{"taskUrn", server().siteUrn() + ":tasks:1"},
                                            {"taskUri", server().siteUri() + "/tasks/1"},
                                            {"urn", urn},
                                            {"uri", uri}}));
        Answer("GET", server().siteUri() + "/tasks/1", R"({"status": "success"})");
    }
    json::array fileItems;
    for (int d = 0; d < 2; ++d) {
        fileItems.push_back(
            {{"path", oldDisks[d].at("volumeUuid")}, {"ovfId", d == 0 ? "VIRTIO-1" : "SCSI-2"}});
    }
    Answer(
        "POST", server().siteUri() + "/vms/action/parsedescriptor",
        json::serialize(json::object{{"vmConfig", {{"cpu", {{"quantity", 2}}}}}, {"fileItems", fileItems}}));
    Answer("POST", server().siteUri() + "/vms",
           json::serialize(json::object{{"taskUrn", server().siteUrn() + ":tasks:2"},
                                        {"taskUri", server().siteUri() + "/tasks/2"},
                                        {"urn", created.at("urn")},
                                        {"uri", created.at("uri")}}));
    Answer("GET", server().siteUri() + "/tasks/2", R"({"status": "success"})");

    const FcctlResult result =
        Run({"vm", "import-ovf", "--ovf", ovf, "--like", json, "--name", "vm-0001-restored"});
    EXPECT_EXIT_CODE(result, 0);

    // Each new volume is like the old disk: same size and datastore, named after the new VM.
    std::vector<json::object> volumes;
    for (const auto& request : server().Requests(server().siteUri() + "/volumes")) {
        if (request.method == "POST" && request.path == server().siteUri() + "/volumes") {
            volumes.push_back(fcsdk_test::SimServer::BodyObject(request));
        }
    }
    ASSERT_EQ(volumes.size(), 2u);
    for (int d = 0; d < 2; ++d) {
        EXPECT_EQ(volumes[d].at("quantityGB"), oldDisks[d].at("quantityGB"));
        EXPECT_EQ(volumes[d].at("datastoreUrn"), oldDisks[d].at("datastoreUrn"));
        EXPECT_EQ(volumes[d].at("name").as_string(), "vm-0001-restored-disk" + std::to_string(d + 1));
    }
    // The VM is created on them, each on the slot the descriptor gives its old disk, in the old cluster.
    const json::object body = SentBody("POST", server().siteUri() + "/vms");
    EXPECT_EQ(body.at("name").as_string(), "vm-0001-restored");
    EXPECT_EQ(body.at("location"), vm_.at("clusterUrn"));
    const json::array& disks = body.at("vmConfig").at("disks").as_array();
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].at("volumeUrn"), target.at("disks").at(0).at("urn"));
    EXPECT_EQ(disks[0].at("pciType").as_string(), "VIRTIO");
    EXPECT_EQ(disks[1].at("pciType").as_string(), "SCSI");
    EXPECT_EQ(disks[1].at("sequenceNum").as_int64(), 2);
}

TEST_F(FcctlRestoreTest, ReconnectNicsAddsTheOldCardsWithNewAddressesWhenTaken) {
    const FcctlResult exported = Run({"vm", "export-json", "vm-0001"});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    const std::string json = TempFile("vm-0001.json", exported.out);
    const json::value target = ParseJson(Run({"--json", "vm", "show", "vm-0005"}), "vm");
    std::string targetUri(target.at("uri").as_string());
    server().ClearRequests();
    AnswerTask("POST", targetUri + "/virtualNics");

    const FcctlResult result = Run({"vm", "reconnect-nics", "vm-0005", "--descriptor", json});
    EXPECT_EXIT_CODE(result, 0);
    const json::object card = SentBody("POST", targetUri + "/virtualNics");
    EXPECT_EQ(card.at("portGroupUrn"), vm_.at("nics").at(0).at("portGroupUrn"));
    // vm-0001 still uses its address, so the VRM is left to choose a new one.
    EXPECT_FALSE(card.contains("mac"));
    EXPECT_NE(result.out.find("of 1 network cards to vm-0005"), std::string::npos) << result.out;
}

}  // namespace
