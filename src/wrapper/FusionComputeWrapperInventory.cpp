// Inventory side of the facade: the public queries, the folder listings and the detail fills that walk
// down from a site to its clusters, hosts, datastores and VMs as the caller's detail mask asks.

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "FusionComputeWrapper.h"
#include "connection/FusionComputeConnection.h"
#include "platform/FXString.h"
#include "platform/MLSRestApiConnection.h"
#include "queries/FusionComputeQueries.h"

namespace FusionComputeSDKWrapper {

// The guest OS catalogue is shared by every wrapper of the process; wrappers used on several threads
// may fill VMs at the same moment, so every access to it goes through this lock.
SOSVersionsInfoLib CFusionComputeWrapper::c_osVersions;
bool CFusionComputeWrapper::c_osVersionsCached = false;

namespace {

std::mutex osVersionsLock;

constexpr int kClusterFolderType = 0;
constexpr int kVMFolderType = 1;

// Folder URN suffix of a site's root VM folder.
const char kRootVMFolderSuffix[] = ":folders:0";
// Scope the VRM understands as "no cluster" when hosts are listed.
const char kDefaultScope[] = "default";

bool HasFlag(UINT64 flags, UINT64 flag) {
    return (flags & flag) != 0;
}

// A port group URN is its switch's URN followed by ":portgroups:<id>"; a text without "portgroups" is
// taken whole.
std::string SwitchUrnOfPortGroup(const std::string& portGroupUrn) {
    const std::string::size_type position = portGroupUrn.find("portgroups");
    if (position == std::string::npos) return portGroupUrn;
    // Nothing stands before a leading "portgroups", so there is no switch to name.
    if (position == 0) return std::string();
    return portGroupUrn.substr(0, position - 1);
}

void NameNicSwitches(std::vector<SVMNetworkCardInfoLib>& nics, const std::vector<SNetworkInfoLib>& networks) {
    for (SVMNetworkCardInfoLib& nic : nics) {
        const std::string switchUrn = SwitchUrnOfPortGroup(nic.portGroupUrn);
        // An empty URN names no switch; it must not pick up a network that lacks a URN.
        if (switchUrn.empty()) continue;
        for (const SNetworkInfoLib& network : networks) {
            if (network.urn != switchUrn) continue;
            nic.dvSwitchName = network.name;
            nic.dvSwitchUrn = network.urn;
        }
    }
}

// A VM list entry of a VRM gives each NIC its addresses only, and its configuration may lack the guest
// OS and the disks; the VM's own link carries them all. Reads it once when the flags ask for something
// the entry lacks, and takes over what was missing. Best effort like the other detail reads: a failed
// read leaves the record as the list gave it.
void CompleteFromOwnLink(CFusionComputeQueries& queries, SVMInfoLib& vm, UINT64 flags) {
    const bool nicsLackPortGroup =
        HasFlag(flags, VM_PROP_VM_NW_LIST) &&
        std::any_of(vm.nics.begin(), vm.nics.end(),
                    [](const SVMNetworkCardInfoLib& nic) { return nic.portGroupUrn.empty(); });
    const bool lacksGuest = HasFlag(flags, VM_PROP_VM_GUEST_INFO) && vm.osType.empty();
    const bool lacksDisks = HasFlag(flags, VM_PROP_VM_DISK_LIST) && vm.disks.empty();
    if (!nicsLackPortGroup && !lacksGuest && !lacksDisks) return;
    SVMInfoLib full;
    full.uri = vm.uri;
    full.urn = vm.urn;
    if (!queries.GetVMInfoFromOwnLink(full)) return;
    if (nicsLackPortGroup) vm.nics = std::move(full.nics);
    if (lacksGuest) {
        vm.osType = full.osType;
        vm.osVersion = full.osVersion;
        vm.guestOSName = full.guestOSName;
    }
    if (lacksDisks) vm.disks = std::move(full.disks);
}

// Only distributed (FusionStorage) and NAS datastores are backed by a storage resource of the VRM.
bool HasStorageResource(const std::string& storageType) {
    return storageType == "DSWARE" || storageType == "NAS";
}

void FindStorageResource(CFusionComputeQueries& queries, const SSiteInfoLib& site,
                         SDataStoreInfoLib& datastore, UINT64 flags) {
    if (!HasFlag(flags, VM_PROP_DS_EXTENT_LIST) || !HasStorageResource(datastore.storageType)) return;
    std::vector<SStorageResourceInfoLib> resources;
    if (!queries.GetStorageResourceInfoList(site, datastore.storageType, resources, flags)) return;
    for (const SStorageUnitInfoLib& unit : datastore.storageUnits) {
        for (const SStorageResourceInfoLib& resource : resources) {
            if (unit.sdName == resource.name) {
                datastore.storageResource = resource;
                return;
            }
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// Queries with detail fill
// ---------------------------------------------------------------------------------------------------

bool CFusionComputeWrapper::GetSiteInfo(const std::string& name, const std::string& urn, SSiteInfoLib& site,
                                        UINT64 flags) {
    const ConnectionCall call(connection);
    // The site search leaves lastError alone: callers read the shared error state for its reason.
    if (!queries->GetSiteInfo(name, urn, site, flags)) return false;
    return FillSiteInfoDetails(site, flags);
}

bool CFusionComputeWrapper::GetSiteInfoList(std::vector<SSiteInfoLib>& siteList, UINT64 flags) {
    const ConnectionCall call(connection);
    if (!queries->GetSiteInfoList(siteList, flags)) return _CopyQueriesError();
    return FillSiteInfoListDetails(siteList, flags);
}

bool CFusionComputeWrapper::GetClusterInfo(const std::string& name, const std::string& urn,
                                           SClusterInfoLib& cluster, UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetClusterInfo(GetSite(), name, urn, cluster, flags)) return _CopyQueriesError();
    return FillClusterInfoDetails(cluster, flags);
}

bool CFusionComputeWrapper::GetClusterInfoList(std::vector<SClusterInfoLib>& clusters, UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetClusterInfoList(GetSite(), clusters, flags)) return _CopyQueriesError();
    return FillClusterInfoListDetails(clusters, flags);
}

bool CFusionComputeWrapper::GetClusterInfoListForFolder(const std::string& folderUrn,
                                                        std::vector<SClusterInfoLib>& clusters,
                                                        UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetClusterInfoListForFolder(GetSite(), folderUrn, clusters, flags))
        return _CopyQueriesError();
    return FillClusterInfoListDetails(clusters, flags);
}

bool CFusionComputeWrapper::GetHostInfo(const std::string& name, const std::string& urn, SHostInfoLib& host,
                                        UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetHostInfo(GetSite(), name, urn, host, flags)) return _CopyQueriesError();
    return FillHostInfoDetails(host, flags);
}

bool CFusionComputeWrapper::GetHostInfoList(std::vector<SHostInfoLib>& hosts, UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetHostInfoList(GetSite(), hosts, flags)) return _CopyQueriesError();
    return FillHostInfoListDetails(hosts, flags);
}

bool CFusionComputeWrapper::GetHostInfoListForCluster(const std::string& clusterUrn,
                                                      std::vector<SHostInfoLib>& hosts, UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SBaseInfoLib cluster;
    cluster.urn = clusterUrn.empty() ? std::string(kDefaultScope) : clusterUrn;
    if (!queries->GetHostInfoListForObject(GetSite(), cluster, hosts, flags)) return _CopyQueriesError();
    return FillHostInfoListDetails(hosts, flags);
}

bool CFusionComputeWrapper::GetVMInfo(const std::string& name, const std::string& urn,
                                      const std::string& uuid, SVMInfoLib& vm, UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetVMInfo(GetSite(), name, urn, uuid, vm, flags)) return _CopyQueriesError();
    return FillVMInfoDetails(vm, flags);
}

bool CFusionComputeWrapper::GetVMInfoList(std::vector<SVMInfoLib>& vms, UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetVMInfoList(GetSite(), vms, flags)) return _CopyQueriesError();
    return FillVMInfoListDetails(vms, flags);
}

bool CFusionComputeWrapper::GetVMTemplateList(std::vector<SVMInfoLib>& vms, UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetVMInfoListOfTemplates(GetSite(), vms, flags)) return _CopyQueriesError();
    return FillVMInfoListDetails(vms, flags);
}

bool CFusionComputeWrapper::GetVMInfoListForFolder(const std::string& folderUrn, std::vector<SVMInfoLib>& vms,
                                                   UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SFolderInfoLib folder;
    folder.urn = folderUrn.empty() ? GetSite().urn + kRootVMFolderSuffix : folderUrn;
    if (queries->GetVMInfoListForObject(GetSite(), folder, vms, flags)) {
        // A VM whose fill failed is still listed; the folder listing itself succeeded.
        FillVMInfoListDetails(vms, flags);
    } else if (!folderUrn.empty()) {
        return _CopyQueriesError();
    } else if (!GetVMInfoList(vms, flags)) {
        // Some VRMs reject the root folder as a scope; the whole site's list (filled) stands in.
        return false;
    }

    if (!templateUuidsLoaded) {
        // Read once per wrapper; a failed read leaves the marking off rather than retrying every call.
        std::vector<SVMInfoLib> templates;
        GetVMTemplateList(templates, MIN_VM_PROPS);
        for (const SVMInfoLib& vmTemplate : templates) {
            if (!vmTemplate.uuid.empty()) templateUuids.insert(vmTemplate.uuid);
        }
        templateUuidsLoaded = true;
    }
    if (!templateUuids.empty()) {
        for (SVMInfoLib& vm : vms) {
            if (templateUuids.count(vm.uuid) != 0) vm.isTemplate = true;
        }
    }
    return true;
}

bool CFusionComputeWrapper::GetDataStoreInfo(const std::string& name, const std::string& urn,
                                             SDataStoreInfoLib& datastore, UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetDataStoreInfo(GetSite(), name, urn, datastore, flags)) return _CopyQueriesError();
    return FillDataStoreInfoDetails(datastore, flags);
}

bool CFusionComputeWrapper::GetDataStoreInfoList(std::vector<SDataStoreInfoLib>& datastores, UINT64 flags) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetDataStoreInfoList(GetSite(), datastores, flags)) return _CopyQueriesError();
    return FillDataStoreInfoListDetails(datastores, flags);
}

// ---------------------------------------------------------------------------------------------------
// Folder lists
// ---------------------------------------------------------------------------------------------------

bool CFusionComputeWrapper::GetClusterFolderInfoList(std::vector<SFolderInfoLib>& folders) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetFolderInfoList(GetSite(), kClusterFolderType, "", folders)) return _CopyQueriesError();
    return true;
}

bool CFusionComputeWrapper::GetVMFolderInfoList(const std::string& parentUrn,
                                                std::vector<SFolderInfoLib>& folders) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    if (!queries->GetFolderInfoList(GetSite(), kVMFolderType, parentUrn, folders)) return _CopyQueriesError();
    return true;
}

bool CFusionComputeWrapper::GetFolderInfoList() {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    std::vector<SFolderInfoLib> folders;
    queries->GetFolderInfoList(GetSite(), kClusterFolderType, "", folders);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Detail fills. Nested reads of the site, cluster, host and datastore fills are best effort: a failed
// read leaves its list empty or partial and the fill still succeeds.
// ---------------------------------------------------------------------------------------------------

bool CFusionComputeWrapper::FillSiteInfoDetails(SSiteInfoLib& site, UINT64 flags) {
    const ConnectionCall call(connection);
    if (HasFlag(flags, VM_PROP_DATACENTER_CLUSTER_LIST)) {
        // The record being filled is the site of the query: it need not be the connected one.
        queries->GetClusterInfoList(site, site.clusters, flags);
        FillClusterInfoListDetails(site.clusters, flags);
    }
    return true;
}

bool CFusionComputeWrapper::FillClusterInfoDetails(SClusterInfoLib& cluster, UINT64 flags) {
    const ConnectionCall call(connection);
    const bool wantVMs = HasFlag(flags, VM_PROP_CLUSTER_VM_LIST);
    const bool wantHosts = HasFlag(flags, VM_PROP_CLUSTER_HOST_LIST);
    if ((wantVMs || wantHosts) && !_CheckConnected()) return false;
    if (wantVMs) {
        queries->GetVMInfoListForObject(GetSite(), cluster, cluster.vms, flags);
        FillVMInfoListDetails(cluster.vms, flags);
    }
    if (wantHosts) {
        queries->GetHostInfoListForObject(GetSite(), cluster, cluster.hosts, flags);
        FillHostInfoListDetails(cluster.hosts, flags);
    }
    return true;
}

bool CFusionComputeWrapper::FillHostInfoDetails(SHostInfoLib& host, UINT64 flags) {
    const ConnectionCall call(connection);
    const UINT64 hostDetails =
        VM_PROP_HOST_VM_LIST | VM_PROP_HOST_DS_LIST | VM_PROP_HOST_ADAP_INFO | VM_PROP_HOST_NW_LIST;
    if (HasFlag(flags, hostDetails) && !_CheckConnected()) return false;
    if (HasFlag(flags, VM_PROP_HOST_VM_LIST)) {
        queries->GetVMInfoListForObject(GetSite(), host, host.vms, flags);
        FillVMInfoListDetails(host.vms, flags);
    }
    if (HasFlag(flags, VM_PROP_HOST_DS_LIST)) {
        queries->GetDataStoreInfoListForObject(GetSite(), host, host.datastores, flags);
        FillDataStoreInfoListDetails(host.datastores, flags);
    }
    if (HasFlag(flags, VM_PROP_HOST_ADAP_INFO)) {
        queries->GetStorageDeviceInfoListForHost(GetSite(), host, host.storageDevices, flags);
    }
    if (HasFlag(flags, VM_PROP_HOST_NW_LIST)) {
        queries->GetNetworkInfoListForObject(GetSite(), host, host.networks, flags);
        for (SNetworkInfoLib& network : host.networks) {
            queries->GetNetworkPortGroups(network, network.portGroups, flags);
        }
    }
    return true;
}

bool CFusionComputeWrapper::FillDataStoreInfoDetails(SDataStoreInfoLib& datastore, UINT64 flags) {
    const ConnectionCall call(connection);
    const bool wantVMs = HasFlag(flags, VM_PROP_DS_VM_LIST);
    const bool wantResource = HasFlag(flags, VM_PROP_DS_EXTENT_LIST);
    if ((wantVMs || wantResource) && !_CheckConnected()) return false;
    if (wantVMs) {
        queries->GetVMInfoListForObject(GetSite(), datastore, datastore.vms, flags);
        FillVMInfoListDetails(datastore.vms, flags);
    }
    FindStorageResource(*queries, GetSite(), datastore, flags);
    return true;
}

bool CFusionComputeWrapper::FillVMInfoDetails(SVMInfoLib& vm, UINT64 flags) {
    const ConnectionCall call(connection);
    std::vector<SNetworkInfoLib> networks;
    if (!_FillVMInfoDetailsSetup(flags, networks)) return false;
    return _FillVMInfoDetails(vm, flags, networks);
}

bool CFusionComputeWrapper::FillSiteInfoListDetails(std::vector<SSiteInfoLib>& siteList, UINT64 flags) {
    const ConnectionCall call(connection);
    for (SSiteInfoLib& site : siteList) {
        if (!FillSiteInfoDetails(site, flags)) return false;
    }
    return true;
}

bool CFusionComputeWrapper::FillClusterInfoListDetails(std::vector<SClusterInfoLib>& clusters, UINT64 flags) {
    const ConnectionCall call(connection);
    for (SClusterInfoLib& cluster : clusters) {
        if (!FillClusterInfoDetails(cluster, flags)) return false;
    }
    return true;
}

bool CFusionComputeWrapper::FillHostInfoListDetails(std::vector<SHostInfoLib>& hosts, UINT64 flags) {
    const ConnectionCall call(connection);
    for (SHostInfoLib& host : hosts) {
        if (!FillHostInfoDetails(host, flags)) return false;
    }
    return true;
}

bool CFusionComputeWrapper::FillDataStoreInfoListDetails(std::vector<SDataStoreInfoLib>& datastores,
                                                         UINT64 flags) {
    const ConnectionCall call(connection);
    for (SDataStoreInfoLib& datastore : datastores) {
        if (!FillDataStoreInfoDetails(datastore, flags)) return false;
    }
    return true;
}

bool CFusionComputeWrapper::FillVMInfoListDetails(std::vector<SVMInfoLib>& vms, UINT64 flags) {
    const ConnectionCall call(connection);
    // One preparation serves the whole list: the network list is read once, not once per VM.
    std::vector<SNetworkInfoLib> networks;
    if (!_FillVMInfoDetailsSetup(flags, networks)) return false;
    for (SVMInfoLib& vm : vms) {
        if (!_FillVMInfoDetails(vm, flags, networks)) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Internal steps of the VM fill
// ---------------------------------------------------------------------------------------------------

bool CFusionComputeWrapper::_FillVMInfoDetailsSetup(UINT64 flags, std::vector<SNetworkInfoLib>& networks) {
    if (!_CheckConnected()) return false;

    bool cached = false;
    {
        std::lock_guard<std::mutex> lock(osVersionsLock);
        cached = c_osVersionsCached;
    }
    if (!cached) {
        // Read outside the lock so that a slow VRM does not hold up the other wrappers; the first
        // successful read is kept and a failed one is tried again at the next fill.
        SOSVersionsInfoLib catalogue;
        if (queries->GetOSVersions(GetSite(), catalogue)) {
            std::lock_guard<std::mutex> lock(osVersionsLock);
            if (!c_osVersionsCached) {
                c_osVersions = std::move(catalogue);
                c_osVersionsCached = true;
            }
        }
    }

    if (!HasFlag(flags, VM_PROP_VM_NW_LIST)) return true;
    if (!queries->GetNetworkInfoList(GetSite(), networks, flags)) return _CopyQueriesError();
    return true;
}

bool CFusionComputeWrapper::_FillVMInfoDetails(SVMInfoLib& vm, UINT64 flags,
                                               std::vector<SNetworkInfoLib>& networks) {
    CompleteFromOwnLink(*queries, vm, flags);
    if (!vm.osType.empty() && vm.guestOSName.empty())
        LookupGuestOSName(vm.osType, vm.osVersion, vm.guestOSName);

    if (HasFlag(flags, VM_PROP_VM_DISK_LIST)) {
        for (SDiskInfoLib& disk : vm.disks) {
            // Only the used size is taken over; the VM's view of the disk (bus, slot) stays.
            SDiskInfoLib volume;
            volume.uri = disk.uri;
            volume.urn = disk.urn;
            if (queries->GetDiskInfo(volume)) disk.userUsedSize = volume.userUsedSize;
        }
    }

    if (HasFlag(flags, VM_PROP_VM_SNAPSHOT_LIST)) {
        SSnapshotTreeInfoLib tree;
        if (!queries->GetVMSnapshotTree(vm, tree)) return _CopyQueriesError();
        TraverseSnapshotTree(tree, vm.snapshots);
    }

    if (HasFlag(flags, VM_PROP_VM_NW_LIST)) NameNicSwitches(vm.nics, networks);
    return true;
}

void CFusionComputeWrapper::TraverseSnapshotTree(const SSnapshotTreeInfoLib& node,
                                                 std::vector<SSnapshotInfoLib>& snapshots) {
    // The top of a VM's tree carries no URN: it only holds the root snapshots.
    if (!node.urn.empty()) {
        SSnapshotInfoLib snapshot;
        snapshot.name = node.name;
        snapshot.urn = node.urn;
        snapshot.uri = node.uri;
        // A failed or partial read must not wipe the identity the tree already gave.
        SSnapshotInfoLib detailed = snapshot;
        if (queries->GetVMSnapshotInfo(detailed)) snapshot = std::move(detailed);
        snapshots.push_back(std::move(snapshot));
    }
    for (const SSnapshotTreeInfoLib& child : node.childSnapshots) TraverseSnapshotTree(child, snapshots);
}

void CFusionComputeWrapper::LookupGuestOSName(const std::string& osType, int osVersion,
                                              std::string& guestOSName) {
    std::lock_guard<std::mutex> lock(osVersionsLock);
    if (FXString::CompareNoCase(osType, "windows") == 0) {
        _LookupGuestOSName(c_osVersions.windows, osVersion, guestOSName);
    } else if (FXString::CompareNoCase(osType, "linux") == 0) {
        _LookupGuestOSName(c_osVersions.linux, osVersion, guestOSName);
    } else if (FXString::CompareNoCase(osType, "other") == 0) {
        _LookupGuestOSName(c_osVersions.other, osVersion, guestOSName);
    }
}

void CFusionComputeWrapper::_LookupGuestOSName(const std::vector<SOSVersionInfoLib>& versions, int osVersion,
                                               std::string& guestOSName) {
    for (const SOSVersionInfoLib& version : versions) {
        if (version.id == osVersion) {
            guestOSName = version.versionDes;
            return;
        }
    }
}

}  // namespace FusionComputeSDKWrapper
