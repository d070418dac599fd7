#ifndef VRMSIM_QUERY_H
#define VRMSIM_QUERY_H

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vrmsim {

/// Percent-decodes text; "+" becomes a blank (form encoding). Invalid escapes stay as they are.
std::string UrlDecode(const std::string& text);

/// The arguments of a raw query string, decoded, in order. An argument given several times keeps
/// every value; Last() gives the one that wins.
class QueryArgs {
  public:
    explicit QueryArgs(const std::string& rawQuery);

    bool Has(const std::string& key) const;
    /// The last value given for key (the one the simulator acts on), if any.
    std::optional<std::string> Last(const std::string& key) const;
    /// Every value given for key.
    std::vector<std::string> All(const std::string& key) const;

  private:
    std::vector<std::pair<std::string, std::string>> args_;
};

/// The page a list request asks for.
struct PageRequest {
    std::size_t offset = 0;
    std::size_t limit = 0;
};

/// Reads "offset" and "limit" (last occurrence wins); limit defaults to and is capped at pageSize.
/// Returns false with a message for negative, zero (limit) or non-numeric values.
bool ParsePage(const QueryArgs& args, int pageSize, PageRequest& page, std::string& error);

/// Splits a comma-separated list; empty items are dropped.
std::vector<std::string> SplitList(const std::string& text);

}  // namespace vrmsim

#endif  // VRMSIM_QUERY_H
