// MLPlatformInfo (INI file named by FCSDK_CONFIG, read on every lookup) and the transport settings
// read through it.

#include "platform/MLPlatformInfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/MLLibCurl.h"

namespace {

// Points FCSDK_CONFIG at a temporary INI file for one test and restores the variable afterwards.
class ConfigFile : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* previous = std::getenv("FCSDK_CONFIG");
        hadPrevious_ = previous != nullptr;
        if (hadPrevious_) previous_ = previous;
        char pattern[] = "/tmp/fcsdk_config_XXXXXX";
        const int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = pattern;
        setenv("FCSDK_CONFIG", path_.c_str(), 1);
    }
    void TearDown() override {
        std::remove(path_.c_str());
        if (hadPrevious_) {
            setenv("FCSDK_CONFIG", previous_.c_str(), 1);
        } else {
            unsetenv("FCSDK_CONFIG");
        }
    }
    void Write(const std::string& text) { std::ofstream(path_, std::ios::trunc) << text; }

    std::string path_;

  private:
    bool hadPrevious_ = false;
    std::string previous_;
};

TEST_F(ConfigFile, ReadsNumbersOfTheRightSection) {
    Write("[VirtualServer]\nnOperationTimeout = 45\n[Other]\nnOperationTimeout=7\n");
    uint64_t value = 0;
    EXPECT_NE(MLPlatformInfo::getNumber("VirtualServer", "nOperationTimeout", value), 0);
    EXPECT_EQ(value, 45u);
    EXPECT_NE(MLPlatformInfo::getNumber("Other", "nOperationTimeout", value), 0);
    EXPECT_EQ(value, 7u);
}

TEST_F(ConfigFile, AbsentOrNonNumericSettingsLeaveTheDefault) {
    Write("[VirtualServer]\nnText = abc\nnNegative = -5\nnEmpty =\nnMixed = 12x\n");
    for (const char* key : {"nText", "nNegative", "nEmpty", "nMixed", "nMissing"}) {
        unsigned int value = 120;
        EXPECT_EQ(MLPlatformInfo::getNumber("VirtualServer", key, value), 0) << key;
        EXPECT_EQ(value, 120u) << key;
    }
    unsigned int value = 120;
    EXPECT_EQ(MLPlatformInfo::getNumber("Missing", "nOperationTimeout", value), 0);
    EXPECT_EQ(value, 120u);
}

TEST_F(ConfigFile, CommentsAfterAValueAreDropped) {
    Write("[S]\nn = 45   ; minutes\ns = /etc/ca.pem\t# the VRM's CA\nhash = a#b;c\nnone = ; nothing\n");
    uint64_t number = 0;
    EXPECT_NE(MLPlatformInfo::getNumber("S", "n", number), 0);
    EXPECT_EQ(number, 45u);
    std::string text;
    EXPECT_NE(MLPlatformInfo::getString("S", "s", text), 0);
    EXPECT_EQ(text, "/etc/ca.pem");
    EXPECT_NE(MLPlatformInfo::getString("S", "hash", text), 0);
    EXPECT_EQ(text, "a#b;c");
    EXPECT_NE(MLPlatformInfo::getString("S", "none", text), 0);
    EXPECT_EQ(text, "");
}

TEST_F(ConfigFile, The32BitFormNarrowsWhenPresent) {
    Write("[S]\nn = 4294967297\n");
    unsigned int value = 0;
    EXPECT_NE(MLPlatformInfo::getNumber("S", "n", value), 0);
    EXPECT_EQ(value, 1u);
    uint64_t wide = 0;
    EXPECT_NE(MLPlatformInfo::getNumber("S", "n", wide), 0);
    EXPECT_EQ(wide, 4294967297ull);
}

TEST_F(ConfigFile, ChangesAreSeenByTheNextLookup) {
    Write("[S]\nn = 1\n");
    uint64_t value = 0;
    MLPlatformInfo::getNumber("S", "n", value);
    EXPECT_EQ(value, 1u);
    Write("[S]\nn = 2\n");
    MLPlatformInfo::getNumber("S", "n", value);
    EXPECT_EQ(value, 2u);
}

TEST_F(ConfigFile, StringsAreTrimmedAndKeysMayContainDots) {
    Write(
        "[Transport]\nsConnectTo =  vrm.local:7443:127.0.0.1:1234  \nsCAFile=/x/ca.pem\n[Log]\ns.name = a\n");
    std::string value;
    EXPECT_NE(MLPlatformInfo::getString("Transport", "sConnectTo", value), 0);
    EXPECT_EQ(value, "vrm.local:7443:127.0.0.1:1234");
    EXPECT_NE(MLPlatformInfo::getString("Log", "s.name", value), 0);
    EXPECT_EQ(value, "a");
}

TEST_F(ConfigFile, MalformedOrMissingFilesConfigureNothing) {
    Write("[S]\nn = 1\nn = 2\n");  // duplicate key: the INI reader refuses the file
    uint64_t value = 9;
    EXPECT_EQ(MLPlatformInfo::getNumber("S", "n", value), 0);
    std::remove(path_.c_str());
    EXPECT_EQ(MLPlatformInfo::getNumber("S", "n", value), 0);
    unsetenv("FCSDK_CONFIG");
    EXPECT_EQ(MLPlatformInfo::getNumber("S", "n", value), 0);
    EXPECT_EQ(value, 9u);
}

// The transport settings with every key absent (the defaults), then with every key given.
TEST_F(ConfigFile, TransportSettingsDefaultsAndFromTheFile) {
    struct Case {
        const char* file;
        const char* caFile;
        bool verifyPeer;
        const char* connectTo;
        long connectTimeout, lowSpeedTime, maxResponseMB;
    };
    const Case cases[] = {
        {"", "", true, "", 30, 120, 256},
        {"[Transport]\nsCAFile=/c/ca.pem\nnVerifyPeer=0\nsConnectTo=a:1:b:2\nnConnectTimeout=5\n"
         "nLowSpeedTime=2\nnMaxResponseMB=1\n",
         "/c/ca.pem", false, "a:1:b:2", 5, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Write(c.file);
        const MLLibCurlSettings settings = MLLibCurlSettings::FromConfiguration();
        EXPECT_EQ(settings.caFile, c.caFile);
        EXPECT_EQ(settings.verifyPeer, c.verifyPeer);
        EXPECT_EQ(settings.connectTo, c.connectTo);
        EXPECT_EQ(settings.connectTimeout, c.connectTimeout);
        EXPECT_EQ(settings.lowSpeedTime, c.lowSpeedTime);
        EXPECT_EQ(settings.maxResponseMB, c.maxResponseMB);
    }
}

}  // namespace
