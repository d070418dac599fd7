#ifndef FCCTL_DETAILS_H
#define FCCTL_DETAILS_H

// The --details option: names of the library's VM_PROP_* detail flags.

#include <string>
#include <utility>
#include <vector>

#include "FusionComputeRecords.h"

namespace fcctl {

/// One detail name and the flags it stands for.
struct DetailName {
    const char* name;
    FusionComputeSDKWrapper::UINT64 flags;
    const char* meaning;
};

/// Every detail name --details accepts, in the order --help lists them.
const std::vector<DetailName>& DetailNames();

/// Turns a comma-separated list of detail names (or hexadecimal masks such as 0x30) into a mask.
/// @param list e.g. "disks,snapshots,nics"; blanks around names are ignored, an empty list gives 0
/// @param flags receives the mask
/// @param error receives a message naming the unknown entry
/// @return false when an entry is neither a known name nor a mask
bool ParseDetails(const std::string& list, FusionComputeSDKWrapper::UINT64& flags, std::string& error);

/// The help text of --details: one line per name.
std::string DetailsHelp();

}  // namespace fcctl

#endif  // FCCTL_DETAILS_H
