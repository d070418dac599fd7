// Records are plain value types that callers build, copy and keep: no virtual members, member-wise
// copies, the documented defaults and constructors, and detail flags that are distinct bits inside
// their masks.

#include <gtest/gtest.h>

#include <bitset>
#include <iterator>
#include <tuple>
#include <type_traits>
#include <utility>

#include "FusionComputeRecords.h"

namespace FusionComputeSDKWrapper {
namespace {

using AllRecords =
    std::tuple<SBaseInfoLib, SVersionInfoLib, SErrorInfoLib, STaskInfoLib, SOSVersionInfoLib,
               SOSVersionsInfoLib, SSiteInfoLib, SFolderInfoLib, SClusterInfoLib, SHostInfoLib, SVMInfoLib,
               SDiskInfoLib, SVMNetworkCardInfoLib, SDataStoreInfoLib, SStorageUnitInfoLib,
               SStorageDeviceInfoLib, SStorageResourceInfoLib, SNetworkInfoLib, SPortGroupInfoLib,
               SSnapshotTreeInfoLib, SSnapshotInfoLib, SDiskSnapshotInfoLib, SDiskBitmapInfoLib,
               SBackupResourceInfoLib, SOVFInfoLib, SOVFFileItemInfoLib>;

template <typename T>
constexpr bool IsPlainRecord() {
    return !std::is_polymorphic_v<T> && std::is_default_constructible_v<T> &&
           std::is_copy_constructible_v<T> && std::is_copy_assignable_v<T> &&
           std::is_nothrow_move_constructible_v<T> && std::is_nothrow_move_assignable_v<T> &&
           std::is_nothrow_destructible_v<T>;
}

template <typename... T>
constexpr bool AllPlain(std::tuple<T...>*) {
    return (IsPlainRecord<T>() && ...);
}
static_assert(AllPlain(static_cast<AllRecords*>(nullptr)), "records must stay plain value types");

// Inventory objects can be handed to the queries that accept any object as SBaseInfoLib.
static_assert(std::is_base_of_v<SBaseInfoLib, SSiteInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SFolderInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SClusterInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SHostInfoLib> && std::is_base_of_v<SBaseInfoLib, SVMInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SDiskInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SVMNetworkCardInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SDataStoreInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SStorageDeviceInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SStorageResourceInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SNetworkInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SPortGroupInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SSnapshotTreeInfoLib> &&
              std::is_base_of_v<SBaseInfoLib, SSnapshotInfoLib>);
static_assert(!std::is_base_of_v<SBaseInfoLib, STaskInfoLib> &&
              !std::is_base_of_v<SBaseInfoLib, SStorageUnitInfoLib> &&
              !std::is_base_of_v<SBaseInfoLib, SBackupResourceInfoLib> &&
              !std::is_base_of_v<SBaseInfoLib, SDiskSnapshotInfoLib>);

static_assert(std::is_same_v<UINT64, uint64_t>);
static_assert(sizeof(SHostInfoLib::totalSizeMB) == 8 && sizeof(SDataStoreInfoLib::capacityGB) == 8 &&
              sizeof(SDiskInfoLib::userUsedSize) == 8 && sizeof(SVMInfoLib::memoryQuantityMB) == 8);
static_assert(sizeof(SStorageDeviceInfoLib::capacityGB) == 4 && sizeof(STaskInfoLib::progress) == 4);

TEST(RecordsTest, DiskDefaultsToPersistentAndEverythingElseEmpty) {
    const SDiskInfoLib disk;
    EXPECT_TRUE(disk.persistentDisk);
    EXPECT_FALSE(disk.isThin);
    EXPECT_FALSE(disk.indepDisk);
    EXPECT_EQ(disk.quantityGB, 0);
    EXPECT_EQ(disk.userUsedSize, 0u);
    EXPECT_TRUE(disk.name.empty() && disk.urn.empty() && disk.uuid.empty());
}

TEST(RecordsTest, DefaultsAreZeroFalseAndEmpty) {
    const STaskInfoLib task;
    EXPECT_EQ(task.progress, 0);
    EXPECT_FALSE(task.canceled || task.cancelable);
    EXPECT_TRUE(task.status.empty() && task.taskUri.empty());

    const SHostInfoLib host;
    EXPECT_EQ(host.totalSizeMB, 0);
    EXPECT_EQ(host.allocatedSizeMB, 0);
    EXPECT_EQ(host.cpuMHz, 0);

    const SDataStoreInfoLib datastore;
    EXPECT_FALSE(datastore.isThin);
    EXPECT_EQ(datastore.capacityGB + datastore.usedSizeGB + datastore.freeSizeGB, 0);
    EXPECT_TRUE(datastore.storageResource.name.empty());
    EXPECT_EQ(datastore.storageResource.managementPort, 0);

    const SErrorInfoLib error;
    EXPECT_EQ(error.errorCode, 0u);

    const SPortGroupInfoLib portGroup;
    EXPECT_FALSE(portGroup.isDhcpIsolation || portGroup.isIpMacBind);
    EXPECT_EQ(portGroup.vlanId + portGroup.priority + portGroup.ipBcstSuppress, 0);

    const SSnapshotTreeInfoLib tree;
    EXPECT_TRUE(tree.childSnapshots.empty());
    EXPECT_FALSE(tree.currentSnapshot.includingMemorySnapshot);
}

TEST(RecordsTest, BaseConstructorSetsFieldsInOrder) {
    const SBaseInfoLib base("vm01", "urn:sites:1:vms:i-1", "/service/sites/1/vms/i-1", "database");
    EXPECT_EQ(base.name, "vm01");
    EXPECT_EQ(base.urn, "urn:sites:1:vms:i-1");
    EXPECT_EQ(base.uri, "/service/sites/1/vms/i-1");
    EXPECT_EQ(base.description, "database");
}

TEST(RecordsTest, VmFromNameUrnAndUuid) {
    const SVMInfoLib vm("web01", "urn:sites:1:vms:i-7", "4c2d-77");
    EXPECT_EQ(vm.name, "web01");
    EXPECT_EQ(vm.urn, "urn:sites:1:vms:i-7");
    EXPECT_EQ(vm.uuid, "4c2d-77");
    EXPECT_TRUE(vm.uri.empty());
    EXPECT_TRUE(vm.description.empty());
    EXPECT_EQ(vm.cpuQuantity, 0);
    EXPECT_EQ(vm.coresPerSocket, 0);
    EXPECT_EQ(vm.memoryQuantityMB, 0u);
    EXPECT_FALSE(vm.isTemplate);
}

TEST(RecordsTest, ConstructResetsSizingAndTemplateFlagOnly) {
    SVMInfoLib vm;
    vm.cpuQuantity = 8;
    vm.coresPerSocket = 2;
    vm.memoryQuantityMB = 16384;
    vm.isTemplate = true;
    vm.name = "kept";
    vm.osType = "Linux";
    vm.Construct();
    EXPECT_EQ(vm.cpuQuantity, 0);
    EXPECT_EQ(vm.coresPerSocket, 0);
    EXPECT_EQ(vm.memoryQuantityMB, 0u);
    EXPECT_FALSE(vm.isTemplate);
    EXPECT_EQ(vm.name, "kept");
    EXPECT_EQ(vm.osType, "Linux");
}

TEST(RecordsTest, CopiesAreDeepAndIndependent) {
    SVMInfoLib vm("db", "urn:vm", "u1");
    SDiskInfoLib disk;
    disk.name = "disk0";
    vm.disks.push_back(disk);
    SSnapshotInfoLib snapshot;
    snapshot.volsnapshots.resize(2);
    vm.snapshots.push_back(snapshot);

    SVMInfoLib copy = vm;
    copy.disks[0].name = "changed";
    copy.snapshots[0].volsnapshots.clear();
    EXPECT_EQ(vm.disks[0].name, "disk0");
    EXPECT_EQ(vm.snapshots[0].volsnapshots.size(), 2u);

    SVMInfoLib moved = std::move(copy);
    EXPECT_EQ(moved.disks[0].name, "changed");
    EXPECT_EQ(moved.uuid, "u1");
}

TEST(RecordsTest, OsCatalogueHasItsLinuxList) {
    SOSVersionsInfoLib catalogue;
    SOSVersionInfoLib version;
    version.id = 301;
    catalogue.linux.push_back(version);
    EXPECT_EQ(catalogue.linux.at(0).id, 301);
    EXPECT_TRUE(catalogue.windows.empty() && catalogue.other.empty());
}

struct FlagGroup {
    const char* mask;
    UINT64 maskValue;
    std::vector<UINT64> flags;
};

// Every flag is one bit, and each group's flags lie inside the group's mask.
TEST(RecordsTest, DetailFlagsAreSingleBitsInsideTheirMasks) {
    const std::vector<FlagGroup> groups = {
        {"VM_PROP_ALL_VM",
         VM_PROP_ALL_VM,
         {VM_PROP_VM_HOST_INFO, VM_PROP_VM_GUEST_INFO, VM_PROP_VM_CFG_FILE, VM_PROP_VM_SNAPSHOT_LIST,
          VM_PROP_VM_DISK_LIST, VM_PROP_VM_NW_LIST, VM_PROP_VM_HOSTDATACENTER, VM_PROP_VM_REPLICATION_INFO,
          VM_PROP_VM_DISK_LIST_ADVANCED, VM_PROP_VM_STUB_STATE, VM_PROP_VM_DS_FILE_LIST,
          VM_PROP_VM_POWER_OFF_TIME, VM_PROP_VM_OWNER_INFO, VM_PROP_VM_ATTRIBUTES}},
        {"VM_PROP_ALL_HOST",
         VM_PROP_ALL_HOST,
         {VM_PROP_HOST_KEY_PAIR_LIST, VM_PROP_HOST_RP_VM_LIST, VM_PROP_HOST_DS_LIST, VM_PROP_HOST_NW_LIST,
          VM_PROP_HOST_ADAP_INFO, VM_PROP_HOST_RSC_POOL_INFO, VM_PROP_HOST_VM_LIST,
          VM_PROP_HOST_REPLICATION_INFO, VM_PROP_HOST_NW_ADAP_INFO}},
        {"VM_PROP_ALL_DS", VM_PROP_ALL_DS, {VM_PROP_DS_EXTENT_LIST, VM_PROP_DS_ALL_VMS, VM_PROP_DS_VM_LIST}},
        {"VM_PROP_ALL_OTHER",
         VM_PROP_ALL_OTHER,
         {VM_PROP_VAPP_VM_LIST, VM_PROP_DATACENTER_CLUSTER_LIST, VM_PROP_DATACENTER_DS_LIST,
          VM_PROP_CLUSTER_VM_LIST, VM_PROP_CLUSTER_HOST_LIST}},
        {"VM_PROP_ALL_SPECIAL",
         VM_PROP_ALL_SPECIAL,
         {VM_PROP_INCLUDE_HQ_BACKUP, VM_PROP_INCLUDE_PUBLIC_TEMPLATES}},
    };
    UINT64 seen = 0;
    for (const FlagGroup& group : groups) {
        SCOPED_TRACE(group.mask);
        for (UINT64 flag : group.flags) {
            EXPECT_EQ(std::bitset<64>(flag).count(), 1u) << std::hex << flag;
            EXPECT_EQ(flag & group.maskValue, flag) << std::hex << flag;
            EXPECT_EQ(seen & flag, 0u) << "flag used twice: " << std::hex << flag;
            seen |= flag;
        }
    }
    EXPECT_EQ(VM_PROP_ALL_VM & VM_PROP_ALL_HOST, 0u);
    EXPECT_EQ(VM_PROP_ALL_DS & VM_PROP_ALL_OTHER, 0u);
    EXPECT_EQ(VM_PROP_ALL, ~MIN_VM_PROPS);
}

// Callers store masks as numbers, so the bit positions are part of the interface.
TEST(RecordsTest, DetailFlagValuesCallersRelyOn) {
    const std::pair<UINT64, UINT64> flags[] = {
        {VM_PROP_VM_GUEST_INFO, 0x2u},
        {VM_PROP_VM_SNAPSHOT_LIST, 0x8u},
        {VM_PROP_VM_DISK_LIST, 0x10u},
        {VM_PROP_VM_NW_LIST, 0x20u},
        {VM_PROP_HOST_KEY_PAIR_LIST, 0x800000u},
        {VM_PROP_HOST_VM_LIST, 0x20000000u},
        {VM_PROP_DS_EXTENT_LIST, 0x100000000u},
        {VM_PROP_VAPP_VM_LIST, 0x100000000000u},
        {VM_PROP_DATACENTER_CLUSTER_LIST, 0x1000000000000u},
        {VM_PROP_DATACENTER_DS_LIST, 0x2000000000000u},
        {VM_PROP_CLUSTER_HOST_LIST, 0x20000000000000u},
        {VM_PROP_INCLUDE_HQ_BACKUP, 0x8000000000000000u},
    };
    for (std::size_t i = 0; i < std::size(flags); ++i)
        EXPECT_EQ(flags[i].first, flags[i].second) << "entry " << i;
}

}  // namespace
}  // namespace FusionComputeSDKWrapper
