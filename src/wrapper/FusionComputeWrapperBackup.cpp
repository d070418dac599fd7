// Snapshot and changed-block operations of the facade: backup snapshots, change tokens, the bitmaps of
// allocated and changed blocks, and direct access to a disk's data through a backup resource.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FusionComputeWrapper.h"
#include "connection/FusionComputeConnection.h"
#include "connection/FusionComputeLinks.h"
#include "connection/FusionComputeLogFunctions.h"
#include "operations/FusionComputeOperations.h"
#include "parser/FusionComputeParser.h"
#include "platform/MLSRestApiConnection.h"
#include "platform/MlJson.h"
#include "platform/ObSleep.h"
#include "platform/json_spirit.h"
#include "queries/FusionComputeQueries.h"
#include "wrapper/HexDigit.h"

namespace FusionComputeSDKWrapper {

namespace {

/// VRM error code of a snapshot request refused while another snapshot task of the VM still runs.
constexpr long kRetryableSnapshotErrorCode = 10300025;

constexpr int kReleaseWaitReads = 10;
constexpr unsigned int kReleaseWaitPauseMs = 5000;

/// Blocks asked for by one changed-block request.
constexpr int kBlocksPerPage = 10000;
/// 512-byte sectors in one GB.
constexpr uint64_t kSectorsPerGB = 2097152;
// The most room reserved ahead for a changed-block bitmap (a 4 TB disk in 64 KB blocks); a larger one
// grows as its pages arrive.
constexpr uint64_t kBitmapReserveLimit = 16 * 1024 * 1024;

// The changed-block pages joined into one bitmap of the whole disk, in the VRM's encoding: two hex
// digits per byte (high nibble first), byte k for blocks 8k to 8k + 7 with the least significant bit for
// block 8k, and a last byte of 1 to 4 blocks written as one digit (its low nibble). A page that ends
// inside a byte would, joined as text, shift every later block; the pages are therefore joined bit by
// bit, and only the whole bitmap is written out in that encoding.
class ChangedBlockBitmap {
  public:
    // Appends a page of `bitNum` blocks. False, with the reason in `fault`, when its text does not hold
    // exactly ceil(bitNum / 4) hexadecimal digits.
    bool Append(const std::string& hex, uint64_t bitNum, std::string& fault) {
        const uint64_t digits = (bitNum + 3) / 4;
        if (hex.size() != digits) {
            fault = "the bitmap has " + std::to_string(hex.size()) + " digits instead of " +
                    std::to_string(digits);
            return false;
        }
        for (uint64_t k = 0; 2 * k < digits; ++k) {
            const bool single = 2 * k + 1 == digits;  // a last byte of at most 4 blocks
            const int high = single ? 0 : HexDigitValue(hex[2 * k]);
            const int low = HexDigitValue(hex[single ? 2 * k : 2 * k + 1]);
            if (high < 0 || low < 0) {
                fault = "the bitmap holds a character that is not a hexadecimal digit";
                return false;
            }
            const uint64_t count = std::min<uint64_t>(8, bitNum - 8 * k);
            // Bits beyond the page's blocks are not blocks of this disk.
            const unsigned value = static_cast<unsigned>((high << 4) | low) & ((1u << count) - 1u);
            AddBits(value, static_cast<unsigned>(count));
        }
        return true;
    }

    std::string Text() const {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string text;
        text.reserve(static_cast<size_t>((bits_ + 3) / 4));
        const uint64_t fullBytes = bits_ / 8;
        for (uint64_t k = 0; k < fullBytes; ++k) {
            text += kDigits[bytes_[k] >> 4];
            text += kDigits[bytes_[k] & 0x0F];
        }
        const uint64_t rest = bits_ % 8;
        if (rest > 4) {
            text += kDigits[bytes_[fullBytes] >> 4];
            text += kDigits[bytes_[fullBytes] & 0x0F];
        } else if (rest > 0) {
            text += kDigits[bytes_[fullBytes] & 0x0F];
        }
        return text;
    }

    // Makes room for `bytes` bytes of blocks ahead of the pages.
    void Reserve(uint64_t bytes) { bytes_.reserve(static_cast<size_t>(bytes)); }

  private:
    // Appends the low `count` bits of `value` (1 to 8), block order from the least significant bit.
    void AddBits(unsigned value, unsigned count) {
        const unsigned used = static_cast<unsigned>(bits_ % 8);
        if (used == 0) {
            bytes_.push_back(static_cast<uint8_t>(value));
        } else {
            bytes_.back() = static_cast<uint8_t>(bytes_.back() | (value << used));
            if (used + count > 8) bytes_.push_back(static_cast<uint8_t>(value >> (8 - used)));
        }
        bits_ += count;
    }

    std::vector<uint8_t> bytes_;
    uint64_t bits_ = 0;
};

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
    // A link that is refused now is refused on every attempt: no pauses for it.
    if (!IsLinkOfKind(target.uri, LinkKind::Snapshot, GetSite().uri))
        return _Fail(LinkRefusal(target.uri, LinkKind::Snapshot));

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
    if (!parser->ParseObject(changeToken, token)) return _Fail("Could not read the change token");
    chgID = token.chgID;
    volCBTCreateTime = token.volCBTCreateTime;
    return true;
}

bool CFusionComputeWrapper::QueryDiskAllocatedBlocks(const std::string& volumeUrn,
                                                     const std::string& snapshotUrn, std::string& bitmap,
                                                     int& sectorOfBlock) {
    const ConnectionCall call(connection);
    return _QueryDiskBlocks(volumeUrn, snapshotUrn, nullptr, bitmap, sectorOfBlock);
}

bool CFusionComputeWrapper::QueryDiskChangedBlocks(const std::string& volumeUrn,
                                                   const std::string& snapshotUrn,
                                                   const std::string& changeToken, std::string& bitmap,
                                                   int& sectorOfBlock) {
    const ConnectionCall call(connection);
    return _QueryDiskBlocks(volumeUrn, snapshotUrn, &changeToken, bitmap, sectorOfBlock);
}

bool CFusionComputeWrapper::_QueryDiskBlocks(const std::string& volumeUrn, const std::string& snapshotUrn,
                                             const std::string* changeToken, std::string& bitmap,
                                             int& sectorOfBlock) {
    std::string chgID;
    std::string volCBTCreateTime;
    std::string snapUuid;
    if (!GetDiskChangeId(volumeUrn, snapshotUrn, chgID, volCBTCreateTime, snapUuid)) return false;
    // An empty change identifier asks the VRM for every allocated block.
    if (changeToken == nullptr)
        return QueryDiskCBT(volumeUrn, snapUuid, "", volCBTCreateTime, bitmap, sectorOfBlock);
    // The current snapshot gives the disk snapshot to compare; the token names the earlier state.
    if (!ParseDiskChangeToken(*changeToken, chgID, volCBTCreateTime)) return false;
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
    if (!IsLinkOfKind(disk.uri, LinkKind::Volume, GetSite().uri))
        return _Fail(LinkRefusal(disk.uri, LinkKind::Volume));
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
    ChangedBlockBitmap joined;
    int firstSectorOfBlock = 0;
    for (;;) {
        body["startBlock"] = startBlock;
        body["blockNum"] = kBlocksPerPage;
        std::string response;
        if (!connection->post(link, json_spirit::write_string(body), response, &readOnly))
            return _FailRequest(response);
        SDiskBitmapInfoLib page;
        if (!parser->ParseObject(response, page)) return _FailUnreadable(link);

        // Without a block size no block count can be formed, and a page that covers no blocks would
        // ask for the same page again forever. A page whose bitmap does not hold exactly the blocks it
        // claims, or whose blocks are of another size than the first page's, would shift or drop blocks
        // in the joined bitmap: the caller would back up the wrong blocks and report success.
        std::string fault;
        bool invalid = page.sectorOfBlock <= 0 || page.bitNum <= 0;
        if (!invalid && firstSectorOfBlock != 0 && page.sectorOfBlock != firstSectorOfBlock) {
            fault = " after sectorOfBlock " + std::to_string(firstSectorOfBlock) + " on the earlier pages";
            invalid = true;
        }
        if (!invalid && !joined.Append(page.bitMap, static_cast<uint64_t>(page.bitNum), fault)) {
            fault = ", " + fault;
            invalid = true;
        }
        if (invalid) {
            const std::string message = "Invalid changed-block page at block " + std::to_string(startBlock) +
                                        " of volume [" + volumeUrn + "]: sectorOfBlock " +
                                        std::to_string(page.sectorOfBlock) + ", bitNum " +
                                        std::to_string(page.bitNum) + fault;
            Error(__PRETTY_FUNCTION__, "%s", message.c_str());
            return _Fail(message);
        }
        const uint64_t totalBlocks = totalSectors / static_cast<uint64_t>(page.sectorOfBlock);
        // Room for the whole bitmap at once, up to a bound: the disk size comes from the VRM.
        if (firstSectorOfBlock == 0)
            joined.Reserve(std::min<uint64_t>(totalBlocks / 8 + 1, kBitmapReserveLimit));
        firstSectorOfBlock = page.sectorOfBlock;
        sectorOfBlock = page.sectorOfBlock;
        startBlock += static_cast<uint64_t>(page.bitNum);

        if (startBlock >= totalBlocks) break;
    }
    bitmap = joined.Text();
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

bool CFusionComputeWrapper::_ReadDiskAccess(const std::string& resourceUri,
                                            SBackupResourceInfoLib& resource) {
    if (!_CheckConnected()) return false;
    if (!IsLinkOfKind(resourceUri, LinkKind::BackupResource, GetSite().uri))
        return _Fail(LinkRefusal(resourceUri, LinkKind::BackupResource));
    resource.uri = resourceUri;
    return queries->GetBackupResourceInfo(resource) || _CopyQueriesError();
}

bool CFusionComputeWrapper::ReleaseDiskAccess(const std::string& resourceUri) {
    const ConnectionCall call(connection);
    SBackupResourceInfoLib resource;
    if (!_ReadDiskAccess(resourceUri, resource)) return false;
    if (!operations->ReleaseBackupResource(resource)) return _CopyOperationsError();
    // The VRM removes the resource in the background; a disk is only free again once it is gone.
    for (int read = 0; read < kReleaseWaitReads; ++read) {
        SBackupResourceInfoLib probe;
        probe.uri = resourceUri;
        if (!queries->GetBackupResourceInfo(probe)) break;
        DebugLvl(LogFunction::kReleaseDiskAccess, 2, "Backup resource [%s] still exists, waiting",
                 resourceUri.c_str());
        if (!fcsdk_platform::SleepUnlessCancelled(kReleaseWaitPauseMs, connection->CancelFlag())) {
            return _Fail(kCancelledMessage);
        }
    }
    return true;
}

bool CFusionComputeWrapper::ValidateDiskAccess(const std::string& resourceUri) {
    const ConnectionCall call(connection);
    SBackupResourceInfoLib resource;
    return _ReadDiskAccess(resourceUri, resource);
}

bool CFusionComputeWrapper::ExtendDiskAccess(const std::string& resourceUri, int delay) {
    const ConnectionCall call(connection);
    SBackupResourceInfoLib resource;
    if (!_ReadDiskAccess(resourceUri, resource)) return false;
    return operations->ModifyBackupResource(resource, delay) || _CopyOperationsError();
}

}  // namespace FusionComputeSDKWrapper
