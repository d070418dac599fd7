#include "parser/FusionComputeParser.h"

#include <cstdlib>

namespace FusionComputeSDKWrapper {

using json_spirit::mArray;
using json_spirit::mObject;

namespace {

std::string Str(const mObject& object, const char* key) {
    return MlJson::GetStringValue(object, key);
}

int32_t Int(const mObject& object, const char* key) {
    return MlJson::GetIntValue(object, key);
}

// Every integer of an answer is read as a 32-bit value; 64-bit fields get it sign-extended.
int64_t Int64(const mObject& object, const char* key) {
    return static_cast<int64_t>(Int(object, key));
}

uint64_t UInt64(const mObject& object, const char* key) {
    return static_cast<uint64_t>(Int64(object, key));
}

bool Bool(const mObject& object, const char* key) {
    return MlJson::GetBoolValue(object, key);
}

// The VRM sends error codes as strings of digits. Reads them as atoi does (leading white space, optional
// sign, the digits up to the first other character; 0 for no number), but with strtol's defined result
// for numbers beyond the int range instead of atoi's undefined behaviour, which an answer must not be
// able to trigger. The value is then narrowed to 32 bits as glibc's atoi narrows it.
int32_t LeadingInteger(const std::string& text) {
    return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

}  // namespace

CFusionComputeParser::CFusionComputeParser() = default;

std::string CFusionComputeParser::LoggableBody(const std::string& body) {
    // A listing can be a hundred megabytes; the error log needs only its beginning to show what broke.
    constexpr size_t kLoggedBodyLimit = 16 * 1024;
    if (body.size() <= kLoggedBodyLimit) return body;
    return body.substr(0, kLoggedBodyLimit) + "... (" + std::to_string(body.size()) + " bytes)";
}

CFusionComputeParser::~CFusionComputeParser() = default;

void CFusionComputeParser::LogParseException(const char* function, const std::string& body,
                                             const std::string* listKey,
                                             const std::runtime_error& error) const {
    if (listKey == nullptr) {
        debug.Error(function, "Exception parsing json object - %s\n%s", error.what(),
                    LoggableBody(body).c_str());
    } else {
        debug.Error(function, "Exception parsing json list [%s] - %s\n%s", listKey->c_str(), error.what(),
                    LoggableBody(body).c_str());
    }
}

const mArray* CFusionComputeParser::FindArray(const mObject& object, const std::string& key) {
    const auto it = object.find(key);
    if (it == object.end() || it->second.type() != json_spirit::array_type) {
        return nullptr;
    }
    return &it->second.get_array();
}

const mObject* CFusionComputeParser::FindObject(const mObject& object, const std::string& key) {
    const auto it = object.find(key);
    if (it == object.end() || it->second.type() != json_spirit::obj_type) {
        return nullptr;
    }
    return &it->second.get_obj();
}

bool CFusionComputeParser::ConvertBaseInfo(const mObject& object, SBaseInfoLib& record) {
    record.name = Str(object, "name");
    record.description = Str(object, "description");
    record.uri = Str(object, "uri");
    record.urn = Str(object, "urn");
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Service records
// ---------------------------------------------------------------------------------------------------

bool CFusionComputeParser::Convert(const mObject& object, SVersionInfoLib& record) {
    record.version = Str(object, "version");
    record.loginUri = Str(object, "loginUri");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SErrorInfoLib& record) {
    record.errorCode = static_cast<uint32_t>(LeadingInteger(Str(object, "errorCode")));
    record.errorDes = Str(object, "errorDes");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, STaskInfoLib& record) {
    record.taskUrn = Str(object, "taskUrn");
    record.taskUri = Str(object, "taskUri");
    if (!record.taskUrn.empty()) {
        // The answer of a request that started a task: its "urn" and "uri" name the created object,
        // which the record keeps while later polls update the task fields.
        record.urn = Str(object, "urn");
        record.uri = Str(object, "uri");
        return true;
    }
    // A task object as read from the task's own link.
    record.taskUrn = Str(object, "urn");
    record.taskUri = Str(object, "uri");
    record.type = Str(object, "type");
    record.status = Str(object, "status");
    record.entityUrn = Str(object, "entityUrn");
    record.entityUri = Str(object, "entityUri");
    record.startTime = Str(object, "startTime");
    record.finishTime = Str(object, "finishTime");
    record.progress = Int(object, "progress");
    record.reason = Str(object, "reason");
    record.reasonDes = Str(object, "reasonDes");
    // A VRM spells the flag "cancelled"; "canceled" is read first where an answer carries it.
    record.canceled = object.count("canceled") != 0 ? Bool(object, "canceled") : Bool(object, "cancelled");
    record.cancelable = Bool(object, "cancelable");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SOSVersionInfoLib& record) {
    record.id = Int(object, "id");
    record.versionDes = Str(object, "versionDes");
    record.cpuQuantityLimit = Int(object, "cpuQuantityLimit");
    record.cpuSocketLimit = Int(object, "cpuSocketLimit");
    record.memoryQuantityLimit = Int(object, "memoryQuantityLimit");
    record.supportMemHotPlug = Bool(object, "supportMemHotPlug");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SOSVersionsInfoLib& record) {
    ConvertNestedList(object, "other", record.other);
    ConvertNestedList(object, "windows", record.windows);
    ConvertNestedList(object, "linux", record.linux);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Compute inventory records
// ---------------------------------------------------------------------------------------------------

bool CFusionComputeParser::Convert(const mObject& object, SSiteInfoLib& record) {
    return ConvertBaseInfo(object, record);
}

bool CFusionComputeParser::Convert(const mObject& object, SFolderInfoLib& record) {
    return ConvertBaseInfo(object, record);
}

bool CFusionComputeParser::Convert(const mObject& object, SClusterInfoLib& record) {
    ConvertBaseInfo(object, record);
    record.parentObjName = Str(object, "parentObjName");
    record.parentObjUrn = Str(object, "parentObjUrn");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SHostInfoLib& record) {
    ConvertBaseInfo(object, record);
    record.status = Str(object, "status");
    record.ip = Str(object, "ip");
    record.clusterName = Str(object, "clusterName");
    record.clusterUrn = Str(object, "clusterUrn");
    record.cpuMHz = Int(object, "cpuMHz");
    record.cpuQuantity = Int(object, "cpuQuantity");
    const auto memResource = object.find("memResource");
    if (memResource != object.end()) {
        // Present but not an object raises the JSON layer's type error; the Parse call reports it.
        const mObject& memory = memResource->second.get_obj();
        record.totalSizeMB = Int64(memory, "totalSizeMB");
        record.allocatedSizeMB = Int64(memory, "allocatedSizeMB");
    }
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SVMInfoLib& record) {
    ConvertBaseInfo(object, record);
    record.status = Str(object, "status");
    record.uuid = Str(object, "uuid");
    record.hostName = Str(object, "hostName");
    record.hostUrn = Str(object, "hostUrn");
    record.clusterName = Str(object, "clusterName");
    record.clusterUrn = Str(object, "clusterUrn");
    const auto vmConfig = object.find("vmConfig");
    if (vmConfig != object.end() && !vmConfig->second.is_null()) {
        // A VM read at a low detail level carries "vmConfig": null; any other non-object is a type error.
        const mObject& config = vmConfig->second.get_obj();
        ConvertNestedList(config, "disks", record.disks);
        ConvertNestedList(config, "nics", record.nics);
    }
    if (const mObject* osOptions = FindObject(object, "osOptions")) {
        record.osType = Str(*osOptions, "osType");
        record.osVersion = Int(*osOptions, "osVersion");
        record.guestOSName = Str(*osOptions, "guestOSName");
    }
    record.toolsVersion = Str(object, "toolsVersion");
    record.isTemplate = Bool(object, "isTemplate");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SDiskInfoLib& record) {
    // The same record reads a disk element of a VM's configuration ("diskName", "volumeUrn",
    // "volumeUuid") and a volume object ("name", "urn", "uuid"); the latter keys win when non-empty.
    ConvertBaseInfo(object, record);
    if (record.name.empty()) {
        record.name = Str(object, "diskName");
    }
    if (record.urn.empty()) {
        record.urn = Str(object, "volumeUrn");
    }
    record.uuid = Str(object, "uuid");
    if (record.uuid.empty()) {
        record.uuid = Str(object, "volumeUuid");
    }
    record.volumeUrl = Str(object, "volumeUrl");
    record.datastoreName = Str(object, "datastoreName");
    record.datastoreUrn = Str(object, "datastoreUrn");
    record.quantityGB = Int(object, "quantityGB");
    record.userUsedSize = UInt64(object, "userUsedSize");
    record.pciType = Str(object, "pciType");
    record.sequenceNum = Int(object, "sequenceNum");
    record.volType = Int(object, "volType");
    record.isThin = Bool(object, "isThin");
    record.persistentDisk = Bool(object, "persistentDisk");
    record.indepDisk = Bool(object, "indepDisk");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SVMNetworkCardInfoLib& record) {
    ConvertBaseInfo(object, record);
    record.nicType = Int(object, "nicType");
    record.sequenceNum = Int(object, "sequenceNum");
    record.portGroupName = Str(object, "portGroupName");
    record.portGroupUrn = Str(object, "portGroupUrn");
    record.portId = Str(object, "portId");
    record.ip = Str(object, "ip");
    record.mac = Str(object, "mac");
    record.virtIo = Int(object, "virtIo");
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Storage and network records
// ---------------------------------------------------------------------------------------------------

bool CFusionComputeParser::Convert(const mObject& object, SDataStoreInfoLib& record) {
    ConvertBaseInfo(object, record);
    record.status = Str(object, "status");
    record.storageType = Str(object, "storageType");
    record.isThin = Bool(object, "isThin");
    record.capacityGB = Int64(object, "capacityGB");
    record.usedSizeGB = Int64(object, "usedSizeGB");
    record.freeSizeGB = Int64(object, "freeSizeGB");
    record.suName = Str(object, "suName");
    record.suUrn = Str(object, "suUrn");
    record.clusterSize = Int(object, "clusterSize");
    ConvertNestedStringList(object, "hosts", record.hosts);
    ConvertNestedList(object, "storageUnits", record.storageUnits);
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SStorageUnitInfoLib& record) {
    record.urn = Str(object, "urn");
    record.sdName = Str(object, "sdName");
    record.suName = Str(object, "suName");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SStorageDeviceInfoLib& record) {
    ConvertBaseInfo(object, record);
    record.status = Str(object, "status");
    record.type = Str(object, "type");
    record.isThin = Bool(object, "isThin");
    record.capacityGB = Int(object, "capacityGB");
    record.wwn = Str(object, "wwn");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SStorageResourceInfoLib& record) {
    ConvertBaseInfo(object, record);
    record.storageType = Str(object, "storageType");
    record.deviceType = Str(object, "deviceType");
    record.managementIp = Str(object, "managementIp");
    record.managementPort = Int(object, "managementPort");
    record.iSCSITargetIQN = Str(object, "iSCSITargetIQN");
    record.vender = Str(object, "vender");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SNetworkInfoLib& record) {
    ConvertBaseInfo(object, record);
    record.type = Int(object, "type");
    record.portGroupNum = Int(object, "portGroupNum");
    record.isIgmpSnooping = Bool(object, "isIgmpSnooping");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SPortGroupInfoLib& record) {
    ConvertBaseInfo(object, record);
    record.subnetUrn = Str(object, "subnetUrn");
    record.portType = Int(object, "portType");
    record.vlanId = Int(object, "vlanId");
    record.vxlanId = Int(object, "vxlanId");
    record.vlanRange = Str(object, "vlanRange");
    record.adminStatus = Int(object, "adminStatus");
    record.txLimit = Int(object, "txLimit");
    record.txPeakLimit = Int(object, "txPeakLimit");
    record.txBurstSize = Int(object, "txBurstSize");
    record.txWeight = Int(object, "txWeight");
    record.rxLimit = Int(object, "rxLimit");
    record.rxPeakLimit = Int(object, "rxPeakLimit");
    record.rxBurstSize = Int(object, "rxBurstSize");
    record.rxWeight = Int(object, "rxWeight");
    record.priority = Int(object, "priority");
    record.isDhcpIsolation = Bool(object, "isDhcpIsolation");
    record.isIpMacBind = Bool(object, "isIpMacBind");
    record.vspNum = Int(object, "vspNum");
    record.multicastIp = Str(object, "multicastIp");
    record.arpBcstSuppress = Int(object, "arpBcstSuppress");
    record.ipBcstSuppress = Int(object, "ipBcstSuppress");
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Snapshot, changed-block, backup-resource and OVF records
// ---------------------------------------------------------------------------------------------------

bool CFusionComputeParser::Convert(const mObject& object, SSnapshotTreeInfoLib& record) {
    ConvertBaseInfo(object, record);
    ConvertNestedObject(object, "currentSnapshot", record.currentSnapshot);
    // The root lists the top-level snapshots under "rootSnapshots", every other node its children
    // under "childSnapshots"; both end up as the node's children, root entries first.
    ConvertNestedList(object, "rootSnapshots", record.childSnapshots);
    ConvertNestedList(object, "childSnapshots", record.childSnapshots);
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SSnapshotInfoLib& record) {
    ConvertBaseInfo(object, record);
    record.createTime = Str(object, "createTime");
    record.status = Str(object, "status");
    record.includingMemorySnapshot = Bool(object, "includingMemorySnapshot");
    ConvertNestedList(object, "volsnapshots", record.volsnapshots);
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SDiskSnapshotInfoLib& record) {
    record.volumeUri = Str(object, "volumeUri");
    record.volumeUrn = Str(object, "volumeUrn");
    record.datastoreUrn = Str(object, "datastoreUrn");
    record.volCBTCreateTime = Str(object, "volCBTCreateTime");
    record.chgID = Str(object, "chgID");
    record.snapUuid = Str(object, "snapUuid");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SDiskBitmapInfoLib& record) {
    record.bitMap = Str(object, "bitMap");
    record.sectorOfBlock = Int(object, "sectorOfBlock");
    record.bitNum = Int(object, "bitNum");
    record.bit1Num = Int(object, "bit1Num");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SBackupResourceInfoLib& record) {
    // urn and uri stay as they are: a resource re-read from its link keeps the link.
    record.taskUri = Str(object, "taskUri");
    record.taskUrn = Str(object, "taskUrn");
    record.resourceUrl = Str(object, "resourceUrl");
    record.hostIP = Str(object, "hostIP");
    record.hostPort = Str(object, "hostPort");
    record.targetFile = Str(object, "targetFile");
    record.token = Str(object, "token");
    record.caCert = Str(object, "caCert");
    record.status = Str(object, "status");
    record.reason = Str(object, "reason");
    record.reasonDes = Str(object, "reasonDes");
    record.runningTime = Int(object, "runningTime");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SOVFInfoLib& record) {
    record.ovfDescriptor = Str(object, "ovfDescriptor");
    return true;
}

bool CFusionComputeParser::Convert(const mObject& object, SOVFFileItemInfoLib& record) {
    record.path = Str(object, "path");
    record.deviceId = Str(object, "deviceId");
    record.ovfId = Str(object, "ovfId");
    record.size = Int(object, "size");
    return true;
}

}  // namespace FusionComputeSDKWrapper
