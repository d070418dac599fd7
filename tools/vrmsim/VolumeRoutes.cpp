// Volumes (creation, change, deletion), the changed-block query "getcbt" and datastore creation.

#include <algorithm>
#include <memory>

#include "Actions.h"

namespace vrmsim {

namespace json = boost::json;

namespace {

constexpr std::int64_t kMaxVolumeGB = 64 * 1024;

class VolumeRoutes : public RouteArea<VolumeRoutes> {
  public:
    using RouteArea::RouteArea;

    void Register(Router& router) {
        const std::string volume = "/service/sites/{site}/volumes/{id}";
        AddBodyRoute(router, c_, "POST", "/service/sites/{site}/volumes", Bind(&VolumeRoutes::Create));
        AddObjectRoute<Volume>(router, c_, "PUT", volume, &VolumeOfPath, Bind(&VolumeRoutes::Modify));
        AddObjectRoute<Volume>(router, c_, "DELETE", volume, &VolumeOfPath, Bind(&VolumeRoutes::Delete),
                               BodyRule::ObjectOrEmpty);
        AddObjectRoute<Volume>(router, c_, "POST", volume + "/getcbt", &VolumeOfPath,
                               Bind(&VolumeRoutes::ChangedBlocks));
        AddBodyRoute(router, c_, "POST", "/service/sites/{site}/datastores",
                     Bind(&VolumeRoutes::CreateDatastore));
    }

  private:
    static std::int64_t FreeGB(const Datastore& ds) { return ds.capacityGB - ds.usedSizeGB; }

    // ---- volumes ----

    HttpResponse Create(const HttpRequest& request, BodyReader& reader, const json::object& body) {
        auto name = reader.Str(body, "name", true);
        auto sizeGB = reader.Int(body, "quantityGB", 1, kMaxVolumeGB, true);
        auto datastoreUrn = reader.Str(body, "datastoreUrn", true);
        auto uuid = reader.Str(body, "uuid");
        bool thin = reader.Bool(body, "isThin").value_or(true);
        auto volType = reader.Int(body, "volType", 0, 1);
        std::string type = reader.Str(body, "type").value_or("normal");
        bool independent = reader.Bool(body, "indepDisk").value_or(false);
        bool persistent = reader.Bool(body, "persistentDisk").value_or(true);
        if (name && name->empty()) reader.Fail("The volume name must not be empty.");
        if (type != "normal" && type != "share") reader.Fail("Unknown volume type \"" + type + "\".");
        if (!reader.ok()) return reader.BadRequest();
        Datastore* ds = m().FindDatastore(*datastoreUrn);
        if (!ds) return NoSuchObject(*datastoreUrn);
        if (thin && !ds->isThin)
            return Refuse(400, errors::kWrongState,
                          "The datastore " + ds->name + " does not support thin volumes.");
        if (!thin && *sizeGB > FreeGB(*ds))
            return Refuse(400, errors::kNoSpace,
                          "The datastore " + ds->name + " has " + std::to_string(FreeGB(*ds)) + " GB free.");
        if (uuid && !uuid->empty()) {
            for (const auto& entry : m().volumes) {
                if (entry.second.uuid == *uuid)
                    return Refuse(409, errors::kAlreadyExists, "A volume with UUID " + *uuid + " exists.");
            }
        }
        Volume& volume = m().Add(m().volumes, "volumes");
        long id = volume.id;
        volume.name = *name;
        volume.uuid = (uuid && !uuid->empty()) ? *uuid : RandomUuid();
        volume.datastoreUrn = ds->urn;
        volume.volumeUrl = "/" + ds->name + "/vol-" + volume.uuid;
        volume.quantityGB = static_cast<int>(*sizeGB);
        volume.isThin = thin;
        volume.volType = static_cast<int>(volType.value_or(thin ? 0 : 1));
        volume.type = type;
        volume.indepDisk = independent;
        volume.persistentDisk = persistent;
        volume.status = "CREATING";
        volume.createTime = Model::FormatTime(c_.now());
        if (!thin) ds->usedSizeGB += *sizeGB;
        Task& task = BeginTask(c_, request, "CreateVolumeTask", volume.urn, volume.uri,
                               [id](Model& model, Task& done) {
                                   auto it = model.volumes.find(id);
                                   if (it == model.volumes.end()) return;
                                   if (done.status == "success") {
                                       it->second.status = "USE";
                                       return;
                                   }
                                   if (Datastore* store = model.FindDatastore(it->second.datastoreUrn)) {
                                       if (!it->second.isThin) store->usedSizeGB -= it->second.quantityGB;
                                   }
                                   model.volumes.erase(it);
                               });
        return TaskAnswer(task, volume.urn, volume.uri);
    }

    HttpResponse Modify(const HttpRequest&, Volume& volume, BodyReader& reader, const json::object& body) {
        auto name = reader.Str(body, "name");
        auto independent = reader.Bool(body, "indepDisk");
        auto persistent = reader.Bool(body, "persistentDisk");
        if (!reader.ok()) return reader.BadRequest();
        // An empty name keeps the current one; the other members change what they name.
        if (name && !name->empty()) volume.name = *name;
        if (independent) volume.indepDisk = *independent;
        if (persistent) volume.persistentDisk = *persistent;
        return TaskAnswer(m().StartTask("ModifyVolumeTask", volume.urn, volume.uri, c_.now(), 0));
    }

    HttpResponse Delete(const HttpRequest& request, Volume& volume, BodyReader&, const json::object&) {
        if (!volume.vmUrn.empty())
            return Refuse(400, errors::kInUse,
                          "The volume " + volume.name + " is attached to " + volume.vmUrn + ".");
        if (volume.status == "DELETING" || volume.status == "CREATING")
            return Refuse(409, errors::kTaskBusy, "The volume " + volume.name + " is busy.");
        std::string before = volume.status;
        volume.status = "DELETING";
        long id = volume.id;
        Task& task = BeginTask(
            c_, request, "DeleteVolumeTask", volume.urn, volume.uri, [id, before](Model& model, Task& done) {
                auto it = model.volumes.find(id);
                if (it == model.volumes.end()) return;
                if (done.status != "success") {
                    it->second.status = before;
                    return;
                }
                Volume& gone = it->second;
                if (Datastore* store = model.FindDatastore(gone.datastoreUrn)) {
                    store->usedSizeGB = std::max<std::int64_t>(
                        0, store->usedSizeGB -
                               (gone.isThin ? (gone.userUsedSizeMB + 1023) / 1024 : gone.quantityGB));
                }
                const std::string prefix = gone.uri + "/backupresources/";
                for (auto r = model.backupResources.begin(); r != model.backupResources.end();) {
                    r = StartsWith(r->first, prefix) ? model.backupResources.erase(r) : std::next(r);
                }
                model.cbt.erase(id);
                model.volumes.erase(it);
            });
        return TaskAnswer(task);
    }

    // ---- changed blocks ----

    /// POST <volume>/getcbt: one page of the allocated (empty chgID) or changed blocks of the disk as
    /// seen at the disk snapshot `snapUuid`. Pages end at the end of the disk; a disk without blocks
    /// answers one page of `blockNum` unset blocks.
    HttpResponse ChangedBlocks(const HttpRequest&, Volume& volume, BodyReader& reader,
                               const json::object& body) {
        auto type = reader.Str(body, "type", true);
        auto created = reader.Str(body, "volCBTCreateTime", true);
        auto chgID = reader.Str(body, "chgID", true);
        auto snapUuid = reader.Str(body, "snapUuid", true);
        auto start = reader.Int(body, "startBlock", 0, INT64_MAX, true);
        auto count = reader.Int(body, "blockNum", 1, INT64_MAX, true);
        if (type && *type != "DiffBitmapAndBit1Num") reader.Fail("Unknown query type \"" + *type + "\".");
        if (!reader.ok()) return reader.BadRequest();
        if (volume.volCBTCreateTime.empty())
            return Refuse(400, errors::kCbtDisabled,
                          "Changed-block tracking is not enabled on " + volume.name + ".");
        if (*created != volume.volCBTCreateTime) {
            return Refuse(400, errors::kCbtMismatch,
                          "The tracking of " + volume.name + " was started at " + volume.volCBTCreateTime +
                              ", not at " + *created + ".");
        }
        const VolumeCbt& history = CbtOf(m(), volume);
        int until = history.FindSnapshot(*snapUuid);
        if (until < 0)
            return Refuse(404, errors::kCbtMismatch,
                          "No disk snapshot " + *snapUuid + " of " + volume.name + ".");
        std::vector<const BlockSet*> sets;
        if (chgID->empty()) {
            sets.push_back(&history.base);
            for (int i = 0; i <= until; ++i) sets.push_back(&history.marks[i].written);
        } else {
            int from = history.FindChange(*chgID);
            if (from < 0)
                return Refuse(400, errors::kCbtMismatch,
                              "Unknown chgID " + *chgID + " of " + volume.name + ".");
            if (from > until)
                return Refuse(400, errors::kCbtMismatch,
                              "The chgID " + *chgID + " is newer than the snapshot " + *snapUuid + ".");
            for (int i = from + 1; i <= until; ++i) sets.push_back(&history.marks[i].written);
        }
        const std::uint64_t blocks = VolumeBlocks(volume, history.sectorOfBlock);
        const std::uint64_t first = static_cast<std::uint64_t>(*start);
        std::uint64_t covered = std::min<std::uint64_t>(
            static_cast<std::uint64_t>(*count),
            static_cast<std::uint64_t>(std::max(1, m().backupSettings.maxBlocksPerPage)));
        if (blocks > 0) {
            if (first >= blocks)
                return BadArgument("startBlock " + std::to_string(first) + " is beyond the " +
                                   std::to_string(blocks) + " blocks of the volume.");
            covered = std::min(covered, blocks - first);
        }
        CbtPage page = MakePage(sets, first, covered);
        return JsonResponse(
            200, json::object{{"sectorOfBlock", history.sectorOfBlock},
                              {"bitNum", page.bitNum},
                              {"bit1Num", page.bit1Num},
                              {"bitMap", std::move(page.bitMap)},
                              {"startBlock", first},
                              {"volumeSize", static_cast<std::int64_t>(volume.quantityGB) * 1073741824LL}});
    }

    // ---- datastores ----

    HttpResponse CreateDatastore(const HttpRequest& request, BodyReader& reader, const json::object& body) {
        auto name = reader.Str(body, "name", true);
        auto hostUrn = reader.Str(body, "hostUrn", true);
        auto unitUrn = reader.Str(body, "storageUnitUrn", true);
        // "useType" (virtualised or not) is checked as a number; it changes nothing the simulator shows.
        reader.Int(body, "useType", 0, 10, true);
        auto format = reader.Int(body, "formatFlag", 0, 1);
        if (name && name->empty()) reader.Fail("The datastore name must not be empty.");
        if (!reader.ok()) return reader.BadRequest();
        const Host* host = m().FindHost(*hostUrn);
        if (!host) return NoSuchObject(*hostUrn);
        StorageUnit* unit = m().FindStorageUnit(*unitUrn);
        if (!unit) return NoSuchObject(*unitUrn);
        if (std::find(unit->hostUrns.begin(), unit->hostUrns.end(), host->urn) == unit->hostUrns.end())
            return Refuse(400, errors::kWrongState,
                          "The host " + host->name + " does not see " + unit->name + ".");
        for (const auto& entry : m().datastores) {
            const auto& units = entry.second.storageUnitUrns;
            if (std::find(units.begin(), units.end(), unit->urn) != units.end())
                return Refuse(409, errors::kInUse,
                              "The storage unit " + unit->name + " holds " + entry.second.name + ".");
            if (entry.second.name == *name)
                return Refuse(409, errors::kAlreadyExists, "A datastore named " + *name + " exists.");
        }
        long id = m().NextId("datastores", 1);
        std::string urn = m().Urn("datastores:" + std::to_string(id));
        std::string uri = UrnToUri(urn);
        Datastore ds;
        ds.id = id;
        ds.urn = urn;
        ds.uri = uri;
        ds.name = *name;
        ds.storageType = unit->type == "LOCAL" ? "LOCAL" : unit->type == "IPSAN" ? "advanceSan" : unit->type;
        ds.isThin = unit->isThin;
        ds.capacityGB = unit->capacityGB;
        ds.refreshTime = Model::FormatTime(c_.now());
        ds.description = "created on " + host->name + (format.value_or(0) == 1 ? ", formatted" : "");
        ds.hostUrns = unit->type == "LOCAL" ? std::vector<std::string>{host->urn} : unit->hostUrns;
        ds.storageUnitUrns = {unit->urn};
        Task& task = BeginTask(c_, request, "CreateDatastoreTask", urn, uri, [ds](Model& model, Task& done) {
            if (done.status == "success") model.datastores[ds.id] = ds;
        });
        return TaskAnswer(task, urn, uri);
    }
};

}  // namespace

void RegisterVolumeRoutes(Router& router, RouteContext& context) {
    std::make_shared<VolumeRoutes>(context)->Register(router);
}

}  // namespace vrmsim
