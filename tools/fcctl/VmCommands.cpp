// VM management: power, create, change, delete, descriptors and restore helpers.

#include <map>
#include <memory>

#include "Commands.h"
#include "RecordJson.h"
#include "RecordText.h"
#include "Table.h"

namespace fcctl {

using namespace FusionComputeSDKWrapper;

namespace {

// ---- power -------------------------------------------------------------------------------------

enum class Power { Start, Stop, Shutdown };

void RegisterPower(CLI::App& vm, Session& session, const char* name, Power power, const char* help) {
    auto ref = std::make_shared<VmRef>();
    CLI::App* cmd = vm.add_subcommand(name, help);
    AddVmOptions(cmd, *ref);
    const std::string label = std::string("vm ") + name;
    OnRun(cmd, session, [&session, ref, power, label] {
        RequireVm(*ref);
        const bool ok = ShowingWait(session, label, [&](CFusionComputeWrapper& wrapper) {
            if (power == Power::Start) return wrapper.PowerOnVM(ref->name, ref->urn, ref->uuid);
            if (power == Power::Stop) return wrapper.PowerOffVM(ref->name, ref->urn, ref->uuid);
            return wrapper.ShutdownVM(ref->name, ref->urn, ref->uuid);
        });
        const std::string what = DescribeVm(*ref);
        const char* verb = power == Power::Start ? "start" : power == Power::Stop ? "stop" : "shut down";
        session.Check(ok, std::string("cannot ") + verb + " the " + what);
        const char* done = power == Power::Start ? "started" : power == Power::Stop ? "stopped" : "shut down";
        PrintDone(session, std::string(done) + " the " + what, {{"action", done}});
    });
}

// ---- placement shared by create and import-ovf ------------------------------------------------

struct Placement {
    std::string cluster, clusterUrn, host, hostUrn;
};

void AddPlacementOptions(CLI::App* cmd, Placement& p) {
    cmd->add_option("--cluster", p.cluster, "Create the VM in this cluster (by name)");
    cmd->add_option("--cluster-urn", p.clusterUrn, "... or in the cluster of this URN");
    cmd->add_option("--on-host", p.host, "... or on this host (by name)");
    cmd->add_option("--on-host-urn", p.hostUrn, "... or on the host of this URN");
}

void ApplyPlacement(const Placement& p, SVMInfoLib& vm) {
    if (!p.host.empty() || !p.hostUrn.empty() || !p.cluster.empty() || !p.clusterUrn.empty()) {
        vm.hostName = p.host;
        vm.hostUrn = p.hostUrn;
        vm.clusterName = p.cluster;
        vm.clusterUrn = p.clusterUrn;
    }
    if (vm.hostUrn.empty() && vm.hostName.empty() && vm.clusterUrn.empty() && vm.clusterName.empty()) {
        UsageError("say where to create the VM: --cluster, --cluster-urn, --on-host or --on-host-urn");
    }
}

// ---- create / modify / delete ------------------------------------------------------------------

struct CreateOptions {
    std::string name, uuid;
    Placement placement;
    int cpus = 0, coresPerSocket = 0;
    unsigned long long memoryMB = 0;
};

void RegisterCreate(CLI::App& vm, Session& session) {
    auto o = std::make_shared<CreateOptions>();
    CLI::App* cmd = vm.add_subcommand(
        "create", "Create a VM without disks and network cards (add them with disk attach and nic add)");
    cmd->add_option("--name", o->name, "Name of the new VM")->required();
    cmd->add_option("--uuid", o->uuid, "UUID to give the VM (default: the VRM chooses)");
    AddPlacementOptions(cmd, o->placement);
    cmd->add_option("--cpus", o->cpus, "Virtual CPUs (default 1)");
    cmd->add_option("--cores-per-socket", o->coresPerSocket, "Cores per CPU socket (default 1)");
    cmd->add_option("--memory-mb", o->memoryMB, "Memory in MB (default 1024)");
    OnRun(cmd, session, [&session, o] {
        SVMInfoLib vm;
        vm.name = o->name;
        vm.uuid = o->uuid;
        ApplyPlacement(o->placement, vm);
        vm.cpuQuantity = o->cpus;
        vm.coresPerSocket = o->coresPerSocket;
        vm.memoryQuantityMB = o->memoryMB;
        session.Check(
            ShowingWait(session, "vm create", [&](CFusionComputeWrapper& w) { return w.CreateVM(vm); }),
            "cannot create VM \"" + o->name + "\"");
        PrintResult(session, "vm", vm, PrintVm, "created VM " + vm.name);
    });
}

struct ModifyOptions {
    VmRef vm;
    std::string newName;
    int cpus = 0, coresPerSocket = 0;
    unsigned long long memoryMB = 0;
};

void RegisterModify(CLI::App& vm, Session& session) {
    auto o = std::make_shared<ModifyOptions>();
    CLI::App* cmd = vm.add_subcommand("modify", "Rename a VM or change its CPUs and memory");
    AddVmOptions(cmd, o->vm);
    cmd->add_option("--new-name", o->newName, "New name of the VM");
    cmd->add_option("--cpus", o->cpus, "Virtual CPUs");
    cmd->add_option("--cores-per-socket", o->coresPerSocket, "Cores per CPU socket");
    cmd->add_option("--memory-mb", o->memoryMB, "Memory in MB");
    OnRun(cmd, session, [&session, o] {
        // The library finds the VM to change by UUID before URN before name and sends the record's name
        // when it differs, so the VM is pinned by its UUID and URN and the record carries the new name.
        const SVMInfoLib current = ResolveVm(session, o->vm, MIN_VM_PROPS);
        SVMInfoLib wanted(o->newName.empty() ? current.name : o->newName, current.urn, current.uuid);
        wanted.cpuQuantity = o->cpus;
        wanted.coresPerSocket = o->coresPerSocket;
        wanted.memoryQuantityMB = o->memoryMB;
        session.Check(
            ShowingWait(session, "vm modify", [&](CFusionComputeWrapper& w) { return w.ModifyVM(wanted); }),
            "cannot change the " + DescribeVm(o->vm));
        PrintDone(session, "changed VM " + wanted.name, {{"vm", VmSummary(wanted)}});
    });
}

void RegisterDelete(CLI::App& vm, Session& session) {
    struct DeleteOptions {
        VmRef vm;
        bool deleteDisks = false;
    };
    auto o = std::make_shared<DeleteOptions>();
    CLI::App* cmd = vm.add_subcommand("delete", "Delete a VM (its volumes are kept unless --delete-disks)");
    AddVmOptions(cmd, o->vm);
    cmd->add_flag("--delete-disks", o->deleteDisks, "Delete the VM's volumes too");
    OnRun(cmd, session, [&session, o] {
        RequireVm(o->vm);
        session.Check(ShowingWait(session, "vm delete",
                                  [&](CFusionComputeWrapper& w) {
                                      return w.DeleteVM(o->vm.name, o->vm.urn, o->vm.uuid, o->deleteDisks);
                                  }),
                      "cannot delete the " + DescribeVm(o->vm));
        PrintDone(session, "deleted the " + DescribeVm(o->vm) + (o->deleteDisks ? " and its disks" : ""),
                  {{"disksDeleted", o->deleteDisks}});
    });
}

// ---- descriptors -------------------------------------------------------------------------------

struct ExportOptions {
    VmRef vm;
    std::string out;
};

void Emit(Session& session, const std::string& out, const std::string& descriptor, const std::string& kind) {
    if (out.empty()) {
        session.Out() << descriptor;
        if (descriptor.empty() || descriptor.back() != '\n') session.Out() << '\n';
        return;
    }
    WriteFileOrFail(out, descriptor);
    PrintDone(session, "wrote the " + kind + " descriptor to " + out,
              {{"file", out}, {"bytes", descriptor.size()}});
}

void RegisterExports(CLI::App& vm, Session& session) {
    auto ovf = std::make_shared<ExportOptions>();
    CLI::App* cmd = vm.add_subcommand("export-ovf", "Write the OVF descriptor the VRM makes of a VM");
    AddVmOptions(cmd, ovf->vm);
    cmd->add_option("--out", ovf->out, "File to write (default: standard output)")->type_name("FILE");
    OnRun(cmd, session, [&session, ovf] {
        RequireVm(ovf->vm);
        std::string descriptor;
        session.Check(
            session.Wrapper().GetOVFDescriptorForVM(ovf->vm.name, ovf->vm.urn, ovf->vm.uuid, descriptor),
            "cannot make the OVF descriptor of the " + DescribeVm(ovf->vm));
        if (descriptor.empty()) throw CommandError(kExitFailed, "the VRM returned an empty OVF descriptor");
        Emit(session, ovf->out, descriptor, "OVF");
    });

    auto json = std::make_shared<ExportOptions>();
    cmd = vm.add_subcommand("export-json",
                            "Write the VRM's JSON object of a VM (for reconnect-nics and import-ovf)");
    AddVmOptions(cmd, json->vm);
    cmd->add_option("--out", json->out, "File to write (default: standard output)")->type_name("FILE");
    OnRun(cmd, session, [&session, json] {
        const SVMInfoLib vm = ResolveVm(session, json->vm, MIN_VM_PROPS);
        std::string descriptor;
        session.Check(session.Wrapper().GetJSONDescriptorForVM(vm, descriptor),
                      "cannot read the JSON descriptor of the " + DescribeVm(json->vm));
        Emit(session, json->out, descriptor, "JSON");
    });
}

// ---- import-ovf --------------------------------------------------------------------------------

struct ImportOptions {
    std::string ovfFile;
    std::string jsonFile;
    std::string name;
    Placement placement;
    std::vector<std::string> volumes;
    std::string datastore;
};

// "URN,UUID[,OLD_UUID]": an existing volume for the new VM and the disk of the descriptor it replaces.
void AddVolumeArgument(const std::string& text, SVMInfoLib& vm, std::map<std::string, std::string>& paths) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (true) {
        const std::size_t comma = text.find(',', begin);
        parts.push_back(text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin));
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    if (parts.size() < 2 || parts.size() > 3 || parts[0].empty() || parts[1].empty()) {
        UsageError("--volume takes URN,UUID or URN,UUID,DESCRIPTOR_UUID, not \"" + text + "\"");
    }
    SDiskInfoLib disk;
    disk.urn = parts[0];
    disk.uuid = parts[1];
    vm.disks.push_back(disk);
    if (parts.size() == 3 && !parts[2].empty()) paths[disk.uuid] = parts[2];
}

// The old disk's name with the old VM's name in front replaced by the new one ("vm-0001-disk1" of
// vm-0001 becomes "restored-disk1" for the VM "restored"); other names get the new VM's name in front.
std::string NewDiskName(const std::string& vmName, const std::string& oldVmName,
                        const std::string& oldDiskName) {
    if (oldDiskName.empty()) return vmName + "-disk";
    if (!oldVmName.empty() && oldDiskName.compare(0, oldVmName.size(), oldVmName) == 0) {
        return vmName + oldDiskName.substr(oldVmName.size());
    }
    return vmName + "-" + oldDiskName;
}

// Creates, for each disk of the old VM's JSON descriptor, a new volume of the same size, datastore and
// mode; the new VM gets them in the old order, each mapped to the old disk's entry in the OVF descriptor.
void CreateVolumesLike(Session& session, const ImportOptions& o, const SVMInfoLib& old, SVMInfoLib& vm,
                       std::map<std::string, std::string>& paths, std::vector<SDiskInfoLib>& created) {
    for (const SDiskInfoLib& oldDisk : old.disks) {
        SDiskInfoLib disk;
        disk.name = NewDiskName(o.name, old.name, oldDisk.name);
        disk.quantityGB = oldDisk.quantityGB;
        if (o.datastore.empty()) {
            disk.datastoreUrn = oldDisk.datastoreUrn;
        } else {
            disk.datastoreName = o.datastore;
        }
        disk.isThin = oldDisk.isThin;
        disk.persistentDisk = oldDisk.persistentDisk;
        disk.indepDisk = oldDisk.indepDisk;
        session.Check(session.Wrapper().CreateDisk(disk, false),
                      "cannot create a volume like " + oldDisk.urn);
        created.push_back(disk);
        if (!session.Json())
            session.Out() << "created volume " << CellText(disk.name) << " (" << CellText(disk.urn) << ")\n";
        disk.pciType = oldDisk.pciType;
        disk.sequenceNum = oldDisk.sequenceNum;
        vm.disks.push_back(disk);
        paths[disk.uuid] = oldDisk.uuid;
    }
}

void RunImport(Session& session, const ImportOptions& o) {
    if (o.jsonFile.empty() && o.volumes.empty()) {
        UsageError(
            "give the volumes of the new VM: --like JSON_DESCRIPTOR (new volumes like the old ones) or "
            "--volume URN,UUID[,DESCRIPTOR_UUID] for each disk");
    }
    const std::string ovf = ReadFileOrFail(o.ovfFile);
    SVMInfoLib vm;
    vm.name = o.name;
    std::map<std::string, std::string> paths;
    SVMInfoLib old;
    if (!o.jsonFile.empty()) {
        const std::string json = ReadFileOrFail(o.jsonFile);
        if (!session.Wrapper().GetVMInfoFromJSONDescriptor(json, old))
            UsageError(o.jsonFile + " is not a VM's JSON descriptor");
        // The old VM's cluster (or, without one, its host) is the default place of the new one.
        if (old.clusterUrn.empty()) vm.hostUrn = old.hostUrn;
        vm.clusterUrn = old.clusterUrn;
    }
    for (const std::string& volume : o.volumes) AddVolumeArgument(volume, vm, paths);
    const bool placed = !o.placement.host.empty() || !o.placement.hostUrn.empty() ||
                        !o.placement.cluster.empty() || !o.placement.clusterUrn.empty();
    if (placed || (vm.hostUrn.empty() && vm.clusterUrn.empty())) ApplyPlacement(o.placement, vm);
    std::vector<SDiskInfoLib> created;
    try {
        if (o.volumes.empty()) CreateVolumesLike(session, o, old, vm, paths, created);
        session.Check(ShowingWait(session, "vm import-ovf",
                                  [&](CFusionComputeWrapper& w) {
                                      return w.CreateVMFromOVFDescriptor(ovf, vm, paths);
                                  }),
                      "cannot create VM \"" + o.name + "\" from " + o.ovfFile);
    } catch (const CommandError&) {
        // Volumes made for a VM that could not be created would only be left behind.
        for (const SDiskInfoLib& disk : created) session.Wrapper().DeleteDisk(disk);
        throw;
    }
    PrintResult(session, "vm", vm, PrintVm, "created VM " + vm.name + " from " + o.ovfFile);
}

void RegisterImport(CLI::App& vm, Session& session) {
    auto o = std::make_shared<ImportOptions>();
    CLI::App* cmd = vm.add_subcommand("import-ovf",
                                      "Create a VM from an OVF descriptor on new volumes: with --like, "
                                      "volumes like those of the old VM's JSON "
                                      "descriptor are created first; with --volume, existing volumes are "
                                      "used. Network cards are not created "
                                      "(use reconnect-nics)");
    cmd->add_option("--ovf", o->ovfFile, "The OVF descriptor (from export-ovf)")
        ->required()
        ->type_name("FILE");
    cmd->add_option("--name", o->name, "Name of the new VM")->required();
    cmd->add_option("--like", o->jsonFile, "The old VM's JSON descriptor (from export-json)")
        ->type_name("FILE");
    cmd->add_option("--volume", o->volumes,
                    "Use this volume: URN,UUID[,UUID of the disk in the descriptor]; repeat per disk")
        ->allow_extra_args(false)
        ->type_name("VOLUME");
    cmd->add_option("--datastore", o->datastore, "Datastore of the new volumes (default: the old disk's)");
    AddPlacementOptions(cmd, o->placement);
    OnRun(cmd, session, [&session, o] { RunImport(session, *o); });
}

void RegisterReconnect(CLI::App& vm, Session& session) {
    struct ReconnectOptions {
        VmRef vm;
        std::string descriptor;
    };
    auto o = std::make_shared<ReconnectOptions>();
    CLI::App* cmd = vm.add_subcommand("reconnect-nics",
                                      "Add to a VM the network cards of a JSON descriptor (a MAC address "
                                      "used elsewhere is replaced by a new one)");
    AddVmOptions(cmd, o->vm);
    cmd->add_option("--descriptor", o->descriptor, "The JSON descriptor (from export-json)")
        ->required()
        ->type_name("FILE");
    OnRun(cmd, session, [&session, o] {
        const std::string descriptor = ReadFileOrFail(o->descriptor);
        SVMInfoLib old;
        if (!session.Wrapper().GetVMInfoFromJSONDescriptor(descriptor, old)) {
            UsageError(o->descriptor + " is not a VM's JSON descriptor");
        }
        const SVMInfoLib vm = ResolveVm(session, o->vm, VM_PROP_VM_HOST_INFO);
        const std::size_t before = vm.nics.size();
        session.Check(ShowingWait(session, "vm reconnect-nics",
                                  [&](CFusionComputeWrapper& w) {
                                      return w.ReconnectNetworksFromJSONDescriptor(vm, descriptor);
                                  }),
                      "cannot reconnect the network cards of the " + DescribeVm(o->vm));
        const SVMInfoLib after =
            ResolveVm(session, VmRef{vm.name, vm.urn, vm.uuid}, VM_PROP_VM_HOST_INFO | VM_PROP_VM_NW_LIST);
        const std::size_t added = after.nics.size() >= before ? after.nics.size() - before : 0;
        if (session.Json()) {
            return PrintJson(session.Out(), {{"vm", VmSummary(after)},
                                             {"descriptorNics", old.nics.size()},
                                             {"added", added},
                                             {"nics", json::value_from(after.nics)}});
        }
        session.Out() << "added " << added << " of " << old.nics.size() << " network cards to "
                      << CellText(after.name) << "\n\n";
        PrintVmList(session.Out(), {after}, VmSections{false, true, false});
    });
}

}  // namespace

void RegisterVmCommands(CLI::App& vm, Session& session) {
    RegisterPower(vm, session, "start", Power::Start, "Start a VM");
    RegisterPower(vm, session, "stop", Power::Stop, "Stop a VM at once (forced)");
    RegisterPower(vm, session, "shutdown", Power::Shutdown, "Shut a VM down through its guest (safe)");
    RegisterCreate(vm, session);
    RegisterModify(vm, session);
    RegisterDelete(vm, session);
    RegisterExports(vm, session);
    RegisterImport(vm, session);
    RegisterReconnect(vm, session);
}

}  // namespace fcctl
