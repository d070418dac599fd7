#include "platform/json_spirit.h"

#include <boost/json/basic_parser_impl.hpp>

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace json_spirit {

// ---------------------------------------------------------------------------------------------------------
// mValue

mValue::mValue() : value_(std::monostate{}) {}
mValue::mValue(const char* value) : value_(std::string(value ? value : "")) {}
mValue::mValue(const std::string& value) : value_(value) {}
mValue::mValue(std::string&& value) : value_(std::move(value)) {}
mValue::mValue(const mObject& value) : value_(value) {}
mValue::mValue(mObject&& value) : value_(std::move(value)) {}
mValue::mValue(const mArray& value) : value_(value) {}
mValue::mValue(mArray&& value) : value_(std::move(value)) {}
mValue::mValue(bool value) : value_(value) {}
mValue::mValue(int value) : value_(Int{value, false}) {}
mValue::mValue(unsigned int value) : value_(Int{static_cast<int64_t>(value), false}) {}
mValue::mValue(long value) : value_(Int{value, false}) {}
mValue::mValue(long long value) : value_(Int{value, false}) {}
mValue::mValue(unsigned long value) : mValue(static_cast<unsigned long long>(value)) {}
// Unsigned values that fit int64 are stored signed so that equal numbers compare equal whatever their
// origin; only values beyond INT64_MAX keep the unsigned mark.
mValue::mValue(unsigned long long value)
    : value_(Int{static_cast<int64_t>(value),
                 value > static_cast<unsigned long long>(std::numeric_limits<int64_t>::max())}) {}
mValue::mValue(double value) : value_(value) {}

Value_type mValue::type() const {
    switch (value_.index()) {
        case 1:
            return str_type;
        case 2:
            return obj_type;
        case 3:
            return array_type;
        case 4:
            return bool_type;
        case 5:
            return int_type;
        case 6:
            return real_type;
        default:
            return null_type;
    }
}

bool mValue::is_uint64() const {
    const Int* number = std::get_if<Int>(&value_);
    return number != nullptr && number->isUnsigned;
}

void mValue::checkType(Value_type expected) const {
    const Value_type actual = type();
    if (actual != expected) {
        throw std::runtime_error("value type is " + std::to_string(static_cast<int>(actual)) + " not " +
                                 std::to_string(static_cast<int>(expected)));
    }
}

const std::string& mValue::get_str() const {
    checkType(str_type);
    return std::get<std::string>(value_);
}

const mObject& mValue::get_obj() const {
    checkType(obj_type);
    return std::get<mObject>(value_);
}

mObject& mValue::get_obj() {
    checkType(obj_type);
    return std::get<mObject>(value_);
}

const mArray& mValue::get_array() const {
    checkType(array_type);
    return std::get<mArray>(value_);
}

mArray& mValue::get_array() {
    checkType(array_type);
    return std::get<mArray>(value_);
}

bool mValue::get_bool() const {
    checkType(bool_type);
    return std::get<bool>(value_);
}

int mValue::get_int() const {
    return static_cast<int>(get_int64());
}

int64_t mValue::get_int64() const {
    checkType(int_type);
    return std::get<Int>(value_).value;
}

uint64_t mValue::get_uint64() const {
    checkType(int_type);
    return static_cast<uint64_t>(std::get<Int>(value_).value);
}

double mValue::get_real() const {
    if (const Int* number = std::get_if<Int>(&value_)) {
        return number->isUnsigned ? static_cast<double>(static_cast<uint64_t>(number->value))
                                  : static_cast<double>(number->value);
    }
    checkType(real_type);
    return std::get<double>(value_);
}

bool mValue::operator==(const mValue& other) const {
    if (value_.index() != other.value_.index()) return false;
    switch (type()) {
        case null_type:
            return true;
        case str_type:
            return std::get<std::string>(value_) == std::get<std::string>(other.value_);
        case obj_type:
            return std::get<mObject>(value_) == std::get<mObject>(other.value_);
        case array_type:
            return std::get<mArray>(value_) == std::get<mArray>(other.value_);
        case bool_type:
            return std::get<bool>(value_) == std::get<bool>(other.value_);
        case int_type: {
            const Int& a = std::get<Int>(value_);
            const Int& b = std::get<Int>(other.value_);
            return a.value == b.value && a.isUnsigned == b.isUnsigned;
        }
        case real_type:
            return std::get<double>(value_) == std::get<double>(other.value_);
    }
    return false;
}

// ---------------------------------------------------------------------------------------------------------
// Reading

namespace {

constexpr std::size_t kMaxDepth = 512;

// Builds mValues in place while Boost.JSON's parser walks the text. Each open array or object lives at its
// final place in its parent; the parent is not touched until the child is closed, so the pointers on the
// stack stay valid (vector growth only happens in the innermost open container).
class TreeBuilder {
  public:
    static constexpr std::size_t max_object_size = std::size_t(-1);
    static constexpr std::size_t max_array_size = std::size_t(-1);
    static constexpr std::size_t max_key_size = std::size_t(-1);
    static constexpr std::size_t max_string_size = std::size_t(-1);

    explicit TreeBuilder(mValue& root) : root_(root) { stack_.reserve(32); }

    bool on_document_begin(boost::json::error_code&) { return true; }
    bool on_document_end(boost::json::error_code&) { return true; }

    bool on_array_begin(boost::json::error_code&) {
        mValue& slot = nextSlot();
        slot = mValue(mArray());
        stack_.push_back(Frame{&slot, true, nullptr});
        return true;
    }
    bool on_array_end(std::size_t, boost::json::error_code&) {
        stack_.pop_back();
        return true;
    }
    bool on_object_begin(boost::json::error_code&) {
        mValue& slot = nextSlot();
        slot = mValue(mObject());
        stack_.push_back(Frame{&slot, false, nullptr});
        return true;
    }
    bool on_object_end(std::size_t, boost::json::error_code&) {
        stack_.pop_back();
        return true;
    }

    bool on_string_part(boost::json::string_view part, std::size_t, boost::json::error_code&) {
        buffer_.append(part.data(), part.size());
        return true;
    }
    bool on_string(boost::json::string_view part, std::size_t, boost::json::error_code&) {
        if (buffer_.empty()) {
            nextSlot() = mValue(std::string(part.data(), part.size()));
        } else {
            buffer_.append(part.data(), part.size());
            nextSlot() = mValue(std::move(buffer_));
            buffer_.clear();
        }
        return true;
    }
    bool on_key_part(boost::json::string_view part, std::size_t, boost::json::error_code&) {
        buffer_.append(part.data(), part.size());
        return true;
    }
    bool on_key(boost::json::string_view part, std::size_t, boost::json::error_code&) {
        mObject& object = stack_.back().value->get_obj();
        mValue* slot;
        if (buffer_.empty()) {
            slot = &object[std::string(part.data(), part.size())];
        } else {
            buffer_.append(part.data(), part.size());
            slot = &object[buffer_];
            buffer_.clear();
        }
        // A repeated key replaces the earlier value: the last one wins.
        *slot = mValue();
        stack_.back().pendingSlot = slot;
        return true;
    }

    bool on_number_part(boost::json::string_view part, boost::json::error_code&) {
        number_.append(part.data(), part.size());
        return true;
    }
    bool on_int64(int64_t value, boost::json::string_view, boost::json::error_code&) {
        number_.clear();
        nextSlot() = mValue(static_cast<long long>(value));
        return true;
    }
    bool on_uint64(uint64_t value, boost::json::string_view, boost::json::error_code&) {
        number_.clear();
        nextSlot() = mValue(static_cast<unsigned long long>(value));
        return true;
    }
    bool on_double(double value, boost::json::string_view part, boost::json::error_code& ec) {
        number_.append(part.data(), part.size());
        value = correctlyRounded(number_, value);
        number_.clear();
        // A literal beyond the range of a double (1e400) is refused rather than turned into infinity.
        if (!std::isfinite(value)) {
            ec = boost::json::error::exponent_overflow;
            return false;
        }
        nextSlot() = mValue(value);
        return true;
    }
    bool on_bool(bool value, boost::json::error_code&) {
        nextSlot() = mValue(value);
        return true;
    }
    bool on_null(boost::json::error_code&) {
        nextSlot() = mValue();
        return true;
    }
    bool on_comment_part(boost::json::string_view, boost::json::error_code&) { return true; }
    bool on_comment(boost::json::string_view, boost::json::error_code&) { return true; }

  private:
    // Boost.JSON 1.81 may round a long literal to a neighbouring double (9.223372036854776e+77 is read
    // one unit in the last place too high), so a real written by write_string would not read back
    // equal. std::from_chars rounds correctly; Boost's value stays where from_chars refuses the text
    // (a literal below the smallest double reads as zero, as Boost reads it).
    static double correctlyRounded(const std::string& text, double fallback) {
        double value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size() ? value : fallback;
    }

    struct Frame {
        mValue* value;
        bool isArray;
        mValue* pendingSlot;
    };

    mValue& nextSlot() {
        if (stack_.empty()) return root_;
        Frame& top = stack_.back();
        if (top.isArray) return top.value->get_array().emplace_back();
        return *top.pendingSlot;
    }

    mValue& root_;
    std::vector<Frame> stack_;
    std::string buffer_;
    std::string number_;  // the text of the number being read, when it arrives in parts
};

}  // namespace

bool read_string(const std::string& text, mValue& value) {
    boost::json::parse_options options;
    options.max_depth = kMaxDepth;
    mValue result;
    boost::json::basic_parser<TreeBuilder> parser(options, result);
    boost::json::error_code ec;
    const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
    if (ec || !parser.done() || used != text.size()) return false;
    value = std::move(result);
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// Writing

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void writeEscapedControl(unsigned char c, std::string& out) {
    switch (c) {
        case '\b':
            out += "\\b";
            return;
        case '\f':
            out += "\\f";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            out += "\\u00";
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 0xF];
    }
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when the bytes there are not one.
std::size_t utf8SequenceLength(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;  // no UTF-16 surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

// Quotes and escapes `text`. Bytes that are not valid UTF-8 become U+FFFD so that the output is always
// valid JSON that our own reader (and the VRM) accepts.
void writeString(const std::string& text, std::string& out) {
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            writeEscapedControl(c, out);
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (std::size_t length = utf8SequenceLength(text, i)) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    out += '"';
}

template <typename Number>
void writeNumber(Number number, std::string& out) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), number);
    out.append(buffer, result.ptr);
}

void writeReal(double number, std::string& out) {
    if (!std::isfinite(number)) {
        out += "null";
        return;
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), number);
    const std::string_view digits(buffer, static_cast<std::size_t>(result.ptr - buffer));
    out += digits;
    // Keep a real a real when it is read back: "1" would come back as an integer.
    if (digits.find_first_of(".e") == std::string_view::npos) out += ".0";
}

void writeValue(const mValue& value, std::string& out);

void writeObject(const mObject& object, std::string& out) {
    out += '{';
    bool first = true;
    for (const auto& [key, member] : object) {
        if (!first) out += ',';
        first = false;
        writeString(key, out);
        out += ':';
        writeValue(member, out);
    }
    out += '}';
}

void writeArray(const mArray& array, std::string& out) {
    out += '[';
    bool first = true;
    for (const mValue& element : array) {
        if (!first) out += ',';
        first = false;
        writeValue(element, out);
    }
    out += ']';
}

void writeValue(const mValue& value, std::string& out) {
    switch (value.type()) {
        case obj_type:
            writeObject(value.get_obj(), out);
            break;
        case array_type:
            writeArray(value.get_array(), out);
            break;
        case str_type:
            writeString(value.get_str(), out);
            break;
        case bool_type:
            out += value.get_bool() ? "true" : "false";
            break;
        case int_type:
            if (value.is_uint64()) {
                writeNumber(value.get_uint64(), out);
            } else {
                writeNumber(value.get_int64(), out);
            }
            break;
        case real_type:
            writeReal(value.get_real(), out);
            break;
        case null_type:
            out += "null";
            break;
    }
}

}  // namespace

std::string write_string(const mValue& value) {
    std::string out;
    writeValue(value, out);
    return out;
}

}  // namespace json_spirit
