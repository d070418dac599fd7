// The Python module `fusioncompute`: the facade as the class Wrapper, the records as plain classes, the
// detail flags as an IntFlag and the failures as the exception fusioncompute.Error.
//
// Mapping: methods are named in snake_case (GetVMInfoList -> get_vm_info_list); what C++ delivers through
// reference parameters is returned (one value, or a tuple for several); a `false` result raises
// fusioncompute.Error with the wrapper's last error message and VRM error code. A record passed in and
// filled by the call (CreateVM, the Fill*Details family, ...) is updated in place and also returned.
//
// Every call that may reach the network runs with the GIL released, so wrappers on several Python threads
// work at once. Records and lists are copied into C++ before the GIL is let go: another thread changing
// them meanwhile cannot race with the library. One wrapper serves one call at a time; a mutex per wrapper
// makes a second thread using the same wrapper wait instead of corrupting it.

#include <pybind11/eval.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "FusionComputeWrapper.h"

namespace py = pybind11;
using namespace FusionComputeSDKWrapper;

namespace {

// ---------------------------------------------------------------------------------------------------
// Error, flags and record helpers written in Python (they are Python types by nature)
// ---------------------------------------------------------------------------------------------------

constexpr const char* kPythonHelpers = R"PY(
class Error(Exception):
    """A library call failed: `message` is the wrapper's last error, `code` its last VRM error code."""

    def __init__(self, message, code=0):
        super().__init__(message, code)
        self.message = message
        self.code = code

    def __str__(self):
        return f"{self.message} (VRM error {self.code})" if self.code else self.message


def _record_repr(self):
    parts = []
    for name in type(self)._fields:
        value = getattr(self, name)
        if isinstance(value, list) and value and not isinstance(value[0], str):
            parts.append(f"{name}=[{len(value)} {type(value[0]).__name__}]")
        else:
            parts.append(f"{name}={value!r}")
    return f"{type(self).__name__}({', '.join(parts)})"


def _record_eq(self, other):
    if type(self) is not type(other):
        return NotImplemented
    return all(getattr(self, name) == getattr(other, name) for name in type(self)._fields)


def _make_record(cls):
    plain_init = cls.__init__

    def __init__(self, **fields):
        plain_init(self)
        for name, value in fields.items():
            if name not in cls._fields:
                raise TypeError(f"{cls.__name__} has no field {name!r}")
            setattr(self, name, value)

    __init__.__doc__ = f"Builds a {cls.__name__}; keyword arguments set fields by name."
    def __copy__(self):
        # Attributes are handed out as copies, so this copy shares nothing with the original.
        return cls(**{name: getattr(self, name) for name in cls._fields})

    cls.__init__ = __init__
    cls.__copy__ = __copy__
    cls.__deepcopy__ = lambda self, memo: __copy__(self)
    cls.__repr__ = _record_repr
    cls.__eq__ = _record_eq
    cls.__hash__ = None
)PY";

// Builds a record class: fields registered with field() become attributes, `_fields`, keyword
// construction, __repr__ and __eq__.
template <typename T>
class Record {
  public:
    Record(py::module_& module, const char* name, const char* doc) : cls_(module, name, doc) {
        cls_.def(py::init<>());
    }

    template <typename M, typename Base>
    Record& field(const char* name, M Base::*member) {
        static_assert(std::is_base_of<Base, T>::value, "field of another record");
        cls_.def_readwrite(name, member);
        names_.emplace_back(name);
        return *this;
    }

    // The four fields every inventory object has.
    Record& base() {
        return field("name", &SBaseInfoLib::name)
            .field("urn", &SBaseInfoLib::urn)
            .field("uri", &SBaseInfoLib::uri)
            .field("description", &SBaseInfoLib::description);
    }

    void finish(const py::object& makeRecord) {
        cls_.attr("_fields") = py::tuple(py::cast(names_));
        makeRecord(cls_);
    }

  private:
    py::class_<T> cls_;
    std::vector<std::string> names_;
};

// ---------------------------------------------------------------------------------------------------
// Calls
// ---------------------------------------------------------------------------------------------------

// A wrapper and the lock that lets one call at a time use it.
struct Session {
    CFusionComputeWrapper wrapper;
    std::mutex mutex;
};

// The class fusioncompute.Error; one reference is kept for the life of the process, so it stays valid
// while the interpreter shuts down.
py::handle g_errorType;

[[noreturn]] void Raise(const std::string& message, long code) {
    py::object error = g_errorType(message, code);
    PyErr_SetObject(g_errorType.ptr(), error.ptr());
    throw py::error_already_set();
}

// Identity of the interpreter's main thread, the only one that runs Python signal handlers.
unsigned long g_mainThread = 0;

// Runs `op(wrapper)` with the GIL released and the wrapper locked and returns what it returns.
//
// On the main thread the call runs on a helper thread while the main thread keeps running Python's signal
// handlers every 50 ms: a handler must not wait until a long call (a snapshot, a backup resource) has
// ended, and may cancel it. An exception a handler raises (KeyboardInterrupt) cancels the call and is
// raised once the call has returned; the call is not abandoned, since it works on the wrapper and on this
// frame's variables.
template <typename Op>
auto Invoke(Session& s, Op&& op) {
    using Result = decltype(op(s.wrapper));
    auto locked = [&s, &op] {
        std::lock_guard<std::mutex> lock(s.mutex);
        return op(s.wrapper);
    };
    if (PyThread_get_thread_ident() != g_mainThread) {
        py::gil_scoped_release release;
        return locked();
    }
    std::optional<Result> result;
    std::exception_ptr failure;
    std::optional<py::error_already_set> fromHandler;
    {
        py::gil_scoped_release release;
        std::mutex doneMutex;
        std::condition_variable doneSignal;
        bool done = false;
        std::thread worker([&] {
            try {
                result.emplace(locked());
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(doneMutex);
            done = true;
            doneSignal.notify_one();
        });
        std::unique_lock<std::mutex> lock(doneMutex);
        while (!doneSignal.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; })) {
            lock.unlock();
            {
                py::gil_scoped_acquire gil;
                if (PyErr_CheckSignals() != 0) {
                    // The first exception wins; later ones (a second Ctrl-C) are dropped.
                    if (fromHandler) {
                        PyErr_Clear();
                    } else {
                        fromHandler.emplace();
                        s.wrapper.Cancel();
                    }
                }
            }
            lock.lock();
        }
        lock.unlock();
        worker.join();
    }
    if (fromHandler) throw *fromHandler;
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
}

// Runs `op(wrapper)` like Invoke(). A `false` result raises Error with the wrapper's last error, or with
// `what` when the call left no message.
template <typename Op>
void Check(Session& s, const char* what, Op&& op) {
    const auto [ok, message, code] = Invoke(s, [&op](CFusionComputeWrapper& w) {
        const bool ok = op(w);
        return ok ? std::make_tuple(true, std::string(), 0L)
                  : std::make_tuple(false, w.GetLastError(), w.GetLastErrorCode());
    });
    if (!ok) Raise(message.empty() ? std::string(what) + " failed" : message, code);
}

// Runs a call that does not reach the network: with the GIL released and the wrapper locked, on the
// calling thread.
template <typename Op>
auto Run(Session& s, Op&& op) {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(s.mutex);
    return op(s.wrapper);
}

// Runs a fill of a whole list: the records are copied out of the Python list, filled without the GIL and
// copied back into the same Python objects.
template <typename T, typename Op>
py::list FillList(Session& s, const char* what, py::list items, Op&& op) {
    std::vector<T> records;
    records.reserve(items.size());
    for (py::handle item : items) records.push_back(item.cast<T>());
    Check(s, what, [&](CFusionComputeWrapper& w) { return op(w, records); });
    const std::size_t n = std::min(records.size(), static_cast<std::size_t>(items.size()));
    for (std::size_t i = 0; i < n; ++i) items[i].cast<T&>() = records[i];
    return items;
}

// The return policy of methods that fill a record passed in and give back that same Python object.
constexpr auto kSame = py::return_value_policy::reference;

// ---------------------------------------------------------------------------------------------------
// Module
// ---------------------------------------------------------------------------------------------------

void BindRecords(py::module_& m, const py::object& make) {
    Record<SBaseInfoLib>(m, "BaseInfo", "Fields shared by every VRM inventory object.").base().finish(make);
    Record<SVersionInfoLib>(m, "VersionInfo", "One interface version offered by the VRM.")
        .field("version", &SVersionInfoLib::version)
        .field("loginUri", &SVersionInfoLib::loginUri)
        .finish(make);
    Record<SErrorInfoLib>(m, "ErrorInfo", "The error body the VRM returns with a failed request.")
        .field("errorCode", &SErrorInfoLib::errorCode)
        .field("errorDes", &SErrorInfoLib::errorDes)
        .finish(make);
    Record<STaskInfoLib>(m, "TaskInfo", "A VRM task.")
        .field("taskUrn", &STaskInfoLib::taskUrn)
        .field("taskUri", &STaskInfoLib::taskUri)
        .field("type", &STaskInfoLib::type)
        .field("status", &STaskInfoLib::status)
        .field("entityUrn", &STaskInfoLib::entityUrn)
        .field("entityUri", &STaskInfoLib::entityUri)
        .field("urn", &STaskInfoLib::urn)
        .field("uri", &STaskInfoLib::uri)
        .field("startTime", &STaskInfoLib::startTime)
        .field("finishTime", &STaskInfoLib::finishTime)
        .field("progress", &STaskInfoLib::progress)
        .field("reason", &STaskInfoLib::reason)
        .field("reasonDes", &STaskInfoLib::reasonDes)
        .field("canceled", &STaskInfoLib::canceled)
        .field("cancelable", &STaskInfoLib::cancelable)
        .finish(make);
    Record<SWaitProgressLib>(m, "WaitProgress", "One poll of a task or backup resource a call waits for.")
        .field("urn", &SWaitProgressLib::urn)
        .field("type", &SWaitProgressLib::type)
        .field("progress", &SWaitProgressLib::progress)
        .field("status", &SWaitProgressLib::status)
        .field("elapsedSeconds", &SWaitProgressLib::elapsedSeconds)
        .finish(make);
    Record<SOSVersionInfoLib>(m, "OSVersionInfo",
                              "One guest operating-system version of the VRM's catalogue.")
        .field("id", &SOSVersionInfoLib::id)
        .field("versionDes", &SOSVersionInfoLib::versionDes)
        .field("cpuQuantityLimit", &SOSVersionInfoLib::cpuQuantityLimit)
        .field("cpuSocketLimit", &SOSVersionInfoLib::cpuSocketLimit)
        .field("memoryQuantityLimit", &SOSVersionInfoLib::memoryQuantityLimit)
        .field("supportMemHotPlug", &SOSVersionInfoLib::supportMemHotPlug)
        .finish(make);
#pragma push_macro("linux")
#undef linux
    Record<SOSVersionsInfoLib>(m, "OSVersionsInfo", "The VRM's guest-OS catalogue, one list per OS family.")
        .field("other", &SOSVersionsInfoLib::other)
        .field("windows", &SOSVersionsInfoLib::windows)
        .field("linux", &SOSVersionsInfoLib::linux)
        .finish(make);
#pragma pop_macro("linux")
    Record<SDiskSnapshotInfoLib>(m, "DiskSnapshotInfo", "The snapshot of one disk inside a VM snapshot.")
        .field("volumeUri", &SDiskSnapshotInfoLib::volumeUri)
        .field("volumeUrn", &SDiskSnapshotInfoLib::volumeUrn)
        .field("datastoreUrn", &SDiskSnapshotInfoLib::datastoreUrn)
        .field("volCBTCreateTime", &SDiskSnapshotInfoLib::volCBTCreateTime)
        .field("chgID", &SDiskSnapshotInfoLib::chgID)
        .field("snapUuid", &SDiskSnapshotInfoLib::snapUuid)
        .finish(make);
    Record<SSnapshotInfoLib>(m, "SnapshotInfo", "A snapshot of a VM.")
        .base()
        .field("createTime", &SSnapshotInfoLib::createTime)
        .field("status", &SSnapshotInfoLib::status)
        .field("includingMemorySnapshot", &SSnapshotInfoLib::includingMemorySnapshot)
        .field("volsnapshots", &SSnapshotInfoLib::volsnapshots)
        .finish(make);
    Record<SSnapshotTreeInfoLib>(m, "SnapshotTreeInfo", "One node of a VM's snapshot tree.")
        .base()
        .field("currentSnapshot", &SSnapshotTreeInfoLib::currentSnapshot)
        .field("childSnapshots", &SSnapshotTreeInfoLib::childSnapshots)
        .finish(make);
    Record<SDiskBitmapInfoLib>(m, "DiskBitmapInfo", "One page of a disk's block bitmap.")
        .field("sectorOfBlock", &SDiskBitmapInfoLib::sectorOfBlock)
        .field("bitNum", &SDiskBitmapInfoLib::bitNum)
        .field("bit1Num", &SDiskBitmapInfoLib::bit1Num)
        .field("bitMap", &SDiskBitmapInfoLib::bitMap)
        .finish(make);
    Record<SBackupResourceInfoLib>(m, "BackupResourceInfo", "A backup resource: network access to a disk.")
        .field("urn", &SBackupResourceInfoLib::urn)
        .field("uri", &SBackupResourceInfoLib::uri)
        .field("taskUri", &SBackupResourceInfoLib::taskUri)
        .field("taskUrn", &SBackupResourceInfoLib::taskUrn)
        .field("resourceUrl", &SBackupResourceInfoLib::resourceUrl)
        .field("hostIP", &SBackupResourceInfoLib::hostIP)
        .field("hostPort", &SBackupResourceInfoLib::hostPort)
        .field("targetFile", &SBackupResourceInfoLib::targetFile)
        .field("token", &SBackupResourceInfoLib::token)
        .field("caCert", &SBackupResourceInfoLib::caCert)
        .field("status", &SBackupResourceInfoLib::status)
        .field("reason", &SBackupResourceInfoLib::reason)
        .field("reasonDes", &SBackupResourceInfoLib::reasonDes)
        .field("runningTime", &SBackupResourceInfoLib::runningTime)
        .finish(make);
    Record<SOVFInfoLib>(m, "OVFInfo", "The answer of the VRM's OVF descriptor generation.")
        .field("ovfDescriptor", &SOVFInfoLib::ovfDescriptor)
        .finish(make);
    Record<SOVFFileItemInfoLib>(m, "OVFFileItemInfo", "One file of an OVF package.")
        .field("path", &SOVFFileItemInfoLib::path)
        .field("deviceId", &SOVFFileItemInfoLib::deviceId)
        .field("ovfId", &SOVFFileItemInfoLib::ovfId)
        .field("size", &SOVFFileItemInfoLib::size)
        .finish(make);
    Record<SStorageUnitInfoLib>(m, "StorageUnitInfo", "One storage unit a datastore is built on.")
        .field("urn", &SStorageUnitInfoLib::urn)
        .field("sdName", &SStorageUnitInfoLib::sdName)
        .field("suName", &SStorageUnitInfoLib::suName)
        .finish(make);
    Record<SStorageDeviceInfoLib>(m, "StorageDeviceInfo", "A storage unit as a host sees it.")
        .base()
        .field("status", &SStorageDeviceInfoLib::status)
        .field("type", &SStorageDeviceInfoLib::type)
        .field("capacityGB", &SStorageDeviceInfoLib::capacityGB)
        .field("wwn", &SStorageDeviceInfoLib::wwn)
        .field("isThin", &SStorageDeviceInfoLib::isThin)
        .finish(make);
    Record<SStorageResourceInfoLib>(m, "StorageResourceInfo", "A storage system known to the site.")
        .base()
        .field("storageType", &SStorageResourceInfoLib::storageType)
        .field("deviceType", &SStorageResourceInfoLib::deviceType)
        .field("managementIp", &SStorageResourceInfoLib::managementIp)
        .field("managementPort", &SStorageResourceInfoLib::managementPort)
        .field("iSCSITargetIQN", &SStorageResourceInfoLib::iSCSITargetIQN)
        .field("vender", &SStorageResourceInfoLib::vender)
        .finish(make);
    Record<SPortGroupInfoLib>(m, "PortGroupInfo", "A port group of a distributed virtual switch.")
        .base()
        .field("subnetUrn", &SPortGroupInfoLib::subnetUrn)
        .field("portType", &SPortGroupInfoLib::portType)
        .field("vlanId", &SPortGroupInfoLib::vlanId)
        .field("vxlanId", &SPortGroupInfoLib::vxlanId)
        .field("vlanRange", &SPortGroupInfoLib::vlanRange)
        .field("adminStatus", &SPortGroupInfoLib::adminStatus)
        .field("txLimit", &SPortGroupInfoLib::txLimit)
        .field("txPeakLimit", &SPortGroupInfoLib::txPeakLimit)
        .field("txBurstSize", &SPortGroupInfoLib::txBurstSize)
        .field("txWeight", &SPortGroupInfoLib::txWeight)
        .field("priority", &SPortGroupInfoLib::priority)
        .field("rxLimit", &SPortGroupInfoLib::rxLimit)
        .field("rxPeakLimit", &SPortGroupInfoLib::rxPeakLimit)
        .field("rxBurstSize", &SPortGroupInfoLib::rxBurstSize)
        .field("rxWeight", &SPortGroupInfoLib::rxWeight)
        .field("isDhcpIsolation", &SPortGroupInfoLib::isDhcpIsolation)
        .field("isIpMacBind", &SPortGroupInfoLib::isIpMacBind)
        .field("vspNum", &SPortGroupInfoLib::vspNum)
        .field("multicastIp", &SPortGroupInfoLib::multicastIp)
        .field("arpBcstSuppress", &SPortGroupInfoLib::arpBcstSuppress)
        .field("ipBcstSuppress", &SPortGroupInfoLib::ipBcstSuppress)
        .finish(make);
    Record<SNetworkInfoLib>(m, "NetworkInfo", "A distributed virtual switch.")
        .base()
        .field("type", &SNetworkInfoLib::type)
        .field("portGroupNum", &SNetworkInfoLib::portGroupNum)
        .field("isIgmpSnooping", &SNetworkInfoLib::isIgmpSnooping)
        .field("portGroups", &SNetworkInfoLib::portGroups)
        .finish(make);
    Record<SDiskInfoLib>(m, "DiskInfo", "A disk (a VRM volume).")
        .base()
        .field("uuid", &SDiskInfoLib::uuid)
        .field("volumeUrl", &SDiskInfoLib::volumeUrl)
        .field("quantityGB", &SDiskInfoLib::quantityGB)
        .field("userUsedSize", &SDiskInfoLib::userUsedSize)
        .field("datastoreName", &SDiskInfoLib::datastoreName)
        .field("datastoreUrn", &SDiskInfoLib::datastoreUrn)
        .field("pciType", &SDiskInfoLib::pciType)
        .field("sequenceNum", &SDiskInfoLib::sequenceNum)
        .field("volType", &SDiskInfoLib::volType)
        .field("isThin", &SDiskInfoLib::isThin)
        .field("persistentDisk", &SDiskInfoLib::persistentDisk)
        .field("indepDisk", &SDiskInfoLib::indepDisk)
        .finish(make);
    Record<SVMNetworkCardInfoLib>(m, "VMNetworkCardInfo", "A virtual network card of a VM.")
        .base()
        .field("nicType", &SVMNetworkCardInfoLib::nicType)
        .field("sequenceNum", &SVMNetworkCardInfoLib::sequenceNum)
        .field("portGroupName", &SVMNetworkCardInfoLib::portGroupName)
        .field("portGroupUrn", &SVMNetworkCardInfoLib::portGroupUrn)
        .field("portId", &SVMNetworkCardInfoLib::portId)
        .field("ip", &SVMNetworkCardInfoLib::ip)
        .field("mac", &SVMNetworkCardInfoLib::mac)
        .field("dvSwitchName", &SVMNetworkCardInfoLib::dvSwitchName)
        .field("dvSwitchUrn", &SVMNetworkCardInfoLib::dvSwitchUrn)
        .field("virtIo", &SVMNetworkCardInfoLib::virtIo)
        .finish(make);
    Record<SVMInfoLib>(m, "VMInfo", "A virtual machine or template.")
        .base()
        .field("status", &SVMInfoLib::status)
        .field("uuid", &SVMInfoLib::uuid)
        .field("hostName", &SVMInfoLib::hostName)
        .field("hostUrn", &SVMInfoLib::hostUrn)
        .field("clusterName", &SVMInfoLib::clusterName)
        .field("clusterUrn", &SVMInfoLib::clusterUrn)
        .field("cpuQuantity", &SVMInfoLib::cpuQuantity)
        .field("coresPerSocket", &SVMInfoLib::coresPerSocket)
        .field("memoryQuantityMB", &SVMInfoLib::memoryQuantityMB)
        .field("osType", &SVMInfoLib::osType)
        .field("osVersion", &SVMInfoLib::osVersion)
        .field("guestOSName", &SVMInfoLib::guestOSName)
        .field("toolsVersion", &SVMInfoLib::toolsVersion)
        .field("isTemplate", &SVMInfoLib::isTemplate)
        .field("disks", &SVMInfoLib::disks)
        .field("snapshots", &SVMInfoLib::snapshots)
        .field("nics", &SVMInfoLib::nics)
        .finish(make);
    Record<SDataStoreInfoLib>(m, "DataStoreInfo", "A datastore.")
        .base()
        .field("status", &SDataStoreInfoLib::status)
        .field("storageType", &SDataStoreInfoLib::storageType)
        .field("isThin", &SDataStoreInfoLib::isThin)
        .field("capacityGB", &SDataStoreInfoLib::capacityGB)
        .field("usedSizeGB", &SDataStoreInfoLib::usedSizeGB)
        .field("freeSizeGB", &SDataStoreInfoLib::freeSizeGB)
        .field("hosts", &SDataStoreInfoLib::hosts)
        .field("vms", &SDataStoreInfoLib::vms)
        .field("storageUnits", &SDataStoreInfoLib::storageUnits)
        .field("storageResource", &SDataStoreInfoLib::storageResource)
        .field("suUrn", &SDataStoreInfoLib::suUrn)
        .field("suName", &SDataStoreInfoLib::suName)
        .field("clusterSize", &SDataStoreInfoLib::clusterSize)
        .finish(make);
    Record<SHostInfoLib>(m, "HostInfo", "A host (a physical server of the site).")
        .base()
        .field("status", &SHostInfoLib::status)
        .field("ip", &SHostInfoLib::ip)
        .field("clusterName", &SHostInfoLib::clusterName)
        .field("clusterUrn", &SHostInfoLib::clusterUrn)
        .field("cpuMHz", &SHostInfoLib::cpuMHz)
        .field("cpuQuantity", &SHostInfoLib::cpuQuantity)
        .field("totalSizeMB", &SHostInfoLib::totalSizeMB)
        .field("allocatedSizeMB", &SHostInfoLib::allocatedSizeMB)
        .field("vms", &SHostInfoLib::vms)
        .field("datastores", &SHostInfoLib::datastores)
        .field("storageDevices", &SHostInfoLib::storageDevices)
        .field("networks", &SHostInfoLib::networks)
        .finish(make);
    Record<SClusterInfoLib>(m, "ClusterInfo", "A cluster of hosts.")
        .base()
        .field("hosts", &SClusterInfoLib::hosts)
        .field("vms", &SClusterInfoLib::vms)
        .field("parentObjUrn", &SClusterInfoLib::parentObjUrn)
        .field("parentObjName", &SClusterInfoLib::parentObjName)
        .finish(make);
    Record<SFolderInfoLib>(m, "FolderInfo", "A folder of clusters or of VMs.")
        .base()
        .field("clusters", &SFolderInfoLib::clusters)
        .field("vms", &SFolderInfoLib::vms)
        .finish(make);
    Record<SSiteInfoLib>(m, "SiteInfo", "A site, the top of the VRM's inventory.")
        .base()
        .field("clusters", &SSiteInfoLib::clusters)
        .finish(make);
}

void BindFlags(py::module_& m) {
    // Member names drop the common prefix: VM_PROP_VM_DISK_LIST is VmProp.VM_DISK_LIST. The C++ names are
    // module constants too, so code ported from C++ reads the same.
    const std::vector<std::pair<const char*, UINT64>> flags = {
        {"MIN_VM_PROPS", MIN_VM_PROPS},
        {"VM_PROP_ALL", VM_PROP_ALL},
        {"VM_PROP_ALL_VM", VM_PROP_ALL_VM},
        {"VM_PROP_ALL_HOST", VM_PROP_ALL_HOST},
        {"VM_PROP_ALL_DS", VM_PROP_ALL_DS},
        {"VM_PROP_ALL_OTHER", VM_PROP_ALL_OTHER},
        {"VM_PROP_ALL_SPECIAL", VM_PROP_ALL_SPECIAL},
        {"VM_PROP_VM_HOST_INFO", VM_PROP_VM_HOST_INFO},
        {"VM_PROP_VM_GUEST_INFO", VM_PROP_VM_GUEST_INFO},
        {"VM_PROP_VM_CFG_FILE", VM_PROP_VM_CFG_FILE},
        {"VM_PROP_VM_SNAPSHOT_LIST", VM_PROP_VM_SNAPSHOT_LIST},
        {"VM_PROP_VM_DISK_LIST", VM_PROP_VM_DISK_LIST},
        {"VM_PROP_VM_NW_LIST", VM_PROP_VM_NW_LIST},
        {"VM_PROP_VM_HOSTDATACENTER", VM_PROP_VM_HOSTDATACENTER},
        {"VM_PROP_VM_REPLICATION_INFO", VM_PROP_VM_REPLICATION_INFO},
        {"VM_PROP_VM_DISK_LIST_ADVANCED", VM_PROP_VM_DISK_LIST_ADVANCED},
        {"VM_PROP_VM_STUB_STATE", VM_PROP_VM_STUB_STATE},
        {"VM_PROP_VM_DS_FILE_LIST", VM_PROP_VM_DS_FILE_LIST},
        {"VM_PROP_VM_POWER_OFF_TIME", VM_PROP_VM_POWER_OFF_TIME},
        {"VM_PROP_VM_OWNER_INFO", VM_PROP_VM_OWNER_INFO},
        {"VM_PROP_VM_ATTRIBUTES", VM_PROP_VM_ATTRIBUTES},
        {"VM_PROP_HOST_KEY_PAIR_LIST", VM_PROP_HOST_KEY_PAIR_LIST},
        {"VM_PROP_HOST_RP_VM_LIST", VM_PROP_HOST_RP_VM_LIST},
        {"VM_PROP_HOST_DS_LIST", VM_PROP_HOST_DS_LIST},
        {"VM_PROP_HOST_NW_LIST", VM_PROP_HOST_NW_LIST},
        {"VM_PROP_HOST_ADAP_INFO", VM_PROP_HOST_ADAP_INFO},
        {"VM_PROP_HOST_RSC_POOL_INFO", VM_PROP_HOST_RSC_POOL_INFO},
        {"VM_PROP_HOST_VM_LIST", VM_PROP_HOST_VM_LIST},
        {"VM_PROP_HOST_REPLICATION_INFO", VM_PROP_HOST_REPLICATION_INFO},
        {"VM_PROP_HOST_NW_ADAP_INFO", VM_PROP_HOST_NW_ADAP_INFO},
        {"VM_PROP_DS_EXTENT_LIST", VM_PROP_DS_EXTENT_LIST},
        {"VM_PROP_DS_ALL_VMS", VM_PROP_DS_ALL_VMS},
        {"VM_PROP_DS_VM_LIST", VM_PROP_DS_VM_LIST},
        {"VM_PROP_VAPP_VM_LIST", VM_PROP_VAPP_VM_LIST},
        {"VM_PROP_DATACENTER_CLUSTER_LIST", VM_PROP_DATACENTER_CLUSTER_LIST},
        {"VM_PROP_DATACENTER_DS_LIST", VM_PROP_DATACENTER_DS_LIST},
        {"VM_PROP_CLUSTER_VM_LIST", VM_PROP_CLUSTER_VM_LIST},
        {"VM_PROP_CLUSTER_HOST_LIST", VM_PROP_CLUSTER_HOST_LIST},
        {"VM_PROP_INCLUDE_HQ_BACKUP", VM_PROP_INCLUDE_HQ_BACKUP},
        {"VM_PROP_INCLUDE_PUBLIC_TEMPLATES", VM_PROP_INCLUDE_PUBLIC_TEMPLATES},
    };
    py::list members;
    for (const auto& [name, value] : flags) {
        const std::string full = name;
        const std::string member =
            full == "MIN_VM_PROPS" ? "MIN" : full.substr(std::string("VM_PROP_").size());
        members.append(py::make_tuple(member, py::int_(value)));
    }
    py::object flagType =
        py::module_::import("enum").attr("IntFlag")("VmProp", members, py::arg("module") = "fusioncompute");
    flagType.attr("__doc__") = "Detail mask of the inventory calls (the VM_PROP_* flags).";
    m.attr("VmProp") = flagType;
    for (const auto& [name, value] : flags) m.attr(name) = flagType(py::int_(value));
}

py::list ChangedExtents(const py::object& bitmapResult) {
    // Accepts what the block queries return, a (bitmap, sector_of_block) tuple, or the bitmap text alone.
    std::string bitmap;
    if (py::isinstance<py::str>(bitmapResult)) {
        bitmap = bitmapResult.cast<std::string>();
    } else if (py::isinstance<py::tuple>(bitmapResult) && py::len(bitmapResult) == 2) {
        bitmap = bitmapResult.cast<py::tuple>()[0].cast<std::string>();
    } else {
        throw py::type_error("changed_extents() takes a (bitmap, sector_of_block) tuple or a bitmap text");
    }
    // Block numbers do not depend on the block size, and the disk's size is not known here.
    std::vector<SBlockExtentLib> extents;
    std::string error;
    if (!BitmapToExtents(bitmap, 1, 0, extents, error)) throw py::value_error(error);
    py::list result;
    for (const SBlockExtentLib& extent : extents)
        result.append(py::make_tuple(extent.startBlock, extent.blockCount));
    return result;
}

using W = CFusionComputeWrapper;
using StringMap = std::map<std::string, std::string>;

void BindWrapper(py::module_& m) {
    py::class_<Session> w(m, "Wrapper",
                          "One session with a VRM. Construct it (no request is sent), call connect() once, "
                          "then any other method. A failed call raises fusioncompute.Error.");
    w.def(py::init<>());

    // Lifecycle, connect, versions, site and errors.
    w.def(
        "enable_debug", [](Session& s) { Run(s, [](W& x) { x.EnableDebug(); }); },
        "Turns on the transport's request and response logging (secrets stay masked).");
    w.def(
        "connect",
        [](Session& s, const std::string& host, const std::string& user, const std::string& password) {
            Check(s, "Connect", [&](W& x) { return x.Connect(host, user, password); });
        },
        py::arg("host"), py::arg("user"), py::arg("password"),
        "Opens the session: reads the API versions, logs in and reads the sites.");
    w.def(
        "set_connection_options",
        [](Session& s, std::optional<std::string> caFile, std::optional<bool> verifyPeer,
           std::optional<std::string> connectTo, std::optional<int> port, std::optional<long> connectTimeout,
           std::optional<long> lowSpeedTime, std::optional<long> requestTimeout,
           std::optional<long> maxResponseMB) {
            SConnectionOptionsLib options;
            options.caFile = std::move(caFile);
            options.verifyPeer = verifyPeer;
            options.connectTo = std::move(connectTo);
            options.port = port;
            options.connectTimeoutSeconds = connectTimeout;
            options.lowSpeedTimeSeconds = lowSpeedTime;
            options.requestTimeoutSeconds = requestTimeout;
            options.maxResponseMB = maxResponseMB;
            Check(s, "SetConnectionOptions", [&](W& x) { return x.SetConnectionOptions(options); });
        },
        py::kw_only(), py::arg("ca_file") = py::none(), py::arg("verify_peer") = py::none(),
        py::arg("connect_to") = py::none(), py::arg("port") = py::none(),
        py::arg("connect_timeout_seconds") = py::none(), py::arg("low_speed_time_seconds") = py::none(),
        py::arg("request_timeout_seconds") = py::none(), py::arg("max_response_mb") = py::none(),
        "This wrapper's transport settings, used from the next connect(); each one given overrides the "
        "configuration file's for this wrapper only.");
    w.def(
        "decode_version",
        [](Session& s, const std::string& text) {
            return Run(s, [&](W& x) { return x.DecodeVersion(text); });
        },
        py::arg("version_text"),
        "Turns a version text such as 'v6.3' into its number (63); 0 when unreadable.");
    w.def(
        "check_connection", [](Session& s) { return Run(s, [](W& x) { return x.CheckConnection(); }); },
        "Tells whether the wrapper can be used; sends no request.");
    w.def(
        "get_management_version_info",
        [](Session& s) {
            SVersionInfoLib info;
            if (!Run(s, [&](W& x) { return x.GetManagementVersionInfo(info); }))
                Raise("No API version has been read yet: connect first", 0);
            return info;
        },
        "The highest API version the VRM listed at connect time.");
    w.def(
        "get_management_version_number",
        [](Session& s) {
            int number = 0;
            if (!Run(s, [&](W& x) { return x.GetManagementVersionNumber(number); }))
                Raise("No API version has been read yet: connect first", 0);
            return number;
        },
        "The number of the highest API version the VRM listed (63 for 'v6.3').");
    w.def(
        "get_site", [](Session& s) { return Run(s, [](W& x) { return SSiteInfoLib(x.GetSite()); }); },
        "The site every call works in (a copy); an empty record before connect().");
    w.def(
        "get_last_error_code", [](Session& s) { return Run(s, [](W& x) { return x.GetLastErrorCode(); }); },
        "Code of the last VRM error body received by this wrapper; 0 when none.");
    w.def(
        "get_last_error", [](Session& s) { return Run(s, [](W& x) { return x.GetLastError(); }); },
        "Message of the last failure of this wrapper.");
    w.def(
        "is_create_vm_snapshot_error_retryable",
        [](Session& s) { return Run(s, [](W& x) { return x.IsCreateVMSnapshotErrorRetryable(); }); },
        "Whether creating a snapshot may succeed later after the last VRM error.");

    w.def(
        "cancel", [](Session& s) { s.wrapper.Cancel(); },
        "Asks the call in progress on this wrapper to stop: it raises Error('Cancelled') within about a "
        "second. Takes no lock, so another thread or a signal handler may call it.");
    w.def(
        "set_progress_callback",
        [](Session& s, py::object callback) {
            std::function<void(const SWaitProgressLib&)> report;
            if (!callback.is_none()) {
                // The wrapper may drop its copy on a thread without the GIL; the last reference is
                // released with it taken.
                std::shared_ptr<py::object> held(new py::object(std::move(callback)), [](py::object* f) {
                    py::gil_scoped_acquire gil;
                    delete f;
                });
                report = [held](const SWaitProgressLib& progress) {
                    py::gil_scoped_acquire gil;
                    try {
                        (*held)(progress);
                    } catch (py::error_already_set& e) {
                        // Like an exception in a destructor: reported, and the wait goes on.
                        e.discard_as_unraisable("fusioncompute progress callback");
                    }
                };
            }
            Run(s, [&report](W& x) { x.SetProgressCallback(std::move(report)); });
        },
        py::arg("callback"),
        "Calls callback(WaitProgress) after every poll of a task or backup resource that a later call "
        "waits for, on the thread that runs the call; None turns it off. An exception it raises is "
        "reported through sys.unraisablehook and the wait goes on.");
    w.def(
        "logout", [](Session& s) { Check(s, "Logout", [](W& x) { return x.Logout(); }); },
        "Ends the session on the VRM; connect() opens a new one.");

    // Inventory.
    w.def(
        "get_site_info",
        [](Session& s, const std::string& name, const std::string& urn, UINT64 flags) {
            SSiteInfoLib site;
            Check(s, "GetSiteInfo", [&](W& x) { return x.GetSiteInfo(name, urn, site, flags); });
            return site;
        },
        py::arg("name") = "", py::arg("urn") = "", py::arg("flags") = 0, "Finds one site by URN or name.");
    w.def(
        "get_site_info_list",
        [](Session& s, UINT64 flags) {
            std::vector<SSiteInfoLib> sites;
            Check(s, "GetSiteInfoList", [&](W& x) { return x.GetSiteInfoList(sites, flags); });
            return sites;
        },
        py::arg("flags") = 0, "Lists every site of the VRM.");
    w.def(
        "get_cluster_info",
        [](Session& s, const std::string& name, const std::string& urn, UINT64 flags) {
            SClusterInfoLib cluster;
            Check(s, "GetClusterInfo", [&](W& x) { return x.GetClusterInfo(name, urn, cluster, flags); });
            return cluster;
        },
        py::arg("name") = "", py::arg("urn") = "", py::arg("flags") = 0, "Finds one cluster by URN or name.");
    w.def(
        "get_cluster_info_list",
        [](Session& s, UINT64 flags) {
            std::vector<SClusterInfoLib> clusters;
            Check(s, "GetClusterInfoList", [&](W& x) { return x.GetClusterInfoList(clusters, flags); });
            return clusters;
        },
        py::arg("flags") = 0, "Lists the clusters of the site.");
    w.def(
        "get_cluster_info_list_for_folder",
        [](Session& s, const std::string& folderUrn, UINT64 flags) {
            std::vector<SClusterInfoLib> clusters;
            Check(s, "GetClusterInfoListForFolder",
                  [&](W& x) { return x.GetClusterInfoListForFolder(folderUrn, clusters, flags); });
            return clusters;
        },
        py::arg("folder_urn") = "", py::arg("flags") = 0, "Lists the clusters of a cluster folder.");
    w.def(
        "get_host_info",
        [](Session& s, const std::string& name, const std::string& urn, UINT64 flags) {
            SHostInfoLib host;
            Check(s, "GetHostInfo", [&](W& x) { return x.GetHostInfo(name, urn, host, flags); });
            return host;
        },
        py::arg("name") = "", py::arg("urn") = "", py::arg("flags") = 0, "Finds one host by name.");
    w.def(
        "get_host_info_list",
        [](Session& s, UINT64 flags) {
            std::vector<SHostInfoLib> hosts;
            Check(s, "GetHostInfoList", [&](W& x) { return x.GetHostInfoList(hosts, flags); });
            return hosts;
        },
        py::arg("flags") = 0, "Lists the hosts of the site.");
    w.def(
        "get_host_info_list_for_cluster",
        [](Session& s, const std::string& clusterUrn, UINT64 flags) {
            std::vector<SHostInfoLib> hosts;
            Check(s, "GetHostInfoListForCluster",
                  [&](W& x) { return x.GetHostInfoListForCluster(clusterUrn, hosts, flags); });
            return hosts;
        },
        py::arg("cluster_urn") = "", py::arg("flags") = 0, "Lists the hosts of a cluster.");
    w.def(
        "get_vm_info",
        [](Session& s, const std::string& name, const std::string& urn, const std::string& uuid,
           UINT64 flags) {
            SVMInfoLib vm;
            Check(s, "GetVMInfo", [&](W& x) { return x.GetVMInfo(name, urn, uuid, vm, flags); });
            return vm;
        },
        py::arg("name") = "", py::arg("urn") = "", py::arg("uuid") = "", py::arg("flags") = 0,
        "Finds one VM by UUID, URN or name (in that order).");
    w.def(
        "get_vm_info_list",
        [](Session& s, UINT64 flags) {
            std::vector<SVMInfoLib> vms;
            Check(s, "GetVMInfoList", [&](W& x) { return x.GetVMInfoList(vms, flags); });
            return vms;
        },
        py::arg("flags") = 0, "Lists every VM of the site.");
    w.def(
        "get_vm_template_list",
        [](Session& s, UINT64 flags) {
            std::vector<SVMInfoLib> vms;
            Check(s, "GetVMTemplateList", [&](W& x) { return x.GetVMTemplateList(vms, flags); });
            return vms;
        },
        py::arg("flags") = 0, "Lists the VM templates of the site.");
    w.def(
        "get_vm_info_list_for_folder",
        [](Session& s, const std::string& folderUrn, UINT64 flags) {
            std::vector<SVMInfoLib> vms;
            Check(s, "GetVMInfoListForFolder",
                  [&](W& x) { return x.GetVMInfoListForFolder(folderUrn, vms, flags); });
            return vms;
        },
        py::arg("folder_urn") = "", py::arg("flags") = 0, "Lists the VMs of a VM folder.");
    w.def(
        "get_data_store_info",
        [](Session& s, const std::string& name, const std::string& urn, UINT64 flags) {
            SDataStoreInfoLib datastore;
            Check(s, "GetDataStoreInfo",
                  [&](W& x) { return x.GetDataStoreInfo(name, urn, datastore, flags); });
            return datastore;
        },
        py::arg("name") = "", py::arg("urn") = "", py::arg("flags") = 0, "Finds one datastore by name.");
    w.def(
        "get_data_store_info_list",
        [](Session& s, UINT64 flags) {
            std::vector<SDataStoreInfoLib> datastores;
            Check(s, "GetDataStoreInfoList", [&](W& x) { return x.GetDataStoreInfoList(datastores, flags); });
            return datastores;
        },
        py::arg("flags") = 0, "Lists the datastores of the site.");
    w.def(
        "get_cluster_folder_info_list",
        [](Session& s) {
            std::vector<SFolderInfoLib> folders;
            Check(s, "GetClusterFolderInfoList", [&](W& x) { return x.GetClusterFolderInfoList(folders); });
            return folders;
        },
        "Lists the top-level cluster folders of the site.");
    w.def(
        "get_vm_folder_info_list",
        [](Session& s, const std::string& parentUrn) {
            std::vector<SFolderInfoLib> folders;
            Check(s, "GetVMFolderInfoList", [&](W& x) { return x.GetVMFolderInfoList(parentUrn, folders); });
            return folders;
        },
        py::arg("parent_urn") = "", "Lists the VM folders below a parent.");
    w.def(
        "get_folder_info_list",
        [](Session& s) { Check(s, "GetFolderInfoList", [](W& x) { return x.GetFolderInfoList(); }); },
        "Reads the top-level cluster folders and drops them.");

    // The Fill*Details calls complete a record (or every record of a list) in place and return it.
    w.def(
        "fill_site_info_details",
        [](Session& s, SSiteInfoLib& site, UINT64 flags) -> SSiteInfoLib& {
            SSiteInfoLib copy = site;
            Check(s, "FillSiteInfoDetails", [&](W& x) { return x.FillSiteInfoDetails(copy, flags); });
            site = std::move(copy);
            return site;
        },
        py::arg("site"), py::arg("flags") = 0, kSame, "Fills a site's clusters and their details.");
    w.def(
        "fill_cluster_info_details",
        [](Session& s, SClusterInfoLib& cluster, UINT64 flags) -> SClusterInfoLib& {
            SClusterInfoLib copy = cluster;
            Check(s, "FillClusterInfoDetails", [&](W& x) { return x.FillClusterInfoDetails(copy, flags); });
            cluster = std::move(copy);
            return cluster;
        },
        py::arg("cluster"), py::arg("flags") = 0, kSame, "Fills a cluster's VMs and hosts.");
    w.def(
        "fill_host_info_details",
        [](Session& s, SHostInfoLib& host, UINT64 flags) -> SHostInfoLib& {
            SHostInfoLib copy = host;
            Check(s, "FillHostInfoDetails", [&](W& x) { return x.FillHostInfoDetails(copy, flags); });
            host = std::move(copy);
            return host;
        },
        py::arg("host"), py::arg("flags") = 0, kSame,
        "Fills a host's VMs, datastores, storage devices and networks.");
    w.def(
        "fill_data_store_info_details",
        [](Session& s, SDataStoreInfoLib& datastore, UINT64 flags) -> SDataStoreInfoLib& {
            SDataStoreInfoLib copy = datastore;
            Check(s, "FillDataStoreInfoDetails",
                  [&](W& x) { return x.FillDataStoreInfoDetails(copy, flags); });
            datastore = std::move(copy);
            return datastore;
        },
        py::arg("datastore"), py::arg("flags") = 0, kSame, "Fills a datastore's VMs and storage resource.");
    w.def(
        "fill_vm_info_details",
        [](Session& s, SVMInfoLib& vm, UINT64 flags) -> SVMInfoLib& {
            SVMInfoLib copy = vm;
            Check(s, "FillVMInfoDetails", [&](W& x) { return x.FillVMInfoDetails(copy, flags); });
            vm = std::move(copy);
            return vm;
        },
        py::arg("vm"), py::arg("flags") = 0, kSame,
        "Fills a VM's guest OS name, disks, snapshots and switches.");
    w.def(
        "fill_site_info_list_details",
        [](Session& s, py::list sites, UINT64 flags) {
            return FillList<SSiteInfoLib>(s, "FillSiteInfoListDetails", sites,
                                          [&](W& x, auto& v) { return x.FillSiteInfoListDetails(v, flags); });
        },
        py::arg("sites"), py::arg("flags") = 0, "Fills every site of a list.");
    w.def(
        "fill_cluster_info_list_details",
        [](Session& s, py::list clusters, UINT64 flags) {
            return FillList<SClusterInfoLib>(s, "FillClusterInfoListDetails", clusters, [&](W& x, auto& v) {
                return x.FillClusterInfoListDetails(v, flags);
            });
        },
        py::arg("clusters"), py::arg("flags") = 0, "Fills every cluster of a list.");
    w.def(
        "fill_host_info_list_details",
        [](Session& s, py::list hosts, UINT64 flags) {
            return FillList<SHostInfoLib>(s, "FillHostInfoListDetails", hosts,
                                          [&](W& x, auto& v) { return x.FillHostInfoListDetails(v, flags); });
        },
        py::arg("hosts"), py::arg("flags") = 0, "Fills every host of a list.");
    w.def(
        "fill_data_store_info_list_details",
        [](Session& s, py::list datastores, UINT64 flags) {
            return FillList<SDataStoreInfoLib>(
                s, "FillDataStoreInfoListDetails", datastores,
                [&](W& x, auto& v) { return x.FillDataStoreInfoListDetails(v, flags); });
        },
        py::arg("datastores"), py::arg("flags") = 0, "Fills every datastore of a list.");
    w.def(
        "fill_vm_info_list_details",
        [](Session& s, py::list vms, UINT64 flags) {
            return FillList<SVMInfoLib>(s, "FillVMInfoListDetails", vms,
                                        [&](W& x, auto& v) { return x.FillVMInfoListDetails(v, flags); });
        },
        py::arg("vms"), py::arg("flags") = 0,
        "Fills every VM of a list (one network read for the whole list).");

    // VM management.
    w.def(
        "power_on_vm",
        [](Session& s, const std::string& name, const std::string& urn, const std::string& uuid) {
            Check(s, "PowerOnVM", [&](W& x) { return x.PowerOnVM(name, urn, uuid); });
        },
        py::arg("name") = "", py::arg("urn") = "", py::arg("uuid") = "", "Starts a VM.");
    w.def(
        "power_off_vm",
        [](Session& s, const std::string& name, const std::string& urn, const std::string& uuid) {
            Check(s, "PowerOffVM", [&](W& x) { return x.PowerOffVM(name, urn, uuid); });
        },
        py::arg("name") = "", py::arg("urn") = "", py::arg("uuid") = "", "Stops a VM at once (forced stop).");
    w.def(
        "shutdown_vm",
        [](Session& s, const std::string& name, const std::string& urn, const std::string& uuid) {
            Check(s, "ShutdownVM", [&](W& x) { return x.ShutdownVM(name, urn, uuid); });
        },
        py::arg("name") = "", py::arg("urn") = "", py::arg("uuid") = "",
        "Shuts a VM down through its guest.");
    w.def(
        "change_vm_power_state",
        [](Session& s, const std::string& name, const std::string& urn, const std::string& uuid, bool powerOn,
           bool force) {
            Check(s, "ChangeVMPowerState",
                  [&](W& x) { return x.ChangeVMPowerState(name, urn, uuid, powerOn, force); });
        },
        py::arg("name"), py::arg("urn"), py::arg("uuid"), py::arg("power_on"), py::arg("force"),
        "Looks a VM up and starts or stops it.");
    w.def(
        "update_vm_location_for_create",
        [](Session& s, SVMInfoLib& vm) -> SVMInfoLib& {
            SVMInfoLib copy = vm;
            Check(s, "UpdateVMLocationForCreate", [&](W& x) { return x.UpdateVMLocationForCreate(copy); });
            vm = std::move(copy);
            return vm;
        },
        py::arg("vm"), kSame, "Completes the host or cluster URN of a VM to create from its names.");
    w.def(
        "create_vm",
        [](Session& s, SVMInfoLib& vm) -> SVMInfoLib& {
            SVMInfoLib copy = vm;
            Check(s, "CreateVM", [&](W& x) { return x.CreateVM(copy); });
            vm = std::move(copy);
            return vm;
        },
        py::arg("vm"), kSame, "Creates a VM from the record and reads it back into the record.");
    w.def(
        "create_vm_from_ovf_descriptor",
        [](Session& s, const std::string& descriptor, SVMInfoLib& vm,
           const StringMap& diskPathMap) -> SVMInfoLib& {
            SVMInfoLib copy = vm;
            Check(s, "CreateVMFromOVFDescriptor",
                  [&](W& x) { return x.CreateVMFromOVFDescriptor(descriptor, copy, diskPathMap); });
            vm = std::move(copy);
            return vm;
        },
        py::arg("descriptor"), py::arg("vm"), py::arg("disk_path_map"), kSame,
        "Creates a VM from an OVF descriptor and reads it back into the record.");
    w.def(
        "delete_vm",
        [](Session& s, SVMInfoLib vm, bool deleteDisks) {
            Check(s, "DeleteVM", [&](W& x) { return x.DeleteVM(vm, deleteDisks); });
        },
        py::arg("vm"), py::arg("delete_disks"), "Deletes a VM.");
    w.def(
        "delete_vm",
        [](Session& s, const std::string& name, const std::string& urn, const std::string& uuid,
           bool deleteDisks) {
            Check(s, "DeleteVM", [&](W& x) { return x.DeleteVM(name, urn, uuid, deleteDisks); });
        },
        py::arg("name"), py::arg("urn"), py::arg("uuid"), py::arg("delete_disks"),
        "Deletes a VM given by its identity.");
    w.def(
        "modify_vm",
        [](Session& s, SVMInfoLib& vm) -> SVMInfoLib& {
            SVMInfoLib copy = vm;
            Check(s, "ModifyVM", [&](W& x) { return x.ModifyVM(copy); });
            vm = std::move(copy);
            return vm;
        },
        py::arg("vm"), kSame, "Changes a VM's name, processors and memory to the record's values.");
    w.def(
        "get_ovf_descriptor_for_vm",
        [](Session& s, SVMInfoLib vm) {
            std::string descriptor;
            Check(s, "GetOVFDescriptorForVM", [&](W& x) { return x.GetOVFDescriptorForVM(vm, descriptor); });
            return descriptor;
        },
        py::arg("vm"), "Makes the OVF descriptor of a VM.");
    w.def(
        "get_ovf_descriptor_for_vm",
        [](Session& s, const std::string& name, const std::string& urn, const std::string& uuid) {
            std::string descriptor;
            Check(s, "GetOVFDescriptorForVM",
                  [&](W& x) { return x.GetOVFDescriptorForVM(name, urn, uuid, descriptor); });
            return descriptor;
        },
        py::arg("name"), py::arg("urn"), py::arg("uuid"),
        "Makes the OVF descriptor of a VM given by its identity.");
    w.def(
        "get_json_descriptor_for_vm",
        [](Session& s, SVMInfoLib vm) {
            std::string descriptor;
            Check(s, "GetJSONDescriptorForVM",
                  [&](W& x) { return x.GetJSONDescriptorForVM(vm, descriptor); });
            return descriptor;
        },
        py::arg("vm"), "Reads the VRM's JSON object of a VM, unchanged.");
    w.def(
        "get_vm_info_from_json_descriptor",
        [](Session& s, const std::string& descriptor) {
            SVMInfoLib vm;
            Check(s, "GetVMInfoFromJSONDescriptor",
                  [&](W& x) { return x.GetVMInfoFromJSONDescriptor(descriptor, vm); });
            return vm;
        },
        py::arg("descriptor"), "Reads a JSON descriptor into a VM record; sends nothing.");
    w.def(
        "reconnect_networks_from_json_descriptor",
        [](Session& s, SVMInfoLib vm, const std::string& descriptor) {
            Check(s, "ReconnectNetworksFromJSONDescriptor",
                  [&](W& x) { return x.ReconnectNetworksFromJSONDescriptor(vm, descriptor); });
        },
        py::arg("vm"), py::arg("descriptor"), "Adds to a VM the network cards listed in a JSON descriptor.");
    w.def(
        "create_disk",
        [](Session& s, SDiskInfoLib& disk, bool omitVolType) -> SDiskInfoLib& {
            SDiskInfoLib copy = disk;
            Check(s, "CreateDisk", [&](W& x) { return x.CreateDisk(copy, omitVolType); });
            disk = std::move(copy);
            return disk;
        },
        py::arg("disk"), py::arg("omit_vol_type") = false, kSame,
        "Creates a volume and reads it back into the record.");
    w.def(
        "delete_disk",
        [](Session& s, SDiskInfoLib disk) {
            Check(s, "DeleteDisk", [&](W& x) { return x.DeleteDisk(disk); });
        },
        py::arg("disk"), "Deletes a volume.");
    w.def(
        "modify_disk",
        [](Session& s, SDiskInfoLib& disk) -> SDiskInfoLib& {
            SDiskInfoLib copy = disk;
            Check(s, "ModifyDisk", [&](W& x) { return x.ModifyDisk(copy); });
            disk = std::move(copy);
            return disk;
        },
        py::arg("disk"), kSame, "Changes a volume's name and disk mode and reads it back into the record.");
    w.def(
        "add_disk_to_vm",
        [](Session& s, SVMInfoLib vm, SDiskInfoLib& disk, bool omitVolType) -> SDiskInfoLib& {
            SDiskInfoLib copy = disk;
            Check(s, "AddDiskToVM", [&](W& x) { return x.AddDiskToVM(vm, copy, omitVolType); });
            disk = std::move(copy);
            return disk;
        },
        py::arg("vm"), py::arg("disk"), py::arg("omit_vol_type") = false, kSame,
        "Attaches a volume to a VM, creating it first when it has no URN.");
    w.def(
        "add_disk_to_vm",
        [](Session& s, const std::string& name, const std::string& urn, const std::string& uuid,
           SDiskInfoLib& disk, bool omitVolType) -> SDiskInfoLib& {
            SDiskInfoLib copy = disk;
            Check(s, "AddDiskToVM", [&](W& x) { return x.AddDiskToVM(name, urn, uuid, copy, omitVolType); });
            disk = std::move(copy);
            return disk;
        },
        py::arg("name"), py::arg("urn"), py::arg("uuid"), py::arg("disk"), py::arg("omit_vol_type") = false,
        kSame, "Attaches a volume to a VM given by its identity.");
    w.def(
        "check_datastore_thin_support",
        [](Session& s, const std::string& name, const std::string& urn) {
            bool isThin = false;
            Check(s, "CheckDatastoreThinSupport",
                  [&](W& x) { return x.CheckDatastoreThinSupport(name, urn, isThin); });
            return isThin;
        },
        py::arg("name") = "", py::arg("urn") = "", "Tells whether a datastore provisions thin volumes.");
    w.def(
        "add_nic_to_vm",
        [](Session& s, SVMInfoLib vm, SVMNetworkCardInfoLib& nic) -> SVMNetworkCardInfoLib& {
            SVMNetworkCardInfoLib copy = nic;
            Check(s, "AddNicToVM", [&](W& x) { return x.AddNicToVM(vm, copy); });
            nic = std::move(copy);
            return nic;
        },
        py::arg("vm"), py::arg("nic"), kSame, "Adds a network card to a VM.");
    w.def(
        "check_mac_address",
        [](Session& s, const std::string& mac) {
            bool inUse = false;
            Check(s, "CheckMACAddress", [&](W& x) { return x.CheckMACAddress(mac, inUse); });
            return inUse;
        },
        py::arg("mac"), "Tells whether any VM of the site uses a MAC address.");
    w.def(
        "create_data_store",
        [](Session& s, const std::string& name, const std::string& hostUrn, const std::string& storageUnitUrn,
           int useType, bool format) {
            Check(s, "CreateDataStore",
                  [&](W& x) { return x.CreateDataStore(name, hostUrn, storageUnitUrn, useType, format); });
        },
        py::arg("name"), py::arg("host_urn"), py::arg("storage_unit_urn"), py::arg("use_type"),
        py::arg("format"), "Creates a datastore on a host.");

    // Snapshots, change tokens, changed blocks and disk access.
    w.def(
        "create_vm_snapshot",
        [](Session& s, SVMInfoLib vm, const std::string& name, const std::string& description, bool memory,
           bool consistent, bool forBackup, bool cbt) {
            SSnapshotInfoLib snapshot;
            Check(s, "CreateVMSnapshot", [&](W& x) {
                return x.CreateVMSnapshot(vm, name, description, memory, consistent, forBackup, cbt,
                                          snapshot);
            });
            return snapshot;
        },
        py::arg("vm"), py::arg("name"), py::arg("description") = "", py::arg("need_memory_shot") = false,
        py::arg("is_consistent") = false, py::arg("for_backup") = false, py::arg("use_cbt") = false,
        "Takes a snapshot of a VM and reads it back.");
    w.def(
        "create_vm_snapshot",
        [](Session& s, const std::string& vmName, const std::string& vmUrn, const std::string& vmUuid,
           const std::string& name, const std::string& description, bool memory, bool consistent,
           bool forBackup, bool cbt) {
            SSnapshotInfoLib snapshot;
            Check(s, "CreateVMSnapshot", [&](W& x) {
                return x.CreateVMSnapshot(vmName, vmUrn, vmUuid, name, description, memory, consistent,
                                          forBackup, cbt, snapshot);
            });
            return snapshot;
        },
        py::arg("vm_name"), py::arg("vm_urn"), py::arg("vm_uuid"), py::arg("name"),
        py::arg("description") = "", py::arg("need_memory_shot") = false, py::arg("is_consistent") = false,
        py::arg("for_backup") = false, py::arg("use_cbt") = false,
        "Takes a snapshot of a VM given by its identity and reads it back.");
    w.def(
        "delete_vm_snapshot",
        [](Session& s, SVMInfoLib vm, SSnapshotInfoLib snapshot) {
            Check(s, "DeleteVMSnapshot", [&](W& x) { return x.DeleteVMSnapshot(vm, snapshot); });
        },
        py::arg("vm"), py::arg("snapshot"), "Deletes a VM snapshot, trying up to four times.");
    w.def(
        "delete_vm_snapshot",
        [](Session& s, const std::string& vmName, const std::string& vmUrn, const std::string& vmUuid,
           SSnapshotInfoLib snapshot) {
            Check(s, "DeleteVMSnapshot",
                  [&](W& x) { return x.DeleteVMSnapshot(vmName, vmUrn, vmUuid, snapshot); });
        },
        py::arg("vm_name"), py::arg("vm_urn"), py::arg("vm_uuid"), py::arg("snapshot"),
        "Deletes a VM snapshot; the VM is given by its identity.");
    w.def(
        "get_disk_change_id",
        [](Session& s, const std::string& volumeUrn, const std::string& snapshotUrn) {
            std::string chgID, volCBTCreateTime, snapUuid;
            Check(s, "GetDiskChangeId", [&](W& x) {
                return x.GetDiskChangeId(volumeUrn, snapshotUrn, chgID, volCBTCreateTime, snapUuid);
            });
            return std::make_tuple(chgID, volCBTCreateTime, snapUuid);
        },
        py::arg("volume_urn"), py::arg("snapshot_urn"),
        "Reads the change identifiers of one disk in a snapshot: (chg_id, vol_cbt_create_time, snap_uuid).");
    w.def(
        "get_disk_change_token",
        [](Session& s, const std::string& volumeUrn, const std::string& snapshotUrn) {
            std::string token;
            Check(s, "GetDiskChangeToken",
                  [&](W& x) { return x.GetDiskChangeToken(volumeUrn, snapshotUrn, token); });
            return token;
        },
        py::arg("volume_urn"), py::arg("snapshot_urn"),
        "The change token of one disk in a snapshot, to keep until the next backup.");
    w.def(
        "parse_disk_change_token",
        [](Session& s, const std::string& token) {
            std::string chgID, volCBTCreateTime;
            Check(s, "ParseDiskChangeToken",
                  [&](W& x) { return x.ParseDiskChangeToken(token, chgID, volCBTCreateTime); });
            return std::make_tuple(chgID, volCBTCreateTime);
        },
        py::arg("change_token"), "Reads (chg_id, vol_cbt_create_time) back from a change token.");
    w.def(
        "query_disk_allocated_blocks",
        [](Session& s, const std::string& volumeUrn, const std::string& snapshotUrn) {
            std::string bitmap;
            int sectorOfBlock = 0;
            Check(s, "QueryDiskAllocatedBlocks", [&](W& x) {
                return x.QueryDiskAllocatedBlocks(volumeUrn, snapshotUrn, bitmap, sectorOfBlock);
            });
            return std::make_tuple(bitmap, sectorOfBlock);
        },
        py::arg("volume_urn"), py::arg("snapshot_urn"),
        "The bitmap of every allocated block of a disk in a snapshot: (bitmap, sector_of_block).");
    w.def(
        "query_disk_changed_blocks",
        [](Session& s, const std::string& volumeUrn, const std::string& snapshotUrn,
           const std::string& token) {
            std::string bitmap;
            int sectorOfBlock = 0;
            Check(s, "QueryDiskChangedBlocks", [&](W& x) {
                return x.QueryDiskChangedBlocks(volumeUrn, snapshotUrn, token, bitmap, sectorOfBlock);
            });
            return std::make_tuple(bitmap, sectorOfBlock);
        },
        py::arg("volume_urn"), py::arg("snapshot_urn"), py::arg("change_token"),
        "The bitmap of the blocks changed since a change token: (bitmap, sector_of_block).");
    w.def(
        "query_disk_cbt",
        [](Session& s, const std::string& volumeUrn, const std::string& snapUuid, const std::string& chgID,
           const std::string& volCBTCreateTime) {
            std::string bitmap;
            int sectorOfBlock = 0;
            Check(s, "QueryDiskCBT", [&](W& x) {
                return x.QueryDiskCBT(volumeUrn, snapUuid, chgID, volCBTCreateTime, bitmap, sectorOfBlock);
            });
            return std::make_tuple(bitmap, sectorOfBlock);
        },
        py::arg("volume_urn"), py::arg("snap_uuid"), py::arg("chg_id"), py::arg("vol_cbt_create_time"),
        "Reads a changed-block bitmap page by page: (bitmap, sector_of_block).");
    w.def(
        "prepare_disk_access",
        [](Session& s, const std::string& volumeUrn, const std::string& snapUrn, const std::string& ip,
           bool restore) {
            std::string resourceUri, hostIP, hostPort, token, targetFile;
            Check(s, "PrepareDiskAccess", [&](W& x) {
                return x.PrepareDiskAccess(volumeUrn, snapUrn, ip, restore, resourceUri, hostIP, hostPort,
                                           token, targetFile);
            });
            return std::make_tuple(resourceUri, hostIP, hostPort, token, targetFile);
        },
        py::arg("volume_urn"), py::arg("snap_urn"), py::arg("ip"), py::arg("restore") = false,
        "Opens direct access to a disk's data: (resource_uri, host_ip, host_port, token, target_file).");
    w.def(
        "release_disk_access",
        [](Session& s, const std::string& resourceUri) {
            Check(s, "ReleaseDiskAccess", [&](W& x) { return x.ReleaseDiskAccess(resourceUri); });
        },
        py::arg("resource_uri"), "Closes direct access to a disk and waits until the resource is gone.");
    w.def(
        "validate_disk_access",
        [](Session& s, const std::string& resourceUri) {
            return Invoke(s, [&](W& x) { return x.ValidateDiskAccess(resourceUri); });
        },
        py::arg("resource_uri"),
        "Tells whether a backup resource can still be read (False also when unreachable).");
    w.def(
        "extend_disk_access",
        [](Session& s, const std::string& resourceUri, int delay) {
            Check(s, "ExtendDiskAccess", [&](W& x) { return x.ExtendDiskAccess(resourceUri, delay); });
        },
        py::arg("resource_uri"), py::arg("delay"), "Extends the life of a backup resource.");
}

}  // namespace

PYBIND11_MODULE(fusioncompute, m) {
    m.doc() = "Python binding of FusionComputeSDKWrapper: a FusionCompute VRM client for backup software.";
    m.attr("__version__") = FCSDK_VERSION;
    g_mainThread = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();

    py::dict scope;
    scope["__builtins__"] = py::module_::import("builtins");
    scope["__name__"] = "fusioncompute";
    py::exec(kPythonHelpers, scope);
    g_errorType = py::object(scope["Error"]).release();
    m.attr("Error") = g_errorType;

    BindRecords(m, scope["_make_record"]);
    BindFlags(m);
    BindWrapper(m);

    m.def("changed_extents", &ChangedExtents, py::arg("bitmap_result"),
          "Decodes a block bitmap into ascending (start_block, block_count) runs. Takes what "
          "query_disk_changed_blocks() and query_disk_allocated_blocks() return, or the bitmap text alone; "
          "a block is sector_of_block * 512 bytes.");
    m.def("set_log_level", &SetLogLevel, py::arg("level"),
          "Sets the log level of the process: 0 errors, 1 debug, 2 detail; negative returns to the "
          "configuration.");
    m.def("get_log_level", &GetLogLevel, "The log level in force.");
}
