#include "JsonWriter.h"

#include <utility>

namespace fcctl {

namespace {

// Length of the valid UTF-8 sequence at `text[i]`, or 0 when the bytes there are not one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
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

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// Makes every string below `value` valid UTF-8. Keys cannot be changed in place: an object with a bad
// key is rebuilt.
void RepairUtf8(json::value& value) {
    if (json::string* text = value.if_string()) {
        if (!IsValidUtf8(*text)) *text = ValidUtf8(*text);
    } else if (json::array* array = value.if_array()) {
        for (json::value& item : *array) RepairUtf8(item);
    } else if (json::object* object = value.if_object()) {
        bool badKey = false;
        for (json::key_value_pair& member : *object) {
            RepairUtf8(member.value());
            badKey = badKey || !IsValidUtf8(member.key());
        }
        if (!badKey) return;
        json::object repaired;
        for (json::key_value_pair& member : *object) {
            repaired.emplace(ValidUtf8(member.key()), std::move(member.value()));
        }
        *object = std::move(repaired);
    }
}

}  // namespace

std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            out += "\xef\xbf\xbd";
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string JsonText(json::value value) {
    RepairUtf8(value);
    return json::serialize(value);
}

void PrintJson(std::ostream& out, json::object members) {
    json::object document;
    document.reserve(members.size() + 1);
    document.emplace("format", kJsonFormat);
    for (json::key_value_pair& member : members) document.emplace(member.key(), std::move(member.value()));
    out << JsonText(std::move(document)) << '\n';
}

}  // namespace fcctl
