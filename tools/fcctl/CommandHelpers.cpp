#include <fstream>
#include <iostream>
#include <sstream>

#include "BackupState.h"
#include "Commands.h"
#include "Progress.h"

namespace fcctl {

CLI::App& Noun(CLI::App& app, const std::string& name, const std::string& help) {
    const std::function<bool(CLI::App*)> named = [&name](CLI::App* known) {
        return known->get_name() == name;
    };
    const std::vector<CLI::App*> found = app.get_subcommands(named);
    if (!found.empty()) return *found.front();
    CLI::App* noun = app.add_subcommand(name, help);
    noun->require_subcommand(1);
    return *noun;
}

void AddVmOptions(CLI::App* command, VmRef& ref) {
    command->add_option("vm", ref.name, "Name of the VM")->type_name("NAME");
    command->add_option("--urn", ref.urn, "URN of the VM (instead of the name)")->type_name("URN");
    command->add_option("--uuid", ref.uuid, "UUID of the VM (instead of the name)")->type_name("UUID");
}

void RequireVm(const VmRef& ref) {
    if (ref.name.empty() && ref.urn.empty() && ref.uuid.empty()) {
        UsageError("name the VM: give its NAME, --urn URN or --uuid UUID");
    }
}

std::string DescribeVm(const VmRef& ref) {
    if (!ref.uuid.empty()) return "VM with UUID " + ref.uuid;
    if (!ref.urn.empty()) return "VM " + ref.urn;
    return "VM \"" + ref.name + "\"";
}

fc::SVMInfoLib ResolveVm(Session& session, const VmRef& ref, fc::UINT64 flags) {
    RequireVm(ref);
    fc::SVMInfoLib vm;
    if (session.Wrapper().GetVMInfo(ref.name, ref.urn, ref.uuid, vm, flags)) return vm;
    if (session.LastFailureIsNotFound()) throw CommandError(kExitNotFound, "there is no " + DescribeVm(ref));
    session.Fail("cannot read the " + DescribeVm(ref));
}

bool ShowingWait(Session& session, const std::string& label,
                 const std::function<bool(fc::CFusionComputeWrapper&)>& call) {
    fc::CFusionComputeWrapper& wrapper = session.Wrapper();
    Progress progress(label, true, Progress::Lines::kWaitsOnly);
    const bool ok = call(wrapper);
    if (ok) progress.Done();
    return ok;
}

std::string ReadFileOrFail(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) UsageError("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFileOrFail(const std::string& path, const std::string& content) {
    std::string error;
    if (!WriteFileAtomically(path, content, error, 0644)) throw CommandError(kExitFailed, error);
}

void PrintDone(Session& session, const std::string& text, json::object members) {
    if (!session.Json()) {
        session.Out() << text << '\n';
        return;
    }
    json::object document{{"ok", true}, {"message", text}};
    for (json::key_value_pair& member : members) document.emplace(member.key(), std::move(member.value()));
    PrintJson(session.Out(), std::move(document));
}

}  // namespace fcctl
