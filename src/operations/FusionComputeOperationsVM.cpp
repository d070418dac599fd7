// VM operations of CFusionComputeOperations: power state, creation, deletion and modification.

#include "operations/FusionComputeOperations.h"

#include "platform/MlJson.h"

namespace FusionComputeSDKWrapper {

namespace {

// The VRM wants a guest OS for every new VM; one created from a bare record is declared as this one.
const char* const kCreatedOsType = "Windows";
constexpr int kCreatedOsVersion = 3;

}  // namespace

bool CFusionComputeOperations::ChangeVMPowerState(const SVMInfoLib& vm, bool powerOn, bool force) {
    if (!CheckTarget(vm.uri, LinkKind::Vm)) return false;
    std::string link = vm.uri;
    std::string body;
    if (powerOn) {
        link += "/action/start";
    } else {
        link += "/action/stop";
        json_spirit::mObject stop;
        stop["mode"] = force ? "force" : "safe";
        body = MlJson::Serialize(stop);
    }
    if (!body.empty()) {
        debug.Debug(__PRETTY_FUNCTION__, "body: %s", body.c_str());
    }
    return PostObjectToLinkAndWaitForTask(link, body);
}

bool CFusionComputeOperations::CreateVM(const SSiteInfoLib& site, SVMInfoLib& vm) {
    json_spirit::mObject cpu;
    cpu["quantity"] = vm.cpuQuantity;
    cpu["coresPerSocket"] = vm.coresPerSocket;
    json_spirit::mObject memory;
    memory["quantityMB"] = static_cast<uint64_t>(vm.memoryQuantityMB);
    json_spirit::mObject vmConfig;
    vmConfig["cpu"] = cpu;
    vmConfig["memory"] = memory;

    json_spirit::mObject osOptions;
    osOptions["osType"] = kCreatedOsType;
    osOptions["osVersion"] = kCreatedOsVersion;

    json_spirit::mObject body;
    body["vmConfig"] = vmConfig;
    body["osOptions"] = osOptions;
    return _CreateVM(site, vm, body);
}

bool CFusionComputeOperations::_CreateVM(const SSiteInfoLib& site, SVMInfoLib& vm,
                                         json_spirit::mObject& body) {
    if (!UpdateCreateVM(vm, body) || !CheckTarget(site.uri, LinkKind::Site)) {
        return false;
    }
    return PostObjectToLinkAndGetResult(site.uri + "/vms", MlJson::Serialize(body), vm.urn, vm.uri);
}

bool CFusionComputeOperations::UpdateCreateVM(const SVMInfoLib& vm, json_spirit::mObject& body) {
    if (!vm.hostUrn.empty()) {
        body["location"] = vm.hostUrn;
    } else if (!vm.clusterUrn.empty()) {
        body["location"] = vm.clusterUrn;
    } else {
        SetLastError("Location (cluster/host) was not specified");
        return false;
    }
    if (!vm.name.empty()) {
        body["name"] = vm.name;
    }
    if (!vm.uuid.empty()) {
        body["uuid"] = vm.uuid;
    }
    body["autoBoot"] = false;
    return true;
}

bool CFusionComputeOperations::DeleteVM(const SVMInfoLib& vm, bool deleteDisks) {
    if (!CheckTarget(vm.uri, LinkKind::Vm, "VM URI is not specified")) return false;
    json_spirit::mObject body;
    // The VRM asks whether to keep the disks, as a number.
    body["isReserveDisks"] = deleteDisks ? 0 : 1;
    return DeleteObjectFromLinkAndWaitForTask(vm.uri, MlJson::Serialize(body));
}

bool CFusionComputeOperations::ModifyVM(const SVMInfoLib& current, SVMInfoLib& wanted) {
    if (current.uri.empty()) {
        SetLastError("VM URI is not specified");
        return false;
    }
    json_spirit::mObject body;
    if (current.name != wanted.name) {
        body["name"] = wanted.name;
    }
    json_spirit::mObject cpu;
    if (current.cpuQuantity != wanted.cpuQuantity) {
        cpu["quantity"] = wanted.cpuQuantity;
    }
    if (current.coresPerSocket != wanted.coresPerSocket) {
        cpu["coresPerSocket"] = wanted.coresPerSocket;
    }
    if (!cpu.empty()) {
        body["cpu"] = cpu;
    }
    if (current.memoryQuantityMB != wanted.memoryQuantityMB) {
        json_spirit::mObject memory;
        memory["quantityMB"] = static_cast<uint64_t>(wanted.memoryQuantityMB);
        body["memory"] = memory;
    }
    if (body.empty()) {
        return true;
    }
    if (!CheckTarget(current.uri, LinkKind::Vm)) return false;
    return PutObjectToLinkAndWaitForTask(current.uri, MlJson::Serialize(body));
}

}  // namespace FusionComputeSDKWrapper
