#include "connection/FusionComputeLinks.h"

#include <arpa/inet.h>

#include <vector>

namespace FusionComputeSDKWrapper {

namespace {

constexpr char kUrnPrefix[] = "urn:";
constexpr char kLinkPrefix[] = "/service/";
// Longest identifier or host name accepted; real ones are far shorter.
constexpr size_t kMaxIdentifierLength = 2048;
constexpr size_t kMaxHostNameLength = 253;
constexpr size_t kMaxLabelLength = 63;

bool IsAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsSegmentCharacter(char c) {
    return IsAsciiAlnum(c) || c == '-' || c == '_' || c == '.';
}

// Splits `text` at `separator` into segments that must each be non-empty, of segment characters only,
// and neither "." nor "..".
bool SplitSegments(const std::string& text, size_t start, char separator,
                   std::vector<std::string>& segments) {
    segments.clear();
    std::string segment;
    for (size_t i = start; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            if (segment.empty() || segment == "." || segment == "..") return false;
            segments.push_back(segment);
            segment.clear();
        } else if (IsSegmentCharacter(text[i])) {
            segment += text[i];
        } else {
            return false;
        }
    }
    return true;
}

bool LinkSegments(const std::string& link, std::vector<std::string>& segments) {
    const size_t prefixLength = sizeof(kLinkPrefix) - 1;
    return link.size() <= kMaxIdentifierLength && link.compare(0, prefixLength, kLinkPrefix) == 0 &&
           SplitSegments(link, prefixLength, '/', segments);
}

// Each kind of link: its name in messages and where its object stands below "/service/sites/<site>":
// in the site's `collection` ("vms"), and for an object of an object, in that one's `subCollection`.
struct LinkShape {
    LinkKind kind;
    const char* name;
    const char* collection;     // null for the site itself
    const char* subCollection;  // null for an object of the site's own collections
};

constexpr LinkShape kLinkShapes[] = {
    {LinkKind::Site, "site", nullptr, nullptr},
    {LinkKind::Vm, "VM", "vms", nullptr},
    {LinkKind::Volume, "volume", "volumes", nullptr},
    {LinkKind::Snapshot, "snapshot", "vms", "snapshots"},
    {LinkKind::BackupResource, "backup resource", "volumes", "backupresources"},
};

const LinkShape* FindLinkShape(LinkKind kind) {
    for (const LinkShape& shape : kLinkShapes) {
        if (shape.kind == kind) return &shape;
    }
    return nullptr;
}

bool IsHostLabel(const std::string& label) {
    if (label.empty() || label.size() > kMaxLabelLength || label.front() == '-' || label.back() == '-')
        return false;
    for (const char c : label) {
        if (!IsAsciiAlnum(c) && c != '-' && c != '_') return false;
    }
    return true;
}

bool IsDigits(const std::string& text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

bool IsWellFormedUrn(const std::string& urn) {
    const size_t prefixLength = sizeof(kUrnPrefix) - 1;
    std::vector<std::string> segments;
    return urn.size() <= kMaxIdentifierLength && urn.compare(0, prefixLength, kUrnPrefix) == 0 &&
           SplitSegments(urn, prefixLength, ':', segments);
}

bool IsWellFormedLink(const std::string& link) {
    std::vector<std::string> segments;
    return LinkSegments(link, segments);
}

bool IsLinkOfKind(const std::string& link, LinkKind kind, const std::string& siteUri) {
    std::vector<std::string> segments;
    if (!LinkSegments(link, segments) || segments.size() < 2 || segments[0] != "sites") return false;
    if (!siteUri.empty() && link.compare(0, siteUri.size(), siteUri) != 0) return false;
    if (!siteUri.empty() && link.size() > siteUri.size() && link[siteUri.size()] != '/') return false;
    const LinkShape* shape = FindLinkShape(kind);
    if (shape == nullptr) return false;
    // sites/<site>[/<collection>/<object>[/<subCollection>/<object>]]
    const size_t expected = 2 + (shape->collection ? 2 : 0) + (shape->subCollection ? 2 : 0);
    return segments.size() == expected && (!shape->collection || segments[2] == shape->collection) &&
           (!shape->subCollection || segments[4] == shape->subCollection);
}

const char* LinkKindName(LinkKind kind) {
    const LinkShape* shape = FindLinkShape(kind);
    return shape ? shape->name : "object";
}

bool IsWellFormedHost(const std::string& host) {
    if (host.empty() || host.size() > kMaxHostNameLength + 2) return false;
    if (host.front() == '[') {
        if (host.back() != ']' || host.size() < 4) return false;
        const std::string address = host.substr(1, host.size() - 2);
        unsigned char bytes[16];
        return address.find_first_not_of("0123456789abcdefABCDEF:.") == std::string::npos &&
               inet_pton(AF_INET6, address.c_str(), bytes) == 1;
    }
    if (host.size() > kMaxHostNameLength) return false;
    // A fully qualified name may end in the root's dot.
    const size_t end = host.back() == '.' ? host.size() - 1 : host.size();
    std::vector<std::string> labels;
    std::string label;
    for (size_t i = 0; i <= end; ++i) {
        if (i == end || host[i] == '.') {
            labels.push_back(label);
            label.clear();
        } else {
            label += host[i];
        }
    }
    bool numeric = true;
    for (const std::string& part : labels) numeric = numeric && IsDigits(part);
    if (numeric) {
        // All digits: only a dotted IPv4 address of four parts is meant (libcurl would read "10.1" or
        // "167772161" as an address as well, which is never what a caller typed on purpose).
        if (labels.size() != 4) return false;
        for (const std::string& part : labels) {
            if (part.size() > 3 || std::stoi(part) > 255) return false;
        }
        return true;
    }
    for (const std::string& part : labels) {
        if (!IsHostLabel(part)) return false;
    }
    return true;
}

std::string EncodeQueryValue(const std::string& value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (const char c : value) {
        if (IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == ':') {
            encoded += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

std::string LinkRefusal(const std::string& link, LinkKind kind) {
    return std::string("Refused to send a request for a ") + LinkKindName(kind) + " to [" +
           PrintableText(link) + "]: not a " + LinkKindName(kind) + " link of the connected site";
}

std::string PrintableText(const std::string& text) {
    constexpr size_t kShownLength = 200;
    std::string shown = text.substr(0, kShownLength);
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    if (text.size() > kShownLength) shown += "...";
    return shown;
}

}  // namespace FusionComputeSDKWrapper
