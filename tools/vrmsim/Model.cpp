#include "Model.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

namespace vrmsim {

namespace {

bool AllDigits(const std::string& text, bool hex) {
    return !text.empty() && text.size() <= 15 && std::all_of(text.begin(), text.end(), [hex](char c) {
        return hex ? std::isxdigit(static_cast<unsigned char>(c))
                   : std::isdigit(static_cast<unsigned char>(c));
    });
}

/// Parses the numeric id of `urn` when it is `prefix` followed by the number (and nothing else).
bool IdAfter(const std::string& urn, const std::string& prefix, long& id, bool hex = false) {
    if (urn.size() <= prefix.size() || urn.compare(0, prefix.size(), prefix) != 0) return false;
    std::string rest = urn.substr(prefix.size());
    if (!AllDigits(rest, hex)) return false;
    id = std::stol(rest, nullptr, hex ? 16 : 10);
    return true;
}

template <class Map>
auto FindIn(Map& items, const std::string& prefix, const std::string& urn, bool hex = false)
    -> decltype(&items.begin()->second) {
    long id = 0;
    if (!IdAfter(urn, prefix, id, hex)) return nullptr;
    auto it = items.find(id);
    return (it != items.end() && it->second.urn == urn) ? &it->second : nullptr;
}

/// Ends a task or backup resource: "failed" when it was told to fail, with its own reason or else the
/// given one, otherwise "success". Returns whether it succeeded.
template <class Outcome>
bool End(Outcome& outcome, const char* reason, const char* reasonDes) {
    if (!outcome.fail) {
        outcome.status = "success";
        return true;
    }
    outcome.status = "failed";
    if (outcome.reason.empty()) outcome.reason = reason;
    if (outcome.reasonDes.empty()) outcome.reasonDes = reasonDes;
    return false;
}

}  // namespace

std::string UrnToUri(const std::string& urn) {
    if (urn.compare(0, 4, "urn:") != 0) return std::string();
    std::string uri = "/service/" + urn.substr(4);
    std::replace(uri.begin(), uri.end(), ':', '/');
    return uri;
}

void Model::Clear() {
    sites.clear();
    folders.clear();
    clusters.clear();
    hosts.clear();
    vms.clear();
    volumes.clear();
    datastores.clear();
    storageUnits.clear();
    storageResources.clear();
    dvSwitches.clear();
    tasks.clear();
    backupResources.clear();
    osCatalogue = OsCatalogue();
    nextIds.clear();
    cbt.clear();
    backupSettings = BackupSettings();
    outcomeRules.clear();
}

std::string Model::Urn(const std::string& rest) const {
    return site().urn + ":" + rest;
}

long Model::NextId(const std::string& collection, long first) {
    auto it = nextIds.find(collection);
    if (it == nextIds.end()) it = nextIds.emplace(collection, first).first;
    return it->second++;
}

std::string Model::FormatTime(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

Cluster* Model::FindCluster(const std::string& urn) {
    return FindIn(clusters, Urn("clusters:"), urn);
}
Host* Model::FindHost(const std::string& urn) {
    return FindIn(hosts, Urn("hosts:"), urn);
}
Vm* Model::FindVm(const std::string& urn) {
    return FindIn(vms, Urn("vms:i-"), urn, true);
}
Volume* Model::FindVolume(const std::string& urn) {
    return FindIn(volumes, Urn("volumes:"), urn);
}
const Volume* Model::FindVolume(const std::string& urn) const {
    return FindIn(volumes, Urn("volumes:"), urn);
}
Datastore* Model::FindDatastore(const std::string& urn) {
    return FindIn(datastores, Urn("datastores:"), urn);
}
StorageUnit* Model::FindStorageUnit(const std::string& urn) {
    return FindIn(storageUnits, Urn("storageunits:"), urn);
}
StorageResource* Model::FindStorageResource(const std::string& urn) {
    return FindIn(storageResources, Urn("storageresources:"), urn);
}
DvSwitch* Model::FindDvSwitch(const std::string& urn) {
    return FindIn(dvSwitches, Urn("dvswitchs:"), urn);
}
Folder* Model::FindFolder(const std::string& urn) {
    return FindIn(folders, Urn("folders:"), urn);
}
Task* Model::FindTask(const std::string& urn) {
    return FindIn(tasks, Urn("tasks:"), urn);
}

PortGroup* Model::FindPortGroup(const std::string& urn) {
    auto mark = urn.find(":portgroups:");
    if (mark == std::string::npos) return nullptr;
    DvSwitch* dvSwitch = FindDvSwitch(urn.substr(0, mark));
    return dvSwitch ? FindIn(dvSwitch->portGroups, dvSwitch->urn + ":portgroups:", urn) : nullptr;
}

Snapshot* Model::FindSnapshot(const std::string& urn, Vm** owner) {
    auto mark = urn.find(":snapshots:");
    if (mark == std::string::npos) return nullptr;
    Vm* vm = FindVm(urn.substr(0, mark));
    if (!vm) return nullptr;
    Snapshot* snapshot = FindIn(vm->snapshots, vm->urn + ":snapshots:", urn);
    if (snapshot && owner) *owner = vm;
    return snapshot;
}

bool Model::Exists(const std::string& urn) {
    for (const auto& s : sites) {
        if (s.urn == urn) return true;
    }
    return FindCluster(urn) || FindHost(urn) || FindVm(urn) || FindVolume(urn) || FindDatastore(urn) ||
           FindStorageUnit(urn) || FindStorageResource(urn) || FindDvSwitch(urn) || FindPortGroup(urn) ||
           FindFolder(urn) || FindTask(urn) || FindSnapshot(urn);
}

std::vector<const Volume*> Model::VolumesOf(const Vm& vm) const {
    std::vector<const Volume*> result;
    for (const auto& urn : vm.volumeUrns) {
        if (const Volume* volume = FindVolume(urn)) result.push_back(volume);
    }
    return result;
}

bool Model::FolderWithin(const std::string& folderUrn, const std::string& ancestorUrn) const {
    std::string current = folderUrn;
    for (int depth = 0; depth < 64 && !current.empty(); ++depth) {
        if (current == ancestorUrn) return true;
        auto it = std::find_if(folders.begin(), folders.end(),
                               [&](const auto& entry) { return entry.second.urn == current; });
        if (it == folders.end()) return false;
        current = it->second.parentObjUrn;
    }
    return false;
}

Task& Model::StartTask(const std::string& type, const std::string& entityUrn, const std::string& entityUri,
                       std::int64_t now, int pollsToFinish, std::function<void(Model&, Task&)> onFinish) {
    Task& task = Add(tasks, "tasks", 1001);
    task.type = type;
    task.entityUrn = entityUrn;
    task.entityUri = entityUri;
    task.startTime = FormatTime(now);
    task.startSeconds = now;
    task.pollsToFinish = pollsToFinish;
    task.onFinish = std::move(onFinish);
    if (pollsToFinish <= 0) {
        task.pollsToFinish = 0;
        AdvanceTask(task, now);
    }
    return task;
}

void Model::AdvanceTask(Task& task, std::int64_t now) {
    if (task.status == "success" || task.status == "failed") return;
    if (task.polls < task.pollsToFinish) ++task.polls;
    if (task.secondsToFinish > 0 && now - task.startSeconds < task.secondsToFinish) {
        task.status = "running";
        task.progress = static_cast<int>(std::min<std::int64_t>(
            99, 100 * std::max<std::int64_t>(now - task.startSeconds, 0) / task.secondsToFinish));
        return;
    }
    if (task.secondsToFinish <= 0 && task.polls < task.pollsToFinish) {
        task.status = "running";
        task.progress = std::min(99, 100 * task.polls / std::max(task.pollsToFinish, 1));
        return;
    }
    task.finishTime = FormatTime(now);
    task.finishSeconds = now;
    if (End(task, "10300001", "The task failed.")) task.progress = 100;
    if (task.onFinish) {
        auto finish = std::move(task.onFinish);
        task.onFinish = nullptr;
        finish(*this, task);
    }
}

BackupResource* Model::PollBackupResource(const std::string& uri, std::int64_t now) {
    auto it = backupResources.find(uri);
    if (it == backupResources.end()) return nullptr;
    BackupResource& resource = it->second;
    if (resource.releaseReads >= 0) {
        if (resource.releaseReads == 0) {
            backupResources.erase(it);
            return nullptr;
        }
        --resource.releaseReads;
        return &resource;
    }
    resource.runningTime = static_cast<int>(std::max<std::int64_t>(0, now - resource.createdSeconds));
    if (resource.status != "creating" || resource.never) return &resource;
    if (++resource.polls < resource.pollsToReady) return &resource;
    End(resource, "10420010", "The backup resource could not be prepared.");
    return &resource;
}

}  // namespace vrmsim
