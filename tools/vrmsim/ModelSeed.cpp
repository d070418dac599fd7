// The seeded inventory. Everything derives from InventoryOptions (sizes and seed) and a fixed base
// time, so two simulators with the same options serve the same identifiers and answers.

#include <algorithm>
#include <cstdio>

#include "Model.h"
#include "VrmSimulator.h"

namespace vrmsim {

namespace {

/// 2026-01-01 00:00:00 UTC: the creation times of seeded objects count from here.
constexpr std::int64_t kSeedEpoch = 1767225600;

/// splitmix64: small, fast and the same on every platform (std distributions are not).
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    int Below(int bound) {
        return bound <= 0 ? 0 : static_cast<int>(Next() % static_cast<std::uint64_t>(bound));
    }
    std::string Uuid() {
        std::uint64_t a = Next(), b = Next();
        char text[40];
        std::snprintf(text, sizeof text, "%08x-%04x-4%03x-%04x-%012llx", static_cast<unsigned>(a >> 32),
                      static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFF),
                      static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3FFF)),
                      static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
        return text;
    }
    std::string Hex(int digits) {
        static const char* kDigits = "0123456789abcdef";
        std::string text;
        while (static_cast<int>(text.size()) < digits) text.push_back(kDigits[Next() & 0xF]);
        return text;
    }

  private:
    std::uint64_t state_;
};

std::string Numbered(const char* prefix, long n, int width = 2) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%0*ld", prefix, width, n);
    return text;
}

std::string VmId(long number) {
    char text[16];
    std::snprintf(text, sizeof text, "i-%08lX", number);
    return text;
}

class Seeder {
  public:
    Seeder(Model& model, const InventoryOptions& options) : m_(model), o_(options), random_(options.seed) {}

    void Run() {
        Sites();
        OsCatalogue();
        Folders();
        Clusters();
        Hosts();
        Storage();
        Switches();
        Machines();
        Snapshots();
        Totals();
    }

  private:
    void Sites() {
        for (int i = 0; i < std::max(o_.sites, 1); ++i) {
            Site site;
            char id[16];
            std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(random_.Next() >> 32));
            site.id = id;
            site.urn = "urn:sites:" + site.id;
            site.uri = UrnToUri(site.urn);
            site.name = i == 0 ? "site" : Numbered("site", i + 1);
            site.ip = "192.168.40." + std::to_string(2 + i);
            m_.sites.push_back(site);
        }
    }

    void OsCatalogue() {
        auto add = [](std::vector<OsVersion>& list, int id, const char* des, int cpu, int mem, bool hotPlug) {
            OsVersion version;
            version.id = id;
            version.versionDes = des;
            version.cpuQuantityLimit = cpu;
            version.cpuSocketLimit = cpu / 2;
            version.memoryQuantityLimit = mem;
            version.supportMemHotPlug = hotPlug;
            version.supportCpuHotPlug = hotPlug;
            list.push_back(version);
        };
        auto& c = m_.osCatalogue;
        add(c.windows, 1, "Windows XP Professional 32bit", 32, 4096, false);
        add(c.windows, 9, "Windows Server 2008 R2 Enterprise 64bit", 64, 2097152, true);
        add(c.windows, 60, "Windows Server 2012 R2 Standard 64bit", 64, 4194304, true);
        add(c.windows, 1080, "Windows Server 2019 Datacenter 64bit", 128, 4194304, true);
        add(c.linux, 301, "Novell SUSE Linux Enterprise Server 11 SP4 64bit", 64, 4194304, true);
        add(c.linux, 402, "CentOS 7.6 64bit", 128, 4194304, true);
        add(c.linux, 1101, "Ubuntu 20.04 server 64bit", 128, 4194304, true);
        add(c.other, 201, "Other(32 bit)", 32, 4096, false);
        add(c.other, 202, "Other(64 bit)", 64, 1048576, false);
    }

    void Folders() {
        for (int i = 0; i < o_.clusterFolders; ++i)
            AddFolder(0, Numbered("ClusterFolder", i + 1), m_.site().urn);
        std::string firstVmFolder;
        for (int i = 0; i < o_.vmFolders; ++i) {
            // From the third folder on, folders nest below the first one.
            std::string parent = (i >= 2) ? firstVmFolder : m_.site().urn;
            Folder& folder = AddFolder(1, Numbered("VMFolder", i + 1), parent);
            if (i == 0) firstVmFolder = folder.urn;
            vmFolderUrns_.push_back(folder.urn);
        }
    }

    Folder& AddFolder(int type, const std::string& name, const std::string& parent) {
        Folder& folder = m_.Add(m_.folders, "folders");
        folder.name = name;
        folder.type = type;
        folder.parentObjUrn = parent;
        if (type == 0 && clusterFolderUrn_.empty()) clusterFolderUrn_ = folder.urn;
        return folder;
    }

    void Clusters() {
        for (int i = 0; i < o_.clusters; ++i) {
            Cluster& cluster = m_.Add(m_.clusters, "clusters", 101);
            cluster.name = i == 0 ? "ManagementCluster" : Numbered("Cluster", i + 1);
            cluster.tag = "cluster";
            bool inFolder = !clusterFolderUrn_.empty() && o_.clusters > 1 && i == o_.clusters - 1;
            cluster.parentObjUrn = inFolder ? clusterFolderUrn_ : m_.site().urn;
            cluster.parentObjName = inFolder ? m_.FindFolder(clusterFolderUrn_)->name : m_.site().name;
            cluster.drsEnabled = (i % 2) == 1;
            clusterIds_.push_back(cluster.id);
        }
    }

    void Hosts() {
        for (int i = 0; i < o_.hosts; ++i) {
            Host& host = m_.Add(m_.hosts, "hosts");
            host.name = Numbered("CNA", i + 1);
            host.uuid = random_.Uuid();
            host.ip = "192.168." + std::to_string(40 + i / 200) + "." + std::to_string(10 + i % 200);
            host.bmcIp = "192.168." + std::to_string(140 + i / 200) + "." + std::to_string(10 + i % 200);
            host.cpuQuantity = 32 << (i % 2);
            host.cpuMHz = 2600 - 200 * (i % 3);
            host.memTotalMB = 262144LL << (i % 2);
            if (!clusterIds_.empty()) {
                const Cluster& cluster =
                    m_.clusters[clusterIds_[static_cast<std::size_t>(i) % clusterIds_.size()]];
                host.clusterUrn = cluster.urn;
                host.clusterName = cluster.name;
            }
            hostIds_.push_back(host.id);
        }
    }

    void Storage() {
        static const char* kTypes[] = {"advanceSan", "DSWARE", "NAS", "LOCAL"};
        for (int j = 0; j < o_.datastores; ++j) {
            std::string type = kTypes[j % 4];
            StorageUnit& unit = AddStorageUnit(type, j);
            Datastore& ds = m_.Add(m_.datastores, "datastores");
            ds.name = Numbered("datastore", j + 1);
            ds.storageType = type;
            ds.isThin = type != "LOCAL";
            ds.capacityGB = 1024LL * (2 + j % 4);
            ds.clusterSize = type == "NAS" ? 0 : 1024;
            ds.refreshTime = Model::FormatTime(kSeedEpoch + 3600);
            ds.description = type + " datastore";
            ds.hostUrns = unit.hostUrns;
            ds.storageUnitUrns.push_back(unit.urn);
            unit.capacityGB = static_cast<int>(ds.capacityGB);
            if (type == "DSWARE" || type == "NAS") AddStorageResource(unit.sdName, type);
        }
        for (int i = 0; i < o_.storageResources; ++i) AddStorageResource(Numbered("IPSAN", i + 1), "IPSAN");
        // Each host also sees one unused local disk, on which a datastore can be created.
        for (std::size_t i = 0; i < hostIds_.size(); ++i) {
            StorageUnit& unit = AddStorageUnit("LOCAL", static_cast<int>(i));
            unit.hostUrns = {m_.hosts[hostIds_[i]].urn};
            unit.name = m_.hosts[hostIds_[i]].name + "-sdb";
            unit.capacityGB = 1117;
        }
    }

    StorageUnit& AddStorageUnit(const std::string& dsType, int index) {
        StorageUnit& unit = m_.Add(m_.storageUnits, "storageunits");
        if (dsType == "LOCAL") {
            unit.type = "LOCAL";
            unit.isThin = false;
            if (!hostIds_.empty()) {
                const Host& host = m_.hosts[hostIds_[static_cast<std::size_t>(index) % hostIds_.size()]];
                unit.hostUrns = {host.urn};
                unit.name = host.name + "-sda";
                unit.sdName = host.name;
            } else {
                unit.name = Numbered("local", index + 1);
            }
        } else {
            unit.type = dsType == "advanceSan" ? "IPSAN" : dsType;
            for (long hostId : hostIds_) unit.hostUrns.push_back(m_.hosts[hostId].urn);
            unit.sdName = (dsType == "DSWARE" ? Numbered("FusionStorage", index + 1)
                           : dsType == "NAS"  ? Numbered("NAS", index + 1)
                                              : Numbered("OceanStor", index + 1));
            unit.name = unit.sdName + "-LUN" + std::to_string(unit.id);
            unit.wwn = "6" + random_.Hex(31);
        }
        return unit;
    }

    void AddStorageResource(const std::string& name, const std::string& type) {
        StorageResource& resource = m_.Add(m_.storageResources, "storageresources");
        resource.name = name;
        resource.storageType = type;
        resource.deviceType = type == "DSWARE" ? "FusionStorage"
                              : type == "NAS"  ? "OceanStor 9000"
                                               : "OceanStor 5500 V5";
        resource.managementIp = "192.168.50." + std::to_string(10 + resource.id);
        resource.managementPort = type == "NAS" ? 2049 : 3260;
        resource.iSCSITargetIQN =
            type == "IPSAN" ? "iqn.2006-08.com.huawei:oceanstor:" + random_.Hex(16) : "";
        resource.vender = "Huawei";
    }

    void Switches() {
        for (int s = 0; s < o_.dvSwitches; ++s) {
            DvSwitch& sw = m_.Add(m_.dvSwitches, "dvswitchs");
            sw.name = s == 0 ? "ManagementDVS" : Numbered("DVS", s + 1);
            sw.type = s % 2;
            for (long hostId : hostIds_) sw.hostUrns.push_back(m_.hosts[hostId].urn);
            for (int p = 0; p < o_.portGroupsPerSwitch; ++p) {
                long pgId = p + 1;
                PortGroup& pg = sw.portGroups[pgId];
                pg.id = pgId;
                pg.urn = sw.urn + ":portgroups:" + std::to_string(pgId);
                pg.uri = UrnToUri(pg.urn);
                pg.name = (s == 0 && p == 0) ? "managePortgroup"
                                             : "PG-" + std::to_string(s + 1) + "-" + std::to_string(p + 1);
                pg.vlanId = (s == 0 && p == 0) ? 0 : 100 * (s + 1) + p;
                pg.portType = p % 2;
                pg.vspNum = 0;
                portGroupUrns_.push_back(pg.urn);
            }
        }
    }

    void Machines() {
        for (int i = 1; i <= o_.vms; ++i) AddMachine(i, false);
        for (int t = 1; t <= o_.templates; ++t) AddMachine(t, true);
    }

    void AddMachine(int index, bool isTemplate) {
        long number = m_.NextId("vms", 1);
        Vm& vm = m_.vms[number];
        vm.number = number;
        vm.id = VmId(number);
        vm.urn = m_.Urn("vms:" + vm.id);
        vm.uri = UrnToUri(vm.urn);
        vm.name = isTemplate ? Numbered("tpl-", index) : Numbered("vm-", index, 4);
        vm.description = isTemplate ? "template" : "";
        vm.uuid = random_.Uuid();
        vm.isTemplate = isTemplate;
        vm.status = (isTemplate || index % 3 == 0) ? "stopped" : "running";
        vm.createTime = Model::FormatTime(kSeedEpoch + 60L * number);
        if (!hostIds_.empty()) {
            const Host& host = m_.hosts[hostIds_[static_cast<std::size_t>(index - 1) % hostIds_.size()]];
            vm.hostUrn = host.urn;
            vm.clusterUrn = host.clusterUrn;
        }
        int folderSlot = index % (static_cast<int>(vmFolderUrns_.size()) + 1);
        if (folderSlot > 0) vm.folderUrn = vmFolderUrns_[static_cast<std::size_t>(folderSlot - 1)];
        if (index % 4 == 0) {
            vm.osType = "Windows";
            vm.osVersion = 60;
        } else if (isTemplate && index % 2 == 1) {
            vm.osType = "Other";
            vm.osVersion = 202;
        } else {
            vm.osType = "Linux";
            vm.osVersion = 402;
        }
        // Only some VMs report their guest OS name; the others are named from the catalogue.
        if (index % 2 == 0) vm.guestOSName = GuestName(vm.osType, vm.osVersion);
        vm.cpuQuantity = 2 << (index % 3);
        vm.memoryMB = 2048LL * (1 + index % 4);
        for (int k = 0; k < o_.disksPerVm; ++k) AddDisk(vm, index, k);
        for (int n = 0; n < o_.nicsPerVm && !portGroupUrns_.empty(); ++n) AddNic(vm, index, n);
    }

    std::string GuestName(const std::string& type, int id) const {
        const auto& list = type == "Windows" ? m_.osCatalogue.windows
                           : type == "Linux" ? m_.osCatalogue.linux
                                             : m_.osCatalogue.other;
        for (const auto& version : list) {
            if (version.id == id) return version.versionDes;
        }
        return std::string();
    }

    void AddDisk(Vm& vm, int index, int k) {
        std::vector<const Datastore*> reachable;
        for (const auto& entry : m_.datastores) {
            const auto& hosts = entry.second.hostUrns;
            if (vm.hostUrn.empty() || std::find(hosts.begin(), hosts.end(), vm.hostUrn) != hosts.end()) {
                reachable.push_back(&entry.second);
            }
        }
        if (reachable.empty()) return;
        const Datastore& ds = *reachable[static_cast<std::size_t>(index + k) % reachable.size()];
        Volume& volume = m_.Add(m_.volumes, "volumes");
        volume.name = vm.name + "-disk" + std::to_string(k + 1);
        volume.uuid = random_.Uuid();
        volume.datastoreUrn = ds.urn;
        volume.volumeUrl = "/" + ds.name + "/vol-" + volume.uuid;
        volume.vmUrn = vm.urn;
        volume.quantityGB = k == 0 ? 40 : 10 * (k + 1);
        volume.userUsedSizeMB = volume.quantityGB * 1024LL * (20 + random_.Below(60)) / 100;
        volume.isThin = ds.isThin;
        volume.pciType = (k % 2 == 1) ? "SCSI" : "VIRTIO";
        volume.sequenceNum = k + 1;
        volume.systemVolume = k == 0;
        volume.createTime = vm.createTime;
        vm.volumeUrns.push_back(volume.urn);
    }

    void AddNic(Vm& vm, int index, int n) {
        Nic nic;
        nic.id = vm.nextNicId++;
        nic.urn = vm.urn + ":nics:" + std::to_string(nic.id);
        nic.uri = UrnToUri(nic.urn);
        nic.name = "Nic" + std::to_string(nic.id);
        nic.portGroupUrn = portGroupUrns_[static_cast<std::size_t>(index + n) % portGroupUrns_.size()];
        long serial = ++nicSerial_;
        char mac[32];
        std::snprintf(mac, sizeof mac, "28:6e:d4:%02lx:%02lx:%02lx", (serial >> 16) & 0xFF,
                      (serial >> 8) & 0xFF, serial & 0xFF);
        nic.mac = mac;
        if (vm.status == "running")
            nic.ip = "10.10." + std::to_string(serial / 250) + "." + std::to_string(1 + serial % 250);
        nic.portId = std::to_string(4294967296LL + serial);
        nic.sequenceNum = n;
        vm.nics.push_back(nic);
    }

    void Snapshots() {
        int done = 0;
        for (auto& entry : m_.vms) {
            Vm& vm = entry.second;
            if (done >= o_.vmsWithSnapshots) break;
            if (vm.isTemplate) continue;
            ++done;
            for (const auto& urn : vm.volumeUrns) {
                Volume* volume = m_.FindVolume(urn);
                volume->volCBTCreateTime = std::to_string(kSeedEpoch + 86400 + volume->id);
            }
            Snapshot& a = AddSnapshot(vm, "snapshot-A", "", "CBTbackup", 2);
            AddSnapshot(vm, "snapshot-C", a.urn, "CBTbackup", 3);
            Snapshot& b = AddSnapshot(vm, "snapshot-B", "", "normal", 4);
            vm.currentSnapshotUrn = b.urn;
        }
    }

    Snapshot& AddSnapshot(Vm& vm, const std::string& name, const std::string& parent, const std::string& type,
                          int day) {
        long id = m_.NextId("snapshots", 1);
        Snapshot& snapshot = vm.snapshots[id];
        snapshot.id = id;
        snapshot.urn = vm.urn + ":snapshots:" + std::to_string(id);
        snapshot.uri = UrnToUri(snapshot.urn);
        snapshot.name = name;
        snapshot.description = "seeded " + name;
        snapshot.type = type;
        snapshot.parentUrn = parent;
        snapshot.isConsistent = type != "normal";
        snapshot.createTime = Model::FormatTime(kSeedEpoch + 86400LL * day);
        for (const Volume* volume : m_.VolumesOf(vm)) {
            VolSnapshot entry;
            entry.volumeUrn = volume->urn;
            entry.volumeUri = volume->uri;
            entry.datastoreUrn = volume->datastoreUrn;
            entry.volCBTCreateTime = volume->volCBTCreateTime;
            entry.chgID = std::to_string(id * 100 + volume->id);
            entry.snapUuid = random_.Uuid();
            snapshot.volsnapshots.push_back(entry);
        }
        return snapshot;
    }

    void Totals() {
        for (auto& entry : m_.hosts) {
            Host& host = entry.second;
            for (const auto& vmEntry : m_.vms) {
                const Vm& vm = vmEntry.second;
                if (vm.hostUrn == host.urn && vm.status == "running") host.memAllocatedMB += vm.memoryMB;
            }
        }
        for (auto& entry : m_.datastores) {
            Datastore& ds = entry.second;
            std::int64_t used = 0;
            for (const auto& volumeEntry : m_.volumes) {
                const Volume& volume = volumeEntry.second;
                if (volume.datastoreUrn != ds.urn) continue;
                used += volume.isThin ? (volume.userUsedSizeMB + 1023) / 1024 : volume.quantityGB;
            }
            ds.usedSizeGB = std::min(ds.capacityGB, used);
        }
    }

    Model& m_;
    const InventoryOptions& o_;
    Random random_;
    std::vector<long> clusterIds_, hostIds_;
    std::vector<std::string> vmFolderUrns_, portGroupUrns_;
    std::string clusterFolderUrn_;
    long nicSerial_ = 0;
};

}  // namespace

void SeedModel(Model& model, const InventoryOptions& options) {
    model.Clear();
    Seeder(model, options).Run();
}

}  // namespace vrmsim
