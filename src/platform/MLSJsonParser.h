#ifndef FCSDK_PLATFORM_MLSJSONPARSER_H
#define FCSDK_PLATFORM_MLSJSONPARSER_H

#include <string>
#include <vector>

#include "EvDebug.h"
#include "platform/json_spirit.h"

/// Base class of JSON response parsers: holds the log channel the subclass writes to.
class MLSJsonParser {
  public:
    MLSJsonParser();
    virtual ~MLSJsonParser();

    /// Appends the strings of the array under `key` (non-string elements are skipped). False when the key
    /// is missing or not an array.
    bool ConvertNestedStringList(const json_spirit::mObject& object, const std::string& key,
                                 std::vector<std::string>& strings);

  protected:
    EvDebug debug;
};

#endif  // FCSDK_PLATFORM_MLSJSONPARSER_H
