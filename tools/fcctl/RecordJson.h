#ifndef FCCTL_RECORDJSON_H
#define FCCTL_RECORDJSON_H

// The library's records as JSON objects (fcctl --json). Member names are the records' field names,
// which are the VRM's own JSON keys.

#include "FusionComputeRecords.h"
#include "JsonWriter.h"

namespace fcctl {

namespace fc = FusionComputeSDKWrapper;

void WriteJson(JsonWriter& w, const fc::SVersionInfoLib& version);
void WriteJson(JsonWriter& w, const fc::SSiteInfoLib& site);
void WriteJson(JsonWriter& w, const fc::SClusterInfoLib& cluster);
void WriteJson(JsonWriter& w, const fc::SHostInfoLib& host);
void WriteJson(JsonWriter& w, const fc::SVMInfoLib& vm);
void WriteJson(JsonWriter& w, const fc::SDiskInfoLib& disk);
void WriteJson(JsonWriter& w, const fc::SVMNetworkCardInfoLib& nic);
void WriteJson(JsonWriter& w, const fc::SSnapshotInfoLib& snapshot);
void WriteJson(JsonWriter& w, const fc::SDiskSnapshotInfoLib& diskSnapshot);
void WriteJson(JsonWriter& w, const fc::SDataStoreInfoLib& datastore);
void WriteJson(JsonWriter& w, const fc::SStorageUnitInfoLib& unit);
void WriteJson(JsonWriter& w, const fc::SStorageDeviceInfoLib& device);
void WriteJson(JsonWriter& w, const fc::SStorageResourceInfoLib& resource);
void WriteJson(JsonWriter& w, const fc::SNetworkInfoLib& network);
void WriteJson(JsonWriter& w, const fc::SPortGroupInfoLib& portGroup);
void WriteJson(JsonWriter& w, const fc::SFolderInfoLib& folder);

/// Writes a list as a JSON array of objects.
template <typename Record>
void WriteJsonList(JsonWriter& w, const std::vector<Record>& list) {
    w.BeginArray();
    for (const Record& record : list) WriteJson(w, record);
    w.EndArray();
}

/// Writes `key` and the list as the member's value.
template <typename Record>
void WriteJsonMember(JsonWriter& w, const char* key, const std::vector<Record>& list) {
    w.Key(key);
    WriteJsonList(w, list);
}

}  // namespace fcctl

#endif  // FCCTL_RECORDJSON_H
