// libFuzzer target for the JSON layer: json_spirit::read_string / write_string and MlJson.
//
// The input is the JSON text itself. For every input:
// - read_string answers true or false and never lets an exception or a crash escape;
// - MlJson::Unserialize accepts exactly the texts that read_string reads as an object;
// for a text that parses:
// - writing and reading again gives an equal value (reals are always finite after a parse, so the
//   "non-finite is written as null" rule never changes a value), and writing that value again gives
//   the same text (the writer is a fixed point);
// - every value of the tree answers its own typed getter and throws std::runtime_error, and nothing
//   else, from every other one (get_real also accepts an integer);
// - the lenient MlJson getters run on every key of every object and agree with the member's type.
// Any other exception escapes and is reported by libFuzzer as a crash.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "platform/MlJson.h"
#include "platform/json_spirit.h"

namespace {

using json_spirit::mArray;
using json_spirit::mObject;
using json_spirit::mValue;
using json_spirit::Value_type;

// Reports the failed check's line (the replay build has no libFuzzer stack trace), then stops.
[[noreturn]] void Fail(int line) {
    std::fprintf(stderr, "check failed at %s:%d\n", __FILE__, line);
    __builtin_trap();
}

void Check(bool condition, int line = __builtin_LINE()) {
    if (!condition) Fail(line);
}

// Runs `getter` and checks that it throws std::runtime_error exactly when `shouldThrow`.
template <typename Getter>
void ExpectThrowIf(bool shouldThrow, Getter getter) {
    bool threw = false;
    try {
        getter();
    } catch (const std::runtime_error&) {
        threw = true;
    }
    Check(threw == shouldThrow);
}

void CheckTypedGetters(const mValue& value) {
    const Value_type type = value.type();
    ExpectThrowIf(type != json_spirit::obj_type, [&] { (void)value.get_obj(); });
    ExpectThrowIf(type != json_spirit::array_type, [&] { (void)value.get_array(); });
    ExpectThrowIf(type != json_spirit::str_type, [&] { (void)value.get_str(); });
    ExpectThrowIf(type != json_spirit::bool_type, [&] { (void)value.get_bool(); });
    ExpectThrowIf(type != json_spirit::int_type, [&] { (void)value.get_int(); });
    ExpectThrowIf(type != json_spirit::int_type, [&] { (void)value.get_int64(); });
    ExpectThrowIf(type != json_spirit::int_type, [&] { (void)value.get_uint64(); });
    ExpectThrowIf(type != json_spirit::int_type && type != json_spirit::real_type,
                  [&] { (void)value.get_real(); });
    Check(value.is_null() == (type == json_spirit::null_type));
    if (value.is_uint64()) Check(type == json_spirit::int_type && value.get_int64() < 0);
}

void CheckLenientGetters(const mObject& object, const std::string& key) {
    const mValue& member = object.at(key);
    const Value_type type = member.type();
    const std::string text = MlJson::GetStringValue(object, key);
    const int64_t number = MlJson::GetInt64Value(object, key);
    const int narrow = MlJson::GetIntValue(object, key);
    const bool flag = MlJson::GetBoolValue(object, key);
    Check(narrow == static_cast<int>(number));

    mArray array;
    Check(MlJson::FindArrayValue(object, key, array) == (type == json_spirit::array_type));
    mObject inner;
    Check(MlJson::FindObjectValue(object, key, inner) == (type == json_spirit::obj_type));
    switch (type) {
        case json_spirit::str_type:
            Check(text == member.get_str());
            break;
        case json_spirit::bool_type:
            Check(text == (member.get_bool() ? "true" : "false"));
            Check(flag == member.get_bool());
            Check(number == 0);
            break;
        case json_spirit::int_type:
            Check(number == member.get_int64());
            Check(text == (member.is_uint64() ? std::to_string(member.get_uint64())
                                              : std::to_string(member.get_int64())));
            break;
        case json_spirit::array_type:
            Check(array == member.get_array());
            [[fallthrough]];
        case json_spirit::obj_type:
            if (type == json_spirit::obj_type) Check(inner == member.get_obj());
            [[fallthrough]];
        case json_spirit::null_type:
            Check(text.empty() && number == 0 && !flag);
            break;
        default:
            break;
    }
    // A missing key gives the empty results.
    const std::string missing = key + "\x01missing";
    if (object.count(missing) == 0) {
        Check(MlJson::GetStringValue(object, missing).empty());
        Check(MlJson::GetInt64Value(object, missing) == 0);
        Check(!MlJson::GetBoolValue(object, missing));
    }
}

// Visits every value of the tree (bounded, so that a wide input cannot make one run slow).
void Visit(const mValue& value, size_t& budget) {
    if (budget == 0) return;
    --budget;
    CheckTypedGetters(value);
    if (value.type() == json_spirit::obj_type) {
        const mObject& object = value.get_obj();
        for (const auto& [key, member] : object) {
            CheckLenientGetters(object, key);
            Visit(member, budget);
        }
    } else if (value.type() == json_spirit::array_type) {
        for (const mValue& element : value.get_array()) Visit(element, budget);
    }
}

void CheckRoundTrip(const mValue& value) {
    const std::string written = json_spirit::write_string(value);
    mValue again;
    Check(json_spirit::read_string(written, again));
    Check(again == value);
    Check(json_spirit::write_string(again) == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    mValue value;
    const bool parsed = json_spirit::read_string(text, value);

    mObject object;
    const bool isObject = MlJson::Unserialize(text, object);
    Check(isObject == (parsed && value.type() == json_spirit::obj_type));
    if (!parsed) return 0;

    CheckRoundTrip(value);
    if (isObject) {
        Check(object == value.get_obj());
        mObject reread;
        Check(MlJson::Unserialize(MlJson::Serialize(object), reread) && reread == object);
    }
    size_t budget = 4096;
    Visit(value, budget);
    return 0;
}
