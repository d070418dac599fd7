// OVF descriptor operations of CFusionComputeOperations: the VRM writes a VM's descriptor, turns a
// descriptor back into a creation body, and a VM is created from that body on existing volumes.

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "operations/FusionComputeOperations.h"
#include "parser/FusionComputeParser.h"
#include "platform/MlJson.h"

namespace FusionComputeSDKWrapper {

namespace {

// Disks whose bus and slot the descriptor does not tell are put on the IDE bus by position.
const char* const kFallbackBus = "IDE";

// Bus type and slot of a disk as the descriptor's file items record them in "ovfId" ("<bus>-<slot>").
struct DiskSlot {
    std::string bus;
    int slot = 0;
};

DiskSlot SlotFromFileItems(const std::vector<SOVFFileItemInfoLib>& items, const std::string& path) {
    DiskSlot found;
    for (const SOVFFileItemInfoLib& item : items) {
        if (item.path != path) {
            continue;
        }
        const std::string::size_type dash = item.ovfId.find('-');
        if (dash != std::string::npos) {
            found.bus = item.ovfId.substr(0, dash);
            found.slot = std::atoi(item.ovfId.c_str() + dash + 1);
        }
        break;  // only the first item of that path counts
    }
    return found;
}

}  // namespace

bool CFusionComputeOperations::GenerateOVFDescriptor(const SVMInfoLib& vm, std::string& descriptor) {
    json_spirit::mArray fileItems;
    for (const SDiskInfoLib& disk : vm.disks) {
        json_spirit::mObject item;
        item["deviceId"] = disk.pciType + "-" + std::to_string(disk.sequenceNum);
        item["path"] = disk.uuid;
        // userUsedSize is in MB; the descriptor wants bytes.
        item["size"] = static_cast<uint64_t>(disk.userUsedSize) << 20;
        fileItems.push_back(item);
    }
    json_spirit::mObject body;
    body["name"] = vm.name;
    body["fileItems"] = fileItems;

    if (!CheckTarget(vm.uri, LinkKind::Vm)) return false;
    const std::string link = vm.uri + "/action/createdescriptor";
    std::string response;
    if (!SendWithoutTask(Verb::Post, link, MlJson::Serialize(body), response)) {
        return false;
    }
    // An answer without a descriptor is a failure: an empty descriptor handed out as a success would
    // only fail later, far from its cause, when a VM is to be made from it.
    SOVFInfoLib ovf;
    if (!parser->ParseObject(response, ovf)) {
        SetLastError(UnreadableAnswerMessage(link));
        return false;
    }
    if (ovf.ovfDescriptor.empty()) {
        const std::string message = "The VRM's answer to [" + link + "] holds no OVF descriptor";
        debug.Error(__PRETTY_FUNCTION__, "%s", message.c_str());
        SetLastError(message);
        return false;
    }
    descriptor = ovf.ovfDescriptor;
    return true;
}

bool CFusionComputeOperations::ParseOVFDescriptor(const SSiteInfoLib& site, const std::string& descriptor,
                                                  json_spirit::mObject& body) {
    if (!CheckTarget(site.uri, LinkKind::Site)) return false;
    json_spirit::mObject request;
    request["ovfDescriptor"] = descriptor;
    std::string response;
    if (!SendWithoutTask(Verb::Post, site.uri + "/vms" + "/action/parsedescriptor",
                         MlJson::Serialize(request), response)) {
        return false;
    }
    json_spirit::mValue answer;
    if (!json_spirit::read_string(response, answer) || answer.type() != json_spirit::obj_type) {
        debug.Error(__PRETTY_FUNCTION__, "Descriptor parse answer is not a JSON object\n%s",
                    response.c_str());
        SetLastError("The answer to the descriptor parse request is not a JSON object");
        return false;
    }
    body = std::move(answer.get_obj());
    return true;
}

json_spirit::mArray CFusionComputeOperations::BuildDescriptorDisks(
    const SVMInfoLib& vm, const json_spirit::mObject& body,
    const std::map<std::string, std::string>& diskPathMap) {
    // The file items carry scalars only, which the lenient readers take without throwing.
    std::vector<SOVFFileItemInfoLib> items;
    parser->ConvertNestedList(body, "fileItems", items);
    json_spirit::mArray disks;
    int position = 0;
    for (const SDiskInfoLib& disk : vm.disks) {
        ++position;
        // A volume made anew for the VM has another uuid than the disk the descriptor was written from.
        const auto mapped = diskPathMap.find(disk.uuid);
        const std::string& path = mapped != diskPathMap.end() ? mapped->second : disk.uuid;
        DiskSlot slot = SlotFromFileItems(items, path);
        if (slot.slot == 0 || slot.bus.empty()) {
            slot.bus = kFallbackBus;
            slot.slot = position;
        }
        json_spirit::mObject entry;
        entry["pciType"] = slot.bus;
        entry["sequenceNum"] = slot.slot;
        entry["volumeUrn"] = disk.urn;
        disks.push_back(entry);
    }
    return disks;
}

bool CFusionComputeOperations::CreateVMFromOVFDescriptor(
    const SSiteInfoLib& site, const std::string& descriptor, SVMInfoLib& vm,
    const std::map<std::string, std::string>& diskPathMap) {
    json_spirit::mObject body;
    if (!ParseOVFDescriptor(site, descriptor, body)) {
        return false;
    }
    const auto found = body.find("vmConfig");
    if (found == body.end() || found->second.is_null()) {
        debug.Error(__PRETTY_FUNCTION__, "The descriptor parse answer holds no vmConfig");
        SetLastError("The descriptor parse answer holds no vmConfig");
        return false;
    }
    if (found->second.type() != json_spirit::obj_type) {
        debug.Error(__PRETTY_FUNCTION__, "vmConfig of the descriptor parse answer is not an object");
        SetLastError("The descriptor's vmConfig is not a JSON object");
        return false;
    }
    json_spirit::mObject vmConfig = found->second.get_obj();

    if (vm.disks.empty()) {
        vmConfig.erase("disks");
    } else {
        vmConfig["disks"] = BuildDescriptorDisks(vm, body, diskPathMap);
    }
    // Network cards are added by the caller afterwards, never from the descriptor.
    vmConfig.erase("nics");
    body["vmConfig"] = vmConfig;

    // Identity comes from the caller's record (set again by _CreateVM when it is known).
    for (const char* key : {"fileItems", "recover", "uuid", "name"}) {
        body.erase(key);
    }
    return _CreateVM(site, vm, body);
}

}  // namespace FusionComputeSDKWrapper
