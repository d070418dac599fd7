#ifndef VRMSIM_RENDER_H
#define VRMSIM_RENDER_H

// Model objects as a VRM (version 8.9) writes them in JSON: the same keys with the same JSON types and
// value formats (numbers as text where the VRM sends text, 13-digit millisecond times, "null" as text),
// and no keys a VRM leaves out. tests/data/vrm-answers.tsv holds the real shapes the fidelity test
// compares these answers with.

#include <boost/json/object.hpp>

#include "Model.h"

namespace vrmsim {

boost::json::object RenderSite(const Site& site);
boost::json::object RenderFolder(Model& model, const Folder& folder);
boost::json::object RenderCluster(Model& model, const Cluster& cluster);
boost::json::object RenderHost(Model& model, const Host& host);
/// A VM or template: detail 0 identity and status, 1 summary with NICs, 2 everything.
/// `hideTemplateFlag` writes "isTemplate": false whatever the VM is.
boost::json::object RenderVm(Model& model, const Vm& vm, int detail, bool hideTemplateFlag = false);
/// A disk as an element of a VM's "vmConfig"/"disks".
boost::json::object RenderVmDisk(Model& model, const Volume& volume);
/// A volume read by itself.
boost::json::object RenderVolume(Model& model, const Volume& volume);
boost::json::object RenderNic(Model& model, const Nic& nic);
boost::json::object RenderDatastore(Model& model, const Datastore& datastore);
boost::json::object RenderStorageUnit(Model& model, const StorageUnit& unit);
boost::json::object RenderStorageResource(const StorageResource& resource);
boost::json::object RenderDvSwitch(const DvSwitch& dvSwitch);
boost::json::object RenderPortGroup(const DvSwitch& dvSwitch, const PortGroup& portGroup);
/// The answer of GET <vm>/snapshots: "currentSnapshot" and the tree under "rootSnapshots".
boost::json::object RenderSnapshotTree(const Vm& vm);
boost::json::object RenderSnapshot(const Vm& vm, const Snapshot& snapshot);
/// A task read by its link, or (`listEntry`) as an entry of the task list, which carries its id as
/// "taskId" and neither "taskType" nor "finishTime".
boost::json::object RenderTask(Model& model, const Task& task, bool listEntry = false);
boost::json::object RenderBackupResource(const BackupResource& resource);
boost::json::object RenderOsCatalogue(const OsCatalogue& catalogue);

}  // namespace vrmsim

#endif  // VRMSIM_RENDER_H
