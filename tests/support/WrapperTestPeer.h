#ifndef FCSDK_TESTS_SUPPORT_WRAPPERTESTPEER_H
#define FCSDK_TESTS_SUPPORT_WRAPPERTESTPEER_H

// Test access to the facade's internal steps and to the process-wide guest OS catalogue, which the
// public interface fills once per process and never lets go of.

#include <string>
#include <vector>

#include "FusionComputeWrapper.h"

namespace FusionComputeSDKWrapper {

class CFusionComputeWrapperTestPeer {
  public:
    /// @brief Forgets the catalogue so that the next VM fill reads it again.
    static void ResetGuestOSCatalogue() {
        CFusionComputeWrapper::c_osVersions = SOSVersionsInfoLib();
        CFusionComputeWrapper::c_osVersionsCached = false;
    }
    /// @brief Installs a catalogue as if it had been read.
    static void SetGuestOSCatalogue(const SOSVersionsInfoLib& catalogue) {
        CFusionComputeWrapper::c_osVersions = catalogue;
        CFusionComputeWrapper::c_osVersionsCached = true;
    }
    static bool GuestOSCatalogueCached() { return CFusionComputeWrapper::c_osVersionsCached; }
    static const SOSVersionsInfoLib& GuestOSCatalogue() { return CFusionComputeWrapper::c_osVersions; }

    static void LookupGuestOSName(CFusionComputeWrapper& wrapper, const std::string& osType, int osVersion,
                                  std::string& guestOSName) {
        wrapper.LookupGuestOSName(osType, osVersion, guestOSName);
    }
    /// @brief Puts `message` where an earlier failure would have left it: the facade's last error and
    /// the error state its queries and operations share.
    static void SetLastError(CFusionComputeWrapper& wrapper, const std::string& message) {
        wrapper.lastError = message;
        wrapper.errorState.message = message;
    }
    static bool FillOneVM(CFusionComputeWrapper& wrapper, SVMInfoLib& vm, UINT64 flags,
                          std::vector<SNetworkInfoLib>& networks) {
        return wrapper._FillVMInfoDetails(vm, flags, networks);
    }
};

}  // namespace FusionComputeSDKWrapper

#endif  // FCSDK_TESTS_SUPPORT_WRAPPERTESTPEER_H
