#ifndef FCSDK_PLATFORM_COBSTRING_H
#define FCSDK_PLATFORM_COBSTRING_H

#include <string>
#include <vector>

/// Text with a tokenizer that understands escape and quote characters.
class CObString {
  public:
    CObString() = default;
    CObString(const char* text) : text_(text ? text : "") {}
    CObString(const std::string& text) : text_(text) {}

    const char* c_str() const { return text_.c_str(); }
    const std::string& str() const { return text_; }

    /// Splits the text at `separator` into `parts` (cleared first). A character after `escape` is taken
    /// literally; text between a character of `quoteBegin` and the matching one of `quoteEnd` is not split.
    /// With `keepEmpty` empty parts are kept. Returns the number of parts.
    int Tokenize(std::vector<CObString>& parts, const char* quoteBegin, const char* quoteEnd, char escape,
                 char separator, bool keepEmpty) const;

  private:
    std::string text_;
};

#endif  // FCSDK_PLATFORM_COBSTRING_H
