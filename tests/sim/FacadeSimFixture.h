#ifndef FCSDK_TESTS_SIM_FACADESIMFIXTURE_H
#define FCSDK_TESTS_SIM_FACADESIMFIXTURE_H

// A connected CFusionComputeWrapper against the in-process simulator, with a fake clock for every pause,
// helpers that script answers with the simulator's "body" and "status" faults (for requests whose outcome
// a test must decide), and helpers that read the requests as they went out.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "FusionComputeWrapper.h"
#include "SimServer.h"
#include "VrmSimulator.h"

namespace boost::json {
// Failure messages show JSON bodies as text.
inline void PrintTo(const object& value, std::ostream* out) {
    *out << serialize(value);
}
inline void PrintTo(const value& value, std::ostream* out) {
    *out << serialize(value);
}
}  // namespace boost::json

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

    std::string SiteUri() const { return server().siteUri(); }
    std::string SiteUrn() const { return server().siteUrn(); }
    std::string TaskUri(int id) const { return SiteUri() + "/tasks/" + std::to_string(id); }
    std::string TaskUrn(int id) const { return SiteUrn() + ":tasks:" + std::to_string(id); }

    /// The REST path of an object: its URN with "urn:" replaced by "/service/" and every ":" by "/".
    static std::string UriOf(const std::string& urn) {
        std::string uri = "/service/" + urn.substr(4);
        std::replace(uri.begin(), uri.end(), ':', '/');
        return uri;
    }

    /// A seeded VM read through the facade with every detail; the read is not kept in the recording.
    FusionComputeSDKWrapper::SVMInfoLib SeededVM(const std::string& name) {
        FusionComputeSDKWrapper::SVMInfoLib vm;
        EXPECT_TRUE(wrapper_.GetVMInfo(name, "", "", vm, FusionComputeSDKWrapper::VM_PROP_ALL))
            << wrapper_.GetLastError();
        server().ClearRequests();
        return vm;
    }

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

    /// The next `count` requests of `method` on `path` (prefix) fail with `status` and a VRM error body.
    void Fail(const std::string& method, const std::string& path, int count, const std::string& code,
              const std::string& des, int status = 500) {
        vrmsim::Fault fault;
        fault.kind = vrmsim::FaultKind::Status;
        fault.method = method;
        fault.path = path;
        fault.count = count;
        fault.status = status;
        fault.errorCode = code;
        fault.errorDes = des;
        server().AddFault(fault);
    }

    /// The next `count` GETs of `path` answer the real object with the members of `patch` replaced.
    void Patch(const std::string& path, const boost::json::object& patch, int count = -1) {
        vrmsim::Fault fault;
        fault.kind = vrmsim::FaultKind::WrongTypes;
        fault.method = "GET";
        fault.path = path;
        fault.count = count;
        fault.patchJson = boost::json::serialize(patch);
        server().AddFault(fault);
    }

    /// The next request of `method` on `path` starts task `taskId`, which reports "success" at its first
    /// poll; the start names the created object `urn`/`uri` as a VRM does.
    void ScriptSuccessfulTask(const std::string& method, const std::string& path, int taskId,
                              const std::string& urn = "", const std::string& uri = "") {
        boost::json::object start{{"taskUrn", TaskUrn(taskId)}, {"taskUri", TaskUri(taskId)}};
        if (!urn.empty()) start["urn"] = urn;
        if (!uri.empty()) start["uri"] = uri;
        Answer(method, path, boost::json::serialize(start));
        boost::json::object task{{"urn", TaskUrn(taskId)},
                                 {"uri", TaskUri(taskId)},
                                 {"type", "test"},
                                 {"status", "success"},
                                 {"progress", 100}};
        Answer("GET", TaskUri(taskId), boost::json::serialize(task));
    }

    /// Recorded requests with this method and exact path, oldest first.
    std::vector<vrmsim::RecordedRequest> Sent(const std::string& method, const std::string& path) const {
        std::vector<vrmsim::RecordedRequest> matching;
        for (const vrmsim::RecordedRequest& request : server().Requests(path)) {
            if (request.method == method && request.path == path) matching.push_back(request);
        }
        return matching;
    }

    /// Recorded requests of `method` (any path), oldest first.
    std::vector<vrmsim::RecordedRequest> SentWithMethod(const std::string& method) const {
        std::vector<vrmsim::RecordedRequest> matching;
        for (const vrmsim::RecordedRequest& request : server().Requests()) {
            if (request.method == method) matching.push_back(request);
        }
        return matching;
    }

    /// A request to the simulator's control side (/_sim/...) over TLS, as any client would send it; fails
    /// the test unless it answers 200 with JSON.
    boost::json::value Control(const std::string& method, const std::string& path,
                               const std::string& body = "") {
        CURL* curl = curl_easy_init();
        const std::string url = "https://" + server().host() + ":7443" + path;
        const std::string connectTo = server().host() + ":7443:127.0.0.1:" + std::to_string(server().port());
        curl_slist* connectList = curl_slist_append(nullptr, connectTo.c_str());
        curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
        const std::string ca = server().caFile();
        std::string answer;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectList);
        curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        if (!body.empty()) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectAnswer);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
        const CURLcode code = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_slist_free_all(headers);
        curl_slist_free_all(connectList);
        curl_easy_cleanup(curl);
        EXPECT_EQ(code, CURLE_OK) << curl_easy_strerror(code);
        EXPECT_EQ(status, 200) << method << " " << path << ": " << answer;
        boost::json::error_code error;
        boost::json::value value = boost::json::parse(answer, error);
        EXPECT_FALSE(error) << answer;
        return value;
    }

    /// The body of a request as a JSON object; fails the test when it is not one.
    static boost::json::object BodyOf(const vrmsim::RecordedRequest& request) {
        boost::json::error_code error;
        boost::json::value parsed = boost::json::parse(request.body, error);
        EXPECT_FALSE(error) << "body is not JSON: " << request.body;
        EXPECT_TRUE(parsed.is_object()) << "body is not a JSON object: " << request.body;
        return parsed.is_object() ? parsed.as_object() : boost::json::object();
    }

    /// The body of the only request of `method` on `path`; fails the test when there is not exactly one.
    boost::json::object OnlyBody(const std::string& method, const std::string& path) const {
        std::vector<vrmsim::RecordedRequest> sent = Sent(method, path);
        EXPECT_EQ(sent.size(), 1u) << method << " " << path;
        return sent.empty() ? boost::json::object() : BodyOf(sent.front());
    }

  private:
    static size_t CollectAnswer(char* data, size_t size, size_t count, void* sink) {
        static_cast<std::string*>(sink)->append(data, size * count);
        return size * count;
    }

    // The clock is installed before the wrapper exists, so no pause of the test can reach the real one.
    FakeClock clock_;
    FusionComputeSDKWrapper::CFusionComputeWrapper wrapper_;
};

}  // namespace fcsdk_test

#endif  // FCSDK_TESTS_SIM_FACADESIMFIXTURE_H
