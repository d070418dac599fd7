// The /_sim/ control endpoints: faults, recorded requests, counters, tokens, config and reset.

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>

#include <memory>

#include "Query.h"
#include "Routes.h"

namespace vrmsim {

namespace json = boost::json;

namespace {

HttpResponse ControlError(int status, const std::string& message) {
    return JsonResponse(status, json::object{{"error", message}});
}

/// Parses a control body; an empty body counts as an empty object.
bool ParseBody(const HttpRequest& request, json::value& body, std::string& error) {
    if (request.body.empty()) {
        body = json::object();
        return true;
    }
    boost::system::error_code ec;
    body = json::parse(request.body, ec);
    if (ec) {
        error = "body is not JSON: " + ec.message();
        return false;
    }
    return true;
}

json::object RequestToJson(const RecordedRequest& r) {
    json::array headers;
    for (const auto& h : r.headers) headers.push_back(json::object{{"name", h.first}, {"value", h.second}});
    return {{"seq", r.seq},
            {"method", r.method},
            {"target", r.target},
            {"path", r.path},
            {"query", r.query},
            {"hasQuery", r.hasQuery},
            {"headers", std::move(headers)},
            {"body", r.body},
            {"status", r.status},
            {"fault", r.fault}};
}

json::object ConfigToJson(const RuntimeConfig& config) {
    json::array versions;
    for (const auto& v : config.versions)
        versions.push_back(json::object{{"version", v.first}, {"loginUri", v.second}});
    return {{"pageSize", config.pageSize},
            {"tokenLifetimeSeconds", config.tokenLifetimeSeconds},
            {"user", config.user},
            {"password", config.password},
            {"versions", std::move(versions)},
            {"folderScopeHidesTemplateFlag", config.folderScopeHidesTemplateFlag}};
}

/// Applies the members present in `object` to `config`; false with a message on a wrong type.
bool ConfigFromJson(const json::object& object, RuntimeConfig& config, std::string& error) {
    RuntimeConfig next = config;
    for (const auto& member : object) {
        const auto& key = member.key();
        const auto& value = member.value();
        if (key == "pageSize" && value.is_int64() && value.as_int64() > 0) {
            next.pageSize = static_cast<int>(value.as_int64());
        } else if (key == "tokenLifetimeSeconds" && value.is_int64() && value.as_int64() >= 0) {
            next.tokenLifetimeSeconds = static_cast<int>(value.as_int64());
        } else if (key == "user" && value.is_string()) {
            next.user = std::string(value.as_string());
        } else if (key == "password" && value.is_string()) {
            next.password = std::string(value.as_string());
        } else if (key == "folderScopeHidesTemplateFlag" && value.is_bool()) {
            next.folderScopeHidesTemplateFlag = value.as_bool();
        } else if (key == "versions" && value.is_array()) {
            next.versions.clear();
            for (const auto& entry : value.as_array()) {
                const auto* v = entry.if_object();
                if (!v || !v->contains("version") || !v->at("version").is_string()) {
                    error = "each version needs a string \"version\"";
                    return false;
                }
                std::string loginUri = v->contains("loginUri") && v->at("loginUri").is_string()
                                           ? std::string(v->at("loginUri").as_string())
                                           : std::string("/service/session");
                next.versions.emplace_back(std::string(v->at("version").as_string()), loginUri);
            }
        } else {
            error = "invalid config member \"" + std::string(key) + "\"";
            return false;
        }
    }
    config = next;
    return true;
}

class Control : public RouteArea<Control> {
  public:
    using RouteArea::RouteArea;

    void Register(Router& router) {
        Add(router, "GET", "/_sim/info", &Control::Info);
        Add(router, "POST", "/_sim/reset", &Control::Reset);
        Add(router, "GET", "/_sim/faults", &Control::Faults);
        Add(router, "POST", "/_sim/faults", &Control::AddFaults);
        Add(router, "DELETE", "/_sim/faults", &Control::ClearFaults);
        Add(router, "GET", "/_sim/requests", &Control::Requests);
        Add(router, "DELETE", "/_sim/requests", &Control::ClearRequests);
        Add(router, "GET", "/_sim/stats", &Control::StatsAnswer);
        Add(router, "POST", "/_sim/tokens/expire", &Control::ExpireTokens);
        Add(router, "GET", "/_sim/config", &Control::GetConfig);
        Add(router, "PUT", "/_sim/config", &Control::SetConfig);
    }

  private:
    HttpResponse Reset(const HttpRequest&, const PathParams&) {
        c_.resetLocked();
        return JsonResponse(200, json::object{{"reset", true}});
    }

    HttpResponse ClearFaults(const HttpRequest&, const PathParams&) {
        return JsonResponse(200, json::object{{"cleared", c_.faults.Clear()}});
    }

    HttpResponse ClearRequests(const HttpRequest&, const PathParams&) {
        return JsonResponse(200, json::object{{"cleared", c_.recorder.ClearRequests()}});
    }

    HttpResponse ExpireTokens(const HttpRequest&, const PathParams&) {
        return JsonResponse(200, json::object{{"expired", c_.sessions.ExpireAll()}});
    }

    HttpResponse GetConfig(const HttpRequest&, const PathParams&) {
        return JsonResponse(200, ConfigToJson(c_.config));
    }

    HttpResponse Info(const HttpRequest&, const PathParams&) {
        Model& m = c_.model;
        int templates = 0;
        for (const auto& entry : m.vms) templates += entry.second.isTemplate ? 1 : 0;
        json::object counts{{"sites", m.sites.size()},
                            {"clusters", m.clusters.size()},
                            {"hosts", m.hosts.size()},
                            {"vms", static_cast<int>(m.vms.size()) - templates},
                            {"templates", templates},
                            {"volumes", m.volumes.size()},
                            {"datastores", m.datastores.size()},
                            {"storageUnits", m.storageUnits.size()},
                            {"storageResources", m.storageResources.size()},
                            {"dvSwitchs", m.dvSwitches.size()},
                            {"folders", m.folders.size()},
                            {"tasks", m.tasks.size()}};
        return JsonResponse(200, json::object{{"siteUrn", m.site().urn},
                                              {"siteUri", m.site().uri},
                                              {"hostName", c_.options.hostName},
                                              {"port", c_.port()},
                                              {"user", c_.config.user},
                                              {"counts", std::move(counts)}});
    }

    HttpResponse Faults(const HttpRequest&, const PathParams&) {
        json::array faults;
        for (const auto& fault : c_.faults.Rules()) faults.push_back(FaultToJson(fault));
        return JsonResponse(200, json::object{{"faults", std::move(faults)}});
    }

    HttpResponse AddFaults(const HttpRequest& request, const PathParams&) {
        json::value body;
        std::string error;
        if (!ParseBody(request, body, error)) return ControlError(400, error);
        std::vector<Fault> faults;
        if (!FaultsFromJson(body, faults, error)) return ControlError(400, error);
        for (const auto& fault : faults) c_.faults.Add(fault);
        return JsonResponse(200, json::object{{"added", faults.size()}});
    }

    HttpResponse Requests(const HttpRequest& request, const PathParams&) {
        QueryArgs args(request.rawQuery);
        std::string prefix = args.Last("path").value_or(std::string());
        json::array out;
        for (const auto& record : c_.recorder.Requests()) {
            if (StartsWith(record.path, prefix)) out.push_back(RequestToJson(record));
        }
        json::object body;
        body["total"] = out.size();
        body["requests"] = std::move(out);
        return JsonResponse(200, body);
    }

    HttpResponse StatsAnswer(const HttpRequest&, const PathParams&) {
        const Stats& s = c_.recorder.stats();
        json::object byPath;
        for (const auto& entry : s.requestsByPath) byPath[entry.first] = entry.second;
        return JsonResponse(200, json::object{{"requests", s.requests},
                                              {"tlsConnections", c_.tlsConnections()},
                                              {"logins", s.logins},
                                              {"loginFailures", s.loginFailures},
                                              {"unauthorized", s.unauthorized},
                                              {"faults", s.faults},
                                              {"requestsByPath", std::move(byPath)}});
    }

    HttpResponse SetConfig(const HttpRequest& request, const PathParams&) {
        json::value body;
        std::string error;
        if (!ParseBody(request, body, error)) return ControlError(400, error);
        if (!body.is_object()) return ControlError(400, "body must be an object");
        if (!ConfigFromJson(body.as_object(), c_.config, error)) return ControlError(400, error);
        return JsonResponse(200, ConfigToJson(c_.config));
    }
};

}  // namespace

void RegisterControlRoutes(Router& router, RouteContext& context) {
    std::make_shared<Control>(context)->Register(router);
}

}  // namespace vrmsim
