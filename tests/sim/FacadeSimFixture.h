#ifndef FCSDK_TESTS_SIM_FACADESIMFIXTURE_H
#define FCSDK_TESTS_SIM_FACADESIMFIXTURE_H

// A connected CFusionComputeWrapper against the in-process simulator, with a fake clock for every pause.
// The helpers that script answers and read the requests as they went out come from SimTest.

#include <gtest/gtest.h>

#include <string>

#include "FakeClock.h"
#include "FusionComputeWrapper.h"
#include "SimServer.h"

namespace fcsdk_test {

class FacadeSimTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_TRUE(wrapper_.Connect(server().host(), server().user(), server().password()))
            << wrapper_.GetLastError();
        server().ClearRequests();
        clock_.ClearPauses();
    }

    FusionComputeSDKWrapper::CFusionComputeWrapper& wrapper() { return wrapper_; }
    FakeClock& clock() { return clock_; }

    /// A seeded VM read through the facade with every detail; the read is not kept in the recording.
    FusionComputeSDKWrapper::SVMInfoLib SeededVM(const std::string& name) {
        FusionComputeSDKWrapper::SVMInfoLib vm;
        EXPECT_TRUE(wrapper_.GetVMInfo(name, "", "", vm, FusionComputeSDKWrapper::VM_PROP_ALL))
            << wrapper_.GetLastError();
        server().ClearRequests();
        return vm;
    }

  private:
    // The clock is installed before the wrapper exists, so no pause of the test can reach the real one.
    FakeClock clock_;
    FusionComputeSDKWrapper::CFusionComputeWrapper wrapper_;
};

}  // namespace fcsdk_test

#endif  // FCSDK_TESTS_SIM_FACADESIMFIXTURE_H
