// Disks (volumes), network cards, datastores and MAC addresses.

#include <algorithm>
#include <cctype>
#include <memory>

#include "Commands.h"
#include "RecordJson.h"
#include "RecordText.h"
#include "Table.h"

namespace fcctl {

using namespace FusionComputeSDKWrapper;

namespace {

// A yes/no option: "yes", "no", or not given (empty).
bool ParseYesNo(const std::string& option, const std::string& value) {
    if (value == "yes" || value == "true") return true;
    if (value == "no" || value == "false") return false;
    UsageError(option + " takes yes or no, not \"" + value + "\"");
}

bool IsMacAddress(const std::string& text) {
    if (text.size() != 17) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool ok = i % 3 == 2 ? text[i] == ':' : std::isxdigit(static_cast<unsigned char>(text[i])) != 0;
        if (!ok) return false;
    }
    return true;
}

// ---- disk create / delete ----------------------------------------------------------------------

// The options of a new volume go straight into its record; only the persistence flag is inverted.
struct NewDiskOptions {
    SDiskInfoLib disk;
    bool nonPersistent = false, omitVolType = false;
};

void AddNewDiskOptions(CLI::App* cmd, NewDiskOptions& o, bool required) {
    auto* name = cmd->add_option("--name", o.disk.name, "Name of the new volume");
    auto* size = cmd->add_option("--size-gb", o.disk.quantityGB, "Size in GB")->check(CLI::PositiveNumber);
    if (required) {
        name->required();
        size->required();
    }
    auto* ds = cmd->add_option("--datastore", o.disk.datastoreName, "Datastore of the new volume (by name)");
    cmd->add_option("--datastore-urn", o.disk.datastoreUrn, "... or by URN")->excludes(ds);
    cmd->add_option("--volume-uuid", o.disk.uuid, "UUID to give the volume (default: the VRM chooses)");
    cmd->add_flag("--thin", o.disk.isThin, "Thin provisioned");
    cmd->add_flag("--independent", o.disk.indepDisk, "Independent of snapshots");
    cmd->add_flag("--non-persistent", o.nonPersistent, "Changes are dropped when the VM stops");
    cmd->add_flag("--omit-vol-type", o.omitVolType, "Leave the volume type out of the request");
}

SDiskInfoLib NewDisk(const NewDiskOptions& o) {
    if (o.disk.datastoreName.empty() && o.disk.datastoreUrn.empty())
        UsageError("give --datastore NAME or --datastore-urn URN");
    SDiskInfoLib disk = o.disk;
    disk.persistentDisk = !o.nonPersistent;
    return disk;
}

void RegisterDiskCreateDelete(CLI::App& group, Session& session) {
    auto o = std::make_shared<NewDiskOptions>();
    CLI::App* cmd =
        group.add_subcommand("create", "Create a volume in the site (attach it with disk attach)");
    AddNewDiskOptions(cmd, *o, true);
    OnRun(cmd, session, [&session, o] {
        SDiskInfoLib disk = NewDisk(*o);
        session.Check(
            ShowingWait(session, "disk create",
                        [&](CFusionComputeWrapper& w) { return w.CreateDisk(disk, o->omitVolType); }),
            "cannot create volume \"" + o->disk.name + "\"");
        PrintResult(session, "disk", disk, PrintDisk, "created volume " + disk.name);
    });

    auto urn = std::make_shared<std::string>();
    cmd = group.add_subcommand("delete", "Delete a volume");
    cmd->add_option("--urn", *urn, "URN of the volume")->required();
    OnRun(cmd, session, [&session, urn] {
        SDiskInfoLib disk;
        disk.urn = *urn;
        session.Check(
            ShowingWait(session, "disk delete", [&](CFusionComputeWrapper& w) { return w.DeleteDisk(disk); }),
            "cannot delete volume " + *urn);
        PrintDone(session, "deleted volume " + *urn, {{"urn", *urn}});
    });
}

// ---- disk modify -------------------------------------------------------------------------------

struct ModifyDiskOptions {
    std::string urn, name, persistent, independent;
    VmRef vm;
};

// The library compares both disk modes with the record it is given, so a mode the user did not name
// must carry the volume's current value: it is read from the VM the volume is attached to.
void FillCurrentModes(Session& session, const ModifyDiskOptions& o, SDiskInfoLib& disk) {
    std::vector<SVMInfoLib> vms(1);
    if (!o.vm.name.empty() || !o.vm.urn.empty() || !o.vm.uuid.empty()) {
        vms[0] = ResolveVm(session, o.vm, VM_PROP_VM_GUEST_INFO);
    } else {
        session.Check(session.Wrapper().GetVMInfoList(vms, VM_PROP_VM_GUEST_INFO), "cannot list the VMs");
    }
    for (const SVMInfoLib& vm : vms) {
        for (const SDiskInfoLib& attached : vm.disks) {
            if (attached.urn != o.urn) continue;
            disk.persistentDisk = attached.persistentDisk;
            disk.indepDisk = attached.indepDisk;
            return;
        }
    }
    UsageError("volume " + o.urn + " is attached to no VM" + (o.vm.name.empty() ? "" : " of that name") +
               ": give both --persistent and --independent");
}

void RegisterDiskModify(CLI::App& group, Session& session) {
    auto o = std::make_shared<ModifyDiskOptions>();
    CLI::App* cmd = group.add_subcommand("modify", "Rename a volume or change its disk mode");
    cmd->add_option("--urn", o->urn, "URN of the volume")->required();
    cmd->add_option("--name", o->name, "New name");
    cmd->add_option("--persistent", o->persistent, "yes or no")
        ->check(CLI::IsMember({"yes", "no", "true", "false"}));
    cmd->add_option("--independent", o->independent, "yes or no")
        ->check(CLI::IsMember({"yes", "no", "true", "false"}));
    cmd->add_option("--vm", o->vm.name, "VM the volume is attached to (to keep the mode not given)");
    OnRun(cmd, session, [&session, o] {
        SDiskInfoLib disk;
        disk.urn = o->urn;
        disk.name = o->name;
        if (o->persistent.empty() || o->independent.empty()) FillCurrentModes(session, *o, disk);
        if (!o->persistent.empty()) disk.persistentDisk = ParseYesNo("--persistent", o->persistent);
        if (!o->independent.empty()) disk.indepDisk = ParseYesNo("--independent", o->independent);
        session.Check(
            ShowingWait(session, "disk modify", [&](CFusionComputeWrapper& w) { return w.ModifyDisk(disk); }),
            "cannot change volume " + o->urn);
        PrintResult(session, "disk", disk, PrintDisk, "changed volume " + disk.name);
    });
}

// ---- disk attach -------------------------------------------------------------------------------

struct AttachOptions {
    VmRef vm;
    std::string volumeUrn, pciType;
    int sequence = 0;
    NewDiskOptions create;
};

void RegisterDiskAttach(CLI::App& group, Session& session) {
    auto o = std::make_shared<AttachOptions>();
    CLI::App* cmd = group.add_subcommand(
        "attach",
        "Attach a volume to a VM: an existing one (--volume-urn) or a new one (--size-gb, --datastore)");
    AddVmOptions(cmd, o->vm);
    cmd->add_option("--volume-urn", o->volumeUrn, "URN of an existing volume");
    cmd->add_option("--pci-type", o->pciType, "Bus of the disk, e.g. IDE, SCSI or VIRTIO");
    cmd->add_option("--slot", o->sequence, "Slot on the bus (default: the VRM chooses)");
    AddNewDiskOptions(cmd, o->create, false);
    OnRun(cmd, session, [&session, o] {
        RequireVm(o->vm);
        SDiskInfoLib disk;
        if (o->volumeUrn.empty()) {
            if (o->create.disk.quantityGB <= 0)
                UsageError("give --volume-urn URN, or --size-gb and --datastore for a new volume");
            disk = NewDisk(o->create);
            if (disk.name.empty())
                disk.name = (o->vm.name.empty() ? std::string("disk") : o->vm.name) + "-disk";
        } else {
            disk.urn = o->volumeUrn;
        }
        disk.pciType = o->pciType;
        disk.sequenceNum = o->sequence;
        session.Check(ShowingWait(session, "disk attach",
                                  [&](CFusionComputeWrapper& w) {
                                      return w.AddDiskToVM(o->vm.name, o->vm.urn, o->vm.uuid, disk,
                                                           o->create.omitVolType);
                                  }),
                      "cannot attach a disk to the " + DescribeVm(o->vm));
        PrintDone(session, "attached volume " + disk.urn + " to the " + DescribeVm(o->vm),
                  {{"disk", json::value_from(disk)}});
    });
}

// ---- nic add -----------------------------------------------------------------------------------

struct NicOptions {
    VmRef vm;
    std::string name, switchName, portGroupUrn, mac;
    int virtIo = 0, sequence = 0;
};

void RegisterNic(CLI::App& app, Session& session) {
    CLI::App* group = app.add_subcommand("nic", "Network cards of VMs");
    group->require_subcommand(1);
    auto o = std::make_shared<NicOptions>();
    CLI::App* cmd = group->add_subcommand(
        "add", "Add a network card to a VM, on a port group (by URN, or the first one of a switch by name)");
    AddVmOptions(cmd, o->vm);
    auto* sw = cmd->add_option("--switch", o->switchName, "Name of the distributed switch");
    cmd->add_option("--port-group-urn", o->portGroupUrn, "URN of the port group")->excludes(sw);
    cmd->add_option("--mac", o->mac, "MAC address (default: the VRM chooses)");
    cmd->add_option("--name", o->name, "Name of the card");
    cmd->add_option("--virtio", o->virtIo, "The VRM's VirtIO setting")->capture_default_str();
    cmd->add_option("--slot", o->sequence, "Slot of the card")->capture_default_str();
    OnRun(cmd, session, [&session, o] {
        if (o->switchName.empty() && o->portGroupUrn.empty())
            UsageError("give --switch NAME or --port-group-urn URN");
        const SVMInfoLib vm = ResolveVm(session, o->vm, MIN_VM_PROPS);
        SVMNetworkCardInfoLib nic;
        nic.name = o->name;
        nic.dvSwitchName = o->switchName;
        nic.portGroupUrn = o->portGroupUrn;
        nic.mac = o->mac;
        nic.virtIo = o->virtIo;
        nic.sequenceNum = o->sequence;
        session.Check(
            ShowingWait(session, "nic add", [&](CFusionComputeWrapper& w) { return w.AddNicToVM(vm, nic); }),
            "cannot add a network card to " + vm.name);
        PrintDone(session,
                  "added a network card on " +
                      (nic.portGroupName.empty() ? nic.portGroupUrn : nic.portGroupName) + " to " + vm.name,
                  {{"nic", json::value_from(nic)}});
    });
}

// ---- datastore create, mac check ---------------------------------------------------------------

struct DatastoreOptions {
    std::string name, host, hostUrn, storageUnitUrn;
    int useType = 0;
    bool format = false;
};

void RegisterDatastore(CLI::App& app, Session& session) {
    CLI::App* group = &Noun(app, "datastore", "List and create datastores");
    auto o = std::make_shared<DatastoreOptions>();
    CLI::App* cmd = group->add_subcommand("create", "Create a datastore on a host from a storage unit");
    cmd->add_option("--name", o->name, "Name of the datastore")->required();
    auto* host = cmd->add_option("--on-host", o->host, "Host (by name)");
    cmd->add_option("--on-host-urn", o->hostUrn, "... or by URN")->excludes(host);
    cmd->add_option("--storage-unit-urn", o->storageUnitUrn, "URN of the storage unit")->required();
    cmd->add_option("--use-type", o->useType, "The VRM's use type of the datastore")->capture_default_str();
    cmd->add_flag("--format", o->format, "Format the storage unit");
    OnRun(cmd, session, [&session, o] {
        if (o->host.empty() && o->hostUrn.empty()) UsageError("give --on-host NAME or --on-host-urn URN");
        std::string hostUrn = o->hostUrn;
        if (hostUrn.empty()) {
            SHostInfoLib host;
            session.Check(session.Wrapper().GetHostInfo(o->host, "", host, MIN_VM_PROPS),
                          "cannot read host \"" + o->host + "\"");
            hostUrn = host.urn;
        }
        session.Check(ShowingWait(session, "datastore create",
                                  [&](CFusionComputeWrapper& w) {
                                      return w.CreateDataStore(o->name, hostUrn, o->storageUnitUrn,
                                                               o->useType, o->format);
                                  }),
                      "cannot create datastore \"" + o->name + "\"");
        PrintDone(session, "created datastore " + o->name + " on " + hostUrn,
                  {{"name", o->name}, {"hostUrn", hostUrn}});
    });
}

void RegisterMac(CLI::App& app, Session& session) {
    CLI::App* group = app.add_subcommand("mac", "MAC addresses");
    group->require_subcommand(1);
    auto mac = std::make_shared<std::string>();
    CLI::App* cmd = group->add_subcommand("check", "Tell whether any VM of the site uses a MAC address");
    cmd->add_option("mac", *mac, "The MAC address")->required();
    OnRun(cmd, session, [&session, mac] {
        // The VRM matches MAC addresses in part; only a whole address gives a meaningful answer.
        if (!IsMacAddress(*mac))
            UsageError("\"" + *mac + "\" is not a MAC address such as 28:6e:d4:00:00:01");
        bool inUse = false;
        session.Check(session.Wrapper().CheckMACAddress(*mac, inUse), "cannot search the VMs for " + *mac);
        if (session.Json()) return PrintJson(session.Out(), {{"mac", *mac}, {"inUse", inUse}});
        session.Out() << *mac << (inUse ? " is in use" : " is free") << '\n';
    });
}

}  // namespace

void RegisterDeviceCommands(CLI::App& app, Session& session) {
    CLI::App* disk = app.add_subcommand("disk", "Create, delete, change and attach volumes");
    disk->require_subcommand(1);
    RegisterDiskCreateDelete(*disk, session);
    RegisterDiskModify(*disk, session);
    RegisterDiskAttach(*disk, session);
    RegisterNic(app, session);
    RegisterDatastore(app, session);
    RegisterMac(app, session);
}

}  // namespace fcctl
