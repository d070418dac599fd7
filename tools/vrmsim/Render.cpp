#include "Render.h"

#include <boost/json/array.hpp>
#include <boost/json/value.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>

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
    return {{"coresPerSocket", vm.coresPerSocket},
            {"cpuBindType", "nobind"},
            {"cpuHotPlug", 0},
            {"cpuPolicy", "shared"},
            {"cpuThreadPolicy", "prefer"},
            {"hyperThreading", false},
            {"isCpuClusterBind", false},
            {"limit", 0},
            {"numaBinds", json::array()},
            {"quantity", vm.cpuQuantity},
            {"reservation", 0},
            {"weight", 1000 * vm.cpuQuantity}};
}

json::object Memory(const Vm& vm) {
    return {{"hugePage", "4K"},          {"limit", 0},       {"memHotPlug", 0},
            {"quantityMB", vm.memoryMB}, {"reservation", 0}, {"weight", vm.memoryMB * 10}};
}

json::object OsOptions(const Vm& vm) {
    json::object os{
        {"hostname", vm.name}, {"osType", vm.osType}, {"osVersion", vm.osVersion}, {"password", ""}};
    // Some seeded VMs leave the name out so that clients name them from the catalogue.
    if (!vm.guestOSName.empty()) os["guestOSName"] = vm.guestOSName;
    return os;
}

/// The configuration the VM takes at its next reboot: the same sizes, nothing pending.
json::object RebootConfig(const Vm& vm) {
    return {
        {"cpu", json::object{{"coresPerSocket", vm.coresPerSocket},
                             {"limit", 0},
                             {"quantity", vm.cpuQuantity},
                             {"reservation", 0},
                             {"weight", 1000 * vm.cpuQuantity}}},
        {"memory",
         json::object{
             {"limit", 0}, {"quantityMB", vm.memoryMB}, {"reservation", 0}, {"weight", vm.memoryMB * 10}}}};
}

json::object Properties() {
    return {{"antivirusMode", ""},
            {"attachType", false},
            {"bootFirmware", "BIOS"},
            {"bootFirmwareTime", 0},
            {"bootOption", "disk"},
            {"cdRomBootOrder", -1},
            {"clockMode", "synchClock"},
            {"consolelog", 1},
            {"dpiVmType", ""},
            {"emulatorPin", json::array()},
            {"enableKae", false},
            {"enableSpice", false},
            {"enableWatchDog", false},
            {"evsAffinity", false},
            {"gpuShareType", "normal"},
            {"isAutoAdjustNuma", false},
            {"isAutoUpgrade", true},
            {"isEnableFt", false},
            {"isEnableMemVol", false},
            {"isHpet", false},
            {"isReserveResource", false},
            {"isSecureBoot", false},
            {"migrateSetting", "passThrough"},
            {"numaAffinity", json::array()},
            {"realtime", false},
            {"reoverByHost", false},
            {"secureVmType", ""},
            {"systemArchitecture", "SMP"},
            {"useLatestQemuVersion", 0},
            {"vmFaultProcess", "notprocess"},
            {"vmVncKeymapSetting", 7}};
}

/// Milliseconds since 1970 of a time stamp in seconds, as the VRM's "local" task times carry them.
std::int64_t Millis(std::int64_t seconds) {
    return seconds * 1000;
}

/// A request identifier in UUID form, the same for the same task.
std::string RequestId(long taskId) {
    char text[40];
    std::snprintf(text, sizeof text, "5eb1c0de-0000-4000-8000-%012ld", taskId % 1000000000000L);
    return text;
}

/// Privileges the VRM lists for the logged-in user on a VM: decimal numbers as text.
json::array ObjectPrivileges() {
    json::array privileges;
    for (const char* id : {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"})
        privileges.push_back(json::value(id));
    return privileges;
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

/// What a snapshot shows of itself wherever it appears: in the tree, as the current one and read alone.
json::object SnapshotSummary(const Snapshot& snapshot) {
    return {{"urn", snapshot.urn},
            {"uri", snapshot.uri},
            {"name", snapshot.name},
            {"description", snapshot.description},
            {"createTime", snapshot.createTime},
            {"status", snapshot.status},
            {"type", snapshot.type}};
}

json::object SnapshotNode(const Vm& vm, const Snapshot& snapshot) {
    json::object node = SnapshotSummary(snapshot);
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
    std::int64_t cpuMHz = 0, memMB = 0, allocatedMB = 0;
    for (const auto& entry : model.hosts) {
        const Host& host = entry.second;
        if (host.clusterUrn != cluster.urn) continue;
        cpuMHz += static_cast<std::int64_t>(host.cpuMHz) * host.cpuQuantity;
        memMB += host.memTotalMB;
        allocatedMB += host.memAllocatedMB;
    }
    // Neither the parent nor a description: a VRM's cluster list carries neither.
    return {{"arch", "x86"},
            {"cpuResource", json::object{{"allocatedSizeMHz", 0}, {"totalSizeMHz", cpuMHz}}},
            {"cpuVendor", "GenuineIntel"},
            {"isAutoAdjustNuma", false},
            {"isEnableDrs", cluster.drsEnabled},
            {"isEnableHa", cluster.haEnabled},
            {"memResource", json::object{{"allocatedSizeMB", allocatedMB},
                                         {"memTotalSizeMB", memMB},
                                         {"memUsedSizeMB", allocatedMB / 2},
                                         {"realtimeUsedSizeMB", allocatedMB / 2},
                                         {"totalSizeMB", memMB}}},
            {"name", cluster.name},
            {"osVendor", "openEuler"},
            {"tag", cluster.tag},
            {"uri", cluster.uri},
            {"urn", cluster.urn}};
}

json::object RenderHost(Model& model, const Host& host) {
    int vmCount = 0;
    for (const auto& entry : model.vms) vmCount += entry.second.hostUrn == host.urn;
    const std::int64_t totalMHz = static_cast<std::int64_t>(host.cpuMHz) * host.cpuQuantity;
    return {{"arch", "x86"},
            {"attachedISOVMs", json::array()},
            {"bmcIp", host.bmcIp},
            {"bmcUserName", "root"},
            {"clusterEnableIOTailor", false},
            {"clusterName", host.clusterName},
            {"clusterUrn", host.clusterUrn},
            {"computeResourceStatics", host.uri + "/computeResourceStatics"},
            {"cpuMHz", host.cpuMHz},
            {"cpuMuxRatio", "1.0"},
            {"cpuOverCommitmentRatio", 100},
            {"cpuQuantity", host.cpuQuantity},
            {"cpuResource", json::object{{"allocatedSizeMHz", 0},
                                         {"emulatorCPUs", ""},
                                         {"hostTotalSizeMHz", totalMHz},
                                         {"ioStackCPUs", ""},
                                         {"ioStackVhostCPUs", ""},
                                         {"manageCPUs", "0,1"},
                                         {"totalSizeMHz", totalMHz}}},
            {"cpuTotalCores", host.cpuQuantity},
            {"cpuUsage", "3.5"},
            {"cpuUsedCores", 0},
            {"cpuVendor", "GenuineIntel"},
            {"description", host.description},
            {"gdvmMemoryReboot", 0},
            {"gpuCapacity", 0},
            {"gpuCapacityReboot", 0},
            {"gsvmMemoryReboot", 0},
            {"hostMultiPathMode", "CURRENCY"},
            {"hostRealName", LowerCase(host.name)},
            {"ip", host.ip},
            {"isFailOverHost", false},
            {"isMaintaining", host.maintaining},
            {"logicDiskUsage", "12.0"},
            {"maxImcSetting", "Default"},
            {"memMaxMuxRatio", "1.0"},
            {"memMuxRatio", "1.0"},
            {"memQuantityMB", host.memTotalMB},
            {"memResource", json::object{{"allocatedSizeMB", host.memAllocatedMB},
                                         {"hostTotalSizeMB", host.memTotalMB},
                                         {"realtimeUsedSizeMB", host.memAllocatedMB / 2},
                                         {"totalSizeMB", host.memTotalMB}}},
            {"memTotalSizeMB", host.memTotalMB},
            {"memUsage", "25.0"},
            {"memUsedSizeMB", host.memAllocatedMB / 2},
            {"memoryOverCommitmentRatio", 100},
            {"multiPathMode", "CURRENCY"},
            {"name", host.name},
            {"nicQuantity", host.nicNum},
            {"ntpCycle", 6},
            {"ntpIp1", "192.168.40.1"},
            {"ntpIp2", ""},
            {"ntpIp3", ""},
            {"osVendor", "openEuler"},
            {"physicalCpuQuantity", host.physicalCpuQuantity},
            {"runningTime", 864000},
            {"status", host.status},
            {"stealTaskFlag", false},
            {"uri", host.uri},
            {"urn", host.urn},
            {"uuid", host.uuid},
            {"version", "8.9.0"},
            {"vmCount", vmCount},
            {"xcopyFlag", 0}};
}

json::object RenderVmDisk(Model& model, const Volume& volume) {
    const Datastore* ds = model.FindDatastore(volume.datastoreUrn);
    // The VM's view of a volume: no link of its own (clients make it from "volumeUrn") and no usage.
    return {{"accessMode", 0},
            {"bootOrder", volume.systemVolume ? 1 : -1},
            {"cacheMode", "none"},
            {"dataCopy", false},
            {"datastoreName", ds ? ds->name : std::string()},
            {"datastoreUrn", volume.datastoreUrn},
            {"devName", std::string(volume.pciType == "SCSI" ? "sd" : "vd") +
                            static_cast<char>('a' + std::clamp(volume.sequenceNum - 1, 0, 25))},
            {"diskName", volume.name},
            {"encrypted", "0"},
            {"encryptedType", 0},
            {"indepDisk", volume.indepDisk},
            {"ioMode", "dataplane"},
            {"ioWeight", 0},
            {"isDataCopy", false},
            {"isThin", volume.isThin},
            {"maxReadBytes", 0},
            {"maxReadRequest", 0},
            {"maxWriteBytes", 0},
            {"maxWriteRequest", 0},
            {"originVolumeFormat", "raw"},
            {"pciType", volume.pciType},
            {"persistentDisk", volume.persistentDisk},
            {"quantityGB", volume.quantityGB},
            {"sequenceNum", volume.sequenceNum},
            {"storageProtocol", "0"},
            {"storageType", ds ? ds->storageType : std::string()},
            {"systemVolume", volume.systemVolume},
            {"thin", volume.isThin},
            {"totalRWBytes", 0},
            {"totalRWRequest", 0},
            {"type", volume.type},
            {"volType", volume.volType},
            {"volumeAttachStatus", "attached"},
            {"volumeFormat", "raw"},
            {"volumeUrl", volume.volumeUrl},
            {"volumeUrn", volume.urn},
            {"volumeUseType", "NORMAL_VOL"},
            {"volumeUuid", volume.uuid}};
}

json::object RenderVolume(Model& model, const Volume& volume) {
    const Datastore* ds = model.FindDatastore(volume.datastoreUrn);
    json::object out{{"customProperties", json::object()},
                     {"datastoreName", ds ? ds->name : std::string()},
                     {"datastoreUrn", volume.datastoreUrn},
                     {"drExtParams", ""},
                     {"encrypted", "0"},
                     {"indepDisk", volume.indepDisk},
                     {"ioWeight", 0},
                     {"isDiffVol", false},
                     {"isThin", volume.isThin},
                     {"lunId", std::to_string(volume.id)},
                     {"maxReadBytes", 0},
                     {"maxReadRequest", 0},
                     {"maxWriteBytes", 0},
                     {"maxWriteRequest", 0},
                     {"name", volume.name},
                     {"pciType", volume.pciType},
                     {"persistentDisk", volume.persistentDisk},
                     {"pvscsiSupport", 0},
                     {"quantityGB", volume.quantityGB},
                     {"siocFlag", 0},
                     {"srcVolumeUrn", "null"},
                     {"status", volume.status},
                     {"storageProtocol", "0"},
                     {"storageSN", "2102351QLH10K" + std::to_string(100000 + volume.id % 100000)},
                     {"storageType", ds ? ds->storageType : std::string()},
                     {"storageVersion", "V300R006C50"},
                     {"totalRWBytes", 0},
                     {"totalRWRequest", 0},
                     {"type", volume.type},
                     {"uri", volume.uri},
                     {"urn", volume.urn},
                     {"userUsedSize", volume.userUsedSizeMB},
                     {"uuid", volume.uuid},
                     {"volNameOnDev", "vol-" + volume.uuid},
                     {"volProvisionSize", volume.quantityGB * 1024LL},
                     {"volType", volume.volType},
                     {"volumeFormat", "raw"},
                     {"volumeUrl", volume.volumeUrl},
                     {"volumeUseType", 0}};
    if (!volume.volCBTCreateTime.empty()) out["volCBTCreateTime"] = volume.volCBTCreateTime;
    return out;
}

json::object RenderNic(Model& model, const Nic& nic) {
    const PortGroup* pg = model.FindPortGroup(nic.portGroupUrn);
    return {{"bootOrder", -1},
            {"connectAtPowerOn", true},
            {"enableSecurityGroup", false},
            {"ip", nic.ip},
            {"ipList", nic.ip},
            {"ips6", json::array()},
            {"linkStatus", "connected"},
            {"mac", nic.mac},
            {"name", nic.name},
            {"nicConfig", json::object{{"pollUs", 0}, {"queues", 1}, {"vringbuf", 256}}},
            {"nicType", nic.nicType},
            {"portGroupName", pg ? pg->name : std::string()},
            {"portGroupUrn", nic.portGroupUrn},
            {"portId", nic.portId},
            {"securityGroupName", ""},
            {"sequenceNum", nic.sequenceNum},
            {"status", "connect"},
            {"uri", nic.uri},
            {"urn", nic.urn},
            {"virtIo", nic.virtIo}};
}

namespace {

/// A NIC as a VM list entry carries it: addresses and slot only, no port group.
json::object NicSummary(const Nic& nic) {
    return {{"ip", nic.ip},
            {"ipList", nic.ip},
            {"ips6", json::array()},
            {"mac", nic.mac},
            {"sequenceNum", nic.sequenceNum}};
}

}  // namespace

json::object RenderVm(Model& model, const Vm& vm, int detail, bool hideTemplateFlag) {
    const bool isTemplate = hideTemplateFlag ? false : vm.isTemplate;
    if (detail <= 0) {
        return {{"urn", vm.urn},   {"uri", vm.uri},       {"uuid", vm.uuid},
                {"name", vm.name}, {"status", vm.status}, {"isTemplate", isTemplate}};
    }
    const bool running = vm.status == "running";
    // Templates run nowhere: their host fields are empty.
    const std::string hostUrn = vm.isTemplate ? std::string() : vm.hostUrn;
    const std::string location = !vm.clusterUrn.empty() ? vm.clusterUrn : vm.hostUrn;
    json::object out;
    if (detail >= 2) out["additionalStatus"] = json::array();
    out["arch"] = "x86";
    if (detail >= 2) out["attachAtPowerOn"] = false;
    out["cdRomStatus"] = "empty";
    out["clusterName"] = ClusterName(model, vm.clusterUrn);
    out["clusterUrn"] = vm.clusterUrn;
    out["createTime"] = vm.createTime;
    if (detail == 1) out["createTimeUTC"] = vm.createTime;
    if (detail >= 2) {
        out["customProperties"] = json::object();
        json::array datastores;
        for (const Volume* volume : model.VolumesOf(vm)) {
            if (std::find(datastores.begin(), datastores.end(), json::value(volume->datastoreUrn)) ==
                datastores.end())
                datastores.push_back(json::value(volume->datastoreUrn));
        }
        out["dataStoreUrns"] = std::move(datastores);
    }
    out["description"] = vm.description;
    out["drStatus"] = 9;
    if (detail >= 2) {
        out["floppyStatus"] = "empty";
        out["haConfig"] = json::object{{"hostFaultPolicy", 0}, {"vmFaultPolicy", 0}};
    }
    out["hostName"] = HostName(model, hostUrn);
    out["hostUrn"] = hostUrn;
    if (detail == 1) out["hugePage"] = "4K";
    out["idle"] = 0;
    out["initSyncStatus"] = 0;
    out["isBindingHost"] = false;
    if (detail >= 2) {
        out["isEnableCdp"] = false;
        out["isEnableIntegrity"] = false;
    }
    out["isLinkClone"] = false;
    if (detail >= 2) out["isMultiDiskSpeedup"] = false;
    out["isTemplate"] = isTemplate;
    out["location"] = location;
    out["locationName"] =
        !vm.clusterUrn.empty() ? ClusterName(model, vm.clusterUrn) : HostName(model, vm.hostUrn);
    if (!vm.isTemplate) out["minCompatibleimcSetting"] = "Default";
    out["name"] = vm.name;
    if (detail >= 2) out["needMergeSnapshot"] = false;
    out["objectPrivs"] = vm.isTemplate ? json::array() : ObjectPrivileges();
    if (detail >= 2) out["osOptions"] = OsOptions(vm);
    if (detail == 1) {
        out["params"] = json::object{{"snapshotNum", std::to_string(vm.snapshots.size())}};
    } else {
        out["params"] = json::object{{"PCI_IB_CARD", "0"}, {"vmSubStatus", "0"}};
    }
    out["pvDriverStatus"] = running ? "running" : "notRunning";
    out["rpoStatus"] = 0;
    if (detail >= 2) out["runningTime"] = running ? 3600 : 0;
    out["status"] = vm.status;
    out["toolInstallStatus"] = "empty";
    if (!vm.isTemplate) out["toolsVersion"] = running ? vm.toolsVersion : std::string();
    out["uri"] = vm.uri;
    out["urn"] = vm.urn;
    out["uuid"] = vm.uuid;

    json::object config;
    json::array nics;
    if (detail >= 2) {
        config["cpu"] = Cpu(vm);
        json::array disks;
        for (const Volume* volume : model.VolumesOf(vm)) disks.push_back(RenderVmDisk(model, *volume));
        config["disks"] = std::move(disks);
        config["graphicsCard"] = json::object{{"size", 4}, {"type", "cirrus"}};
        config["memory"] = Memory(vm);
        for (const auto& nic : vm.nics) nics.push_back(RenderNic(model, nic));
    } else {
        for (const auto& nic : vm.nics) nics.push_back(NicSummary(nic));
    }
    config["nics"] = std::move(nics);
    config["numaNodes"] = 0;
    if (detail >= 2) {
        config["pcis"] = json::array();
        config["properties"] = Properties();
        config["usb"] = json::array{json::object{{"controllerType", "xHCI"}, {"device", json::array()}}};
    } else {
        config["properties"] = json::object{{"dpiVmType", ""}, {"secureVmType", ""}};
    }
    config["vtpm"] = json::object();
    out["vmConfig"] = std::move(config);
    if (detail >= 2) out["vmRebootConfig"] = RebootConfig(vm);
    out["vmType"] = 0;
    if (detail >= 2) {
        const Host* host = model.FindHost(vm.hostUrn);
        out["vncAcessInfo"] = json::object{{"hostIp", host ? host->ip : std::string("0.0.0.0")},
                                           {"vncPassword", ""},
                                           {"vncPort", 5900 + vm.number % 1000},
                                           {"vncUserName", "vnc"}};
    }
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
        units.push_back(json::object{
            {"sdName", unit->sdName}, {"suName", unit->name}, {"type", ds.storageType}, {"urn", unit->urn}});
    }
    // Hosts reach SAN storage over iSCSI; the entry's "urn" is a number as text on a VRM.
    json::array protocols;
    if (ds.storageType == "advanceSan")
        protocols.push_back(json::object{{"accessProtocol", "iSCSI"}, {"urn", std::to_string(ds.id)}});
    return {{"actualCapacityGB", ds.capacityGB},
            {"actualFreeSizeGB", ds.capacityGB - ds.usedSizeGB},
            {"capacityGB", ds.capacityGB},
            {"description", ds.description},
            {"dsLockType", 0},
            {"freeSizeGB", ds.capacityGB - ds.usedSizeGB},
            {"hostConnectProtocols", std::move(protocols)},
            {"hosts", std::move(hosts)},
            {"isThin", ds.isThin},
            {"name", ds.name},
            {"refreshTime", ds.refreshTime},
            {"status", ds.status},
            {"storageType", ds.storageType},
            {"storageUnits", std::move(units)},
            {"suIdList", json::array()},
            {"suName", suName},
            {"suUrn", suUrn},
            {"thinRate", 100},
            {"tierSize", json::array{json::value(0), json::value(ds.capacityGB), json::value(0)}},
            {"uri", ds.uri},
            {"urn", ds.urn},
            {"usedSizeGB", ds.usedSizeGB},
            {"version", "1"}};
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
    return {{"description", sw.description},
            {"isIgmpSnooping", sw.isIgmpSnooping},
            {"mtu", sw.mtu},
            {"name", sw.name},
            {"portGroupNum", static_cast<int>(sw.portGroups.size())},
            {"qosType", 0},
            {"type", sw.type},
            {"uri", sw.uri},
            {"urn", sw.urn}};
}

json::object RenderPortGroup(const DvSwitch& sw, const PortGroup& pg) {
    (void)sw;
    return {{"description", pg.description},
            {"forgedTransmit", 0},
            {"ipBcstSuppress", pg.ipBcstSuppress},
            {"isCalcTCPCheckSum", false},
            {"isDhcpIsolation", pg.isDhcpIsolation},
            {"isIpMacBind", pg.isIpMacBind},
            {"isQinQEnable", false},
            {"macChange", 0},
            {"name", pg.name},
            {"portType", pg.portType},
            {"priority", pg.priority},
            {"rxBurstSize", pg.rxBurstSize},
            {"rxLimit", pg.rxLimit},
            {"rxPeakLimit", pg.rxPeakLimit},
            {"txBurstSize", pg.txBurstSize},
            {"txLimit", pg.txLimit},
            {"txPeakLimit", pg.txPeakLimit},
            {"txWeight", pg.txWeight},
            {"uri", pg.uri},
            {"urn", pg.urn},
            {"vlanId", pg.vlanId},
            {"vlanType", pg.vlanRange.empty() ? 0 : 1}};
}

json::object RenderSnapshotTree(const Vm& vm) {
    json::object out;
    auto current = std::find_if(vm.snapshots.begin(), vm.snapshots.end(),
                                [&](const auto& entry) { return entry.second.urn == vm.currentSnapshotUrn; });
    if (current != vm.snapshots.end()) out["currentSnapshot"] = SnapshotSummary(current->second);
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
    json::object out = SnapshotSummary(s);
    out["includingMemorySnapshot"] = s.includingMemorySnapshot;
    out["isConsistent"] = s.isConsistent;
    out["parentUrn"] = TextOrNull(s.parentUrn);
    out["vmUrn"] = vm.urn;
    out["volsnapshots"] = std::move(volsnapshots);
    return out;
}

json::object RenderTask(Model& model, const Task& t, bool listEntry) {
    const bool finished = t.status == "success" || t.status == "failed";
    std::string entityName;
    if (const Vm* vm = model.FindVm(t.entityUrn)) {
        entityName = vm->name;
    } else if (const Volume* volume = model.FindVolume(t.entityUrn)) {
        entityName = volume->name;
    }
    json::object out{{"cancelable", t.cancelable},
                     {"cancelled", t.canceled},
                     {"costTime", finished ? std::to_string(Millis(t.finishSeconds - t.startSeconds))
                                           : std::string("null")},
                     {"entityName", entityName},
                     {"entityUrn", t.entityUrn}};
    if (finished && !listEntry) out["finishTime"] = t.finishTime;
    out["isRetry"] = false;
    out["isRollback"] = false;
    out["localFinishTime"] = finished ? Millis(t.finishSeconds) : 0;
    out["localStartTime"] = Millis(t.startSeconds);
    out["progress"] = t.progress;
    // Only a failed task says why.
    if (t.status == "failed") {
        out["reason"] = t.reason;
        out["reasonDes"] = t.reasonDes;
    }
    out["relateTaskIds"] = json::array();
    out["requestId"] = RequestId(t.id);
    out["startTime"] = t.startTime;
    out["status"] = t.status;
    out["taskFrom"] = 0;
    if (listEntry) {
        out["taskId"] = std::to_string(t.id);
    } else {
        out["taskType"] = t.type;
    }
    out["type"] = t.type;
    out["uri"] = t.uri;
    out["urn"] = t.urn;
    out["user"] = t.userName;
    return out;
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
