#include "platform/MLSJsonParser.h"

MLSJsonParser::MLSJsonParser() : debug(nullptr) {}

MLSJsonParser::~MLSJsonParser() = default;

bool MLSJsonParser::ConvertNestedStringList(const json_spirit::mObject& object, const std::string& key,
                                            std::vector<std::string>& strings) {
    const auto it = object.find(key);
    if (it == object.end() || it->second.type() != json_spirit::array_type) return false;
    for (const json_spirit::mValue& element : it->second.get_array()) {
        if (element.type() == json_spirit::str_type) strings.push_back(element.get_str());
    }
    return true;
}
