#ifndef FCSDK_PLATFORM_FXSTRING_H
#define FCSDK_PLATFORM_FXSTRING_H

#include <cstdarg>
#include <string>

#include "platform/CObError.h"

/// printf-style formatting and small text helpers.
class FXString {
  public:
    /// Writes the formatted text into `out`; the status is informational.
    static CObError Format(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
    /// The formatted text.
    static std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
    /// The formatted text of a va_list, which it may consume (the caller ends it); "" for a null format or
    /// an encoding error.
    static std::string VFormat(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));
    /// Removes every character listed in `characters` from both ends of `text`, in place.
    static void Trim(std::string& text, const char* characters);
    /// 0 when `a` and `b` are equal ignoring ASCII case (strcasecmp semantics).
    static int CompareNoCase(const std::string& a, const std::string& b);
};

#endif  // FCSDK_PLATFORM_FXSTRING_H
