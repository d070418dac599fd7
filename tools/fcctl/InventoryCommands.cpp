// Inventory commands: read-only views of the VRM's site.

#include <algorithm>
#include <memory>

#include "Commands.h"
#include "RecordJson.h"
#include "RecordText.h"
#include "Table.h"

namespace fcctl {

using namespace FusionComputeSDKWrapper;

namespace {

// VM lists ask the VRM for its summary view (host, OS, network cards): any VM detail flag does that.
constexpr UINT64 kVmSummary = VM_PROP_VM_HOST_INFO;

// The site's records read by `all` or, when `parent` is given, those of that parent read by `ofParent`;
// a failure ends the command.
template <typename Record>
std::vector<Record> ReadList(Session& session, const std::string& what,
                             bool (CFusionComputeWrapper::*all)(std::vector<Record>&, UINT64),
                             const std::string& parent = std::string(),
                             bool (CFusionComputeWrapper::*ofParent)(const std::string&, std::vector<Record>&,
                                                                     UINT64) = nullptr) {
    CFusionComputeWrapper& wrapper = session.Wrapper();
    const UINT64 flags = session.Details(0);
    std::vector<Record> list;
    const bool ok = parent.empty() ? (wrapper.*all)(list, flags) : (wrapper.*ofParent)(parent, list, flags);
    session.Check(ok, "cannot list " + what);
    return list;
}

VmSections SectionsFor(UINT64 flags) {
    VmSections sections;
    sections.disks = (flags & VM_PROP_VM_DISK_LIST) != 0;
    sections.nics = (flags & VM_PROP_VM_NW_LIST) != 0;
    sections.snapshots = (flags & VM_PROP_VM_SNAPSHOT_LIST) != 0;
    return sections;
}

void RunVersions(Session& session) {
    CFusionComputeWrapper& wrapper = session.Wrapper();
    SVersionInfoLib version;
    int number = 0;
    const bool known =
        wrapper.GetManagementVersionInfo(version) && wrapper.GetManagementVersionNumber(number);
    const SSiteInfoLib& site = wrapper.GetSite();
    if (session.Json()) {
        return PrintJson(session.Out(),
                         {{"host", session.options().host},
                          {"version", version.version},
                          {"versionNumber", number},
                          {"loginUri", version.loginUri},
                          {"site", {{"name", site.name}, {"urn", site.urn}, {"uri", site.uri}}}});
    }
    Fields fields;
    fields.Add("VRM", session.options().host);
    fields.Add("API version", known ? version.version + " (" + std::to_string(number) + ")" : "unknown");
    fields.Add("Login URI", version.loginUri);
    fields.Add("Site", site.name + " (" + site.urn + ")");
    fields.Print(session.Out());
}

void RegisterVersions(CLI::App& app, Session& session) {
    CLI::App* cmd = app.add_subcommand(
        "versions", "Show the highest API version the VRM offers and the site fcctl works in");
    OnRun(cmd, session, [&session] { RunVersions(session); });
}

void SetUpSites(CLI::App* cmd, Session& session) {
    OnRun(cmd, session, [&session] {
        PrintResult(session, "sites", ReadList(session, "the sites", &CFusionComputeWrapper::GetSiteInfoList),
                    PrintSites);
    });
}

void SetUpClusters(CLI::App* cmd, Session& session) {
    auto folder = std::make_shared<std::string>();
    cmd->add_option("--folder", *folder, "Only the clusters of this cluster folder")->type_name("URN");
    OnRun(cmd, session, [&session, folder] {
        PrintResult(session, "clusters",
                    ReadList(session, "the clusters", &CFusionComputeWrapper::GetClusterInfoList, *folder,
                             &CFusionComputeWrapper::GetClusterInfoListForFolder),
                    PrintClusters);
    });
}

void SetUpHosts(CLI::App* cmd, Session& session) {
    auto cluster = std::make_shared<std::string>();
    cmd->add_option("--cluster", *cluster, "Only the hosts of this cluster")->type_name("URN");
    OnRun(cmd, session, [&session, cluster] {
        PrintResult(session, "hosts",
                    ReadList(session, "the hosts", &CFusionComputeWrapper::GetHostInfoList, *cluster,
                             &CFusionComputeWrapper::GetHostInfoListForCluster),
                    PrintHosts);
    });
}

struct VmsOptions {
    std::string folder;
    bool templates = false;      // the templates too
    bool onlyTemplates = false;  // the templates alone
    std::string mac;
};

bool HasMac(const SVMInfoLib& vm, const std::string& mac) {
    return std::any_of(vm.nics.begin(), vm.nics.end(),
                       [&](const SVMNetworkCardInfoLib& nic) { return Lower(nic.mac) == Lower(mac); });
}

void RunVms(Session& session, const VmsOptions& options) {
    CFusionComputeWrapper& wrapper = session.Wrapper();
    const UINT64 flags = session.Details(kVmSummary);
    std::vector<SVMInfoLib> vms;
    if (options.onlyTemplates) {
        session.Check(wrapper.GetVMTemplateList(vms, flags), "cannot list the templates");
    } else if (!options.folder.empty()) {
        session.Check(wrapper.GetVMInfoListForFolder(options.folder, vms, flags),
                      "cannot list the VMs of folder " + options.folder);
    } else {
        session.Check(wrapper.GetVMInfoList(vms, flags), "cannot list the VMs");
    }
    // The VRM lists templates among the VMs; an operator asking for VMs means the machines that run.
    const bool keepTemplates = options.templates || options.onlyTemplates;
    vms.erase(std::remove_if(vms.begin(), vms.end(),
                             [&](const SVMInfoLib& vm) {
                                 return (vm.isTemplate && !keepTemplates) ||
                                        (!options.mac.empty() && !HasMac(vm, options.mac));
                             }),
              vms.end());
    PrintResult(session, "vms", vms, [flags](std::ostream& out, const std::vector<SVMInfoLib>& list) {
        PrintVmList(out, list, SectionsFor(flags));
    });
}

void SetUpVms(CLI::App* cmd, Session& session) {
    auto options = std::make_shared<VmsOptions>();
    auto* folder =
        cmd->add_option("--folder", options->folder, "Only the VMs of this VM folder")->type_name("URN");
    auto* templates = cmd->add_flag("--templates", options->templates, "List the templates too");
    cmd->add_flag("--templates-only", options->onlyTemplates, "List the templates alone")
        ->excludes(folder)
        ->excludes(templates);
    cmd->add_option("--mac", options->mac, "Only the VMs with a network card of this MAC address")
        ->type_name("MAC");
    OnRun(cmd, session, [&session, options] { RunVms(session, *options); });
}

void RegisterVmShow(CLI::App& vm, Session& session) {
    auto ref = std::make_shared<VmRef>();
    CLI::App* cmd = vm.add_subcommand("show",
                                      "Show one VM in full: disks, network cards (and snapshots with "
                                      "--details snapshots, switch names with --details nics)");
    AddVmOptions(cmd, *ref);
    OnRun(cmd, session, [&session, ref] {
        // A single VM is shown in full: the VRM's whole object and each disk's used space.
        const SVMInfoLib vm =
            ResolveVm(session, *ref, session.Details(VM_PROP_VM_GUEST_INFO | VM_PROP_VM_DISK_LIST));
        PrintResult(session, "vm", vm, PrintVm);
    });
}

void SetUpDatastores(CLI::App* cmd, Session& session) {
    OnRun(cmd, session, [&session] {
        PrintResult(session, "datastores",
                    ReadList(session, "the datastores", &CFusionComputeWrapper::GetDataStoreInfoList),
                    PrintDatastores);
    });
}

// The library reads switches per host; the site's switches are those of all hosts, each listed once.
void MergeNetworks(const std::vector<SHostInfoLib>& hosts, std::vector<SNetworkInfoLib>& networks) {
    for (const SHostInfoLib& host : hosts) {
        for (const SNetworkInfoLib& network : host.networks) {
            const bool seen =
                std::any_of(networks.begin(), networks.end(),
                            [&](const SNetworkInfoLib& known) { return known.urn == network.urn; });
            if (!seen) networks.push_back(network);
        }
    }
}

void SetUpNetworks(CLI::App* cmd, Session& session) {
    auto host = std::make_shared<std::string>();
    cmd->add_option("--of-host", *host, "Only the switches this host is attached to")->type_name("NAME");
    OnRun(cmd, session, [&session, host] {
        CFusionComputeWrapper& wrapper = session.Wrapper();
        std::vector<SHostInfoLib> hosts(1);
        if (host->empty()) {
            session.Check(wrapper.GetHostInfoList(hosts, VM_PROP_HOST_NW_LIST), "cannot list the switches");
        } else {
            session.Check(wrapper.GetHostInfo(*host, "", hosts[0], VM_PROP_HOST_NW_LIST),
                          "cannot read host \"" + *host + "\"");
        }
        std::vector<SNetworkInfoLib> networks;
        MergeNetworks(hosts, networks);
        PrintResult(session, "networks", networks, PrintNetworks);
    });
}

struct FoldersOptions {
    std::string type = "all";
    std::string parent;
};

void RunFolders(Session& session, const FoldersOptions& options) {
    CFusionComputeWrapper& wrapper = session.Wrapper();
    std::vector<std::pair<std::string, SFolderInfoLib>> folders;
    if (options.type != "vm") {
        std::vector<SFolderInfoLib> list;
        session.Check(wrapper.GetClusterFolderInfoList(list), "cannot list the cluster folders");
        for (const SFolderInfoLib& folder : list) folders.emplace_back("cluster", folder);
    }
    if (options.type != "cluster") {
        std::vector<SFolderInfoLib> list;
        session.Check(wrapper.GetVMFolderInfoList(options.parent, list), "cannot list the VM folders");
        for (const SFolderInfoLib& folder : list) folders.emplace_back("vm", folder);
    }
    if (session.Json()) {
        json::array list;
        for (const auto& folder : folders) {
            json::object entry{{"type", folder.first}};
            json::value record = json::value_from(folder.second);
            for (json::key_value_pair& member : record.as_object())
                entry.emplace(member.key(), std::move(member.value()));
            list.push_back(std::move(entry));
        }
        return PrintJson(session.Out(), {{"folders", std::move(list)}});
    }
    PrintFolders(session.Out(), folders);
}

void SetUpFolders(CLI::App* cmd, Session& session) {
    auto options = std::make_shared<FoldersOptions>();
    cmd->add_option("--type", options->type, "Which folders: cluster, vm or all")
        ->check(CLI::IsMember({"cluster", "vm", "all"}))
        ->capture_default_str();
    cmd->add_option("--parent", options->parent, "VM folders below this object (default: the top level)")
        ->type_name("URN");
    OnRun(cmd, session, [&session, options] { RunFolders(session, *options); });
}

// A list under its noun ("host list") and, for the scripts written before the nouns, under its old plural
// name at the top level ("hosts", shown among the aliases); each gets its own options and the same action.
void RegisterList(CLI::App& app, CLI::App& noun, const char* plural, const std::string& help,
                  void (*setUp)(CLI::App*, Session&), Session& session) {
    setUp(noun.add_subcommand("list", help), session);
    const std::string alias = "Same as: fcctl " + noun.get_name() + " list";
    setUp(app.add_subcommand(plural, alias)->group(kAliasGroup), session);
}

}  // namespace

void RegisterInventoryCommands(CLI::App& app, CLI::App& vm, Session& session) {
    RegisterVersions(app, session);
    RegisterList(app, Noun(app, "site", "List the VRM's sites"), "sites",
                 "List the VRM's sites (--details site-clusters,... for more)", SetUpSites, session);
    RegisterList(app, Noun(app, "cluster", "List the site's clusters"), "clusters",
                 "List the site's clusters (--details cluster-hosts,cluster-vms)", SetUpClusters, session);
    RegisterList(app, Noun(app, "host", "List the site's hosts"), "hosts",
                 "List the site's hosts (--details host-vms,host-datastores,host-networks,host-storage)",
                 SetUpHosts, session);
    RegisterList(app, vm, "vms",
                 "List the site's VMs without the templates (--details disks,nics,snapshots for more)",
                 SetUpVms, session);
    RegisterVmShow(vm, session);
    RegisterList(app, Noun(app, "datastore", "List and create datastores"), "datastores",
                 "List the site's datastores (--details ds-vms,ds-extents)", SetUpDatastores, session);
    RegisterList(app, Noun(app, "network", "List the distributed switches"), "networks",
                 "List the distributed switches and their port groups", SetUpNetworks, session);
    RegisterList(app, Noun(app, "folder", "List the cluster and VM folders"), "folders",
                 "List the cluster folders and the VM folders of the site", SetUpFolders, session);
}

}  // namespace fcctl
