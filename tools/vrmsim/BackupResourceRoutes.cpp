// Backup resources: direct access to a volume's data for a backup (of a disk snapshot) or a restore.
// A resource is addressed by the id of the task that created it, reports "creating" until it is ready
// after some reads of it ("success", or "failed" when an outcome rule says so), can be extended with a
// new "delay", and is gone after its DELETE (or after a configured number of further reads).

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>

#include "Actions.h"
#include "Render.h"
#include "State.h"

namespace vrmsim {

namespace json = boost::json;

namespace {

constexpr std::int64_t kMaxDelaySeconds = 7 * 86400;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

/// The backup resource at the request's path, unless it is released already.
BackupResource* ResourceOfPath(Model& model, const HttpRequest& request, const PathParams&,
                               std::string& missing) {
    missing = "backup resource " + request.path;
    auto it = model.backupResources.find(request.path);
    return it == model.backupResources.end() || it->second.releaseReads >= 0 ? nullptr : &it->second;
}

class BackupResourceRoutes : public RouteArea<BackupResourceRoutes> {
  public:
    using RouteArea::RouteArea;

    void Register(Router& router) {
        const std::string collection = "/service/sites/{site}/volumes/{id}/backupresources";
        AddObjectRoute<Volume>(router, c_, "POST", collection, &VolumeOfPath,
                               Bind(&BackupResourceRoutes::Create));
        AddObjectRoute<BackupResource>(router, c_, "PUT", collection + "/{res}", &ResourceOfPath,
                                       Bind(&BackupResourceRoutes::Extend));
        AddObjectRoute<BackupResource>(router, c_, "DELETE", collection + "/{res}", &ResourceOfPath,
                                       Bind(&BackupResourceRoutes::Release), BodyRule::ObjectOrEmpty);
    }

  private:
    /// The host that serves the volume's data: the host of its VM, else one that sees its datastore.
    const Host* ServingHost(const Volume& volume) {
        if (const Vm* vm = volume.vmUrn.empty() ? nullptr : m().FindVm(volume.vmUrn)) {
            if (const Host* host = m().FindHost(vm->hostUrn)) return host;
        }
        if (const Datastore* ds = m().FindDatastore(volume.datastoreUrn)) {
            for (const auto& urn : ds->hostUrns) {
                if (const Host* host = m().FindHost(urn)) return host;
            }
        }
        return m().hosts.empty() ? nullptr : &m().hosts.begin()->second;
    }

    /// The disk snapshot of the volume in a backup's snapshot, or an error answer.
    bool BackupSource(const Volume& volume, const std::string& snapUrn, std::string& snapUuid,
                      HttpResponse& refusal) {
        const Snapshot* snapshot = m().FindSnapshot(snapUrn);
        if (!snapshot) {
            refusal = NoSuchObject(snapUrn);
            return false;
        }
        if (snapshot->status != "ready") {
            refusal = Refuse(409, errors::kTaskBusy,
                             "The snapshot " + snapshot->name + " is " + snapshot->status + ".");
            return false;
        }
        for (const VolSnapshot& disk : snapshot->volsnapshots) {
            if (disk.volumeUrn == volume.urn) {
                snapUuid = disk.snapUuid;
                return true;
            }
        }
        refusal = Refuse(400, errors::kCbtMismatch,
                         "The snapshot " + snapshot->name + " holds no snapshot of " + volume.name + ".");
        return false;
    }

    HttpResponse Create(const HttpRequest& request, Volume& volume, BodyReader& reader,
                        const json::object& body) {
        auto delay = reader.Int(body, "delay", 1, kMaxDelaySeconds);
        auto taskType = reader.Str(body, "taskType", true);
        auto ip = reader.Str(body, "ip", true);
        auto snapUrn = reader.Str(body, "snapUrn2");
        auto transMode = reader.Str(body, "transMode", true);
        if (taskType && *taskType != "CBTBackup" && *taskType != "CBTRestore")
            reader.Fail("Unknown taskType \"" + *taskType + "\".");
        if (transMode && *transMode != "lan" && *transMode != "lanssl")
            reader.Fail("Unknown transMode \"" + *transMode + "\".");
        bool backup = taskType && *taskType == "CBTBackup";
        if (reader.ok() && backup && (!snapUrn || snapUrn->empty()))
            reader.Fail("A backup needs \"snapUrn2\".");
        if (!reader.ok()) return reader.BadRequest();
        std::string snapUuid;
        HttpResponse refusal;
        if (backup && !BackupSource(volume, *snapUrn, snapUuid, refusal)) return refusal;

        std::optional<OutcomeRule> rule = TakeOutcome(m(), "backupresource", request);
        int polls = m().backupSettings.resourcePolls;
        if (rule && rule->polls >= 0) polls = rule->polls;
        Task& task =
            m().StartTask("CreateBackupResourceTask", volume.urn, volume.uri, c_.now(), std::max(polls, 1));
        if (rule && rule->never) task.pollsToFinish = INT32_MAX;
        if (rule && rule->fail) {
            task.fail = true;
            task.reason = rule->reason;
            task.reasonDes = rule->reasonDes;
        }
        std::string uri = volume.uri + "/backupresources/" + std::to_string(task.id);
        BackupResource& resource = m().backupResources[uri];
        resource = BackupResource();
        resource.uri = uri;
        resource.volumeUrn = volume.urn;
        resource.taskUrn = task.urn;
        resource.taskUri = task.uri;
        resource.taskType = *taskType;
        resource.transMode = *transMode;
        resource.snapUrn = backup ? *snapUrn : std::string();
        resource.ip = *ip;
        resource.delay = static_cast<int>(delay.value_or(150));
        resource.status = "creating";
        resource.pollsToReady = polls;
        resource.createdSeconds = c_.now();
        if (rule) {
            resource.fail = rule->fail;
            resource.never = rule->never;
            resource.reason = rule->fail ? rule->reason : std::string();
            resource.reasonDes = rule->fail ? rule->reasonDes : std::string();
        }
        const Host* host = ServingHost(volume);
        resource.hostIP = host ? host->ip : m().site().ip;
        resource.hostPort = std::to_string(30000 + task.id % 10000);
        resource.targetFile =
            backup ? "/dev/disk/by-id/snap-" + snapUuid : "/dev/disk/by-id/vol-" + volume.uuid;
        resource.token = Lower(RandomHex(16));
        resource.caCert = ReadFile(c_.options.certDir + "/ca.pem");
        resource.resourceUrl = std::string(*transMode == "lanssl" ? "nbds://" : "nbd://") + resource.hostIP +
                               ":" + resource.hostPort + resource.targetFile;
        return TaskAnswer(task);
    }

    HttpResponse Extend(const HttpRequest&, BackupResource& resource, BodyReader& reader,
                        const json::object& body) {
        auto delay = reader.Int(body, "delay", 1, kMaxDelaySeconds, true);
        if (!reader.ok()) return reader.BadRequest();
        resource.delay = static_cast<int>(*delay);
        return JsonResponse(200, RenderBackupResource(resource));
    }

    HttpResponse Release(const HttpRequest& request, BackupResource& resource, BodyReader&,
                         const json::object&) {
        int reads = m().backupSettings.releaseReads;
        if (reads <= 0) {
            m().backupResources.erase(request.path);
        } else {
            resource.releaseReads = reads;
            resource.status = "deleting";
        }
        return JsonResponse(200, json::object());
    }
};

}  // namespace

void RegisterBackupResourceRoutes(Router& router, RouteContext& context) {
    std::make_shared<BackupResourceRoutes>(context)->Register(router);
}

}  // namespace vrmsim
