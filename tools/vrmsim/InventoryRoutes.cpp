// Inventory reads: paged lists with the VRM's filters, and single objects by their URI.

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>

#include "Actions.h"
#include "Query.h"
#include "Render.h"

namespace vrmsim {

namespace json = boost::json;

namespace {

bool Contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

/// Whether a scope URN names a kind of object that lists can be scoped by (site, cluster, host, folder,
/// datastore, port group), whether or not such an object exists.
bool KnownScopeKind(const std::string& urn) {
    const std::string prefix = "urn:sites:";
    if (urn.compare(0, prefix.size(), prefix) != 0) return false;
    std::vector<std::string> parts;
    std::string::size_type start = prefix.size();
    while (start <= urn.size() && parts.size() < 8) {
        std::string::size_type end = urn.find(':', start);
        if (end == std::string::npos) end = urn.size();
        parts.push_back(urn.substr(start, end - start));
        start = end + 1;
    }
    if (parts.size() == 1) return !parts[0].empty();  // a site
    const std::string& kind = parts[1];
    if (kind == "clusters" || kind == "hosts" || kind == "folders" || kind == "datastores")
        return parts.size() == 3;
    return kind == "dvswitchs" && parts.size() == 5 && parts[3] == "portgroups";
}

/// What a "scope" (or "location") argument names.
struct Scope {
    enum Kind { All, Cluster, Host, Folder, RootFolder, Datastore, PortGroup, Default } kind = All;
    std::string urn;
};

class Inventory : public RouteArea<Inventory> {
  public:
    using RouteArea::RouteArea;

    void Register(Router& router) {
        Get(router, "/service/sites", &Inventory::Sites);
        Get(router, "/service/sites/{site}", &Inventory::SiteObject);
        Scoped(router, "/service/sites/{site}/clusters", &Inventory::Clusters);
        Get(router, "/service/sites/{site}/clusters/{id}", Found(&Model::FindCluster, RenderCluster));
        Scoped(router, "/service/sites/{site}/hosts", &Inventory::Hosts);
        Get(router, "/service/sites/{site}/hosts/{id}", Found(&Model::FindHost, RenderHost));
        Scoped(router, "/service/sites/{site}/vms", &Inventory::Vms);
        Get(router, "/service/sites/{site}/vms/osversions", &Inventory::OsVersions);
        Get(router, "/service/sites/{site}/vms/{id}", &Inventory::VmObject);
        Get(router, "/service/sites/{site}/vms/{id}/nics/{nic}", &Inventory::NicObject);
        Get(router, "/service/sites/{site}/vms/{id}/snapshots", &Inventory::SnapshotTree);
        Get(router, "/service/sites/{site}/vms/{id}/snapshots/{snap}", &Inventory::SnapshotObject);
        Get(router, "/service/sites/{site}/volumes", &Inventory::Volumes);
        Get(router, "/service/sites/{site}/volumes/{id}", Found(&Model::FindVolume, RenderVolume));
        Get(router, "/service/sites/{site}/volumes/{id}/backupresources/{res}",
            &Inventory::BackupResourceObject);
        Scoped(router, "/service/sites/{site}/datastores", &Inventory::Datastores);
        Get(router, "/service/sites/{site}/datastores/{id}", Found(&Model::FindDatastore, RenderDatastore));
        Get(router, "/service/sites/{site}/storageunits", &Inventory::StorageUnits);
        Get(router, "/service/sites/{site}/storageunits/{id}",
            Found(&Model::FindStorageUnit, RenderStorageUnit));
        Get(router, "/service/sites/{site}/storageresources", &Inventory::StorageResources);
        Get(router, "/service/sites/{site}/storageresources/{id}",
            Found(&Model::FindStorageResource, RenderStorageResource));
        Scoped(router, "/service/sites/{site}/dvswitchs", &Inventory::DvSwitches, "location");
        Get(router, "/service/sites/{site}/dvswitchs/{id}", Found(&Model::FindDvSwitch, RenderDvSwitch));
        Get(router, "/service/sites/{site}/dvswitchs/{id}/portgroups", &Inventory::PortGroups);
        Get(router, "/service/sites/{site}/portgroups", &Inventory::SitePortGroups);
        Get(router, "/service/sites/{site}/dvswitchs/{id}/portgroups/{pg}", &Inventory::PortGroupObject);
        Get(router, "/service/sites/{site}/folder", &Inventory::Folders);
        Get(router, "/service/sites/{site}/folders/{id}", Found(&Model::FindFolder, RenderFolder));
        Get(router, "/service/sites/{site}/tasks", &Inventory::Tasks);
        Get(router, "/service/sites/{site}/tasks/{id}", &Inventory::TaskObject);
    }

  private:
    using Method = HttpResponse (Inventory::*)(const HttpRequest&, const PathParams&);

    void Get(Router& router, const std::string& pattern, Method method) {
        Get(router, pattern, Bind(method));
    }

    void Get(Router& router, const std::string& pattern, RouteHandler handler) {
        std::function<HttpResponse(const HttpRequest&, const std::string&)> otherSite =
            Bind(&Inventory::OtherSite);
        Model* model = &m();
        router.Add("GET", pattern,
                   [model, otherSite, handler](const HttpRequest& request, const PathParams& params) {
                       auto site = params.find("site");
                       if (site != params.end() && site->second != model->site().id) {
                           return otherSite(request, site->second);
                       }
                       return handler(request, params);
                   });
    }

    /// GET of a list whose `key` argument, when given, must name a scope (400 or 404 otherwise).
    void Scoped(Router& router, const std::string& pattern,
                HttpResponse (Inventory::*list)(const QueryArgs&, const Scope&), const char* key = "scope") {
        auto self = shared_from_this();
        Get(router, pattern, [self, list, key](const HttpRequest& request, const PathParams&) {
            QueryArgs args(request.rawQuery);
            Scope scope;
            if (!self->ResolveScope(args, key, scope)) return ScopeRefused(scope);
            return ((*self).*list)(args, scope);
        });
    }

    /// GET of the object whose URN the path is: `render`ed, or 404.
    template <typename T, typename Render>
    RouteHandler Found(T* (Model::*find)(const std::string&), Render render) {
        Model* model = &m();
        return [model, find, render](const HttpRequest& request, const PathParams&) {
            const T* object = (model->*find)(PathToUrn(request.path));
            if (!object) return NoSuchObject(PathToUrn(request.path));
            if constexpr (std::is_invocable_v<Render, const T&>) {
                return JsonResponse(200, render(*object));
            } else {
                return JsonResponse(200, render(*model, *object));
            }
        };
    }

    /// Requests below a site other than the first: known sites hold no inventory, others do not exist.
    HttpResponse OtherSite(const HttpRequest& request, const std::string& id) {
        bool known =
            std::any_of(m().sites.begin(), m().sites.end(), [&](const Site& s) { return s.id == id; });
        if (!known) return NoSuchObject("site " + id);
        auto segments = SplitPath(request.path);
        static const char* kLists[][2] = {{"clusters", "clusters"},
                                          {"hosts", "hosts"},
                                          {"vms", "vms"},
                                          {"volumes", "volumes"},
                                          {"datastores", "datastores"},
                                          {"storageunits", "storageUnits"},
                                          {"storageresources", "storageResources"},
                                          {"dvswitchs", "dvSwitchs"},
                                          {"portgroups", "portGroups"},
                                          {"folder", "folders"},
                                          {"tasks", "tasks"}};
        if (segments.size() == 3) {
            if (segments[2].empty()) return NoSuchObject(request.path);
            for (const auto& list : kLists) {
                if (segments[2] != list[0]) continue;
                json::object body{{list[1], json::array()}};
                if (segments[2] != "clusters" && segments[2] != "dvswitchs") body["total"] = 0;
                return JsonResponse(200, body);
            }
        }
        if (segments.size() == 2) {
            for (const auto& s : m().sites) {
                if (s.id == id) return JsonResponse(200, RenderSite(s));
            }
        }
        return NoSuchObject(PathToUrn(request.path));
    }

    /// A list answer. `paged`: at most a page of objects and their "total"; otherwise (clusters and
    /// switches, which a VRM lists without "total") every object unless offset or limit is given.
    template <class T, class Render>
    HttpResponse List(const QueryArgs& args, const char* key, const std::vector<const T*>& items,
                      Render render, bool paged = true) {
        PageRequest page;
        std::string error;
        if (!ParsePage(args, c_.config.pageSize, page, error)) return BadArgument(error);
        if (!paged && !args.Has("limit")) page.limit = items.size();
        json::array out;
        for (std::size_t i = page.offset; i < items.size() && i < page.offset + page.limit; ++i) {
            out.push_back(render(*items[i]));
        }
        json::object body;
        if (paged) body["total"] = items.size();
        body[key] = std::move(out);
        return JsonResponse(200, body);
    }

    static bool NameMatches(const QueryArgs& args, const std::string& name) {
        auto wanted = args.Last("name");
        return !wanted || ContainsNoCase(name, *wanted);
    }

    /// The refusal of a scope that ResolveScope did not accept: 400 for a kind of object lists cannot be
    /// scoped by, 404 for an object of a known kind that does not exist.
    static HttpResponse ScopeRefused(const Scope& scope) {
        if (!KnownScopeKind(scope.urn)) return BadArgument("Invalid scope [" + scope.urn + "]");
        return NoSuchObject(scope.urn);
    }

    /// Reads "scope" (or another key); false when it names nothing known.
    bool ResolveScope(const QueryArgs& args, const char* key, Scope& scope) {
        scope = Scope();
        auto value = args.Last(key);
        if (!value || value->empty()) return true;
        scope.urn = *value;
        if (*value == "default") {
            scope.kind = Scope::Default;
        } else if (*value == m().site().urn) {
            scope.kind = Scope::All;
        } else if (*value == m().site().urn + ":folders:0") {
            scope.kind = Scope::RootFolder;
        } else if (m().FindCluster(*value)) {
            scope.kind = Scope::Cluster;
        } else if (m().FindHost(*value)) {
            scope.kind = Scope::Host;
        } else if (m().FindFolder(*value)) {
            scope.kind = Scope::Folder;
        } else if (m().FindDatastore(*value)) {
            scope.kind = Scope::Datastore;
        } else if (m().FindPortGroup(*value)) {
            scope.kind = Scope::PortGroup;
        } else {
            return false;
        }
        return true;
    }

    bool HostInCluster(const std::string& hostUrn, const std::string& clusterUrn) {
        const Host* host = m().FindHost(hostUrn);
        return host && host->clusterUrn == clusterUrn;
    }

    bool AnyHostInCluster(const std::vector<std::string>& hostUrns, const std::string& clusterUrn) {
        return std::any_of(hostUrns.begin(), hostUrns.end(),
                           [&](const std::string& urn) { return HostInCluster(urn, clusterUrn); });
    }

    // ---- sites ----

    HttpResponse Sites(const HttpRequest& request, const PathParams&) {
        QueryArgs args(request.rawQuery);
        auto urn = args.Last("urn");
        std::vector<const Site*> items;
        for (const auto& s : m().sites) {
            if (NameMatches(args, s.name) && (!urn || *urn == s.urn)) items.push_back(&s);
        }
        return List(args, "sites", items, [](const Site& s) { return RenderSite(s); });
    }

    HttpResponse SiteObject(const HttpRequest&, const PathParams&) {
        return JsonResponse(200, RenderSite(m().site()));
    }

    // ---- clusters ----

    HttpResponse Clusters(const QueryArgs& args, const Scope& scope) {
        auto urns = args.Last("clusterUrns");
        auto wanted = urns ? SplitList(*urns) : std::vector<std::string>();
        auto parent = args.Last("parentObjUrn");
        std::vector<const Cluster*> items;
        for (const auto& entry : m().clusters) {
            const Cluster& cl = entry.second;
            if (!NameMatches(args, cl.name) || (urns && !Contains(wanted, cl.urn))) continue;
            if (parent &&
                !(*parent == "default" ? cl.parentObjUrn == m().site().urn : cl.parentObjUrn == *parent)) {
                continue;
            }
            if (!ClusterInScope(cl, scope)) continue;
            items.push_back(&cl);
        }
        return List(
            args, "clusters", items, [this](const Cluster& cl) { return RenderCluster(m(), cl); }, false);
    }

    bool ClusterInScope(const Cluster& cl, const Scope& scope) {
        switch (scope.kind) {
            case Scope::All:
                return true;
            case Scope::Cluster:
                return cl.urn == scope.urn;
            case Scope::Folder:
                return m().FolderWithin(cl.parentObjUrn, scope.urn);
            case Scope::Default:
                return cl.parentObjUrn == m().site().urn;
            default:
                return false;
        }
    }

    // ---- hosts ----

    HttpResponse Hosts(const QueryArgs& args, const Scope& scope) {
        auto ip = args.Last("ip");
        std::vector<const Host*> items;
        for (const auto& entry : m().hosts) {
            const Host& host = entry.second;
            if (!NameMatches(args, host.name) || (ip && !ContainsNoCase(host.ip, *ip))) continue;
            if (HostInScope(host, scope)) items.push_back(&host);
        }
        return List(args, "hosts", items, [this](const Host& host) { return RenderHost(m(), host); });
    }

    bool HostInScope(const Host& host, const Scope& scope) {
        switch (scope.kind) {
            case Scope::All:
                return true;
            case Scope::Cluster:
                return host.clusterUrn == scope.urn;
            case Scope::Host:
                return host.urn == scope.urn;
            case Scope::Default:
                return host.clusterUrn.empty();
            case Scope::Datastore:
                return Contains(m().FindDatastore(scope.urn)->hostUrns, host.urn);
            case Scope::Folder: {
                const Cluster* cl = m().FindCluster(host.clusterUrn);
                return cl && m().FolderWithin(cl->parentObjUrn, scope.urn);
            }
            default:
                return false;
        }
    }

    // ---- VMs and templates ----

    HttpResponse Vms(const QueryArgs& args, const Scope& scope) {
        int detail = 1;
        if (auto text = args.Last("detail")) {
            if (*text != "0" && *text != "1" && *text != "2")
                return BadArgument("Invalid detail [" + *text + "]");
            detail = (*text)[0] - '0';
        }
        std::optional<bool> templates;
        if (auto text = args.Last("isTemplate")) {
            if (EqualsNoCase(*text, "true")) {
                templates = true;
            } else if (EqualsNoCase(*text, "false")) {
                templates = false;
            } else {
                return BadArgument("Invalid isTemplate [" + *text + "]");
            }
        }
        auto uuid = args.Last("uuid");
        auto urns = args.Last("vmurns");
        auto wanted = urns ? SplitList(*urns) : std::vector<std::string>();
        auto mac = args.Last("mac");
        auto ip = args.Last("ip");
        auto status = args.Last("status");
        std::vector<const Vm*> items;
        for (const auto& entry : m().vms) {
            const Vm& vm = entry.second;
            if (templates && vm.isTemplate != *templates) continue;
            if ((uuid && vm.uuid != *uuid) || (urns && !Contains(wanted, vm.urn)) ||
                !NameMatches(args, vm.name) || (status && vm.status != *status)) {
                continue;
            }
            if (mac && std::none_of(vm.nics.begin(), vm.nics.end(),
                                    [&](const Nic& nic) { return ContainsNoCase(nic.mac, *mac); })) {
                continue;
            }
            if (ip && std::none_of(vm.nics.begin(), vm.nics.end(),
                                   [&](const Nic& nic) { return ContainsNoCase(nic.ip, *ip); })) {
                continue;
            }
            if (VmInScope(vm, scope)) items.push_back(&vm);
        }
        bool hide = c_.config.folderScopeHidesTemplateFlag &&
                    (scope.kind == Scope::Folder || scope.kind == Scope::RootFolder);
        return List(args, "vms", items,
                    [this, detail, hide](const Vm& vm) { return RenderVm(m(), vm, detail, hide); });
    }

    bool VmInScope(const Vm& vm, const Scope& scope) {
        switch (scope.kind) {
            case Scope::All:
                return true;
            case Scope::Cluster:
                return vm.clusterUrn == scope.urn;
            case Scope::Host:
                // Templates run on no host (their host fields are empty).
                return !vm.isTemplate && vm.hostUrn == scope.urn;
            case Scope::Folder:
                return vm.folderUrn == scope.urn;
            case Scope::RootFolder:
            case Scope::Default:
                return vm.folderUrn.empty();
            case Scope::Datastore: {
                auto volumes = m().VolumesOf(vm);
                return std::any_of(volumes.begin(), volumes.end(),
                                   [&](const Volume* v) { return v->datastoreUrn == scope.urn; });
            }
            case Scope::PortGroup:
                return std::any_of(vm.nics.begin(), vm.nics.end(),
                                   [&](const Nic& nic) { return nic.portGroupUrn == scope.urn; });
        }
        return false;
    }

    Vm* VmOfPath(const PathParams& params) { return m().FindVm(m().Urn("vms:" + params.at("id"))); }

    HttpResponse VmObject(const HttpRequest& request, const PathParams& params) {
        const Vm* vm = VmOfPath(params);
        return vm ? JsonResponse(200, RenderVm(m(), *vm, 2)) : NoSuchObject(PathToUrn(request.path));
    }

    HttpResponse NicObject(const HttpRequest& request, const PathParams& params) {
        const Vm* vm = VmOfPath(params);
        std::string urn = PathToUrn(request.path);
        if (vm) {
            for (const auto& nic : vm->nics) {
                if (nic.urn == urn) return JsonResponse(200, RenderNic(m(), nic));
            }
        }
        return NoSuchObject(urn);
    }

    HttpResponse OsVersions(const HttpRequest&, const PathParams&) {
        return JsonResponse(200, RenderOsCatalogue(m().osCatalogue));
    }

    HttpResponse SnapshotTree(const HttpRequest& request, const PathParams& params) {
        const Vm* vm = VmOfPath(params);
        return vm ? JsonResponse(200, RenderSnapshotTree(*vm)) : NoSuchObject(PathToUrn(request.path));
    }

    HttpResponse SnapshotObject(const HttpRequest& request, const PathParams&) {
        Vm* vm = nullptr;
        const Snapshot* snapshot = m().FindSnapshot(PathToUrn(request.path), &vm);
        return snapshot ? JsonResponse(200, RenderSnapshot(*vm, *snapshot))
                        : NoSuchObject(PathToUrn(request.path));
    }

    // ---- storage ----

    HttpResponse Volumes(const HttpRequest& request, const PathParams&) {
        QueryArgs args(request.rawQuery);
        auto datastore = args.Last("datastoreUrn");
        auto vmUrn = args.Last("vmUrn");
        std::vector<const Volume*> items;
        for (const auto& entry : m().volumes) {
            const Volume& v = entry.second;
            if (NameMatches(args, v.name) && (!datastore || v.datastoreUrn == *datastore) &&
                (!vmUrn || v.vmUrn == *vmUrn)) {
                items.push_back(&v);
            }
        }
        return List(args, "volumes", items, [this](const Volume& v) { return RenderVolume(m(), v); });
    }

    HttpResponse BackupResourceObject(const HttpRequest& request, const PathParams&) {
        // Each read moves the resource on towards ready (or gone, once released).
        const BackupResource* resource = m().PollBackupResource(request.path, c_.now());
        return resource ? JsonResponse(200, RenderBackupResource(*resource))
                        : NoSuchObject("backup resource " + request.path);
    }

    HttpResponse Datastores(const QueryArgs& args, const Scope& scope) {
        auto type = args.Last("storageType");
        std::vector<const Datastore*> items;
        for (const auto& entry : m().datastores) {
            const Datastore& ds = entry.second;
            if (!NameMatches(args, ds.name) || (type && ds.storageType != *type)) continue;
            bool inScope = scope.kind == Scope::All ||
                           (scope.kind == Scope::Host && Contains(ds.hostUrns, scope.urn)) ||
                           (scope.kind == Scope::Cluster && AnyHostInCluster(ds.hostUrns, scope.urn)) ||
                           (scope.kind == Scope::Datastore && ds.urn == scope.urn);
            if (inScope) items.push_back(&ds);
        }
        return List(args, "datastores", items,
                    [this](const Datastore& ds) { return RenderDatastore(m(), ds); });
    }

    HttpResponse StorageUnits(const HttpRequest& request, const PathParams&) {
        QueryArgs args(request.rawQuery);
        auto host = args.Last("hostUrn");
        if (host && !host->empty() && !m().FindHost(*host)) return NoSuchObject(*host);
        std::vector<const StorageUnit*> items;
        for (const auto& entry : m().storageUnits) {
            const StorageUnit& unit = entry.second;
            if (NameMatches(args, unit.name) && (!host || host->empty() || Contains(unit.hostUrns, *host))) {
                items.push_back(&unit);
            }
        }
        return List(args, "storageUnits", items,
                    [this](const StorageUnit& u) { return RenderStorageUnit(m(), u); });
    }

    HttpResponse StorageResources(const HttpRequest& request, const PathParams&) {
        QueryArgs args(request.rawQuery);
        auto type = args.Last("storageType");
        std::vector<const StorageResource*> items;
        for (const auto& entry : m().storageResources) {
            const StorageResource& r = entry.second;
            if (NameMatches(args, r.name) && (!type || r.storageType == *type)) items.push_back(&r);
        }
        return List(args, "storageResources", items,
                    [](const StorageResource& r) { return RenderStorageResource(r); });
    }

    // ---- network ----

    HttpResponse DvSwitches(const QueryArgs& args, const Scope& location) {
        std::vector<const DvSwitch*> items;
        for (const auto& entry : m().dvSwitches) {
            const DvSwitch& sw = entry.second;
            if (!NameMatches(args, sw.name)) continue;
            bool inScope = location.kind == Scope::All ||
                           (location.kind == Scope::Host && Contains(sw.hostUrns, location.urn)) ||
                           (location.kind == Scope::Cluster && AnyHostInCluster(sw.hostUrns, location.urn));
            if (inScope) items.push_back(&sw);
        }
        return List(
            args, "dvSwitchs", items, [](const DvSwitch& sw) { return RenderDvSwitch(sw); }, false);
    }

    HttpResponse PortGroups(const HttpRequest& request, const PathParams& params) {
        const DvSwitch* sw = m().FindDvSwitch(m().Urn("dvswitchs:" + params.at("id")));
        if (!sw) return NoSuchObject(PathToUrn(request.path));
        QueryArgs args(request.rawQuery);
        std::vector<const PortGroup*> items;
        for (const auto& entry : sw->portGroups) {
            if (NameMatches(args, entry.second.name)) items.push_back(&entry.second);
        }
        return List(args, "portGroups", items,
                    [sw](const PortGroup& pg) { return RenderPortGroup(*sw, pg); });
    }

    /// Every port group of the site, switch by switch.
    HttpResponse SitePortGroups(const HttpRequest& request, const PathParams&) {
        QueryArgs args(request.rawQuery);
        std::vector<const PortGroup*> items;
        std::map<const PortGroup*, const DvSwitch*> owners;
        for (const auto& sw : m().dvSwitches) {
            for (const auto& entry : sw.second.portGroups) {
                if (!NameMatches(args, entry.second.name)) continue;
                items.push_back(&entry.second);
                owners[&entry.second] = &sw.second;
            }
        }
        return List(args, "portGroups", items,
                    [&owners](const PortGroup& pg) { return RenderPortGroup(*owners.at(&pg), pg); });
    }

    HttpResponse PortGroupObject(const HttpRequest& request, const PathParams& params) {
        const DvSwitch* sw = m().FindDvSwitch(m().Urn("dvswitchs:" + params.at("id")));
        const PortGroup* pg = m().FindPortGroup(PathToUrn(request.path));
        return (sw && pg) ? JsonResponse(200, RenderPortGroup(*sw, *pg))
                          : NoSuchObject(PathToUrn(request.path));
    }

    // ---- folders and tasks ----

    HttpResponse Folders(const HttpRequest& request, const PathParams&) {
        QueryArgs args(request.rawQuery);
        auto type = args.Last("type");
        if (type && *type != "0" && *type != "1") return BadArgument("Invalid type [" + *type + "]");
        std::string parent = args.Last("parentObjUrn").value_or(std::string());
        if (parent.empty()) parent = m().site().urn;
        std::vector<const Folder*> items;
        for (const auto& entry : m().folders) {
            const Folder& f = entry.second;
            if ((!type || f.type == (*type)[0] - '0') && f.parentObjUrn == parent &&
                NameMatches(args, f.name)) {
                items.push_back(&f);
            }
        }
        return List(args, "folders", items, [this](const Folder& f) { return RenderFolder(m(), f); });
    }

    /// The site's tasks, newest first; "status" filters. Listing does not move a task on.
    HttpResponse Tasks(const HttpRequest& request, const PathParams&) {
        QueryArgs args(request.rawQuery);
        auto status = args.Last("status");
        std::vector<const Task*> items;
        for (auto it = m().tasks.rbegin(); it != m().tasks.rend(); ++it) {
            if (!status || it->second.status == *status) items.push_back(&it->second);
        }
        return List(args, "tasks", items, [this](const Task& t) { return RenderTask(m(), t, true); });
    }

    HttpResponse TaskObject(const HttpRequest& request, const PathParams&) {
        Task* task = m().FindTask(PathToUrn(request.path));
        if (!task) return NoSuchObject(PathToUrn(request.path));
        m().AdvanceTask(*task, c_.now());
        return JsonResponse(200, RenderTask(m(), *task));
    }
};

}  // namespace

void RegisterInventoryRoutes(Router& router, RouteContext& context) {
    std::make_shared<Inventory>(context)->Register(router);
}

}  // namespace vrmsim
