// VM management: creation, power state, modification, deletion, attaching and detaching volumes and
// adding network cards. Requests are checked at once (an invalid body or state answers an error body);
// what a task does happens when it ends, and a failed task leaves the VM as it was.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "Actions.h"
#include "Render.h"

namespace vrmsim {

namespace json = boost::json;

namespace {

constexpr std::int64_t kMaxCpus = 256;
constexpr std::int64_t kMaxMemoryMB = 4LL * 1024 * 1024;  // 4 TB
constexpr int kMaxSlot = 64;

bool Busy(const Vm& vm) {
    return vm.status == "creating" || vm.status == "deleting" || vm.status == "starting" ||
           vm.status == "stopping";
}

HttpResponse BusyAnswer(const Vm& vm) {
    return Refuse(409, errors::kTaskBusy, "The VM " + vm.name + " is busy (" + vm.status + ").");
}

bool ValidBus(const std::string& bus) {
    return bus == "IDE" || bus == "SCSI" || bus == "VIRTIO";
}

bool ValidMac(const std::string& mac) {
    if (mac.size() != 17) return false;
    for (std::size_t i = 0; i < mac.size(); ++i) {
        bool colon = (i % 3) == 2;
        if (colon ? mac[i] != ':' : !std::isxdigit(static_cast<unsigned char>(mac[i]))) return false;
    }
    return true;
}

class VmRoutes : public RouteArea<VmRoutes> {
  public:
    using RouteArea::RouteArea;

    void Register(Router& router) {
        const std::string vm = "/service/sites/{site}/vms/{id}";
        AddBodyRoute(router, c_, "POST", "/service/sites/{site}/vms", Bind(&VmRoutes::Create));
        On(router, "PUT", vm, &VmRoutes::Modify);
        On(router, "DELETE", vm, &VmRoutes::Delete, BodyRule::ObjectOrEmpty);
        On(router, "POST", vm + "/action/start", &VmRoutes::Start, BodyRule::ObjectOrEmpty);
        On(router, "POST", vm + "/action/stop", &VmRoutes::Stop, BodyRule::ObjectOrEmpty);
        On(router, "POST", vm + "/action/attachvol", &VmRoutes::Attach);
        On(router, "POST", vm + "/action/detachvol", &VmRoutes::Detach);
        On(router, "POST", vm + "/virtualNics", &VmRoutes::AddNic);
    }

  private:
    using Method = HttpResponse (VmRoutes::*)(const HttpRequest&, Vm&, BodyReader&, const json::object&);

    void On(Router& router, const char* method, const std::string& pattern, Method handler,
            BodyRule rule = BodyRule::Object) {
        AddObjectRoute<Vm>(router, c_, method, pattern, &VmOfPath, Bind(handler), rule);
    }

    // ---- creation ----

    struct Sizes {
        std::optional<std::int64_t> cpus, cores, memoryMB;
    };

    /// Reads "cpu" {"quantity", "coresPerSocket"} and "memory" {"quantityMB"} of `config`.
    static Sizes ReadSizes(BodyReader& reader, const json::object& config) {
        Sizes sizes;
        if (const json::object* cpu = reader.Obj(config, "cpu")) {
            sizes.cpus = reader.Int(*cpu, "quantity", 1, kMaxCpus);
            sizes.cores = reader.Int(*cpu, "coresPerSocket", 1, kMaxCpus);
        }
        if (const json::object* memory = reader.Obj(config, "memory")) {
            sizes.memoryMB = reader.Int(*memory, "quantityMB", 1, kMaxMemoryMB);
        }
        return sizes;
    }

    static bool CoresFit(BodyReader& reader, int cpus, int cores) {
        if (cores <= cpus && cpus % cores == 0) return true;
        reader.Fail("coresPerSocket " + std::to_string(cores) + " does not divide the " +
                    std::to_string(cpus) + " CPUs.");
        return false;
    }

    /// Finds host and cluster of a "location" (a host, or a cluster whose first host takes the VM).
    bool Place(BodyReader& reader, const std::string& location, Vm& vm, HttpResponse& refusal) {
        if (const Host* host = m().FindHost(location)) {
            vm.hostUrn = host->urn;
            vm.clusterUrn = host->clusterUrn;
            return true;
        }
        if (const Cluster* cluster = m().FindCluster(location)) {
            vm.clusterUrn = cluster->urn;
            for (const auto& entry : m().hosts) {
                if (entry.second.clusterUrn == cluster->urn) {
                    vm.hostUrn = entry.second.urn;
                    break;
                }
            }
            return true;
        }
        if (m().Exists(location)) {
            reader.Fail("The location " + location + " is neither a host nor a cluster.");
            refusal = reader.BadRequest();
        } else {
            refusal = NoSuchObject(location);
        }
        return false;
    }

    struct DiskSlot {
        Volume* volume = nullptr;
        std::string pciType;
        int sequenceNum = 0;
    };

    /// Reads the "disks" of a creation body: existing, unattached volumes in distinct slots.
    bool ReadDisks(BodyReader& reader, const json::array& disks, std::vector<DiskSlot>& slots,
                   HttpResponse& refusal) {
        for (const json::value& element : disks) {
            if (!element.is_object()) {
                reader.Fail("Each element of \"disks\" must be an object.");
                break;
            }
            const json::object& disk = element.as_object();
            auto urn = reader.Str(disk, "volumeUrn", true);
            auto bus = reader.Str(disk, "pciType");
            auto slot = reader.Int(disk, "sequenceNum", 0, kMaxSlot);
            if (!reader.ok()) break;
            DiskSlot entry;
            entry.volume = m().FindVolume(*urn);
            if (!entry.volume) {
                refusal = NoSuchObject(*urn);
                return false;
            }
            if (!entry.volume->vmUrn.empty()) {
                refusal = Refuse(409, errors::kInUse, "The volume " + *urn + " is attached to another VM.");
                return false;
            }
            entry.pciType = bus.value_or("VIRTIO");
            if (!ValidBus(entry.pciType)) reader.Fail("Unknown pciType \"" + entry.pciType + "\".");
            entry.sequenceNum = static_cast<int>(slot.value_or(0));
            if (entry.sequenceNum == 0) entry.sequenceNum = static_cast<int>(slots.size()) + 1;
            for (const DiskSlot& other : slots) {
                if (other.volume == entry.volume) reader.Fail("The volume " + *urn + " is given twice.");
                if (other.pciType == entry.pciType && other.sequenceNum == entry.sequenceNum)
                    reader.Fail("Two disks in slot " + entry.pciType + "-" +
                                std::to_string(entry.sequenceNum) + ".");
            }
            slots.push_back(entry);
        }
        if (!reader.ok()) refusal = reader.BadRequest();
        return reader.ok();
    }

    std::string GuestName(const std::string& type, int id) const {
        const auto& catalogue = c_.model.osCatalogue;
        const auto& list = type == "Windows" ? catalogue.windows
                           : type == "Linux" ? catalogue.linux
                                             : catalogue.other;
        for (const auto& version : list) {
            if (version.id == id) return version.versionDes;
        }
        return std::string();
    }

    HttpResponse Create(const HttpRequest& request, BodyReader& reader, const json::object& body) {
        auto location = reader.Str(body, "location", true);
        auto name = reader.Str(body, "name");
        auto uuid = reader.Str(body, "uuid");
        auto description = reader.Str(body, "description");
        auto autoBoot = reader.Bool(body, "autoBoot");
        const json::object* config = reader.Obj(body, "vmConfig", true);
        const json::object* os = reader.Obj(body, "osOptions");
        Sizes sizes;
        const json::array* disks = nullptr;
        if (config) {
            sizes = ReadSizes(reader, *config);
            disks = reader.Arr(*config, "disks");
        }
        std::optional<std::string> osType;
        std::optional<std::int64_t> osVersion;
        if (os) {
            osType = reader.Str(*os, "osType");
            osVersion = reader.Int(*os, "osVersion", 0, INT32_MAX);
        }
        if (name && name->empty()) reader.Fail("The name must not be empty.");
        if (osType && *osType != "Windows" && *osType != "Linux" && *osType != "Other")
            reader.Fail("Unknown osType \"" + *osType + "\".");
        if (!reader.ok()) return reader.BadRequest();

        Vm vm;
        HttpResponse refusal;
        if (!Place(reader, *location, vm, refusal)) return refusal;
        std::vector<DiskSlot> slots;
        if (disks && !ReadDisks(reader, *disks, slots, refusal)) return refusal;
        vm.cpuQuantity = static_cast<int>(sizes.cpus.value_or(1));
        vm.coresPerSocket = static_cast<int>(sizes.cores.value_or(1));
        if (!CoresFit(reader, vm.cpuQuantity, vm.coresPerSocket)) return reader.BadRequest();
        if (uuid && !uuid->empty()) {
            for (const auto& entry : m().vms) {
                if (entry.second.uuid == *uuid)
                    return Refuse(409, errors::kAlreadyExists, "A VM with UUID " + *uuid + " exists.");
            }
        }
        return CreateVm(request, vm, name, uuid, description, sizes, osType, osVersion,
                        autoBoot.value_or(false), slots);
    }

    HttpResponse CreateVm(const HttpRequest& request, Vm& vm, const std::optional<std::string>& name,
                          const std::optional<std::string>& uuid,
                          const std::optional<std::string>& description, const Sizes& sizes,
                          const std::optional<std::string>& osType,
                          const std::optional<std::int64_t>& osVersion, bool autoBoot,
                          const std::vector<DiskSlot>& slots) {
        long number = m().NextId("vms", 1);
        char id[16];
        std::snprintf(id, sizeof id, "i-%08lX", number);
        vm.number = number;
        vm.id = id;
        vm.urn = m().Urn(std::string("vms:") + id);
        vm.uri = UrnToUri(vm.urn);
        vm.name = name.value_or(vm.id);
        vm.uuid = (uuid && !uuid->empty()) ? *uuid : RandomUuid();
        vm.description = description.value_or("");
        vm.memoryMB = sizes.memoryMB.value_or(1024);
        vm.osType = osType.value_or("Linux");
        vm.osVersion = static_cast<int>(osVersion.value_or(0));
        vm.guestOSName = GuestName(vm.osType, vm.osVersion);
        vm.createTime = Model::FormatTime(c_.now());
        vm.status = "creating";
        for (const DiskSlot& slot : slots) {
            slot.volume->vmUrn = vm.urn;
            slot.volume->pciType = slot.pciType;
            slot.volume->sequenceNum = slot.sequenceNum;
            slot.volume->systemVolume = slot.sequenceNum == 1 && vm.volumeUrns.empty();
            vm.volumeUrns.push_back(slot.volume->urn);
        }
        Vm& stored = m().vms[number] = std::move(vm);
        Task& task = BeginTask(c_, request, "CreateVmTask", stored.urn, stored.uri,
                               [number, autoBoot](Model& model, Task& done) {
                                   Vm* created = VmByNumber(model, number);
                                   if (!created) return;
                                   if (done.status == "success") {
                                       created->status = autoBoot ? "running" : "stopped";
                                       return;
                                   }
                                   // A failed creation leaves no VM behind; its volumes are free again.
                                   for (const auto& urn : created->volumeUrns) {
                                       if (Volume* volume = model.FindVolume(urn)) volume->vmUrn.clear();
                                   }
                                   model.vms.erase(number);
                               });
        return TaskAnswer(task, stored.urn, stored.uri);
    }

    // ---- power ----

    HttpResponse Start(const HttpRequest& request, Vm& vm, BodyReader&, const json::object&) {
        if (vm.isTemplate) return Refuse(400, errors::kWrongState, "A template cannot be started.");
        if (Busy(vm)) return BusyAnswer(vm);
        if (vm.status != "stopped")
            return Refuse(400, errors::kWrongState, "The VM " + vm.name + " is already " + vm.status + ".");
        return ChangePower(request, vm, "StartVmTask", "starting", "running");
    }

    HttpResponse Stop(const HttpRequest& request, Vm& vm, BodyReader& reader, const json::object& body) {
        std::string mode = reader.Str(body, "mode").value_or("safe");
        if (mode != "safe" && mode != "force") reader.Fail("Unknown stop mode \"" + mode + "\".");
        if (!reader.ok()) return reader.BadRequest();
        if (Busy(vm)) return BusyAnswer(vm);
        if (vm.status != "running")
            return Refuse(400, errors::kWrongState,
                          "The VM " + vm.name + " is not running (" + vm.status + ").");
        // A VRM names a forced stop as it names a safe one.
        return ChangePower(request, vm, "StopVmTask", "stopping", "stopped");
    }

    HttpResponse ChangePower(const HttpRequest& request, Vm& vm, const char* type, const char* during,
                             const std::string& after) {
        std::string before = vm.status;
        vm.status = during;
        long number = vm.number;
        Task& task =
            BeginTask(c_, request, type, vm.urn, vm.uri, [number, before, after](Model& model, Task& done) {
                if (Vm* changed = VmByNumber(model, number))
                    changed->status = done.status == "success" ? after : before;
            });
        return TaskAnswer(task);
    }

    // ---- modification and deletion ----

    HttpResponse Modify(const HttpRequest& request, Vm& vm, BodyReader& reader, const json::object& body) {
        auto name = reader.Str(body, "name");
        auto description = reader.Str(body, "description");
        Sizes sizes = ReadSizes(reader, body);
        if (name && name->empty()) reader.Fail("The name must not be empty.");
        if (!reader.ok()) return reader.BadRequest();
        int cpus = static_cast<int>(sizes.cpus.value_or(vm.cpuQuantity));
        int cores = static_cast<int>(sizes.cores.value_or(vm.coresPerSocket));
        if (!CoresFit(reader, cpus, cores)) return reader.BadRequest();
        if (Busy(vm)) return BusyAnswer(vm);
        long number = vm.number;
        std::int64_t memoryMB = sizes.memoryMB.value_or(vm.memoryMB);
        Task& task = BeginTask(c_, request, "ModifyVmTask", vm.urn, vm.uri, [=](Model& model, Task& done) {
            Vm* changed = VmByNumber(model, number);
            if (!changed || done.status != "success") return;
            if (name) changed->name = *name;
            if (description) changed->description = *description;
            changed->cpuQuantity = cpus;
            changed->coresPerSocket = cores;
            changed->memoryMB = memoryMB;
        });
        return TaskAnswer(task);
    }

    HttpResponse Delete(const HttpRequest& request, Vm& vm, BodyReader& reader, const json::object& body) {
        bool keepDisks = reader.Int(body, "isReserveDisks", 0, 1).value_or(1) == 1;
        if (!reader.ok()) return reader.BadRequest();
        if (Busy(vm)) return BusyAnswer(vm);
        std::string before = vm.status;
        vm.status = "deleting";
        long number = vm.number;
        Task& task = BeginTask(c_, request, "DeleteVmTask", vm.urn, vm.uri,
                               [number, before, keepDisks](Model& model, Task& done) {
                                   Vm* gone = VmByNumber(model, number);
                                   if (!gone) return;
                                   if (done.status != "success") {
                                       gone->status = before;
                                       return;
                                   }
                                   RemoveVm(model, *gone, keepDisks);
                               });
        return TaskAnswer(task);
    }

    static void RemoveVm(Model& model, Vm& vm, bool keepDisks) {
        for (const auto& urn : vm.volumeUrns) {
            Volume* volume = model.FindVolume(urn);
            if (!volume) continue;
            if (keepDisks) {
                volume->vmUrn.clear();
                volume->sequenceNum = 0;
                volume->systemVolume = false;
                continue;
            }
            const std::string prefix = volume->uri + "/backupresources/";
            for (auto it = model.backupResources.begin(); it != model.backupResources.end();) {
                it = StartsWith(it->first, prefix) ? model.backupResources.erase(it) : std::next(it);
            }
            model.cbt.erase(volume->id);
            model.volumes.erase(volume->id);
        }
        model.vms.erase(vm.number);
    }

    // ---- volumes ----

    HttpResponse Attach(const HttpRequest& request, Vm& vm, BodyReader& reader, const json::object& body) {
        auto urn = reader.Str(body, "volUrn", true);
        std::string bus = reader.Str(body, "pciType").value_or("VIRTIO");
        int slot = static_cast<int>(reader.Int(body, "sequenceNum", 0, kMaxSlot).value_or(0));
        if (reader.ok() && !ValidBus(bus)) reader.Fail("Unknown pciType \"" + bus + "\".");
        if (!reader.ok()) return reader.BadRequest();
        Volume* volume = m().FindVolume(*urn);
        if (!volume) return NoSuchObject(*urn);
        if (Busy(vm)) return BusyAnswer(vm);
        if (!volume->vmUrn.empty())
            return Refuse(409, errors::kInUse,
                          "The volume " + *urn + " is attached to " + volume->vmUrn + ".");
        int highest = 0;
        for (const Volume* attached : m().VolumesOf(vm)) {
            if (attached->pciType != bus) continue;
            if (attached->sequenceNum == slot)
                return Refuse(409, errors::kInUse,
                              "The slot " + bus + "-" + std::to_string(slot) + " is occupied.");
            highest = std::max(highest, attached->sequenceNum);
        }
        // The volume is taken at once, so that a second request cannot claim it before the task ends.
        volume->vmUrn = vm.urn;
        volume->pciType = bus;
        volume->sequenceNum = slot > 0 ? slot : highest + 1;
        volume->systemVolume = false;
        vm.volumeUrns.push_back(volume->urn);
        long number = vm.number;
        std::string volumeUrn = volume->urn;
        Task& task = BeginTask(c_, request, "AttachVolumeTask", vm.urn, vm.uri,
                               [number, volumeUrn](Model& model, Task& done) {
                                   if (done.status == "success") return;
                                   if (Vm* owner = VmByNumber(model, number)) DropVolume(*owner, volumeUrn);
                                   if (Volume* undone = model.FindVolume(volumeUrn)) undone->vmUrn.clear();
                               });
        return TaskAnswer(task);
    }

    static void DropVolume(Vm& vm, const std::string& urn) {
        vm.volumeUrns.erase(std::remove(vm.volumeUrns.begin(), vm.volumeUrns.end(), urn),
                            vm.volumeUrns.end());
    }

    HttpResponse Detach(const HttpRequest& request, Vm& vm, BodyReader& reader, const json::object& body) {
        auto urn = reader.Str(body, "volUrn", true);
        if (!reader.ok()) return reader.BadRequest();
        Volume* volume = m().FindVolume(*urn);
        if (!volume) return NoSuchObject(*urn);
        if (volume->vmUrn != vm.urn)
            return Refuse(400, errors::kWrongState,
                          "The volume " + *urn + " is not attached to " + vm.name + ".");
        if (volume->systemVolume)
            return Refuse(400, errors::kWrongState, "The system volume cannot be detached.");
        if (Busy(vm)) return BusyAnswer(vm);
        long number = vm.number;
        std::string volumeUrn = volume->urn;
        Task& task = BeginTask(c_, request, "DetachVolumeTask", vm.urn, vm.uri,
                               [number, volumeUrn](Model& model, Task& done) {
                                   if (done.status != "success") return;
                                   if (Vm* owner = VmByNumber(model, number)) DropVolume(*owner, volumeUrn);
                                   if (Volume* detached = model.FindVolume(volumeUrn)) {
                                       detached->vmUrn.clear();
                                       detached->sequenceNum = 0;
                                   }
                               });
        return TaskAnswer(task);
    }

    // ---- network cards ----

    bool MacInUse(const std::string& mac) const {
        for (const auto& entry : c_.model.vms) {
            for (const Nic& nic : entry.second.nics) {
                if (EqualsNoCase(nic.mac, mac)) return true;
            }
        }
        return false;
    }

    std::string NewMac() {
        for (;;) {
            long serial = m().NextId("macs", 1);
            char mac[32];
            std::snprintf(mac, sizeof mac, "28:6e:d4:f0:%02lx:%02lx", (serial >> 8) & 0xFF, serial & 0xFF);
            if (!MacInUse(mac)) return mac;
        }
    }

    HttpResponse AddNic(const HttpRequest& request, Vm& vm, BodyReader& reader, const json::object& body) {
        auto name = reader.Str(body, "name");
        auto portGroup = reader.Str(body, "portGroupUrn", true);
        auto mac = reader.Str(body, "mac");
        auto slot = reader.Int(body, "sequenceNum", 0, kMaxSlot);
        auto virtIo = reader.Int(body, "virtIo", 0, 1);
        auto portId = reader.Str(body, "portId");
        if (mac && !mac->empty() && !ValidMac(*mac)) reader.Fail("Invalid MAC address \"" + *mac + "\".");
        if (!reader.ok()) return reader.BadRequest();
        if (!m().FindPortGroup(*portGroup)) return NoSuchObject(*portGroup);
        if (Busy(vm)) return BusyAnswer(vm);
        if (mac && !mac->empty() && MacInUse(*mac))
            return Refuse(409, errors::kAlreadyExists, "The MAC address " + *mac + " is in use.");
        Nic nic;
        nic.id = vm.nextNicId++;
        nic.urn = vm.urn + ":nics:" + std::to_string(nic.id);
        nic.uri = UrnToUri(nic.urn);
        nic.name = (name && !name->empty()) ? *name : "Nic" + std::to_string(nic.id);
        nic.portGroupUrn = *portGroup;
        nic.mac = (mac && !mac->empty()) ? *mac : NewMac();
        nic.virtIo = static_cast<int>(virtIo.value_or(1));
        nic.portId = (portId && !portId->empty())
                         ? *portId
                         : std::to_string(4294967296LL + m().NextId("ports", 100000));
        int wanted = static_cast<int>(slot.value_or(0));
        bool taken = std::any_of(vm.nics.begin(), vm.nics.end(),
                                 [&](const Nic& other) { return other.sequenceNum == wanted; });
        int highest = -1;
        for (const Nic& other : vm.nics) highest = std::max(highest, other.sequenceNum);
        nic.sequenceNum = taken ? highest + 1 : wanted;
        vm.nics.push_back(nic);
        long number = vm.number;
        long nicId = nic.id;
        Task& task =
            BeginTask(c_, request, "AddNicTask", vm.urn, vm.uri, [number, nicId](Model& model, Task& done) {
                if (done.status == "success") return;
                if (Vm* owner = VmByNumber(model, number)) {
                    auto& nics = owner->nics;
                    nics.erase(
                        std::remove_if(nics.begin(), nics.end(), [&](const Nic& n) { return n.id == nicId; }),
                        nics.end());
                }
            });
        return TaskAnswer(task, nic.urn, nic.uri);
    }
};

}  // namespace

void RegisterVmRoutes(Router& router, RouteContext& context) {
    std::make_shared<VmRoutes>(context)->Register(router);
}

}  // namespace vrmsim
