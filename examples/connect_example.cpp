// Connects to a FusionCompute VRM and prints what the session learnt: the API versions, the site and
// the number of VMs in it. Uses only the library's public header.
//
//   fcsdk_connect_example [host [user]]
//
// Missing arguments are taken from FCSDK_HOST and FCSDK_USER. The password comes only from the
// environment (FCSDK_PASSWORD, or FCCTL_PASSWORD, which fcctl reads), never from the command line, where
// other users of the machine could read it. Transport settings (CA file, connect-to address) come from the
// configuration file named by FCSDK_CONFIG.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FusionComputeWrapper.h"

namespace {

std::string Setting(int argc, char** argv, int index, const char* variable) {
    if (index < argc) return argv[index];
    const char* value = std::getenv(variable);
    return value != nullptr ? value : std::string();
}

std::string Password() {
    for (const char* variable : {"FCSDK_PASSWORD", "FCCTL_PASSWORD"}) {
        if (const char* value = std::getenv(variable)) return value;
    }
    return std::string();
}

int Fail(FusionComputeSDKWrapper::CFusionComputeWrapper& wrapper, const char* step) {
    const std::string message = wrapper.GetLastError();
    if (message.empty()) {
        // Connect reports transport and login failures through the library's log only.
        std::fprintf(stderr, "%s failed; the library's log says why\n", step);
    } else {
        std::fprintf(stderr, "%s failed: %s (code %ld)\n", step, message.c_str(), wrapper.GetLastErrorCode());
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string host = Setting(argc, argv, 1, "FCSDK_HOST");
    const std::string user = Setting(argc, argv, 2, "FCSDK_USER");
    const std::string password = Password();
    if (host.empty() || user.empty() || password.empty()) {
        std::fprintf(stderr,
                     "usage: %s [host [user]]\n"
                     "       (or set FCSDK_HOST and FCSDK_USER; the password comes from FCSDK_PASSWORD)\n",
                     argv[0]);
        return 2;
    }

    FusionComputeSDKWrapper::CFusionComputeWrapper wrapper;
    if (!wrapper.Connect(host, user, password)) return Fail(wrapper, "Connect");

    FusionComputeSDKWrapper::SVersionInfoLib version;
    int versionNumber = 0;
    if (wrapper.GetManagementVersionInfo(version) && wrapper.GetManagementVersionNumber(versionNumber)) {
        std::printf("VRM %s: API version %s (%d)\n", host.c_str(), version.version.c_str(), versionNumber);
    }

    const FusionComputeSDKWrapper::SSiteInfoLib& site = wrapper.GetSite();
    std::printf("Site: %s (%s)\n", site.name.c_str(), site.urn.c_str());

    std::vector<FusionComputeSDKWrapper::SVMInfoLib> vms;
    if (!wrapper.GetVMInfoList(vms, FusionComputeSDKWrapper::MIN_VM_PROPS))
        return Fail(wrapper, "Listing VMs");
    std::printf("VMs: %zu\n", vms.size());
    return 0;
}
