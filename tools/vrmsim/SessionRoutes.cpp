// Version list and login: the only requests a client sends before it holds a session token.

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include "Routes.h"

namespace vrmsim {

namespace json = boost::json;

namespace {

HttpResponse Versions(RouteContext& context) {
    json::array versions;
    for (const auto& entry : context.config.versions) {
        versions.push_back(json::object{{"version", entry.first}, {"loginUri", entry.second}});
    }
    return JsonResponse(200, json::object{{"versions", std::move(versions)}});
}

HttpResponse LoginRefused(RouteContext& context, const std::string& why) {
    ++context.recorder.stats().loginFailures;
    return ErrorResponse(401, errors::kLoginFailed, why);
}

HttpResponse Login(RouteContext& context, const HttpRequest& request) {
    for (const char* header : {"X-Auth-User", "X-Auth-Key"}) {
        if (!request.HasHeader(header))
            return LoginRefused(context, std::string("Missing header ") + header + ".");
    }
    // The credentials come first, as on a VRM: a wrong password gets the password refusal whatever
    // else the request lacks. The key is compared as sent: lower-case hex of the password's SHA-256.
    if (request.Header("X-Auth-User") != context.config.user ||
        request.Header("X-Auth-Key") != Sha256Hex(context.config.password)) {
        return LoginRefused(context, "The user name or password is incorrect.");
    }
    // Other clients of the same API leave X-Auth-AuthType out and a VRM accepts that; the request
    // record keeps whatever was sent, so tests still see whether a client sent it.
    if (!request.HasHeader("X-Auth-UserType"))
        return LoginRefused(context, "Missing header X-Auth-UserType.");
    std::string token = context.sessions.Issue(context.now(), context.config.tokenLifetimeSeconds);
    ++context.recorder.stats().logins;
    const Site& site = context.model.site();
    HttpResponse response =
        JsonResponse(200, json::object{{"userName", context.config.user},
                                       {"userUrn", site.urn + ":users:1"},
                                       {"userType", "0"},
                                       {"roleNames", json::array{"administrator"}},
                                       {"siteUrn", site.urn},
                                       {"siteUri", site.uri},
                                       {"lastLoginTime", Model::FormatTime(context.now())},
                                       {"passwordExpired", false}});
    response.headers.emplace_back("X-Auth-Token", token);
    return response;
}

HttpResponse Logout(RouteContext& context, const HttpRequest& request) {
    context.sessions.Drop(request.Header("X-Auth-Token"));
    return JsonResponse(200, json::object{});
}

}  // namespace

bool IsPublicRequest(const HttpRequest& request) {
    return (request.method == "GET" && request.path == "/service/versions") ||
           (request.method == "POST" && request.path == "/service/session");
}

void RegisterSessionRoutes(Router& router, RouteContext& context) {
    router.Add("GET", "/service/versions",
               [&context](const HttpRequest&, const PathParams&) { return Versions(context); });
    router.Add("POST", "/service/session",
               [&context](const HttpRequest& request, const PathParams&) { return Login(context, request); });
    router.Add("DELETE", "/service/session", [&context](const HttpRequest& request, const PathParams&) {
        return Logout(context, request);
    });
}

}  // namespace vrmsim
