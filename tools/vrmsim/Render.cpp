#include "Render.h"

#include <boost/json/array.hpp>
#include <boost/json/value.hpp>

#include <algorithm>
#include <cctype>

namespace vrmsim {

namespace json = boost::json;

namespace {

json::value TextOrNull(const std::string& text) {
    return text.empty() ? json::value(nullptr) : json::value(text);
}

std::string HostName(Model& model, const std::string& urn) {
    const Host* host = model.FindHost(urn);
    return host ? host->name : std::string();
}

std::string ClusterName(Model& model, const std::string& urn) {
    const Cluster* cluster = model.FindCluster(urn);
    return cluster ? cluster->name : std::string();
}

json::object Cpu(const Vm& vm) {
    return {{"quantity", vm.cpuQuantity},
            {"coresPerSocket", vm.coresPerSocket},
            {"reservation", 0},
            {"weight", 1000 * vm.cpuQuantity},
            {"limit", 0},
            {"cpuHotPlug", 0},
            {"cpuPolicy", "shared"},
            {"cpuThreadPolicy", "prefer"}};
}

json::object Memory(const Vm& vm) {
    return {{"quantityMB", vm.memoryMB}, {"reservation", 0}, {"weight", vm.memoryMB * 10}, {"limit", 0},
            {"memHotPlug", 0},           {"hugePage", "4K"}};
}

json::object OsOptions(const Vm& vm) {
    json::object os{{"osType", vm.osType}, {"osVersion", vm.osVersion}, {"hostname", vm.name}};
    if (!vm.guestOSName.empty()) os["guestOSName"] = vm.guestOSName;
    return os;
}

json::object Properties() {
    return {{"bootOption", "disk"},    {"isEnableHa", true},       {"reoverByHost", false},
            {"vmVncKeymapSetting", 7}, {"clockMode", "freeClock"}, {"isAutoUpgrade", true},
            {"isEnableMemVol", false}, {"isEnableFt", false},      {"secureVmType", ""}};
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

json::object SnapshotNode(const Vm& vm, const Snapshot& snapshot) {
    json::object node{{"urn", snapshot.urn},
                      {"uri", snapshot.uri},
                      {"name", snapshot.name},
                      {"description", snapshot.description},
                      {"createTime", snapshot.createTime},
                      {"status", snapshot.status},
                      {"type", snapshot.type}};
    json::array children;
    for (const auto& entry : vm.snapshots) {
        if (entry.second.parentUrn == snapshot.urn) children.push_back(SnapshotNode(vm, entry.second));
    }
    node["childSnapshots"] = std::move(children);
    return node;
}

json::object OsVersionObject(const OsVersion& version) {
    return {{"id", version.id},
            {"versionDes", version.versionDes},
            {"cpuQuantityLimit", version.cpuQuantityLimit},
            {"cpuSocketLimit", version.cpuSocketLimit},
            {"memoryQuantityLimit", version.memoryQuantityLimit},
            {"supportMemHotPlug", version.supportMemHotPlug},
            {"supportCpuHotPlug", version.supportCpuHotPlug},
            {"supportDiskHotPlug", true}};
}

}  // namespace

json::object RenderSite(const Site& site) {
    return {{"urn", site.urn}, {"uri", site.uri}, {"name", site.name},     {"ip", site.ip},
            {"isDC", false},   {"isSelf", true},  {"status", site.status}, {"mgntNetworkType", "ipv4"}};
}

json::object RenderFolder(Model& model, const Folder& folder) {
    int children = 0;
    for (const auto& entry : model.folders) {
        if (entry.second.parentObjUrn == folder.urn) ++children;
    }
    return {{"urn", folder.urn},         {"uri", folder.uri},
            {"name", folder.name},       {"description", folder.description},
            {"type", folder.type},       {"parentObjUrn", folder.parentObjUrn},
            {"childFolderNum", children}};
}

json::object RenderCluster(Model& model, const Cluster& cluster) {
    int hosts = 0;
    for (const auto& entry : model.hosts) {
        if (entry.second.clusterUrn == cluster.urn) ++hosts;
    }
    return {{"urn", cluster.urn},
            {"uri", cluster.uri},
            {"name", cluster.name},
            {"description", cluster.description},
            {"tag", cluster.tag},
            {"parentObjUrn", cluster.parentObjUrn},
            {"parentObjName", cluster.parentObjName},
            {"isEnableHa", cluster.haEnabled},
            {"isEnableDrs", cluster.drsEnabled},
            {"isEnableDpm", false},
            {"hostNum", hosts},
            {"params", json::object{{"cpuVirtualizationRatio", "1"}, {"isEnableIOTailor", "false"}}}};
}

json::object RenderHost(Model& model, const Host& host) {
    (void)model;
    return {{"urn", host.urn},
            {"uri", host.uri},
            {"uuid", host.uuid},
            {"name", host.name},
            {"description", host.description},
            {"ip", host.ip},
            {"bmcIp", host.bmcIp},
            {"bmcUserName", ""},
            {"clusterUrn", host.clusterUrn},
            {"clusterName", host.clusterName},
            {"status", host.status},
            {"isMaintaining", host.maintaining},
            {"multiPathMode", "CURRENCY"},
            {"hostMultiPathMode", "CURRENCY"},
            {"cpuQuantity", host.cpuQuantity},
            {"cpuMHz", host.cpuMHz},
            {"physicalCpuQuantity", host.physicalCpuQuantity},
            {"memQuantityMB", host.memTotalMB},
            {"nicNum", host.nicNum},
            {"hostRealName", LowerCase(host.name)},
            {"gpuCapacity", 0},
            {"cpuResource",
             json::object{{"totalSizeMHz", host.cpuMHz * host.cpuQuantity}, {"allocatedSizeMHz", 0}}},
            {"memResource", json::object{{"totalSizeMB", host.memTotalMB},
                                         {"allocatedSizeMB", host.memAllocatedMB},
                                         {"realtimeUsedSizeMB", host.memAllocatedMB / 2}}}};
}

json::object RenderVmDisk(Model& model, const Volume& volume) {
    const Datastore* ds = model.FindDatastore(volume.datastoreUrn);
    return {{"storageType", ds ? ds->storageType : std::string()},
            {"volumeUrn", volume.urn},
            {"volumeUri", volume.uri},
            {"volumeUrl", volume.volumeUrl},
            {"volumeUuid", volume.uuid},
            {"diskName", volume.name},
            {"datastoreUrn", volume.datastoreUrn},
            {"datastoreName", ds ? ds->name : std::string()},
            {"isThin", volume.isThin},
            {"quantityGB", volume.quantityGB},
            {"indepDisk", volume.indepDisk},
            {"persistentDisk", volume.persistentDisk},
            {"sequenceNum", volume.sequenceNum},
            {"pciType", volume.pciType},
            {"busType", LowerCase(volume.pciType)},
            {"volType", volume.volType},
            {"systemVolume", volume.systemVolume},
            {"maxReadBytes", 0},
            {"maxWriteBytes", 0},
            {"maxReadRequest", 0},
            {"maxWriteRequest", 0},
            {"totalRWBytes", 0},
            {"totalRWRequest", 0},
            {"isCoverData", false},
            {"ioMode", "dataplane"}};
}

json::object RenderVolume(Model& model, const Volume& volume) {
    const Datastore* ds = model.FindDatastore(volume.datastoreUrn);
    const Vm* vm = volume.vmUrn.empty() ? nullptr : model.FindVm(volume.vmUrn);
    json::object out{{"urn", volume.urn},
                     {"uri", volume.uri},
                     {"uuid", volume.uuid},
                     {"name", volume.name},
                     {"quantityGB", volume.quantityGB},
                     {"status", volume.status},
                     {"storageType", ds ? ds->storageType : std::string()},
                     {"isThin", volume.isThin},
                     {"type", volume.type},
                     {"datastoreUrn", volume.datastoreUrn},
                     {"datastoreName", ds ? ds->name : std::string()},
                     {"indepDisk", volume.indepDisk},
                     {"persistentDisk", volume.persistentDisk},
                     {"volNameOnDev", "vol-" + volume.uuid},
                     {"volumeUrl", volume.volumeUrl},
                     {"userUsedSize", volume.userUsedSizeMB},
                     {"volType", volume.volType},
                     {"volProvisionSize", volume.quantityGB * 1024LL},
                     {"pciType", volume.pciType},
                     {"sequenceNum", volume.sequenceNum},
                     {"maxReadBytes", 0},
                     {"maxWriteBytes", 0},
                     {"createTime", volume.createTime}};
    if (vm) out["vms"] = json::array{json::object{{"vmUrn", vm->urn}, {"vmName", vm->name}}};
    if (!volume.volCBTCreateTime.empty()) out["volCBTCreateTime"] = volume.volCBTCreateTime;
    return out;
}

json::object RenderNic(Model& model, const Nic& nic) {
    const PortGroup* pg = model.FindPortGroup(nic.portGroupUrn);
    return {{"name", nic.name},
            {"urn", nic.urn},
            {"uri", nic.uri},
            {"portGroupUrn", nic.portGroupUrn},
            {"portGroupName", pg ? pg->name : std::string()},
            {"mac", nic.mac},
            {"ip", nic.ip},
            {"ips6", json::array()},
            {"sequenceNum", nic.sequenceNum},
            {"virtIo", nic.virtIo},
            {"nicType", nic.nicType},
            {"portId", nic.portId},
            {"enableSecurityGroup", false},
            {"nicConfig", json::object{{"vringbuf", 256}, {"queues", 1}}}};
}

json::object RenderVm(Model& model, const Vm& vm, int detail, bool hideTemplateFlag) {
    json::object out{{"urn", vm.urn},       {"uri", vm.uri},
                     {"uuid", vm.uuid},     {"name", vm.name},
                     {"status", vm.status}, {"isTemplate", hideTemplateFlag ? false : vm.isTemplate}};
    if (detail <= 0) return out;
    std::string location = !vm.clusterUrn.empty() ? vm.clusterUrn : vm.hostUrn;
    out["description"] = vm.description;
    out["group"] = nullptr;
    out["location"] = location;
    out["locationName"] =
        !vm.clusterUrn.empty() ? ClusterName(model, vm.clusterUrn) : HostName(model, vm.hostUrn);
    out["hostUrn"] = vm.hostUrn;
    out["hostName"] = HostName(model, vm.hostUrn);
    out["clusterUrn"] = vm.clusterUrn;
    out["clusterName"] = ClusterName(model, vm.clusterUrn);
    out["createTime"] = vm.createTime;
    out["toolsVersion"] = vm.status == "running" ? vm.toolsVersion : std::string();
    out["pvDriverStatus"] = vm.status == "running" ? "running" : "empty";
    out["toolInstallStatus"] = "empty";
    out["cdRomStatus"] = "empty";
    out["isLinkClone"] = false;
    out["isBindingHost"] = false;
    out["vmType"] = 0;
    out["drStatus"] = 9;
    out["objectPrivs"] = json::array();
    json::array nics;
    for (const auto& nic : vm.nics) nics.push_back(RenderNic(model, nic));
    json::object config{{"cpu", Cpu(vm)}, {"memory", Memory(vm)}, {"nics", std::move(nics)}};
    if (detail >= 2) {
        json::array disks;
        for (const Volume* volume : model.VolumesOf(vm)) disks.push_back(RenderVmDisk(model, *volume));
        config["disks"] = std::move(disks);
        config["properties"] = Properties();
        config["usb"] = json::array();
        config["graphicsCard"] = json::object{{"type", "cirrus"}, {"size", 4}};
        out["osOptions"] = OsOptions(vm);
        out["vncAcessInfo"] = json::object{{"hostIp", "192.168.40.10"}, {"vncPort", 5900 + vm.number % 1000}};
        out["minCompatibleimcVersion"] = "6.3.0";
        out["params"] = json::object{{"externalUuid", vm.uuid}};
    }
    out["vmConfig"] = std::move(config);
    return out;
}

json::object RenderDatastore(Model& model, const Datastore& ds) {
    json::array hosts;
    for (const auto& urn : ds.hostUrns) hosts.push_back(json::value(urn));
    json::array units;
    std::string suUrn, suName;
    for (const auto& urn : ds.storageUnitUrns) {
        const StorageUnit* unit = model.FindStorageUnit(urn);
        if (!unit) continue;
        if (suUrn.empty()) {
            suUrn = unit->urn;
            suName = unit->name;
        }
        units.push_back(json::object{{"urn", unit->urn}, {"sdName", unit->sdName}, {"suName", unit->name}});
    }
    return {{"urn", ds.urn},
            {"uri", ds.uri},
            {"name", ds.name},
            {"description", ds.description},
            {"status", ds.status},
            {"storageType", ds.storageType},
            {"isThin", ds.isThin},
            {"capacityGB", ds.capacityGB},
            {"usedSizeGB", ds.usedSizeGB},
            {"freeSizeGB", ds.capacityGB - ds.usedSizeGB},
            {"actualCapacityGB", ds.capacityGB},
            {"actualFreeSizeGB", ds.capacityGB - ds.usedSizeGB},
            {"refreshTime", ds.refreshTime},
            {"hosts", std::move(hosts)},
            {"clusterSize", ds.clusterSize},
            {"suUrn", suUrn},
            {"suName", suName},
            {"storageUnits", std::move(units)},
            {"siocFlag", false},
            {"thinRate", 100},
            {"storageBackendType", ds.storageType == "LOCAL" ? "local" : "shared"}};
}

json::object RenderStorageUnit(Model& model, const StorageUnit& unit) {
    bool used = std::any_of(model.datastores.begin(), model.datastores.end(), [&](const auto& entry) {
        const auto& urns = entry.second.storageUnitUrns;
        return std::find(urns.begin(), urns.end(), unit.urn) != urns.end();
    });
    return {{"urn", unit.urn},       {"uri", unit.uri},
            {"name", unit.name},     {"status", unit.status},
            {"type", unit.type},     {"capacityGB", unit.capacityGB},
            {"isThin", unit.isThin}, {"wwn", unit.wwn},
            {"sdName", unit.sdName}, {"useState", used ? 1 : 0},
            {"deviceType", 0},       {"storageUnitType", unit.type == "LOCAL" ? "local" : "san"}};
}

json::object RenderStorageResource(const StorageResource& r) {
    return {{"urn", r.urn},
            {"uri", r.uri},
            {"name", r.name},
            {"storageType", r.storageType},
            {"deviceType", r.deviceType},
            {"managementIp", r.managementIp},
            {"managementPort", r.managementPort},
            {"iSCSITargetIQN", r.iSCSITargetIQN},
            {"vender", r.vender},
            {"status", r.status},
            {"storageIpList", json::array{json::value(r.managementIp)}}};
}

json::object RenderDvSwitch(const DvSwitch& sw) {
    return {{"urn", sw.urn},
            {"uri", sw.uri},
            {"name", sw.name},
            {"description", sw.description},
            {"type", sw.type},
            {"portGroupNum", static_cast<int>(sw.portGroups.size())},
            {"isIgmpSnooping", sw.isIgmpSnooping},
            {"mtu", sw.mtu},
            {"vlanPoolSet", json::array{json::object{{"startVlanId", 1}, {"endVlanId", 4094}}}}};
}

json::object RenderPortGroup(const DvSwitch& sw, const PortGroup& pg) {
    json::object out{{"urn", pg.urn},
                     {"uri", pg.uri},
                     {"name", pg.name},
                     {"description", pg.description},
                     {"dvSwitchUrn", sw.urn},
                     {"subnetUrn", pg.subnetUrn},
                     {"portType", pg.portType},
                     {"vlanId", pg.vlanId},
                     {"vxlanId", pg.vxlanId},
                     {"adminStatus", pg.adminStatus},
                     {"txLimit", pg.txLimit},
                     {"txPeakLimit", pg.txPeakLimit},
                     {"txBurstSize", pg.txBurstSize},
                     {"txWeight", pg.txWeight},
                     {"rxLimit", pg.rxLimit},
                     {"rxPeakLimit", pg.rxPeakLimit},
                     {"rxBurstSize", pg.rxBurstSize},
                     {"rxWeight", pg.rxWeight},
                     {"priority", pg.priority},
                     {"isDhcpIsolation", pg.isDhcpIsolation},
                     {"isIpMacBind", pg.isIpMacBind},
                     {"vspNum", pg.vspNum},
                     {"arpBcstSuppress", pg.arpBcstSuppress},
                     {"ipBcstSuppress", pg.ipBcstSuppress},
                     {"isCalcTCPCheckSum", false}};
    if (!pg.vlanRange.empty()) out["vlanRange"] = pg.vlanRange;
    if (!pg.multicastIp.empty()) out["multicastIp"] = pg.multicastIp;
    return out;
}

json::object RenderSnapshotTree(const Vm& vm) {
    json::object out;
    auto current = std::find_if(vm.snapshots.begin(), vm.snapshots.end(),
                                [&](const auto& entry) { return entry.second.urn == vm.currentSnapshotUrn; });
    if (current != vm.snapshots.end()) {
        const Snapshot& s = current->second;
        out["currentSnapshot"] = json::object{{"urn", s.urn},
                                              {"uri", s.uri},
                                              {"name", s.name},
                                              {"description", s.description},
                                              {"createTime", s.createTime},
                                              {"status", s.status},
                                              {"type", s.type}};
    }
    json::array roots;
    for (const auto& entry : vm.snapshots) {
        if (entry.second.parentUrn.empty()) roots.push_back(SnapshotNode(vm, entry.second));
    }
    out["rootSnapshots"] = std::move(roots);
    return out;
}

json::object RenderSnapshot(const Vm& vm, const Snapshot& s) {
    json::array volsnapshots;
    for (const auto& v : s.volsnapshots) {
        volsnapshots.push_back(json::object{{"volumeUri", v.volumeUri},
                                            {"volumeUrn", v.volumeUrn},
                                            {"datastoreUrn", v.datastoreUrn},
                                            {"volCBTCreateTime", TextOrNull(v.volCBTCreateTime)},
                                            {"chgID", TextOrNull(v.chgID)},
                                            {"snapUuid", v.snapUuid},
                                            {"snapSize", 0}});
    }
    return {{"urn", s.urn},
            {"uri", s.uri},
            {"name", s.name},
            {"description", s.description},
            {"createTime", s.createTime},
            {"status", s.status},
            {"type", s.type},
            {"includingMemorySnapshot", s.includingMemorySnapshot},
            {"isConsistent", s.isConsistent},
            {"parentUrn", TextOrNull(s.parentUrn)},
            {"vmUrn", vm.urn},
            {"volsnapshots", std::move(volsnapshots)}};
}

json::object RenderTask(const Task& t) {
    return {{"urn", t.urn},
            {"uri", t.uri},
            {"type", t.type},
            {"status", t.status},
            {"progress", t.progress},
            {"reason", TextOrNull(t.reason)},
            {"reasonDes", TextOrNull(t.reasonDes)},
            {"entityUrn", t.entityUrn},
            {"entityUri", t.entityUri},
            {"startTime", t.startTime},
            {"finishTime", TextOrNull(t.finishTime)},
            {"canceled", t.canceled},
            {"cancelable", t.cancelable},
            {"userName", t.userName},
            {"mainTask", true}};
}

json::object RenderBackupResource(const BackupResource& r) {
    return {{"taskUri", r.taskUri},
            {"taskUrn", r.taskUrn},
            {"resourceUrl", r.resourceUrl},
            {"hostIP", r.hostIP},
            {"hostPort", r.hostPort},
            {"targetFile", r.targetFile},
            {"token", r.token},
            {"caCert", r.caCert},
            {"status", r.status},
            {"reason", TextOrNull(r.reason)},
            {"reasonDes", TextOrNull(r.reasonDes)},
            {"runningTime", r.runningTime},
            {"taskType", r.taskType},
            {"transMode", r.transMode},
            {"delay", r.delay}};
}

json::object RenderOsCatalogue(const OsCatalogue& catalogue) {
    auto list = [](const std::vector<OsVersion>& versions) {
        json::array out;
        for (const auto& version : versions) out.push_back(OsVersionObject(version));
        return out;
    };
    return {{"windows", list(catalogue.windows)},
            {"linux", list(catalogue.linux)},
            {"other", list(catalogue.other)}};
}

}  // namespace vrmsim
