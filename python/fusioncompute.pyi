"""Type stubs of the Python binding of FusionComputeSDKWrapper (module `fusioncompute`).

Methods of Wrapper are the C++ facade's methods in snake_case; what C++ fills through reference
parameters is returned, and a failure raises Error. See docs/PYTHON.md."""

import enum
from typing import Any, Callable, overload

__version__: str

class Error(Exception):
    """A library call failed: `message` is the wrapper's last error, `code` its last VRM error code."""
    message: str
    code: int
    def __init__(self, message: str, code: int = ...) -> None: ...

class VmProp(enum.IntFlag):
    """Detail mask of the inventory calls (the VM_PROP_* flags)."""
    MIN: int
    ALL: int
    ALL_VM: int
    ALL_HOST: int
    ALL_DS: int
    ALL_OTHER: int
    ALL_SPECIAL: int
    VM_HOST_INFO: int
    VM_GUEST_INFO: int
    VM_CFG_FILE: int
    VM_SNAPSHOT_LIST: int
    VM_DISK_LIST: int
    VM_NW_LIST: int
    VM_HOSTDATACENTER: int
    VM_REPLICATION_INFO: int
    VM_DISK_LIST_ADVANCED: int
    VM_STUB_STATE: int
    VM_DS_FILE_LIST: int
    VM_POWER_OFF_TIME: int
    VM_OWNER_INFO: int
    VM_ATTRIBUTES: int
    HOST_KEY_PAIR_LIST: int
    HOST_RP_VM_LIST: int
    HOST_DS_LIST: int
    HOST_NW_LIST: int
    HOST_ADAP_INFO: int
    HOST_RSC_POOL_INFO: int
    HOST_VM_LIST: int
    HOST_REPLICATION_INFO: int
    HOST_NW_ADAP_INFO: int
    DS_EXTENT_LIST: int
    DS_ALL_VMS: int
    DS_VM_LIST: int
    VAPP_VM_LIST: int
    DATACENTER_CLUSTER_LIST: int
    DATACENTER_DS_LIST: int
    CLUSTER_VM_LIST: int
    CLUSTER_HOST_LIST: int
    INCLUDE_HQ_BACKUP: int
    INCLUDE_PUBLIC_TEMPLATES: int

MIN_VM_PROPS: VmProp
VM_PROP_ALL: VmProp
VM_PROP_ALL_DS: VmProp
VM_PROP_ALL_HOST: VmProp
VM_PROP_ALL_OTHER: VmProp
VM_PROP_ALL_SPECIAL: VmProp
VM_PROP_ALL_VM: VmProp
VM_PROP_CLUSTER_HOST_LIST: VmProp
VM_PROP_CLUSTER_VM_LIST: VmProp
VM_PROP_DATACENTER_CLUSTER_LIST: VmProp
VM_PROP_DATACENTER_DS_LIST: VmProp
VM_PROP_DS_ALL_VMS: VmProp
VM_PROP_DS_EXTENT_LIST: VmProp
VM_PROP_DS_VM_LIST: VmProp
VM_PROP_HOST_ADAP_INFO: VmProp
VM_PROP_HOST_DS_LIST: VmProp
VM_PROP_HOST_KEY_PAIR_LIST: VmProp
VM_PROP_HOST_NW_ADAP_INFO: VmProp
VM_PROP_HOST_NW_LIST: VmProp
VM_PROP_HOST_REPLICATION_INFO: VmProp
VM_PROP_HOST_RP_VM_LIST: VmProp
VM_PROP_HOST_RSC_POOL_INFO: VmProp
VM_PROP_HOST_VM_LIST: VmProp
VM_PROP_INCLUDE_HQ_BACKUP: VmProp
VM_PROP_INCLUDE_PUBLIC_TEMPLATES: VmProp
VM_PROP_VAPP_VM_LIST: VmProp
VM_PROP_VM_ATTRIBUTES: VmProp
VM_PROP_VM_CFG_FILE: VmProp
VM_PROP_VM_DISK_LIST: VmProp
VM_PROP_VM_DISK_LIST_ADVANCED: VmProp
VM_PROP_VM_DS_FILE_LIST: VmProp
VM_PROP_VM_GUEST_INFO: VmProp
VM_PROP_VM_HOSTDATACENTER: VmProp
VM_PROP_VM_HOST_INFO: VmProp
VM_PROP_VM_NW_LIST: VmProp
VM_PROP_VM_OWNER_INFO: VmProp
VM_PROP_VM_POWER_OFF_TIME: VmProp
VM_PROP_VM_REPLICATION_INFO: VmProp
VM_PROP_VM_SNAPSHOT_LIST: VmProp
VM_PROP_VM_STUB_STATE: VmProp

class BackupResourceInfo:
    """A backup resource: network access to a disk."""
    urn: str
    uri: str
    taskUri: str
    taskUrn: str
    resourceUrl: str
    hostIP: str
    hostPort: str
    targetFile: str
    token: str
    caCert: str
    status: str
    reason: str
    reasonDes: str
    runningTime: int
    def __init__(self, **fields: Any) -> None: ...

class BaseInfo:
    """Fields shared by every VRM inventory object."""
    name: str
    urn: str
    uri: str
    description: str
    def __init__(self, **fields: Any) -> None: ...

class ClusterInfo:
    """A cluster of hosts."""
    name: str
    urn: str
    uri: str
    description: str
    hosts: list[HostInfo]
    vms: list[VMInfo]
    parentObjUrn: str
    parentObjName: str
    def __init__(self, **fields: Any) -> None: ...

class DataStoreInfo:
    """A datastore."""
    name: str
    urn: str
    uri: str
    description: str
    status: str
    storageType: str
    isThin: bool
    capacityGB: int
    usedSizeGB: int
    freeSizeGB: int
    hosts: list[str]
    vms: list[VMInfo]
    storageUnits: list[StorageUnitInfo]
    storageResource: StorageResourceInfo
    suUrn: str
    suName: str
    clusterSize: int
    def __init__(self, **fields: Any) -> None: ...

class DiskBitmapInfo:
    """One page of a disk's block bitmap."""
    sectorOfBlock: int
    bitNum: int
    bit1Num: int
    bitMap: str
    def __init__(self, **fields: Any) -> None: ...

class DiskInfo:
    """A disk (a VRM volume)."""
    name: str
    urn: str
    uri: str
    description: str
    uuid: str
    volumeUrl: str
    quantityGB: int
    userUsedSize: int
    datastoreName: str
    datastoreUrn: str
    pciType: str
    sequenceNum: int
    volType: int
    isThin: bool
    persistentDisk: bool
    indepDisk: bool
    def __init__(self, **fields: Any) -> None: ...

class DiskSnapshotInfo:
    """The snapshot of one disk inside a VM snapshot."""
    volumeUri: str
    volumeUrn: str
    datastoreUrn: str
    volCBTCreateTime: str
    chgID: str
    snapUuid: str
    def __init__(self, **fields: Any) -> None: ...

class ErrorInfo:
    """The error body the VRM returns with a failed request."""
    errorCode: int
    errorDes: str
    def __init__(self, **fields: Any) -> None: ...

class FolderInfo:
    """A folder of clusters or of VMs."""
    name: str
    urn: str
    uri: str
    description: str
    clusters: list[ClusterInfo]
    vms: list[VMInfo]
    def __init__(self, **fields: Any) -> None: ...

class HostInfo:
    """A host (a physical server of the site)."""
    name: str
    urn: str
    uri: str
    description: str
    status: str
    ip: str
    clusterName: str
    clusterUrn: str
    cpuMHz: int
    cpuQuantity: int
    totalSizeMB: int
    allocatedSizeMB: int
    vms: list[VMInfo]
    datastores: list[DataStoreInfo]
    storageDevices: list[StorageDeviceInfo]
    networks: list[NetworkInfo]
    def __init__(self, **fields: Any) -> None: ...

class NetworkInfo:
    """A distributed virtual switch."""
    name: str
    urn: str
    uri: str
    description: str
    type: int
    portGroupNum: int
    isIgmpSnooping: bool
    portGroups: list[PortGroupInfo]
    def __init__(self, **fields: Any) -> None: ...

class OSVersionInfo:
    """One guest operating-system version of the VRM's catalogue."""
    id: int
    versionDes: str
    cpuQuantityLimit: int
    cpuSocketLimit: int
    memoryQuantityLimit: int
    supportMemHotPlug: bool
    def __init__(self, **fields: Any) -> None: ...

class OSVersionsInfo:
    """The VRM's guest-OS catalogue, one list per OS family."""
    other: list[OSVersionInfo]
    windows: list[OSVersionInfo]
    linux: list[OSVersionInfo]
    def __init__(self, **fields: Any) -> None: ...

class OVFFileItemInfo:
    """One file of an OVF package."""
    path: str
    deviceId: str
    ovfId: str
    size: int
    def __init__(self, **fields: Any) -> None: ...

class OVFInfo:
    """The answer of the VRM's OVF descriptor generation."""
    ovfDescriptor: str
    def __init__(self, **fields: Any) -> None: ...

class PortGroupInfo:
    """A port group of a distributed virtual switch."""
    name: str
    urn: str
    uri: str
    description: str
    subnetUrn: str
    portType: int
    vlanId: int
    vxlanId: int
    vlanRange: str
    adminStatus: int
    txLimit: int
    txPeakLimit: int
    txBurstSize: int
    txWeight: int
    priority: int
    rxLimit: int
    rxPeakLimit: int
    rxBurstSize: int
    rxWeight: int
    isDhcpIsolation: bool
    isIpMacBind: bool
    vspNum: int
    multicastIp: str
    arpBcstSuppress: int
    ipBcstSuppress: int
    def __init__(self, **fields: Any) -> None: ...

class SiteInfo:
    """A site, the top of the VRM's inventory."""
    name: str
    urn: str
    uri: str
    description: str
    clusters: list[ClusterInfo]
    def __init__(self, **fields: Any) -> None: ...

class SnapshotInfo:
    """A snapshot of a VM."""
    name: str
    urn: str
    uri: str
    description: str
    createTime: str
    status: str
    includingMemorySnapshot: bool
    volsnapshots: list[DiskSnapshotInfo]
    def __init__(self, **fields: Any) -> None: ...

class SnapshotTreeInfo:
    """One node of a VM's snapshot tree."""
    name: str
    urn: str
    uri: str
    description: str
    currentSnapshot: SnapshotInfo
    childSnapshots: list[SnapshotTreeInfo]
    def __init__(self, **fields: Any) -> None: ...

class StorageDeviceInfo:
    """A storage unit as a host sees it."""
    name: str
    urn: str
    uri: str
    description: str
    status: str
    type: str
    capacityGB: int
    wwn: str
    isThin: bool
    def __init__(self, **fields: Any) -> None: ...

class StorageResourceInfo:
    """A storage system known to the site."""
    name: str
    urn: str
    uri: str
    description: str
    storageType: str
    deviceType: str
    managementIp: str
    managementPort: int
    iSCSITargetIQN: str
    vender: str
    def __init__(self, **fields: Any) -> None: ...

class StorageUnitInfo:
    """One storage unit a datastore is built on."""
    urn: str
    sdName: str
    suName: str
    def __init__(self, **fields: Any) -> None: ...

class WaitProgress:
    """One poll of a task or backup resource a call waits for."""
    urn: str
    type: str
    progress: int
    status: str
    elapsedSeconds: int
    def __init__(self, **fields: Any) -> None: ...

class TaskInfo:
    """A VRM task."""
    taskUrn: str
    taskUri: str
    type: str
    status: str
    entityUrn: str
    entityUri: str
    urn: str
    uri: str
    startTime: str
    finishTime: str
    progress: int
    reason: str
    reasonDes: str
    canceled: bool
    cancelable: bool
    def __init__(self, **fields: Any) -> None: ...

class VMInfo:
    """A virtual machine or template."""
    name: str
    urn: str
    uri: str
    description: str
    status: str
    uuid: str
    hostName: str
    hostUrn: str
    clusterName: str
    clusterUrn: str
    cpuQuantity: int
    coresPerSocket: int
    memoryQuantityMB: int
    osType: str
    osVersion: int
    guestOSName: str
    toolsVersion: str
    isTemplate: bool
    disks: list[DiskInfo]
    snapshots: list[SnapshotInfo]
    nics: list[VMNetworkCardInfo]
    def __init__(self, **fields: Any) -> None: ...

class VMNetworkCardInfo:
    """A virtual network card of a VM."""
    name: str
    urn: str
    uri: str
    description: str
    nicType: int
    sequenceNum: int
    portGroupName: str
    portGroupUrn: str
    portId: str
    ip: str
    mac: str
    dvSwitchName: str
    dvSwitchUrn: str
    virtIo: int
    def __init__(self, **fields: Any) -> None: ...

class VersionInfo:
    """One interface version offered by the VRM."""
    version: str
    loginUri: str
    def __init__(self, **fields: Any) -> None: ...

class Wrapper:
    """One session with a VRM; a failed call raises Error."""
    def __init__(self) -> None: ...
    def enable_debug(self) -> None: ...
    def connect(self, host: str, user: str, password: str) -> None: ...
    def decode_version(self, version_text: str) -> int: ...
    def check_connection(self) -> bool: ...
    def get_management_version_info(self) -> VersionInfo: ...
    def get_management_version_number(self) -> int: ...
    def get_site(self) -> SiteInfo: ...
    def get_last_error_code(self) -> int: ...
    def get_last_error(self) -> str: ...
    def is_create_vm_snapshot_error_retryable(self) -> bool: ...
    def cancel(self) -> None: ...
    def set_connection_options(
        self,
        *,
        ca_file: str | None = ...,
        verify_peer: bool | None = ...,
        connect_to: str | None = ...,
        port: int | None = ...,
        connect_timeout_seconds: int | None = ...,
        low_speed_time_seconds: int | None = ...,
        request_timeout_seconds: int | None = ...,
        max_response_mb: int | None = ...,
    ) -> None: ...
    def set_progress_callback(self, callback: Callable[[WaitProgress], object] | None) -> None: ...
    def logout(self) -> None: ...
    def get_site_info(self, name: str = ..., urn: str = ..., flags: int = ...) -> SiteInfo: ...
    def get_site_info_list(self, flags: int = ...) -> list[SiteInfo]: ...
    def get_cluster_info(self, name: str = ..., urn: str = ..., flags: int = ...) -> ClusterInfo: ...
    def get_cluster_info_list(self, flags: int = ...) -> list[ClusterInfo]: ...
    def get_cluster_info_list_for_folder(
        self,
        folder_urn: str = ...,
        flags: int = ...,
    ) -> list[ClusterInfo]: ...
    def get_host_info(self, name: str = ..., urn: str = ..., flags: int = ...) -> HostInfo: ...
    def get_host_info_list(self, flags: int = ...) -> list[HostInfo]: ...
    def get_host_info_list_for_cluster(self, cluster_urn: str = ..., flags: int = ...) -> list[HostInfo]: ...
    def get_vm_info(self, name: str = ..., urn: str = ..., uuid: str = ..., flags: int = ...) -> VMInfo: ...
    def get_vm_info_list(self, flags: int = ...) -> list[VMInfo]: ...
    def get_vm_template_list(self, flags: int = ...) -> list[VMInfo]: ...
    def get_vm_info_list_for_folder(self, folder_urn: str = ..., flags: int = ...) -> list[VMInfo]: ...
    def get_data_store_info(self, name: str = ..., urn: str = ..., flags: int = ...) -> DataStoreInfo: ...
    def get_data_store_info_list(self, flags: int = ...) -> list[DataStoreInfo]: ...
    def get_cluster_folder_info_list(self) -> list[FolderInfo]: ...
    def get_vm_folder_info_list(self, parent_urn: str = ...) -> list[FolderInfo]: ...
    def get_folder_info_list(self) -> None: ...
    def fill_site_info_details(self, site: SiteInfo, flags: int = ...) -> SiteInfo: ...
    def fill_cluster_info_details(self, cluster: ClusterInfo, flags: int = ...) -> ClusterInfo: ...
    def fill_host_info_details(self, host: HostInfo, flags: int = ...) -> HostInfo: ...
    def fill_data_store_info_details(self, datastore: DataStoreInfo, flags: int = ...) -> DataStoreInfo: ...
    def fill_vm_info_details(self, vm: VMInfo, flags: int = ...) -> VMInfo: ...
    def fill_site_info_list_details(self, sites: list[SiteInfo], flags: int = ...) -> list[SiteInfo]: ...
    def fill_cluster_info_list_details(
        self,
        clusters: list[ClusterInfo],
        flags: int = ...,
    ) -> list[ClusterInfo]: ...
    def fill_host_info_list_details(self, hosts: list[HostInfo], flags: int = ...) -> list[HostInfo]: ...
    def fill_data_store_info_list_details(
        self,
        datastores: list[DataStoreInfo],
        flags: int = ...,
    ) -> list[DataStoreInfo]: ...
    def fill_vm_info_list_details(self, vms: list[VMInfo], flags: int = ...) -> list[VMInfo]: ...
    def power_on_vm(self, name: str = ..., urn: str = ..., uuid: str = ...) -> None: ...
    def power_off_vm(self, name: str = ..., urn: str = ..., uuid: str = ...) -> None: ...
    def shutdown_vm(self, name: str = ..., urn: str = ..., uuid: str = ...) -> None: ...
    def change_vm_power_state(self, name: str, urn: str, uuid: str, power_on: bool, force: bool) -> None: ...
    def update_vm_location_for_create(self, vm: VMInfo) -> VMInfo: ...
    def create_vm(self, vm: VMInfo) -> VMInfo: ...
    def create_vm_from_ovf_descriptor(
        self,
        descriptor: str,
        vm: VMInfo,
        disk_path_map: dict[str,
        str],
    ) -> VMInfo: ...
    @overload
    def delete_vm(self, vm: VMInfo, delete_disks: bool) -> None: ...
    @overload
    def delete_vm(self, name: str, urn: str, uuid: str, delete_disks: bool) -> None: ...
    def modify_vm(self, vm: VMInfo) -> VMInfo: ...
    @overload
    def get_ovf_descriptor_for_vm(self, vm: VMInfo) -> str: ...
    @overload
    def get_ovf_descriptor_for_vm(self, name: str, urn: str, uuid: str) -> str: ...
    def get_json_descriptor_for_vm(self, vm: VMInfo) -> str: ...
    def get_vm_info_from_json_descriptor(self, descriptor: str) -> VMInfo: ...
    def reconnect_networks_from_json_descriptor(self, vm: VMInfo, descriptor: str) -> None: ...
    def create_disk(self, disk: DiskInfo, omit_vol_type: bool = ...) -> DiskInfo: ...
    def delete_disk(self, disk: DiskInfo) -> None: ...
    def modify_disk(self, disk: DiskInfo) -> DiskInfo: ...
    @overload
    def add_disk_to_vm(self, vm: VMInfo, disk: DiskInfo, omit_vol_type: bool = ...) -> DiskInfo: ...
    @overload
    def add_disk_to_vm(
        self,
        name: str,
        urn: str,
        uuid: str,
        disk: DiskInfo,
        omit_vol_type: bool = ...,
    ) -> DiskInfo: ...
    def check_datastore_thin_support(self, name: str = ..., urn: str = ...) -> bool: ...
    def add_nic_to_vm(self, vm: VMInfo, nic: VMNetworkCardInfo) -> VMNetworkCardInfo: ...
    def check_mac_address(self, mac: str) -> bool: ...
    def create_data_store(
        self,
        name: str,
        host_urn: str,
        storage_unit_urn: str,
        use_type: int,
        format: bool,
    ) -> None: ...
    @overload
    def create_vm_snapshot(
        self,
        vm: VMInfo,
        name: str,
        description: str = ...,
        need_memory_shot: bool = ...,
        is_consistent: bool = ...,
        for_backup: bool = ...,
        use_cbt: bool = ...,
    ) -> SnapshotInfo: ...
    @overload
    def create_vm_snapshot(
        self,
        vm_name: str,
        vm_urn: str,
        vm_uuid: str,
        name: str,
        description: str = ...,
        need_memory_shot: bool = ...,
        is_consistent: bool = ...,
        for_backup: bool = ...,
        use_cbt: bool = ...,
    ) -> SnapshotInfo: ...
    @overload
    def delete_vm_snapshot(self, vm: VMInfo, snapshot: SnapshotInfo) -> None: ...
    @overload
    def delete_vm_snapshot(self, vm_name: str, vm_urn: str, vm_uuid: str, snapshot: SnapshotInfo) -> None: ...
    def get_disk_change_id(self, volume_urn: str, snapshot_urn: str) -> tuple[str, str, str]: ...
    def get_disk_change_token(self, volume_urn: str, snapshot_urn: str) -> str: ...
    def parse_disk_change_token(self, change_token: str) -> tuple[str, str]: ...
    def query_disk_allocated_blocks(self, volume_urn: str, snapshot_urn: str) -> tuple[str, int]: ...
    def query_disk_changed_blocks(
        self,
        volume_urn: str,
        snapshot_urn: str,
        change_token: str,
    ) -> tuple[str, int]: ...
    def query_disk_cbt(
        self,
        volume_urn: str,
        snap_uuid: str,
        chg_id: str,
        vol_cbt_create_time: str,
    ) -> tuple[str, int]: ...
    def prepare_disk_access(
        self,
        volume_urn: str,
        snap_urn: str,
        ip: str,
        restore: bool = ...,
    ) -> tuple[str, str, str, str, str]: ...
    def release_disk_access(self, resource_uri: str) -> None: ...
    def validate_disk_access(self, resource_uri: str) -> bool: ...
    def extend_disk_access(self, resource_uri: str, delay: int) -> None: ...

def changed_extents(bitmap_result: tuple[str, int] | str) -> list[tuple[int, int]]: ...
def set_log_level(level: int) -> None: ...
def get_log_level() -> int: ...
