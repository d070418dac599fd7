// `fcctl backup VM --state FILE`: a full backup of a VM the first time, an incremental one afterwards.
//
// Steps: take a backup snapshot with changed-block tracking; for each disk read its change token, the
// blocks to copy (all allocated blocks without an earlier token, else the blocks changed since it),
// open and close access to the disk's data; keep the new tokens in the state file (replaced atomically);
// delete the snapshot. fcctl reports what a backup product would copy; it copies no data itself.

#include <ctime>
#include <memory>

#include "BackupState.h"
#include "BlockReport.h"
#include "Commands.h"
#include "Progress.h"
#include "RecordJson.h"
#include "Table.h"

namespace fcctl {

using namespace FusionComputeSDKWrapper;

namespace {

struct BackupOptions {
    VmRef vm;
    std::string stateFile;
    std::string ip = "127.0.0.1";
    std::string snapshotName;
    bool full = false;
    bool consistent = false;
    bool keepSnapshot = false;
    bool quiet = false;
    std::size_t maxExtents = 20;
};

struct DiskResult {
    SDiskInfoLib disk;
    bool incremental = false;
    int sectorOfBlock = 0;
    BitmapSummary summary;
    std::uint64_t diskBytes = 0;
    std::string newToken;
    std::string resourceUri, hostIP, hostPort, targetFile;
};

std::string UtcNow(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[64];
    std::strftime(text, sizeof(text), format, &parts);
    return text;
}

// Runs a backup and cleans up after a failure or a SIGINT/SIGTERM: an open disk access is released and the
// snapshot deleted, so a failed run leaves nothing behind on the VRM (and the state file untouched).
class BackupRun {
  public:
    BackupRun(Session& session, const BackupOptions& options) : session_(session), o_(options) {}

    void Run() {
        LoadState();
        vm_ = ResolveVm(session_, o_.vm, VM_PROP_VM_DISK_LIST);
        CheckStateBelongsToVm();
        try {
            TakeSnapshot();
            for (std::size_t i = 0; i < vm_.disks.size(); ++i) results_.push_back(BackupDisk(i));
            // A run interrupted by a signal keeps the tokens of the last complete backup.
            session_.CheckInterrupted();
            SaveState();
        } catch (const CommandError&) {
            CleanUp();
            throw;
        }
        DeleteSnapshot();
        Report();
    }

  private:
    CFusionComputeWrapper& Wrapper() { return session_.Wrapper(); }

    void LoadState() {
        std::string error;
        if (!LoadBackupState(o_.stateFile, state_, stateExists_, error)) UsageError(error);
    }

    void CheckStateBelongsToVm() {
        if (!stateExists_ || o_.full || state_.vmUrn.empty() || state_.vmUrn == vm_.urn) return;
        UsageError(o_.stateFile + " belongs to VM " + state_.vmUrn + ", not to " + vm_.urn +
                   "; use another state file, or --full to start over with this one");
    }

    std::string Label(std::size_t disk, const std::string& step) const {
        return "disk " + std::to_string(disk + 1) + "/" + std::to_string(vm_.disks.size()) + " " +
               vm_.disks[disk].name + ": " + step;
    }

    void TakeSnapshot() {
        const std::string name =
            o_.snapshotName.empty() ? "fcctl-backup-" + UtcNow("%Y%m%dT%H%M%SZ") : o_.snapshotName;
        Progress progress("snapshot " + name + " of " + vm_.name, !o_.quiet);
        const bool ok = Wrapper().CreateVMSnapshot(vm_, name, "backup by fcctl", false, o_.consistent, true,
                                                   true, snapshot_);
        if (!ok) {
            std::string what = "cannot take a backup snapshot of " + vm_.name;
            if (Wrapper().IsCreateVMSnapshotErrorRetryable()) what += " (the VRM is busy: try again later)";
            session_.Fail(what);
        }
        snapshotTaken_ = true;
        progress.Done(snapshot_.urn);
    }

    DiskResult BackupDisk(std::size_t index) {
        session_.CheckInterrupted();
        DiskResult result;
        result.disk = vm_.disks[index];
        const std::string& volume = result.disk.urn;
        {
            Progress progress(Label(index, "change token"), !o_.quiet);
            session_.Check(Wrapper().GetDiskChangeToken(volume, snapshot_.urn, result.newToken),
                           "cannot read the change token of " + volume);
            progress.Done();
        }
        ReadBlocks(index, result);
        session_.CheckInterrupted();
        {
            Progress progress(Label(index, "open disk access"), !o_.quiet);
            session_.Check(
                Wrapper().PrepareDiskAccess(volume, snapshot_.urn, o_.ip, false, openResource_, result.hostIP,
                                            result.hostPort, token_, result.targetFile),
                "cannot open access to " + volume);
            token_.assign(token_.size(), '\0');
            result.resourceUri = openResource_;
            progress.Done(result.hostIP + ":" + result.hostPort);
        }
        {
            Progress progress(Label(index, "close disk access"), !o_.quiet);
            session_.Check(Wrapper().ReleaseDiskAccess(openResource_),
                           "cannot release disk access " + openResource_);
            openResource_.clear();
            progress.Done();
        }
        return result;
    }

    void ReadBlocks(std::size_t index, DiskResult& result) {
        const std::string& volume = result.disk.urn;
        const auto previous = state_.tokens.find(volume);
        result.incremental = !o_.full && previous != state_.tokens.end();
        std::string bitmap;
        Progress progress(Label(index, result.incremental ? "changed blocks" : "allocated blocks"),
                          !o_.quiet);
        if (result.incremental) {
            session_.Check(Wrapper().QueryDiskChangedBlocks(volume, snapshot_.urn, previous->second, bitmap,
                                                            result.sectorOfBlock),
                           "cannot read the changed blocks of " + volume +
                               " (--full takes a full backup when the change tracking was reset)");
        } else {
            session_.Check(
                Wrapper().QueryDiskAllocatedBlocks(volume, snapshot_.urn, bitmap, result.sectorOfBlock),
                "cannot read the allocated blocks of " + volume);
        }
        result.diskBytes = static_cast<std::uint64_t>(result.disk.quantityGB > 0 ? result.disk.quantityGB : 0)
                           << 30;
        std::string error;
        if (!SummarizeBitmap(bitmap, result.sectorOfBlock, result.diskBytes, result.summary, error)) {
            throw CommandError(kExitFailed, "cannot decode the bitmap of " + volume + ": " + error);
        }
        progress.Done(std::to_string(result.summary.blocks) + " blocks");
    }

    void SaveState() {
        BackupState next;
        next.vmUrn = vm_.urn;
        next.vmUuid = vm_.uuid;
        next.time = UtcNow("%Y-%m-%dT%H:%M:%SZ");
        next.snapshotUrn = snapshot_.urn;
        for (const DiskResult& result : results_) next.tokens[result.disk.urn] = result.newToken;
        std::string error;
        if (!SaveBackupState(o_.stateFile, next, error)) throw CommandError(kExitFailed, error);
    }

    void DeleteSnapshot() {
        if (o_.keepSnapshot) return;
        Progress progress("delete snapshot " + snapshot_.name, !o_.quiet);
        if (!Wrapper().DeleteVMSnapshot(vm_, snapshot_)) {
            // The backup itself is complete and its tokens are kept; only the clean-up failed.
            Report();
            session_.Fail("backup complete and state saved, but snapshot " + snapshot_.urn +
                          " could not be deleted");
        }
        snapshotDeleted_ = true;
        progress.Done();
    }

    void CleanUp() {
        if (!openResource_.empty()) Wrapper().ReleaseDiskAccess(openResource_);
        if (snapshotTaken_ && !o_.keepSnapshot) Wrapper().DeleteVMSnapshot(vm_, snapshot_);
    }

    std::string Mode() const {
        bool anyFull = false, anyIncremental = false;
        for (const DiskResult& result : results_) (result.incremental ? anyIncremental : anyFull) = true;
        if (anyFull && anyIncremental) return "mixed";
        return anyIncremental ? "incremental" : "full";
    }

    void Report() {
        std::uint64_t total = 0;
        for (const DiskResult& result : results_) total += result.summary.bytes;
        if (session_.Json()) return ReportJson(total);
        std::ostream& out = session_.Out();
        out << "Backup of " << CellText(vm_.name) << " (" << CellText(vm_.urn) << "): " << Mode()
            << ", snapshot " << CellText(snapshot_.name)
            << (snapshotDeleted_ ? " (deleted)" : " (kept: " + CellText(snapshot_.urn) + ")") << "\n\n";
        Table table(
            {"DISK", "MODE", ">SIZE GB", ">BLOCK SIZE", ">BLOCKS", ">EXTENTS", ">BYTES", "ACCESS", "VOLUME"});
        for (const DiskResult& r : results_) {
            table.AddRow({r.disk.name, r.incremental ? "incremental" : "full",
                          std::to_string(r.disk.quantityGB), std::to_string(r.summary.blockSize),
                          std::to_string(r.summary.blocks), std::to_string(r.summary.extents.size()),
                          std::to_string(r.summary.bytes), r.hostIP + ":" + r.hostPort + " " + r.targetFile,
                          r.disk.urn});
        }
        table.Print(out, "the VM has no disks");
        out << "\nTo copy: " << total << " bytes (" << HumanBytes(total) << ")\n";
        out << "State:   " << o_.stateFile << " (" << results_.size() << " change tokens)\n\n";
        for (std::size_t i = 0; i < results_.size(); ++i) {
            if (i > 0) out << '\n';
            PrintExtents(out, results_[i].disk.name, results_[i].summary, o_.maxExtents);
        }
    }

    void ReportJson(std::uint64_t total) {
        json::array disks;
        for (const DiskResult& r : results_) {
            json::object disk{{"name", r.disk.name},
                              {"volumeUrn", r.disk.urn},
                              {"quantityGB", r.disk.quantityGB},
                              {"mode", r.incremental ? "incremental" : "full"},
                              {"sectorOfBlock", r.sectorOfBlock}};
            AddExtentsJson(disk, r.summary);
            disk.emplace("access", json::object{{"resourceUri", r.resourceUri},
                                                {"hostIP", r.hostIP},
                                                {"hostPort", r.hostPort},
                                                {"targetFile", r.targetFile}});
            disks.push_back(std::move(disk));
        }
        PrintJson(
            session_.Out(),
            {{"vm", VmSummary(vm_)},
             {"snapshot", {{"name", snapshot_.name}, {"urn", snapshot_.urn}, {"deleted", snapshotDeleted_}}},
             {"mode", Mode()},
             {"stateFile", o_.stateFile},
             {"totalBytes", total},
             {"disks", std::move(disks)}});
    }

    Session& session_;
    const BackupOptions& o_;
    BackupState state_;
    bool stateExists_ = false;
    SVMInfoLib vm_;
    SSnapshotInfoLib snapshot_;
    bool snapshotTaken_ = false;
    bool snapshotDeleted_ = false;
    std::string openResource_;
    std::string token_;
    std::vector<DiskResult> results_;
};

}  // namespace

void RegisterBackupRun(CLI::App& app, Session& session) {
    auto o = std::make_shared<BackupOptions>();
    CLI::App* cmd = app.add_subcommand("backup", "Back a VM up: full the first time, incremental after");
    cmd->footer(
        "Steps: a backup snapshot with changed-block tracking; per disk its change token, the blocks to "
        "copy\n"
        "(all allocated blocks without a token in the state file, else the blocks changed since it) and an\n"
        "opened and released disk access; the new tokens saved in the state file (replaced atomically); the\n"
        "snapshot deleted. Prints per disk the blocks and bytes to copy; progress goes to standard error.\n"
        "A failed run releases the disk access, deletes the snapshot and leaves the state file untouched.");
    AddVmOptions(cmd, o->vm);
    cmd->add_option("--state", o->stateFile, "State file with the change tokens of the last backup")
        ->required()
        ->type_name("FILE");
    cmd->add_flag("--full", o->full, "Read all allocated blocks even when the state file has tokens");
    cmd->add_option("--ip", o->ip, "Address of the machine that reads the data")->capture_default_str();
    cmd->add_option("--snapshot-name", o->snapshotName,
                    "Name of the backup snapshot (default fcctl-backup-<time>)");
    cmd->add_flag("--consistent", o->consistent, "Ask the guest for a consistent snapshot");
    cmd->add_flag("--keep-snapshot", o->keepSnapshot, "Do not delete the snapshot afterwards");
    cmd->add_flag("--quiet", o->quiet, "No progress lines on standard error");
    cmd->add_option("--max-extents", o->maxExtents, "Extents to list per disk (0: all)")
        ->capture_default_str();
    OnRun(cmd, session, [&session, o] {
        RequireVm(o->vm);
        BackupRun(session, *o).Run();
    });
}

}  // namespace fcctl
