#include "Query.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace vrmsim {

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseCount(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 12) return false;
    std::size_t start = text[0] == '-' ? 1 : 0;
    if (start == text.size()) return false;
    if (!std::all_of(text.begin() + static_cast<long>(start), text.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return false;
    }
    value = std::atoll(text.c_str());
    return true;
}
}  // namespace

std::string UrlDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

QueryArgs::QueryArgs(const std::string& rawQuery) {
    std::size_t start = 0;
    while (start < rawQuery.size()) {
        auto end = rawQuery.find('&', start);
        if (end == std::string::npos) end = rawQuery.size();
        std::string item = rawQuery.substr(start, end - start);
        if (!item.empty()) {
            auto eq = item.find('=');
            std::string key = UrlDecode(item.substr(0, eq));
            std::string value = eq == std::string::npos ? std::string() : UrlDecode(item.substr(eq + 1));
            args_.emplace_back(std::move(key), std::move(value));
        }
        start = end + 1;
    }
}

bool QueryArgs::Has(const std::string& key) const {
    return std::any_of(args_.begin(), args_.end(), [&](const auto& arg) { return arg.first == key; });
}

std::optional<std::string> QueryArgs::Last(const std::string& key) const {
    for (auto it = args_.rbegin(); it != args_.rend(); ++it) {
        if (it->first == key) return it->second;
    }
    return std::nullopt;
}

std::vector<std::string> QueryArgs::All(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& arg : args_) {
        if (arg.first == key) values.push_back(arg.second);
    }
    return values;
}

bool ParsePage(const QueryArgs& args, int pageSize, PageRequest& page, std::string& error) {
    std::size_t cap = static_cast<std::size_t>(std::max(pageSize, 1));
    page.offset = 0;
    page.limit = cap;
    if (auto offset = args.Last("offset")) {
        long long value = 0;
        if (!ParseCount(*offset, value) || value < 0) {
            error = "Invalid offset [" + *offset + "]";
            return false;
        }
        page.offset = static_cast<std::size_t>(value);
    }
    if (auto limit = args.Last("limit")) {
        long long value = 0;
        if (!ParseCount(*limit, value) || value < 1) {
            error = "Invalid limit [" + *limit + "]";
            return false;
        }
        page.limit = std::min(cap, static_cast<std::size_t>(value));
    }
    return true;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) items.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

}  // namespace vrmsim
