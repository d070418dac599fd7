#ifndef FUSIONCOMPUTE_RECORDS_H
#define FUSIONCOMPUTE_RECORDS_H

/// @file
/// Plain records that cross the library's boundary, the detail mask type `UINT64` and the `VM_PROP_*`
/// detail flags.
///
/// Records are plain structs: public fields named after the VRM's JSON keys that fill them, no virtual
/// members, and member-wise copy, move and assignment. Every record owns its strings and vectors. A
/// default-constructed record has empty strings and vectors, zero integers and `false` flags unless a
/// field says otherwise. Integers read from the VRM are read as 32-bit signed values; 64-bit fields
/// receive them sign-extended, so values above 2147483647 never arrive from an answer.

#include <cstdint>
#include <string>
#include <vector>

namespace FusionComputeSDKWrapper {

/// Unsigned 64-bit integer: the type of the detail mask built from the `VM_PROP_*` flags.
typedef uint64_t UINT64;

// ---------------------------------------------------------------------------------------------------
// Detail flags
// ---------------------------------------------------------------------------------------------------

/// No details beyond the object's own fields.
constexpr UINT64 MIN_VM_PROPS = 0x0ULL;
/// Every detail.
constexpr UINT64 VM_PROP_ALL = 0xFFFFFFFFFFFFFFFFULL;
/// Mask of the VM details.
constexpr UINT64 VM_PROP_ALL_VM = 0xFFFFULL;
/// Mask of the host details.
constexpr UINT64 VM_PROP_ALL_HOST = 0xFFFF0000ULL;
/// Mask of the datastore details.
constexpr UINT64 VM_PROP_ALL_DS = 0xFFF00000000ULL;
/// Mask of the vApp, site and cluster details.
constexpr UINT64 VM_PROP_ALL_OTHER = 0xFFF00000000000ULL;
/// Mask of the special selection flags.
constexpr UINT64 VM_PROP_ALL_SPECIAL = 0xFF00000000000000ULL;

/// VM: host information (passed through).
constexpr UINT64 VM_PROP_VM_HOST_INFO = 0x1ULL;
/// VM: guest details; raises the VRM's detail level of VM queries.
constexpr UINT64 VM_PROP_VM_GUEST_INFO = 0x2ULL;
/// VM: configuration file (passed through).
constexpr UINT64 VM_PROP_VM_CFG_FILE = 0x4ULL;
/// VM: fill SVMInfoLib::snapshots.
constexpr UINT64 VM_PROP_VM_SNAPSHOT_LIST = 0x8ULL;
/// VM: read the disks in full and refresh each disk's used size.
constexpr UINT64 VM_PROP_VM_DISK_LIST = 0x10ULL;
/// VM: fill the distributed-switch fields of each network card.
constexpr UINT64 VM_PROP_VM_NW_LIST = 0x20ULL;
/// VM: host's data center (passed through).
constexpr UINT64 VM_PROP_VM_HOSTDATACENTER = 0x40ULL;
/// VM: replication information (passed through).
constexpr UINT64 VM_PROP_VM_REPLICATION_INFO = 0x80ULL;
/// VM: advanced disk list (passed through).
constexpr UINT64 VM_PROP_VM_DISK_LIST_ADVANCED = 0x100ULL;
/// VM: stub state (passed through).
constexpr UINT64 VM_PROP_VM_STUB_STATE = 0x200ULL;
/// VM: datastore file list (passed through).
constexpr UINT64 VM_PROP_VM_DS_FILE_LIST = 0x400ULL;
/// VM: power-off time (passed through).
constexpr UINT64 VM_PROP_VM_POWER_OFF_TIME = 0x800ULL;
/// VM: owner information (passed through).
constexpr UINT64 VM_PROP_VM_OWNER_INFO = 0x1000ULL;
/// VM: attributes (passed through).
constexpr UINT64 VM_PROP_VM_ATTRIBUTES = 0x2000ULL;

/// Host: key pair list (passed through).
constexpr UINT64 VM_PROP_HOST_KEY_PAIR_LIST = 0x800000ULL;
/// Host: resource pool VM list (passed through).
constexpr UINT64 VM_PROP_HOST_RP_VM_LIST = 0x1000000ULL;
/// Host: fill SHostInfoLib::datastores.
constexpr UINT64 VM_PROP_HOST_DS_LIST = 0x2000000ULL;
/// Host: fill SHostInfoLib::networks with their port groups.
constexpr UINT64 VM_PROP_HOST_NW_LIST = 0x4000000ULL;
/// Host: fill SHostInfoLib::storageDevices.
constexpr UINT64 VM_PROP_HOST_ADAP_INFO = 0x8000000ULL;
/// Host: resource pool information (passed through).
constexpr UINT64 VM_PROP_HOST_RSC_POOL_INFO = 0x10000000ULL;
/// Host: fill SHostInfoLib::vms.
constexpr UINT64 VM_PROP_HOST_VM_LIST = 0x20000000ULL;
/// Host: replication information (passed through).
constexpr UINT64 VM_PROP_HOST_REPLICATION_INFO = 0x40000000ULL;
/// Host: network adapter information (passed through).
constexpr UINT64 VM_PROP_HOST_NW_ADAP_INFO = 0x80000000ULL;

/// Datastore: fill SDataStoreInfoLib::storageResource.
constexpr UINT64 VM_PROP_DS_EXTENT_LIST = 0x100000000ULL;
/// Datastore: all VMs (passed through).
constexpr UINT64 VM_PROP_DS_ALL_VMS = 0x200000000ULL;
/// Datastore: fill SDataStoreInfoLib::vms.
constexpr UINT64 VM_PROP_DS_VM_LIST = 0x400000000ULL;

/// vApp: VM list (passed through).
constexpr UINT64 VM_PROP_VAPP_VM_LIST = 0x100000000000ULL;
/// Site: fill SSiteInfoLib::clusters.
constexpr UINT64 VM_PROP_DATACENTER_CLUSTER_LIST = 0x1000000000000ULL;
/// Site: datastore list (passed through).
constexpr UINT64 VM_PROP_DATACENTER_DS_LIST = 0x2000000000000ULL;
/// Cluster: fill SClusterInfoLib::vms.
constexpr UINT64 VM_PROP_CLUSTER_VM_LIST = 0x10000000000000ULL;
/// Cluster: fill SClusterInfoLib::hosts.
constexpr UINT64 VM_PROP_CLUSTER_HOST_LIST = 0x20000000000000ULL;

/// Include HQ backup objects (passed through).
constexpr UINT64 VM_PROP_INCLUDE_HQ_BACKUP = 0x8000000000000000ULL;
/// Include public templates (passed through).
constexpr UINT64 VM_PROP_INCLUDE_PUBLIC_TEMPLATES = 0x4000000000000000ULL;

// ---------------------------------------------------------------------------------------------------
// Base and service records
// ---------------------------------------------------------------------------------------------------

/// @brief Fields shared by every VRM inventory object.
struct SBaseInfoLib {
    /// Display name of the object.
    std::string name;
    /// The VRM's identifier of the object, beginning "urn:".
    std::string urn;
    /// REST path of the object, beginning "/service/"; requests about the object are sent to it.
    std::string uri;
    /// Free description text.
    std::string description;

    /// @brief Builds an object with all four fields empty.
    SBaseInfoLib() = default;

    /// @brief Builds an object from its four fields.
    /// @param objectName display name
    /// @param objectUrn the VRM's identifier ("urn:...")
    /// @param objectUri REST path ("/service/...")
    /// @param objectDescription free description text
    // NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the field order is the interface
    SBaseInfoLib(const std::string& objectName, const std::string& objectUrn, const std::string& objectUri,
                 const std::string& objectDescription)
        : name(objectName), urn(objectUrn), uri(objectUri), description(objectDescription) {}
};

/// @brief One interface version offered by the VRM.
struct SVersionInfoLib {
    /// Version text, e.g. "6.3".
    std::string version;
    /// Login path of that version.
    std::string loginUri;
};

/// @brief The error body the VRM returns with a failed request.
struct SErrorInfoLib {
    /// The VRM's error code (sent as a decimal string; 0 when absent or not numeric).
    uint32_t errorCode = 0;
    /// The VRM's error description.
    std::string errorDes;
};

/// @brief A VRM task: the answer of a request that started one, or the task object read by polling.
struct STaskInfoLib {
    /// URN of the task.
    std::string taskUrn;
    /// Link of the task; polling reads it.
    std::string taskUri;
    /// Kind of task as the VRM names it.
    std::string type;
    /// Task state; "success" and "failed" end a task.
    std::string status;
    /// URN of the object the task works on.
    std::string entityUrn;
    /// Link of the object the task works on.
    std::string entityUri;
    /// URN of the object created by the request that started the task.
    std::string urn;
    /// Link of the object created by the request that started the task.
    std::string uri;
    /// Start time as the VRM writes it.
    std::string startTime;
    /// Finish time as the VRM writes it.
    std::string finishTime;
    /// Percent done.
    int32_t progress = 0;
    /// Failure code text.
    std::string reason;
    /// Failure description; becomes the last error message when the task fails.
    std::string reasonDes;
    /// The task was cancelled.
    bool canceled = false;
    /// The task can be cancelled.
    bool cancelable = false;
};

/// @brief One guest operating-system version of the VRM's catalogue.
struct SOSVersionInfoLib {
    /// Number of the OS version; a VM's osVersion refers to it.
    int32_t id = 0;
    /// Display name of the OS version.
    std::string versionDes;
    /// Highest number of virtual CPUs.
    int32_t cpuQuantityLimit = 0;
    /// Highest number of CPU sockets.
    int32_t cpuSocketLimit = 0;
    /// Highest memory size.
    int32_t memoryQuantityLimit = 0;
    /// The OS supports adding memory while running.
    bool supportMemHotPlug = false;
};

/// @brief The VRM's guest-OS catalogue, one list per OS family.
struct SOSVersionsInfoLib {
    /// Versions of the family "other".
    std::vector<SOSVersionInfoLib> other;
    /// Versions of the family "windows".
    std::vector<SOSVersionInfoLib> windows;
// GNU dialects predefine the macro `linux`; keep it away from the field of that name.
#pragma push_macro("linux")
#undef linux
    /// Versions of the family "linux".
    std::vector<SOSVersionInfoLib> linux;
#pragma pop_macro("linux")
};

// ---------------------------------------------------------------------------------------------------
// Snapshot, changed-block, backup-resource and OVF records
// ---------------------------------------------------------------------------------------------------

/// @brief The snapshot of one disk inside a VM snapshot, with the disk's changed-block tracking data.
struct SDiskSnapshotInfoLib {
    /// Link of the disk's volume.
    std::string volumeUri;
    /// URN of the disk's volume.
    std::string volumeUrn;
    /// URN of the datastore holding the volume.
    std::string datastoreUrn;
    /// Creation time of the volume's changed-block tracking, as the VRM writes it.
    std::string volCBTCreateTime;
    /// Change identifier of the disk at this snapshot.
    std::string chgID;
    /// Identifier of the disk's snapshot.
    std::string snapUuid;
};

/// @brief A snapshot of a VM.
struct SSnapshotInfoLib : public SBaseInfoLib {
    /// Creation time as the VRM writes it.
    std::string createTime;
    /// Snapshot state as the VRM names it.
    std::string status;
    /// The snapshot includes the VM's memory.
    bool includingMemorySnapshot = false;
    /// The snapshots of the VM's disks, one entry each.
    std::vector<SDiskSnapshotInfoLib> volsnapshots;
};

/// @brief One node of a VM's snapshot tree; the base fields are those of the node's snapshot (an empty
/// urn stands for no snapshot, as at the root).
struct SSnapshotTreeInfoLib : public SBaseInfoLib {
    /// The VM's current snapshot (filled at the root).
    SSnapshotInfoLib currentSnapshot;
    /// Child nodes: the top-level snapshots at the root, the children of the snapshot elsewhere.
    std::vector<SSnapshotTreeInfoLib> childSnapshots;
};

/// @brief One page of a disk's block bitmap (allocated or changed blocks).
struct SDiskBitmapInfoLib {
    /// Number of disk sectors one bit stands for.
    int32_t sectorOfBlock = 0;
    /// Number of bits (blocks) this page covers.
    int32_t bitNum = 0;
    /// Number of those bits that are set.
    int32_t bit1Num = 0;
    /// The bitmap as hexadecimal text in the VRM's encoding.
    std::string bitMap;
};

/// @brief A backup resource: the network access point the VRM opens on a disk for reading or writing it.
struct SBackupResourceInfoLib {
    /// Name of the resource in log lines (not filled from answers).
    std::string urn;
    /// Link of the resource; every later read, change and release goes to it (not filled from answers).
    std::string uri;
    /// Link of the task that prepares the resource.
    std::string taskUri;
    /// URN of the task that prepares the resource.
    std::string taskUrn;
    /// URL of the resource.
    std::string resourceUrl;
    /// Address for the data connection.
    std::string hostIP;
    /// Port for the data connection, as text.
    std::string hostPort;
    /// File to open on the data connection.
    std::string targetFile;
    /// Access token for the data connection.
    std::string token;
    /// Certificate text for the data connection.
    std::string caCert;
    /// Resource state; "success" and "failed" end the wait for it.
    std::string status;
    /// Failure code text.
    std::string reason;
    /// Failure description.
    std::string reasonDes;
    /// Running time as the VRM reports it.
    int32_t runningTime = 0;
};

/// @brief The answer of the VRM's OVF descriptor generation for a VM.
struct SOVFInfoLib {
    /// The OVF descriptor text.
    std::string ovfDescriptor;
};

/// @brief One file of an OVF package.
struct SOVFFileItemInfoLib {
    /// Path of the file.
    std::string path;
    /// Device the file belongs to.
    std::string deviceId;
    /// Identifier of the file in the OVF descriptor.
    std::string ovfId;
    /// Size of the file.
    int32_t size = 0;
};

// ---------------------------------------------------------------------------------------------------
// Storage and network records
// ---------------------------------------------------------------------------------------------------

/// @brief One storage unit a datastore is built on.
struct SStorageUnitInfoLib {
    /// URN of the storage unit.
    std::string urn;
    /// Name of the storage device that holds the unit; matches a storage resource's name.
    std::string sdName;
    /// Name of the unit.
    std::string suName;
};

/// @brief A storage unit as a host sees it.
struct SStorageDeviceInfoLib : public SBaseInfoLib {
    /// State as the VRM names it.
    std::string status;
    /// Kind of storage unit as the VRM names it.
    std::string type;
    /// Capacity in GB.
    int32_t capacityGB = 0;
    /// World wide name of the unit.
    std::string wwn;
    /// The unit supports thin provisioning.
    bool isThin = false;
};

/// @brief A storage system known to the site.
struct SStorageResourceInfoLib : public SBaseInfoLib {
    /// Kind of storage as the VRM names it.
    std::string storageType;
    /// Device type as the VRM names it.
    std::string deviceType;
    /// Management address of the storage system.
    std::string managementIp;
    /// Management port of the storage system.
    int32_t managementPort = 0;
    /// iSCSI target name.
    std::string iSCSITargetIQN;
    /// Vendor name (the VRM spells the key "vender").
    std::string vender;
};

/// @brief A port group of a distributed virtual switch.
struct SPortGroupInfoLib : public SBaseInfoLib {
    /// URN of the port group's subnet.
    std::string subnetUrn;
    /// Port type as the VRM numbers it.
    int32_t portType = 0;
    /// VLAN identifier.
    int32_t vlanId = 0;
    /// VXLAN identifier.
    int32_t vxlanId = 0;
    /// VLAN range as text.
    std::string vlanRange;
    /// Administrative state as the VRM numbers it.
    int32_t adminStatus = 0;
    /// Transmit limit.
    int32_t txLimit = 0;
    /// Transmit peak limit.
    int32_t txPeakLimit = 0;
    /// Transmit burst size.
    int32_t txBurstSize = 0;
    /// Transmit weight.
    int32_t txWeight = 0;
    /// Priority.
    int32_t priority = 0;
    /// Receive limit.
    int32_t rxLimit = 0;
    /// Receive peak limit.
    int32_t rxPeakLimit = 0;
    /// Receive burst size.
    int32_t rxBurstSize = 0;
    /// Receive weight.
    int32_t rxWeight = 0;
    /// DHCP isolation is on.
    bool isDhcpIsolation = false;
    /// IP-MAC binding is on.
    bool isIpMacBind = false;
    /// Number of virtual switch ports.
    int32_t vspNum = 0;
    /// Multicast address.
    std::string multicastIp;
    /// ARP broadcast suppression setting.
    int32_t arpBcstSuppress = 0;
    /// IP broadcast suppression setting.
    int32_t ipBcstSuppress = 0;
};

/// @brief A distributed virtual switch.
struct SNetworkInfoLib : public SBaseInfoLib {
    /// Switch type as the VRM numbers it.
    int32_t type = 0;
    /// Number of port groups.
    int32_t portGroupNum = 0;
    /// IGMP snooping is on.
    bool isIgmpSnooping = false;
    /// The switch's port groups (filled on request, not from the switch's own answer).
    std::vector<SPortGroupInfoLib> portGroups;
};

// ---------------------------------------------------------------------------------------------------
// Compute inventory records
// ---------------------------------------------------------------------------------------------------

/// @brief A disk (a VRM volume), as an element of a VM's configuration or read by itself. When read,
/// name falls back to "diskName", urn to "volumeUrn" and uuid to "volumeUuid".
struct SDiskInfoLib : public SBaseInfoLib {
    /// Identifier of the volume.
    std::string uuid;
    /// URL of the volume.
    std::string volumeUrl;
    /// Capacity in GB.
    int32_t quantityGB = 0;
    /// Space of the disk in use, in MB.
    uint64_t userUsedSize = 0;
    /// Name of the datastore holding the disk.
    std::string datastoreName;
    /// URN of the datastore holding the disk.
    std::string datastoreUrn;
    /// Bus type of the disk as the VRM names it.
    std::string pciType;
    /// Slot of the disk on its bus.
    int32_t sequenceNum = 0;
    /// Volume type as the VRM numbers it.
    int32_t volType = 0;
    /// The disk is thin provisioned.
    bool isThin = false;
    /// The disk is persistent; true by default so that a disk built by a caller is persistent.
    bool persistentDisk = true;
    /// The disk is independent of snapshots.
    bool indepDisk = false;
};

/// @brief A virtual network card of a VM.
struct SVMNetworkCardInfoLib : public SBaseInfoLib {
    /// Card type as the VRM numbers it.
    int32_t nicType = 0;
    /// Slot of the card.
    int32_t sequenceNum = 0;
    /// Name of the port group the card is connected to.
    std::string portGroupName;
    /// URN of the port group the card is connected to.
    std::string portGroupUrn;
    /// Identifier of the port.
    std::string portId;
    /// IP address of the card.
    std::string ip;
    /// MAC address of the card.
    std::string mac;
    /// Name of the distributed switch owning the port group (filled with VM_PROP_VM_NW_LIST).
    std::string dvSwitchName;
    /// URN of the distributed switch owning the port group (filled with VM_PROP_VM_NW_LIST).
    std::string dvSwitchUrn;
    /// VirtIO setting as the VRM numbers it.
    int32_t virtIo = 0;
};

/// @brief A virtual machine or template.
struct SVMInfoLib : public SBaseInfoLib {
    /// State of the VM as the VRM names it.
    std::string status;
    /// Identifier of the VM.
    std::string uuid;
    /// Name of the host running the VM.
    std::string hostName;
    /// URN of the host running the VM.
    std::string hostUrn;
    /// Name of the VM's cluster.
    std::string clusterName;
    /// URN of the VM's cluster.
    std::string clusterUrn;
    /// Number of virtual CPUs; set by the caller to create or change a VM, never read from an answer.
    int32_t cpuQuantity = 0;
    /// Cores per CPU socket; set by the caller to create or change a VM, never read from an answer.
    int32_t coresPerSocket = 0;
    /// Memory in MB; set by the caller to create or change a VM, never read from an answer.
    uint64_t memoryQuantityMB = 0;
    /// OS family: "windows", "linux" or "other" (compared without regard to case).
    std::string osType;
    /// Number of the OS version in the VRM's guest-OS catalogue.
    int32_t osVersion = 0;
    /// Display name of the guest OS; looked up in the catalogue when the VRM leaves it empty.
    std::string guestOSName;
    /// Version of the guest tools.
    std::string toolsVersion;
    /// The object is a template.
    bool isTemplate = false;
    /// The VM's disks.
    std::vector<SDiskInfoLib> disks;
    /// The VM's snapshots in tree order, node before children (filled with VM_PROP_VM_SNAPSHOT_LIST).
    std::vector<SSnapshotInfoLib> snapshots;
    /// The VM's network cards.
    std::vector<SVMNetworkCardInfoLib> nics;

    /// @brief Builds an empty VM record.
    SVMInfoLib() { Construct(); }

    /// @brief Builds the record of a VM named by the three values that identify it.
    /// @param vmName name of the VM
    /// @param vmUrn URN of the VM
    /// @param vmUuid UUID of the VM
    // NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the field order is the interface
    SVMInfoLib(const std::string& vmName, const std::string& vmUrn, const std::string& vmUuid)
        : SBaseInfoLib(vmName, vmUrn, "", ""), uuid(vmUuid) {
        Construct();
    }

    /// @brief Resets CPU count, cores per socket, memory size and the template flag.
    void Construct() {
        cpuQuantity = 0;
        coresPerSocket = 0;
        memoryQuantityMB = 0;
        isTemplate = false;
    }
};

/// @brief A datastore.
struct SDataStoreInfoLib : public SBaseInfoLib {
    /// State as the VRM names it.
    std::string status;
    /// Kind of storage as the VRM names it, e.g. "DSWARE" or "NAS".
    std::string storageType;
    /// The datastore supports thin disks.
    bool isThin = false;
    /// Capacity in GB.
    int64_t capacityGB = 0;
    /// Used space in GB.
    int64_t usedSizeGB = 0;
    /// Free space in GB.
    int64_t freeSizeGB = 0;
    /// URNs of the hosts that reach the datastore.
    std::vector<std::string> hosts;
    /// VMs on the datastore (filled with VM_PROP_DS_VM_LIST).
    std::vector<SVMInfoLib> vms;
    /// Storage units the datastore is built on.
    std::vector<SStorageUnitInfoLib> storageUnits;
    /// Storage system behind the datastore (filled with VM_PROP_DS_EXTENT_LIST for "DSWARE" and "NAS").
    SStorageResourceInfoLib storageResource;
    /// URN of the storage unit the datastore is built on.
    std::string suUrn;
    /// Name of the storage unit the datastore is built on.
    std::string suName;
    /// Cluster size of the datastore.
    int32_t clusterSize = 0;
};

/// @brief A host (a physical server of the site).
struct SHostInfoLib : public SBaseInfoLib {
    /// State as the VRM names it.
    std::string status;
    /// Management address of the host.
    std::string ip;
    /// Name of the host's cluster.
    std::string clusterName;
    /// URN of the host's cluster.
    std::string clusterUrn;
    /// CPU frequency in MHz.
    int32_t cpuMHz = 0;
    /// Number of CPUs.
    int32_t cpuQuantity = 0;
    /// Memory of the host in MB.
    int64_t totalSizeMB = 0;
    /// Memory allocated on the host in MB.
    int64_t allocatedSizeMB = 0;
    /// VMs of the host (filled with VM_PROP_HOST_VM_LIST).
    std::vector<SVMInfoLib> vms;
    /// Datastores of the host (filled with VM_PROP_HOST_DS_LIST).
    std::vector<SDataStoreInfoLib> datastores;
    /// Storage units the host sees (filled with VM_PROP_HOST_ADAP_INFO).
    std::vector<SStorageDeviceInfoLib> storageDevices;
    /// Distributed switches of the host with their port groups (filled with VM_PROP_HOST_NW_LIST).
    std::vector<SNetworkInfoLib> networks;
};

/// @brief A cluster of hosts.
struct SClusterInfoLib : public SBaseInfoLib {
    /// Hosts of the cluster (filled with VM_PROP_CLUSTER_HOST_LIST).
    std::vector<SHostInfoLib> hosts;
    /// VMs of the cluster (filled with VM_PROP_CLUSTER_VM_LIST).
    std::vector<SVMInfoLib> vms;
    /// URN of the object that holds the cluster.
    std::string parentObjUrn;
    /// Name of the object that holds the cluster.
    std::string parentObjName;
};

/// @brief A folder of clusters or of VMs.
struct SFolderInfoLib : public SBaseInfoLib {
    /// Clusters of the folder (not filled by the library).
    std::vector<SClusterInfoLib> clusters;
    /// VMs of the folder (not filled by the library).
    std::vector<SVMInfoLib> vms;
};

/// @brief A site, the top of the VRM's inventory.
struct SSiteInfoLib : public SBaseInfoLib {
    /// Clusters of the site (filled with VM_PROP_DATACENTER_CLUSTER_LIST).
    std::vector<SClusterInfoLib> clusters;
};

// -------------------------------------------------------------------------------------------------
// Extensions
// -------------------------------------------------------------------------------------------------

/// @brief One poll of a task or backup resource that a call waits for (see
/// CFusionComputeWrapper::SetProgressCallback()).
struct SWaitProgressLib {
    /// URN of the task; for a backup resource, of the task that prepares it.
    std::string urn;
    /// Task type as the VRM names it ("StartVmTask", ...); empty for a backup resource.
    std::string type;
    /// Percent done as the VRM reports it, 0 to 100; -1 when the object reports none.
    int progress = -1;
    /// Status read by this poll ("running", "waiting", "success", "failed", ...).
    std::string status;
    /// Whole seconds since the wait began, on a monotonic clock.
    int64_t elapsedSeconds = 0;
};

}  // namespace FusionComputeSDKWrapper

#endif  // FUSIONCOMPUTE_RECORDS_H
