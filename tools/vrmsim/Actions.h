#ifndef VRMSIM_ACTIONS_H
#define VRMSIM_ACTIONS_H

// Shared pieces of the state-changing side of the simulator (VMs, snapshots, volumes, NICs,
// datastores, changed blocks, backup resources, descriptors): reading request bodies member by member
// with their JSON types, starting tasks under the outcome rules, error answers and the changed-block
// history of a volume. Everything here runs with the model's mutex held.

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

#include "Routes.h"

namespace vrmsim {

/// Error codes of the state-changing side.
namespace errors {
inline constexpr const char* kTaskBusy = "10300025";       ///< another task holds the object (retryable)
inline constexpr const char* kSnapshotLimit = "10300110";  ///< too many snapshots of one type
inline constexpr const char* kWrongState = "10400010";     ///< the object's state forbids the request
inline constexpr const char* kInUse = "10300104";          ///< the object is used by another one
inline constexpr const char* kCbtDisabled = "10420001";    ///< no changed-block tracking on the volume
inline constexpr const char* kCbtMismatch = "10420005";    ///< chgID, snapUuid or tracking time unknown
inline constexpr const char* kBadDescriptor = "10400020";  ///< OVF descriptor not readable
inline constexpr const char* kNoSpace = "10300120";        ///< the datastore has no room
inline constexpr const char* kAlreadyExists = "10300130";  ///< UUID or MAC address already used
}  // namespace errors

/// Reads the members of request bodies and remembers the first problem. Integers must be JSON
/// integers (not strings or decimals), booleans JSON booleans, strings JSON strings.
class BodyReader {
  public:
    /// Parses `text` as a JSON object; an empty text counts as an empty object when `allowEmpty`.
    bool Parse(const std::string& text, boost::json::object& out, bool allowEmpty = false);

    std::optional<std::string> Str(const boost::json::object& object, const char* key, bool required = false);
    std::optional<std::int64_t> Int(const boost::json::object& object, const char* key, std::int64_t min,
                                    std::int64_t max, bool required = false);
    std::optional<bool> Bool(const boost::json::object& object, const char* key, bool required = false);
    const boost::json::object* Obj(const boost::json::object& object, const char* key, bool required = false);
    const boost::json::array* Arr(const boost::json::object& object, const char* key, bool required = false);
    /// Records a problem of the caller's own (the first one wins).
    void Fail(const std::string& why);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    /// 400 with the VRM's bad-argument error body naming the problem.
    HttpResponse BadRequest() const;

  private:
    /// The member when it is there (and not null) and `fits`; else nullptr, with a problem recorded when
    /// it is required or of another type than `kind` ("a string").
    const boost::json::value* Member(const boost::json::object& object, const char* key, bool required,
                                     bool (*fits)(const boost::json::value&), const char* kind);

    std::string error_;
};

/// 400 with the bad-argument error body.
HttpResponse BadArgument(const std::string& why);
/// 404 with the not-found error body.
HttpResponse NoSuchObject(const std::string& what);
/// `status` with the error body {errorCode: code, errorDes: des}.
HttpResponse Refuse(int status, const char* code, const std::string& des);

/// The URN of the object a path below /service names: "/service/a/b" -> "urn:a:b".
std::string PathToUrn(const std::string& path);

/// A random UUID text (version 4 form).
std::string RandomUuid();

using ActionHandler = std::function<HttpResponse(const HttpRequest&, const PathParams&)>;

/// Adds a route whose pattern starts with "/service/sites/{site}"; requests for another site than the
/// simulated one answer 404.
void AddSiteRoute(Router& router, RouteContext& context, const std::string& method,
                  const std::string& pattern, ActionHandler handler);

/// The object a route's path names, or nullptr with `missing` set to what the 404 answer names.
template <typename Object>
using Lookup = Object* (*)(Model& model, const HttpRequest& request, const PathParams& params,
                           std::string& missing);

/// The VM or template with this number (the key of Model::vms), or nullptr: what a task's end looks up,
/// since the VM may be gone by then.
Vm* VmByNumber(Model& model, long number);

/// The VM of "{id}"; a 404 names the request's path as a URN.
Vm* VmOfPath(Model& model, const HttpRequest& request, const PathParams& params, std::string& missing);
/// The volume of "{id}"; a 404 names its URN.
Volume* VolumeOfPath(Model& model, const HttpRequest& request, const PathParams& params,
                     std::string& missing);

/// How a route takes its request body: a JSON object, or that or nothing at all (read as {}).
enum class BodyRule { Object, ObjectOrEmpty };

/// A handler of a request whose body is read already; `reader` checks the body's members.
using BodyHandler =
    std::function<HttpResponse(const HttpRequest&, BodyReader& reader, const boost::json::object& body)>;

/// A handler of a request on an existing object, with the body read as for BodyHandler.
template <typename Object>
using ObjectHandler = std::function<HttpResponse(const HttpRequest&, Object& object, BodyReader& reader,
                                                 const boost::json::object& body)>;

/// Reads the body of `request` by `rule`: 400 when it does not keep to it, else the answer of `handler`.
HttpResponse WithBody(const HttpRequest& request, BodyRule rule,
                      const std::function<HttpResponse(BodyReader&, const boost::json::object&)>& handler);

/// Adds a site route whose body is read by `rule` before `handler` runs.
void AddBodyRoute(Router& router, RouteContext& context, const std::string& method,
                  const std::string& pattern, BodyHandler handler, BodyRule rule = BodyRule::Object);

/// Adds a site route on the object `find` names: 404 when there is none, then the body as for
/// AddBodyRoute, then `handler` with the object.
template <typename Object>
void AddObjectRoute(Router& router, RouteContext& context, const std::string& method,
                    const std::string& pattern, Lookup<Object> find,
                    typename std::common_type<ObjectHandler<Object>>::type handler,
                    BodyRule rule = BodyRule::Object) {
    Model* model = &context.model;
    AddSiteRoute(router, context, method, pattern,
                 [model, find, handler, rule](const HttpRequest& request, const PathParams& params) {
                     std::string missing;
                     Object* object = find(*model, request, params, missing);
                     if (!object) return NoSuchObject(missing);
                     return WithBody(request, rule, [&](BodyReader& reader, const boost::json::object& body) {
                         return handler(request, *object, reader, body);
                     });
                 });
}

/// Starts a task for a request, ending as the settings and the first matching outcome rule say.
/// `onFinish` runs when the task ends (also when it fails: check task.status).
Task& BeginTask(RouteContext& context, const HttpRequest& request, const std::string& type,
                const std::string& entityUrn, const std::string& entityUri,
                std::function<void(Model&, Task&)> onFinish);

/// The answer that names a started task, and optionally the object it creates.
HttpResponse TaskAnswer(const Task& task, const std::string& urn = std::string(),
                        const std::string& uri = std::string());

/// Takes the first outcome rule of `target` that matches the request (consuming one use), if any.
std::optional<OutcomeRule> TakeOutcome(Model& model, const std::string& target, const HttpRequest& request);

/// Number of blocks of a volume at its tracking's block size.
std::uint64_t VolumeBlocks(const Volume& volume, int sectorOfBlock);

/// The changed-block history of a volume, started on first use: the volume's used space counts as
/// allocated from block 0 on, and every existing ready snapshot of its VM with a chgID for the volume
/// becomes a mark (in snapshot order) that closes 8 written blocks at (index + 1) * 4096.
VolumeCbt& CbtOf(Model& model, const Volume& volume);

/// Whether a snapshot of the VM holds a disk snapshot of this volume.
bool SnapshotCovers(const Snapshot& snapshot, const std::string& volumeUrn);

/// Registration of each area (all called by RegisterManagementRoutes).
void RegisterVmRoutes(Router& router, RouteContext& context);
void RegisterSnapshotRoutes(Router& router, RouteContext& context);
void RegisterVolumeRoutes(Router& router, RouteContext& context);
void RegisterBackupResourceRoutes(Router& router, RouteContext& context);
void RegisterDescriptorRoutes(Router& router, RouteContext& context);
void RegisterBackupControlRoutes(Router& router, RouteContext& context);

}  // namespace vrmsim

#endif  // VRMSIM_ACTIONS_H
