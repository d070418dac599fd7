// Backup building blocks: snapshots, change tokens and block bitmaps, disk access.

#include <memory>

#include "BlockReport.h"
#include "Commands.h"
#include "RecordJson.h"
#include "RecordText.h"
#include "Table.h"

namespace fcctl {

using namespace FusionComputeSDKWrapper;

namespace {

// ---- snapshot ----------------------------------------------------------------------------------

struct SnapshotCreateOptions {
    VmRef vm;
    std::string name;
    std::string description;
    bool memory = false;
    bool consistent = false;
    bool forBackup = false;
    bool cbt = false;
};

void RunSnapshotCreate(Session& session, const SnapshotCreateOptions& o) {
    RequireVm(o.vm);
    if (o.cbt && !o.forBackup)
        UsageError("--cbt needs --for-backup (only backup snapshots track changed blocks)");
    SSnapshotInfoLib snapshot;
    CFusionComputeWrapper& wrapper = session.Wrapper();
    const bool ok = ShowingWait(session, "snapshot create", [&](CFusionComputeWrapper& w) {
        return w.CreateVMSnapshot(o.vm.name, o.vm.urn, o.vm.uuid, o.name, o.description, o.memory,
                                  o.consistent, o.forBackup, o.cbt, snapshot);
    });
    if (!ok) {
        std::string what = "cannot take a snapshot of the " + DescribeVm(o.vm);
        if (wrapper.IsCreateVMSnapshotErrorRetryable()) what += " (the VRM is busy: try again later)";
        session.Fail(what);
    }
    PrintResult(session, "snapshot", snapshot, PrintSnapshot);
}

// Finds the snapshot a delete names: by URN directly, by name among the VM's snapshots.
SSnapshotInfoLib FindSnapshot(Session& session, const VmRef& ref, const std::string& name,
                              const std::string& urn) {
    SSnapshotInfoLib snapshot;
    if (!urn.empty()) {
        snapshot.urn = urn;
        return snapshot;
    }
    const SVMInfoLib vm = ResolveVm(session, ref, VM_PROP_VM_SNAPSHOT_LIST);
    int matches = 0;
    for (const SSnapshotInfoLib& candidate : vm.snapshots) {
        if (candidate.name != name) continue;
        snapshot = candidate;
        ++matches;
    }
    if (matches == 0)
        throw CommandError(kExitNotFound,
                           "the " + DescribeVm(ref) + " has no snapshot named \"" + name + "\"");
    if (matches > 1)
        UsageError("the " + DescribeVm(ref) + " has several snapshots named \"" + name +
                   "\"; give --snapshot-urn");
    return snapshot;
}

void RegisterSnapshot(CLI::App& app, Session& session) {
    CLI::App* group = app.add_subcommand("snapshot", "Take, delete and list VM snapshots");
    group->require_subcommand(1);

    auto create = std::make_shared<SnapshotCreateOptions>();
    CLI::App* cmd =
        group->add_subcommand("create", "Take a snapshot of a VM and show it with its disk snapshots");
    AddVmOptions(cmd, create->vm);
    cmd->add_option("--name", create->name, "Name of the snapshot")->required();
    cmd->add_option("--description", create->description, "Description of the snapshot");
    cmd->add_flag("--memory", create->memory, "Include the VM's memory");
    cmd->add_flag("--consistent", create->consistent, "Ask the guest for a consistent snapshot");
    cmd->add_flag("--for-backup", create->forBackup, "A snapshot made for a backup");
    cmd->add_flag("--cbt", create->cbt, "Track changed blocks from this snapshot on (with --for-backup)");
    OnRun(cmd, session, [&session, create] { RunSnapshotCreate(session, *create); });

    struct DeleteOptions {
        VmRef vm;
        std::string name, urn;
    };
    auto del = std::make_shared<DeleteOptions>();
    cmd = group->add_subcommand("delete", "Delete a snapshot (the VRM is asked up to four times)");
    AddVmOptions(cmd, del->vm);
    auto* byName = cmd->add_option("--snapshot", del->name, "Name of the snapshot");
    auto* byUrn = cmd->add_option("--snapshot-urn", del->urn, "URN of the snapshot")->excludes(byName);
    OnRun(cmd, session, [&session, del, byName, byUrn] {
        if (byName->count() == 0 && byUrn->count() == 0)
            UsageError("name the snapshot: --snapshot NAME or --snapshot-urn URN");
        if (del->urn.empty()) RequireVm(del->vm);
        const SSnapshotInfoLib snapshot = FindSnapshot(session, del->vm, del->name, del->urn);
        session.Check(ShowingWait(session, "snapshot delete",
                                  [&](CFusionComputeWrapper& w) {
                                      return w.DeleteVMSnapshot(del->vm.name, del->vm.urn, del->vm.uuid,
                                                                snapshot);
                                  }),
                      "cannot delete snapshot " + (snapshot.name.empty() ? snapshot.urn : snapshot.name));
        PrintDone(session, "deleted snapshot " + snapshot.urn, {{"snapshotUrn", snapshot.urn}});
    });

    auto list = std::make_shared<VmRef>();
    cmd = group->add_subcommand("list", "List the snapshots of a VM, parents before their children");
    AddVmOptions(cmd, *list);
    OnRun(cmd, session, [&session, list] {
        const SVMInfoLib vm = ResolveVm(session, *list, VM_PROP_VM_SNAPSHOT_LIST);
        PrintResult(session, "snapshots", vm.snapshots, PrintSnapshotTable);
    });
}

// ---- cbt ---------------------------------------------------------------------------------------

struct CbtOptions {
    std::string volume;
    std::string snapshot;
    std::string token;
    std::string tokenFile;
    std::string out;
    std::size_t maxExtents = 20;
};

void AddVolumeSnapshot(CLI::App* cmd, CbtOptions& o) {
    cmd->add_option("--volume", o.volume, "URN of the disk's volume")->required();
    cmd->add_option("--snapshot", o.snapshot, "URN of the VM snapshot")->required();
}

void PrintBitmap(Session& session, const CbtOptions& o, const std::string& bitmap, int sectorOfBlock,
                 const std::string& kind) {
    if (!o.out.empty()) WriteFileOrFail(o.out, bitmap);
    BitmapSummary summary;
    std::string error;
    // The disk's size is not read here: every mark of the bitmap counts.
    if (!SummarizeBitmap(bitmap, sectorOfBlock, 0, summary, error)) {
        throw CommandError(kExitFailed, "cannot decode the bitmap of " + o.volume + ": " + error);
    }
    const unsigned long long covered = bitmap.size() * 4ull;
    if (session.Json()) {
        json::object report{{"kind", kind},
                            {"volumeUrn", o.volume},
                            {"snapshotUrn", o.snapshot},
                            {"sectorOfBlock", sectorOfBlock},
                            {"bitmapBlocks", covered}};
        AddExtentsJson(report, summary);
        return PrintJson(session.Out(), std::move(report));
    }
    Fields fields;
    fields.Add("Volume", o.volume);
    fields.Add("Snapshot", o.snapshot);
    fields.Add("Blocks", kind);
    fields.Add("Block size",
               std::to_string(summary.blockSize) + " bytes (" + std::to_string(sectorOfBlock) + " sectors)");
    fields.Add("Bitmap", std::to_string(covered) + " blocks (" + std::to_string(bitmap.size()) + " digits)");
    fields.Add("Set blocks",
               std::to_string(summary.blocks) + " in " + std::to_string(summary.extents.size()) + " extents");
    fields.Add("Bytes", std::to_string(summary.bytes) + " (" + HumanBytes(summary.bytes) + ")");
    if (!o.out.empty()) fields.Add("Bitmap file", o.out);
    fields.Print(session.Out());
    session.Out() << '\n';
    PrintExtents(session.Out(), "", summary, o.maxExtents);
}

std::string TokenOf(const CbtOptions& o) {
    if (!o.tokenFile.empty()) {
        std::string token = ReadFileOrFail(o.tokenFile);
        while (!token.empty() && (token.back() == '\n' || token.back() == '\r')) token.pop_back();
        return token;
    }
    return o.token;
}

void RegisterCbt(CLI::App& app, Session& session) {
    CLI::App* group = app.add_subcommand("cbt", "Change tokens and block bitmaps of a disk in a snapshot");
    group->require_subcommand(1);

    auto token = std::make_shared<CbtOptions>();
    CLI::App* cmd = group->add_subcommand(
        "token", "Print the change token of a disk in a snapshot (keep it for the next incremental backup)");
    AddVolumeSnapshot(cmd, *token);
    OnRun(cmd, session, [&session, token] {
        std::string changeToken;
        session.Check(session.Wrapper().GetDiskChangeToken(token->volume, token->snapshot, changeToken),
                      "cannot read the change token of " + token->volume);
        if (session.Json()) {
            return PrintJson(session.Out(), {{"volumeUrn", token->volume},
                                             {"snapshotUrn", token->snapshot},
                                             {"changeToken", changeToken}});
        }
        session.Out() << changeToken << '\n';
    });

    auto allocated = std::make_shared<CbtOptions>();
    cmd = group->add_subcommand("allocated",
                                "Show the allocated blocks of a disk in a snapshot (a full backup)");
    AddVolumeSnapshot(cmd, *allocated);
    cmd->add_option("--out", allocated->out, "Also write the raw bitmap text to FILE")->type_name("FILE");
    cmd->add_option("--max-extents", allocated->maxExtents, "Extents to list (0: all)")
        ->capture_default_str();
    OnRun(cmd, session, [&session, allocated] {
        std::string bitmap;
        int sectorOfBlock = 0;
        session.Check(session.Wrapper().QueryDiskAllocatedBlocks(allocated->volume, allocated->snapshot,
                                                                 bitmap, sectorOfBlock),
                      "cannot read the allocated blocks of " + allocated->volume);
        PrintBitmap(session, *allocated, bitmap, sectorOfBlock, "allocated");
    });

    auto changed = std::make_shared<CbtOptions>();
    cmd = group->add_subcommand(
        "changed", "Show the blocks of a disk changed since the backup of a change token (incremental)");
    AddVolumeSnapshot(cmd, *changed);
    auto* tokenText = cmd->add_option("--token", changed->token, "The change token of the earlier backup");
    auto* tokenFile = cmd->add_option("--token-file", changed->tokenFile, "File holding that token")
                          ->type_name("FILE")
                          ->excludes(tokenText);
    cmd->add_option("--out", changed->out, "Also write the raw bitmap text to FILE")->type_name("FILE");
    cmd->add_option("--max-extents", changed->maxExtents, "Extents to list (0: all)")->capture_default_str();
    OnRun(cmd, session, [&session, changed, tokenText, tokenFile] {
        if (tokenText->count() == 0 && tokenFile->count() == 0)
            UsageError("give --token TEXT or --token-file FILE");
        const std::string changeToken = TokenOf(*changed);
        std::string bitmap;
        int sectorOfBlock = 0;
        session.Check(session.Wrapper().QueryDiskChangedBlocks(changed->volume, changed->snapshot,
                                                               changeToken, bitmap, sectorOfBlock),
                      "cannot read the changed blocks of " + changed->volume);
        PrintBitmap(session, *changed, bitmap, sectorOfBlock, "changed");
    });
}

// ---- disk-access -------------------------------------------------------------------------------

struct AccessOptions {
    std::string volume;
    std::string snapshot;
    std::string ip = "127.0.0.1";
    bool restore = false;
    std::string resource;
    int delay = 150;
};

void RunPrepare(Session& session, const AccessOptions& o) {
    if (!o.restore && o.snapshot.empty())
        UsageError("a backup access needs --snapshot URN (or give --restore)");
    std::string resourceUri, hostIP, hostPort, token, targetFile;
    session.Check(ShowingWait(session, "disk-access prepare",
                              [&](CFusionComputeWrapper& w) {
                                  return w.PrepareDiskAccess(o.volume, o.snapshot, o.ip, o.restore,
                                                             resourceUri, hostIP, hostPort, token,
                                                             targetFile);
                              }),
                  "cannot open access to " + o.volume);
    if (session.Json()) {
        return PrintJson(session.Out(), {{"resourceUri", resourceUri},
                                         {"hostIP", hostIP},
                                         {"hostPort", hostPort},
                                         {"targetFile", targetFile},
                                         {"token", token},
                                         {"restore", o.restore}});
    }
    Fields fields;
    fields.Add("Resource URI", resourceUri);
    fields.Add("Host", hostIP + ":" + hostPort);
    fields.Add("Target file", targetFile);
    fields.Add("Token", token);
    fields.Add("Mode", o.restore ? "restore (write)" : "backup (read)");
    fields.Print(session.Out());
}

void RegisterDiskAccess(CLI::App& app, Session& session) {
    CLI::App* group =
        app.add_subcommand("disk-access", "Open, check, extend and close direct access to a disk's data");
    group->require_subcommand(1);

    auto prepare = std::make_shared<AccessOptions>();
    CLI::App* cmd = group->add_subcommand(
        "prepare", "Open access to a disk (a VRM backup resource) and show where to read or write it");
    cmd->add_option("--volume", prepare->volume, "URN of the disk's volume")->required();
    cmd->add_option("--snapshot", prepare->snapshot, "URN of the VM snapshot to read (backup)");
    cmd->add_option("--ip", prepare->ip, "Address of the machine that reads or writes the data")
        ->capture_default_str();
    cmd->add_flag("--restore", prepare->restore, "Open the disk for writing (restore) instead of reading");
    OnRun(cmd, session, [&session, prepare] { RunPrepare(session, *prepare); });

    auto validate = std::make_shared<AccessOptions>();
    cmd = group->add_subcommand("validate", "Check that a disk access still exists (exit code 1 when not)");
    cmd->add_option("resource", validate->resource, "Resource URI given by prepare")->required();
    OnRun(cmd, session, [&session, validate] {
        // A resource that is gone is this command's "no" answer, not a missing argument: exit code 1.
        if (!session.Wrapper().ValidateDiskAccess(validate->resource))
            session.Fail("disk access " + validate->resource + " is not valid", kExitFailed);
        PrintDone(session, "disk access " + validate->resource + " is valid",
                  {{"resourceUri", validate->resource}, {"valid", true}});
    });

    auto extend = std::make_shared<AccessOptions>();
    cmd = group->add_subcommand("extend", "Set a disk access's delay anew so that it lives longer");
    cmd->add_option("resource", extend->resource, "Resource URI given by prepare")->required();
    cmd->add_option("--delay", extend->delay, "The VRM's new delay of the resource")->capture_default_str();
    OnRun(cmd, session, [&session, extend] {
        session.Check(session.Wrapper().ExtendDiskAccess(extend->resource, extend->delay),
                      "cannot extend disk access " + extend->resource);
        PrintDone(session, "extended disk access " + extend->resource,
                  {{"resourceUri", extend->resource}, {"delay", extend->delay}});
    });

    auto release = std::make_shared<AccessOptions>();
    cmd = group->add_subcommand("release", "Close a disk access and wait until the VRM has removed it");
    cmd->add_option("resource", release->resource, "Resource URI given by prepare")->required();
    OnRun(cmd, session, [&session, release] {
        session.Check(
            ShowingWait(session, "disk-access release",
                        [&](CFusionComputeWrapper& w) { return w.ReleaseDiskAccess(release->resource); }),
            "cannot release disk access " + release->resource);
        PrintDone(session, "released disk access " + release->resource, {{"resourceUri", release->resource}});
    });
}

}  // namespace

void RegisterBackupCommands(CLI::App& app, Session& session) {
    RegisterSnapshot(app, session);
    RegisterCbt(app, session);
    RegisterDiskAccess(app, session);
    RegisterBackupRun(app, session);
}

}  // namespace fcctl
