#ifndef FCSDK_PARSER_FUSIONCOMPUTEPARSER_H
#define FCSDK_PARSER_FUSIONCOMPUTEPARSER_H

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "FusionComputeRecords.h"
#include "platform/MLSJsonParser.h"
#include "platform/MlJson.h"
#include "platform/json_spirit.h"

namespace FusionComputeSDKWrapper {

/// @brief Turns VRM answer bodies (JSON text) into records.
///
/// The templates handle the response shapes (one object, an array under a key, one page of a paged
/// list, arrays and objects nested inside an object); one Convert overload per record maps the keys of
/// one JSON object to the record's fields. The outermost Parse call catches the JSON layer's
/// std::runtime_error (a value of another JSON type than the one read), logs it with the whole body and
/// answers false. Lists are always appended to, never cleared.
class CFusionComputeParser : public MLSJsonParser {
  public:
    CFusionComputeParser();
    ~CFusionComputeParser() override;

    /// @brief Reads a whole body as one record.
    /// @param body answer body
    /// @param record record to fill in place (may be partly filled on failure)
    /// @return true when the body is a JSON object and was converted
    template <typename T>
    bool ParseObject(const std::string& body, T& record);

    /// @brief Appends one record per object element of the array under `key` of the body's object.
    /// @param body answer body
    /// @param key key of the array in the top-level object
    /// @param records vector the records are appended to
    /// @return true when the body parses and `key` holds an array
    template <typename T>
    bool ParseList(const std::string& body, const std::string& key, std::vector<T>& records);

    /// @brief As ParseList, and reads the VRM's count of all objects of the listing.
    /// @param body answer body of one page
    /// @param key key of the array in the top-level object
    /// @param records vector the records are appended to
    /// @param total set from "total" (0 when absent), read as a 64-bit number, once the array is found;
    /// untouched otherwise
    /// @return true when the body parses and `key` holds an array
    template <typename T>
    bool ParsePagedList(const std::string& body, const std::string& key, std::vector<T>& records,
                        int64_t& total);

    /// @brief Appends one record per element of `values` that is a JSON object; other elements are
    /// skipped.
    /// @param values array already read
    /// @param records vector the records are appended to
    /// @return always true
    template <typename T>
    bool ConvertList(const json_spirit::mArray& values, std::vector<T>& records);

    /// @brief Appends the records of the array under `key` inside `object`.
    /// @param object JSON object holding the array
    /// @param key key of the array
    /// @param records vector the records are appended to
    /// @return false when `key` is missing or not an array
    template <typename T>
    bool ConvertNestedList(const json_spirit::mObject& object, const std::string& key,
                           std::vector<T>& records);

    /// @brief Converts the object under `key` inside `object` into `record`.
    /// @param object JSON object holding the nested object
    /// @param key key of the nested object
    /// @param record record to fill in place
    /// @return false when `key` is missing or not an object
    template <typename T>
    bool ConvertNestedObject(const json_spirit::mObject& object, const std::string& key, T& record);

    /// @brief Fills name, description, uri and urn.
    /// @return always true
    bool ConvertBaseInfo(const json_spirit::mObject& object, SBaseInfoLib& record);

    /// @name Record converters
    /// Each fills the record in place from the keys of one JSON object and returns true. A missing key
    /// gives a scalar field its empty value; nested lists are appended to. A nested value that must be
    /// an object but is not raises std::runtime_error, which the Parse templates catch.
    /// @{
    bool Convert(const json_spirit::mObject& object, SVersionInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SErrorInfoLib& record);
    bool Convert(const json_spirit::mObject& object, STaskInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SOSVersionInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SOSVersionsInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SSiteInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SFolderInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SClusterInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SHostInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SVMInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SDiskInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SVMNetworkCardInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SDataStoreInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SStorageUnitInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SStorageDeviceInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SStorageResourceInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SNetworkInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SPortGroupInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SSnapshotTreeInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SSnapshotInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SDiskSnapshotInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SDiskBitmapInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SBackupResourceInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SOVFInfoLib& record);
    bool Convert(const json_spirit::mObject& object, SOVFFileItemInfoLib& record);
    /// @}

    /// @brief The body as a log line shows it: whole up to 16 KB, else its first 16 KB and its size.
    /// @param body answer body
    /// @return the text to log
    static std::string LoggableBody(const std::string& body);

  private:
    /// Reads `body` as a JSON object and hands it to `read`. The JSON layer's std::runtime_error (a value
    /// of another type than the one read) is caught here, logged under `function` with the whole body,
    /// and answered with false.
    /// @param function the calling Parse template's __PRETTY_FUNCTION__, the function text of the log line
    /// @param listKey the key of the list being read, named in the log line; null for a single object
    template <typename Read>
    bool ParseBody(const char* function, const std::string& body, const std::string* listKey, Read&& read);
    /// Logs a conversion that threw: "Exception parsing json object" or "... json list [<key>]".
    void LogParseException(const char* function, const std::string& body, const std::string* listKey,
                           const std::runtime_error& error) const;

    // Lookups with the meaning of MlJson::FindArrayValue / FindObjectValue that refer to the value in
    // place instead of copying it out: a page of 100 VMs would otherwise be copied once per level.
    static const json_spirit::mArray* FindArray(const json_spirit::mObject& object, const std::string& key);
    static const json_spirit::mObject* FindObject(const json_spirit::mObject& object, const std::string& key);
};

template <typename Read>
bool CFusionComputeParser::ParseBody(const char* function, const std::string& body,
                                     const std::string* listKey, Read&& read) {
    try {
        json_spirit::mObject object;
        if (!MlJson::Unserialize(body, object)) {
            return false;
        }
        return read(object);
    } catch (const std::runtime_error& e) {
        LogParseException(function, body, listKey, e);
        return false;
    }
}

template <typename T>
bool CFusionComputeParser::ParseObject(const std::string& body, T& record) {
    return ParseBody(__PRETTY_FUNCTION__, body, nullptr,
                     [&](const json_spirit::mObject& object) { return Convert(object, record); });
}

template <typename T>
bool CFusionComputeParser::ParseList(const std::string& body, const std::string& key,
                                     std::vector<T>& records) {
    return ParseBody(__PRETTY_FUNCTION__, body, &key, [&](const json_spirit::mObject& object) {
        return ConvertNestedList(object, key, records);
    });
}

template <typename T>
bool CFusionComputeParser::ParsePagedList(const std::string& body, const std::string& key,
                                          std::vector<T>& records, int64_t& total) {
    return ParseBody(__PRETTY_FUNCTION__, body, &key, [&](const json_spirit::mObject& object) {
        const json_spirit::mArray* values = FindArray(object, key);
        if (values == nullptr) {
            return false;
        }
        total = MlJson::GetInt64Value(object, "total");
        return ConvertList(*values, records);
    });
}

template <typename T>
bool CFusionComputeParser::ConvertList(const json_spirit::mArray& values, std::vector<T>& records) {
    for (const json_spirit::mValue& value : values) {
        if (value.type() != json_spirit::obj_type) {
            continue;
        }
        // Converted into a local record first: a record whose conversion throws is not appended.
        T record;
        Convert(value.get_obj(), record);
        records.push_back(std::move(record));
    }
    return true;
}

template <typename T>
bool CFusionComputeParser::ConvertNestedList(const json_spirit::mObject& object, const std::string& key,
                                             std::vector<T>& records) {
    const json_spirit::mArray* values = FindArray(object, key);
    if (values == nullptr) {
        return false;
    }
    return ConvertList(*values, records);
}

template <typename T>
bool CFusionComputeParser::ConvertNestedObject(const json_spirit::mObject& object, const std::string& key,
                                               T& record) {
    const json_spirit::mObject* inner = FindObject(object, key);
    if (inner == nullptr) {
        return false;
    }
    Convert(*inner, record);
    return true;
}

}  // namespace FusionComputeSDKWrapper

#endif  // FCSDK_PARSER_FUSIONCOMPUTEPARSER_H
