#include "platform/CObString.h"

#include <cstring>

namespace {

// Index of `c` in `set`, or -1. A null or empty set contains nothing (and never the terminating zero).
int indexIn(const char* set, char c) {
    if (set == nullptr || c == '\0') return -1;
    const char* found = std::strchr(set, c);
    return found == nullptr ? -1 : static_cast<int>(found - set);
}

}  // namespace

int CObString::Tokenize(std::vector<CObString>& parts, const char* quoteBegin, const char* quoteEnd,
                        char escape, char separator, bool keepEmpty) const {
    parts.clear();
    std::string current;
    char closingQuote = '\0';
    bool inQuote = false;
    const auto finishPart = [&]() {
        if (keepEmpty || !current.empty()) parts.emplace_back(current);
        current.clear();
    };
    for (size_t i = 0; i < text_.size(); ++i) {
        const char c = text_[i];
        if (escape != '\0' && c == escape && i + 1 < text_.size()) {
            current += text_[++i];
        } else if (inQuote) {
            if (c == closingQuote) {
                inQuote = false;
            } else {
                current += c;
            }
        } else if (const int quote = indexIn(quoteBegin, c); quote >= 0) {
            const size_t endCount = quoteEnd == nullptr ? 0 : std::strlen(quoteEnd);
            closingQuote = static_cast<size_t>(quote) < endCount ? quoteEnd[quote] : c;
            inQuote = true;
        } else if (c == separator) {
            finishPart();
        } else {
            current += c;
        }
    }
    finishPart();
    return static_cast<int>(parts.size());
}
