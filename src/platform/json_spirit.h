#ifndef FCSDK_PLATFORM_JSON_SPIRIT_H
#define FCSDK_PLATFORM_JSON_SPIRIT_H

// Map-based JSON values with the interface of json_spirit's mValue/mObject/mArray.
// Parsing runs on Boost.JSON's basic_parser and builds these values directly; writing is our own.

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace json_spirit {

/// JSON types, numbered as json_spirit numbers them (used in type-error messages).
enum Value_type {
    obj_type = 0,
    array_type = 1,
    str_type = 2,
    bool_type = 3,
    int_type = 4,
    real_type = 5,
    null_type = 6
};

class mValue;
using mObject = std::map<std::string, mValue>;
using mArray = std::vector<mValue>;

/// One JSON value. A typed getter on the wrong type throws std::runtime_error
/// "value type is N not M" with the json_spirit type numbers.
class mValue {
  public:
    mValue();  // null
    mValue(const char* value);
    mValue(const std::string& value);
    mValue(std::string&& value);
    mValue(const mObject& value);
    mValue(mObject&& value);
    mValue(const mArray& value);
    mValue(mArray&& value);
    mValue(bool value);
    mValue(int value);
    mValue(unsigned int value);
    mValue(long value);
    mValue(long long value);
    mValue(unsigned long value);
    mValue(unsigned long long value);
    mValue(double value);

    Value_type type() const;
    bool is_null() const { return type() == null_type; }
    /// True for an integer that was read (or built) as unsigned 64-bit beyond int64's range.
    bool is_uint64() const;

    const std::string& get_str() const;
    const mObject& get_obj() const;
    mObject& get_obj();
    const mArray& get_array() const;
    mArray& get_array();
    bool get_bool() const;
    int get_int() const;  // int64 narrowed to int, as json_spirit does
    int64_t get_int64() const;
    uint64_t get_uint64() const;
    double get_real() const;  // an integer is converted

    bool operator==(const mValue& other) const;
    bool operator!=(const mValue& other) const { return !(*this == other); }

  private:
    struct Int {
        int64_t value;
        bool isUnsigned;
    };
    std::variant<std::monostate, std::string, mObject, mArray, bool, Int, double> value_;
    void checkType(Value_type expected) const;
};

/// Parses `text` into `value`. Returns false (value untouched or null) for text that is not one valid
/// JSON value, for nesting deeper than 512 levels, invalid UTF-8, or numbers that overflow a double.
bool read_string(const std::string& text, mValue& value);

/// Writes `value` as compact JSON text. Non-finite reals are written as null.
std::string write_string(const mValue& value);

}  // namespace json_spirit

#endif  // FCSDK_PLATFORM_JSON_SPIRIT_H
