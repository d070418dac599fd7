#include "Table.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace fcctl {

std::size_t DisplayWidth(const std::string& text) {
    std::size_t width = 0;
    for (const char c : text) {
        // Continuation bytes of a multi-byte sequence add no column.
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
    }
    return width;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string CellText(const std::string& text) {
    std::string cell = text;
    for (char& c : cell) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return cell;
}

std::string HumanBytes(unsigned long long bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f %s", value, kUnits[unit]);
    return text;
}

Table::Table(std::vector<std::string> headers) {
    for (std::string& header : headers) {
        const bool right = !header.empty() && header[0] == '>';
        rightAligned_.push_back(right);
        headers_.push_back(right ? header.substr(1) : header);
    }
}

void Table::AddRow(std::vector<std::string> cells) {
    cells.resize(headers_.size());
    for (std::string& cell : cells) cell = CellText(cell);
    rows_.push_back(std::move(cells));
}

void Table::Print(std::ostream& out, const std::string& emptyText) const {
    if (rows_.empty() && !emptyText.empty()) {
        out << emptyText << '\n';
        return;
    }
    std::vector<std::size_t> widths;
    for (const std::string& header : headers_) widths.push_back(DisplayWidth(header));
    for (const auto& row : rows_) {
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(row[i]));
    }
    auto printRow = [&](const std::vector<std::string>& row) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string padding(widths[i] - DisplayWidth(row[i]), ' ');
            if (i > 0) line += "  ";
            line += rightAligned_[i] ? padding + row[i] : row[i] + (i + 1 < row.size() ? padding : "");
        }
        // The last column is not padded, but a right-aligned one is; trailing blanks are never useful.
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out << line << '\n';
    };
    printRow(headers_);
    for (const auto& row : rows_) printRow(row);
}

void Fields::Add(std::string key, std::string value) {
    fields_.emplace_back(std::move(key), CellText(value));
}

void Fields::Print(std::ostream& out) const {
    std::size_t width = 0;
    for (const auto& field : fields_) width = std::max(width, DisplayWidth(field.first));
    for (const auto& field : fields_) {
        out << field.first << ':' << std::string(width - DisplayWidth(field.first) + 1, ' ') << field.second
            << '\n';
    }
}

}  // namespace fcctl
