#ifndef VRMSIM_HTTP_H
#define VRMSIM_HTTP_H

// Transport-neutral request and response of the simulator. Only Server.cpp knows cpp-httplib; the
// routes, faults and recorder work on these plain structs.

#include <boost/json/value.hpp>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vrmsim {

/// A request as it arrived: the raw target split into path and query, nothing decoded.
struct HttpRequest {
    std::string method;
    std::string target;
    std::string path;
    std::string rawQuery;
    bool hasQuery = false;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    /// Value of the first header with this name (ASCII case ignored), or "".
    std::string Header(const std::string& name) const;
    /// Whether a header with this name was sent.
    bool HasHeader(const std::string& name) const;
};

/// How the server puts the answer on the wire.
enum class WireMode {
    Normal,  ///< status, headers, whole body
    Stall,   ///< status and headers, then nothing until the stall ends, then close
    Drop,    ///< status, headers and the first half of the body, then close
    Close,   ///< close the connection without writing anything
    Drip,    ///< status and headers, then the body one byte every `stallMs` milliseconds
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json;charset=UTF-8";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    WireMode wire = WireMode::Normal;
    int stallMs = 0;                   ///< Stall: how long to hold the connection; Drip: pause per byte
    std::uint64_t generatedBytes = 0;  ///< > 0: body is a generated JSON text of this size
};

/// Splits a request target into path and raw query.
void SplitTarget(const std::string& target, HttpRequest& request);

/// A JSON answer with the given status.
HttpResponse JsonResponse(int status, const boost::json::value& body);

/// A VRM error answer: {"errorCode": code, "errorDes": des}.
HttpResponse ErrorResponse(int status, const std::string& code, const std::string& des);

/// Error codes the simulator answers with.
namespace errors {
inline constexpr const char* kTokenInvalid = "10000001";
inline constexpr const char* kLoginFailed = "10000040";
inline constexpr const char* kBadArgument = "10100002";
inline constexpr const char* kNotFound = "10300006";
inline constexpr const char* kNoSuchPath = "10000404";
}  // namespace errors

/// ASCII case-insensitive equality.
bool EqualsNoCase(const std::string& a, const std::string& b);
/// ASCII case-insensitive substring test.
bool ContainsNoCase(const std::string& haystack, const std::string& needle);
/// Whether text starts with prefix.
bool StartsWith(const std::string& text, const std::string& prefix);

}  // namespace vrmsim

#endif  // VRMSIM_HTTP_H
