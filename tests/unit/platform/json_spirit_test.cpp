// The JSON layer: reading into json_spirit values, writing them back, and the typed getters.

#include "platform/json_spirit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

using json_spirit::mArray;
using json_spirit::mObject;
using json_spirit::mValue;

mValue Parse(const std::string& text) {
    mValue value;
    EXPECT_TRUE(json_spirit::read_string(text, value)) << text;
    return value;
}

bool Parses(const std::string& text) {
    mValue value;
    return json_spirit::read_string(text, value);
}

std::string Nested(size_t depth, char open, char close) {
    return std::string(depth, open) + std::string(depth, close);
}

TEST(JsonRead, BuildsEveryValueType) {
    const mValue value =
        Parse(R"({"s":"text","i":-42,"r":2.5,"t":true,"f":false,"n":null,"a":[1,"x"],"o":{"k":1}})");
    ASSERT_EQ(value.type(), json_spirit::obj_type);
    const mObject& object = value.get_obj();
    EXPECT_EQ(object.at("s").get_str(), "text");
    EXPECT_EQ(object.at("i").type(), json_spirit::int_type);
    EXPECT_EQ(object.at("i").get_int(), -42);
    EXPECT_EQ(object.at("r").type(), json_spirit::real_type);
    EXPECT_DOUBLE_EQ(object.at("r").get_real(), 2.5);
    EXPECT_TRUE(object.at("t").get_bool());
    EXPECT_FALSE(object.at("f").get_bool());
    EXPECT_TRUE(object.at("n").is_null());
    ASSERT_EQ(object.at("a").get_array().size(), 2u);
    EXPECT_EQ(object.at("a").get_array()[1].get_str(), "x");
    EXPECT_EQ(object.at("o").get_obj().at("k").get_int(), 1);
}

TEST(JsonRead, TopLevelScalarsAndSurroundingWhitespace) {
    EXPECT_EQ(Parse(" 7 ").get_int(), 7);
    EXPECT_EQ(Parse("\"a\"").get_str(), "a");
    EXPECT_TRUE(Parse("\n null\t").is_null());
    EXPECT_TRUE(Parse("[]").get_array().empty());
    EXPECT_TRUE(Parse("{}").get_obj().empty());
}

TEST(JsonRead, RejectsWhatStrictJsonRejects) {
    const char* invalid[] = {
        "",        "   ",     "[1,]",      "{\"a\":1,}", "{'a':1}",   "{a:1}",     "[1 2]",
        "01",      "+1",      ".5",        "1.",         "NaN",       "Infinity",  "[1]x",
        "[1][2]",  "// c\n1", "/* c */ 1", "\"a\tb\"",   "\"\\x41\"", "\"\\u12\"", "tru",
        "{\"a\"}", "[",       "{\"a\":",   "\"open",
    };
    for (const char* text : invalid) EXPECT_FALSE(Parses(text)) << text;
}

TEST(JsonRead, FailureLeavesTheTargetUntouched) {
    mValue value(std::string("before"));
    EXPECT_FALSE(json_spirit::read_string("{\"a\":[1,2", value));
    EXPECT_EQ(value.get_str(), "before");
}

TEST(JsonRead, DepthLimitIs512) {
    EXPECT_TRUE(Parses(Nested(512, '[', ']')));
    EXPECT_FALSE(Parses(Nested(513, '[', ']')));
    std::string objects;
    for (int i = 0; i < 513; ++i) objects += "{\"a\":";
    objects += "1" + std::string(513, '}');
    EXPECT_FALSE(Parses(objects));
}

TEST(JsonRead, VeryDeepInputFailsWithoutExhaustingTheStack) {
    EXPECT_FALSE(Parses(Nested(100000, '[', ']')));
    EXPECT_FALSE(Parses(std::string(100000, '[')));
    std::string objects;
    for (int i = 0; i < 100000; ++i) objects += "{\"k\":";
    EXPECT_FALSE(Parses(objects));
}

TEST(JsonRead, IntegersKeepAll64Bits) {
    const mValue max = Parse("9223372036854775807");
    EXPECT_EQ(max.get_int64(), std::numeric_limits<int64_t>::max());
    EXPECT_FALSE(max.is_uint64());
    EXPECT_EQ(Parse("-9223372036854775808").get_int64(), std::numeric_limits<int64_t>::min());
    const mValue umax = Parse("18446744073709551615");
    EXPECT_EQ(umax.type(), json_spirit::int_type);
    EXPECT_TRUE(umax.is_uint64());
    EXPECT_EQ(umax.get_uint64(), std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(Parse("9223372036854775808").get_uint64(), 9223372036854775808ull);
    // Exactly representable in a double only by luck; must not go through one.
    EXPECT_EQ(Parse("9007199254740993").get_int64(), 9007199254740993ll);
}

TEST(JsonRead, IntegersBeyond64BitsBecomeReals) {
    const mValue big = Parse("18446744073709551616");
    EXPECT_EQ(big.type(), json_spirit::real_type);
    EXPECT_DOUBLE_EQ(big.get_real(), 18446744073709551616.0);
    const mValue negative = Parse("-9223372036854775809");
    EXPECT_EQ(negative.type(), json_spirit::real_type);
    EXPECT_DOUBLE_EQ(negative.get_real(), -9223372036854775809.0);
}

TEST(JsonRead, RealsOutsideTheDoubleRangeFail) {
    EXPECT_FALSE(Parses("1e400"));
    EXPECT_FALSE(Parses("-1e400"));
    EXPECT_FALSE(Parses("[1,{\"a\":1E+309}]"));
    EXPECT_DOUBLE_EQ(Parse("1e308").get_real(), 1e308);
    EXPECT_EQ(Parse("1e-400").get_real(), 0.0);  // underflow is an ordinary, tiny number
}

// Found by fuzz/json_fuzzer: Boost.JSON's own number reading put some literals one unit in the last
// place off, so a real written by write_string did not read back equal.
TEST(JsonRead, RealsAreCorrectlyRoundedAndReadBackEqual) {
    const char* const literals[] = {"9.223372036854776e+77",           "92233720368547758079151e55", "0.1",
                                    "2.2250738585072014e-308",         "1.7976931348623157e308",     "5e-324",
                                    "123456789012345678901234567890.5"};
    for (const char* literal : literals) {
        const mValue value = Parse(literal);
        ASSERT_EQ(value.type(), json_spirit::real_type) << literal;
        EXPECT_EQ(value.get_real(), std::strtod(literal, nullptr)) << literal;
        mValue again;
        ASSERT_TRUE(json_spirit::read_string(json_spirit::write_string(value), again)) << literal;
        EXPECT_EQ(again, value) << literal;
    }
}

TEST(JsonRead, DuplicateKeysLastWins) {
    const mObject object = Parse(R"({"a":1,"b":2,"a":{"x":true}})").get_obj();
    ASSERT_EQ(object.size(), 2u);
    EXPECT_TRUE(object.at("a").get_obj().at("x").get_bool());
    EXPECT_EQ(object.at("b").get_int(), 2);
}

TEST(JsonRead, InvalidUtf8Fails) {
    const std::string invalid[] = {
        "\"\xff\"",              // never valid
        "\"\xc3\"",              // truncated two-byte sequence
        "\"\xc0\xaf\"",          // overlong
        "\"\xed\xa0\x80\"",      // UTF-16 surrogate
        "\"\xf4\x90\x80\x80\"",  // beyond U+10FFFF
        "{\"\xfe\":1}",          // in a key
    };
    for (const std::string& text : invalid) EXPECT_FALSE(Parses(text)) << text;
    EXPECT_EQ(Parse("\"gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x98\x80\"").get_str(),
              "gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x98\x80");
}

TEST(JsonRead, EscapesAreDecoded) {
    EXPECT_EQ(Parse(R"("\"\\\/\b\f\n\r\t\u0041\u00e9\ud83d\ude00\u0000z")").get_str(),
              std::string("\"\\/\b\f\n\r\tA\xc3\xa9\xf0\x9f\x98\x80") + '\0' + "z");
}

TEST(JsonRead, LongStringsAndKeysSpanningBufferBoundaries) {
    const std::string longText(100000, 'q');
    const mObject object = Parse("{\"" + longText + "\":\"" + longText + "\\n\"}").get_obj();
    ASSERT_EQ(object.size(), 1u);
    EXPECT_EQ(object.begin()->first, longText);
    EXPECT_EQ(object.begin()->second.get_str(), longText + "\n");
}

TEST(JsonWrite, EscapesEveryControlCharacterQuoteAndBackslash) {
    std::string text;
    for (int c = 0; c < 0x20; ++c) text += static_cast<char>(c);
    text += "\"\\/\x7f";
    const std::string written = json_spirit::write_string(mValue(text));
    EXPECT_EQ(written,
              "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
              "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c"
              "\\u001d\\u001e\\u001f\\\"\\\\/\x7f\"");
    EXPECT_EQ(Parse(written).get_str(), text);
}

TEST(JsonWrite, InvalidUtf8IsReplacedSoTheOutputStaysValid) {
    const std::string written =
        json_spirit::write_string(mValue(std::string("a\xff"
                                                     "b\xc3")));
    EXPECT_EQ(written, "\"a\\ufffdb\\ufffd\"");
    EXPECT_TRUE(Parses(written));
    EXPECT_EQ(json_spirit::write_string(mValue(std::string("\xe2\x82\xac"))), "\"\xe2\x82\xac\"");
}

TEST(JsonWrite, NumbersRoundTripWithTheirType) {
    struct Case {
        mValue value;
        const char* text;
    };
    const Case cases[] = {
        {mValue(0), "0"},
        {mValue(-17), "-17"},
        {mValue(std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
        {mValue(std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
        {mValue(1.0), "1.0"},
        {mValue(-0.5), "-0.5"},
        {mValue(0.1), "0.1"},
        {mValue(1e300), "1e+300"},
        {mValue(123456789.0), "123456789.0"},
    };
    for (const Case& c : cases) {
        const std::string written = json_spirit::write_string(c.value);
        EXPECT_EQ(written, c.text);
        const mValue back = Parse(written);
        EXPECT_EQ(back, c.value) << written;
        EXPECT_EQ(back.type(), c.value.type()) << written;
    }
}

TEST(JsonWrite, NonFiniteRealsAreNull) {
    const mArray values = {mValue(std::nan("")), mValue(std::numeric_limits<double>::infinity()),
                           mValue(-std::numeric_limits<double>::infinity())};
    EXPECT_EQ(json_spirit::write_string(mValue(values)), "[null,null,null]");
}

TEST(JsonWrite, DocumentRoundTrip) {
    const std::string text =
        R"({"a":[1,-2,3.25,"x",true,false,null,{},[]],"b":{"c":{"d":"\u00e9\n"}},"big":18446744073709551615})";
    const mValue value = Parse(text);
    const std::string written = json_spirit::write_string(value);
    EXPECT_EQ(Parse(written), value);
    // Compact, keys in order: the writer's text is stable for equal values.
    EXPECT_EQ(written,
              "{\"a\":[1,-2,3.25,\"x\",true,false,null,{},[]],\"b\":{\"c\":{\"d\":\"\xc3\xa9\\n\"}},"
              "\"big\":18446744073709551615}");
}

TEST(JsonValue, WrongTypeThrowsWithJsonSpiritNumbers) {
    struct Case {
        mValue value;
        std::function<void(const mValue&)> get;
        const char* message;
    };
    const Case cases[] = {
        {mValue(5), [](const mValue& v) { v.get_str(); }, "value type is 4 not 2"},
        {mValue("x"), [](const mValue& v) { v.get_int(); }, "value type is 2 not 4"},
        {mValue(), [](const mValue& v) { v.get_obj(); }, "value type is 6 not 0"},
        {mValue(mObject()), [](const mValue& v) { v.get_array(); }, "value type is 0 not 1"},
        {mValue(mArray()), [](const mValue& v) { v.get_bool(); }, "value type is 1 not 3"},
        {mValue(true), [](const mValue& v) { v.get_real(); }, "value type is 3 not 5"},
        {mValue(1.5), [](const mValue& v) { v.get_int64(); }, "value type is 5 not 4"},
        {mValue(1.5), [](const mValue& v) { v.get_uint64(); }, "value type is 5 not 4"},
    };
    for (const Case& c : cases) {
        try {
            c.get(c.value);
            ADD_FAILURE() << "no exception for " << c.message;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
    }
}

TEST(JsonValue, IntegerConversions) {
    EXPECT_DOUBLE_EQ(mValue(3).get_real(), 3.0);
    EXPECT_DOUBLE_EQ(mValue(std::numeric_limits<uint64_t>::max()).get_real(), 18446744073709551615.0);
    EXPECT_EQ(mValue(5000000000ll).get_int(), static_cast<int>(5000000000ll));
    EXPECT_EQ(mValue(7u), mValue(7));
    EXPECT_NE(mValue(7), mValue(7.0));
    EXPECT_NE(mValue("7"), mValue(7));
}

}  // namespace
