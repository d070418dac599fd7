// The debug log: line format, level filtering, sinks, the configured file, and secret masking.

#include "EvDebug.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "LogCapture.h"
#include "platform/LogMask.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

void WriteFromHere(const EvDebug& log) {
    log.Error(__PRETTY_FUNCTION__, "code %d: %s", 7, "boom");
}

TEST(EvDebugFormat, LineCarriesTimeProcessThreadLevelFunctionAndMessage) {
    fcsdk_test::LogCapture capture(0);
    WriteFromHere(EvDebug(nullptr));
    const std::vector<std::string> lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string expectedTail = "] ERROR void {anonymous}::WriteFromHere(const EvDebug&) - code 7: boom";
    EXPECT_THAT(lines[0], HasSubstr(expectedTail));
    const std::regex shape(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}Z \[(\d+):(\d+)\] ERROR .*)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, shape)) << lines[0];
    EXPECT_EQ(match[1].str(), std::to_string(getpid()));
}

TEST(EvDebugLevels, EachLevelLetsThroughItsLines) {
    struct Case {
        int level;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {0, {"ERROR f - e", "DEBUG f - lvl0"}},
        {1, {"ERROR f - e", "DEBUG f - d", "DEBUG f - lvl0", "DEBUG f - lvl1"}},
        {2, {"ERROR f - e", "DEBUG f - d", "DEBUG f - lvl0", "DEBUG f - lvl1", "DETAIL f - lvl2"}},
    };
    for (const Case& c : cases) {
        fcsdk_test::LogCapture capture(c.level);
        EXPECT_EQ(EvDebug::GetLevel(), c.level);
        const EvDebug log;
        log.Error("f", "e");
        log.Debug("f", "d");
        log.DebugLvl("f", 0, "lvl0");
        log.DebugLvl("f", 1, "lvl1");
        log.DebugLvl("f", 2, "lvl2");
        std::vector<std::string> tails;
        for (const std::string& line : capture.Lines()) tails.push_back(line.substr(line.find("] ") + 2));
        EXPECT_EQ(tails, c.expected) << "level " << c.level;
    }
}

TEST(EvDebugLevels, SinkReceivesTheSeverity) {
    fcsdk_test::LogCapture capture(2);
    const EvEvent log;
    log.Error("f", "e");
    log.DebugLvl("f", 2, "x");
    EXPECT_EQ(capture.Lines(EvDebugLevel::Error).size(), 1u);
    EXPECT_EQ(capture.Lines(EvDebugLevel::Detail).size(), 1u);
    EXPECT_TRUE(capture.Lines(EvDebugLevel::Debug).empty());
}

TEST(EvDebugLevels, LongMessagesAreNotCut) {
    fcsdk_test::LogCapture capture(0);
    const std::string text(10000, 'm');
    EvDebug().Error("f", "%s|", text.c_str());
    ASSERT_EQ(capture.Lines().size(), 1u);
    EXPECT_THAT(capture.Lines()[0], HasSubstr(" - " + text + "|"));
}

TEST(EvDebugThreads, LinesOfSeveralThreadsStayWhole) {
    fcsdk_test::LogCapture capture(1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) EvDebug().Debug("worker", "thread %d line %d", t, i);
        });
    }
    for (std::thread& thread : threads) thread.join();
    const std::vector<std::string> lines = capture.Lines();
    ASSERT_EQ(lines.size(), 800u);
    for (const std::string& line : lines)
        EXPECT_THAT(line, MatchesRegex(".* DEBUG worker - thread [0-3] line [0-9]+"));
}

// The log file and level come from the "Log" section of the configuration when no sink is installed.
TEST(EvDebugConfiguration, WritesToTheConfiguredFileAtTheConfiguredLevel) {
    char directory[] = "/tmp/fcsdk_log_XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string config = std::string(directory) + "/config.ini";
    const std::string logFile = std::string(directory) + "/fcsdk.log";
    std::ofstream(config) << "[Log]\nsFile=" << logFile << "\nnLevel=1\n";
    const char* previous = std::getenv("FCSDK_CONFIG");
    const std::string previousValue = previous ? previous : "";
    setenv("FCSDK_CONFIG", config.c_str(), 1);

    const EvDebug log;
    log.Error("f", "first");
    log.Debug("f", "second");
    log.DebugLvl("f", 2, "not written");

    std::ifstream in(logFile);
    std::stringstream contents;
    contents << in.rdbuf();
    if (previous) {
        setenv("FCSDK_CONFIG", previousValue.c_str(), 1);
    } else {
        unsetenv("FCSDK_CONFIG");
    }
    std::remove(config.c_str());
    std::remove(logFile.c_str());
    rmdir(directory);

    std::vector<std::string> lines;
    for (std::string line; std::getline(contents, line);) lines.push_back(line.substr(line.find("] ") + 2));
    EXPECT_THAT(lines, ElementsAre("ERROR f - first", "DEBUG f - second"));
}

TEST(LogMask, HeaderValuesAreMasked) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"X-Auth-Key:abcdef0123", "X-Auth-Key:***"},
        {"x-auth-token: tok-123\r\n", "x-auth-token: ***\r\n"},
        {"headers [Accept: a | X-Auth-Token: T0K | X-Auth-User:admin]",
         "headers [Accept: a | X-Auth-Token: *** | X-Auth-User:admin]"},
        {"[X-Auth-Token: abc]", "[X-Auth-Token: ***]"},
        {"Failed to set CURL X-Auth-Token header", "Failed to set CURL X-Auth-Token header"},
        {"X-Auth-Key:", "X-Auth-Key:"},
    };
    for (const auto& c : cases) EXPECT_EQ(fcsdk_platform::MaskSecrets(c.text), c.expected) << c.text;
}

TEST(LogMask, JsonSecretMembersAreMasked) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {R"({"name":"vm","password":"p\"w"})", R"({"name":"vm","password":"***"})"},
        {R"({"osOptions":{"Password" : "x", "hostname":"h"}})",
         R"({"osOptions":{"Password" : "***", "hostname":"h"}})"},
        {R"({"token":12345,"port":7})", R"({"token":"***","port":7})"},
        {R"({"userPwd":"a"})", R"({"userPwd":"***"})"},
        {R"({"note":"password"})", R"({"note":"password"})"},
        {R"({"passwords":["a"]})", R"({"passwords":["a"]})"},
        {R"({"password":"trunc)", R"({"password":"***")"},
    };
    for (const auto& c : cases) EXPECT_EQ(fcsdk_platform::MaskSecrets(c.text), c.expected) << c.text;
}

TEST(LogMask, EveryLogLineIsMasked) {
    fcsdk_test::LogCapture capture(1);
    EvDebug().Debug("f", "sent [%s]", "X-Auth-Token: secret-token-value");
    EXPECT_TRUE(capture.HasNoSecret("secret-token-value")) << capture.Text();
    EXPECT_TRUE(capture.Contains("sent [X-Auth-Token: ***]"));
    EXPECT_FALSE(capture.HasNoSecret("X-Auth-Token"));
}

}  // namespace
