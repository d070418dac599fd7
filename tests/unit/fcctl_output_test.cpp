// fcctl's pieces without a VRM: the JSON writer (every document must parse, whatever the VRM's texts
// hold), aligned tables, the --details names and the backup state file.

#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "BackupState.h"
#include "Details.h"
#include "JsonWriter.h"
#include "Table.h"

namespace {

namespace json = boost::json;

std::string WriteString(const std::string& value) {
    return fcctl::JsonText(json::object{{"v", value}});
}

std::string ParsedString(const std::string& value) {
    const std::string text = WriteString(value);
    boost::system::error_code ec;
    json::value parsed = json::parse(text, ec);
    EXPECT_FALSE(ec) << text;
    return ec ? std::string() : std::string(parsed.at("v").as_string());
}

TEST(JsonWriterTest, StringsSurviveAParseUnchanged) {
    const std::string cases[] = {
        "plain",
        "quote \" and backslash \\",
        "tab\tnew line\ncarriage\rform\fback\b",
        std::string("nul \0 inside", 12),
        "\x01\x1f\x7f",
        "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
        "</script>",
    };
    for (const std::string& value : cases) EXPECT_EQ(ParsedString(value), value) << WriteString(value);
}

TEST(JsonWriterTest, InvalidUtf8BecomesReplacementCharacters) {
    const std::string replacement = "\xef\xbf\xbd";
    struct Case {
        std::string in, out;
    } cases[] = {
        {"a\xff"
         "b",
         "a" + replacement + "b"},                                                    // never valid
        {"\xc3", replacement},                                                        // truncated sequence
        {"\xc0\xaf", replacement + replacement},                                      // overlong form
        {"\xed\xa0\x80", replacement + replacement + replacement},                    // surrogate
        {"\xf4\x90\x80\x80", replacement + replacement + replacement + replacement},  // above U+10FFFF
    };
    for (const Case& c : cases) EXPECT_EQ(ParsedString(c.in), c.out);
    // Strings deep inside a document and keys are repaired too.
    const json::value nested =
        json::parse(fcctl::JsonText(json::object{{"list", {json::object{{"k\xff", "\xc3"}}}}}));
    EXPECT_EQ(nested.at("list").at(0).at("k" + replacement).as_string(), replacement);
}

TEST(JsonWriterTest, DocumentIsOneLineWithTheFormatFirst) {
    std::ostringstream out;
    fcctl::PrintJson(out, {{"vms", json::array{json::object{{"name", "vm-0001"}}}}, {"count", 1}});
    EXPECT_EQ(out.str(), "{\"format\":1,\"vms\":[{\"name\":\"vm-0001\"}],\"count\":1}\n");
}

TEST(TableTest, AlignsColumnsByDisplayWidth) {
    fcctl::Table table({"NAME", ">SIZE", "NOTE"});
    table.AddRow({"caf\xc3\xa9", "5", "first"});
    table.AddRow({"a-much-longer-name", "12345", "x"});
    table.AddRow({"short"});  // missing cells are empty
    std::ostringstream out;
    table.Print(out);
    EXPECT_EQ(out.str(),
              "NAME                 SIZE  NOTE\n"
              "caf\xc3\xa9                    5  first\n"
              "a-much-longer-name  12345  x\n"
              "short\n");
}

TEST(TableTest, ControlCharactersCannotBreakRows) {
    fcctl::Table table({"A", "B"});
    table.AddRow({"line\nbreak", "tab\there"});
    std::ostringstream out;
    table.Print(out);
    EXPECT_EQ(out.str(), "A           B\nline break  tab here\n");
}

TEST(TableTest, EmptyTablePrintsItsEmptyText) {
    fcctl::Table table({"A"});
    std::ostringstream out;
    table.Print(out, "no VMs");
    EXPECT_EQ(out.str(), "no VMs\n");
}

TEST(DetailsTest, NamesAndMasksCombine) {
    using namespace FusionComputeSDKWrapper;
    struct Case {
        std::string list;
        UINT64 flags;
    } cases[] = {
        {"", 0},
        {"disks", VM_PROP_VM_DISK_LIST},
        {"disks,snapshots,nics", VM_PROP_VM_DISK_LIST | VM_PROP_VM_SNAPSHOT_LIST | VM_PROP_VM_NW_LIST},
        {" guest , host-vms ,", VM_PROP_VM_GUEST_INFO | VM_PROP_HOST_VM_LIST},
        {"site-clusters,cluster-hosts", VM_PROP_DATACENTER_CLUSTER_LIST | VM_PROP_CLUSTER_HOST_LIST},
        {"ds-vms,ds-extents", VM_PROP_DS_VM_LIST | VM_PROP_DS_EXTENT_LIST},
        {"host-datastores,host-networks,host-storage,cluster-vms",
         VM_PROP_HOST_DS_LIST | VM_PROP_HOST_NW_LIST | VM_PROP_HOST_ADAP_INFO | VM_PROP_CLUSTER_VM_LIST},
        {"0x30", 0x30},
        {"0X8000000000000000,disks", 0x8000000000000010ULL},
        {"all", VM_PROP_ALL},
    };
    for (const Case& c : cases) {
        UINT64 flags = 1234;
        std::string error;
        ASSERT_TRUE(fcctl::ParseDetails(c.list, flags, error)) << c.list << ": " << error;
        EXPECT_EQ(flags, c.flags) << c.list;
    }
}

TEST(DetailsTest, UnknownEntriesAreRejectedByName) {
    for (const std::string list : {"disk", "disks,bogus", "0x", "0x1g", "0x12345678901234567", "DISKS"}) {
        FusionComputeSDKWrapper::UINT64 flags = 0;
        std::string error;
        EXPECT_FALSE(fcctl::ParseDetails(list, flags, error)) << list;
        EXPECT_NE(error.find("unknown detail"), std::string::npos) << error;
    }
}

class BackupStateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("fcctl_state_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "vm.state").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_;
    std::string path_;
};

TEST_F(BackupStateTest, MissingFileMeansFirstBackup) {
    fcctl::BackupState state;
    bool exists = true;
    std::string error;
    ASSERT_TRUE(fcctl::LoadBackupState(path_, state, exists, error)) << error;
    EXPECT_FALSE(exists);
    EXPECT_TRUE(state.tokens.empty());
}

TEST_F(BackupStateTest, RoundTripKeepsTokensWithAnyCharacters) {
    fcctl::BackupState state;
    state.vmUrn = "urn:sites:1:vms:i-1";
    state.vmUuid = "uuid-1";
    state.time = "2026-01-01T00:00:00Z";
    state.snapshotUrn = "urn:sites:1:vms:i-1:snapshots:9";
    state.tokens["urn:sites:1:volumes:1"] = R"({"chgID":"7","volCBTCreateTime":"2026-01-01 10:00:00"})";
    state.tokens["urn:sites:1:volumes:2"] = "tab\there\nnew line \\ backslash\r not UTF-8 \xff";
    std::string error;
    ASSERT_TRUE(fcctl::SaveBackupState(path_, state, error)) << error;

    fcctl::BackupState loaded;
    bool exists = false;
    ASSERT_TRUE(fcctl::LoadBackupState(path_, loaded, exists, error)) << error;
    EXPECT_TRUE(exists);
    EXPECT_EQ(loaded.vmUrn, state.vmUrn);
    EXPECT_EQ(loaded.vmUuid, state.vmUuid);
    EXPECT_EQ(loaded.time, state.time);
    EXPECT_EQ(loaded.snapshotUrn, state.snapshotUrn);
    EXPECT_EQ(loaded.tokens, state.tokens);
    std::ifstream in(path_);
    std::string line;
    std::getline(in, line);
    json::parse_options bytesAsTheyAre;
    bytesAsTheyAre.allow_invalid_utf8 = true;
    EXPECT_EQ(json::parse(line, {}, bytesAsTheyAre).at("fcctlBackupState").as_int64(), 2) << line;
    EXPECT_EQ(std::filesystem::status(path_).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::none);
}

TEST_F(BackupStateTest, SaveReplacesTheFileAndLeavesNoTemporaryFile) {
    fcctl::BackupState state;
    state.vmUrn = "first";
    std::string error;
    ASSERT_TRUE(fcctl::SaveBackupState(path_, state, error)) << error;
    state.vmUrn = "second";
    ASSERT_TRUE(fcctl::SaveBackupState(path_, state, error)) << error;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u);
    fcctl::BackupState loaded;
    bool exists = false;
    ASSERT_TRUE(fcctl::LoadBackupState(path_, loaded, exists, error)) << error;
    EXPECT_EQ(loaded.vmUrn, "second");
}

TEST_F(BackupStateTest, PlantedTemporaryFilesAreNeitherFollowedNorOverwritten) {
    fcctl::BackupState state;
    state.vmUrn = "kept";
    std::string error;
    ASSERT_TRUE(fcctl::SaveBackupState(path_, state, error)) << error;
    const std::string temp = path_ + ".tmp." + std::to_string(::getpid()) + ".";
    // A symbolic link planted under the first temporary name must not lead the write elsewhere.
    const std::string victim = path_ + ".victim";
    std::ofstream(victim) << "precious";
    std::filesystem::create_symlink(victim, temp + "0");
    state.vmUrn = "saved";
    ASSERT_TRUE(fcctl::SaveBackupState(path_, state, error)) << error;
    std::ifstream in(victim);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "precious");
    // With every temporary name taken the save fails before the rename, and the old state stays.
    for (int i = 1; i < 100; ++i) std::filesystem::create_directory(temp + std::to_string(i));
    state.vmUrn = "lost";
    EXPECT_FALSE(fcctl::SaveBackupState(path_, state, error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
    fcctl::BackupState loaded;
    bool exists = false;
    ASSERT_TRUE(fcctl::LoadBackupState(path_, loaded, exists, error)) << error;
    EXPECT_EQ(loaded.vmUrn, "saved");
}

TEST_F(BackupStateTest, FileOfTheLineFormatIsStillRead) {
    std::ofstream(path_) << "# State of fcctl backup: the change token of each disk at the last backup.\n"
                            "fcctl-backup-state\t1\n"
                            "vm\turn:sites:1:vms:i-1\n"
                            "vmuuid\tuuid-1\n"
                            "time\t2026-01-01T00:00:00Z\n"
                            "snapshot\turn:sites:1:vms:i-1:snapshots:9\n"
                            "disk\turn:sites:1:volumes:1\t{\"chgID\":\"7\"}\n"
                            "disk\turn:sites:1:volumes:2\ttab\\there\\nnew line \\\\ backslash\\r\r\n";
    fcctl::BackupState state;
    bool exists = false;
    std::string error;
    ASSERT_TRUE(fcctl::LoadBackupState(path_, state, exists, error)) << error;
    EXPECT_EQ(state.vmUrn, "urn:sites:1:vms:i-1");
    EXPECT_EQ(state.vmUuid, "uuid-1");
    EXPECT_EQ(state.time, "2026-01-01T00:00:00Z");
    EXPECT_EQ(state.snapshotUrn, "urn:sites:1:vms:i-1:snapshots:9");
    const std::map<std::string, std::string> tokens{
        {"urn:sites:1:volumes:1", R"({"chgID":"7"})"},
        {"urn:sites:1:volumes:2", "tab\there\nnew line \\ backslash\r"}};
    EXPECT_EQ(state.tokens, tokens);
}

TEST_F(BackupStateTest, OtherFilesAreRejected) {
    const std::string contents[] = {
        R"({"vmUrn": "urn"})",                                  // no format member
        R"({"fcctlBackupState": 3})",                           // unknown version
        R"({"fcctlBackupState": 2, "vmUrn": 1})",               // not a string
        R"({"fcctlBackupState": 2, "tokens": {"urn": null}})",  // token not a string
        R"({"fcctlBackupState": 2, "tokens": )",                // cut short
        "vm\turn\n",                                            // no header
        "fcctl-backup-state\t2\nvm\turn\n",                     // unknown version
        "fcctl-backup-state\t1\ndisk\tonly-urn\n",              // disk line without token
        "fcctl-backup-state\t1\nvm\tbad\\escape\n",             // bad escape
        "",                                                     // empty file
    };
    for (const std::string& content : contents) {
        std::ofstream(path_, std::ios::trunc) << content;
        fcctl::BackupState state;
        bool exists = false;
        std::string error;
        EXPECT_FALSE(fcctl::LoadBackupState(path_, state, exists, error)) << content;
        EXPECT_TRUE(exists);
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
