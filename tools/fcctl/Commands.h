#ifndef FCCTL_COMMANDS_H
#define FCCTL_COMMANDS_H

// Registration of fcctl's commands and the helpers they share.

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

#include "JsonWriter.h"
#include "RecordJson.h"
#include "Session.h"
#include "Table.h"

namespace fcctl {

/// Inventory: versions, vm show and the lists: site, cluster, host, vm, datastore, network and folder
/// list, each also under its old plural name (sites, clusters, ...).
void RegisterInventoryCommands(CLI::App& app, CLI::App& vm, Session& session);
/// Backup: snapshot, cbt, disk-access and backup.
void RegisterBackupCommands(CLI::App& app, Session& session);
/// The backup command itself: full or incremental backup of a VM with a state file.
void RegisterBackupRun(CLI::App& app, Session& session);
/// VM management: vm start|stop|shutdown|create|modify|delete|export-ovf|import-ovf|export-json|
/// reconnect-nics.
void RegisterVmCommands(CLI::App& vm, Session& session);
/// Disks, network cards, datastores and MAC addresses: disk, nic, datastore create, mac check.
void RegisterDeviceCommands(CLI::App& app, Session& session);

/// Heading of fcctl --help under which the old plural names of the lists ("vms", "hosts", ...) stand.
constexpr const char* kAliasGroup = "Aliases";

/// The noun command `name` of `app` ("vm", "host", "datastore", ...), made with `help` on first use; it
/// needs one verb after it.
CLI::App& Noun(CLI::App& app, const std::string& name, const std::string& help);

/// How the user names a VM: a name (positional) or --urn / --uuid.
struct VmRef {
    std::string name;
    std::string urn;
    std::string uuid;
};

/// Adds the positional VM name and the --urn and --uuid options to a command.
void AddVmOptions(CLI::App* command, VmRef& ref);
/// Throws a usage error unless the VM was named one way or another.
void RequireVm(const VmRef& ref);
/// Finds the VM with the given detail flags; fails the command when it cannot be read.
fc::SVMInfoLib ResolveVm(Session& session, const VmRef& ref, fc::UINT64 flags);
/// Text naming the VM for messages.
std::string DescribeVm(const VmRef& ref);

/// Sets the command's action: run `body` after parsing (main catches its CommandError).
template <typename Body>
void OnRun(CLI::App* command, Session& session, Body body) {
    command->callback([&session, body]() { session.action = body; });
}

/// Runs `call`, a library call that waits for the VRM (a task, a backup resource), and shows the wait on
/// standard error under `label` (the command's name, "vm start"); connects first so that a failed connect
/// is not shown as a failed wait.
/// @return what `call` returned
bool ShowingWait(Session& session, const std::string& label,
                 const std::function<bool(fc::CFusionComputeWrapper&)>& call);

/// Reads a whole file; a usage error when it cannot be read.
std::string ReadFileOrFail(const std::string& path);
/// Writes a whole file (atomically); a failure (exit 1) when it cannot be written.
void WriteFileOrFail(const std::string& path, const std::string& content);

/// Prints the outcome of a command that changes something: the text, or in JSON mode a document with
/// "ok": true, "message": the text and `members`.
void PrintDone(Session& session, const std::string& text, json::object members = json::object());

/// Prints what a command read or made: in JSON mode a document whose member `key` holds `value` (a record,
/// or a vector of records as an array); otherwise `heading` (when not empty) and a blank line, then what
/// `printText(out, value)` writes.
template <typename Value, typename PrintText>
void PrintResult(Session& session, const char* key, const Value& value, PrintText printText,
                 const std::string& heading = std::string()) {
    if (session.Json()) return PrintJson(session.Out(), {{key, json::value_from(value)}});
    if (!heading.empty()) session.Out() << CellText(heading) << "\n\n";
    printText(session.Out(), value);
}

}  // namespace fcctl

#endif  // FCCTL_COMMANDS_H
