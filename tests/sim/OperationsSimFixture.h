#ifndef FCSDK_TESTS_SIM_OPERATIONSSIMFIXTURE_H
#define FCSDK_TESTS_SIM_OPERATIONSSIMFIXTURE_H

// A logged-in CFusionComputeOperations against the in-process simulator. SimTest's helpers script the
// answers of state-changing requests and task polls with the simulator's "body" faults, so a test decides
// exactly what every poll reports (status by status) and then checks the requests as they went out.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FusionComputeErrorState.h"
#include "SimServer.h"
#include "connection/FusionComputeConnection.h"
#include "operations/FusionComputeOperations.h"
#include "parser/FusionComputeParser.h"

namespace fcsdk_test {

class OperationsSimTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        connection_ = std::make_unique<FusionComputeSDKWrapper::CFusionComputeConnection>();
        parser_ = std::make_unique<FusionComputeSDKWrapper::CFusionComputeParser>();
        operations_ = MakeOperations();
        std::string versions;
        ASSERT_TRUE(connection_->connect(server().host(), server().user(), server().password(), versions));
        ASSERT_TRUE(connection_->login(server().user(), server().password(), "v6.3", "/service/session"));
        server().ClearRequests();
    }

    /// A fresh operations object over the fixture's connection and state (reads the configuration now).
    std::unique_ptr<FusionComputeSDKWrapper::CFusionComputeOperations> MakeOperations() {
        return std::make_unique<FusionComputeSDKWrapper::CFusionComputeOperations>(
            connection_.get(), parser_.get(), nullptr, &state_);
    }

    FusionComputeSDKWrapper::CFusionComputeOperations& ops() { return *operations_; }

    FusionComputeSDKWrapper::CFusionComputeErrorState state_;
    std::unique_ptr<FusionComputeSDKWrapper::CFusionComputeConnection> connection_;
    std::unique_ptr<FusionComputeSDKWrapper::CFusionComputeParser> parser_;
    std::unique_ptr<FusionComputeSDKWrapper::CFusionComputeOperations> operations_;
};

}  // namespace fcsdk_test

#endif  // FCSDK_TESTS_SIM_OPERATIONSSIMFIXTURE_H
