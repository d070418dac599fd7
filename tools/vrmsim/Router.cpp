#include "Router.h"

namespace vrmsim {

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> segments;
    std::size_t start = (!path.empty() && path[0] == '/') ? 1 : 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        segments.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return segments;
}

void Router::Add(const std::string& method, const std::string& pattern, RouteHandler handler) {
    Route route;
    route.method = method;
    route.segments = SplitPath(pattern);
    for (const auto& segment : route.segments) {
        if (segment.empty() || segment.front() != '{') ++route.literals;
    }
    route.handler = std::move(handler);
    routes_.push_back(std::move(route));
}

bool Router::Match(const Route& route, const std::vector<std::string>& segments, PathParams* params) {
    if (route.segments.size() != segments.size()) return false;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const auto& want = route.segments[i];
        bool isParam = !want.empty() && want.front() == '{' && want.back() == '}';
        if (isParam) {
            if (segments[i].empty()) return false;
            if (params) (*params)[want.substr(1, want.size() - 2)] = segments[i];
        } else if (want != segments[i]) {
            return false;
        }
    }
    return true;
}

const RouteHandler* Router::Find(const std::string& method, const std::string& path,
                                 PathParams& params) const {
    auto segments = SplitPath(path);
    const Route* best = nullptr;
    for (const auto& route : routes_) {
        if (route.method != method || !Match(route, segments, nullptr)) continue;
        if (!best || route.literals > best->literals) best = &route;
    }
    if (!best) return nullptr;
    params.clear();
    Match(*best, segments, &params);
    return &best->handler;
}

bool Router::KnowsPath(const std::string& path) const {
    auto segments = SplitPath(path);
    for (const auto& route : routes_) {
        if (Match(route, segments, nullptr)) return true;
    }
    return false;
}

}  // namespace vrmsim
