// Control endpoints of the state-changing side (not part of the VRM's API; no token, not recorded):
//   GET/PUT    /_sim/backup                 task and resource timing, block size, limits
//   GET/POST/DELETE /_sim/outcomes          how the next tasks or backup resources end
//   POST       /_sim/volumes/<id>/write     mark blocks of a volume written
//   GET        /_sim/volumes/<id>/cbt       the changed-block history of a volume

#include <boost/json/array.hpp>

#include <memory>

#include "Actions.h"

namespace vrmsim {

namespace json = boost::json;

namespace {

constexpr std::int64_t kLimit = std::int64_t{1} << 60;  ///< keeps offset + length + block size in range

HttpResponse ControlError(const std::string& message) {
    return JsonResponse(400, json::object{{"error", message}});
}

/// The settings of GET and PUT /_sim/backup, in the order they are written, with the values PUT takes.
struct Setting {
    const char* key;
    int BackupSettings::*field;
    std::int64_t min, max;
};
constexpr Setting kSettings[] = {{"taskPolls", &BackupSettings::taskPolls, 0, 1000000},
                                 {"taskSeconds", &BackupSettings::taskSeconds, 0, 86400 * 365},
                                 {"resourcePolls", &BackupSettings::resourcePolls, 0, 1000000},
                                 {"releaseReads", &BackupSettings::releaseReads, 0, 1000000},
                                 {"sectorOfBlock", &BackupSettings::sectorOfBlock, 1, 1 << 30},
                                 {"snapshotLimit", &BackupSettings::snapshotLimit, 0, 1000000},
                                 {"maxBlocksPerPage", &BackupSettings::maxBlocksPerPage, 1, 1 << 30}};

json::object SettingsToJson(const BackupSettings& settings) {
    json::object out;
    for (const Setting& setting : kSettings) out[setting.key] = settings.*setting.field;
    return out;
}

json::object RuleToJson(const OutcomeRule& r) {
    return {{"target", r.target}, {"method", r.method},      {"path", r.path}, {"count", r.count},
            {"polls", r.polls},   {"seconds", r.seconds},    {"fail", r.fail}, {"never", r.never},
            {"reason", r.reason}, {"reasonDes", r.reasonDes}};
}

bool RuleFromJson(BodyReader& reader, const json::value& value, OutcomeRule& rule) {
    if (!value.is_object()) {
        reader.Fail("an outcome rule must be an object");
        return false;
    }
    const json::object& o = value.as_object();
    rule.target = reader.Str(o, "target").value_or("task");
    rule.method = reader.Str(o, "method").value_or("");
    rule.path = reader.Str(o, "path").value_or("");
    rule.count = static_cast<int>(reader.Int(o, "count", -1, 1000000).value_or(1));
    rule.polls = static_cast<int>(reader.Int(o, "polls", -1, 1000000).value_or(-1));
    rule.seconds = static_cast<int>(reader.Int(o, "seconds", 0, 86400 * 365).value_or(0));
    rule.fail = reader.Bool(o, "fail").value_or(false);
    rule.never = reader.Bool(o, "never").value_or(false);
    rule.reason = reader.Str(o, "reason").value_or("");
    rule.reasonDes = reader.Str(o, "reasonDes").value_or("");
    if (rule.target != "task" && rule.target != "backupresource")
        reader.Fail("target must be \"task\" or \"backupresource\"");
    if (rule.count == 0) reader.Fail("count must not be 0");
    return reader.ok();
}

class BackupControl : public RouteArea<BackupControl> {
  public:
    using RouteArea::RouteArea;

    void Register(Router& router) {
        Add(router, "GET", "/_sim/backup", &BackupControl::GetSettings);
        Add(router, "PUT", "/_sim/backup", &BackupControl::PutSettings);
        Add(router, "GET", "/_sim/outcomes", &BackupControl::GetRules);
        Add(router, "POST", "/_sim/outcomes", &BackupControl::AddRules);
        Add(router, "DELETE", "/_sim/outcomes", &BackupControl::ClearRules);
        Add(router, "POST", "/_sim/volumes/{id}/write", &BackupControl::Write);
        Add(router, "GET", "/_sim/volumes/{id}/cbt", &BackupControl::History);
    }

  private:
    HttpResponse GetSettings(const HttpRequest&, const PathParams&) {
        return JsonResponse(200, SettingsToJson(m().backupSettings));
    }

    HttpResponse PutSettings(const HttpRequest& request, const PathParams&) {
        BodyReader reader;
        json::object body;
        if (!reader.Parse(request.body, body)) return ControlError(reader.error());
        BackupSettings next = m().backupSettings;
        for (const Setting& setting : kSettings) {
            auto value = reader.Int(body, setting.key, setting.min, setting.max);
            if (value) next.*setting.field = static_cast<int>(*value);
        }
        for (const auto& member : body) {
            if (!SettingsToJson(next).contains(member.key()))
                reader.Fail("unknown setting \"" + std::string(member.key()) + "\"");
        }
        if (!reader.ok()) return ControlError(reader.error());
        m().backupSettings = next;
        return JsonResponse(200, SettingsToJson(next));
    }

    HttpResponse GetRules(const HttpRequest&, const PathParams&) {
        json::array rules;
        for (const auto& rule : m().outcomeRules) rules.push_back(RuleToJson(rule));
        return JsonResponse(200, json::object{{"outcomes", std::move(rules)}});
    }

    /// One rule object, or {"outcomes": [rule, ...]}; nothing is added when any rule is invalid.
    HttpResponse AddRules(const HttpRequest& request, const PathParams&) {
        BodyReader reader;
        json::object body;
        if (!reader.Parse(request.body, body)) return ControlError(reader.error());
        std::vector<OutcomeRule> rules;
        if (const json::array* list = reader.Arr(body, "outcomes")) {
            for (const json::value& element : *list) {
                OutcomeRule rule;
                if (!RuleFromJson(reader, element, rule)) break;
                rules.push_back(rule);
            }
        } else if (reader.ok()) {
            OutcomeRule rule;
            if (RuleFromJson(reader, body, rule)) rules.push_back(rule);
        }
        if (!reader.ok()) return ControlError(reader.error());
        m().outcomeRules.insert(m().outcomeRules.end(), rules.begin(), rules.end());
        return JsonResponse(200, json::object{{"added", rules.size()}});
    }

    HttpResponse ClearRules(const HttpRequest&, const PathParams&) {
        std::size_t count = m().outcomeRules.size();
        m().outcomeRules.clear();
        return JsonResponse(200, json::object{{"cleared", count}});
    }

    Volume* VolumeOf(const PathParams& params) {
        return m().FindVolume(m().Urn("volumes:" + params.at("id")));
    }

    /// Body: {"blocks": [{"start": n, "count": n}, ...]} in blocks of the volume's history and/or
    /// {"bytes": [{"offset": n, "length": n}, ...]} in bytes (every block touched counts).
    HttpResponse Write(const HttpRequest& request, const PathParams& params) {
        Volume* volume = VolumeOf(params);
        if (!volume) return JsonResponse(404, json::object{{"error", "no volume " + params.at("id")}});
        BodyReader reader;
        json::object body;
        if (!reader.Parse(request.body, body)) return ControlError(reader.error());
        VolumeCbt& history = CbtOf(m(), *volume);
        const std::uint64_t blocks = VolumeBlocks(*volume, history.sectorOfBlock);
        const std::uint64_t blockBytes = static_cast<std::uint64_t>(history.sectorOfBlock) * 512;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> runs;
        auto read = [&](const char* list, const char* first, const char* size, std::uint64_t unit) {
            const json::array* entries = reader.Arr(body, list);
            if (!entries) return;
            for (const json::value& entry : *entries) {
                if (!entry.is_object()) {
                    reader.Fail(std::string("each element of \"") + list + "\" must be an object");
                    return;
                }
                auto start = reader.Int(entry.as_object(), first, 0, kLimit, true);
                auto length = reader.Int(entry.as_object(), size, 1, kLimit, true);
                if (!reader.ok()) return;
                std::uint64_t from = static_cast<std::uint64_t>(*start) / unit;
                std::uint64_t to =
                    (static_cast<std::uint64_t>(*start) + static_cast<std::uint64_t>(*length) + unit - 1) /
                    unit;
                if (to > blocks) {
                    reader.Fail("the range ends beyond the " + std::to_string(blocks) +
                                " blocks of the volume");
                    return;
                }
                runs.emplace_back(from, to - from);
            }
        };
        read("blocks", "start", "count", 1);
        read("bytes", "offset", "length", blockBytes);
        if (reader.ok() && runs.empty()) reader.Fail("give \"blocks\" or \"bytes\"");
        if (!reader.ok()) return ControlError(reader.error());
        std::uint64_t marked = 0;
        for (const auto& run : runs) {
            history.open.Add(run.first, run.second);
            marked += run.second;
        }
        return JsonResponse(200, json::object{{"volumeUrn", volume->urn},
                                              {"sectorOfBlock", history.sectorOfBlock},
                                              {"blocks", blocks},
                                              {"marked", marked},
                                              {"written", history.open.Count()}});
    }

    HttpResponse History(const HttpRequest&, const PathParams& params) {
        Volume* volume = VolumeOf(params);
        if (!volume) return JsonResponse(404, json::object{{"error", "no volume " + params.at("id")}});
        const VolumeCbt& history = CbtOf(m(), *volume);
        json::array marks;
        for (const CbtMark& mark : history.marks) {
            marks.push_back(json::object{
                {"chgID", mark.chgID}, {"snapUuid", mark.snapUuid}, {"written", mark.written.Count()}});
        }
        return JsonResponse(200, json::object{{"volumeUrn", volume->urn},
                                              {"volCBTCreateTime", volume->volCBTCreateTime},
                                              {"sectorOfBlock", history.sectorOfBlock},
                                              {"blocks", VolumeBlocks(*volume, history.sectorOfBlock)},
                                              {"allocatedBeforeTracking", history.base.Count()},
                                              {"marks", std::move(marks)},
                                              {"written", history.open.Count()}});
    }
};

}  // namespace

void RegisterBackupControlRoutes(Router& router, RouteContext& context) {
    std::make_shared<BackupControl>(context)->Register(router);
}

}  // namespace vrmsim
