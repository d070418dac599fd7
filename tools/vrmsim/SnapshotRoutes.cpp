// VM snapshots: creation of the types "normal", "backup" and "CBTbackup" with one disk snapshot per
// attached volume, and deletion. A snapshot exists from the request on ("creating", then "ready");
// only one snapshot task runs on a VM at a time.

#include <memory>

#include "Actions.h"

namespace vrmsim {

namespace json = boost::json;

namespace {

bool SnapshotBusy(const Vm& vm) {
    for (const auto& entry : vm.snapshots) {
        if (entry.second.status == "creating" || entry.second.status == "deleting") return true;
    }
    return false;
}

HttpResponse BusyAnswer() {
    return Refuse(409, errors::kTaskBusy, "Another snapshot task is running on the VM.");
}

/// The snapshot a path names; a 404 names the path as a URN.
Snapshot* SnapshotOfPath(Model& model, const HttpRequest& request, const PathParams&, std::string& missing) {
    missing = PathToUrn(request.path);
    return model.FindSnapshot(missing);
}

class SnapshotRoutes : public RouteArea<SnapshotRoutes> {
  public:
    using RouteArea::RouteArea;

    void Register(Router& router) {
        const std::string snapshots = "/service/sites/{site}/vms/{id}/snapshots";
        AddObjectRoute<Vm>(router, c_, "POST", snapshots, &VmOfPath, Bind(&SnapshotRoutes::Create));
        AddObjectRoute<Snapshot>(router, c_, "DELETE", snapshots + "/{snap}", &SnapshotOfPath,
                                 Bind(&SnapshotRoutes::Delete), BodyRule::ObjectOrEmpty);
    }

  private:
    HttpResponse Create(const HttpRequest& request, Vm& vm, BodyReader& reader, const json::object& body) {
        auto name = reader.Str(body, "name", true);
        auto description = reader.Str(body, "description");
        bool memory = reader.Bool(body, "needMemoryShot").value_or(false);
        bool consistent = reader.Bool(body, "isConsistent").value_or(false);
        std::string type = reader.Str(body, "type").value_or("normal");
        if (name && name->empty()) reader.Fail("The snapshot name must not be empty.");
        if (type != "normal" && type != "backup" && type != "CBTbackup")
            reader.Fail("Unknown snapshot type \"" + type + "\".");
        if (!reader.ok()) return reader.BadRequest();
        if (vm.isTemplate) return Refuse(400, errors::kWrongState, "A template has no snapshots.");
        if (vm.status == "creating" || vm.status == "deleting")
            return Refuse(409, errors::kTaskBusy, "The VM " + vm.name + " is " + vm.status + ".");
        if (memory && vm.status != "running")
            return Refuse(400, errors::kWrongState, "A memory snapshot needs a running VM.");
        if (SnapshotBusy(vm)) return BusyAnswer();
        int ofType = 0;
        for (const auto& entry : vm.snapshots) ofType += entry.second.type == type ? 1 : 0;
        if (ofType >= m().backupSettings.snapshotLimit) {
            return Refuse(400, errors::kSnapshotLimit,
                          "The VM already has " + std::to_string(ofType) + " snapshots of type " + type +
                              " (the limit is " + std::to_string(m().backupSettings.snapshotLimit) + ").");
        }
        Snapshot& snapshot = AddSnapshot(vm, *name, description.value_or(""), type, memory, consistent);
        long number = vm.number;
        long snapshotId = snapshot.id;
        Task& task = BeginTask(c_, request, "CreateSnapshotTask", vm.urn, vm.uri,
                               [number, snapshotId](Model& model, Task& done) {
                                   Vm* owner = VmByNumber(model, number);
                                   if (!owner || !owner->snapshots.count(snapshotId)) return;
                                   Snapshot& made = owner->snapshots[snapshotId];
                                   if (done.status == "success") {
                                       made.status = "ready";
                                       owner->currentSnapshotUrn = made.urn;
                                   } else {
                                       Forget(model, *owner, made);
                                   }
                               });
        return TaskAnswer(task, snapshot.urn, snapshot.uri);
    }

    /// Stores the snapshot ("creating") with a disk snapshot per attached volume. A "CBTbackup"
    /// snapshot starts changed-block tracking on volumes without it; every snapshot of a tracked volume
    /// closes a mark of its history and so gets a chgID.
    Snapshot& AddSnapshot(Vm& vm, const std::string& name, const std::string& description,
                          const std::string& type, bool memory, bool consistent) {
        long id = m().NextId("snapshots", 1);
        Snapshot& snapshot = vm.snapshots[id];
        snapshot.id = id;
        snapshot.urn = vm.urn + ":snapshots:" + std::to_string(id);
        snapshot.uri = UrnToUri(snapshot.urn);
        snapshot.name = name;
        snapshot.description = description;
        snapshot.type = type;
        snapshot.status = "creating";
        snapshot.parentUrn = vm.currentSnapshotUrn;
        snapshot.includingMemorySnapshot = memory;
        snapshot.isConsistent = consistent;
        snapshot.createTime = Model::FormatTime(c_.now());
        for (const auto& urn : vm.volumeUrns) {
            Volume* volume = m().FindVolume(urn);
            if (!volume) continue;
            VolumeCbt& history = CbtOf(m(), *volume);
            if (type == "CBTbackup" && volume->volCBTCreateTime.empty()) {
                volume->volCBTCreateTime = std::to_string(c_.now());
            }
            VolSnapshot disk;
            disk.volumeUrn = volume->urn;
            disk.volumeUri = volume->uri;
            disk.datastoreUrn = volume->datastoreUrn;
            disk.volCBTCreateTime = volume->volCBTCreateTime;
            disk.snapUuid = RandomUuid();
            if (!volume->volCBTCreateTime.empty()) {
                disk.chgID = std::to_string(m().NextId("chgids", 70001));
                history.AddMark(disk.chgID, disk.snapUuid);
            }
            snapshot.volsnapshots.push_back(disk);
        }
        return snapshot;
    }

    /// Removes a snapshot as if it had never been taken (a failed creation).
    static void Forget(Model& model, Vm& vm, const Snapshot& snapshot) {
        for (const VolSnapshot& disk : snapshot.volsnapshots) {
            const Volume* volume = model.FindVolume(disk.volumeUrn);
            auto history = volume ? model.cbt.find(volume->id) : model.cbt.end();
            if (history != model.cbt.end() && !disk.chgID.empty()) history->second.RemoveMark(disk.chgID);
        }
        vm.snapshots.erase(snapshot.id);
    }

    HttpResponse Delete(const HttpRequest& request, Snapshot& snapshot, BodyReader&, const json::object&) {
        Vm* vm = nullptr;
        m().FindSnapshot(snapshot.urn, &vm);
        if (SnapshotBusy(*vm)) return BusyAnswer();
        // The history of every disk must know the marks of the snapshot before it goes, so that the
        // change token of an earlier backup stays valid.
        for (const auto& urn : vm->volumeUrns) {
            if (const Volume* volume = m().FindVolume(urn)) CbtOf(m(), *volume);
        }
        snapshot.status = "deleting";
        long number = vm->number;
        long snapshotId = snapshot.id;
        Task& task = BeginTask(c_, request, "DeleteSnapshotTask", snapshot.urn, snapshot.uri,
                               [number, snapshotId](Model& model, Task& done) {
                                   Vm* owner = VmByNumber(model, number);
                                   if (!owner || !owner->snapshots.count(snapshotId)) return;
                                   if (done.status != "success") {
                                       owner->snapshots[snapshotId].status = "ready";
                                       return;
                                   }
                                   RemoveFromTree(*owner, snapshotId);
                               });
        return TaskAnswer(task);
    }

    /// Takes a snapshot out of the tree: its children move to its parent, and its parent becomes the
    /// current snapshot when it was the current one.
    static void RemoveFromTree(Vm& vm, long snapshotId) {
        const Snapshot gone = vm.snapshots[snapshotId];
        for (auto& entry : vm.snapshots) {
            if (entry.second.parentUrn == gone.urn) entry.second.parentUrn = gone.parentUrn;
        }
        if (vm.currentSnapshotUrn == gone.urn) vm.currentSnapshotUrn = gone.parentUrn;
        vm.snapshots.erase(snapshotId);
    }
};

}  // namespace

void RegisterSnapshotRoutes(Router& router, RouteContext& context) {
    std::make_shared<SnapshotRoutes>(context)->Register(router);
}

}  // namespace vrmsim
