#ifndef FCCTL_TABLE_H
#define FCCTL_TABLE_H

// Aligned text tables and key/value blocks for fcctl's readable output.

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace fcctl {

/// A table with a header row; columns are as wide as their widest cell and separated by two blanks.
class Table {
  public:
    /// @param headers column titles; a title starting with '>' makes a right-aligned column (the '>' is
    /// not printed)
    explicit Table(std::vector<std::string> headers);

    /// Adds a row; missing cells are empty, extra cells are dropped.
    void AddRow(std::vector<std::string> cells);
    std::size_t RowCount() const { return rows_.size(); }
    /// Prints the header and every row; an empty table prints `emptyText` instead when it is not empty.
    void Print(std::ostream& out, const std::string& emptyText = std::string()) const;

  private:
    std::vector<std::string> headers_;
    std::vector<bool> rightAligned_;
    std::vector<std::vector<std::string>> rows_;
};

/// Key/value lines with the values aligned: "Name:     vm-0001".
class Fields {
  public:
    void Add(std::string key, std::string value);
    void Print(std::ostream& out) const;

  private:
    std::vector<std::pair<std::string, std::string>> fields_;
};

/// Display width of a UTF-8 text (one column per code point; control characters count as one).
std::size_t DisplayWidth(const std::string& text);

/// A text made printable in one table cell: control characters become blanks.
std::string CellText(const std::string& text);

/// The text with ASCII letters in lower case (MAC addresses, error texts compared without case).
std::string Lower(std::string text);

/// "1.5 GiB" style size of a byte count.
std::string HumanBytes(unsigned long long bytes);

}  // namespace fcctl

#endif  // FCCTL_TABLE_H
