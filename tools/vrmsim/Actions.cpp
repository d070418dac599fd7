#include "Actions.h"

#include <boost/json/parse.hpp>

#include <algorithm>
#include <cctype>
#include <climits>

#include "State.h"

namespace vrmsim {

namespace json = boost::json;

// ---- BodyReader ----

bool BodyReader::Parse(const std::string& text, json::object& out, bool allowEmpty) {
    if (text.empty() && allowEmpty) {
        out = json::object();
        return true;
    }
    boost::system::error_code ec;
    json::value value = json::parse(text, ec);
    if (ec || !value.is_object()) {
        Fail("The request body is not a JSON object.");
        return false;
    }
    out = std::move(value.as_object());
    return true;
}

void BodyReader::Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
}

const json::value* BodyReader::Member(const json::object& object, const char* key, bool required,
                                      bool (*fits)(const json::value&), const char* kind) {
    auto it = object.find(key);
    if (it == object.end() || it->value().is_null()) {
        if (required) Fail(std::string("Missing member \"") + key + "\".");
        return nullptr;
    }
    if (!fits(it->value())) {
        Fail(std::string("Member \"") + key + "\" must be " + kind + ".");
        return nullptr;
    }
    return &it->value();
}

std::optional<std::string> BodyReader::Str(const json::object& object, const char* key, bool required) {
    const json::value* value = Member(
        object, key, required, [](const json::value& v) { return v.is_string(); }, "a string");
    if (!value) return std::nullopt;
    return std::string(value->as_string());
}

std::optional<std::int64_t> BodyReader::Int(const json::object& object, const char* key, std::int64_t min,
                                            std::int64_t max, bool required) {
    const json::value* value = Member(
        object, key, required, [](const json::value& v) { return v.is_int64() || v.is_uint64(); },
        "an integer");
    if (!value) return std::nullopt;
    bool inRange = false;
    std::int64_t number = 0;
    if (value->is_int64()) {
        number = value->as_int64();
        inRange = number >= min && number <= max;
    } else {
        inRange = value->as_uint64() <= static_cast<std::uint64_t>(max);
        number = inRange ? static_cast<std::int64_t>(value->as_uint64()) : 0;
    }
    if (!inRange) {
        Fail(std::string("Member \"") + key + "\" is out of range [" + std::to_string(min) + ", " +
             std::to_string(max) + "].");
        return std::nullopt;
    }
    return number;
}

std::optional<bool> BodyReader::Bool(const json::object& object, const char* key, bool required) {
    const json::value* value = Member(
        object, key, required, [](const json::value& v) { return v.is_bool(); }, "a boolean");
    if (!value) return std::nullopt;
    return value->as_bool();
}

const json::object* BodyReader::Obj(const json::object& object, const char* key, bool required) {
    const json::value* value = Member(
        object, key, required, [](const json::value& v) { return v.is_object(); }, "an object");
    return value ? &value->as_object() : nullptr;
}

const json::array* BodyReader::Arr(const json::object& object, const char* key, bool required) {
    const json::value* value = Member(
        object, key, required, [](const json::value& v) { return v.is_array(); }, "an array");
    return value ? &value->as_array() : nullptr;
}

HttpResponse BodyReader::BadRequest() const {
    return BadArgument(error_.empty() ? std::string("Invalid request.") : error_);
}

// ---- answers and identifiers ----

HttpResponse BadArgument(const std::string& why) {
    return ErrorResponse(400, errors::kBadArgument, why);
}

HttpResponse NoSuchObject(const std::string& what) {
    return ErrorResponse(404, errors::kNotFound, "The object does not exist: " + what + ".");
}

HttpResponse Refuse(int status, const char* code, const std::string& des) {
    return ErrorResponse(status, code, des);
}

std::string PathToUrn(const std::string& path) {
    static const std::string kPrefix = "/service/";
    if (path.compare(0, kPrefix.size(), kPrefix) != 0) return std::string();
    std::string urn = "urn:" + path.substr(kPrefix.size());
    std::replace(urn.begin(), urn.end(), '/', ':');
    return urn;
}

std::string RandomUuid() {
    std::string hex = RandomHex(16);
    for (auto& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    hex[12] = '4';
    hex[16] = "89ab"[hex[16] % 4];
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) +
           "-" + hex.substr(20);
}

void AddSiteRoute(Router& router, RouteContext& context, const std::string& method,
                  const std::string& pattern, ActionHandler handler) {
    RouteContext* c = &context;
    router.Add(method, pattern,
               [c, handler = std::move(handler)](const HttpRequest& request, const PathParams& params) {
                   auto site = params.find("site");
                   if (site != params.end() && site->second != c->model.site().id) {
                       return NoSuchObject("site " + site->second);
                   }
                   return handler(request, params);
               });
}

HttpResponse WithBody(const HttpRequest& request, BodyRule rule,
                      const std::function<HttpResponse(BodyReader&, const json::object&)>& handler) {
    BodyReader reader;
    json::object body;
    if (!reader.Parse(request.body, body, rule == BodyRule::ObjectOrEmpty)) return reader.BadRequest();
    return handler(reader, body);
}

void AddBodyRoute(Router& router, RouteContext& context, const std::string& method,
                  const std::string& pattern, BodyHandler handler, BodyRule rule) {
    AddSiteRoute(router, context, method, pattern,
                 [handler = std::move(handler), rule](const HttpRequest& request, const PathParams&) {
                     return WithBody(request, rule, [&](BodyReader& reader, const json::object& body) {
                         return handler(request, reader, body);
                     });
                 });
}

Vm* VmByNumber(Model& model, long number) {
    auto it = model.vms.find(number);
    return it != model.vms.end() ? &it->second : nullptr;
}

Vm* VmOfPath(Model& model, const HttpRequest& request, const PathParams& params, std::string& missing) {
    missing = PathToUrn(request.path);
    return model.FindVm(model.Urn("vms:" + params.at("id")));
}

Volume* VolumeOfPath(Model& model, const HttpRequest&, const PathParams& params, std::string& missing) {
    missing = model.Urn("volumes:" + params.at("id"));
    return model.FindVolume(missing);
}

// ---- tasks ----

namespace {

bool RuleMatches(const OutcomeRule& rule, const std::string& target, const HttpRequest& request) {
    return rule.target == target && (rule.method.empty() || rule.method == request.method) &&
           StartsWith(request.path, rule.path);
}

}  // namespace

std::optional<OutcomeRule> TakeOutcome(Model& model, const std::string& target, const HttpRequest& request) {
    auto& rules = model.outcomeRules;
    for (auto it = rules.begin(); it != rules.end(); ++it) {
        if (!RuleMatches(*it, target, request)) continue;
        OutcomeRule taken = *it;
        if (it->count > 0 && --it->count == 0) rules.erase(it);
        return taken;
    }
    return std::nullopt;
}

Task& BeginTask(RouteContext& context, const HttpRequest& request, const std::string& type,
                const std::string& entityUrn, const std::string& entityUri,
                std::function<void(Model&, Task&)> onFinish) {
    Model& model = context.model;
    const BackupSettings& settings = model.backupSettings;
    std::optional<OutcomeRule> rule = TakeOutcome(model, "task", request);
    int polls = settings.taskPolls;
    int seconds = settings.taskSeconds;
    if (rule) {
        if (rule->polls >= 0) polls = rule->polls;
        if (rule->seconds > 0) seconds = rule->seconds;
        if (rule->never) {
            polls = INT_MAX;
            seconds = 0;
        }
    }
    bool failing = rule && rule->fail;
    // A failing task must not finish inside StartTask, before its failure is known; a timed one must
    // see its own clock.
    Task& task = context.model.StartTask(type, entityUrn, entityUri, context.now(),
                                         (failing || seconds > 0) ? std::max(polls, 1) : polls, nullptr);
    task.secondsToFinish = seconds;
    if (failing) {
        task.fail = true;
        task.reason = rule->reason.empty() ? "10300001" : rule->reason;
        task.reasonDes = rule->reasonDes.empty() ? "The task failed." : rule->reasonDes;
    }
    if (task.status == "success") {
        // With no polls to wait for, StartTask has ended the task already: finish it now.
        if (onFinish) onFinish(model, task);
    } else {
        task.onFinish = std::move(onFinish);
    }
    return task;
}

HttpResponse TaskAnswer(const Task& task, const std::string& urn, const std::string& uri) {
    json::object answer{{"taskUrn", task.urn}, {"taskUri", task.uri}};
    if (!urn.empty()) answer["urn"] = urn;
    if (!uri.empty()) answer["uri"] = uri;
    return JsonResponse(200, answer);
}

// ---- changed blocks ----

std::uint64_t VolumeBlocks(const Volume& volume, int sectorOfBlock) {
    if (sectorOfBlock <= 0 || volume.quantityGB <= 0) return 0;
    return static_cast<std::uint64_t>(volume.quantityGB) * 2097152ULL /
           static_cast<std::uint64_t>(sectorOfBlock);
}

bool SnapshotCovers(const Snapshot& snapshot, const std::string& volumeUrn) {
    return std::any_of(snapshot.volsnapshots.begin(), snapshot.volsnapshots.end(),
                       [&](const VolSnapshot& entry) { return entry.volumeUrn == volumeUrn; });
}

VolumeCbt& CbtOf(Model& model, const Volume& volume) {
    auto found = model.cbt.find(volume.id);
    if (found != model.cbt.end()) return found->second;
    VolumeCbt& history = model.cbt[volume.id];
    history.sectorOfBlock = std::max(1, model.backupSettings.sectorOfBlock);
    const std::uint64_t blocks = VolumeBlocks(volume, history.sectorOfBlock);
    const std::uint64_t usedSectors =
        static_cast<std::uint64_t>(std::max<std::int64_t>(volume.userUsedSizeMB, 0)) * 2048;
    history.base.Add(0, std::min(blocks, usedSectors / static_cast<std::uint64_t>(history.sectorOfBlock)));
    const Vm* vm = volume.vmUrn.empty() ? nullptr : model.FindVm(volume.vmUrn);
    if (!vm) return history;
    // Snapshots taken before the simulator tracked anything: each closes a few written blocks, so
    // that the changes between them are not empty.
    for (const auto& entry : vm->snapshots) {
        const Snapshot& snapshot = entry.second;
        if (snapshot.status != "ready") continue;
        for (const VolSnapshot& disk : snapshot.volsnapshots) {
            if (disk.volumeUrn != volume.urn || disk.chgID.empty()) continue;
            std::uint64_t start = (history.marks.size() + 1) * 4096;
            if (start < blocks) history.open.Add(start, std::min<std::uint64_t>(8, blocks - start));
            history.AddMark(disk.chgID, disk.snapUuid);
        }
    }
    return history;
}

// ---- registration ----

void RegisterManagementRoutes(Router& router, RouteContext& context) {
    RegisterVmRoutes(router, context);
    RegisterSnapshotRoutes(router, context);
    RegisterVolumeRoutes(router, context);
    RegisterBackupResourceRoutes(router, context);
    RegisterDescriptorRoutes(router, context);
    RegisterBackupControlRoutes(router, context);
}

}  // namespace vrmsim
