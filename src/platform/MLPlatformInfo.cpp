#include "platform/MLPlatformInfo.h"

#include <boost/property_tree/ini_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <cctype>
#include <charconv>
#include <cstdlib>

namespace {

// The value without a comment after it: a ';' or '#' at the start of the value or after a space or tab
// starts a comment ("sCAFile = ca.pem   ; the VRM's CA"). One inside a word ("a#b") stays.
std::string withoutComment(const std::string& value) {
    for (size_t i = 0; i < value.size(); ++i) {
        if ((value[i] == ';' || value[i] == '#') && (i == 0 || value[i - 1] == ' ' || value[i - 1] == '\t')) {
            return value.substr(0, i);
        }
    }
    return value;
}

// Reads section/key from the file named by FCSDK_CONFIG. The file is read on every lookup: lookups are
// rare (when objects are built) and tests change the file between cases.
bool lookup(const std::string& section, const std::string& key, std::string& value) {
    const char* path = std::getenv("FCSDK_CONFIG");
    if (path == nullptr || *path == '\0') return false;
    try {
        boost::property_tree::ptree tree;
        boost::property_tree::ini_parser::read_ini(path, tree);
        const auto found = tree.get_optional<std::string>(
            boost::property_tree::ptree::path_type(section + '\x1f' + key, '\x1f'));
        if (!found) return false;
        value = withoutComment(*found);
        return true;
    } catch (const boost::property_tree::ptree_error&) {
        // A missing or malformed file configures nothing; every setting keeps its default.
        return false;
    }
}

std::string trimmed(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    return text.substr(first, last - first);
}

}  // namespace

bool MLPlatformInfo::checkConfiguration(std::string& error) {
    const char* path = std::getenv("FCSDK_CONFIG");
    if (path == nullptr || *path == '\0') return true;
    boost::property_tree::ptree tree;
    try {
        boost::property_tree::ini_parser::read_ini(path, tree);
    } catch (const boost::property_tree::ini_parser_error& e) {
        error = "Cannot read the configuration file " + std::string(path) + " (FCSDK_CONFIG): " +
                (e.line() == 0 ? e.message() : e.message() + " at line " + std::to_string(e.line()));
        return false;
    }
    for (const auto& [section, keys] : tree) {
        for (const auto& [key, node] : keys) {
            if (key.size() < 2 || key[0] != 'n' || !std::isupper(static_cast<unsigned char>(key[1])))
                continue;
            const std::string number = trimmed(withoutComment(node.data()));
            uint64_t parsed = 0;
            const auto [end, failure] = std::from_chars(number.data(), number.data() + number.size(), parsed);
            if (number.empty() || failure != std::errc() || end != number.data() + number.size()) {
                error = "The configuration file " + std::string(path) + " sets " + section + "/" + key +
                        " to \"" + number + "\", which is not a whole number";
                return false;
            }
        }
    }
    return true;
}

int MLPlatformInfo::getNumber(const std::string& section, const std::string& key, uint64_t& value) {
    std::string text;
    if (!lookup(section, key, text)) return 0;
    const std::string number = trimmed(text);
    uint64_t parsed = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), parsed);
    if (number.empty() || error != std::errc() || end != number.data() + number.size()) return 0;
    value = parsed;
    return 1;
}

int MLPlatformInfo::getString(const std::string& section, const std::string& key, std::string& value) {
    std::string text;
    if (!lookup(section, key, text)) return 0;
    value = trimmed(text);
    return 1;
}
