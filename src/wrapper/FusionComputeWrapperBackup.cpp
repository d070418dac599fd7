// Snapshot and changed-block operations of the facade: backup snapshots, change tokens, the bitmaps of
// allocated and changed blocks, and direct access to a disk's data through a backup resource.

#include <algorithm>
#include <cstdint>
#include <string>

#include "FusionComputeWrapper.h"
#include "connection/FusionComputeConnection.h"
#include "operations/FusionComputeOperations.h"
#include "parser/FusionComputeParser.h"
#include "platform/MLSRestApiConnection.h"
#include "platform/MlJson.h"
#include "platform/ObSleep.h"
#include "platform/json_spirit.h"
#include "queries/FusionComputeQueries.h"

namespace FusionComputeSDKWrapper {

namespace {

/// VRM error code of a snapshot request refused while another snapshot task of the VM still runs.
constexpr long kRetryableSnapshotErrorCode = 10300025;

constexpr int kReleaseWaitReads = 10;
constexpr unsigned int kReleaseWaitPauseMs = 5000;

// Function text of the release wait's log line, spelt as the product's log readers know it.
const char kReleaseDiskAccessFunction[] =
    "bool FusionComputeSDKWrapper::CFusionComputeWrapper::ReleaseDiskAccess(const string&)";

/// Blocks asked for by one changed-block request.
constexpr int kBlocksPerPage = 10000;
/// 512-byte sectors in one GB.
constexpr uint64_t kSectorsPerGB = 2097152;
// The most room reserved ahead for a changed-block bitmap (a 4 TB disk in 64 KB blocks); a larger one
// grows as its pages arrive.
constexpr uint64_t kBitmapReserveLimit = 16 * 1024 * 1024;

}  // namespace

bool CFusionComputeWrapper::CreateVMSnapshot(const SVMInfoLib& vm, const std::string& name,
                                             const std::string& description, bool needMemoryShot,
                                             bool isConsistent, bool forBackup, bool useCBT,
                                             SSnapshotInfoLib& snapshot) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SVMInfoLib found = vm;
    if (vm.uri.empty() && !GetVMInfo(vm.name, vm.urn, vm.uuid, found, MIN_VM_PROPS)) return false;

    operations->ForgetCreation();
    if (!operations->CreateVMSnapshot(found, name, description, needMemoryShot, isConsistent, forBackup,
                                      useCBT, snapshot)) {
        _CopyOperationsError();
        return _UndoCreation(CreatedKind::Snapshot);
    }
    // Reading converts into the record in place and appends its disk snapshots; a reused record would
    // keep the disk snapshots of an older snapshot in front of the new ones.
    snapshot.volsnapshots.clear();
    if (queries->GetVMSnapshotInfo(snapshot)) return true;
    _CopyQueriesError();
    return _UndoCreation(CreatedKind::Snapshot);
}

bool CFusionComputeWrapper::CreateVMSnapshot(const std::string& vmName, const std::string& vmUrn,
                                             const std::string& vmUuid, const std::string& name,
                                             const std::string& description, bool needMemoryShot,
                                             bool isConsistent, bool forBackup, bool useCBT,
                                             SSnapshotInfoLib& snapshot) {
    const ConnectionCall call(connection);
    return CreateVMSnapshot(SVMInfoLib(vmName, vmUrn, vmUuid), name, description, needMemoryShot,
                            isConsistent, forBackup, useCBT, snapshot);
}

bool CFusionComputeWrapper::IsCreateVMSnapshotErrorRetryable() {
    return GetLastErrorCode() == kRetryableSnapshotErrorCode;
}

bool CFusionComputeWrapper::DeleteVMSnapshot(const SVMInfoLib& /*vm*/, const SSnapshotInfoLib& snapshot) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SSnapshotInfoLib target = snapshot;
    if (target.uri.empty()) {
        if (target.urn.empty()) return _Fail("snapshot urn was not specified");
        if (!queries->GetVMSnapshotInfo(target)) return _Fail("Could not find snapshot");
    }

    return _DeleteSnapshotWithRetries(target) || _CopyOperationsError();
}

bool CFusionComputeWrapper::DeleteVMSnapshot(const std::string& vmName, const std::string& vmUrn,
                                             const std::string& vmUuid, const SSnapshotInfoLib& snapshot) {
    const ConnectionCall call(connection);
    return DeleteVMSnapshot(SVMInfoLib(vmName, vmUrn, vmUuid), snapshot);
}

bool CFusionComputeWrapper::GetDiskChangeId(const std::string& volumeUrn, const std::string& snapshotUrn,
                                            std::string& chgID, std::string& volCBTCreateTime,
                                            std::string& snapUuid) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SSnapshotInfoLib snapshot;
    snapshot.urn = snapshotUrn;
    if (!queries->GetVMSnapshotInfo(snapshot)) return _Fail("Could not find snapshot");

    chgID.clear();
    volCBTCreateTime.clear();
    for (const SDiskSnapshotInfoLib& diskSnapshot : snapshot.volsnapshots) {
        if (diskSnapshot.volumeUrn == volumeUrn) {
            chgID = diskSnapshot.chgID;
            volCBTCreateTime = diskSnapshot.volCBTCreateTime;
            snapUuid = diskSnapshot.snapUuid;
            break;
        }
    }
    return !chgID.empty() || _Fail("Could not find disk snapshot");
}

bool CFusionComputeWrapper::GetDiskChangeToken(const std::string& volumeUrn, const std::string& snapshotUrn,
                                               std::string& changeToken) {
    const ConnectionCall call(connection);
    std::string chgID;
    std::string volCBTCreateTime;
    std::string snapUuid;
    if (!GetDiskChangeId(volumeUrn, snapshotUrn, chgID, volCBTCreateTime, snapUuid)) return false;

    json_spirit::mObject token;
    token["volCBTCreateTime"] = volCBTCreateTime;
    token["chgID"] = chgID;
    changeToken = MlJson::Serialize(token);
    return true;
}

bool CFusionComputeWrapper::ParseDiskChangeToken(const std::string& changeToken, std::string& chgID,
                                                 std::string& volCBTCreateTime) {
    SDiskSnapshotInfoLib token;
    if (!parser->ParseObject(changeToken, token)) return false;
    chgID = token.chgID;
    volCBTCreateTime = token.volCBTCreateTime;
    return true;
}

bool CFusionComputeWrapper::QueryDiskAllocatedBlocks(const std::string& volumeUrn,
                                                     const std::string& snapshotUrn, std::string& bitmap,
                                                     int& sectorOfBlock) {
    const ConnectionCall call(connection);
    std::string chgID;
    std::string volCBTCreateTime;
    std::string snapUuid;
    if (!GetDiskChangeId(volumeUrn, snapshotUrn, chgID, volCBTCreateTime, snapUuid)) return false;
    // An empty change identifier asks the VRM for every allocated block.
    return QueryDiskCBT(volumeUrn, snapUuid, "", volCBTCreateTime, bitmap, sectorOfBlock);
}

bool CFusionComputeWrapper::QueryDiskChangedBlocks(const std::string& volumeUrn,
                                                   const std::string& snapshotUrn,
                                                   const std::string& changeToken, std::string& bitmap,
                                                   int& sectorOfBlock) {
    const ConnectionCall call(connection);
    std::string chgID;
    std::string volCBTCreateTime;
    std::string snapUuid;
    if (!GetDiskChangeId(volumeUrn, snapshotUrn, chgID, volCBTCreateTime, snapUuid)) return false;
    // The current snapshot gives the disk snapshot to compare; the token names the earlier state.
    if (!ParseDiskChangeToken(changeToken, chgID, volCBTCreateTime)) return false;
    return QueryDiskCBT(volumeUrn, snapUuid, chgID, volCBTCreateTime, bitmap, sectorOfBlock);
}

bool CFusionComputeWrapper::QueryDiskCBT(const std::string& volumeUrn, const std::string& snapUuid,
                                         const std::string& chgID, const std::string& volCBTCreateTime,
                                         std::string& bitmap, int& sectorOfBlock) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SDiskInfoLib disk;
    disk.urn = volumeUrn;
    if (!queries->GetDiskInfo(disk)) return _CopyQueriesError();
    const uint64_t totalSectors =
        static_cast<uint64_t>(static_cast<uint32_t>(disk.quantityGB)) * kSectorsPerGB;
    const std::string link = disk.uri + "/getcbt";

    json_spirit::mObject body;
    body["type"] = "DiffBitmapAndBit1Num";
    body["volCBTCreateTime"] = volCBTCreateTime;
    body["chgID"] = chgID;
    body["snapUuid"] = snapUuid;

    // A page only reads the bitmap: the transport may send it again when the kept connection closes.
    VSRestApiRequestOptions readOnly;
    readOnly.resendable = true;

    // 64 bits: a large disk with small blocks has more blocks than a 32-bit counter can reach.
    uint64_t startBlock = 0;
    std::string accumulated;
    for (;;) {
        body["startBlock"] = startBlock;
        body["blockNum"] = kBlocksPerPage;
        std::string response;
        if (!connection->post(link, json_spirit::write_string(body), response, &readOnly))
            return _FailRequest(response);
        SDiskBitmapInfoLib page;
        if (!parser->ParseObject(response, page)) return _FailUnreadable(link);

        // Without a block size no block count can be formed, and a page that covers no blocks would
        // ask for the same page again forever.
        if (page.sectorOfBlock <= 0 || page.bitNum <= 0) {
            const std::string message = "Invalid changed-block page at block " + std::to_string(startBlock) +
                                        " of volume [" + volumeUrn + "]: sectorOfBlock " +
                                        std::to_string(page.sectorOfBlock) + ", bitNum " +
                                        std::to_string(page.bitNum);
            Error(__PRETTY_FUNCTION__, "%s", message.c_str());
            return _Fail(message);
        }
        const uint64_t totalBlocks = totalSectors / static_cast<uint64_t>(page.sectorOfBlock);
        // Room for the whole bitmap (one hex digit per 4 blocks) at once, up to a bound: the disk size
        // comes from the VRM.
        if (accumulated.empty())
            accumulated.reserve(std::min<uint64_t>(totalBlocks / 4 + 1, kBitmapReserveLimit));
        accumulated += page.bitMap;
        sectorOfBlock = page.sectorOfBlock;
        startBlock += static_cast<uint64_t>(page.bitNum);

        if (startBlock >= totalBlocks) break;
    }
    bitmap = std::move(accumulated);
    return true;
}

bool CFusionComputeWrapper::PrepareDiskAccess(const std::string& volumeUrn, const std::string& snapUrn,
                                              const std::string& ip, bool restore, std::string& resourceUri,
                                              std::string& hostIP, std::string& hostPort, std::string& token,
                                              std::string& targetFile) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SDiskInfoLib disk;
    disk.urn = volumeUrn;
    if (!queries->GetDiskInfo(disk)) return _CopyQueriesError();
    SBackupResourceInfoLib resource;
    // Disk data always travels over the plain "lan" transport.
    if (!operations->PrepareBackupResource(disk, snapUrn, ip, restore, false, resource)) {
        return _CopyOperationsError();
    }
    resourceUri = resource.uri;
    hostIP = resource.hostIP;
    hostPort = resource.hostPort;
    token = resource.token;
    targetFile = resource.targetFile;
    return true;
}

bool CFusionComputeWrapper::ReleaseDiskAccess(const std::string& resourceUri) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SBackupResourceInfoLib resource;
    resource.uri = resourceUri;
    if (!queries->GetBackupResourceInfo(resource)) return _CopyQueriesError();
    if (!operations->ReleaseBackupResource(resource)) return _CopyOperationsError();
    // The VRM removes the resource in the background; a disk is only free again once it is gone.
    for (int read = 0; read < kReleaseWaitReads; ++read) {
        SBackupResourceInfoLib probe;
        probe.uri = resourceUri;
        if (!queries->GetBackupResourceInfo(probe)) break;
        DebugLvl(kReleaseDiskAccessFunction, 2, "Backup resource [%s] still exists, waiting",
                 resourceUri.c_str());
        if (!fcsdk_platform::SleepUnlessCancelled(kReleaseWaitPauseMs, connection->CancelFlag())) {
            return _Fail(kCancelledMessage);
        }
    }
    return true;
}

bool CFusionComputeWrapper::ValidateDiskAccess(const std::string& resourceUri) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SBackupResourceInfoLib resource;
    resource.uri = resourceUri;
    return queries->GetBackupResourceInfo(resource) || _CopyQueriesError();
}

bool CFusionComputeWrapper::ExtendDiskAccess(const std::string& resourceUri, int delay) {
    const ConnectionCall call(connection);
    if (!_CheckConnected()) return false;
    SBackupResourceInfoLib resource;
    resource.uri = resourceUri;
    if (!queries->GetBackupResourceInfo(resource)) return _CopyQueriesError();
    return operations->ModifyBackupResource(resource, delay) || _CopyOperationsError();
}

}  // namespace FusionComputeSDKWrapper
