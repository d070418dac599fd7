#ifndef FCSDK_PLATFORM_LOGMASK_H
#define FCSDK_PLATFORM_LOGMASK_H

#include <string>

namespace fcsdk_platform {

/// Replaces secrets in a text that is about to be logged with "***": the values of X-Auth-Key and
/// X-Auth-Token header lines (case-insensitive names) and the values of JSON members whose key names a
/// password or a token. Everything else is returned unchanged.
std::string MaskSecrets(const std::string& text);

}  // namespace fcsdk_platform

#endif  // FCSDK_PLATFORM_LOGMASK_H
