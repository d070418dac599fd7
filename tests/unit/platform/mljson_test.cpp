// MlJson's object helpers and lenient scalar readers, and MLSJsonParser's string-list reader.

#include "platform/MlJson.h"

#include <gtest/gtest.h>

#include "platform/MLSJsonParser.h"

namespace {

using json_spirit::mArray;
using json_spirit::mObject;

mObject Object(const std::string& text) {
    mObject object;
    EXPECT_TRUE(MlJson::Unserialize(text, object)) << text;
    return object;
}

const char* const kMixed = R"({
    "str": "abc", "emptyStr": "", "int": 42, "neg": -7, "big": 5000000000, "ubig": 18446744073709551615,
    "real": 3.99, "negReal": -2.5, "hugeReal": 1e300, "t": true, "f": false, "null": null,
    "numStr": "123", "negStr": " -12 ", "realStr": "7.8", "junkStr": "12abc", "trueStr": "true",
    "falseStr": "false", "TrueStr": "True", "oneStr": "1", "zero": 0, "zeroReal": 0.0,
    "arr": [1, 2], "obj": {"k": "v"}
})";

TEST(MlJsonUnserialize, OnlyObjectsAreAccepted) {
    mObject object;
    EXPECT_TRUE(MlJson::Unserialize(R"({"a":1})", object));
    EXPECT_EQ(object.at("a").get_int(), 1);
    for (const char* text : {"[1]", "1", "\"x\"", "null", "{", "", "{\"a\":1} x"}) {
        mObject untouched{{"keep", json_spirit::mValue(1)}};
        EXPECT_FALSE(MlJson::Unserialize(text, untouched)) << text;
    }
}

TEST(MlJsonSerialize, WritesCompactJsonThatReadsBack) {
    mObject object;
    object["name"] = "vm \"1\"";
    object["cpu"] = 4;
    object["list"] = mArray{json_spirit::mValue(true), json_spirit::mValue()};
    const std::string text = MlJson::Serialize(object);
    EXPECT_EQ(text, R"({"cpu":4,"list":[true,null],"name":"vm \"1\""})");
    EXPECT_EQ(Object(text), object);
}

TEST(MlJsonGetString, RendersScalarsAndIgnoresTheRest) {
    const mObject object = Object(kMixed);
    const std::pair<const char*, const char*> cases[] = {
        {"str", "abc"},   {"emptyStr", ""},      {"int", "42"},
        {"neg", "-7"},    {"big", "5000000000"}, {"ubig", "18446744073709551615"},
        {"real", "3.99"}, {"t", "true"},         {"f", "false"},
        {"null", ""},     {"arr", ""},           {"obj", ""},
        {"missing", ""},
    };
    for (const auto& [key, expected] : cases) EXPECT_EQ(MlJson::GetStringValue(object, key), expected) << key;
}

TEST(MlJsonGetInt, AcceptsIntegersRealsAndDecimalText) {
    const mObject object = Object(kMixed);
    const std::pair<const char*, int64_t> cases[] = {
        {"int", 42},
        {"neg", -7},
        {"big", 5000000000},
        {"real", 3},
        {"negReal", -2},
        {"numStr", 123},
        {"negStr", -12},
        {"realStr", 7},
        {"junkStr", 0},
        {"str", 0},
        {"t", 0},
        {"null", 0},
        {"arr", 0},
        {"obj", 0},
        {"missing", 0},
        {"hugeReal", std::numeric_limits<int64_t>::max()},
    };
    for (const auto& [key, expected] : cases) {
        EXPECT_EQ(MlJson::GetInt64Value(object, key), expected) << key;
        EXPECT_EQ(MlJson::GetIntValue(object, key), static_cast<int>(expected)) << key;
    }
}

TEST(MlJsonGetBool, AcceptsBoolsNumbersAndWords) {
    const mObject object = Object(kMixed);
    const std::pair<const char*, bool> cases[] = {
        {"t", true},         {"f", false},      {"int", true},       {"zero", false},   {"real", true},
        {"zeroReal", false}, {"trueStr", true}, {"falseStr", false}, {"TrueStr", true}, {"oneStr", false},
        {"str", false},      {"null", false},   {"arr", false},      {"obj", false},    {"missing", false},
    };
    for (const auto& [key, expected] : cases) EXPECT_EQ(MlJson::GetBoolValue(object, key), expected) << key;
}

TEST(MlJsonFind, ArraysAndObjectsOnlyUnderTheirOwnType) {
    const mObject object = Object(kMixed);
    mArray array;
    mObject inner;
    EXPECT_TRUE(MlJson::FindArrayValue(object, "arr", array));
    EXPECT_EQ(array.size(), 2u);
    EXPECT_TRUE(MlJson::FindObjectValue(object, "obj", inner));
    EXPECT_EQ(inner.at("k").get_str(), "v");

    mArray untouchedArray{json_spirit::mValue(9)};
    mObject untouchedObject{{"x", json_spirit::mValue(9)}};
    for (const char* key : {"obj", "str", "null", "missing"}) {
        EXPECT_FALSE(MlJson::FindArrayValue(object, key, untouchedArray)) << key;
    }
    for (const char* key : {"arr", "int", "null", "missing"}) {
        EXPECT_FALSE(MlJson::FindObjectValue(object, key, untouchedObject)) << key;
    }
    EXPECT_EQ(untouchedArray.size(), 1u);
    EXPECT_EQ(untouchedObject.size(), 1u);
}

class TestParser : public MLSJsonParser {};

TEST(MLSJsonParserStrings, AppendsTheStringElements) {
    const mObject object = Object(R"({"names":["a",1,"b",null,""],"notList":"a"})");
    TestParser parser;
    std::vector<std::string> strings{"kept"};
    EXPECT_TRUE(parser.ConvertNestedStringList(object, "names", strings));
    EXPECT_EQ(strings, (std::vector<std::string>{"kept", "a", "b", ""}));
    EXPECT_FALSE(parser.ConvertNestedStringList(object, "notList", strings));
    EXPECT_FALSE(parser.ConvertNestedStringList(object, "missing", strings));
    EXPECT_EQ(strings.size(), 4u);
}

}  // namespace
