#ifndef FUSIONCOMPUTE_ERRORSTATE_H
#define FUSIONCOMPUTE_ERRORSTATE_H

#include <cstdint>
#include <string>

#include "FusionComputeExport.h"

namespace FusionComputeSDKWrapper {

/// @brief The last failure of a wrapper: one object shared by its queries and operations.
///
/// The facade holds it by value; the queries and operations objects write to it through their error
/// handlers. Nothing resets it between calls, so it always describes the most recent failure.
class FCSDK_EXPORT CFusionComputeErrorState {
  public:
    /// @brief Text of the last failure; empty until one is recorded.
    std::string message;
    /// @brief Error code of the last VRM error body (its "errorCode"); 0 until one is read.
    int64_t code = 0;
};

}  // namespace FusionComputeSDKWrapper

#endif  // FUSIONCOMPUTE_ERRORSTATE_H
