#include "platform/json_spirit.h"

#include <boost/json/basic_parser_impl.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <type_traits>

namespace json_spirit {

// ---------------------------------------------------------------------------------------------------------
// mObject

mObject::mObject(std::initializer_list<value_type> members) {
    members_.reserve(members.size());
    for (const value_type& member : members) insert(member);
}

mObject::iterator mObject::lowerBound(std::string_view key) {
    return std::lower_bound(members_.begin(), members_.end(), key,
                            [](const value_type& member, std::string_view wanted) {
                                return std::string_view(member.first) < wanted;
                            });
}

mObject::iterator mObject::find(std::string_view key) {
    const iterator it = lowerBound(key);
    return it != members_.end() && it->first == key ? it : members_.end();
}

mObject::const_iterator mObject::find(std::string_view key) const {
    return const_cast<mObject*>(this)->find(key);
}

mValue& mObject::operator[](std::string_view key) {
    iterator it = lowerBound(key);
    if (it == members_.end() || it->first != key) it = members_.emplace(it, std::string(key), mValue());
    return it->second;
}

mValue& mObject::at(std::string_view key) {
    const iterator it = find(key);
    if (it == members_.end()) throw std::out_of_range("no member " + std::string(key));
    return it->second;
}

const mValue& mObject::at(std::string_view key) const {
    return const_cast<mObject*>(this)->at(key);
}

std::pair<mObject::iterator, bool> mObject::insert(value_type member) {
    iterator it = lowerBound(member.first);
    if (it != members_.end() && it->first == member.first) return {it, false};
    return {members_.insert(it, std::move(member)), true};
}

mObject::size_type mObject::erase(std::string_view key) {
    const iterator it = find(key);
    if (it == members_.end()) return 0;
    members_.erase(it);
    return 1;
}

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

}  // namespace

// Sets values and objects in place for the parser (a friend of mValue and mObject).
class ObjectBuilder {
  public:
    template <typename Alternative, typename... Args>
    static void Set(mValue& value, Args&&... args) {
        value.value_.emplace<Alternative>(std::forward<Args>(args)...);
    }
    static void SetInt(mValue& value, int64_t number, bool isUnsigned) {
        value.value_.emplace<mValue::Int>(mValue::Int{number, isUnsigned});
    }
    static void Adopt(mValue& value, std::vector<mObject::value_type>&& members) {
        mObject& object = value.value_.emplace<mObject>();
        object.members_ = std::move(members);
    }
};

namespace {

// Builds mValues while Boost.JSON's parser walks the text, on one stack of members as Boost.JSON's own
// value stack does: a scalar is set where it belongs at once; the members or elements of an open object
// or array wait on the stack until it closes and then move, each once, into a container of their exact
// number (one allocation per object or array). An object's members are sorted by key then.
class TreeBuilder {
  public:
    static constexpr std::size_t max_object_size = std::size_t(-1);
    static constexpr std::size_t max_array_size = std::size_t(-1);
    static constexpr std::size_t max_key_size = std::size_t(-1);
    static constexpr std::size_t max_string_size = std::size_t(-1);

    TreeBuilder() {
        stack_.reserve(64);
        objectOpen_.reserve(32);
    }

    /// Starts a container of type T (mArray or mObject) in the next slot.
    template <typename T>
    bool Open() {
        ObjectBuilder::Set<T>(nextSlot());
        objectOpen_.push_back(std::is_same_v<T, mObject>);
        return true;
    }

    /// The parsed value, once the parser is done.
    mValue TakeResult() { return std::move(stack_.front().second); }

    bool on_document_begin(boost::json::error_code&) { return true; }
    bool on_document_end(boost::json::error_code&) { return true; }

    bool on_array_begin(boost::json::error_code&) { return Open<mArray>(); }
    bool on_array_end(std::size_t count, boost::json::error_code&) {
        objectOpen_.pop_back();
        const std::size_t base = stack_.size() - count;
        mArray& array = stack_[base - 1].second.get_array();
        array.reserve(count);
        for (std::size_t i = base; i < stack_.size(); ++i) array.push_back(std::move(stack_[i].second));
        stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(base), stack_.end());
        return true;
    }
    bool on_object_begin(boost::json::error_code&) { return Open<mObject>(); }
    bool on_object_end(std::size_t count, boost::json::error_code&) {
        objectOpen_.pop_back();
        const std::size_t base = stack_.size() - count;
        ObjectBuilder::Adopt(stack_[base - 1].second, SortedMembers(base));
        stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(base), stack_.end());
        return true;
    }

    // A string or key that spans the parser's input buffers comes in parts; they gather in buffer_.
    bool on_string_part(boost::json::string_view part, std::size_t, boost::json::error_code&) {
        buffer_.append(part.data(), part.size());
        return true;
    }
    bool on_string(boost::json::string_view part, std::size_t, boost::json::error_code&) {
        withWholeText(part, [this](auto&&... text) {
            ObjectBuilder::Set<std::string>(nextSlot(), std::forward<decltype(text)>(text)...);
        });
        return true;
    }
    bool on_key_part(boost::json::string_view part, std::size_t size, boost::json::error_code& error) {
        return on_string_part(part, size, error);
    }
    bool on_key(boost::json::string_view part, std::size_t, boost::json::error_code&) {
        // The member waits with a null value for the value that follows.
        withWholeText(part, [this](auto&&... text) {
            stack_.emplace_back(std::piecewise_construct,
                                std::forward_as_tuple(std::forward<decltype(text)>(text)...),
                                std::forward_as_tuple());
        });
        return true;
    }

    bool on_number_part(boost::json::string_view part, boost::json::error_code&) {
        number_.append(part.data(), part.size());
        return true;
    }
    bool on_int64(int64_t value, boost::json::string_view, boost::json::error_code&) {
        number_.clear();
        ObjectBuilder::SetInt(nextSlot(), value, false);
        return true;
    }
    bool on_uint64(uint64_t value, boost::json::string_view, boost::json::error_code&) {
        number_.clear();
        // As mValue(unsigned long long): only values beyond int64's range keep the unsigned mark.
        ObjectBuilder::SetInt(nextSlot(), static_cast<int64_t>(value),
                              value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()));
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
        ObjectBuilder::Set<double>(nextSlot(), value);
        return true;
    }
    bool on_bool(bool value, boost::json::error_code&) {
        ObjectBuilder::Set<bool>(nextSlot(), value);
        return true;
    }
    bool on_null(boost::json::error_code&) {
        nextSlot();
        return true;
    }
    bool on_comment_part(boost::json::string_view, boost::json::error_code&) { return true; }
    bool on_comment(boost::json::string_view, boost::json::error_code&) { return true; }

  private:
    // Hands `use` the whole text of a string or key whose last part is `part`: `part` itself (as data and
    // size) when it came in one piece, else the gathered parts, moved out of buffer_ (left empty).
    template <typename Use>
    void withWholeText(boost::json::string_view part, Use&& use) {
        if (buffer_.empty()) {
            use(part.data(), part.size());
        } else {
            buffer_.append(part.data(), part.size());
            use(std::move(buffer_));
            buffer_.clear();
        }
    }

    // Boost.JSON 1.81 may round a long literal to a neighbouring double (9.223372036854776e+77 is read
    // one unit in the last place too high), so a real written by write_string would not read back
    // equal. std::from_chars rounds correctly; Boost's value stays where from_chars refuses the text
    // (a literal below the smallest double reads as zero, as Boost reads it).
    static double correctlyRounded(const std::string& text, double fallback) {
        double value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size() ? value : fallback;
    }

    // Where the next value goes: the waiting member of the open object, or a new element of the open
    // array (or the document).
    mValue& nextSlot() {
        if (!objectOpen_.empty() && objectOpen_.back()) return stack_.back().second;
        return stack_.emplace_back().second;
    }

    // The members stack_[base..] sorted by key; of a repeated key the last one wins.
    std::vector<mObject::value_type> SortedMembers(std::size_t base) {
        const std::size_t count = stack_.size() - base;
        const mObject::value_type* members = stack_.data() + base;
        std::vector<mObject::value_type> sorted;
        sorted.reserve(count);
        bool ordered = true;
        for (std::size_t i = 1; i < count && ordered; ++i) ordered = members[i - 1].first < members[i].first;
        if (ordered) {
            for (std::size_t i = base; i < stack_.size(); ++i) sorted.push_back(std::move(stack_[i]));
            return sorted;
        }
        order_.resize(count);
        std::iota(order_.begin(), order_.end(), 0u);
        std::sort(order_.begin(), order_.end(), [members](std::uint32_t a, std::uint32_t b) {
            const int compared = members[a].first.compare(members[b].first);
            return compared < 0 || (compared == 0 && a < b);
        });
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t index = order_[i];
            if (i + 1 < count && members[order_[i + 1]].first == members[index].first) continue;
            sorted.push_back(std::move(stack_[base + index]));
        }
        return sorted;
    }

    std::vector<mObject::value_type> stack_;  // the document's slot, then waiting members and elements
    std::vector<bool> objectOpen_;            // per open container: object (true) or array
    std::vector<std::uint32_t> order_;        // scratch of SortedMembers
    std::string buffer_;
    std::string number_;  // the text of the number being read, when it arrives in parts
};

}  // namespace

bool read_string(const std::string& text, mValue& value) {
    boost::json::parse_options options;
    options.max_depth = kMaxDepth;
    boost::json::basic_parser<TreeBuilder> parser(options);
    boost::json::error_code ec;
    const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
    if (ec || !parser.done() || used != text.size()) return false;
    value = parser.handler().TakeResult();
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
        // Printable ASCII other than the quote and the backslash goes out as it is, a run at a time.
        std::size_t plain = i;
        while (plain < text.size()) {
            const auto c = static_cast<unsigned char>(text[plain]);
            if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\') break;
            ++plain;
        }
        if (plain > i) {
            out.append(text, i, plain - i);
            i = plain;
            continue;
        }
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
            return writeObject(value.get_obj(), out);
        case array_type:
            return writeArray(value.get_array(), out);
        case str_type:
            return writeString(value.get_str(), out);
        case bool_type:
            out += value.get_bool() ? "true" : "false";
            return;
        case int_type:
            return value.is_uint64() ? writeNumber(value.get_uint64(), out)
                                     : writeNumber(value.get_int64(), out);
        case real_type:
            return writeReal(value.get_real(), out);
        case null_type:
            out += "null";
            return;
    }
}

}  // namespace

std::string write_string(const mValue& value) {
    std::string out;
    writeValue(value, out);
    return out;
}

}  // namespace json_spirit
