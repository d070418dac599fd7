#include "platform/MlJson.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string_view>

using json_spirit::mArray;
using json_spirit::mObject;
using json_spirit::mValue;

namespace {

const mValue* findMember(const mObject& object, const std::string& key) {
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &it->second;
}

std::string_view trimmed(const std::string& text) {
    std::string_view view(text);
    while (!view.empty() && std::isspace(static_cast<unsigned char>(view.front()))) view.remove_prefix(1);
    while (!view.empty() && std::isspace(static_cast<unsigned char>(view.back()))) view.remove_suffix(1);
    return view;
}

// A real truncated toward zero and clamped to the int64 range (a plain cast of an out-of-range double
// is undefined behaviour).
int64_t truncatedReal(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 9223372036854775807.0) return std::numeric_limits<int64_t>::max();
    if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

// A decimal integer ("42", "-7", " 12 ") or a decimal real ("3.9" gives 3); anything else gives 0.
int64_t numberFromText(const std::string& text) {
    const std::string_view view = trimmed(text);
    if (view.empty()) return 0;
    std::string_view digits = view;
    if (digits.front() == '+') digits.remove_prefix(1);
    int64_t integer = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), integer);
    if (error == std::errc() && end == digits.data() + digits.size()) return integer;
    const std::string copy(view);
    char* realEnd = nullptr;
    const double real = std::strtod(copy.c_str(), &realEnd);
    if (realEnd == copy.c_str() + copy.size() && std::isfinite(real)) return truncatedReal(real);
    return 0;
}

std::string realAsText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::string(buffer, result.ptr);
}

int64_t lenientInt64(const mValue* value) {
    if (value == nullptr) return 0;
    switch (value->type()) {
        case json_spirit::int_type:
            return value->get_int64();
        case json_spirit::real_type:
            return truncatedReal(value->get_real());
        case json_spirit::str_type:
            return numberFromText(value->get_str());
        default:
            return 0;
    }
}

bool equalsNoCase(const std::string& text, const char* word) {
    std::size_t i = 0;
    for (; word[i] != '\0'; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    }
    return i == text.size();
}

}  // namespace

bool MlJson::Unserialize(const std::string& text, mObject& object) {
    mValue value;
    if (!json_spirit::read_string(text, value) || value.type() != json_spirit::obj_type) return false;
    object = std::move(value.get_obj());
    return true;
}

std::string MlJson::Serialize(const mObject& object) {
    // The writer takes an mValue; wrapping copies the object once, which is cheap next to the I/O that
    // follows every serialization here.
    return json_spirit::write_string(mValue(object));
}

std::string MlJson::GetStringValue(const mObject& object, const std::string& key) {
    const mValue* value = findMember(object, key);
    if (value == nullptr) return std::string();
    switch (value->type()) {
        case json_spirit::str_type:
            return value->get_str();
        case json_spirit::int_type:
            return value->is_uint64() ? std::to_string(value->get_uint64())
                                      : std::to_string(value->get_int64());
        case json_spirit::real_type:
            return realAsText(value->get_real());
        case json_spirit::bool_type:
            return value->get_bool() ? "true" : "false";
        default:
            return std::string();
    }
}

int MlJson::GetIntValue(const mObject& object, const std::string& key) {
    return static_cast<int>(lenientInt64(findMember(object, key)));
}

int64_t MlJson::GetInt64Value(const mObject& object, const std::string& key) {
    return lenientInt64(findMember(object, key));
}

bool MlJson::GetBoolValue(const mObject& object, const std::string& key) {
    const mValue* value = findMember(object, key);
    if (value == nullptr) return false;
    switch (value->type()) {
        case json_spirit::bool_type:
            return value->get_bool();
        case json_spirit::int_type:
            return value->get_int64() != 0;
        case json_spirit::real_type:
            return value->get_real() != 0.0;
        case json_spirit::str_type:
            return equalsNoCase(value->get_str(), "true");
        default:
            return false;
    }
}

bool MlJson::FindArrayValue(const mObject& object, const std::string& key, mArray& values) {
    const mValue* value = findMember(object, key);
    if (value == nullptr || value->type() != json_spirit::array_type) return false;
    values = value->get_array();
    return true;
}

bool MlJson::FindObjectValue(const mObject& object, const std::string& key, mObject& inner) {
    const mValue* value = findMember(object, key);
    if (value == nullptr || value->type() != json_spirit::obj_type) return false;
    inner = value->get_obj();
    return true;
}
