#ifndef FCSDK_CONNECTION_FUSIONCOMPUTELINKS_H
#define FCSDK_CONNECTION_FUSIONCOMPUTELINKS_H

// Checks of the identifiers that become request paths or query values. A URN or link handed in by a
// caller (or read from an answer) is joined into a URL as it is, and libcurl folds "." and ".." path
// segments: "urn:sites:S:volumes:5/../../vms:i-3" would turn a volume delete into a VM delete. Every
// identifier is therefore held to the characters URNs and links really use before it goes on the wire.

#include <string>

namespace FusionComputeSDKWrapper {

/// The kind of object a state-changing request is meant for; its link must have that shape.
enum class LinkKind {
    Site,            ///< /service/sites/<site>
    Vm,              ///< /service/sites/<site>/vms/<vm>
    Volume,          ///< /service/sites/<site>/volumes/<volume>
    Snapshot,        ///< /service/sites/<site>/vms/<vm>/snapshots/<snapshot>
    BackupResource,  ///< /service/sites/<site>/volumes/<volume>/backupresources/<resource>
};

/// @brief Whether `urn` is "urn:" followed by ':'-separated non-empty segments of letters, digits,
/// '-', '_' and '.', none of them "." or "..".
/// @param urn the text to check
/// @return true for a well-formed URN
bool IsWellFormedUrn(const std::string& urn);

/// @brief Whether `link` is "/service/" followed by '/'-separated non-empty segments of letters,
/// digits, '-', '_' and '.', none of them "." or ".." (so no query, fragment, escape or white space).
/// @param link the text to check
/// @return true for a well-formed link
bool IsWellFormedLink(const std::string& link);

/// @brief Whether `link` is a well-formed link of the given kind below a site; when `siteUri` is not
/// empty, below that site.
/// @param link the link to check
/// @param kind the kind of object the request is meant for
/// @param siteUri the connected site's URI, or "" when none is known
/// @return true when the request may go to `link`
bool IsLinkOfKind(const std::string& link, LinkKind kind, const std::string& siteUri);

/// @brief A short name of the kind for messages ("volume", "snapshot", ...).
/// @param kind the kind
/// @return its name
const char* LinkKindName(LinkKind kind);

/// @brief Whether `host` is a host name, a dotted IPv4 address or a bracketed IPv6 address, and
/// nothing else (no scheme, port, path, user info or white space).
/// @param host the text to check
/// @return true when it can stand as the host of the VRM's URL
bool IsWellFormedHost(const std::string& host);

/// @brief Percent-encodes a value for a query string. Unreserved characters and ':' (which URNs and
/// MAC addresses are made of, and which a query may hold literally) stay as they are, so well-formed
/// values go out unchanged while '&', '#', '=', '%', white space and control characters are escaped.
/// @param value the raw value
/// @return the encoded value
std::string EncodeQueryValue(const std::string& value);

/// @brief The message for a request refused because its link is not of the kind it is meant for.
/// @param link the refused link
/// @param kind the kind of object the request is meant for
/// @return the message
std::string LinkRefusal(const std::string& link, LinkKind kind);

/// @brief `text` fit for a log line or message: control characters become '?', and a long text is cut.
/// @param text the raw text
/// @return the printable text
std::string PrintableText(const std::string& text);

}  // namespace FusionComputeSDKWrapper

#endif  // FCSDK_CONNECTION_FUSIONCOMPUTELINKS_H
