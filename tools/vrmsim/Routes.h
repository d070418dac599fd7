#ifndef VRMSIM_ROUTES_H
#define VRMSIM_ROUTES_H

// What route handlers get to work with, and the registration function of each area. Every handler
// runs with the model's mutex held.

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "Faults.h"
#include "Model.h"
#include "Router.h"
#include "State.h"
#include "VrmSimulator.h"

namespace vrmsim {

struct RouteContext {
    Model& model;
    RuntimeConfig& config;
    const Options& options;
    Sessions& sessions;
    Recorder& recorder;
    FaultTable& faults;
    std::function<std::int64_t()> now;              ///< clock in whole seconds
    std::function<void()> resetLocked;              ///< Reset() with the mutex already held
    std::function<int()> port;                      ///< bound port
    std::function<std::uint64_t()> tlsConnections;  ///< TLS connections since start or reset
};

/// Base of the classes that answer one area of routes: holds the context and turns member functions
/// into handlers. A handler holds its object, so an area lives as long as the router that calls it.
template <typename Area>
class RouteArea : public std::enable_shared_from_this<Area> {
  public:
    explicit RouteArea(RouteContext& context) : c_(context) {}

  protected:
    /// `member` of this object as a function (of the same arguments).
    template <typename Result, typename... Args>
    std::function<Result(Args...)> Bind(Result (Area::*member)(Args...)) {
        std::shared_ptr<Area> self = this->shared_from_this();
        return [self, member](Args... args) { return ((*self).*member)(std::forward<Args>(args)...); };
    }

    /// Adds a route (with no site check) that `member` answers.
    void Add(Router& router, const std::string& method, const std::string& pattern,
             HttpResponse (Area::*member)(const HttpRequest&, const PathParams&)) {
        router.Add(method, pattern, Bind(member));
    }

    Model& m() { return c_.model; }

    RouteContext& c_;
};

/// GET /service/versions, POST and DELETE /service/session.
void RegisterSessionRoutes(Router& router, RouteContext& context);
/// Every inventory GET below /service/sites.
void RegisterInventoryRoutes(Router& router, RouteContext& context);
/// The /_sim/ control endpoints.
void RegisterControlRoutes(Router& router, RouteContext& context);
/// Every state-changing request (VMs, snapshots, volumes, NICs, datastores, changed blocks, backup
/// resources, OVF descriptors) and their /_sim/ controls (Actions.h).
void RegisterManagementRoutes(Router& router, RouteContext& context);

/// Paths the simulator answers without a session token.
bool IsPublicRequest(const HttpRequest& request);

}  // namespace vrmsim

#endif  // VRMSIM_ROUTES_H
