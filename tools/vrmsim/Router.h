#ifndef VRMSIM_ROUTER_H
#define VRMSIM_ROUTER_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Http.h"

namespace vrmsim {

/// Values of the {name} segments of a matched route.
using PathParams = std::map<std::string, std::string>;
using RouteHandler = std::function<HttpResponse(const HttpRequest&, const PathParams&)>;

/// Maps method and path to a handler. Patterns are "/"-separated; a segment "{name}" matches any one
/// non-empty segment and is handed to the handler. Among matching routes the one with the most
/// literal segments wins, so "/vms/osversions" is preferred to "/vms/{vm}" whatever the order of
/// registration.
class Router {
  public:
    void Add(const std::string& method, const std::string& pattern, RouteHandler handler);

    /// The handler for method and path, or nullptr; fills `params`.
    const RouteHandler* Find(const std::string& method, const std::string& path, PathParams& params) const;

    /// Whether some route (of any method) matches the path.
    bool KnowsPath(const std::string& path) const;

  private:
    struct Route {
        std::string method;
        std::vector<std::string> segments;
        int literals = 0;
        RouteHandler handler;
    };
    static bool Match(const Route& route, const std::vector<std::string>& segments, PathParams* params);

    std::vector<Route> routes_;
};

/// Splits a path at "/" (an empty first segment from the leading "/" is dropped, empty inner
/// segments are kept, so "//x" does not look like "/x").
std::vector<std::string> SplitPath(const std::string& path);

}  // namespace vrmsim

#endif  // VRMSIM_ROUTER_H
