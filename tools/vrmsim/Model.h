#ifndef VRMSIM_MODEL_H
#define VRMSIM_MODEL_H

// The simulator's state: typed records of every VRM object, kept in maps by their numeric id (the
// last URN segment), so list answers come out in a stable order. Every URN is "urn:sites:<SITE>:..."
// and every URI the same text with "urn:" replaced by "/service/" and ":" by "/".
//
// The model is not thread-safe by itself: hold Mutex() while reading or changing it. The simulator
// holds it for the whole handling of every request.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Cbt.h"

namespace vrmsim {

class Model;
struct InventoryOptions;

struct Site {
    std::string id;  ///< 8 upper-case hex digits
    std::string urn, uri, name, ip, status = "normal";
};

struct Folder {
    long id = 0;
    std::string urn, uri, name, description;
    int type = 1;              ///< 0 cluster folder, 1 VM folder
    std::string parentObjUrn;  ///< site URN or the URN of the parent folder
};

struct Cluster {
    long id = 0;
    std::string urn, uri, name, description, tag;
    std::string parentObjUrn, parentObjName;  ///< the site, or a cluster folder
    bool haEnabled = true, drsEnabled = false;
};

struct Host {
    long id = 0;
    std::string urn, uri, name, description, uuid, ip, bmcIp, status = "normal";
    std::string clusterUrn, clusterName;  ///< empty for a host outside any cluster
    int cpuMHz = 2600, cpuQuantity = 32, physicalCpuQuantity = 2, nicNum = 4;
    std::int64_t memTotalMB = 262144, memAllocatedMB = 0;
    bool maintaining = false;
};

struct StorageUnit {
    long id = 0;
    std::string urn, uri, name, status = "NORMAL", type, wwn, sdName;
    bool isThin = true;
    int capacityGB = 0;
    std::vector<std::string> hostUrns;  ///< hosts that see the unit
};

struct StorageResource {
    long id = 0;
    std::string urn, uri, name, storageType, deviceType, managementIp, iSCSITargetIQN, vender,
        status = "normal";
    int managementPort = 0;
};

struct Datastore {
    long id = 0;
    std::string urn, uri, name, description, status = "NORMAL", storageType, refreshTime;
    bool isThin = true;
    std::int64_t capacityGB = 0, usedSizeGB = 0;
    int clusterSize = 1024;
    std::vector<std::string> hostUrns;
    std::vector<std::string> storageUnitUrns;
};

struct PortGroup {
    long id = 0;
    std::string urn, uri, name, description, subnetUrn, vlanRange, multicastIp;
    int portType = 0, vlanId = 0, vxlanId = 0, adminStatus = 1;
    int txLimit = 0, txPeakLimit = 0, txBurstSize = 0, txWeight = 0, priority = 0;
    int rxLimit = 0, rxPeakLimit = 0, rxBurstSize = 0, rxWeight = 0;
    bool isDhcpIsolation = false, isIpMacBind = false;
    int vspNum = 0, arpBcstSuppress = 0, ipBcstSuppress = 0;
};

struct DvSwitch {
    long id = 0;
    std::string urn, uri, name, description;
    int type = 0, mtu = 1500;
    bool isIgmpSnooping = false;
    std::vector<std::string> hostUrns;
    std::map<long, PortGroup> portGroups;
};

/// A volume. When attached, vmUrn names the VM and pciType/sequenceNum its slot there.
struct Volume {
    long id = 0;
    std::string urn, uri, name, uuid, datastoreUrn, volumeUrl, status = "USE", type = "normal";
    std::string vmUrn, pciType = "VIRTIO", createTime;
    int quantityGB = 0, sequenceNum = 0, volType = 0;
    std::int64_t userUsedSizeMB = 0;
    bool isThin = true, persistentDisk = true, indepDisk = false, systemVolume = false;
    std::string volCBTCreateTime;  ///< set when changed-block tracking was started on the volume
};

struct Nic {
    long id = 0;
    std::string urn, uri, name, portGroupUrn, mac, ip = "0.0.0.0", portId;
    int nicType = 2, sequenceNum = 0, virtIo = 1;
};

/// Changed-block data of one disk inside a VM snapshot.
struct VolSnapshot {
    std::string volumeUrn, volumeUri, datastoreUrn, volCBTCreateTime, chgID, snapUuid;
};

struct Snapshot {
    long id = 0;
    std::string urn, uri, name, description, createTime, status = "ready", type = "normal";
    std::string parentUrn;  ///< empty for a root snapshot
    bool includingMemorySnapshot = false, isConsistent = false;
    std::vector<VolSnapshot> volsnapshots;
};

struct Vm {
    long number = 0;  ///< numeric id; the URN carries it as i-%08X
    std::string id;   ///< "i-0000001A"
    std::string urn, uri, name, description, uuid, status = "running";
    std::string hostUrn, clusterUrn, folderUrn, createTime, toolsVersion = "2.5.0.156";
    std::string osType = "Linux", guestOSName;
    int osVersion = 0, cpuQuantity = 2, coresPerSocket = 1;
    std::int64_t memoryMB = 4096;
    bool isTemplate = false;
    std::vector<std::string> volumeUrns;  ///< attached volumes in slot order
    std::vector<Nic> nics;
    long nextNicId = 1;
    std::map<long, Snapshot> snapshots;  ///< by snapshot id
    std::string currentSnapshotUrn;
};

/// A task. Polling (GET of its URI) advances it: "waiting" → "running" with rising progress →
/// "success" or "failed" after `pollsToFinish` polls (or, when `secondsToFinish` is set, at the first
/// poll that many seconds after the start); `onFinish` then runs under the model lock.
struct Task {
    long id = 0;
    std::string urn, uri, type, status = "waiting", entityUrn, entityUri, startTime, finishTime;
    std::string reason, reasonDes, userName = "admin";
    int progress = 0;
    bool canceled = false, cancelable = false;  ///< written "cancelled" and "cancelable" as on a VRM
    int pollsToFinish = 2;                      ///< polls until the task ends (0: already ended when started)
    int polls = 0;
    bool fail = false;  ///< end as "failed" with reason/reasonDes
    std::function<void(Model&, Task&)> onFinish;
    int secondsToFinish = 0;         ///< > 0: ends by time instead of by polls
    std::int64_t startSeconds = 0;   ///< clock at the start
    std::int64_t finishSeconds = 0;  ///< clock at the end
};

/// A backup resource, addressed by disk URI + "/backupresources/" + the id of its task.
struct BackupResource {
    std::string uri, volumeUrn, taskUrn, taskUri, resourceUrl, hostIP, hostPort, targetFile, token, caCert;
    std::string status = "waiting", reason, reasonDes, taskType, transMode, snapUrn, ip;
    int runningTime = 0, delay = 150;
    int pollsToReady = 2, polls = 0;   ///< reads until it reports "success" (or "failed")
    bool fail = false, never = false;  ///< ends "failed"; never gets ready
    std::int64_t createdSeconds = 0;
    int releaseReads = -1;  ///< >= 0 once released: reads that still find it before it is gone
};

/// Behaviour of the backup and VM-management side that tests may change (GET/PUT /_sim/backup).
struct BackupSettings {
    int taskPolls = 2;             ///< polls until a task of those requests ends
    int taskSeconds = 0;           ///< > 0: tasks end by time instead
    int resourcePolls = 2;         ///< reads until a backup resource is ready
    int releaseReads = 0;          ///< reads that still find a released backup resource
    int sectorOfBlock = 128;       ///< block size of changed-block histories started from now on
    int snapshotLimit = 32;        ///< snapshots of one type per VM
    int maxBlocksPerPage = 10000;  ///< most blocks in one changed-block answer
};

/// How the next matching task or backup resource ends (POST /_sim/outcomes).
struct OutcomeRule {
    std::string target = "task";  ///< "task" or "backupresource"
    std::string method;           ///< of the request that starts it; empty matches any
    std::string path;             ///< prefix of that request's path; empty matches any
    int count = 1;                ///< tasks or resources to affect; -1 = all until cleared
    int polls = -1;               ///< polls until it ends (-1: the settings)
    int seconds = 0;              ///< tasks: > 0 ends by time
    bool fail = false;            ///< end as "failed"
    bool never = false;           ///< never end
    std::string reason, reasonDes;
};

struct OsVersion {
    int id = 0;
    std::string versionDes;
    int cpuQuantityLimit = 0, cpuSocketLimit = 0, memoryQuantityLimit = 0;
    bool supportMemHotPlug = false, supportCpuHotPlug = false;
};

struct OsCatalogue {
    std::vector<OsVersion> windows, linux, other;
};

/// URN → URI: "urn:a:b" → "/service/a/b".
std::string UrnToUri(const std::string& urn);

/// The whole state. Public collections, helpers for identifiers and lookups.
class Model {
  public:
    Model() = default;
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    /// The lock that guards everything in the model.
    std::mutex& Mutex() { return mutex_; }

    /// Drops every object and counter (the seed fills it again).
    void Clear();

    // ---- the state ----
    std::vector<Site> sites;  ///< sites[0] holds the inventory
    std::map<long, Folder> folders;
    std::map<long, Cluster> clusters;
    std::map<long, Host> hosts;
    std::map<long, Vm> vms;  ///< VMs and templates
    std::map<long, Volume> volumes;
    std::map<long, Datastore> datastores;
    std::map<long, StorageUnit> storageUnits;
    std::map<long, StorageResource> storageResources;
    std::map<long, DvSwitch> dvSwitches;
    std::map<long, Task> tasks;
    std::map<std::string, BackupResource> backupResources;  ///< by URI
    OsCatalogue osCatalogue;
    std::map<std::string, long> nextIds;  ///< next free id per collection name ("vms", "tasks", ...)
    std::map<long, VolumeCbt> cbt;        ///< changed-block history by volume id, made when first needed
    BackupSettings backupSettings;
    std::vector<OutcomeRule> outcomeRules;

    // ---- identifiers ----
    const Site& site() const { return sites.front(); }
    /// "urn:sites:<SITE>" + ":" + rest.
    std::string Urn(const std::string& rest) const;
    /// Takes the next id of a collection (starting at `first` for a collection never used).
    long NextId(const std::string& collection, long first = 1);
    /// Adds an object to `table` under the next id of the collection `kind` (from `first` on), with its
    /// id, URN "<site>:<kind>:<id>" and URI set.
    template <class T>
    T& Add(std::map<long, T>& table, const std::string& kind, long first = 1) {
        long id = NextId(kind, first);
        T& object = table[id];
        object.id = id;
        object.urn = Urn(kind + ":" + std::to_string(id));
        object.uri = UrnToUri(object.urn);
        return object;
    }
    /// Time stamp "YYYY-MM-DD hh:mm:ss" (UTC) of the given seconds.
    static std::string FormatTime(std::int64_t seconds);

    // ---- lookups by URN (nullptr when unknown) ----
    Cluster* FindCluster(const std::string& urn);
    Host* FindHost(const std::string& urn);
    Vm* FindVm(const std::string& urn);
    Volume* FindVolume(const std::string& urn);
    const Volume* FindVolume(const std::string& urn) const;
    Datastore* FindDatastore(const std::string& urn);
    StorageUnit* FindStorageUnit(const std::string& urn);
    StorageResource* FindStorageResource(const std::string& urn);
    DvSwitch* FindDvSwitch(const std::string& urn);
    PortGroup* FindPortGroup(const std::string& urn);
    Folder* FindFolder(const std::string& urn);
    Task* FindTask(const std::string& urn);
    Snapshot* FindSnapshot(const std::string& urn, Vm** owner = nullptr);
    /// Whether any object of the site carries this URN (site, cluster, host, VM, folder, datastore, ...).
    bool Exists(const std::string& urn);

    // ---- relations ----
    /// Volumes of a VM in slot order.
    std::vector<const Volume*> VolumesOf(const Vm& vm) const;
    /// Whether a folder is `ancestor` itself or lies below it.
    bool FolderWithin(const std::string& folderUrn, const std::string& ancestorUrn) const;

    // ---- tasks ----
    /// Starts a task of `type` on an entity; it ends after `pollsToFinish` polls (0: at once) and
    /// then runs `onFinish`. Returns the stored task.
    Task& StartTask(const std::string& type, const std::string& entityUrn, const std::string& entityUri,
                    std::int64_t now, int pollsToFinish = 2,
                    std::function<void(Model&, Task&)> onFinish = {});
    /// One poll of a task: moves it on as described at Task.
    void AdvanceTask(Task& task, std::int64_t now);

    // ---- backup resources ----
    /// One read of the backup resource at `uri`: moves it towards "success" (or "failed") and counts
    /// down a released one. Returns nullptr when there is none (any more).
    BackupResource* PollBackupResource(const std::string& uri, std::int64_t now);

  private:
    std::mutex mutex_;
};

/// Fills the model with the seeded inventory (after Clear()).
void SeedModel(Model& model, const InventoryOptions& options);

}  // namespace vrmsim

#endif  // VRMSIM_MODEL_H
