#ifndef FCCTL_RECORDJSON_H
#define FCCTL_RECORDJSON_H

// The library's records as JSON objects (fcctl --json): json::value_from(record) gives an object whose
// members are the fields listed here, named as the fields are (which are the VRM's own JSON keys), and
// of a vector of records an array. Boost.JSON converts described structs by itself; the descriptions sit
// in the records' namespace so that it finds them, and only fcctl makes them. Base-class fields are
// listed by name because Boost.JSON does not follow described bases.

#include <boost/describe.hpp>

#include "FusionComputeRecords.h"
#include "JsonWriter.h"

namespace FusionComputeSDKWrapper {

#define FCCTL_BASE_FIELDS name, urn, uri, description

BOOST_DESCRIBE_STRUCT(SSiteInfoLib, (), (FCCTL_BASE_FIELDS, clusters))
BOOST_DESCRIBE_STRUCT(SClusterInfoLib, (), (FCCTL_BASE_FIELDS, parentObjUrn, parentObjName, hosts, vms))
BOOST_DESCRIBE_STRUCT(SHostInfoLib, (),
                      (FCCTL_BASE_FIELDS, status, ip, clusterName, clusterUrn, cpuMHz, cpuQuantity,
                       totalSizeMB, allocatedSizeMB, vms, datastores, storageDevices, networks))
BOOST_DESCRIBE_STRUCT(SVMInfoLib, (),
                      (FCCTL_BASE_FIELDS, status, uuid, hostName, hostUrn, clusterName, clusterUrn, osType,
                       osVersion, guestOSName, toolsVersion, isTemplate, disks, nics, snapshots))
BOOST_DESCRIBE_STRUCT(SDiskInfoLib, (),
                      (FCCTL_BASE_FIELDS, uuid, volumeUrl, quantityGB, userUsedSize, datastoreName,
                       datastoreUrn, pciType, sequenceNum, volType, isThin, persistentDisk, indepDisk))
BOOST_DESCRIBE_STRUCT(SVMNetworkCardInfoLib, (),
                      (FCCTL_BASE_FIELDS, nicType, sequenceNum, portGroupName, portGroupUrn, portId, ip, mac,
                       dvSwitchName, dvSwitchUrn, virtIo))
BOOST_DESCRIBE_STRUCT(SSnapshotInfoLib, (),
                      (FCCTL_BASE_FIELDS, createTime, status, includingMemorySnapshot, volsnapshots))
BOOST_DESCRIBE_STRUCT(SDiskSnapshotInfoLib, (),
                      (volumeUri, volumeUrn, datastoreUrn, volCBTCreateTime, chgID, snapUuid))
BOOST_DESCRIBE_STRUCT(SDataStoreInfoLib, (),
                      (FCCTL_BASE_FIELDS, status, storageType, isThin, capacityGB, usedSizeGB, freeSizeGB,
                       hosts, storageUnits, storageResource, suUrn, suName, clusterSize, vms))
BOOST_DESCRIBE_STRUCT(SStorageUnitInfoLib, (), (urn, sdName, suName))
BOOST_DESCRIBE_STRUCT(SStorageDeviceInfoLib, (), (FCCTL_BASE_FIELDS, status, type, capacityGB, wwn, isThin))
BOOST_DESCRIBE_STRUCT(SStorageResourceInfoLib, (),
                      (FCCTL_BASE_FIELDS, storageType, deviceType, managementIp, managementPort,
                       iSCSITargetIQN, vender))
BOOST_DESCRIBE_STRUCT(SNetworkInfoLib, (),
                      (FCCTL_BASE_FIELDS, type, portGroupNum, isIgmpSnooping, portGroups))
BOOST_DESCRIBE_STRUCT(SPortGroupInfoLib, (),
                      (FCCTL_BASE_FIELDS, subnetUrn, portType, vlanId, vxlanId, vlanRange, adminStatus,
                       isDhcpIsolation, isIpMacBind, vspNum, multicastIp, txLimit, txPeakLimit, txBurstSize,
                       txWeight, rxLimit, rxPeakLimit, rxBurstSize, rxWeight, priority, arpBcstSuppress,
                       ipBcstSuppress))
BOOST_DESCRIBE_STRUCT(SFolderInfoLib, (), (FCCTL_BASE_FIELDS))

#undef FCCTL_BASE_FIELDS

}  // namespace FusionComputeSDKWrapper

namespace fcctl {

/// What names a VM in results about it: {"name", "urn", "uuid"}.
inline json::object VmSummary(const FusionComputeSDKWrapper::SVMInfoLib& vm) {
    return json::object{{"name", vm.name}, {"urn", vm.urn}, {"uuid", vm.uuid}};
}

}  // namespace fcctl

#endif  // FCCTL_RECORDJSON_H
