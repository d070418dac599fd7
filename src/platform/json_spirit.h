#ifndef FCSDK_PLATFORM_JSON_SPIRIT_H
#define FCSDK_PLATFORM_JSON_SPIRIT_H

// JSON values with the interface of json_spirit's mValue/mObject/mArray.
// Parsing runs on Boost.JSON's basic_parser and builds these values directly; writing is our own.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
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
using mArray = std::vector<mValue>;

/// A JSON object: the members sorted by key, one per key, with the interface of the std::map that
/// json_spirit uses. The members are kept in one sorted array (one allocation per object, lookups by
/// binary search), which a parse fills in one step.
class mObject {
  public:
    using key_type = std::string;
    using mapped_type = mValue;
    using value_type = std::pair<std::string, mValue>;
    using size_type = std::size_t;
    using iterator = std::vector<value_type>::iterator;
    using const_iterator = std::vector<value_type>::const_iterator;

    mObject() = default;
    /// The members in any order; of a repeated key the first one counts (as for std::map).
    mObject(std::initializer_list<value_type> members);

    iterator begin() noexcept;
    iterator end() noexcept;
    const_iterator begin() const noexcept;
    const_iterator end() const noexcept;
    size_type size() const noexcept;
    bool empty() const noexcept;
    void clear() noexcept;

    iterator find(std::string_view key);
    const_iterator find(std::string_view key) const;
    size_type count(std::string_view key) const;
    /// The value of `key`, inserted as null when missing.
    mValue& operator[](std::string_view key);
    /// The value of `key`; std::out_of_range when missing.
    mValue& at(std::string_view key);
    const mValue& at(std::string_view key) const;
    /// Inserts the member unless its key is present; the iterator names the member of that key.
    std::pair<iterator, bool> insert(value_type member);
    template <typename Key, typename Value>
    std::pair<iterator, bool> emplace(Key&& key, Value&& value);
    size_type erase(std::string_view key);
    iterator erase(const_iterator position);

    bool operator==(const mObject& other) const;
    bool operator!=(const mObject& other) const { return !(*this == other); }

  private:
    friend class ObjectBuilder;
    iterator lowerBound(std::string_view key);
    std::vector<value_type> members_;
};

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

    const std::string& get_str() const { return checked<std::string>(str_type); }
    const mObject& get_obj() const { return checked<mObject>(obj_type); }
    mObject& get_obj() { return checked<mObject>(obj_type); }
    const mArray& get_array() const { return checked<mArray>(array_type); }
    mArray& get_array() { return checked<mArray>(array_type); }
    bool get_bool() const { return checked<bool>(bool_type); }
    int get_int() const { return static_cast<int>(get_int64()); }  // narrowed to int, as json_spirit does
    int64_t get_int64() const { return checked<Int>(int_type).value; }
    uint64_t get_uint64() const { return static_cast<uint64_t>(checked<Int>(int_type).value); }
    double get_real() const;  // an integer is converted

    bool operator==(const mValue& other) const;
    bool operator!=(const mValue& other) const { return !(*this == other); }

  private:
    friend class ObjectBuilder;
    struct Int {
        int64_t value;
        bool isUnsigned;
    };
    std::variant<std::monostate, std::string, mObject, mArray, bool, Int, double> value_;
    void checkType(Value_type expected) const;
    // The held alternative, once the value is known to be of the `expected` type (else throws).
    template <typename T>
    const T& checked(Value_type expected) const {
        checkType(expected);
        return std::get<T>(value_);
    }
    template <typename T>
    T& checked(Value_type expected) {
        return const_cast<T&>(std::as_const(*this).template checked<T>(expected));
    }
};

inline mObject::iterator mObject::begin() noexcept {
    return members_.begin();
}
inline mObject::iterator mObject::end() noexcept {
    return members_.end();
}
inline mObject::const_iterator mObject::begin() const noexcept {
    return members_.begin();
}
inline mObject::const_iterator mObject::end() const noexcept {
    return members_.end();
}
inline mObject::size_type mObject::size() const noexcept {
    return members_.size();
}
inline bool mObject::empty() const noexcept {
    return members_.empty();
}
inline void mObject::clear() noexcept {
    members_.clear();
}
inline mObject::size_type mObject::count(std::string_view key) const {
    return find(key) != end() ? 1 : 0;
}
inline mObject::iterator mObject::erase(const_iterator position) {
    return members_.erase(position);
}
inline bool mObject::operator==(const mObject& other) const {
    return members_ == other.members_;
}

template <typename Key, typename Value>
std::pair<mObject::iterator, bool> mObject::emplace(Key&& key, Value&& value) {
    return insert(value_type(std::forward<Key>(key), std::forward<Value>(value)));
}

/// Parses `text` into `value`. Returns false (value untouched or null) for text that is not one valid
/// JSON value, for nesting deeper than 512 levels, invalid UTF-8, or numbers that overflow a double.
bool read_string(const std::string& text, mValue& value);

/// Writes `value` as compact JSON text. Non-finite reals are written as null.
std::string write_string(const mValue& value);

}  // namespace json_spirit

#endif  // FCSDK_PLATFORM_JSON_SPIRIT_H
