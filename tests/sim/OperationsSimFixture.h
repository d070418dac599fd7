#ifndef FCSDK_TESTS_SIM_OPERATIONSSIMFIXTURE_H
#define FCSDK_TESTS_SIM_OPERATIONSSIMFIXTURE_H

// A logged-in CFusionComputeOperations against the in-process simulator, plus helpers that script the
// answers of state-changing requests and task polls with the simulator's "body" faults, so a test decides
// exactly what every poll reports (status by status) and then checks the requests as they went out.

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "FusionComputeErrorState.h"
#include "SimServer.h"
#include "VrmSimulator.h"
#include "connection/FusionComputeConnection.h"
#include "operations/FusionComputeOperations.h"
#include "parser/FusionComputeParser.h"

// Assertion failures show JSON objects as JSON text (GoogleTest would dump them as containers of bytes).
namespace boost {
namespace json {
inline void PrintTo(const object& value, std::ostream* out) {
    *out << serialize(value);
}
}  // namespace json
}  // namespace boost

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

    std::string SiteUri() const { return server().siteUri(); }
    std::string SiteUrn() const { return server().siteUrn(); }
    std::string TaskUri(int id) const { return SiteUri() + "/tasks/" + std::to_string(id); }
    std::string TaskUrn(int id) const { return SiteUrn() + ":tasks:" + std::to_string(id); }

    /// The next `count` requests of `method` on `path` (prefix) answer 200 with `body`.
    void Answer(const std::string& method, const std::string& path, const std::string& body, int count = 1) {
        vrmsim::Fault fault;
        fault.kind = vrmsim::FaultKind::Body;
        fault.method = method;
        fault.path = path;
        fault.body = body;
        fault.count = count;
        server().AddFault(fault);
    }

    /// The next request of `method` on `path` answers with the start of task `taskId`, naming the created
    /// object `urn`/`uri` as a VRM does.
    void AnswerTaskStart(const std::string& method, const std::string& path, int taskId,
                         const std::string& urn = "", const std::string& uri = "") {
        boost::json::object answer{{"taskUrn", TaskUrn(taskId)}, {"taskUri", TaskUri(taskId)}};
        if (!urn.empty()) answer["urn"] = urn;
        if (!uri.empty()) answer["uri"] = uri;
        Answer(method, path, boost::json::serialize(answer));
    }

    /// A task object as a GET of the task answers it.
    boost::json::object TaskObject(int taskId, const std::string& status, int progress = 0,
                                   const std::string& reasonDes = "") const {
        boost::json::object task{{"urn", TaskUrn(taskId)},
                                 {"uri", TaskUri(taskId)},
                                 {"type", "testtask"},
                                 {"status", status},
                                 {"progress", progress}};
        if (!reasonDes.empty()) task["reasonDes"] = reasonDes;
        return task;
    }

    /// The next polls of task `taskId` report these statuses, one per GET, in order.
    void ScriptPolls(int taskId, const std::vector<std::string>& statuses) {
        int progress = 0;
        for (const std::string& status : statuses) {
            progress = status == "success" ? 100 : progress + 1;
            Answer("GET", TaskUri(taskId), boost::json::serialize(TaskObject(taskId, status, progress)));
        }
    }

    /// A request of `method` on `path` starts task `taskId`, whose first poll reports "success".
    void ScriptSuccessfulTask(const std::string& method, const std::string& path, int taskId,
                              const std::string& urn = "", const std::string& uri = "") {
        AnswerTaskStart(method, path, taskId, urn, uri);
        ScriptPolls(taskId, {"success"});
    }

    /// Recorded requests with this method and exact path, oldest first.
    std::vector<vrmsim::RecordedRequest> Sent(const std::string& method, const std::string& path) const {
        std::vector<vrmsim::RecordedRequest> matching;
        for (const vrmsim::RecordedRequest& request : server().Requests(path)) {
            if (request.method == method && request.path == path) matching.push_back(request);
        }
        return matching;
    }

    /// The body of the only request of `method` on `path` as a JSON object; fails the test otherwise.
    boost::json::object OnlyBody(const std::string& method, const std::string& path) const {
        std::vector<vrmsim::RecordedRequest> sent = Sent(method, path);
        EXPECT_EQ(sent.size(), 1u) << method << " " << path;
        if (sent.empty()) return {};
        boost::json::error_code error;
        boost::json::value parsed = boost::json::parse(sent.front().body, error);
        EXPECT_FALSE(error) << "body is not JSON: " << sent.front().body;
        EXPECT_TRUE(parsed.is_object()) << "body is not a JSON object: " << sent.front().body;
        return parsed.is_object() ? parsed.as_object() : boost::json::object();
    }

    FusionComputeSDKWrapper::CFusionComputeErrorState state_;
    std::unique_ptr<FusionComputeSDKWrapper::CFusionComputeConnection> connection_;
    std::unique_ptr<FusionComputeSDKWrapper::CFusionComputeParser> parser_;
    std::unique_ptr<FusionComputeSDKWrapper::CFusionComputeOperations> operations_;
};

}  // namespace fcsdk_test

#endif  // FCSDK_TESTS_SIM_OPERATIONSSIMFIXTURE_H
