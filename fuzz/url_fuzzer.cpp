// libFuzzer target for building URLs and query strings from names: percent-encoding, query-string
// joining, URN to URI conversion and the name searches of CFusionComputeQueries.
//
// The whole input is the name (any byte values, zero bytes included). The searches run over a
// connection whose sendReq is replaced: it records the request path and answers with a canned list, so
// no socket is opened. Checked for every name:
// - UrlEncode (transport, connection and queries) gives only unreserved characters and %XX with
//   upper-case hex digits, and decoding it gives the name back;
// - appendQueryStringArgument joins with "?" first and "&" afterwards (none after a trailing "?" or "&");
// - ConvertUrnToUri gives "" exactly when there is no "urn:", else "/service/..." without ":";
// - each search by name sends exactly one GET whose path is the list path, "?name=" and the encoded
//   name (plus the detail level for VMs), and accepts the object of that name (also in other ASCII
//   case, also among several), but refuses a single object of another name.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "EvDebug.h"
#include "FusionComputeRecords.h"
#include "connection/FusionComputeConnection.h"
#include "connection/FusionComputeLinks.h"
#include "parser/FusionComputeParser.h"
#include "platform/MLLibCurl.h"
#include "platform/json_spirit.h"
#include "queries/FusionComputeQueries.h"

namespace {

using namespace FusionComputeSDKWrapper;

// Reports the failed check's line (the replay build has no libFuzzer stack trace), then stops.
[[noreturn]] void Fail(int line) {
    std::fprintf(stderr, "check failed at %s:%d\n", __FILE__, line);
    __builtin_trap();
}

void Check(bool condition, int line = __builtin_LINE()) {
    if (!condition) Fail(line);
}

// A session that never touches the network: every request is recorded and answered from `answer`.
class CannedConnection : public CFusionComputeConnection {
  public:
    std::vector<std::string> paths;
    std::string answer;

    bool sendReq(_http_req_type_ type, const std::string& path, const std::string& /*body*/,
                 std::string& response, VSRestApiRequestOptions* /*options*/) override {
        Check(type == HTTP_REQ_GET);
        paths.push_back(path);
        response = answer;
        return true;
    }
};

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // lower-case hex digits are not what the encoder writes
}

// Decodes `encoded`, failing the run on anything but unreserved characters and %XX.
std::string DecodeStrict(const std::string& encoded) {
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c != '%') {
            Check(IsUnreserved(static_cast<unsigned char>(c)));
            decoded += c;
            continue;
        }
        Check(i + 2 < encoded.size());
        const int high = HexDigit(encoded[i + 1]);
        const int low = HexDigit(encoded[i + 2]);
        Check(high >= 0 && low >= 0);
        const auto byte = static_cast<unsigned char>(high * 16 + low);
        Check(!IsUnreserved(byte));  // unreserved characters are never encoded
        decoded += static_cast<char>(byte);
        i += 2;
    }
    return decoded;
}

void CheckEncoding(const std::string& name, CannedConnection& connection, CFusionComputeQueries& queries) {
    const std::string encoded = MLLibCurl::PercentEncode(name);
    Check(DecodeStrict(encoded) == name);
    Check(connection.UrlEncode(name) == encoded);
    Check(queries.UrlEncode(name) == encoded);
}

// The joining rule: "?" before the first argument, "&" before the others, nothing when the path already
// ends in a separator (an empty query string or a trailing "&").
std::string Joined(const std::string& path, const std::string& argument) {
    if (path.find('?') == std::string::npos) return path + "?" + argument;
    if (path.back() == '?' || path.back() == '&') return path + argument;
    return path + "&" + argument;
}

void CheckQueryJoining(const std::string& name, CannedConnection& connection) {
    const std::string encoded = connection.UrlEncode(name);
    std::string path = "/service/sites/1/vms";
    connection.appendQueryStringArgument(path, "name=%s", encoded.c_str());
    connection.appendQueryStringArgument(path, "offset=%d", 100);
    Check(path == "/service/sites/1/vms?name=" + encoded + "&offset=100");

    // A raw argument is copied up to its first zero byte and may bring its own "?" or "&".
    const std::string raw = name.c_str();
    std::string rawPath = "/p";
    connection.appendQueryStringArgument(rawPath, "%s", raw.c_str());
    std::string expected = Joined("/p", raw);
    Check(rawPath == expected);
    connection.appendQueryStringArgument(rawPath, "limit=%d", 7);
    Check(rawPath == Joined(expected, "limit=7"));
}

void CheckUrnConversion(const std::string& text, CFusionComputeQueries& queries) {
    const std::string uri = queries.ConvertUrnToUri(text);
    const size_t start = text.find("urn:");
    // No URN, or one whose path would lead elsewhere ("..", "/", "?", "%", ...): no URI at all.
    if (start == std::string::npos || !IsWellFormedUrn(text.substr(start))) {
        Check(uri.empty());
        return;
    }
    std::string expected = "/service/" + text.substr(start + 4);
    for (char& c : expected) {
        if (c == ':') c = '/';
    }
    Check(uri == expected);
    Check(uri.compare(0, 9, "/service/") == 0 && uri.find(':') == std::string::npos);
}

std::string SwapAsciiCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// A list answer under `key` holding one object per name, or "" when a name cannot travel unchanged in
// JSON text (the writer replaces bytes that are not valid UTF-8 with U+FFFD).
std::string ListAnswer(const std::string& key, const std::vector<std::string>& names) {
    json_spirit::mArray list;
    int id = 0;
    for (const std::string& name : names) {
        ++id;
        json_spirit::mObject entry;
        entry["name"] = name;
        entry["urn"] = "urn:sites:1:" + key + ":" + std::to_string(id);
        entry["uri"] = "/service/sites/1/" + key + "/" + std::to_string(id);
        list.push_back(entry);
    }
    json_spirit::mObject answer;
    answer[key] = list;
    answer["total"] = static_cast<int>(names.size());
    const std::string text = json_spirit::write_string(answer);
    json_spirit::mValue check;
    Check(json_spirit::read_string(text, check));
    return check == json_spirit::mValue(answer) ? text : std::string();
}

// One search by name: `search` runs it, `expectedPath` is the one GET it must send.
template <typename T, typename Search>
void CheckSearch(const std::string& name, const std::string& key, const std::string& expectedPath,
                 CannedConnection& connection, Search search) {
    if (name.empty()) {
        connection.paths.clear();
        T record;
        Check(!search(record));
        Check(connection.paths.empty());
        return;
    }
    struct Case {
        std::vector<std::string> names;
        bool found;
        size_t index;  // which name is the found one
    };
    const std::string other = name + "-";
    const Case cases[] = {
        {{name}, true, 0},        {{SwapAsciiCase(name)}, true, 0}, {{other}, false, 0},
        {{other, name}, true, 1}, {{other, other + "-"}, false, 0},
    };
    for (const Case& c : cases) {
        connection.answer = ListAnswer(key, c.names);
        if (connection.answer.empty()) return;  // the name is not valid UTF-8
        connection.paths.clear();
        T record;
        const bool found = search(record);
        Check(connection.paths.size() == 1 && connection.paths.front() == expectedPath);
        Check(found == c.found);
        if (found) Check(record.name == c.names[c.index]);
    }
}

void CheckSearches(const std::string& name, uint64_t flags, CannedConnection& connection,
                   CFusionComputeQueries& queries) {
    const std::string query = "?name=" + MLLibCurl::PercentEncode(name);
    SSiteInfoLib site;
    site.uri = "/service/sites/1";
    CheckSearch<SSiteInfoLib>(name, "sites", "service/sites" + query, connection,
                              [&](SSiteInfoLib& r) { return queries.GetSiteInfo(name, "", r, 0); });
    CheckSearch<SClusterInfoLib>(
        name, "clusters", site.uri + "/clusters" + query, connection,
        [&](SClusterInfoLib& r) { return queries.GetClusterInfo(site, name, "", r, 0); });
    CheckSearch<SHostInfoLib>(name, "hosts", site.uri + "/hosts" + query, connection,
                              [&](SHostInfoLib& r) { return queries.GetHostInfo(site, name, "", r, 0); });
    CheckSearch<SDataStoreInfoLib>(
        name, "datastores", site.uri + "/datastores" + query, connection,
        [&](SDataStoreInfoLib& r) { return queries.GetDataStoreInfo(site, name, "", r, 0); });

    std::string detail;
    if ((flags & VM_PROP_ALL_VM) == 0) {
        detail = "&detail=0";
    } else if ((flags & (VM_PROP_VM_GUEST_INFO | VM_PROP_VM_DISK_LIST)) != 0) {
        detail = "&detail=2";
    }
    CheckSearch<SVMInfoLib>(name, "vms", site.uri + "/vms" + query + detail, connection,
                            [&](SVMInfoLib& r) { return queries.GetVMInfo(site, name, "", "", r, flags); });
}

void DropLogLines() {
    static const bool installed = [] {
        EvDebug::SetSink([](EvDebugLevel, const std::string&) {});
        return true;
    }();
    (void)installed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DropLogLines();
    const std::string name(reinterpret_cast<const char*>(data), size);
    CannedConnection connection;
    CFusionComputeParser parser;
    CFusionComputeQueries queries(&connection, &parser, nullptr);

    CheckEncoding(name, connection, queries);
    CheckQueryJoining(name, connection);
    CheckUrnConversion(name, queries);
    // The detail mask of the VM search comes from the name's first and last bytes.
    const uint64_t flags = size == 0 ? 0 : (uint64_t{data[0]} << 56) | data[size - 1];
    CheckSearches(name, flags, connection, queries);
    return 0;
}
