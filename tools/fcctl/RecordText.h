#ifndef FCCTL_RECORDTEXT_H
#define FCCTL_RECORDTEXT_H

// The library's records as readable text: aligned tables for lists, key/value blocks for one object.

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "FusionComputeRecords.h"

namespace fcctl {

namespace fc = FusionComputeSDKWrapper;

/// Which sub-tables to print below a VM list or VM.
struct VmSections {
    bool disks = false;
    bool nics = false;
    bool snapshots = false;
};

/// VMs, one row each, then the sections asked for (disks, network cards, snapshots of every VM).
void PrintVmList(std::ostream& out, const std::vector<fc::SVMInfoLib>& vms, const VmSections& sections);
/// One VM in full: its fields, then its disks, network cards and snapshots.
void PrintVm(std::ostream& out, const fc::SVMInfoLib& vm);
/// One disk (volume) in full.
void PrintDisk(std::ostream& out, const fc::SDiskInfoLib& disk);
/// One snapshot in full, with the change-tracking data of each disk.
void PrintSnapshot(std::ostream& out, const fc::SSnapshotInfoLib& snapshot);
/// Snapshots of one VM, one row each.
void PrintSnapshotTable(std::ostream& out, const std::vector<fc::SSnapshotInfoLib>& snapshots);

void PrintSites(std::ostream& out, const std::vector<fc::SSiteInfoLib>& sites);
void PrintClusters(std::ostream& out, const std::vector<fc::SClusterInfoLib>& clusters);
void PrintHosts(std::ostream& out, const std::vector<fc::SHostInfoLib>& hosts);
void PrintDatastores(std::ostream& out, const std::vector<fc::SDataStoreInfoLib>& datastores);
void PrintNetworks(std::ostream& out, const std::vector<fc::SNetworkInfoLib>& networks);
/// Folders with their kind ("cluster" or "vm").
void PrintFolders(std::ostream& out, const std::vector<std::pair<std::string, fc::SFolderInfoLib>>& folders);

/// A section title with a blank line before it.
void PrintHeading(std::ostream& out, const std::string& title);

}  // namespace fcctl

#endif  // FCCTL_RECORDTEXT_H
