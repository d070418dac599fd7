#ifndef FCSDK_QUERIES_FUSIONCOMPUTEQUERIES_H
#define FCSDK_QUERIES_FUSIONCOMPUTEQUERIES_H

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "EvDebug.h"
#include "FusionComputeErrorState.h"
#include "FusionComputeRecords.h"
#include "connection/FusionComputeConnection.h"
#include "connection/FusionComputeRequestCore.h"
#include "parser/FusionComputeParser.h"

namespace FusionComputeSDKWrapper {

/// @brief The read-only side of the library: every GET sent to the VRM after login.
///
/// The inventory queries, built on a generic engine (one object found by a search, a whole list read
/// page by page, one object read from its URI) whose templates are defined in
/// queries/FusionComputePaging.h. Failures are recorded in the shared error state through the inherited
/// request core.
class CFusionComputeQueries : public CFusionComputeRequestCore {
  public:
    /// @brief Builds the queries object; it owns none of its arguments.
    /// @param connection the VRM session through which every GET is sent
    /// @param parser turns answer bodies into records
    /// @param state the shared error state (may be null)
    CFusionComputeQueries(CFusionComputeConnection* connection, CFusionComputeParser* parser,
                          CFusionComputeErrorState* state);
    ~CFusionComputeQueries() override;

    // ---- Support ---------------------------------------------------------------------------------

    /// @brief The URI of the object named by a URN: "urn:a:b" becomes "/service/a/b".
    /// @param urn text holding a URN; anything before the first "urn:" is dropped
    /// @return the URI, or "" when the text holds no "urn:"
    std::string ConvertUrnToUri(const std::string& urn);
    /// @brief Percent-encodes a value for a query string.
    /// @param text the raw value
    /// @return the encoded value
    std::string UrlEncode(const std::string& text);
    /// @brief Appends the VRM's detail level for VM reads to a query string.
    ///
    /// No VM flag: "detail=0"; VM_PROP_VM_GUEST_INFO or VM_PROP_VM_DISK_LIST: "detail=2"; otherwise
    /// nothing (the VRM's default level 1).
    /// @param query query string to extend ("&" is added when it is not empty)
    /// @param flags the caller's detail mask
    void AdjustVMDetailQuery(std::string& query, UINT64 flags);

    // ---- Searches for one object -----------------------------------------------------------------

    /// @brief Finds a site by URN, else by name.
    /// @param name site name
    /// @param urn site URN (preferred when given)
    /// @param site receives the site
    /// @param flags detail mask (no effect)
    /// @return true when exactly one site was found
    bool GetSiteInfo(const std::string& name, const std::string& urn, SSiteInfoLib& site, UINT64 flags);
    /// @brief Finds a cluster by URN, else by name.
    /// @param site the site to search
    /// @param name cluster name
    /// @param urn cluster URN (preferred when given)
    /// @param cluster receives the cluster
    /// @param flags detail mask (no effect)
    /// @return true when exactly one cluster was found
    bool GetClusterInfo(const SSiteInfoLib& site, const std::string& name, const std::string& urn,
                        SClusterInfoLib& cluster, UINT64 flags);
    /// @brief Finds a host by name (the URN is only reported when the name is missing).
    /// @param site the site to search
    /// @param name host name
    /// @param urn host URN (not searched)
    /// @param host receives the host
    /// @param flags detail mask (no effect)
    /// @return true when exactly one host was found
    bool GetHostInfo(const SSiteInfoLib& site, const std::string& name, const std::string& urn,
                     SHostInfoLib& host, UINT64 flags);
    /// @brief Finds a VM by UUID, else URN, else name, at the detail level of `flags`.
    /// @param site the site to search
    /// @param name VM name
    /// @param urn VM URN
    /// @param uuid VM UUID (preferred when given)
    /// @param vm receives the VM
    /// @param flags detail mask; decides the VRM's detail level
    /// @return true when exactly one VM was found
    bool GetVMInfo(const SSiteInfoLib& site, const std::string& name, const std::string& urn,
                   const std::string& uuid, SVMInfoLib& vm, UINT64 flags);
    /// @brief Finds a datastore by name (the URN is only reported when the name is missing).
    /// @param site the site to search
    /// @param name datastore name
    /// @param urn datastore URN (not searched)
    /// @param datastore receives the datastore
    /// @param flags detail mask (no effect)
    /// @return true when exactly one datastore was found
    bool GetDataStoreInfo(const SSiteInfoLib& site, const std::string& name, const std::string& urn,
                          SDataStoreInfoLib& datastore, UINT64 flags);

    // ---- Lists -----------------------------------------------------------------------------------

    /// @brief Lists every site of the VRM.
    /// @param sites receives the sites
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetSiteInfoList(std::vector<SSiteInfoLib>& sites, UINT64 flags);
    /// @brief Lists the clusters of a site.
    /// @param site the site
    /// @param clusters receives the clusters
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetClusterInfoList(const SSiteInfoLib& site, std::vector<SClusterInfoLib>& clusters, UINT64 flags);
    /// @brief Lists the clusters in a folder ("default" when no folder is given).
    /// @param site the site
    /// @param folderUrn URN of the parent folder, or "" for the site's top level
    /// @param clusters receives the clusters
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetClusterInfoListForFolder(const SSiteInfoLib& site, const std::string& folderUrn,
                                     std::vector<SClusterInfoLib>& clusters, UINT64 flags);
    /// @brief Lists the hosts of a site.
    /// @param site the site
    /// @param hosts receives the hosts
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetHostInfoList(const SSiteInfoLib& site, std::vector<SHostInfoLib>& hosts, UINT64 flags);
    /// @brief Lists the hosts within the scope of an object (a cluster, say).
    /// @param site the site
    /// @param object the scope; its URN is sent even when empty
    /// @param hosts receives the hosts
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetHostInfoListForObject(const SSiteInfoLib& site, const SBaseInfoLib& object,
                                  std::vector<SHostInfoLib>& hosts, UINT64 flags);
    /// @brief Lists the VMs of a site at the detail level of `flags`.
    /// @param site the site
    /// @param vms receives the VMs
    /// @param flags detail mask; decides the VRM's detail level
    /// @return true when the whole list was read
    bool GetVMInfoList(const SSiteInfoLib& site, std::vector<SVMInfoLib>& vms, UINT64 flags);
    /// @brief Lists the VMs within the scope of an object (the whole site when its URN is empty).
    /// @param site the site
    /// @param object the scope
    /// @param vms receives the VMs
    /// @param flags detail mask; decides the VRM's detail level
    /// @return true when the whole list was read
    bool GetVMInfoListForObject(const SSiteInfoLib& site, const SBaseInfoLib& object,
                                std::vector<SVMInfoLib>& vms, UINT64 flags);
    /// @brief Lists the VMs with a NIC whose MAC address matches.
    /// @param site the site
    /// @param mac MAC address (sent unencoded)
    /// @param vms receives the VMs
    /// @param flags detail mask; decides the VRM's detail level
    /// @return true when the whole list was read
    bool GetVMInfoListForMACAddress(const SSiteInfoLib& site, const std::string& mac,
                                    std::vector<SVMInfoLib>& vms, UINT64 flags);
    /// @brief Lists the VM templates of a site.
    /// @param site the site
    /// @param vms receives the templates
    /// @param flags detail mask; decides the VRM's detail level
    /// @return true when the whole list was read
    bool GetVMInfoListOfTemplates(const SSiteInfoLib& site, std::vector<SVMInfoLib>& vms, UINT64 flags);
    /// @brief Lists the datastores of a site.
    /// @param site the site
    /// @param datastores receives the datastores
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetDataStoreInfoList(const SSiteInfoLib& site, std::vector<SDataStoreInfoLib>& datastores,
                              UINT64 flags);
    /// @brief Lists the datastores within the scope of an object (a host, say).
    /// @param site the site
    /// @param object the scope; its URN is sent even when empty
    /// @param datastores receives the datastores
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetDataStoreInfoListForObject(const SSiteInfoLib& site, const SBaseInfoLib& object,
                                       std::vector<SDataStoreInfoLib>& datastores, UINT64 flags);
    /// @brief Lists the storage units seen by a host, in any use state.
    /// @param site the site
    /// @param host the host
    /// @param devices receives the storage units
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetStorageDeviceInfoListForHost(const SSiteInfoLib& site, const SHostInfoLib& host,
                                         std::vector<SStorageDeviceInfoLib>& devices, UINT64 flags);
    /// @brief Lists the storage resources of a site, optionally of one storage type.
    /// @param site the site
    /// @param storageType storage type filter, or "" for all
    /// @param resources receives the storage resources
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetStorageResourceInfoList(const SSiteInfoLib& site, const std::string& storageType,
                                    std::vector<SStorageResourceInfoLib>& resources, UINT64 flags);
    /// @brief Lists the distributed switches of a site.
    /// @param site the site
    /// @param networks receives the switches
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetNetworkInfoList(const SSiteInfoLib& site, std::vector<SNetworkInfoLib>& networks, UINT64 flags);
    /// @brief Lists the distributed switches at the location of an object (a host, say).
    /// @param site the site
    /// @param object the location
    /// @param networks receives the switches
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetNetworkInfoListForObject(const SSiteInfoLib& site, const SBaseInfoLib& object,
                                     std::vector<SNetworkInfoLib>& networks, UINT64 flags);
    /// @brief Lists the port groups of a distributed switch.
    /// @param network the switch (its URI is the base of the request)
    /// @param portGroups receives the port groups
    /// @param flags detail mask (no effect)
    /// @return true when the whole list was read
    bool GetNetworkPortGroups(const SNetworkInfoLib& network, std::vector<SPortGroupInfoLib>& portGroups,
                              UINT64 flags);
    /// @brief Lists the folders of a type (0 cluster folders, 1 VM folders), optionally below a parent.
    /// @param site the site
    /// @param type folder type
    /// @param parentUrn URN of the parent folder, or "" for all
    /// @param folders receives the folders
    /// @return true when the whole list was read
    bool GetFolderInfoList(const SSiteInfoLib& site, int type, const std::string& parentUrn,
                           std::vector<SFolderInfoLib>& folders);
    /// @brief Reading a single folder is not offered by this library.
    /// @param site the site
    /// @return always false; nothing is sent
    bool GetFolderInfo(const SSiteInfoLib& site);

    // ---- Single objects read from their URI ------------------------------------------------------

    /// @brief Reads the snapshot tree of a VM.
    /// @param vm the VM (its URI is the base of the request)
    /// @param tree filled from the answer
    /// @return true when the tree was read
    bool GetVMSnapshotTree(const SVMInfoLib& vm, SSnapshotTreeInfoLib& tree);
    /// @brief Reads a snapshot from its URI (made from its URN when empty).
    /// @param snapshot input identifiers and output record
    /// @return true when the snapshot was read; false without a request when it has no URI nor URN
    bool GetVMSnapshotInfo(SSnapshotInfoLib& snapshot);
    /// @brief Reads a VM from its own URI (made from its URN when empty), with its full configuration.
    /// @param vm input identifiers and output record (its lists are appended to, so pass a fresh one)
    /// @return true when the VM was read; false without a request when it has no URI nor URN
    bool GetVMInfoFromOwnLink(SVMInfoLib& vm);
    /// @brief Reads a disk from its URI (made from its URN when empty).
    /// @param disk input identifiers and output record
    /// @return true when the disk was read; false without a request when it has no URI nor URN
    bool GetDiskInfo(SDiskInfoLib& disk);
    /// @brief Reads a distributed switch from its URI (made from its URN when empty).
    /// @param network input identifiers and output record
    /// @return true when the switch was read; false without a request when it has no URI nor URN
    bool GetNetworkInfo(SNetworkInfoLib& network);
    /// @brief Reads a port group from its URI (made from its URN when empty).
    /// @param portGroup input identifiers and output record
    /// @return true when the port group was read; false without a request when it has no URI nor URN
    bool GetPortGroupInfo(SPortGroupInfoLib& portGroup);
    /// @brief Reads a task from its URI (made from its URN when empty).
    /// @param task input identifiers and output record
    /// @return true when the task was read; false without a request when it has no URI nor URN
    bool GetTaskInfo(STaskInfoLib& task);
    /// @brief Reads a backup resource from its URI.
    /// @param resource input URI and output record
    /// @return true when the resource was read; false without a request when it has no URI
    bool GetBackupResourceInfo(SBackupResourceInfoLib& resource);
    /// @brief Reads the guest operating-system catalogue of a site.
    /// @param site the site
    /// @param osVersions filled from the answer
    /// @return true when the catalogue was read
    bool GetOSVersions(const SSiteInfoLib& site, SOSVersionsInfoLib& osVersions);

    // ---- Generic engine (defined in queries/FusionComputePaging.h) -----------------------------

    /// @brief Searches a site-relative list and accepts exactly one object.
    ///
    /// A single result is accepted unless the query searches by name ("name=" in `query`) and the
    /// result has another name. Among several results the first whose URL-encoded name equals the
    /// searched name (ASCII case ignored) wins.
    /// @param site site whose URI prefixes `path`
    /// @param path list path below the site, beginning with "/"
    /// @param query query string without "?"; a name in it is URL-encoded
    /// @param listKey key of the JSON array in the answer
    /// @param object receives the found object; written only on success
    /// @return true when exactly one object was accepted
    template <typename T>
    bool GetOneObjectFromLink(const SSiteInfoLib& site, const std::string& path, const std::string& query,
                              const std::string& listKey, T& object);

    /// @brief Reads a whole list page by page ("offset" on every page after the first).
    /// @param path request path, possibly with a query string
    /// @param listKey key of the JSON array in the answer
    /// @param list cleared, then filled with every object of every page
    /// @return true when the whole list was read
    template <typename T>
    bool GetListFromLink(const std::string& path, const std::string& listKey, std::vector<T>& list);

    /// @brief Reads a whole site-relative list from `site.uri + path`.
    /// @param site site whose URI prefixes `path`
    /// @param path list path below the site, beginning with "/"
    /// @param listKey key of the JSON array in the answer
    /// @param list cleared, then filled with every object of every page
    /// @return true when the whole list was read
    template <typename T>
    bool GetListFromLink(const SSiteInfoLib& site, const std::string& path, const std::string& listKey,
                         std::vector<T>& list);

    /// @brief Reads a whole site-relative list from `site.uri + path + "?" + query`.
    ///
    /// The "?" is written even for an empty query.
    /// @param site site whose URI prefixes `path`
    /// @param path list path below the site, beginning with "/"
    /// @param query query string without "?"
    /// @param listKey key of the JSON array in the answer
    /// @param list cleared, then filled with every object of every page
    /// @return true when the whole list was read
    template <typename T>
    bool GetListFromLink(const SSiteInfoLib& site, const std::string& path, const std::string& query,
                         const std::string& listKey, std::vector<T>& list);

    /// Reads one object from its URI: the request core's read.
    using CFusionComputeRequestCore::GetObjectFromLink;

    /// @brief Reads one object from `site.uri + path`.
    /// @param site site whose URI prefixes `path`
    /// @param path path below the site, beginning with "/"
    /// @param object filled by the parser
    /// @return true when the GET succeeded and the answer parsed
    template <typename T>
    bool GetObjectFromLink(const SSiteInfoLib& site, const std::string& path, T& object);

  private:
    /// The searched name of a query: the text after the first "name=" up to the next "&".
    static bool FindSearchedName(const std::string& query, std::string& name);
    /// Sets the page offset of a list request: replaces an "offset" argument already in the query
    /// string, otherwise appends one.
    void SetPageOffset(std::string& path, std::size_t offset);
    /// True when an object of `page` was already read in this pass, or appears twice on the page.
    template <typename T>
    static bool HasRepeatedUrn(const std::vector<T>& page, const std::set<std::string>& seen);
    /// True when `link` is a well-formed link; otherwise logs and records why it is refused.
    bool CheckLink(const std::string& link);
    /// True when the URL-encoded `name` equals `searchedName`, ignoring ASCII case.
    bool NameMatches(const std::string& name, const std::string& searchedName);
    /// Reads a record from `uri`, first deriving `uri` from `urn` when it is empty.
    template <typename T>
    bool GetObjectFromOwnLink(std::string& uri, const std::string& urn, T& object);

    /// More objects than any VRM holds in one list: a "total" beyond it is a broken answer.
    static constexpr int64_t kMaxListObjects = 1000000;
    /// Times a list read starts over because the list changed while its pages were read.
    static constexpr int kMaxListRestarts = 3;

    EvDebug debug;
};

}  // namespace FusionComputeSDKWrapper

#endif  // FCSDK_QUERIES_FUSIONCOMPUTEQUERIES_H
