#ifndef VRMSIM_RENDER_H
#define VRMSIM_RENDER_H

// Model objects as the VRM writes them in JSON: the keys the library reads plus realistic keys it
// ignores.

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
boost::json::object RenderTask(const Task& task);
boost::json::object RenderBackupResource(const BackupResource& resource);
boost::json::object RenderOsCatalogue(const OsCatalogue& catalogue);

}  // namespace vrmsim

#endif  // VRMSIM_RENDER_H
