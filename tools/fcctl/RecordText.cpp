#include "RecordText.h"

#include "Table.h"

namespace fcctl {

namespace {

std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

std::string Or(const std::string& value, const std::string& fallback) {
    return value.empty() ? fallback : value;
}

// "name (URN)", or the URN alone when the name is not known.
std::string NameAndUrn(const std::string& name, const std::string& urn) {
    return name.empty() ? urn : name + " (" + urn + ")";
}

// The key/value block of one object: its name, the `between` lines, its URN and URI.
Fields NamedFields(const fc::SBaseInfoLib& object,
                   std::initializer_list<std::pair<const char*, std::string>> between) {
    Fields fields;
    fields.Add("Name", object.name);
    for (const auto& line : between) fields.Add(line.first, line.second);
    fields.Add("URN", object.urn);
    fields.Add("URI", object.uri);
    return fields;
}

std::string DiskMode(const fc::SDiskInfoLib& disk) {
    std::string mode = disk.persistentDisk ? "persistent" : "non-persistent";
    if (disk.indepDisk) mode += ",independent";
    if (disk.isThin) mode += ",thin";
    return mode;
}

std::string TotalDiskGB(const fc::SVMInfoLib& vm) {
    long long total = 0;
    for (const fc::SDiskInfoLib& disk : vm.disks) total += disk.quantityGB;
    return vm.disks.empty() ? "-" : std::to_string(vm.disks.size()) + " (" + std::to_string(total) + " GB)";
}

std::string SwitchOf(const fc::SVMNetworkCardInfoLib& nic) {
    return Or(nic.dvSwitchName, "-");
}

void AddDiskRow(Table& table, const std::string& vmName, const fc::SDiskInfoLib& disk) {
    table.AddRow({vmName, disk.name, std::to_string(disk.quantityGB), std::to_string(disk.userUsedSize),
                  Or(disk.pciType, "-") + "-" + std::to_string(disk.sequenceNum), DiskMode(disk),
                  Or(disk.datastoreName, disk.datastoreUrn), disk.urn});
}

void AddNicRow(Table& table, const std::string& vmName, const fc::SVMNetworkCardInfoLib& nic) {
    table.AddRow({vmName, nic.name, Or(nic.mac, "-"), Or(nic.ip, "-"),
                  Or(nic.portGroupName, nic.portGroupUrn), SwitchOf(nic), nic.urn});
}

void AddSnapshotRow(Table& table, const std::string& vmName, const fc::SSnapshotInfoLib& snapshot) {
    table.AddRow({vmName, snapshot.name, Or(snapshot.createTime, "-"), Or(snapshot.status, "-"),
                  std::to_string(snapshot.volsnapshots.size()), snapshot.urn});
}

// Prints under `heading` one table of the VMs' items of one kind, a row per item led by its VM's name.
template <typename Item>
void PrintVmItems(std::ostream& out, const fc::SVMInfoLib* vms, std::size_t count,
                  std::vector<Item> fc::SVMInfoLib::*items, Table table,
                  void (*addRow)(Table&, const std::string&, const Item&), const std::string& heading,
                  const std::string& emptyText) {
    for (std::size_t i = 0; i < count; ++i) {
        for (const Item& item : vms[i].*items) addRow(table, vms[i].name, item);
    }
    PrintHeading(out, heading);
    table.Print(out, emptyText);
}

// The tables of disks, network cards and snapshots of `count` VMs that `sections` asks for.
void PrintVmSections(std::ostream& out, const fc::SVMInfoLib* vms, std::size_t count,
                     const VmSections& sections) {
    if (sections.disks) {
        PrintVmItems(out, vms, count, &fc::SVMInfoLib::disks,
                     Table({"VM", "DISK", ">SIZE GB", ">USED MB", "SLOT", "MODE", "DATASTORE", "URN"}),
                     AddDiskRow, "Disks", "no disks");
    }
    if (sections.nics) {
        PrintVmItems(out, vms, count, &fc::SVMInfoLib::nics,
                     Table({"VM", "NIC", "MAC", "IP", "PORT GROUP", "SWITCH", "URN"}), AddNicRow,
                     "Network cards", "no network cards");
    }
    if (sections.snapshots) {
        PrintVmItems(out, vms, count, &fc::SVMInfoLib::snapshots,
                     Table({"VM", "SNAPSHOT", "CREATED", "STATUS", ">DISKS", "URN"}), AddSnapshotRow,
                     "Snapshots", "no snapshots");
    }
}

}  // namespace

void PrintHeading(std::ostream& out, const std::string& title) {
    out << '\n' << title << '\n';
}

void PrintVmList(std::ostream& out, const std::vector<fc::SVMInfoLib>& vms, const VmSections& sections) {
    Table table({"NAME", "STATUS", "HOST", "OS", "DISKS", ">NICS", "TEMPLATE", "UUID", "URN"});
    for (const fc::SVMInfoLib& vm : vms) {
        table.AddRow({vm.name, Or(vm.status, "-"), Or(vm.hostName, "-"),
                      Or(vm.guestOSName, Or(vm.osType, "-")), TotalDiskGB(vm), std::to_string(vm.nics.size()),
                      YesNo(vm.isTemplate), vm.uuid, vm.urn});
    }
    table.Print(out, "no VMs");
    PrintVmSections(out, vms.data(), vms.size(), sections);
}

void PrintVm(std::ostream& out, const fc::SVMInfoLib& vm) {
    Fields fields = NamedFields(vm, {{"Status", vm.status}, {"UUID", vm.uuid}});
    fields.Add("Host", NameAndUrn(vm.hostName, vm.hostUrn));
    fields.Add("Cluster", NameAndUrn(vm.clusterName, vm.clusterUrn));
    fields.Add("Guest OS", Or(vm.guestOSName, "-") + " (" + Or(vm.osType, "?") + " " +
                               std::to_string(vm.osVersion) + ")");
    fields.Add("Tools", Or(vm.toolsVersion, "-"));
    fields.Add("Template", YesNo(vm.isTemplate));
    if (!vm.description.empty()) fields.Add("Description", vm.description);
    fields.Print(out);
    // Disks and network cards always, snapshots when the VM has any.
    PrintVmSections(out, &vm, 1, VmSections{true, true, !vm.snapshots.empty()});
}

void PrintDisk(std::ostream& out, const fc::SDiskInfoLib& disk) {
    Fields fields = NamedFields(disk, {{"UUID", disk.uuid}});
    fields.Add("Size", std::to_string(disk.quantityGB) + " GB");
    fields.Add("Used", std::to_string(disk.userUsedSize) + " MB");
    fields.Add("Datastore", NameAndUrn(disk.datastoreName, disk.datastoreUrn));
    fields.Add("Mode", DiskMode(disk));
    if (!disk.pciType.empty() || disk.sequenceNum != 0) {
        fields.Add("Slot", Or(disk.pciType, "-") + "-" + std::to_string(disk.sequenceNum));
    }
    fields.Print(out);
}

void PrintSnapshot(std::ostream& out, const fc::SSnapshotInfoLib& snapshot) {
    Fields fields = NamedFields(snapshot, {});
    fields.Add("Created", snapshot.createTime);
    fields.Add("Status", snapshot.status);
    fields.Add("Memory", YesNo(snapshot.includingMemorySnapshot));
    fields.Print(out);
    Table table({"VOLUME", "CBT CREATED", "CHANGE ID", "SNAP UUID"});
    for (const fc::SDiskSnapshotInfoLib& disk : snapshot.volsnapshots) {
        table.AddRow(
            {disk.volumeUrn, Or(disk.volCBTCreateTime, "-"), Or(disk.chgID, "-"), Or(disk.snapUuid, "-")});
    }
    PrintHeading(out, "Disk snapshots");
    table.Print(out, "no disk snapshots");
}

void PrintSnapshotTable(std::ostream& out, const std::vector<fc::SSnapshotInfoLib>& snapshots) {
    Table table({"SNAPSHOT", "CREATED", "STATUS", "MEMORY", ">DISKS", "URN"});
    for (const fc::SSnapshotInfoLib& snapshot : snapshots) {
        table.AddRow({snapshot.name, Or(snapshot.createTime, "-"), Or(snapshot.status, "-"),
                      YesNo(snapshot.includingMemorySnapshot), std::to_string(snapshot.volsnapshots.size()),
                      snapshot.urn});
    }
    table.Print(out, "no snapshots");
}

void PrintSites(std::ostream& out, const std::vector<fc::SSiteInfoLib>& sites) {
    Table table({"NAME", ">CLUSTERS", "URN", "URI"});
    for (const fc::SSiteInfoLib& site : sites) {
        table.AddRow({site.name, site.clusters.empty() ? "-" : std::to_string(site.clusters.size()), site.urn,
                      site.uri});
    }
    table.Print(out, "no sites");
    for (const fc::SSiteInfoLib& site : sites) {
        if (site.clusters.empty()) continue;
        PrintHeading(out, "Clusters of " + site.name);
        PrintClusters(out, site.clusters);
    }
}

void PrintClusters(std::ostream& out, const std::vector<fc::SClusterInfoLib>& clusters) {
    Table table({"NAME", "PARENT", ">HOSTS", ">VMS", "URN"});
    for (const fc::SClusterInfoLib& cluster : clusters) {
        table.AddRow({cluster.name, Or(cluster.parentObjName, Or(cluster.parentObjUrn, "-")),
                      cluster.hosts.empty() ? "-" : std::to_string(cluster.hosts.size()),
                      cluster.vms.empty() ? "-" : std::to_string(cluster.vms.size()), cluster.urn});
    }
    table.Print(out, "no clusters");
    for (const fc::SClusterInfoLib& cluster : clusters) {
        if (!cluster.hosts.empty()) {
            PrintHeading(out, "Hosts of " + cluster.name);
            PrintHosts(out, cluster.hosts);
        }
        if (!cluster.vms.empty()) {
            PrintHeading(out, "VMs of " + cluster.name);
            PrintVmList(out, cluster.vms, VmSections());
        }
    }
}

void PrintHosts(std::ostream& out, const std::vector<fc::SHostInfoLib>& hosts) {
    Table table({"NAME", "STATUS", "IP", "CLUSTER", ">CPUS", ">MHZ", ">MEMORY MB", ">ALLOCATED MB", "URN"});
    for (const fc::SHostInfoLib& host : hosts) {
        table.AddRow({host.name, Or(host.status, "-"), Or(host.ip, "-"), Or(host.clusterName, "-"),
                      std::to_string(host.cpuQuantity), std::to_string(host.cpuMHz),
                      std::to_string(host.totalSizeMB), std::to_string(host.allocatedSizeMB), host.urn});
    }
    table.Print(out, "no hosts");
    for (const fc::SHostInfoLib& host : hosts) {
        if (!host.vms.empty()) {
            PrintHeading(out, "VMs of " + host.name);
            PrintVmList(out, host.vms, VmSections());
        }
        if (!host.datastores.empty()) {
            PrintHeading(out, "Datastores of " + host.name);
            PrintDatastores(out, host.datastores);
        }
        if (!host.storageDevices.empty()) {
            PrintHeading(out, "Storage units seen by " + host.name);
            Table devices({"NAME", "TYPE", "STATUS", ">CAPACITY GB", "THIN", "WWN", "URN"});
            for (const fc::SStorageDeviceInfoLib& device : host.storageDevices) {
                devices.AddRow({device.name, device.type, device.status, std::to_string(device.capacityGB),
                                YesNo(device.isThin), device.wwn, device.urn});
            }
            devices.Print(out);
        }
        if (!host.networks.empty()) {
            PrintHeading(out, "Switches of " + host.name);
            PrintNetworks(out, host.networks);
        }
    }
}

void PrintDatastores(std::ostream& out, const std::vector<fc::SDataStoreInfoLib>& datastores) {
    Table table({"NAME", "TYPE", "STATUS", ">CAPACITY GB", ">USED GB", ">FREE GB", "THIN", ">HOSTS", "URN"});
    for (const fc::SDataStoreInfoLib& ds : datastores) {
        table.AddRow({ds.name, Or(ds.storageType, "-"), Or(ds.status, "-"), std::to_string(ds.capacityGB),
                      std::to_string(ds.usedSizeGB), std::to_string(ds.freeSizeGB), YesNo(ds.isThin),
                      std::to_string(ds.hosts.size()), ds.urn});
    }
    table.Print(out, "no datastores");
    for (const fc::SDataStoreInfoLib& ds : datastores) {
        if (!ds.storageResource.name.empty() || !ds.storageResource.urn.empty()) {
            PrintHeading(out, "Storage resource of " + ds.name);
            Fields fields;
            fields.Add("Name", ds.storageResource.name);
            fields.Add("Type", ds.storageResource.storageType);
            fields.Add("Device", ds.storageResource.deviceType);
            fields.Add("Management", ds.storageResource.managementIp + ":" +
                                         std::to_string(ds.storageResource.managementPort));
            fields.Add("Vendor", ds.storageResource.vender);
            fields.Add("URN", ds.storageResource.urn);
            fields.Print(out);
        }
        if (!ds.vms.empty()) {
            PrintHeading(out, "VMs on " + ds.name);
            PrintVmList(out, ds.vms, VmSections());
        }
    }
}

void PrintNetworks(std::ostream& out, const std::vector<fc::SNetworkInfoLib>& networks) {
    Table table({"SWITCH", "PORT GROUP", ">VLAN", "URN"});
    for (const fc::SNetworkInfoLib& network : networks) {
        table.AddRow({network.name, "", "", network.urn});
        for (const fc::SPortGroupInfoLib& group : network.portGroups) {
            table.AddRow({"", group.name, std::to_string(group.vlanId), group.urn});
        }
    }
    table.Print(out, "no switches");
}

void PrintFolders(std::ostream& out, const std::vector<std::pair<std::string, fc::SFolderInfoLib>>& folders) {
    Table table({"TYPE", "NAME", "URN"});
    for (const auto& folder : folders) table.AddRow({folder.first, folder.second.name, folder.second.urn});
    table.Print(out, "no folders");
}

}  // namespace fcctl
