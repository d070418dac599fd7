#include "RecordJson.h"

namespace fcctl {

namespace {

void WriteBase(JsonWriter& w, const fc::SBaseInfoLib& base) {
    w.Member("name", base.name).Member("urn", base.urn).Member("uri", base.uri);
    w.Member("description", base.description);
}

void WriteStrings(JsonWriter& w, const char* key, const std::vector<std::string>& values) {
    w.Key(key).BeginArray();
    for (const std::string& value : values) w.String(value);
    w.EndArray();
}

}  // namespace

void WriteJson(JsonWriter& w, const fc::SVersionInfoLib& version) {
    w.BeginObject().Member("version", version.version).Member("loginUri", version.loginUri).EndObject();
}

void WriteJson(JsonWriter& w, const fc::SSiteInfoLib& site) {
    w.BeginObject();
    WriteBase(w, site);
    WriteJsonMember(w, "clusters", site.clusters);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SClusterInfoLib& cluster) {
    w.BeginObject();
    WriteBase(w, cluster);
    w.Member("parentObjUrn", cluster.parentObjUrn).Member("parentObjName", cluster.parentObjName);
    WriteJsonMember(w, "hosts", cluster.hosts);
    WriteJsonMember(w, "vms", cluster.vms);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SHostInfoLib& host) {
    w.BeginObject();
    WriteBase(w, host);
    w.Member("status", host.status).Member("ip", host.ip);
    w.Member("clusterName", host.clusterName).Member("clusterUrn", host.clusterUrn);
    w.Member("cpuMHz", host.cpuMHz).Member("cpuQuantity", host.cpuQuantity);
    w.Member("totalSizeMB", host.totalSizeMB).Member("allocatedSizeMB", host.allocatedSizeMB);
    WriteJsonMember(w, "vms", host.vms);
    WriteJsonMember(w, "datastores", host.datastores);
    WriteJsonMember(w, "storageDevices", host.storageDevices);
    WriteJsonMember(w, "networks", host.networks);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SVMInfoLib& vm) {
    w.BeginObject();
    WriteBase(w, vm);
    w.Member("status", vm.status).Member("uuid", vm.uuid);
    w.Member("hostName", vm.hostName).Member("hostUrn", vm.hostUrn);
    w.Member("clusterName", vm.clusterName).Member("clusterUrn", vm.clusterUrn);
    w.Member("osType", vm.osType).Member("osVersion", vm.osVersion).Member("guestOSName", vm.guestOSName);
    w.Member("toolsVersion", vm.toolsVersion).Member("isTemplate", vm.isTemplate);
    WriteJsonMember(w, "disks", vm.disks);
    WriteJsonMember(w, "nics", vm.nics);
    WriteJsonMember(w, "snapshots", vm.snapshots);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SDiskInfoLib& disk) {
    w.BeginObject();
    WriteBase(w, disk);
    w.Member("uuid", disk.uuid).Member("volumeUrl", disk.volumeUrl);
    w.Member("quantityGB", disk.quantityGB).Member("userUsedSize", disk.userUsedSize);
    w.Member("datastoreName", disk.datastoreName).Member("datastoreUrn", disk.datastoreUrn);
    w.Member("pciType", disk.pciType).Member("sequenceNum", disk.sequenceNum).Member("volType", disk.volType);
    w.Member("isThin", disk.isThin).Member("persistentDisk", disk.persistentDisk);
    w.Member("indepDisk", disk.indepDisk);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SVMNetworkCardInfoLib& nic) {
    w.BeginObject();
    WriteBase(w, nic);
    w.Member("nicType", nic.nicType).Member("sequenceNum", nic.sequenceNum);
    w.Member("portGroupName", nic.portGroupName).Member("portGroupUrn", nic.portGroupUrn);
    w.Member("portId", nic.portId).Member("ip", nic.ip).Member("mac", nic.mac);
    w.Member("dvSwitchName", nic.dvSwitchName).Member("dvSwitchUrn", nic.dvSwitchUrn);
    w.Member("virtIo", nic.virtIo);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SSnapshotInfoLib& snapshot) {
    w.BeginObject();
    WriteBase(w, snapshot);
    w.Member("createTime", snapshot.createTime).Member("status", snapshot.status);
    w.Member("includingMemorySnapshot", snapshot.includingMemorySnapshot);
    WriteJsonMember(w, "volsnapshots", snapshot.volsnapshots);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SDiskSnapshotInfoLib& diskSnapshot) {
    w.BeginObject();
    w.Member("volumeUri", diskSnapshot.volumeUri).Member("volumeUrn", diskSnapshot.volumeUrn);
    w.Member("datastoreUrn", diskSnapshot.datastoreUrn);
    w.Member("volCBTCreateTime", diskSnapshot.volCBTCreateTime).Member("chgID", diskSnapshot.chgID);
    w.Member("snapUuid", diskSnapshot.snapUuid);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SDataStoreInfoLib& datastore) {
    w.BeginObject();
    WriteBase(w, datastore);
    w.Member("status", datastore.status).Member("storageType", datastore.storageType);
    w.Member("isThin", datastore.isThin).Member("capacityGB", datastore.capacityGB);
    w.Member("usedSizeGB", datastore.usedSizeGB).Member("freeSizeGB", datastore.freeSizeGB);
    WriteStrings(w, "hosts", datastore.hosts);
    WriteJsonMember(w, "storageUnits", datastore.storageUnits);
    w.Key("storageResource");
    WriteJson(w, datastore.storageResource);
    w.Member("suUrn", datastore.suUrn).Member("suName", datastore.suName);
    w.Member("clusterSize", datastore.clusterSize);
    WriteJsonMember(w, "vms", datastore.vms);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SStorageUnitInfoLib& unit) {
    w.BeginObject().Member("urn", unit.urn).Member("sdName", unit.sdName).Member("suName", unit.suName);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SStorageDeviceInfoLib& device) {
    w.BeginObject();
    WriteBase(w, device);
    w.Member("status", device.status).Member("type", device.type).Member("capacityGB", device.capacityGB);
    w.Member("wwn", device.wwn).Member("isThin", device.isThin);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SStorageResourceInfoLib& resource) {
    w.BeginObject();
    WriteBase(w, resource);
    w.Member("storageType", resource.storageType).Member("deviceType", resource.deviceType);
    w.Member("managementIp", resource.managementIp).Member("managementPort", resource.managementPort);
    w.Member("iSCSITargetIQN", resource.iSCSITargetIQN).Member("vender", resource.vender);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SNetworkInfoLib& network) {
    w.BeginObject();
    WriteBase(w, network);
    w.Member("type", network.type).Member("portGroupNum", network.portGroupNum);
    w.Member("isIgmpSnooping", network.isIgmpSnooping);
    WriteJsonMember(w, "portGroups", network.portGroups);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SPortGroupInfoLib& group) {
    w.BeginObject();
    WriteBase(w, group);
    w.Member("subnetUrn", group.subnetUrn).Member("portType", group.portType).Member("vlanId", group.vlanId);
    w.Member("vxlanId", group.vxlanId).Member("vlanRange", group.vlanRange);
    w.Member("adminStatus", group.adminStatus).Member("isDhcpIsolation", group.isDhcpIsolation);
    w.Member("isIpMacBind", group.isIpMacBind).Member("vspNum", group.vspNum);
    w.Member("multicastIp", group.multicastIp);
    w.Member("txLimit", group.txLimit).Member("txPeakLimit", group.txPeakLimit);
    w.Member("txBurstSize", group.txBurstSize).Member("txWeight", group.txWeight);
    w.Member("rxLimit", group.rxLimit).Member("rxPeakLimit", group.rxPeakLimit);
    w.Member("rxBurstSize", group.rxBurstSize).Member("rxWeight", group.rxWeight);
    w.Member("priority", group.priority).Member("arpBcstSuppress", group.arpBcstSuppress);
    w.Member("ipBcstSuppress", group.ipBcstSuppress);
    w.EndObject();
}

void WriteJson(JsonWriter& w, const fc::SFolderInfoLib& folder) {
    w.BeginObject();
    WriteBase(w, folder);
    w.EndObject();
}

}  // namespace fcctl
