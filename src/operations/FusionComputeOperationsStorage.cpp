// Snapshot, volume, attachment, NIC, backup-resource and datastore operations of CFusionComputeOperations.

#include <string>

#include "connection/FusionComputeConnection.h"
#include "operations/FusionComputeOperations.h"
#include "platform/MlJson.h"

namespace FusionComputeSDKWrapper {

namespace {

// Lifetime the VRM gives a new backup resource before it expires unused (ModifyBackupResource renews it).
constexpr int kBackupResourceDelay = 150;
// A backup resource must be ready within this many minutes, or it is given back.
constexpr int kBackupResourceTimeoutMinutes = 1;
// Thick volumes are created with this volume type unless the caller asks to leave it to the VRM.
constexpr int kThickVolType = 1;

const char* SnapshotType(bool forBackup, bool useCBT) {
    if (!forBackup) {
        return "normal";
    }
    return useCBT ? "CBTbackup" : "backup";
}

// The text behind the last "/" of a link, or the whole link when it holds none.
std::string LastPathSegment(const std::string& link) {
    const std::string::size_type slash = link.rfind('/');
    return slash == std::string::npos ? link : link.substr(slash + 1);
}

}  // namespace

bool CFusionComputeOperations::CreateVMSnapshot(const SVMInfoLib& vm, const std::string& name,
                                                const std::string& description, bool needMemoryShot,
                                                bool isConsistent, bool forBackup, bool useCBT,
                                                SSnapshotInfoLib& snapshot) {
    if (!CheckTarget(vm.uri, LinkKind::Vm)) return false;
    json_spirit::mObject body;
    body["name"] = name;
    body["description"] = description;
    body["needMemoryShot"] = needMemoryShot;
    body["isConsistent"] = isConsistent;
    body["type"] = SnapshotType(forBackup, useCBT);
    return PostObjectToLinkAndGetResult(vm.uri + "/snapshots", MlJson::Serialize(body), snapshot.urn,
                                        snapshot.uri);
}

bool CFusionComputeOperations::DeleteVMSnapshot(const SSnapshotInfoLib& snapshot) {
    if (!CheckTarget(snapshot.uri, LinkKind::Snapshot, "Snapshot URI is not specified")) return false;
    return DeleteObjectFromLinkAndWaitForTask(snapshot.uri, "");
}

bool CFusionComputeOperations::CreateDisk(const SSiteInfoLib& site, SDiskInfoLib& disk, bool omitVolType) {
    if (!CheckTarget(site.uri, LinkKind::Site)) return false;
    json_spirit::mObject body;
    body["name"] = disk.name;
    body["quantityGB"] = disk.quantityGB;
    body["datastoreUrn"] = disk.datastoreUrn;
    if (!disk.uuid.empty()) {
        body["uuid"] = disk.uuid;
    }
    body["isThin"] = disk.isThin;
    if (!disk.isThin && !omitVolType) {
        body["volType"] = kThickVolType;
    }
    body["type"] = "normal";
    body["indepDisk"] = disk.indepDisk;
    body["persistentDisk"] = disk.persistentDisk;
    return PostObjectToLinkAndGetResult(site.uri + "/volumes", MlJson::Serialize(body), disk.urn, disk.uri);
}

bool CFusionComputeOperations::DeleteDisk(const SDiskInfoLib& disk) {
    if (!CheckTarget(disk.uri, LinkKind::Volume, "Disk URI is not specified")) return false;
    return DeleteObjectFromLinkAndWaitForTask(disk.uri, "");
}

bool CFusionComputeOperations::ModifyDiskAttributes(const SDiskInfoLib& disk) {
    if (!CheckTarget(disk.uri, LinkKind::Volume, "Disk URI is not specified")) return false;
    json_spirit::mObject body;
    body["name"] = disk.name;
    body["indepDisk"] = disk.indepDisk;
    body["persistentDisk"] = disk.persistentDisk;
    std::string response;
    return SendWithoutTask(Verb::Put, disk.uri, MlJson::Serialize(body), response);
}

bool CFusionComputeOperations::AttachDiskToVM(const SVMInfoLib& vm, const SDiskInfoLib& disk) {
    if (!CheckTarget(vm.uri, LinkKind::Vm)) return false;
    json_spirit::mObject body;
    body["volUrn"] = disk.urn;
    if (!disk.pciType.empty()) {
        body["pciType"] = disk.pciType;
    }
    if (disk.sequenceNum != 0) {
        body["sequenceNum"] = disk.sequenceNum;
    }
    return PostObjectToLinkAndWaitForTask(vm.uri + "/action/attachvol", MlJson::Serialize(body));
}

bool CFusionComputeOperations::DetachDiskFromVM(const SVMInfoLib& vm, const SDiskInfoLib& disk) {
    if (!CheckTarget(vm.uri, LinkKind::Vm)) return false;
    json_spirit::mObject body;
    body["volUrn"] = disk.urn;
    return PostObjectToLinkAndWaitForTask(vm.uri + "/action/detachvol", MlJson::Serialize(body));
}

bool CFusionComputeOperations::AddNicToVM(const SVMInfoLib& vm, const SVMNetworkCardInfoLib& nic) {
    if (!CheckTarget(vm.uri, LinkKind::Vm)) return false;
    json_spirit::mObject body;
    if (!nic.name.empty()) {
        body["name"] = nic.name;
    }
    body["portGroupUrn"] = nic.portGroupUrn;
    if (!nic.mac.empty()) {
        body["mac"] = nic.mac;
    }
    body["sequenceNum"] = nic.sequenceNum;
    body["virtIo"] = nic.virtIo;
    body["portId"] = nic.portId;
    return PostObjectToLinkAndWaitForTask(vm.uri + "/virtualNics", MlJson::Serialize(body));
}

bool CFusionComputeOperations::PrepareBackupResource(const SDiskInfoLib& disk, const std::string& snapUrn,
                                                     const std::string& ip, bool restore, bool ssl,
                                                     SBackupResourceInfoLib& resource) {
    if (!CheckTarget(disk.uri, LinkKind::Volume)) return false;
    const std::string link = disk.uri + "/backupresources";
    json_spirit::mObject body;
    body["delay"] = kBackupResourceDelay;
    body["taskType"] = restore ? "CBTRestore" : "CBTBackup";
    body["ip"] = ip;
    if (!restore) {
        body["snapUrn2"] = snapUrn;
    }
    body["transMode"] = ssl ? "lanssl" : "lan";

    STaskInfoLib task;
    if (!PostObjectToLinkAndGetTask(link, MlJson::Serialize(body), task)) {
        return false;
    }
    // The resource is addressed by the identifier of the task that created it. Without one its link would
    // be the disk's whole resource collection, which must be neither polled nor deleted.
    const std::string taskId = LastPathSegment(task.taskUri);
    if (taskId.empty()) {
        debug.Error(__PRETTY_FUNCTION__, "Backup resource request for [%s] named no task", disk.uri.c_str());
        SetLastError("The backup resource request returned no task");
        return false;
    }
    resource.uri = link + "/" + taskId;
    if (WaitForStatus(resource, kBackupResourceTimeoutMinutes)) {
        return true;
    }
    // A grant that is not ready in time (or whose wait was cancelled) is given back at once; the wait's
    // error is what the caller sees, with the resource named when the release fails as well.
    const std::string waitError = GetLastError();
    const long waitCode = GetErrorCode();
    bool released = false;
    {
        const CancelShield shield(connection);
        released = ReleaseBackupResource(resource);
    }
    if (released) {
        SetLastError(waitError);
    } else {
        const std::string releaseError = GetLastError();
        debug.Error(__PRETTY_FUNCTION__, "Backup resource [%s] may remain: %s", resource.uri.c_str(),
                    releaseError.c_str());
        SetLastError(waitError + "; backup resource " + resource.uri +
                     " may remain on the VRM (releasing it failed: " + releaseError + ")");
    }
    SetErrorCode(waitCode);
    return false;
}

bool CFusionComputeOperations::ReleaseBackupResource(const SBackupResourceInfoLib& resource) {
    if (!CheckTarget(resource.uri, LinkKind::BackupResource)) return false;
    std::string response;
    return SendWithoutTask(Verb::Delete, resource.uri, "", response);
}

bool CFusionComputeOperations::ModifyBackupResource(const SBackupResourceInfoLib& resource, int delay) {
    if (!CheckTarget(resource.uri, LinkKind::BackupResource)) return false;
    json_spirit::mObject body;
    body["delay"] = delay;
    std::string response;
    return SendWithoutTask(Verb::Put, resource.uri, MlJson::Serialize(body), response);
}

bool CFusionComputeOperations::CreateDataStore(const SSiteInfoLib& site, const std::string& name,
                                               const std::string& hostUrn, const std::string& storageUnitUrn,
                                               int useType, bool format) {
    if (!CheckTarget(site.uri, LinkKind::Site)) return false;
    json_spirit::mObject body;
    body["name"] = name;
    body["hostUrn"] = hostUrn;
    body["storageUnitUrn"] = storageUnitUrn;
    body["useType"] = useType;
    body["formatFlag"] = format ? 1 : 0;
    return PostObjectToLinkAndWaitForTask(site.uri + "/datastores", MlJson::Serialize(body));
}

}  // namespace FusionComputeSDKWrapper
