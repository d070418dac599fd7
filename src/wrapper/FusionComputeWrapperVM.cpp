// VM management operations of the facade: power, creation (also from an OVF descriptor), change and
// deletion of VMs, volumes, network cards and datastores, and the VM descriptors used to re-create a VM.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "FusionComputeWrapper.h"
#include "connection/FusionComputeConnection.h"
#include "connection/FusionComputeLinks.h"
#include "connection/FusionComputeLogFunctions.h"
#include "operations/FusionComputeOperations.h"
#include "parser/FusionComputeParser.h"
#include "platform/MLSRestApiConnection.h"
#include "queries/FusionComputeQueries.h"

namespace FusionComputeSDKWrapper {

namespace {

constexpr int32_t kDefaultCpuQuantity = 1;
constexpr int32_t kDefaultCoresPerSocket = 1;
constexpr uint64_t kDefaultMemoryMB = 1024;

/// Reads a VM that was just created back into its record, with every detail.
bool ReadBackCreatedVM(CFusionComputeWrapper& wrapper, SVMInfoLib& vm) {
    // The search arguments are copied: the read replaces the record they come from.
    const std::string name = vm.name;
    const std::string urn = vm.urn;
    const std::string uuid = vm.uuid;
    return wrapper.GetVMInfo(name, urn, uuid, vm, VM_PROP_ALL);
}

/// Connects `nic` to the first port group of the site's switch named by its dvSwitchName. Read failures
/// only mean that no port group is chosen.
void ChoosePortGroup(CFusionComputeQueries& queries, const SSiteInfoLib& site, SVMNetworkCardInfoLib& nic) {
    std::vector<SNetworkInfoLib> networks;
    queries.GetNetworkInfoList(site, networks, MIN_VM_PROPS);
    for (const SNetworkInfoLib& network : networks) {
        if (network.name != nic.dvSwitchName) continue;
        std::vector<SPortGroupInfoLib> groups;
        queries.GetNetworkPortGroups(network, groups, MIN_VM_PROPS);
        if (!groups.empty()) {
            nic.portGroupName = groups.front().name;
            nic.portGroupUrn = groups.front().urn;
            return;
        }
    }
}

}  // namespace

bool CFusionComputeWrapper::PowerOnVM(const std::string& name, const std::string& urn,
                                      const std::string& uuid) {
    const ConnectionCall call(connection);
    return ChangeVMPowerState(name, urn, uuid, true, false);
}

bool CFusionComputeWrapper::PowerOffVM(const std::string& name, const std::string& urn,
                                       const std::string& uuid) {
    const ConnectionCall call(connection);
    return ChangeVMPowerState(name, urn, uuid, false, true);
}

bool CFusionComputeWrapper::ShutdownVM(const std::string& name, const std::string& urn,
                                       const std::string& uuid) {
    const ConnectionCall call(connection);
    return ChangeVMPowerState(name, urn, uuid, false, false);
}

bool CFusionComputeWrapper::ChangeVMPowerState(const std::string& name, const std::string& urn,
                                               const std::string& uuid, bool powerOn, bool force) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SVMInfoLib vm;
    if (!GetVMInfo(name, urn, uuid, vm, MIN_VM_PROPS)) return false;
    return operations->ChangeVMPowerState(vm, powerOn, force) || _CopyOperationsError();
}

bool CFusionComputeWrapper::UpdateVMLocationForCreate(SVMInfoLib& vm) {
    const ConnectionCall call(connection);
    // A host places the VM more precisely than a cluster, so a host name wins.
    if (!vm.hostName.empty() && vm.hostUrn.empty()) {
        SHostInfoLib host;
        if (!GetHostInfo(vm.hostName, vm.hostUrn, host, MIN_VM_PROPS)) return false;
        vm.hostUrn = host.urn;
    } else if (!vm.clusterName.empty() && vm.clusterUrn.empty()) {
        SClusterInfoLib cluster;
        if (!GetClusterInfo(vm.clusterName, vm.clusterUrn, cluster, MIN_VM_PROPS)) return false;
        vm.clusterUrn = cluster.urn;
    }
    return true;
}

bool CFusionComputeWrapper::CreateVM(SVMInfoLib& vm) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!UpdateVMLocationForCreate(vm)) return false;
    if (vm.cpuQuantity == 0) vm.cpuQuantity = kDefaultCpuQuantity;
    if (vm.coresPerSocket == 0) vm.coresPerSocket = kDefaultCoresPerSocket;
    if (vm.memoryQuantityMB == 0 || vm.memoryQuantityMB == UINT64_MAX) vm.memoryQuantityMB = kDefaultMemoryMB;

    operations->ForgetCreation();
    if (!operations->CreateVM(GetSite(), vm)) {
        _CopyOperationsError();
        return _UndoCreation(CreatedKind::VM);
    }
    return ReadBackCreatedVM(*this, vm) || _UndoCreation(CreatedKind::VM);
}

bool CFusionComputeWrapper::CreateVMFromOVFDescriptor(const std::string& descriptor, SVMInfoLib& vm,
                                                      const std::map<std::string, std::string>& diskPathMap) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!UpdateVMLocationForCreate(vm)) return false;
    operations->ForgetCreation();
    if (!operations->CreateVMFromOVFDescriptor(GetSite(), descriptor, vm, diskPathMap)) {
        _CopyOperationsError();
        return _UndoCreation(CreatedKind::VM);
    }
    return ReadBackCreatedVM(*this, vm) || _UndoCreation(CreatedKind::VM);
}

bool CFusionComputeWrapper::DeleteVM(const SVMInfoLib& vm, bool deleteDisks) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SVMInfoLib target = vm;
    if (vm.uri.empty() && !GetVMInfo(vm.name, vm.urn, vm.uuid, target, MIN_VM_PROPS)) return false;
    return operations->DeleteVM(target, deleteDisks) || _CopyOperationsError();
}

bool CFusionComputeWrapper::DeleteVM(const std::string& name, const std::string& urn, const std::string& uuid,
                                     bool deleteDisks) {
    const ConnectionCall call(connection);
    return DeleteVM(SVMInfoLib(name, urn, uuid), deleteDisks);
}

bool CFusionComputeWrapper::ModifyVM(SVMInfoLib& vm) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SVMInfoLib current;
    if (!GetVMInfo(vm.name, vm.urn, vm.uuid, current, VM_PROP_ALL)) return false;

    // A caller that names the VM by URN or UUID leaves the name empty; that must not rename the VM to "".
    SVMInfoLib wanted = vm;
    if (wanted.name.empty()) wanted.name = current.name;
    return operations->ModifyVM(current, wanted) || _CopyOperationsError();
}

bool CFusionComputeWrapper::GetOVFDescriptorForVM(const SVMInfoLib& vm, std::string& descriptor) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SVMInfoLib target = vm;
    if ((vm.uri.empty() || vm.disks.empty()) &&
        !GetVMInfo(vm.name, vm.urn, vm.uuid, target, VM_PROP_VM_DISK_LIST)) {
        return false;
    }
    return operations->GenerateOVFDescriptor(target, descriptor) || _CopyOperationsError();
}

bool CFusionComputeWrapper::GetOVFDescriptorForVM(const std::string& name, const std::string& urn,
                                                  const std::string& uuid, std::string& descriptor) {
    const ConnectionCall call(connection);
    return GetOVFDescriptorForVM(SVMInfoLib(name, urn, uuid), descriptor);
}

bool CFusionComputeWrapper::GetJSONDescriptorForVM(const SVMInfoLib& vm, std::string& descriptor) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    // Without a link the request would read the VRM's root instead of a VM.
    if (vm.uri.empty()) return _Fail("VM URI is not specified");
    if (!IsLinkOfKind(vm.uri, LinkKind::Vm, GetSite().uri)) return _Fail(LinkRefusal(vm.uri, LinkKind::Vm));
    return connection->get(vm.uri, descriptor, nullptr) || _FailRequest(descriptor);
}

bool CFusionComputeWrapper::GetVMInfoFromJSONDescriptor(const std::string& descriptor, SVMInfoLib& vm) {
    return parser->ParseObject(descriptor, vm) || _Fail("The JSON descriptor could not be read");
}

bool CFusionComputeWrapper::ReconnectNetworksFromJSONDescriptor(const SVMInfoLib& vm,
                                                                const std::string& descriptor) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SVMInfoLib old;
    if (!GetVMInfoFromJSONDescriptor(descriptor, old)) return false;

    int reconnected = 0;
    for (SVMNetworkCardInfoLib& card : old.nics) {
        bool inUse = false;
        if (!CheckMACAddress(card.mac, inUse)) continue;
        // Another VM already has the address: let the VRM assign a new one.
        if (inUse) card.mac.clear();
        if (AddNicToVM(vm, card)) ++reconnected;
    }
    Debug(LogFunction::kReconnectNetworksFromJSONDescriptor, "Reconnected %d of %d nics to vm [%s]",
          reconnected, static_cast<int>(old.nics.size()), vm.name.c_str());
    return true;
}

bool CFusionComputeWrapper::CreateDisk(SDiskInfoLib& disk, bool omitVolType) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!disk.datastoreName.empty() && disk.datastoreUrn.empty()) {
        SDataStoreInfoLib datastore;
        if (!GetDataStoreInfo(disk.datastoreName, disk.datastoreUrn, datastore, MIN_VM_PROPS)) return false;
        disk.datastoreUrn = datastore.urn;
    }
    operations->ForgetCreation();
    if (!operations->CreateDisk(GetSite(), disk, omitVolType)) {
        _CopyOperationsError();
        return _UndoCreation(CreatedKind::Volume);
    }
    if (queries->GetDiskInfo(disk)) return true;
    _CopyQueriesError();
    return _UndoCreation(CreatedKind::Volume);
}

bool CFusionComputeWrapper::DeleteDisk(const SDiskInfoLib& disk) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SDiskInfoLib target = disk;
    if (disk.uri.empty()) {
        if (disk.urn.empty()) return _Fail("Disk URN is not specified");
        // Only a volume is read (and then deleted), whatever the URN names.
        const std::string link = queries->ConvertUrnToUri(disk.urn);
        if (!IsLinkOfKind(link, LinkKind::Volume, GetSite().uri))
            return _Fail(LinkRefusal(link.empty() ? disk.urn : link, LinkKind::Volume));
        target = SDiskInfoLib();
        target.urn = disk.urn;
        if (!queries->GetDiskInfo(target)) return _CopyQueriesError();
    }
    return operations->DeleteDisk(target) || _CopyOperationsError();
}

bool CFusionComputeWrapper::ModifyDisk(SDiskInfoLib& disk) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SDiskInfoLib current = disk;
    if (!queries->GetDiskInfo(current)) return _CopyQueriesError();

    const bool renamed = !disk.name.empty() && disk.name != current.name;
    if (renamed || disk.persistentDisk != current.persistentDisk || disk.indepDisk != current.indepDisk) {
        disk.uri = current.uri;
        // The change always carries a name; an empty one in the caller's record means "keep it".
        SDiskInfoLib wanted = disk;
        if (wanted.name.empty()) wanted.name = current.name;
        if (!operations->ModifyDiskAttributes(wanted)) return _CopyOperationsError();
    }
    return queries->GetDiskInfo(disk);
}

bool CFusionComputeWrapper::AddDiskToVM(const SVMInfoLib& vm, SDiskInfoLib& disk, bool omitVolType) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SVMInfoLib target = vm;
    if (vm.uri.empty() && !GetVMInfo(vm.name, vm.urn, vm.uuid, target, MIN_VM_PROPS)) return false;

    bool createdHere = false;
    if (disk.urn.empty()) {
        // Reading the new volume back reports its own bus and slot; the caller's choice is what counts
        // for the attachment.
        const std::string pciType = disk.pciType;
        const int32_t sequenceNum = disk.sequenceNum;
        if (!CreateDisk(disk, omitVolType)) return false;
        disk.pciType = pciType;
        disk.sequenceNum = sequenceNum;
        createdHere = true;
    }
    if (operations->AttachDiskToVM(target, disk)) return true;

    _CopyOperationsError();
    if (!createdHere) return false;
    const std::string failure = lastError;
    const long failureCode = errorState.code;
    bool deleted = false;
    {
        const CancelShield shield(connection);
        deleted = operations->DeleteDisk(disk);
    }
    const std::string outcome =
        deleted ? "the new volume " + disk.urn + " was deleted again"
                : "the new volume " + disk.urn +
                      " may remain on the VRM (deleting it failed: " + operations->GetLastError() + ")";
    if (deleted) {
        // The record must not keep naming a volume that no longer exists.
        disk.urn.clear();
        disk.uri.clear();
    }
    operations->SetLastError(failure);
    operations->SetErrorCode(failureCode);
    return _Fail(failure + "; " + outcome);
}

bool CFusionComputeWrapper::AddDiskToVM(const std::string& name, const std::string& urn,
                                        const std::string& uuid, SDiskInfoLib& disk, bool omitVolType) {
    const ConnectionCall call(connection);
    return AddDiskToVM(SVMInfoLib(name, urn, uuid), disk, omitVolType);
}

bool CFusionComputeWrapper::CheckDatastoreThinSupport(const std::string& name, const std::string& urn,
                                                      bool& isThin) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SDataStoreInfoLib datastore;
    if (!GetDataStoreInfo(name, urn, datastore, MIN_VM_PROPS)) return false;
    isThin = datastore.isThin;
    return true;
}

bool CFusionComputeWrapper::AddNicToVM(const SVMInfoLib& vm, SVMNetworkCardInfoLib& nic) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SVMInfoLib target = vm;
    if (vm.uri.empty() && !GetVMInfo(vm.name, vm.urn, vm.uuid, target, MIN_VM_PROPS)) return false;
    // Without a port group, the first port group of the card's switch is taken; when none is found the
    // VRM decides about the empty port group.
    if (nic.portGroupUrn.empty()) ChoosePortGroup(*queries, GetSite(), nic);
    return operations->AddNicToVM(target, nic) || _CopyOperationsError();
}

bool CFusionComputeWrapper::CheckMACAddress(const std::string& mac, bool& inUse) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    std::vector<SVMInfoLib> vms;
    if (!queries->GetVMInfoListForMACAddress(GetSite(), mac, vms, MIN_VM_PROPS)) return _CopyQueriesError();
    inUse = !vms.empty();
    return true;
}

bool CFusionComputeWrapper::CreateDataStore(const std::string& name, const std::string& hostUrn,
                                            const std::string& storageUnitUrn, int useType, bool format) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    return operations->CreateDataStore(GetSite(), name, hostUrn, storageUnitUrn, useType, format) ||
           _CopyOperationsError();
}

}  // namespace FusionComputeSDKWrapper
