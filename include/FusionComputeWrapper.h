#ifndef FUSIONCOMPUTE_WRAPPER_H
#define FUSIONCOMPUTE_WRAPPER_H

/// @file
/// The library's entry point: `CFusionComputeWrapper` connects to a FusionCompute VRM and offers the
/// inventory, VM management, snapshot and changed-block operations.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "EvDebug.h"
#include "FusionComputeErrorState.h"
#include "FusionComputeExport.h"
#include "FusionComputeRecords.h"

namespace FusionComputeSDKWrapper {

/// @brief Transport settings of one wrapper (see CFusionComputeWrapper::SetConnectionOptions()).
///
/// Each member that is set overrides, for that wrapper only, the configuration file's value of the key
/// named beside it; a member left unset keeps the file's value or the default.
struct SConnectionOptionsLib {
    /// @brief PEM file of the CA certificates that sign the VRM's certificate (`Transport/sCAFile`).
    std::optional<std::string> caFile;
    /// @brief `false` turns certificate and host-name verification off (`Transport/nVerifyPeer`).
    std::optional<bool> verifyPeer;
    /// @brief Where to reach the VRM instead, as `HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT`
    /// (`Transport/sConnectTo`).
    std::optional<std::string> connectTo;
    /// @brief Port of the VRM's HTTPS interface, 1 to 65535 (default 7443).
    std::optional<int> port;
    /// @brief Seconds to establish a connection (`Transport/nConnectTimeout`).
    std::optional<long> connectTimeoutSeconds;
    /// @brief Seconds below 1 byte/s before a transfer fails; 0 turns the check off
    /// (`Transport/nLowSpeedTime`).
    std::optional<long> lowSpeedTimeSeconds;
    /// @brief Seconds one request may take in all; 0 means no limit (`Transport/nRequestTimeout`).
    std::optional<long> requestTimeoutSeconds;
    /// @brief Largest answer body in MiB (`Transport/nMaxResponseMB`).
    std::optional<long> maxResponseMB;
};

class CFusionComputeConnection;
class CFusionComputeParser;
class CFusionComputeQueries;
class CFusionComputeOperations;
class CFusionComputeWrapperTestPeer;

/// @brief Facade of the library: one object per VRM session.
///
/// Construct it (no request is sent), call Connect() once, then call any other operation. Every
/// operation runs synchronously on the caller's thread, returns `true` on success and delivers its
/// results through reference parameters. After a failure GetLastError() gives the message and
/// GetLastErrorCode() the code of the last VRM error body. Operations that work in a site use the first
/// site read at connect time; before a successful Connect() they fail with "Not connected to a VRM site".
///
/// One object serves one caller at a time; separate objects may be used from separate threads.
class FCSDK_EXPORT CFusionComputeWrapper : public EvEvent {
  public:
    // ---------------------------------------------------------------------------------------------
    // Lifecycle, connect, versions, site and errors
    // ---------------------------------------------------------------------------------------------

    /// @brief Builds the session, parser, queries and operations objects; sends no request.
    CFusionComputeWrapper();
    /// @brief Releases the operations, queries, parser and connection objects; sends no logout (see
    /// Logout()).
    ~CFusionComputeWrapper() override;

    CFusionComputeWrapper(const CFusionComputeWrapper&) = delete;
    CFusionComputeWrapper& operator=(const CFusionComputeWrapper&) = delete;

    /// @brief Turns on the transport's request and response logging (secrets stay masked).
    void EnableDebug();

    /// @brief Opens the session: reads the VRM's API versions, chooses one, logs in and reads the sites.
    ///
    /// Fails before sending anything when the configuration file named by `FCSDK_CONFIG` cannot be
    /// read, holds a number setting that is not a number, or the `connectTo` setting is malformed; the
    /// last error then names the file and key.
    /// @param host Host name or address of the VRM (port 7443 unless SetConnectionOptions() says otherwise).
    /// @param user User name of the VRM account.
    /// @param password Password of the VRM account; never logged.
    /// @return `true` when the login succeeded and the site list was read.
    bool Connect(const std::string& host, const std::string& user, const std::string& password);

    /// @brief Turns a version text such as "v6.3" into its comparable number (63).
    /// @param versionText The letter, the major number, a point and the minor number.
    /// @return 10 × major + minor, or 0 when the text is empty or does not split into two numbers.
    int DecodeVersion(const std::string& versionText);

    /// @brief Tells whether the wrapper can be used; sends no request.
    /// @return Always `true`.
    bool CheckConnection();

    /// @brief Gives the highest API version that the VRM listed at connect time.
    /// @param info Receives the version record.
    /// @return `false` when no version list has been read yet.
    bool GetManagementVersionInfo(SVersionInfoLib& info);

    /// @brief Gives the number of the highest API version that the VRM listed (63 for "v6.3").
    /// @param number Receives the number.
    /// @return `false` when no version list has been read yet.
    bool GetManagementVersionNumber(int& number);

    /// @brief The site that every operation works in: the first site read at connect time.
    /// @return The site record, or an empty record before a successful Connect().
    SSiteInfoLib& GetSite();

    /// @brief Code of the last VRM error body received by this wrapper.
    /// @return The VRM's "errorCode", or 0 when none has been received.
    long GetLastErrorCode();

    /// @brief Message of the last failure of this wrapper.
    /// @return The message; empty when no call has failed yet.
    std::string GetLastError() const;

    /// @brief Tells whether the last VRM error was one after which creating a snapshot may succeed later.
    /// @return `true` when the last error code is 10300025.
    bool IsCreateVMSnapshotErrorRetryable();

    // ---------------------------------------------------------------------------------------------
    // Inventory
    // ---------------------------------------------------------------------------------------------

    /// @brief Finds one site by URN or name and fills its details.
    /// @param name Site name, used when `urn` is empty.
    /// @param urn Site URN.
    /// @param site Receives the site.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the site was found.
    bool GetSiteInfo(const std::string& name, const std::string& urn, SSiteInfoLib& site, UINT64 flags);

    /// @brief Lists every site of the VRM and fills their details.
    /// @param sites Receives the sites.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the list was read and filled.
    bool GetSiteInfoList(std::vector<SSiteInfoLib>& sites, UINT64 flags);

    /// @brief Finds one cluster of the site by URN or name and fills its details.
    /// @param name Cluster name, used when `urn` is empty.
    /// @param urn Cluster URN.
    /// @param cluster Receives the cluster.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the cluster was found.
    bool GetClusterInfo(const std::string& name, const std::string& urn, SClusterInfoLib& cluster,
                        UINT64 flags);

    /// @brief Lists the clusters of the site and fills their details.
    /// @param clusters Receives the clusters.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the list was read and filled.
    bool GetClusterInfoList(std::vector<SClusterInfoLib>& clusters, UINT64 flags);

    /// @brief Lists the clusters of a cluster folder and fills their details.
    /// @param folderUrn URN of the folder; empty for the top level.
    /// @param clusters Receives the clusters.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the list was read and filled.
    bool GetClusterInfoListForFolder(const std::string& folderUrn, std::vector<SClusterInfoLib>& clusters,
                                     UINT64 flags);

    /// @brief Finds one host of the site by name and fills its details.
    /// @param name Host name.
    /// @param urn Host URN; not used by the search.
    /// @param host Receives the host.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the host was found.
    bool GetHostInfo(const std::string& name, const std::string& urn, SHostInfoLib& host, UINT64 flags);

    /// @brief Lists the hosts of the site and fills their details.
    /// @param hosts Receives the hosts.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the list was read and filled.
    bool GetHostInfoList(std::vector<SHostInfoLib>& hosts, UINT64 flags);

    /// @brief Lists the hosts of a cluster and fills their details.
    /// @param clusterUrn URN of the cluster; empty asks for the scope "default".
    /// @param hosts Receives the hosts.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the list was read and filled.
    bool GetHostInfoListForCluster(const std::string& clusterUrn, std::vector<SHostInfoLib>& hosts,
                                   UINT64 flags);

    /// @brief Finds one VM of the site by UUID, URN or name (in that order) and fills its details.
    /// @param name VM name.
    /// @param urn VM URN.
    /// @param uuid VM UUID.
    /// @param vm Receives the VM.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the VM was found and filled.
    bool GetVMInfo(const std::string& name, const std::string& urn, const std::string& uuid, SVMInfoLib& vm,
                   UINT64 flags);

    /// @brief Lists every VM of the site and fills their details.
    /// @param vms Receives the VMs.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the list was read and filled.
    bool GetVMInfoList(std::vector<SVMInfoLib>& vms, UINT64 flags);

    /// @brief Lists the VM templates of the site and fills their details.
    /// @param vms Receives the templates.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the list was read and filled.
    bool GetVMTemplateList(std::vector<SVMInfoLib>& vms, UINT64 flags);

    /// @brief Lists the VMs of a VM folder, fills their details and marks the templates among them.
    /// @param folderUrn URN of the folder; empty for the site's root VM folder (falling back to every VM
    /// of the site when the VRM rejects that folder).
    /// @param vms Receives the VMs.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the list was read.
    bool GetVMInfoListForFolder(const std::string& folderUrn, std::vector<SVMInfoLib>& vms, UINT64 flags);

    /// @brief Finds one datastore of the site by name and fills its details.
    /// @param name Datastore name.
    /// @param urn Datastore URN; not used by the search.
    /// @param datastore Receives the datastore.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the datastore was found.
    bool GetDataStoreInfo(const std::string& name, const std::string& urn, SDataStoreInfoLib& datastore,
                          UINT64 flags);

    /// @brief Lists the datastores of the site and fills their details.
    /// @param datastores Receives the datastores.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` when the list was read and filled.
    bool GetDataStoreInfoList(std::vector<SDataStoreInfoLib>& datastores, UINT64 flags);

    /// @brief Lists the top-level cluster folders of the site.
    /// @param folders Receives the folders.
    /// @return `true` when the list was read.
    bool GetClusterFolderInfoList(std::vector<SFolderInfoLib>& folders);

    /// @brief Lists the VM folders below a parent.
    /// @param parentUrn URN of the parent object; empty for the top level.
    /// @param folders Receives the folders.
    /// @return `true` when the list was read.
    bool GetVMFolderInfoList(const std::string& parentUrn, std::vector<SFolderInfoLib>& folders);

    /// @brief Reads the top-level cluster folders and drops them.
    /// @return `true` once connected, whatever the read gave.
    bool GetFolderInfoList();

    /// @brief Fills a site's clusters (with `VM_PROP_DATACENTER_CLUSTER_LIST`) and their details.
    /// @param site The site to complete; also the site the nested queries work in.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return Always `true`: a failed nested read leaves its list empty or partial.
    bool FillSiteInfoDetails(SSiteInfoLib& site, UINT64 flags);

    /// @brief Fills a cluster's VMs and hosts as the flags ask.
    /// @param cluster The cluster to complete.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` unless the wrapper is not connected; failed nested reads are not reported.
    bool FillClusterInfoDetails(SClusterInfoLib& cluster, UINT64 flags);

    /// @brief Fills a host's VMs, datastores, storage devices and networks as the flags ask.
    /// @param host The host to complete.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` unless the wrapper is not connected; failed nested reads are not reported.
    bool FillHostInfoDetails(SHostInfoLib& host, UINT64 flags);

    /// @brief Fills a datastore's VMs and storage resource as the flags ask.
    /// @param datastore The datastore to complete.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `true` unless the wrapper is not connected; failed nested reads are not reported.
    bool FillDataStoreInfoDetails(SDataStoreInfoLib& datastore, UINT64 flags);

    /// @brief Fills a VM's guest OS name, disk usage, snapshots and switch names as the flags ask.
    /// @param vm The VM to complete.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `false` when the network list or the snapshot tree could not be read.
    bool FillVMInfoDetails(SVMInfoLib& vm, UINT64 flags);

    /// @brief Fills every site of a list, stopping at the first failure.
    /// @param sites The sites to complete.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `false` when a fill failed.
    bool FillSiteInfoListDetails(std::vector<SSiteInfoLib>& sites, UINT64 flags);

    /// @brief Fills every cluster of a list, stopping at the first failure.
    /// @param clusters The clusters to complete.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `false` when a fill failed.
    bool FillClusterInfoListDetails(std::vector<SClusterInfoLib>& clusters, UINT64 flags);

    /// @brief Fills every host of a list, stopping at the first failure.
    /// @param hosts The hosts to complete.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `false` when a fill failed.
    bool FillHostInfoListDetails(std::vector<SHostInfoLib>& hosts, UINT64 flags);

    /// @brief Fills every datastore of a list, stopping at the first failure.
    /// @param datastores The datastores to complete.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `false` when a fill failed.
    bool FillDataStoreInfoListDetails(std::vector<SDataStoreInfoLib>& datastores, UINT64 flags);

    /// @brief Fills every VM of a list (one network read for the whole list), stopping at the first failure.
    /// @param vms The VMs to complete.
    /// @param flags Detail mask of `VM_PROP_*` flags.
    /// @return `false` when the preparation or a VM's fill failed.
    bool FillVMInfoListDetails(std::vector<SVMInfoLib>& vms, UINT64 flags);

    // ---------------------------------------------------------------------------------------------
    // VM management
    // ---------------------------------------------------------------------------------------------

    /// @brief Starts a VM.
    /// @param name VM name.
    /// @param urn VM URN.
    /// @param uuid VM UUID.
    /// @return `true` when the VM was started.
    bool PowerOnVM(const std::string& name, const std::string& urn, const std::string& uuid);

    /// @brief Stops a VM at once (forced stop).
    /// @param name VM name.
    /// @param urn VM URN.
    /// @param uuid VM UUID.
    /// @return `true` when the VM was stopped.
    bool PowerOffVM(const std::string& name, const std::string& urn, const std::string& uuid);

    /// @brief Shuts a VM down through its guest (safe stop).
    /// @param name VM name.
    /// @param urn VM URN.
    /// @param uuid VM UUID.
    /// @return `true` when the VM was stopped.
    bool ShutdownVM(const std::string& name, const std::string& urn, const std::string& uuid);

    /// @brief Looks a VM up and starts or stops it.
    /// @param name VM name.
    /// @param urn VM URN.
    /// @param uuid VM UUID.
    /// @param powerOn `true` to start, `false` to stop.
    /// @param force For a stop: `true` for a forced stop, `false` for a safe one.
    /// @return `true` when the VM reached the requested state.
    bool ChangeVMPowerState(const std::string& name, const std::string& urn, const std::string& uuid,
                            bool powerOn, bool force);

    /// @brief Completes the host or cluster URN of a VM to create from its host or cluster name.
    /// @param vm The VM record to complete.
    /// @return `false` when the named host or cluster was not found.
    bool UpdateVMLocationForCreate(SVMInfoLib& vm);

    /// @brief Creates a VM from the record and reads it back into the record.
    /// @param vm The VM to create; receives the created VM.
    /// @return `true` when the VM was created and read back.
    bool CreateVM(SVMInfoLib& vm);

    /// @brief Creates a VM from an OVF descriptor and reads it back.
    /// @param descriptor The OVF descriptor text.
    /// @param vm Location and name of the VM to create; receives the created VM.
    /// @param diskPathMap Maps the descriptor's disk files to the paths of their images.
    /// @return `true` when the VM was created and read back.
    bool CreateVMFromOVFDescriptor(const std::string& descriptor, SVMInfoLib& vm,
                                   const std::map<std::string, std::string>& diskPathMap);

    /// @brief Deletes a VM.
    /// @param vm The VM; looked up by its identity when its URI is empty.
    /// @param deleteDisks `true` to delete its volumes as well.
    /// @return `true` when the VM was deleted.
    bool DeleteVM(const SVMInfoLib& vm, bool deleteDisks);

    /// @brief Deletes a VM given by its identity.
    /// @param name VM name.
    /// @param urn VM URN.
    /// @param uuid VM UUID.
    /// @param deleteDisks `true` to delete its volumes as well.
    /// @return `true` when the VM was deleted.
    bool DeleteVM(const std::string& name, const std::string& urn, const std::string& uuid, bool deleteDisks);

    /// @brief Changes a VM's name, processors and memory to the record's values.
    /// @param vm The VM with the wanted values (0 keeps the current processor or memory value).
    /// @return `true` when the change was made or nothing had to change.
    bool ModifyVM(SVMInfoLib& vm);

    /// @brief Makes the OVF descriptor of a VM.
    /// @param vm The VM; looked up when its URI or its disk list is empty.
    /// @param descriptor Receives the OVF descriptor text.
    /// @return `true` when the descriptor was made.
    bool GetOVFDescriptorForVM(const SVMInfoLib& vm, std::string& descriptor);

    /// @brief Makes the OVF descriptor of a VM given by its identity.
    /// @param name VM name.
    /// @param urn VM URN.
    /// @param uuid VM UUID.
    /// @param descriptor Receives the OVF descriptor text.
    /// @return `true` when the descriptor was made.
    bool GetOVFDescriptorForVM(const std::string& name, const std::string& urn, const std::string& uuid,
                               std::string& descriptor);

    /// @brief Reads the JSON descriptor of a VM: the VRM's JSON object of the VM, unchanged.
    /// @param vm The VM; its URI must be set.
    /// @param descriptor Receives the JSON text.
    /// @return `true` when the VM was read.
    bool GetJSONDescriptorForVM(const SVMInfoLib& vm, std::string& descriptor);

    /// @brief Reads a JSON descriptor into a VM record; sends nothing.
    /// @param descriptor The JSON text of a VM.
    /// @param vm Receives the VM.
    /// @return `true` when the text is a JSON object.
    bool GetVMInfoFromJSONDescriptor(const std::string& descriptor, SVMInfoLib& vm);

    /// @brief Adds to a VM the network cards listed in a JSON descriptor.
    /// @param vm The VM that receives the cards.
    /// @param descriptor The JSON descriptor whose cards are added.
    /// @return `true` when the descriptor could be read, however many cards were added.
    bool ReconnectNetworksFromJSONDescriptor(const SVMInfoLib& vm, const std::string& descriptor);

    /// @brief Creates a volume in the site and reads it back.
    /// @param disk The volume to create; receives the created volume.
    /// @param omitVolType `true` to leave the volume type out of the request.
    /// @return `true` when the volume was created and read back.
    bool CreateDisk(SDiskInfoLib& disk, bool omitVolType);

    /// @brief Deletes a volume.
    /// @param disk The volume, given by URI or URN.
    /// @return `true` when the volume was deleted.
    bool DeleteDisk(const SDiskInfoLib& disk);

    /// @brief Changes a volume's name and disk mode to the record's values and reads it back.
    /// @param disk The volume with the wanted values; receives the volume as the VRM holds it.
    /// @return `true` when the volume was changed (or needed no change) and read back.
    bool ModifyDisk(SDiskInfoLib& disk);

    /// @brief Attaches a volume to a VM, creating the volume first when it has no URN.
    /// @param vm The VM.
    /// @param disk The volume to attach; receives the created volume.
    /// @param omitVolType `true` to leave the volume type out of a creation request.
    /// @return `true` when the volume was attached.
    bool AddDiskToVM(const SVMInfoLib& vm, SDiskInfoLib& disk, bool omitVolType);

    /// @brief Attaches a volume to a VM given by its identity.
    /// @param name VM name.
    /// @param urn VM URN.
    /// @param uuid VM UUID.
    /// @param disk The volume to attach; receives the created volume.
    /// @param omitVolType `true` to leave the volume type out of a creation request.
    /// @return `true` when the volume was attached.
    bool AddDiskToVM(const std::string& name, const std::string& urn, const std::string& uuid,
                     SDiskInfoLib& disk, bool omitVolType);

    /// @brief Tells whether a datastore provisions thin volumes.
    /// @param name Datastore name.
    /// @param urn Datastore URN.
    /// @param isThin Receives the answer.
    /// @return `true` when the datastore was found.
    bool CheckDatastoreThinSupport(const std::string& name, const std::string& urn, bool& isThin);

    /// @brief Adds a network card to a VM, choosing a port group by switch name when none is given.
    /// @param vm The VM.
    /// @param nic The card to add; receives the chosen port group.
    /// @return `true` when the card was added.
    bool AddNicToVM(const SVMInfoLib& vm, SVMNetworkCardInfoLib& nic);

    /// @brief Tells whether any VM of the site uses a MAC address.
    /// @param mac The MAC address.
    /// @param inUse Receives the answer.
    /// @return `true` when the VMs could be searched.
    bool CheckMACAddress(const std::string& mac, bool& inUse);

    /// @brief Creates a datastore on a host.
    /// @param name Name of the new datastore.
    /// @param hostUrn URN of the host.
    /// @param storageUnitUrn URN of the storage unit that holds it.
    /// @param useType The VRM's use type of the datastore.
    /// @param format `true` to format the storage unit.
    /// @return `true` when the datastore was created.
    bool CreateDataStore(const std::string& name, const std::string& hostUrn,
                         const std::string& storageUnitUrn, int useType, bool format);

    // ---------------------------------------------------------------------------------------------
    // Snapshots, change tokens, changed blocks and disk access
    // ---------------------------------------------------------------------------------------------

    /// @brief Takes a snapshot of a VM and reads it back.
    /// @param vm The VM; looked up by its identity when its URI is empty.
    /// @param name Snapshot name.
    /// @param description Snapshot description.
    /// @param needMemoryShot `true` to include the memory.
    /// @param isConsistent `true` for a consistent snapshot.
    /// @param forBackup `true` for a snapshot made for a backup.
    /// @param useCBT `true` to track changed blocks from this snapshot on.
    /// @param snapshot Receives the snapshot.
    /// @return `true` when the snapshot was taken and read back.
    bool CreateVMSnapshot(const SVMInfoLib& vm, const std::string& name, const std::string& description,
                          bool needMemoryShot, bool isConsistent, bool forBackup, bool useCBT,
                          SSnapshotInfoLib& snapshot);

    /// @brief Takes a snapshot of a VM given by its identity and reads it back.
    /// @param vmName VM name.
    /// @param vmUrn VM URN.
    /// @param vmUuid VM UUID.
    /// @param name Snapshot name.
    /// @param description Snapshot description.
    /// @param needMemoryShot `true` to include the memory.
    /// @param isConsistent `true` for a consistent snapshot.
    /// @param forBackup `true` for a snapshot made for a backup.
    /// @param useCBT `true` to track changed blocks from this snapshot on.
    /// @param snapshot Receives the snapshot.
    /// @return `true` when the snapshot was taken and read back.
    bool CreateVMSnapshot(const std::string& vmName, const std::string& vmUrn, const std::string& vmUuid,
                          const std::string& name, const std::string& description, bool needMemoryShot,
                          bool isConsistent, bool forBackup, bool useCBT, SSnapshotInfoLib& snapshot);

    /// @brief Deletes a VM snapshot, trying up to four times.
    /// @param vm The VM (not used).
    /// @param snapshot The snapshot, given by URI or URN.
    /// @return `true` when the snapshot was deleted.
    bool DeleteVMSnapshot(const SVMInfoLib& vm, const SSnapshotInfoLib& snapshot);

    /// @brief Deletes a VM snapshot; the VM is given by its identity.
    /// @param vmName VM name.
    /// @param vmUrn VM URN.
    /// @param vmUuid VM UUID.
    /// @param snapshot The snapshot, given by URI or URN.
    /// @return `true` when the snapshot was deleted.
    bool DeleteVMSnapshot(const std::string& vmName, const std::string& vmUrn, const std::string& vmUuid,
                          const SSnapshotInfoLib& snapshot);

    /// @brief Reads the change identifiers of one disk in a snapshot.
    /// @param volumeUrn URN of the disk's volume.
    /// @param snapshotUrn URN of the VM snapshot.
    /// @param chgID Receives the change identifier.
    /// @param volCBTCreateTime Receives the creation time of the change tracking.
    /// @param snapUuid Receives the UUID of the disk snapshot.
    /// @return `false` when the snapshot or its disk snapshot was not found.
    bool GetDiskChangeId(const std::string& volumeUrn, const std::string& snapshotUrn, std::string& chgID,
                         std::string& volCBTCreateTime, std::string& snapUuid);

    /// @brief Gives the change token of one disk in a snapshot, to be kept until the next backup.
    /// @param volumeUrn URN of the disk's volume.
    /// @param snapshotUrn URN of the VM snapshot.
    /// @param changeToken Receives the token (an opaque text).
    /// @return `false` when the snapshot or its disk snapshot was not found.
    bool GetDiskChangeToken(const std::string& volumeUrn, const std::string& snapshotUrn,
                            std::string& changeToken);

    /// @brief Reads the change identifiers back from a change token.
    /// @param changeToken A token given by GetDiskChangeToken().
    /// @param chgID Receives the change identifier.
    /// @param volCBTCreateTime Receives the creation time of the change tracking.
    /// @return `false` when the token is not a JSON object.
    bool ParseDiskChangeToken(const std::string& changeToken, std::string& chgID,
                              std::string& volCBTCreateTime);

    /// @brief Reads the bitmap of every allocated block of a disk in a snapshot (for a full backup).
    /// @param volumeUrn URN of the disk's volume.
    /// @param snapshotUrn URN of the VM snapshot.
    /// @param bitmap Receives the bitmap as the VRM encodes it (hexadecimal text; BitmapToExtents() decodes
    /// it).
    /// @param sectorOfBlock Receives the number of 512-byte sectors per block.
    /// @return `true` when the whole bitmap was read.
    bool QueryDiskAllocatedBlocks(const std::string& volumeUrn, const std::string& snapshotUrn,
                                  std::string& bitmap, int& sectorOfBlock);

    /// @brief Reads the bitmap of the blocks of a disk changed since the backup of a change token.
    /// @param volumeUrn URN of the disk's volume.
    /// @param snapshotUrn URN of the current VM snapshot.
    /// @param changeToken The token of the earlier backup.
    /// @param bitmap Receives the bitmap as the VRM encodes it (hexadecimal text; BitmapToExtents() decodes
    /// it).
    /// @param sectorOfBlock Receives the number of 512-byte sectors per block.
    /// @return `true` when the whole bitmap was read.
    bool QueryDiskChangedBlocks(const std::string& volumeUrn, const std::string& snapshotUrn,
                                const std::string& changeToken, std::string& bitmap, int& sectorOfBlock);

    /// @brief Reads a changed-block bitmap page by page.
    /// @param volumeUrn URN of the disk's volume.
    /// @param snapUuid UUID of the disk snapshot.
    /// @param chgID Change identifier to compare with; empty for every allocated block.
    /// @param volCBTCreateTime Creation time of the change tracking.
    /// @param bitmap Receives the joined bitmap.
    /// @param sectorOfBlock Receives the number of 512-byte sectors per block.
    /// @return `true` when every page was read.
    bool QueryDiskCBT(const std::string& volumeUrn, const std::string& snapUuid, const std::string& chgID,
                      const std::string& volCBTCreateTime, std::string& bitmap, int& sectorOfBlock);

    /// @brief Opens direct access to a disk's data in a snapshot (a VRM backup resource).
    /// @param volumeUrn URN of the disk's volume.
    /// @param snapUrn URN of the VM snapshot.
    /// @param ip Address of the client that reads or writes the data.
    /// @param restore `true` to write (restore), `false` to read (backup).
    /// @param resourceUri Receives the URI of the backup resource.
    /// @param hostIP Receives the address of the host that serves the data.
    /// @param hostPort Receives its port.
    /// @param token Receives the access token.
    /// @param targetFile Receives the file to open on that host.
    /// @return `true` when the resource is ready.
    bool PrepareDiskAccess(const std::string& volumeUrn, const std::string& snapUrn, const std::string& ip,
                           bool restore, std::string& resourceUri, std::string& hostIP, std::string& hostPort,
                           std::string& token, std::string& targetFile);

    /// @brief Closes direct access to a disk and waits until the resource is gone.
    /// @param resourceUri URI of the backup resource.
    /// @return `true` when the release was accepted.
    bool ReleaseDiskAccess(const std::string& resourceUri);

    /// @brief Tells whether a backup resource can still be read.
    /// @param resourceUri URI of the backup resource.
    /// @return `true` when the resource exists.
    bool ValidateDiskAccess(const std::string& resourceUri);

    /// @brief Extends the life of a backup resource.
    /// @param resourceUri URI of the backup resource.
    /// @param delay The VRM's new "delay" of the resource.
    /// @return `true` when the resource was changed.
    bool ExtendDiskAccess(const std::string& resourceUri, int delay);

    // ---------------------------------------------------------------------------------------------
    // Extensions
    // ---------------------------------------------------------------------------------------------

    /// @brief Asks the call in progress on this wrapper to stop.
    ///
    /// The call returns `false` with the last error "Cancelled" within about a second: pauses end
    /// early and a transfer in progress is aborted. An object that the call had already created on the
    /// VRM is deleted again on the way out (the last error then says so); a task already started on the
    /// VRM is not cancelled there. Calls started after this one run normally. Safe to call from another
    /// thread and from a signal handler (it only sets an atomic flag).
    void Cancel();

    /// @brief Ends the session on the VRM (DELETE of the login URI with the session's token).
    ///
    /// Afterwards the wrapper is unconnected: operations fail with "Not connected to a VRM site" until
    /// Connect() succeeds again. Without a session nothing is sent.
    /// @return `true` when the VRM ended the session, or there was none.
    bool Logout();

    /// @brief Sets this wrapper's transport settings, which override the configuration file's; takes
    /// effect at the next Connect().
    /// @param options The settings; unset members keep the file's values.
    /// @return `false` (with GetLastError()) when the port lies outside 1 to 65535 or a time-out or the
    ///         answer-size limit is negative; nothing is changed then.
    bool SetConnectionOptions(const SConnectionOptionsLib& options);

    /// @brief Reports the waits of this wrapper's calls as they go.
    ///
    /// `callback` runs on the calling thread after every poll of a task or backup resource that a call
    /// waits for, the last poll (ending in "success" or "failed") included: starting, stopping, creating
    /// and deleting VMs, snapshots, disks and NICs, importing a VM, preparing disk access. It must not call
    /// this wrapper (Cancel() excepted); an exception it throws is caught and logged. An empty function
    /// turns the reports off.
    void SetProgressCallback(std::function<void(const SWaitProgressLib&)> callback);

  private:
    friend class CFusionComputeWrapperTestPeer;

    // Per-fill preparation: guest OS catalogue once per process, the site's networks when the flags
    // ask for switch names.
    bool _FillVMInfoDetailsSetup(UINT64 flags, std::vector<SNetworkInfoLib>& networks);
    // Details of one VM, with the networks of the preparation.
    bool _FillVMInfoDetails(SVMInfoLib& vm, UINT64 flags, std::vector<SNetworkInfoLib>& networks);
    // Appends every snapshot of a tree, a node before its children.
    void TraverseSnapshotTree(const SSnapshotTreeInfoLib& node, std::vector<SSnapshotInfoLib>& snapshots);
    // Guest OS name of an OS type and version, from the process-wide catalogue.
    void LookupGuestOSName(const std::string& osType, int osVersion, std::string& guestOSName);
    void _LookupGuestOSName(const std::vector<SOSVersionInfoLib>& versions, int osVersion,
                            std::string& guestOSName);

    // Fails with "Not connected to a VRM site" until Connect() has read a site.
    bool _CheckConnected();
    // Reads the backup resource at `resourceUri` after checking the session and that the link is one of a
    // backup resource of the site; records why not and returns false otherwise.
    bool _ReadDiskAccess(const std::string& resourceUri, SBackupResourceInfoLib& resource);
    // Bitmap of a disk in a snapshot: every allocated block without `changeToken`, else the blocks changed
    // since the state the token names.
    bool _QueryDiskBlocks(const std::string& volumeUrn, const std::string& snapshotUrn,
                          const std::string* changeToken, std::string& bitmap, int& sectorOfBlock);
    // Stores `message` as the last error and returns false.
    bool _Fail(const std::string& message);
    // Copy the last error of the queries or operations object into lastError and return false.
    bool _CopyQueriesError();
    bool _CopyOperationsError();
    // Records why a request the facade sent itself failed (the VRM's error body, else the transport's
    // account) and returns false.
    bool _FailRequest(const std::string& response);
    // Records that the answer to `path` could not be read and returns false.
    bool _FailUnreadable(const std::string& path);
    // Records why the login failed ("Login refused: ..." or "Login failed: ...") and returns false.
    bool _FailLogin();
    // Kinds of objects that the facade creates and undoes after a failure.
    enum class CreatedKind { Snapshot, Volume, VM };
    // After a failure that followed an accepted creation request: deletes what the request created
    // (waiting first for its task to end), keeps the failure in lastError and adds what was undone or
    // which object may remain. Returns false.
    bool _UndoCreation(CreatedKind kind);
    // Deletes a snapshot with the retries that a snapshot busy after a backup needs.
    bool _DeleteSnapshotWithRetries(const SSnapshotInfoLib& snapshot);

    std::string lastError;
    CFusionComputeErrorState errorState;
    CFusionComputeConnection* connection = nullptr;
    CFusionComputeParser* parser = nullptr;
    CFusionComputeQueries* queries = nullptr;
    CFusionComputeOperations* operations = nullptr;
    std::vector<SSiteInfoLib> sites;
    bool templateUuidsLoaded = false;
    std::set<std::string> templateUuids;
    SVersionInfoLib compatibleVersion;
    SVersionInfoLib managementVersion;
    // Returned by GetSite() while no site is known; reset on every such call.
    SSiteInfoLib noSite;

    // The VRM's guest OS catalogue, shared by every wrapper of the process and read once.
    static SOSVersionsInfoLib c_osVersions;
    static bool c_osVersionsCached;
};

// -------------------------------------------------------------------------------------------------
// Extensions
// -------------------------------------------------------------------------------------------------

/// @brief A run of consecutive blocks of a disk, counted in blocks and in bytes.
struct SBlockExtentLib {
    /// @brief First block of the run (block 0 starts at byte 0 of the disk).
    uint64_t startBlock = 0;
    /// @brief Number of blocks in the run; at least 1.
    uint64_t blockCount = 0;
    /// @brief Byte offset of the first block: `startBlock` × `sectorOfBlock` × 512.
    uint64_t offset = 0;
    /// @brief Bytes of the run: `blockCount` × `sectorOfBlock` × 512, cut at the end of the disk when its
    /// size is known.
    uint64_t length = 0;
};

/// @brief Turns a block bitmap into sorted, merged extents of the blocks it marks.
///
/// Takes the `bitmap` and `sectorOfBlock` given by QueryDiskAllocatedBlocks(), QueryDiskChangedBlocks()
/// or QueryDiskCBT(). The bitmap is hexadecimal text (digits `0-9`, `a-f`, `A-F`), two digits per byte,
/// the high nibble first. Byte k covers blocks 8k to 8k+7, its least significant bit standing for block
/// 8k: the text "01" marks block 0, "80" block 7, "10" block 4, "0001" block 8. A text of odd length ends
/// with a single digit, the low nibble of its last byte (blocks 8k to 8k+3). A block is
/// `sectorOfBlock` × 512 bytes.
///
/// The extents come in ascending order and never touch: adjacent marked blocks form one extent.
/// @param bitmap The bitmap text.
/// @param sectorOfBlock Number of 512-byte sectors per block; must be positive.
/// @param diskBytes Size of the disk in bytes, or 0 when unknown. When known, marks of blocks that start
///        at or beyond it are ignored and the last extent's length ends at the disk's end.
/// @param extents Receives the extents; emptied on failure.
/// @param error Receives the reason of a failure.
/// @return `false` when the text holds a character that is not a hexadecimal digit, `sectorOfBlock` is not
///         positive, or an extent would end beyond 2^64 bytes.
FCSDK_EXPORT bool BitmapToExtents(const std::string& bitmap, int sectorOfBlock, uint64_t diskBytes,
                                  std::vector<SBlockExtentLib>& extents, std::string& error);

}  // namespace FusionComputeSDKWrapper

#endif  // FUSIONCOMPUTE_WRAPPER_H
