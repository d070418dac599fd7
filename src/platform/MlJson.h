#ifndef FCSDK_PLATFORM_MLJSON_H
#define FCSDK_PLATFORM_MLJSON_H

#include <string>

#include "platform/json_spirit.h"

/// JSON helpers over json_spirit objects. The scalar readers are lenient across scalar types because
/// VRM answers mix them; a missing key or a non-scalar value gives the empty result.
class MlJson {
  public:
    /// True and `object` filled when `text` is a JSON object; false otherwise.
    static bool Unserialize(const std::string& text, json_spirit::mObject& object);
    /// Compact JSON text of `object`.
    static std::string Serialize(const json_spirit::mObject& object);

    /// String value; a number or bool is rendered as text; anything else "".
    static std::string GetStringValue(const json_spirit::mObject& object, const std::string& key);
    /// Integer value narrowed to int; accepts an int, a real (truncated) or a decimal string; else 0.
    static int GetIntValue(const json_spirit::mObject& object, const std::string& key);
    /// 64-bit reading used by the tools and the simulator (same leniency as GetIntValue).
    static int64_t GetInt64Value(const json_spirit::mObject& object, const std::string& key);
    /// Bool value; accepts a bool, a number (non-zero is true) or "true"/"false"; else false.
    static bool GetBoolValue(const json_spirit::mObject& object, const std::string& key);

    /// False when `key` is missing or not an array; else the array is copied into `values`.
    static bool FindArrayValue(const json_spirit::mObject& object, const std::string& key,
                               json_spirit::mArray& values);
    /// False when `key` is missing or not an object; else the object is copied into `inner`.
    static bool FindObjectValue(const json_spirit::mObject& object, const std::string& key,
                                json_spirit::mObject& inner);
};

#endif  // FCSDK_PLATFORM_MLJSON_H
