#include "RecordJson.h"

namespace FusionComputeSDKWrapper {

namespace {

namespace json = boost::json;

using Members = std::initializer_list<std::pair<json::string_view, json::value_ref>>;

// The members of the base record (name, URN, URI, description) followed by `members`.
json::object WithBase(const SBaseInfoLib& base, Members members) {
    json::object object{
        {"name", base.name}, {"urn", base.urn}, {"uri", base.uri}, {"description", base.description}};
    object.insert(members);
    return object;
}

}  // namespace

void tag_invoke(const json::value_from_tag&, json::value& jv, const SSiteInfoLib& site) {
    jv = WithBase(site, {{"clusters", json::value_from(site.clusters)}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SClusterInfoLib& cluster) {
    jv = WithBase(cluster, {{"parentObjUrn", cluster.parentObjUrn},
                            {"parentObjName", cluster.parentObjName},
                            {"hosts", json::value_from(cluster.hosts)},
                            {"vms", json::value_from(cluster.vms)}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SHostInfoLib& host) {
    jv = WithBase(host, {{"status", host.status},
                         {"ip", host.ip},
                         {"clusterName", host.clusterName},
                         {"clusterUrn", host.clusterUrn},
                         {"cpuMHz", host.cpuMHz},
                         {"cpuQuantity", host.cpuQuantity},
                         {"totalSizeMB", host.totalSizeMB},
                         {"allocatedSizeMB", host.allocatedSizeMB},
                         {"vms", json::value_from(host.vms)},
                         {"datastores", json::value_from(host.datastores)},
                         {"storageDevices", json::value_from(host.storageDevices)},
                         {"networks", json::value_from(host.networks)}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SVMInfoLib& vm) {
    jv = WithBase(vm, {{"status", vm.status},
                       {"uuid", vm.uuid},
                       {"hostName", vm.hostName},
                       {"hostUrn", vm.hostUrn},
                       {"clusterName", vm.clusterName},
                       {"clusterUrn", vm.clusterUrn},
                       {"osType", vm.osType},
                       {"osVersion", vm.osVersion},
                       {"guestOSName", vm.guestOSName},
                       {"toolsVersion", vm.toolsVersion},
                       {"isTemplate", vm.isTemplate},
                       {"disks", json::value_from(vm.disks)},
                       {"nics", json::value_from(vm.nics)},
                       {"snapshots", json::value_from(vm.snapshots)}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SDiskInfoLib& disk) {
    jv = WithBase(disk, {{"uuid", disk.uuid},
                         {"volumeUrl", disk.volumeUrl},
                         {"quantityGB", disk.quantityGB},
                         {"userUsedSize", disk.userUsedSize},
                         {"datastoreName", disk.datastoreName},
                         {"datastoreUrn", disk.datastoreUrn},
                         {"pciType", disk.pciType},
                         {"sequenceNum", disk.sequenceNum},
                         {"volType", disk.volType},
                         {"isThin", disk.isThin},
                         {"persistentDisk", disk.persistentDisk},
                         {"indepDisk", disk.indepDisk}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SVMNetworkCardInfoLib& nic) {
    jv = WithBase(nic, {{"nicType", nic.nicType},
                        {"sequenceNum", nic.sequenceNum},
                        {"portGroupName", nic.portGroupName},
                        {"portGroupUrn", nic.portGroupUrn},
                        {"portId", nic.portId},
                        {"ip", nic.ip},
                        {"mac", nic.mac},
                        {"dvSwitchName", nic.dvSwitchName},
                        {"dvSwitchUrn", nic.dvSwitchUrn},
                        {"virtIo", nic.virtIo}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SSnapshotInfoLib& snapshot) {
    jv = WithBase(snapshot, {{"createTime", snapshot.createTime},
                             {"status", snapshot.status},
                             {"includingMemorySnapshot", snapshot.includingMemorySnapshot},
                             {"volsnapshots", json::value_from(snapshot.volsnapshots)}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SDiskSnapshotInfoLib& diskSnapshot) {
    jv = json::object{{"volumeUri", diskSnapshot.volumeUri},
                      {"volumeUrn", diskSnapshot.volumeUrn},
                      {"datastoreUrn", diskSnapshot.datastoreUrn},
                      {"volCBTCreateTime", diskSnapshot.volCBTCreateTime},
                      {"chgID", diskSnapshot.chgID},
                      {"snapUuid", diskSnapshot.snapUuid}};
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SDataStoreInfoLib& datastore) {
    jv = WithBase(datastore, {{"status", datastore.status},
                              {"storageType", datastore.storageType},
                              {"isThin", datastore.isThin},
                              {"capacityGB", datastore.capacityGB},
                              {"usedSizeGB", datastore.usedSizeGB},
                              {"freeSizeGB", datastore.freeSizeGB},
                              {"hosts", json::value_from(datastore.hosts)},
                              {"storageUnits", json::value_from(datastore.storageUnits)},
                              {"storageResource", json::value_from(datastore.storageResource)},
                              {"suUrn", datastore.suUrn},
                              {"suName", datastore.suName},
                              {"clusterSize", datastore.clusterSize},
                              {"vms", json::value_from(datastore.vms)}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SStorageUnitInfoLib& unit) {
    jv = json::object{{"urn", unit.urn}, {"sdName", unit.sdName}, {"suName", unit.suName}};
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SStorageDeviceInfoLib& device) {
    jv = WithBase(device, {{"status", device.status},
                           {"type", device.type},
                           {"capacityGB", device.capacityGB},
                           {"wwn", device.wwn},
                           {"isThin", device.isThin}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SStorageResourceInfoLib& resource) {
    jv = WithBase(resource, {{"storageType", resource.storageType},
                             {"deviceType", resource.deviceType},
                             {"managementIp", resource.managementIp},
                             {"managementPort", resource.managementPort},
                             {"iSCSITargetIQN", resource.iSCSITargetIQN},
                             {"vender", resource.vender}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SNetworkInfoLib& network) {
    jv = WithBase(network, {{"type", network.type},
                            {"portGroupNum", network.portGroupNum},
                            {"isIgmpSnooping", network.isIgmpSnooping},
                            {"portGroups", json::value_from(network.portGroups)}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SPortGroupInfoLib& group) {
    jv = WithBase(group, {{"subnetUrn", group.subnetUrn},
                          {"portType", group.portType},
                          {"vlanId", group.vlanId},
                          {"vxlanId", group.vxlanId},
                          {"vlanRange", group.vlanRange},
                          {"adminStatus", group.adminStatus},
                          {"isDhcpIsolation", group.isDhcpIsolation},
                          {"isIpMacBind", group.isIpMacBind},
                          {"vspNum", group.vspNum},
                          {"multicastIp", group.multicastIp},
                          {"txLimit", group.txLimit},
                          {"txPeakLimit", group.txPeakLimit},
                          {"txBurstSize", group.txBurstSize},
                          {"txWeight", group.txWeight},
                          {"rxLimit", group.rxLimit},
                          {"rxPeakLimit", group.rxPeakLimit},
                          {"rxBurstSize", group.rxBurstSize},
                          {"rxWeight", group.rxWeight},
                          {"priority", group.priority},
                          {"arpBcstSuppress", group.arpBcstSuppress},
                          {"ipBcstSuppress", group.ipBcstSuppress}});
}

void tag_invoke(const json::value_from_tag&, json::value& jv, const SFolderInfoLib& folder) {
    jv = WithBase(folder, {});
}

}  // namespace FusionComputeSDKWrapper

namespace fcctl {

json::object VmSummary(const FusionComputeSDKWrapper::SVMInfoLib& vm) {
    return json::object{{"name", vm.name}, {"urn", vm.urn}, {"uuid", vm.uuid}};
}

}  // namespace fcctl
