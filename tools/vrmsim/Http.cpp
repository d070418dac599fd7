#include "Http.h"

#include <boost/json/serialize.hpp>

#include <algorithm>
#include <cctype>

namespace vrmsim {

namespace {
char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}
}  // namespace

bool EqualsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool ContainsNoCase(const std::string& haystack, const std::string& needle) {
    auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                          [](char x, char y) { return Lower(x) == Lower(y); });
    return it != haystack.end() || needle.empty();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::string HttpRequest::Header(const std::string& name) const {
    for (const auto& header : headers) {
        if (EqualsNoCase(header.first, name)) return header.second;
    }
    return std::string();
}

bool HttpRequest::HasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& header) { return EqualsNoCase(header.first, name); });
}

void SplitTarget(const std::string& target, HttpRequest& request) {
    request.target = target;
    auto mark = target.find('?');
    request.hasQuery = mark != std::string::npos;
    request.path = target.substr(0, mark);
    request.rawQuery = request.hasQuery ? target.substr(mark + 1) : std::string();
}

HttpResponse JsonResponse(int status, const boost::json::value& body) {
    HttpResponse response;
    response.status = status;
    response.body = boost::json::serialize(body);
    return response;
}

HttpResponse ErrorResponse(int status, const std::string& code, const std::string& des) {
    return JsonResponse(status, boost::json::object{{"errorCode", code}, {"errorDes", des}});
}

}  // namespace vrmsim
