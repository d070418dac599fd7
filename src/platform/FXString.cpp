#include "platform/FXString.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

std::string FXString::VFormat(const char* format, va_list arguments) {
    if (format == nullptr) return std::string();
    // Most texts fit on the stack; only a longer one is formatted a second time into its own buffer.
    char stackBuffer[1024];
    va_list copy;
    va_copy(copy, arguments);
    const int needed = std::vsnprintf(stackBuffer, sizeof(stackBuffer), format, copy);
    va_end(copy);
    if (needed < 0) return std::string();
    if (static_cast<size_t>(needed) < sizeof(stackBuffer)) return std::string(stackBuffer, needed);
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.resize(static_cast<size_t>(needed));
    return text;
}

CObError FXString::Format(std::string& out, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    out = VFormat(format, arguments);
    va_end(arguments);
    return CObError(format == nullptr ? 1 : 0);
}

std::string FXString::Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = VFormat(format, arguments);
    va_end(arguments);
    return text;
}

void FXString::Trim(std::string& text, const char* characters) {
    if (characters == nullptr || *characters == '\0') return;
    const size_t first = text.find_first_not_of(characters);
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    const size_t last = text.find_last_not_of(characters);
    text = text.substr(first, last - first + 1);
}

int FXString::CompareNoCase(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str());
}
