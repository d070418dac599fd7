#ifndef FCSDK_PLATFORM_MLPLATFORMINFO_H
#define FCSDK_PLATFORM_MLPLATFORMINFO_H

#include <cstdint>
#include <string>

/// Configuration lookup: an INI file named by the environment variable FCSDK_CONFIG, read on each
/// lookup so objects built later see a changed file. Without the variable nothing is configured.
class MLPlatformInfo {
  public:
    /// Nonzero when section/key exists and holds a number; `value` is then set.
    static int getNumber(const std::string& section, const std::string& key, uint64_t& value);
    /// 32-bit form: leaves `value` (the caller's default) when the setting is absent.
    static int getNumber(const std::string& section, const std::string& key, unsigned int& value) {
        uint64_t wide = 0;
        int found = getNumber(section, key, wide);
        if (found) value = static_cast<unsigned int>(wide);
        return found;
    }
    /// Nonzero when section/key exists; `value` is then set.
    static int getString(const std::string& section, const std::string& key, std::string& value);
    /// Checks the file named by FCSDK_CONFIG: it must be readable INI, and every number setting (a key
    /// named 'n' and a capital letter, such as nConnectTimeout) must hold a whole number. True without
    /// the variable; otherwise false with a message naming the file (and the key) in `error`.
    static bool checkConfiguration(std::string& error);
};

#endif  // FCSDK_PLATFORM_MLPLATFORMINFO_H
