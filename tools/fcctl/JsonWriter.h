#ifndef FCCTL_JSONWRITER_H
#define FCCTL_JSONWRITER_H

// fcctl's --json output. Commands build their documents as Boost.JSON values; this file turns them into
// text. Boost.JSON's serializer copies the bytes of a string as they are, so texts from the VRM that are
// not valid UTF-8 would make a document no parser accepts: every string and key gets U+FFFD in place of
// its invalid bytes before it is written. fcctl prints only integers, so the serializer's way of writing
// doubles (1E0), which keeps the library on a writer of its own, does not matter here.

#include <boost/json.hpp>
#include <ostream>
#include <string>
#include <string_view>

namespace fcctl {

namespace json = boost::json;

/// Layout version of fcctl's JSON documents: the value of their first member, "format". It changes only
/// when a member is removed, renamed or changes its type.
constexpr int kJsonFormat = 1;

/// `text` with every byte that does not belong to a valid UTF-8 sequence replaced by U+FFFD (overlong
/// forms, surrogates and code points above U+10FFFF count as invalid).
std::string ValidUtf8(std::string_view text);

/// Compact JSON text of `value`, every string and key made valid UTF-8 first (ValidUtf8).
std::string JsonText(json::value value);

/// Writes one fcctl document on one line: an object whose first member is "format": kJsonFormat, followed
/// by `members` in their order, then a newline.
void PrintJson(std::ostream& out, json::object members);

}  // namespace fcctl

#endif  // FCCTL_JSONWRITER_H
