// The shared error state and its handler: how VRM error bodies and own messages are recorded.

#include <gtest/gtest.h>

#include <string>

#include "FusionComputeErrorState.h"
#include "connection/FusionComputeErrorHandler.h"
#include "parser/FusionComputeParser.h"

namespace FusionComputeSDKWrapper {
namespace {

class ErrorStateTest : public ::testing::Test {
  protected:
    CFusionComputeParser parser;
    CFusionComputeErrorState state;
    CFusionComputeErrorHandler handler{&parser, &state};
};

TEST_F(ErrorStateTest, StartsWithoutError) {
    EXPECT_EQ(state.message, "");
    EXPECT_EQ(state.code, 0);
    EXPECT_EQ(handler.GetLastError(), "");
    EXPECT_EQ(handler.GetErrorMessage(), "");
    EXPECT_EQ(handler.GetErrorCode(), 0);
}

struct BodyCase {
    const char* label;
    std::string body;
    std::string message;
    int64_t code;
};

class ErrorBodyTest : public ErrorStateTest, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(ErrorBodyTest, ReplacesMessageAndCode) {
    // Every case starts from an earlier error, so a body that carries nothing must visibly clear it.
    state.message = "earlier failure";
    state.code = 77;
    handler.SetLastErrorFromResponse(GetParam().body);
    EXPECT_EQ(state.message, GetParam().message);
    EXPECT_EQ(state.code, GetParam().code);
    EXPECT_EQ(handler.GetLastError(), GetParam().message);
    EXPECT_EQ(handler.GetErrorCode(), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ErrorBodyTest,
    ::testing::Values(
        BodyCase{"Digits", R"({"errorCode": "10300025", "errorDes": "The VM is being snapshotted"})",
                 "The VM is being snapshotted", 10300025},
        BodyCase{"DigitsThenLetters", R"({"errorCode": "10420abc", "errorDes": "partly numeric"})",
                 "partly numeric", 10420},
        BodyCase{"LeadingBlanks", R"({"errorCode": "  15", "errorDes": "blanks"})", "blanks", 15},
        BodyCase{"NonDigits", R"({"errorCode": "E_BUSY", "errorDes": "busy"})", "busy", 0},
        BodyCase{"EmptyCode", R"({"errorCode": "", "errorDes": "no code"})", "no code", 0},
        BodyCase{"MissingCode", R"({"errorDes": "only a text"})", "only a text", 0},
        BodyCase{"CodeAsNumber", R"({"errorCode": 10300025, "errorDes": "numeric code"})", "numeric code",
                 10300025},
        // A code read as -1 is kept as its unsigned 32-bit value, not as a negative number.
        BodyCase{"MinusOne", R"({"errorCode": "-1", "errorDes": "negative"})", "negative", 4294967295LL},
        BodyCase{"MinusTwo", R"({"errorCode": "-2", "errorDes": "negative"})", "negative", 4294967294LL},
        BodyCase{"LargestSigned", R"({"errorCode": "2147483647", "errorDes": "max"})", "max", 2147483647LL},
        BodyCase{"HtmlPage", "<html><body><h1>502 Bad Gateway</h1></body></html>", "", 0},
        BodyCase{"JsonWithoutKeys", R"({"status": "failed"})", "", 0},
        BodyCase{"JsonArray", R"([{"errorCode": "1", "errorDes": "in an array"}])", "", 0},
        BodyCase{"Truncated", R"({"errorCode": "10300025", "errorDes": "cut)", "", 0}),
    [](const ::testing::TestParamInfo<BodyCase>& info) { return std::string(info.param.label); });

TEST_F(ErrorStateTest, EmptyBodyKeepsTheEarlierError) {
    handler.SetLastErrorFromResponse(R"({"errorCode": "10300025", "errorDes": "busy"})");
    handler.SetLastErrorFromResponse("");
    EXPECT_EQ(handler.GetLastError(), "busy");
    EXPECT_EQ(handler.GetErrorCode(), 10300025);
}

TEST_F(ErrorStateTest, OwnMessageKeepsTheLastVrmCode) {
    handler.SetLastErrorFromResponse(R"({"errorCode": "10300025", "errorDes": "busy"})");
    handler.SetLastError("No objects found");
    EXPECT_EQ(handler.GetLastError(), "No objects found");
    EXPECT_EQ(handler.GetErrorCode(), 10300025);
    handler.SetErrorMessage("other text");
    EXPECT_EQ(state.message, "other text");
    EXPECT_EQ(state.code, 10300025);
}

TEST_F(ErrorStateTest, SetErrorCodeLeavesTheMessage) {
    handler.SetLastError("kept");
    handler.SetErrorCode(42);
    EXPECT_EQ(state.code, 42);
    EXPECT_EQ(handler.GetErrorCode(), 42);
    EXPECT_EQ(state.message, "kept");
}

TEST_F(ErrorStateTest, HandlersOverOneStateSeeEachOthersErrors) {
    CFusionComputeErrorHandler other(&parser, &state);
    handler.SetLastErrorFromResponse(R"({"errorCode": "7", "errorDes": "from the first"})");
    EXPECT_EQ(other.GetLastError(), "from the first");
    EXPECT_EQ(other.GetErrorCode(), 7);
    other.SetLastError("from the second");
    EXPECT_EQ(handler.GetLastError(), "from the second");
}

struct FailedRequestCase {
    const char* label;
    std::string body;
    std::string message;  // expected message
    int64_t code;         // expected code (the earlier one is 77)
};

class FailedRequestTest : public ErrorStateTest, public ::testing::WithParamInterface<FailedRequestCase> {};

TEST_P(FailedRequestTest, RecordsTheVrmErrorElseTheTransportsAccount) {
    // Every case starts from an earlier, unrelated error: it must never survive a new failure.
    state.message = "earlier failure";
    state.code = 77;
    handler.SetLastErrorFromFailedRequest(GetParam().body, "HTTP status 502 on GET https://vrm/x");
    EXPECT_EQ(handler.GetLastError(), GetParam().message);
    EXPECT_EQ(handler.GetErrorCode(), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, FailedRequestTest,
    ::testing::Values(
        FailedRequestCase{"VrmBody", R"({"errorCode": "10300025", "errorDes": "busy"})", "busy", 10300025},
        FailedRequestCase{"VrmBodyMinusOne", R"({"errorCode": "-1", "errorDes": "neg"})", "neg",
                          4294967295LL},
        FailedRequestCase{"VrmTextWithoutCode", R"({"errorDes": "only a text"})", "only a text", 0},
        // Not a VRM error body: the earlier code must not survive either (it would answer for this one).
        FailedRequestCase{"NoAnswer", "", "HTTP status 502 on GET https://vrm/x", 0},
        FailedRequestCase{"HtmlPage", "<html><body>502 Bad Gateway</body></html>",
                          "HTTP status 502 on GET https://vrm/x", 0},
        FailedRequestCase{"CodeWithoutText", R"({"errorCode": "10300025"})",
                          "HTTP status 502 on GET https://vrm/x", 10300025},
        FailedRequestCase{"EmptyText", R"({"errorCode": "5", "errorDes": ""})",
                          "HTTP status 502 on GET https://vrm/x", 5},
        FailedRequestCase{"Truncated", R"({"errorCode": "1", "errorDes": "cut)",
                          "HTTP status 502 on GET https://vrm/x", 0}),
    [](const ::testing::TestParamInfo<FailedRequestCase>& info) { return std::string(info.param.label); });

TEST_F(ErrorStateTest, FailedRequestWithoutAnyAccountStillReplacesTheEarlierError) {
    state.message = "earlier failure";
    handler.SetLastErrorFromFailedRequest("", "");
    EXPECT_EQ(handler.GetLastError(), "The request failed without an answer");
}

TEST_F(ErrorStateTest, UnreadableAnswerNamesThePath) {
    EXPECT_EQ(CFusionComputeErrorHandler::UnreadableAnswerMessage("/service/sites/1/vms?"),
              "Could not read the VRM's answer to [/service/sites/1/vms?]");
}

TEST(ErrorHandlerWithoutState, SettersDoNothingAndGettersAreEmpty) {
    CFusionComputeParser parser;
    CFusionComputeErrorHandler handler(&parser, nullptr);
    handler.SetLastError("lost");
    handler.SetErrorMessage("lost");
    handler.SetErrorCode(5);
    handler.SetLastErrorFromResponse(R"({"errorCode": "10300025", "errorDes": "lost"})");
    handler.SetLastErrorFromFailedRequest(R"({"errorCode": "10300025", "errorDes": "lost"})", "lost");
    handler.SetLastErrorFromFailedRequest("", "lost");
    EXPECT_EQ(handler.GetLastError(), "");
    EXPECT_EQ(handler.GetErrorMessage(), "");
    EXPECT_EQ(handler.GetErrorCode(), 0);
}

}  // namespace
}  // namespace FusionComputeSDKWrapper
