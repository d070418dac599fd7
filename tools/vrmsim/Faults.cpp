#include "Faults.h"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace vrmsim {

namespace json = boost::json;

namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};

constexpr KindName kKindNames[] = {
    {FaultKind::Status, "status"},
    {FaultKind::Html, "html"},
    {FaultKind::Delay, "delay"},
    {FaultKind::Stall, "stall"},
    {FaultKind::Drop, "drop"},
    {FaultKind::Close, "close"},
    {FaultKind::Truncate, "truncate"},
    {FaultKind::Body, "body"},
    {FaultKind::Oversize, "oversize"},
    {FaultKind::WrongTypes, "wrongtypes"},
    {FaultKind::ExpireToken, "expiretoken"},
    {FaultKind::Drip, "drip"},
    {FaultKind::NoToken, "notoken"},
    {FaultKind::ListChange, "listchange"},
};

bool Matches(const Fault& fault, const HttpRequest& request) {
    if (!fault.method.empty() && !EqualsNoCase(fault.method, request.method)) return false;
    if (!fault.path.empty() && !StartsWith(request.path, fault.path)) return false;
    if (!fault.query.empty() && request.rawQuery.find(fault.query) == std::string::npos) return false;
    return true;
}

bool IsDecimal(const std::string& text) {
    if (text.empty() || text.size() > 18) return false;
    std::size_t start = text[0] == '-' ? 1 : 0;
    if (start == text.size()) return false;
    for (std::size_t i = start; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

/// Numbers and bools become strings, decimal strings become numbers, at every depth.
void FlipScalars(json::value& value) {
    if (value.is_object()) {
        for (auto& member : value.as_object()) FlipScalars(member.value());
    } else if (value.is_array()) {
        for (auto& element : value.as_array()) FlipScalars(element);
    } else if (value.is_int64()) {
        value = json::string(std::to_string(value.as_int64()));
    } else if (value.is_uint64()) {
        value = json::string(std::to_string(value.as_uint64()));
    } else if (value.is_double()) {
        value = json::string(json::serialize(value));
    } else if (value.is_bool()) {
        value = json::string(value.as_bool() ? "true" : "false");
    } else if (value.is_string()) {
        std::string text(value.as_string());
        if (IsDecimal(text)) value = std::atoll(text.c_str());
    }
}

/// Replaces every member whose key is in `patch`, at every depth (replaced values are not entered).
void PatchMembers(json::value& value, const json::object& patch) {
    if (value.is_object()) {
        for (auto& member : value.as_object()) {
            auto it = patch.find(member.key());
            if (it != patch.end()) {
                member.value() = it->value();
            } else {
                PatchMembers(member.value(), patch);
            }
        }
    } else if (value.is_array()) {
        for (auto& element : value.as_array()) PatchMembers(element, patch);
    }
}

template <class T>
bool ReadInt(const json::object& object, const char* key, T& out, std::string& error) {
    auto it = object.find(key);
    if (it == object.end()) return true;
    if (!it->value().is_int64()) {
        error = std::string("\"") + key + "\" must be an integer";
        return false;
    }
    out = static_cast<T>(it->value().as_int64());
    return true;
}

bool ReadText(const json::object& object, const char* key, std::string& out, std::string& error) {
    auto it = object.find(key);
    if (it == object.end()) return true;
    if (!it->value().is_string()) {
        error = std::string("\"") + key + "\" must be a string";
        return false;
    }
    out = std::string(it->value().as_string());
    return true;
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
    for (const auto& entry : kKindNames) {
        if (entry.kind == kind) return entry.name;
    }
    return "unknown";
}

void FaultTable::Add(const Fault& fault) {
    if (fault.count != 0) rules_.push_back(fault);
}

std::size_t FaultTable::Clear() {
    std::size_t count = rules_.size();
    rules_.clear();
    return count;
}

std::optional<Fault> FaultTable::Take(const HttpRequest& request) {
    for (auto it = rules_.begin(); it != rules_.end(); ++it) {
        if (!Matches(*it, request)) continue;
        if (it->skip > 0) {
            --it->skip;
            continue;
        }
        Fault fired = *it;
        if (it->count > 0 && --it->count == 0) rules_.erase(it);
        return fired;
    }
    return std::nullopt;
}

bool FaultFromJson(const json::object& object, Fault& fault, std::string& error) {
    fault = Fault();
    std::string kind;
    if (!ReadText(object, "kind", kind, error)) return false;
    bool known = false;
    for (const auto& entry : kKindNames) {
        if (kind == entry.name) {
            fault.kind = entry.kind;
            known = true;
        }
    }
    if (!known) {
        error = "unknown fault kind [" + kind + "]";
        return false;
    }
    if (!ReadText(object, "method", fault.method, error) || !ReadText(object, "path", fault.path, error) ||
        !ReadText(object, "query", fault.query, error) || !ReadInt(object, "count", fault.count, error) ||
        !ReadInt(object, "skip", fault.skip, error) || !ReadInt(object, "status", fault.status, error) ||
        !ReadText(object, "errorCode", fault.errorCode, error) ||
        !ReadText(object, "errorDes", fault.errorDes, error) || !ReadInt(object, "ms", fault.ms, error) ||
        !ReadText(object, "body", fault.body, error) ||
        !ReadText(object, "contentType", fault.contentType, error) ||
        !ReadInt(object, "bytes", fault.bytes, error) ||
        !ReadInt(object, "megabytes", fault.megabytes, error) ||
        !ReadInt(object, "objects", fault.objects, error)) {
        return false;
    }
    // 0 stands for the kind's default status; anything else must be a status an HTTP answer can carry.
    if (fault.status != 0 && (fault.status < 100 || fault.status > 599)) {
        error = "\"status\" must be between 100 and 599";
        return false;
    }
    if (auto it = object.find("patch"); it != object.end()) {
        if (!it->value().is_object()) {
            error = "\"patch\" must be an object";
            return false;
        }
        fault.patchJson = json::serialize(it->value());
    }
    if (fault.count == 0 || fault.count < -1 || fault.skip < 0 || fault.ms < 0 || fault.megabytes < 0) {
        error = "count must be -1 or positive; skip, ms and megabytes must not be negative";
        return false;
    }
    return true;
}

bool FaultsFromJson(const json::value& body, std::vector<Fault>& faults, std::string& error) {
    faults.clear();
    if (!body.is_object()) {
        error = "a fault description must be an object";
        return false;
    }
    const auto& object = body.as_object();
    auto list = object.find("faults");
    if (list == object.end()) {
        Fault fault;
        if (!FaultFromJson(object, fault, error)) return false;
        faults.push_back(fault);
        return true;
    }
    if (!list->value().is_array()) {
        error = "\"faults\" must be an array";
        return false;
    }
    for (const auto& entry : list->value().as_array()) {
        Fault fault;
        if (!entry.is_object()) {
            error = "a fault must be an object";
            return false;
        }
        if (!FaultFromJson(entry.as_object(), fault, error)) return false;
        faults.push_back(fault);
    }
    return true;
}

json::object FaultToJson(const Fault& fault) {
    json::object out{{"kind", FaultKindName(fault.kind)},
                     {"method", fault.method},
                     {"path", fault.path},
                     {"query", fault.query},
                     {"count", fault.count},
                     {"skip", fault.skip},
                     {"status", fault.status},
                     {"errorCode", fault.errorCode},
                     {"errorDes", fault.errorDes},
                     {"ms", fault.ms},
                     {"bytes", fault.bytes},
                     {"megabytes", fault.megabytes},
                     {"objects", fault.objects}};
    if (fault.kind == FaultKind::Body) {
        out["body"] = fault.body;
        out["contentType"] = fault.contentType;
    }
    if (!fault.patchJson.empty()) {
        boost::system::error_code ec;
        auto patch = json::parse(fault.patchJson, ec);
        if (!ec) out["patch"] = patch;
    }
    return out;
}

bool FaultNeedsAnswer(FaultKind kind) {
    switch (kind) {
        case FaultKind::Status:
        case FaultKind::Html:
        case FaultKind::Body:
        case FaultKind::Oversize:
        case FaultKind::Close:
            return false;
        default:
            return true;
    }
}

HttpResponse FaultAnswer(const Fault& fault) {
    HttpResponse out;
    switch (fault.kind) {
        case FaultKind::Status:
            return ErrorResponse(fault.status ? fault.status : 500, fault.errorCode, fault.errorDes);
        case FaultKind::Html: {
            out.status = fault.status ? fault.status : 502;
            std::string code = std::to_string(out.status);
            out.contentType = "text/html";
            out.body = "<html><head><title>" + code + " Bad Gateway</title></head><body><center><h1>" + code +
                       " Bad Gateway</h1></center><hr><center>nginx</center></body></html>\r\n";
            return out;
        }
        case FaultKind::Body:
            out.status = fault.status ? fault.status : 200;
            out.contentType = fault.contentType;
            out.body = fault.body;
            return out;
        case FaultKind::Oversize:
            out.status = fault.status ? fault.status : 200;
            out.generatedBytes = static_cast<std::uint64_t>(fault.megabytes) * 1024 * 1024;
            return out;
        case FaultKind::Close:
            out.status = 0;
            out.wire = WireMode::Close;
            return out;
        default:
            return out;
    }
}

HttpResponse SpoilAnswer(const Fault& fault, HttpResponse answer) {
    switch (fault.kind) {
        case FaultKind::Stall:
            answer.wire = WireMode::Stall;
            answer.stallMs = fault.ms > 0 ? fault.ms : 30000;
            break;
        case FaultKind::Drop:
            answer.wire = WireMode::Drop;
            break;
        case FaultKind::Drip:
            answer.wire = WireMode::Drip;
            answer.stallMs = fault.ms > 0 ? fault.ms : 1000;
            break;
        case FaultKind::NoToken: {
            auto& headers = answer.headers;
            headers.erase(
                std::remove_if(headers.begin(), headers.end(),
                               [](const auto& header) { return EqualsNoCase(header.first, "X-Auth-Token"); }),
                headers.end());
            break;
        }
        case FaultKind::Truncate: {
            std::size_t keep =
                fault.bytes >= 0 ? static_cast<std::size_t>(fault.bytes) : answer.body.size() / 2;
            if (keep < answer.body.size()) answer.body.resize(keep);
            break;
        }
        case FaultKind::WrongTypes: {
            boost::system::error_code ec;
            json::value body = json::parse(answer.body, ec);
            if (ec) break;
            json::value patch;
            if (!fault.patchJson.empty()) patch = json::parse(fault.patchJson, ec);
            if (!ec && patch.is_object()) {
                PatchMembers(body, patch.as_object());
            } else {
                FlipScalars(body);
            }
            answer.body = json::serialize(body);
            break;
        }
        default:
            break;
    }
    return answer;
}

}  // namespace vrmsim
