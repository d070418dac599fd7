#include "queries/FusionComputeQueries.h"

#include <boost/algorithm/string/replace.hpp>

#include "connection/FusionComputeLinks.h"
#include "queries/FusionComputePaging.h"

namespace FusionComputeSDKWrapper {

namespace {

const char kSitesPath[] = "service/sites";

}  // namespace

CFusionComputeQueries::CFusionComputeQueries(CFusionComputeConnection* connection,
                                             CFusionComputeParser* parser, CFusionComputeErrorState* state)
    : CFusionComputeRequestCore(connection, parser, state), debug(nullptr) {}

CFusionComputeQueries::~CFusionComputeQueries() = default;

// ---- Support -------------------------------------------------------------------------------------

std::string CFusionComputeQueries::ConvertUrnToUri(const std::string& urn) {
    const std::string::size_type start = urn.find("urn:");
    if (start == std::string::npos) return std::string();
    // A URN with a "..", "/", "?" or "%" in it would make a path that leads somewhere else.
    if (!IsWellFormedUrn(urn.substr(start))) return std::string();
    std::string uri = "/service/" + urn.substr(start + 4);
    boost::algorithm::replace_all(uri, ":", "/");
    return uri;
}

std::string CFusionComputeQueries::UrlEncode(const std::string& text) {
    return connection->UrlEncode(text);
}

void CFusionComputeQueries::AdjustVMDetailQuery(std::string& query, UINT64 flags) {
    int level = 1;
    if ((flags & VM_PROP_ALL_VM) == 0) {
        level = 0;
    } else if ((flags & (VM_PROP_VM_GUEST_INFO | VM_PROP_VM_DISK_LIST)) != 0) {
        level = 2;
    }
    if (level == 1) return;  // the VRM's default level needs no argument
    if (!query.empty()) query += "&";
    query += FXString::Format("detail=%d", level);
}

bool CFusionComputeQueries::FindSearchedName(const std::string& query, std::string& name) {
    static const std::string kKey = "name=";
    const std::string::size_type start = query.find(kKey);
    if (start == std::string::npos) return false;
    const std::string::size_type valueStart = start + kKey.size();
    const std::string::size_type end = query.find('&', valueStart);
    name = query.substr(valueStart, end == std::string::npos ? std::string::npos : end - valueStart);
    return true;
}

bool CFusionComputeQueries::CheckLink(const std::string& link) {
    if (IsWellFormedLink(link)) return true;
    const std::string message = "Refused to use the malformed link [" + PrintableText(link) + "]";
    debug.Error(__PRETTY_FUNCTION__, "%s", message.c_str());
    SetLastError(message);
    return false;
}

bool CFusionComputeQueries::NameMatches(const std::string& name, const std::string& searchedName) {
    return FXString::CompareNoCase(UrlEncode(name), searchedName) == 0;
}

void CFusionComputeQueries::SetPageOffset(std::string& path, std::size_t offset) {
    // A query that brings its own "offset=0" (the storage resources) must not end up with two offset
    // arguments on later pages: the VRM would be free to honour the first one and serve page one again.
    const std::string::size_type queryStart = path.find('?');
    if (queryStart != std::string::npos) {
        std::string::size_type argStart = queryStart + 1;
        while (argStart <= path.size()) {
            std::string::size_type argEnd = path.find('&', argStart);
            if (argEnd == std::string::npos) argEnd = path.size();
            if (path.compare(argStart, 7, "offset=") == 0 && argEnd - argStart >= 7) {
                path.replace(argStart, argEnd - argStart, "offset=" + std::to_string(offset));
                return;
            }
            argStart = argEnd + 1;
        }
    }
    connection->appendQueryStringArgument(path, "offset=%d", static_cast<int>(offset));
}

// ---- Searches for one object ---------------------------------------------------------------------

bool CFusionComputeQueries::GetSiteInfo(const std::string& name, const std::string& urn, SSiteInfoLib& site,
                                        UINT64 /*flags*/) {
    std::string query;
    if (!urn.empty()) {
        query = FXString::Format("urn=%s", EncodeQueryValue(urn).c_str());
    } else if (!name.empty()) {
        query = FXString::Format("name=%s", UrlEncode(name).c_str());
    } else {
        debug.Error(__PRETTY_FUNCTION__, "Could not find site [%s/%s]", name.c_str(), urn.c_str());
        SetLastError(FXString::Format("Could not find site [%s/%s]", name.c_str(), urn.c_str()));
        return false;
    }
    // The site list is not below any site: an empty site URI leaves the path as it is.
    return GetOneObjectFromLink<SSiteInfoLib>(SSiteInfoLib(), kSitesPath, query, "sites", site);
}

bool CFusionComputeQueries::GetClusterInfo(const SSiteInfoLib& site, const std::string& name,
                                           const std::string& urn, SClusterInfoLib& cluster,
                                           UINT64 /*flags*/) {
    std::string query;
    if (!urn.empty()) {
        query = FXString::Format("clusterUrns=%s", EncodeQueryValue(urn).c_str());
    } else if (!name.empty()) {
        query = FXString::Format("name=%s", UrlEncode(name).c_str());
    } else {
        debug.Error(__PRETTY_FUNCTION__, "Could not find cluster [%s/%s]", name.c_str(), urn.c_str());
        SetLastError(FXString::Format("Could not find cluster [%s/%s]", name.c_str(), urn.c_str()));
        return false;
    }
    return GetOneObjectFromLink<SClusterInfoLib>(site, "/clusters", query, "clusters", cluster);
}

bool CFusionComputeQueries::GetHostInfo(const SSiteInfoLib& site, const std::string& name,
                                        const std::string& urn, SHostInfoLib& host, UINT64 /*flags*/) {
    if (name.empty()) {
        debug.Error(__PRETTY_FUNCTION__, "Could not find host [%s/%s]", name.c_str(), urn.c_str());
        SetLastError(FXString::Format("Could not find host [%s/%s]", name.c_str(), urn.c_str()));
        return false;
    }
    const std::string query = FXString::Format("name=%s", UrlEncode(name).c_str());
    return GetOneObjectFromLink<SHostInfoLib>(site, "/hosts", query, "hosts", host);
}

bool CFusionComputeQueries::GetVMInfo(const SSiteInfoLib& site, const std::string& name,
                                      const std::string& urn, const std::string& uuid, SVMInfoLib& vm,
                                      UINT64 flags) {
    std::string query;
    if (!uuid.empty()) {
        query = FXString::Format("uuid=%s", EncodeQueryValue(uuid).c_str());
    } else if (!urn.empty()) {
        query = FXString::Format("vmurns=%s", EncodeQueryValue(urn).c_str());
    } else if (!name.empty()) {
        query = FXString::Format("name=%s", UrlEncode(name).c_str());
    } else {
        debug.Error(__PRETTY_FUNCTION__, "Could not find vm [%s/%s/%s]", name.c_str(), urn.c_str(),
                    uuid.c_str());
        SetLastError(
            FXString::Format("Could not find vm [%s/%s/%s]", name.c_str(), urn.c_str(), uuid.c_str()));
        return false;
    }
    AdjustVMDetailQuery(query, flags);
    return GetOneObjectFromLink<SVMInfoLib>(site, "/vms", query, "vms", vm);
}

bool CFusionComputeQueries::GetDataStoreInfo(const SSiteInfoLib& site, const std::string& name,
                                             const std::string& urn, SDataStoreInfoLib& datastore,
                                             UINT64 /*flags*/) {
    if (name.empty()) {
        debug.Error(__PRETTY_FUNCTION__, "Could not find DataStore [%s/%s]", name.c_str(), urn.c_str());
        SetLastError(FXString::Format("Could not find DataStore [%s/%s]", name.c_str(), urn.c_str()));
        return false;
    }
    const std::string query = FXString::Format("name=%s", UrlEncode(name).c_str());
    return GetOneObjectFromLink<SDataStoreInfoLib>(site, "/datastores", query, "datastores", datastore);
}

// ---- Lists ---------------------------------------------------------------------------------------

bool CFusionComputeQueries::GetSiteInfoList(std::vector<SSiteInfoLib>& sites, UINT64 /*flags*/) {
    return GetListFromLink<SSiteInfoLib>(kSitesPath, "sites", sites);
}

bool CFusionComputeQueries::GetClusterInfoList(const SSiteInfoLib& site,
                                               std::vector<SClusterInfoLib>& clusters, UINT64 /*flags*/) {
    return GetListFromLink<SClusterInfoLib>(site, "/clusters", "clusters", clusters);
}

bool CFusionComputeQueries::GetClusterInfoListForFolder(const SSiteInfoLib& site,
                                                        const std::string& folderUrn,
                                                        std::vector<SClusterInfoLib>& clusters,
                                                        UINT64 /*flags*/) {
    const std::string query = FXString::Format(
        "parentObjUrn=%s", folderUrn.empty() ? "default" : EncodeQueryValue(folderUrn).c_str());
    return GetListFromLink<SClusterInfoLib>(site, "/clusters", query, "clusters", clusters);
}

bool CFusionComputeQueries::GetHostInfoList(const SSiteInfoLib& site, std::vector<SHostInfoLib>& hosts,
                                            UINT64 /*flags*/) {
    return GetListFromLink<SHostInfoLib>(site, "/hosts", "hosts", hosts);
}

bool CFusionComputeQueries::GetHostInfoListForObject(const SSiteInfoLib& site, const SBaseInfoLib& object,
                                                     std::vector<SHostInfoLib>& hosts, UINT64 /*flags*/) {
    const std::string query = FXString::Format("scope=%s", EncodeQueryValue(object.urn).c_str());
    return GetListFromLink<SHostInfoLib>(site, "/hosts", query, "hosts", hosts);
}

bool CFusionComputeQueries::GetVMInfoList(const SSiteInfoLib& site, std::vector<SVMInfoLib>& vms,
                                          UINT64 flags) {
    std::string query;
    AdjustVMDetailQuery(query, flags);
    return GetListFromLink<SVMInfoLib>(site, "/vms", query, "vms", vms);
}

bool CFusionComputeQueries::GetVMInfoListForObject(const SSiteInfoLib& site, const SBaseInfoLib& object,
                                                   std::vector<SVMInfoLib>& vms, UINT64 flags) {
    std::string query;
    if (!object.urn.empty()) query = FXString::Format("scope=%s", EncodeQueryValue(object.urn).c_str());
    AdjustVMDetailQuery(query, flags);
    return GetListFromLink<SVMInfoLib>(site, "/vms", query, "vms", vms);
}

bool CFusionComputeQueries::GetVMInfoListForMACAddress(const SSiteInfoLib& site, const std::string& mac,
                                                       std::vector<SVMInfoLib>& vms, UINT64 flags) {
    std::string query = FXString::Format("mac=%s", EncodeQueryValue(mac).c_str());
    AdjustVMDetailQuery(query, flags);
    return GetListFromLink<SVMInfoLib>(site, "/vms", query, "vms", vms);
}

bool CFusionComputeQueries::GetVMInfoListOfTemplates(const SSiteInfoLib& site, std::vector<SVMInfoLib>& vms,
                                                     UINT64 flags) {
    std::string query = "isTemplate=true";
    AdjustVMDetailQuery(query, flags);
    return GetListFromLink<SVMInfoLib>(site, "/vms", query, "vms", vms);
}

bool CFusionComputeQueries::GetDataStoreInfoList(const SSiteInfoLib& site,
                                                 std::vector<SDataStoreInfoLib>& datastores,
                                                 UINT64 /*flags*/) {
    return GetListFromLink<SDataStoreInfoLib>(site, "/datastores", "datastores", datastores);
}

bool CFusionComputeQueries::GetDataStoreInfoListForObject(const SSiteInfoLib& site,
                                                          const SBaseInfoLib& object,
                                                          std::vector<SDataStoreInfoLib>& datastores,
                                                          UINT64 /*flags*/) {
    const std::string query = FXString::Format("scope=%s", EncodeQueryValue(object.urn).c_str());
    return GetListFromLink<SDataStoreInfoLib>(site, "/datastores", query, "datastores", datastores);
}

bool CFusionComputeQueries::GetStorageDeviceInfoListForHost(const SSiteInfoLib& site,
                                                            const SHostInfoLib& host,
                                                            std::vector<SStorageDeviceInfoLib>& devices,
                                                            UINT64 /*flags*/) {
    const std::string query =
        FXString::Format("hostUrn=%s&useState=all&deviceType=0", EncodeQueryValue(host.urn).c_str());
    return GetListFromLink<SStorageDeviceInfoLib>(site, "/storageunits", query, "storageUnits", devices);
}

bool CFusionComputeQueries::GetStorageResourceInfoList(const SSiteInfoLib& site,
                                                       const std::string& storageType,
                                                       std::vector<SStorageResourceInfoLib>& resources,
                                                       UINT64 /*flags*/) {
    std::string query = "limit=100&offset=0";
    if (!storageType.empty())
        query += FXString::Format("&storageType=%s", EncodeQueryValue(storageType).c_str());
    return GetListFromLink<SStorageResourceInfoLib>(site, "/storageresources", query, "storageResources",
                                                    resources);
}

bool CFusionComputeQueries::GetNetworkInfoList(const SSiteInfoLib& site,
                                               std::vector<SNetworkInfoLib>& networks, UINT64 /*flags*/) {
    return GetListFromLink<SNetworkInfoLib>(site, "/dvswitchs", "dvSwitchs", networks);
}

bool CFusionComputeQueries::GetNetworkInfoListForObject(const SSiteInfoLib& site, const SBaseInfoLib& object,
                                                        std::vector<SNetworkInfoLib>& networks,
                                                        UINT64 /*flags*/) {
    const std::string query = FXString::Format("location=%s", EncodeQueryValue(object.urn).c_str());
    return GetListFromLink<SNetworkInfoLib>(site, "/dvswitchs", query, "dvSwitchs", networks);
}

bool CFusionComputeQueries::GetNetworkPortGroups(const SNetworkInfoLib& network,
                                                 std::vector<SPortGroupInfoLib>& portGroups,
                                                 UINT64 /*flags*/) {
    if (!CheckLink(network.uri)) return false;
    return GetListFromLink<SPortGroupInfoLib>(network.uri + "/portgroups", "portGroups", portGroups);
}

bool CFusionComputeQueries::GetFolderInfoList(const SSiteInfoLib& site, int type,
                                              const std::string& parentUrn,
                                              std::vector<SFolderInfoLib>& folders) {
    std::string query = FXString::Format("type=%d", type);
    if (!parentUrn.empty())
        query += FXString::Format("&parentObjUrn=%s", EncodeQueryValue(parentUrn).c_str());
    return GetListFromLink<SFolderInfoLib>(site, "/folder", query, "folders", folders);
}

bool CFusionComputeQueries::GetFolderInfo(const SSiteInfoLib& /*site*/) {
    return false;
}

// ---- Single objects read from their URI ----------------------------------------------------------

bool CFusionComputeQueries::GetVMSnapshotTree(const SVMInfoLib& vm, SSnapshotTreeInfoLib& tree) {
    if (!CheckLink(vm.uri)) return false;
    return GetObjectFromLink<SSnapshotTreeInfoLib>(vm.uri + "/snapshots", tree);
}

bool CFusionComputeQueries::GetVMSnapshotInfo(SSnapshotInfoLib& snapshot) {
    return GetObjectFromOwnLink(snapshot.uri, snapshot.urn, snapshot);
}

bool CFusionComputeQueries::GetVMInfoFromOwnLink(SVMInfoLib& vm) {
    return GetObjectFromOwnLink(vm.uri, vm.urn, vm);
}

bool CFusionComputeQueries::GetDiskInfo(SDiskInfoLib& disk) {
    return GetObjectFromOwnLink(disk.uri, disk.urn, disk);
}

bool CFusionComputeQueries::GetNetworkInfo(SNetworkInfoLib& network) {
    return GetObjectFromOwnLink(network.uri, network.urn, network);
}

bool CFusionComputeQueries::GetPortGroupInfo(SPortGroupInfoLib& portGroup) {
    return GetObjectFromOwnLink(portGroup.uri, portGroup.urn, portGroup);
}

bool CFusionComputeQueries::GetTaskInfo(STaskInfoLib& task) {
    return GetObjectFromOwnLink(task.taskUri, task.taskUrn, task);
}

bool CFusionComputeQueries::GetBackupResourceInfo(SBackupResourceInfoLib& resource) {
    if (resource.uri.empty()) {
        SetLastError("No backup resource URI given");
        return false;
    }
    if (!CheckLink(resource.uri)) return false;
    const std::string link = resource.uri;
    return GetObjectFromLink<SBackupResourceInfoLib>(link, resource);
}

bool CFusionComputeQueries::GetOSVersions(const SSiteInfoLib& site, SOSVersionsInfoLib& osVersions) {
    return GetObjectFromLink<SOSVersionsInfoLib>(site, "/vms/osversions", osVersions);
}

}  // namespace FusionComputeSDKWrapper
