#ifndef FCSDK_OPERATIONS_FUSIONCOMPUTEOPERATIONS_H
#define FCSDK_OPERATIONS_FUSIONCOMPUTEOPERATIONS_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "EvDebug.h"
#include "FusionComputeRecords.h"
#include "connection/FusionComputeLinks.h"
#include "connection/FusionComputeRequestCore.h"
#include "platform/json_spirit.h"

namespace FusionComputeSDKWrapper {

class CFusionComputeQueries;

/// @brief Every state-changing request sent to the VRM, and the polling of the tasks they start.
///
/// Requests that start work on the VRM answer with a task; the helpers here send the request, read the
/// task and poll it every 5 seconds until it reports "success" or "failed" or the time-out passes.
/// Failures are recorded in the error state shared with the queries object of the same wrapper.
class CFusionComputeOperations : public CFusionComputeRequestCore {
  public:
    /// @brief Builds the operations object; reads the task time-out ("VirtualServer"/"nOperationTimeout",
    /// minutes, default 120) from the configuration.
    /// @param connection session through which every request is sent; not owned
    /// @param parser parser of the VRM's answers; not owned
    /// @param queries query object of the same wrapper; stored, not owned, not used
    /// @param state error state shared with the queries object; not owned
    CFusionComputeOperations(CFusionComputeConnection* connection, CFusionComputeParser* parser,
                             CFusionComputeQueries* queries, CFusionComputeErrorState* state);
    ~CFusionComputeOperations() override;
    CFusionComputeOperations(const CFusionComputeOperations&) = delete;
    CFusionComputeOperations& operator=(const CFusionComputeOperations&) = delete;

    // ---- Request helpers ------------------------------------------------------------------------

    /// @brief POSTs `body` to `link` and reads the task from the answer, without waiting for it.
    /// @param link path of the request
    /// @param body JSON text of the request
    /// @param task receives the task named by the answer
    /// @return false when the request fails (last error from the answer body) or the answer is no task
    bool PostObjectToLinkAndGetTask(const std::string& link, const std::string& body, STaskInfoLib& task);
    /// @brief POSTs `body` to `link` and waits for the task of the answer.
    /// @param link path of the request
    /// @param body JSON text of the request
    /// @param task receives the task, as the last poll described it
    /// @return true when the task ended in "success"
    bool PostObjectToLinkAndWaitForTask(const std::string& link, const std::string& body, STaskInfoLib& task);
    /// @brief POSTs `body` to `link` and waits for the task of the answer.
    /// @param link path of the request
    /// @param body JSON text of the request
    /// @return true when the task ended in "success"
    bool PostObjectToLinkAndWaitForTask(const std::string& link, const std::string& body);
    /// @brief POSTs `body` to `link`, waits for the task and hands out the created object's identity.
    /// @param link path of the request
    /// @param body JSON text of the request
    /// @param urn receives the created object's URN from the POST answer, as soon as the VRM accepted the
    ///        request (also when the wait fails afterwards); untouched when the request failed
    /// @param uri receives the created object's URI in the same way
    /// @return true when the task ended in "success"
    bool PostObjectToLinkAndGetResult(const std::string& link, const std::string& body, std::string& urn,
                                      std::string& uri);
    /// @brief PUTs `body` to `link` and waits for the task of the answer.
    /// @param link path of the request
    /// @param body JSON text of the request
    /// @param task receives the task, as the last poll described it
    /// @return true when the task ended in "success"
    bool PutObjectToLinkAndWaitForTask(const std::string& link, const std::string& body, STaskInfoLib& task);
    /// @brief PUTs `body` to `link` and waits for the task of the answer.
    /// @param link path of the request
    /// @param body JSON text of the request
    /// @return true when the task ended in "success"
    bool PutObjectToLinkAndWaitForTask(const std::string& link, const std::string& body);
    /// @brief Sends a DELETE with `body` to `link` and waits for the task of the answer.
    /// @param link path of the request
    /// @param body text of the request (may be empty)
    /// @param task receives the task, as the last poll described it
    /// @return true when the task ended in "success"
    bool DeleteObjectFromLinkAndWaitForTask(const std::string& link, const std::string& body,
                                            STaskInfoLib& task);
    /// @brief Sends a DELETE with `body` to `link` and waits for the task of the answer.
    /// @param link path of the request
    /// @param body text of the request (may be empty)
    /// @return true when the task ended in "success"
    bool DeleteObjectFromLinkAndWaitForTask(const std::string& link, const std::string& body);

    /// @brief Forgets the creation that GetLastCreation reports (called before a new creation starts).
    void ForgetCreation();
    /// @brief The last creation request sent through PostObjectToLinkAndGetResult since ForgetCreation.
    /// @param task receives its task: the created object's urn and uri from the VRM's answer, and the
    ///        task's state as the last poll saw it
    /// @return true when the VRM accepted that request, so that the object may exist
    bool GetLastCreation(STaskInfoLib& task) const;

    // ---- Waiting --------------------------------------------------------------------------------

    /// @brief Polls a task with the configured time-out.
    /// @param task the task; its taskUri is polled and its fields follow the polls
    /// @return true when the task reports "success"
    bool WaitForTask(STaskInfoLib& task);
    /// @brief Polls a task every 5 seconds until it ends or the time-out passes.
    /// @param task the task; its taskUri is polled and its fields follow the polls
    /// @param timeoutMinutes time-out in minutes
    /// @return true on "success"; false on "failed" (last error = the task's reasonDes), time-out or a
    ///         failed poll
    bool WaitForTask(STaskInfoLib& task, int timeoutMinutes);
    /// @brief Polls an object that reports its own status (uri, urn, status, reasonDes) every 5 seconds.
    /// @param object the object; its uri is polled and the answers are read into it
    /// @param timeoutMinutes time-out in minutes
    /// @return true on "success"; false on "failed" (last error = reasonDes), time-out or a failed poll
    template <typename T>
    bool WaitForStatus(T& object, int timeoutMinutes);
    /// @brief Sets the function told of every successful poll of a wait; empty turns it off.
    void SetProgressCallback(std::function<void(const SWaitProgressLib&)> callback);

    // ---- VM operations --------------------------------------------------------------------------

    /// @brief Starts or stops a VM and waits for the task.
    /// @param vm the VM; its uri is the base of the link
    /// @param powerOn true to start, false to stop
    /// @param force with powerOn false: a forced stop instead of a safe one
    /// @return true when the task succeeded
    bool ChangeVMPowerState(const SVMInfoLib& vm, bool powerOn, bool force);
    /// @brief Creates a VM without disks and NICs from the record's processors and memory.
    /// @param site site under which the VM is created
    /// @param vm the VM to create; receives the new VM's urn and uri
    /// @return true when the creation task succeeded
    bool CreateVM(const SSiteInfoLib& site, SVMInfoLib& vm);
    /// @brief Completes a creation body with the record's location and identity and sends it.
    /// @param site site under which the VM is created
    /// @param vm the VM to create; receives the new VM's urn and uri
    /// @param body the creation body; completed by UpdateCreateVM
    /// @return true when the creation task succeeded
    bool _CreateVM(const SSiteInfoLib& site, SVMInfoLib& vm, json_spirit::mObject& body);
    /// @brief Adds "location", "name", "uuid" and "autoBoot" to a creation body.
    /// @param vm the VM to create
    /// @param body the creation body
    /// @return false when the record names neither a host nor a cluster
    bool UpdateCreateVM(const SVMInfoLib& vm, json_spirit::mObject& body);
    /// @brief Deletes a VM and waits for the task.
    /// @param vm the VM; its uri must be set
    /// @param deleteDisks true to delete the VM's volumes as well
    /// @return true when the task succeeded
    bool DeleteVM(const SVMInfoLib& vm, bool deleteDisks);
    /// @brief Changes a VM's name, processors and memory where `wanted` differs from `current`.
    /// @param current the VM as it is; its uri must be set
    /// @param wanted the values wanted; only read
    /// @return true when nothing had to change or the task succeeded
    bool ModifyVM(const SVMInfoLib& current, SVMInfoLib& wanted);

    // ---- OVF descriptors ------------------------------------------------------------------------

    /// @brief Asks the VRM for the OVF descriptor of a VM.
    /// @param vm the VM with its disks
    /// @param descriptor receives the descriptor text
    /// @return false when the request fails
    bool GenerateOVFDescriptor(const SVMInfoLib& vm, std::string& descriptor);
    /// @brief Asks the VRM to turn an OVF descriptor into a VM creation body.
    /// @param site site of the VMs
    /// @param descriptor the descriptor text
    /// @param body replaced by the VRM's answer object
    /// @return false when the request fails or the answer is not a JSON object
    bool ParseOVFDescriptor(const SSiteInfoLib& site, const std::string& descriptor,
                            json_spirit::mObject& body);
    /// @brief Creates a VM from an OVF descriptor on volumes that already exist.
    /// @param site site under which the VM is created
    /// @param descriptor the descriptor text
    /// @param vm the VM to create with its disks; receives the new VM's urn and uri
    /// @param diskPathMap maps a disk's uuid to the path under which the descriptor lists it
    /// @return true when the creation task succeeded
    bool CreateVMFromOVFDescriptor(const SSiteInfoLib& site, const std::string& descriptor, SVMInfoLib& vm,
                                   const std::map<std::string, std::string>& diskPathMap);

    // ---- Snapshots, disks and NICs --------------------------------------------------------------

    /// @brief Takes a VM snapshot and waits for the task.
    /// @param vm the VM; its uri is the base of the link
    /// @param name snapshot name
    /// @param description snapshot description
    /// @param needMemoryShot include the memory
    /// @param isConsistent ask for a consistent snapshot
    /// @param forBackup take a backup snapshot
    /// @param useCBT with forBackup: a changed-block-tracking backup snapshot
    /// @param snapshot receives the new snapshot's urn and uri
    /// @return true when the task succeeded
    bool CreateVMSnapshot(const SVMInfoLib& vm, const std::string& name, const std::string& description,
                          bool needMemoryShot, bool isConsistent, bool forBackup, bool useCBT,
                          SSnapshotInfoLib& snapshot);
    /// @brief Deletes a snapshot and waits for the task.
    /// @param snapshot the snapshot; its uri must be set
    /// @return true when the task succeeded
    bool DeleteVMSnapshot(const SSnapshotInfoLib& snapshot);
    /// @brief Creates a volume on the site and waits for the task.
    /// @param site site of the volume
    /// @param disk the volume to create; receives its urn and uri
    /// @param omitVolType never send "volType"
    /// @return true when the task succeeded
    bool CreateDisk(const SSiteInfoLib& site, SDiskInfoLib& disk, bool omitVolType);
    /// @brief Deletes a volume and waits for the task.
    /// @param disk the volume; its uri must be set
    /// @return true when the task succeeded
    bool DeleteDisk(const SDiskInfoLib& disk);
    /// @brief Changes a volume's name and disk mode; no task is awaited.
    /// @param disk the volume with the wanted values; its uri must be set
    /// @return true when the VRM accepted the request
    bool ModifyDiskAttributes(const SDiskInfoLib& disk);
    /// @brief Attaches a volume to a VM and waits for the task.
    /// @param vm the VM; its uri is the base of the link
    /// @param disk the volume (urn, and pciType/sequenceNum when set)
    /// @return true when the task succeeded
    bool AttachDiskToVM(const SVMInfoLib& vm, const SDiskInfoLib& disk);
    /// @brief Detaches a volume from a VM and waits for the task.
    /// @param vm the VM; its uri is the base of the link
    /// @param disk the volume (urn)
    /// @return true when the task succeeded
    bool DetachDiskFromVM(const SVMInfoLib& vm, const SDiskInfoLib& disk);
    /// @brief Adds a network card to a VM and waits for the task.
    /// @param vm the VM; its uri is the base of the link
    /// @param nic the card
    /// @return true when the task succeeded
    bool AddNicToVM(const SVMInfoLib& vm, const SVMNetworkCardInfoLib& nic);

    // ---- Backup resources and datastores --------------------------------------------------------

    /// @brief Asks for direct access to a disk and waits up to a minute until it is ready.
    /// @param disk the volume; its uri is the base of the link
    /// @param snapUrn snapshot to read (backups only)
    /// @param ip address text sent as "ip"
    /// @param restore true for a restore, false for a backup
    /// @param ssl ask for the TLS transport mode
    /// @param resource receives the resource's uri and its access data
    /// @return true when the resource is ready; a resource that does not become ready is released
    bool PrepareBackupResource(const SDiskInfoLib& disk, const std::string& snapUrn, const std::string& ip,
                               bool restore, bool ssl, SBackupResourceInfoLib& resource);
    /// @brief Gives a backup resource back; no task is awaited.
    /// @param resource the resource; its uri is the link
    /// @return true when the VRM accepted the request
    bool ReleaseBackupResource(const SBackupResourceInfoLib& resource);
    /// @brief Sets a backup resource's "delay" anew; no task is awaited.
    /// @param resource the resource; its uri is the link
    /// @param delay the new delay
    /// @return true when the VRM accepted the request
    bool ModifyBackupResource(const SBackupResourceInfoLib& resource, int delay);
    /// @brief Creates a datastore on a host and waits for the task.
    /// @param site site of the datastore
    /// @param name datastore name
    /// @param hostUrn host that gets the datastore
    /// @param storageUnitUrn storage unit to use
    /// @param useType the VRM's use type, passed through
    /// @param format format the storage unit
    /// @return true when the task succeeded
    bool CreateDataStore(const SSiteInfoLib& site, const std::string& name, const std::string& hostUrn,
                         const std::string& storageUnitUrn, int useType, bool format);

    /// @brief Sets the site this session works in: state-changing requests then go only to links below it.
    /// @param siteUri the site's URI, or "" to accept links below any site
    void SetSiteUri(const std::string& siteUri) { this->siteUri = siteUri; }

  private:
    enum class Verb { Post, Put, Delete };
    /// True when `link` is a well-formed link of `kind` below the session's site; otherwise the request
    /// is not sent, and the last error says why.
    bool CheckTarget(const std::string& link, LinkKind kind);
    /// As CheckTarget, but an empty `link` (the caller's record names no object) records `missingMessage`.
    bool CheckTarget(const std::string& link, LinkKind kind, const char* missingMessage);
    bool SendAndGetTask(Verb verb, const std::string& link, const std::string& body, STaskInfoLib& task);
    bool SendWithoutTask(Verb verb, const std::string& link, const std::string& body, std::string& response);
    /// One poll of a wait: the request core's read of `link` into `record`, for a well-formed link only;
    /// on failure the last error says why.
    template <typename T>
    bool Poll(const std::string& link, T& record);
    /// The one wait loop: polls `link` into `record` every 5 seconds, tells the progress callback of
    /// every successful poll, and ends on "success", on "failed", at the time-out, on a failed poll or on
    /// a cancel. Its log lines name `function` (the public wait's own); what it says of the record comes
    /// from WaitWords<T> (FusionComputeOperations.cpp). `link` is a copy: the polls may rewrite the
    /// record's own.
    template <typename T>
    bool PollUntilDone(const char* function, std::string link, T& record, int timeoutMinutes);
    /// Records "Cancelled" as the last error; returns false.
    bool FailCancelled();
    /// Tells the progress callback what the latest poll of a wait read, `elapsedSeconds` into the wait.
    void ReportProgress(SWaitProgressLib progress, time_t elapsedSeconds);
    json_spirit::mArray BuildDescriptorDisks(const SVMInfoLib& vm, const json_spirit::mObject& body,
                                             const std::map<std::string, std::string>& diskPathMap);

    EvDebug debug;
    CFusionComputeQueries* queries;
    uint32_t operationTimeout;
    STaskInfoLib lastCreation;
    bool lastCreationAccepted = false;
    std::string siteUri;
    std::function<void(const SWaitProgressLib&)> progressCallback;
};

}  // namespace FusionComputeSDKWrapper

#endif  // FCSDK_OPERATIONS_FUSIONCOMPUTEOPERATIONS_H
