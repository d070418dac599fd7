#include "Details.h"

#include <cctype>
#include <cstdlib>

namespace fcctl {

using namespace FusionComputeSDKWrapper;

const std::vector<DetailName>& DetailNames() {
    static const std::vector<DetailName> names = {
        {"guest", VM_PROP_VM_GUEST_INFO, "VMs read in full (guest details, disks, OS options)"},
        {"disks", VM_PROP_VM_DISK_LIST, "VM disks with their used space"},
        {"snapshots", VM_PROP_VM_SNAPSHOT_LIST, "VM snapshots"},
        {"nics", VM_PROP_VM_NW_LIST, "VM network cards with their switch names"},
        {"host-vms", VM_PROP_HOST_VM_LIST, "VMs of each host"},
        {"host-datastores", VM_PROP_HOST_DS_LIST, "datastores of each host"},
        {"host-networks", VM_PROP_HOST_NW_LIST, "switches and port groups of each host"},
        {"host-storage", VM_PROP_HOST_ADAP_INFO, "storage units each host sees"},
        {"cluster-hosts", VM_PROP_CLUSTER_HOST_LIST, "hosts of each cluster"},
        {"cluster-vms", VM_PROP_CLUSTER_VM_LIST, "VMs of each cluster"},
        {"ds-vms", VM_PROP_DS_VM_LIST, "VMs of each datastore"},
        {"ds-extents", VM_PROP_DS_EXTENT_LIST, "storage resource of DSWARE and NAS datastores"},
        {"site-clusters", VM_PROP_DATACENTER_CLUSTER_LIST, "clusters of each site"},
        {"all", VM_PROP_ALL, "everything (the whole cascade: can be slow)"},
    };
    return names;
}

namespace {

std::string Trim(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

bool ParseMask(const std::string& entry, UINT64& mask) {
    if (entry.size() < 3 || entry[0] != '0' || (entry[1] != 'x' && entry[1] != 'X')) return false;
    if (entry.size() > 18) return false;
    for (std::size_t i = 2; i < entry.size(); ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(entry[i]))) return false;
    }
    mask = std::strtoull(entry.c_str() + 2, nullptr, 16);
    return true;
}

}  // namespace

bool ParseDetails(const std::string& list, UINT64& flags, std::string& error) {
    flags = 0;
    std::size_t begin = 0;
    while (begin <= list.size()) {
        std::size_t end = list.find(',', begin);
        if (end == std::string::npos) end = list.size();
        const std::string entry = Trim(list.substr(begin, end - begin));
        begin = end + 1;
        if (entry.empty()) continue;
        UINT64 mask = 0;
        bool known = ParseMask(entry, mask);
        for (const DetailName& name : DetailNames()) {
            if (!known && entry == name.name) {
                mask = name.flags;
                known = true;
            }
        }
        if (!known) {
            error = "unknown detail \"" + entry + "\" (known: ";
            for (const DetailName& name : DetailNames()) error += std::string(name.name) + ",";
            error.back() = ')';
            return false;
        }
        flags |= mask;
    }
    return true;
}

std::string DetailsHelp() {
    std::string help = "Comma-separated details to read:";
    for (const DetailName& name : DetailNames())
        help += std::string("\n  ") + name.name + ": " + name.meaning;
    help += "\n  0x...: a raw VM_PROP_* mask";
    return help;
}

}  // namespace fcctl
