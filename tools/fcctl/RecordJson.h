#ifndef FCCTL_RECORDJSON_H
#define FCCTL_RECORDJSON_H

// The library's records as JSON objects (fcctl --json): json::value_from(record), and of a vector of
// records an array. Member names are the records' field names, which are the VRM's own JSON keys.
// Boost.JSON finds these conversions by argument-dependent lookup, so they are declared in the records'
// namespace; only fcctl defines them.

#include "FusionComputeRecords.h"
#include "JsonWriter.h"

namespace FusionComputeSDKWrapper {

void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv, const SSiteInfoLib& site);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv, const SClusterInfoLib& cluster);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv, const SHostInfoLib& host);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv, const SVMInfoLib& vm);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv, const SDiskInfoLib& disk);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv, const SVMNetworkCardInfoLib& nic);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv, const SSnapshotInfoLib& snapshot);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv,
                const SDiskSnapshotInfoLib& diskSnapshot);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv,
                const SDataStoreInfoLib& datastore);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv, const SStorageUnitInfoLib& unit);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv,
                const SStorageDeviceInfoLib& device);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv,
                const SStorageResourceInfoLib& resource);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv, const SNetworkInfoLib& network);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv,
                const SPortGroupInfoLib& portGroup);
void tag_invoke(const boost::json::value_from_tag&, boost::json::value& jv, const SFolderInfoLib& folder);

}  // namespace FusionComputeSDKWrapper

namespace fcctl {

/// What names a VM in results about it: {"name", "urn", "uuid"}.
json::object VmSummary(const FusionComputeSDKWrapper::SVMInfoLib& vm);

}  // namespace fcctl

#endif  // FCCTL_RECORDJSON_H
