#include "platform/LogMask.h"

#include <strings.h>

#include <cctype>
#include <string_view>

namespace fcsdk_platform {
namespace {

constexpr const char* kSecretHeaders[] = {"x-auth-key", "x-auth-token"};
constexpr const char* kSecretKeyParts[] = {"password", "passwd", "pwd", "token", "secret", "x-auth-key"};
constexpr const char* kMask = "***";

bool startsWithNoCase(std::string_view text, size_t at, const char* word) {
    const size_t length = std::char_traits<char>::length(word);
    return text.size() - at >= length && strncasecmp(text.data() + at, word, length) == 0;
}

bool containsNoCase(std::string_view text, const char* word) {
    const size_t length = std::char_traits<char>::length(word);
    for (size_t i = 0; i + length <= text.size(); ++i) {
        if (strncasecmp(text.data() + i, word, length) == 0) return true;
    }
    return false;
}

bool isHeaderValueEnd(char c) {
    return c == '\r' || c == '\n' || c == '"' || c == ']' || c == ',' || c == '}' || c == ';' ||
           std::isspace(static_cast<unsigned char>(c));
}

// Masks "X-Auth-Key: value" and "X-Auth-Token: value" wherever they appear.
std::string maskHeaderValues(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        size_t nameLength = 0;
        for (const char* name : kSecretHeaders) {
            if (startsWithNoCase(text, i, name)) nameLength = std::char_traits<char>::length(name);
        }
        size_t colon = i + nameLength;
        while (nameLength != 0 && colon < text.size() && text[colon] == ' ') ++colon;
        if (nameLength == 0 || colon >= text.size() || text[colon] != ':') {
            out += text[i++];
            continue;
        }
        size_t valueStart = colon + 1;
        while (valueStart < text.size() && (text[valueStart] == ' ' || text[valueStart] == '\t'))
            ++valueStart;
        size_t valueEnd = valueStart;
        while (valueEnd < text.size() && !isHeaderValueEnd(text[valueEnd])) ++valueEnd;
        out.append(text, i, valueStart - i);
        if (valueEnd > valueStart) out += kMask;
        i = valueEnd;
    }
    return out;
}

// End (one past the closing quote) of the JSON string literal that opens at text[start].
size_t stringLiteralEnd(const std::string& text, size_t start) {
    size_t i = start + 1;
    while (i < text.size()) {
        if (text[i] == '\\') {
            i += 2;
        } else if (text[i] == '"') {
            return i + 1;
        } else {
            ++i;
        }
    }
    return text.size();
}

bool isSecretKey(std::string_view key) {
    for (const char* part : kSecretKeyParts) {
        if (containsNoCase(key, part)) return true;
    }
    return false;
}

// Masks the values of JSON members whose key names a secret. Works on any text (also truncated or
// invalid JSON) because it only looks at string literals followed by a colon.
std::string maskJsonMembers(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '"') {
            out += text[i++];
            continue;
        }
        const size_t literalEnd = stringLiteralEnd(text, i);
        const std::string_view literal(text.data() + i, literalEnd - i);
        out += literal;
        i = literalEnd;
        size_t colon = i;
        while (colon < text.size() && std::isspace(static_cast<unsigned char>(text[colon]))) ++colon;
        if (colon >= text.size() || text[colon] != ':' || !isSecretKey(literal)) continue;
        size_t valueStart = colon + 1;
        while (valueStart < text.size() && std::isspace(static_cast<unsigned char>(text[valueStart])))
            ++valueStart;
        size_t valueEnd = valueStart;
        if (valueStart < text.size() && text[valueStart] == '"') {
            valueEnd = stringLiteralEnd(text, valueStart);
        } else {
            while (valueEnd < text.size() && text[valueEnd] != ',' && text[valueEnd] != '}' &&
                   text[valueEnd] != ']' && !std::isspace(static_cast<unsigned char>(text[valueEnd]))) {
                ++valueEnd;
            }
        }
        // Objects and arrays under a secret key are left alone; only scalar values are secrets.
        if (valueStart < text.size() && (text[valueStart] == '{' || text[valueStart] == '[')) continue;
        out.append(text, i, valueStart - i);
        out += '"';
        out += kMask;
        out += '"';
        i = valueEnd;
    }
    return out;
}

}  // namespace

std::string MaskSecrets(const std::string& text) {
    return maskJsonMembers(maskHeaderValues(text));
}

}  // namespace fcsdk_platform
