// Built by the install test against the installed package, with C++20 and -Wall -Wextra -Wshadow
// -Wconversion -Werror: includes every public header and calls what they declare outside the facade, so
// a declaration that the shared library does not export fails to link.

#include <cstdio>
#include <string>
#include <vector>

#include "EvDebug.h"
#include "FusionComputeErrorState.h"
#include "FusionComputeExport.h"
#include "FusionComputeRecords.h"
#include "FusionComputeWrapper.h"

static_assert(__cplusplus >= 202002L, "the package's compile flags lowered the consumer's language level");

int main() {
    using namespace FusionComputeSDKWrapper;
    EvDebug::SetLevel(1);
    SetLogLevel(EvDebug::GetLevel());
    SetLogSink([](EvDebugLevel, const std::string&) {});
    EvDebug log;
    log.Debug(__func__, "%s", "consumer");

    std::vector<SBlockExtentLib> extents;
    std::string error;
    if (!BitmapToExtents("0f01", 128, 0, extents, error) || extents.size() != 2) return 1;

    CFusionComputeWrapper wrapper;
    SConnectionOptionsLib options;
    options.port = 7443;
    options.requestTimeoutSeconds = 60;
    if (!wrapper.SetConnectionOptions(options)) return 1;
    SVMInfoLib vm("vm", "", "");
    std::printf("level %d, connected %d, vm %s\n", GetLogLevel(), wrapper.CheckConnection() ? 1 : 0,
                vm.name.c_str());
    SetLogSink(nullptr);
    EvDebug::SetLevel(-1);
    return 0;
}
