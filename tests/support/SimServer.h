#ifndef FCSDK_TESTS_SUPPORT_SIMSERVER_H
#define FCSDK_TESTS_SUPPORT_SIMSERVER_H

// SimServer: vrmsim running inside the test process over real TLS on 127.0.0.1, with an INI file
// that points the library at it (FCSDK_CONFIG), plus helpers for the simulator's control side.
//
//   fcsdk_test::SimServer sim;                        // starts, writes the INI, sets FCSDK_CONFIG
//   ASSERT_TRUE(sim.ok()) << sim.error();
//   wrapper.Connect(sim.host(), sim.user(), sim.password());
//   auto requests = sim.Requests("/service/sites");   // exact wire checks
//
// SimTest is a GoogleTest fixture with one SimServer per test suite (options chosen by the suite), reset
// before every test, with the helpers that script answers and read the requests as they went out.

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "VrmSimulator.h"

namespace boost::json {
// Failure messages show JSON values as JSON text (GoogleTest would dump them as containers of bytes).
inline void PrintTo(const object& value, std::ostream* out) {
    *out << serialize(value);
}
inline void PrintTo(const value& value, std::ostream* out) {
    *out << serialize(value);
}
}  // namespace boost::json

namespace fcsdk_test {

/// @brief The REST path of an object as the tests expect it: the URN with "urn:" replaced by "/service/"
/// and every ":" by "/".
/// @param urn the URN, e.g. "urn:sites:1:vms:i-1"
/// @return the path, e.g. "/service/sites/1/vms/i-1"
std::string UriOf(const std::string& urn);

/// @brief A started in-process simulator plus the configuration file that leads the library to it.
class SimServer {
  public:
    /// @brief Starts vrmsim on 127.0.0.1:0 with a temporary certificate directory, writes the INI file
    /// ([Transport] sConnectTo = vrm.local:7443:127.0.0.1:<port>, sCAFile = <dir>/ca.pem, plus
    /// `extraConfig`) and sets FCSDK_CONFIG to it (restored by the destructor).
    /// @param options simulator options; listenHost, port and certDir are set by the fixture
    /// @param extraConfig more INI settings, keys written "Section/key" (e.g. "Transport/nLowSpeedTime")
    explicit SimServer(vrmsim::Options options = vrmsim::Options(),
                       std::map<std::string, std::string> extraConfig = {});
    /// @brief Stops the simulator, restores FCSDK_CONFIG and removes the temporary files.
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    /// @brief Whether the simulator runs.
    /// @return true after a successful start
    bool ok() const { return ok_; }
    /// @brief Why the start failed.
    /// @return the message
    const std::string& error() const { return error_; }

    /// @brief Host name to give the library ("vrm.local" unless the options said otherwise).
    /// @return the host name
    std::string host() const;
    /// @brief Accepted user name.
    /// @return the user
    std::string user() const;
    /// @brief Accepted password.
    /// @return the password
    std::string password() const;
    /// @brief Bound port on 127.0.0.1.
    /// @return the port
    int port() const;
    /// @brief PEM file of the CA that signed the server certificate.
    /// @return the path
    std::string caFile() const;
    /// @brief The certificate directory (ca.pem, server.pem, server.key).
    /// @return the path
    const std::string& certDir() const { return certDir_; }
    /// @brief Path of the INI file named by FCSDK_CONFIG.
    /// @return the path
    const std::string& configPath() const { return configPath_; }
    /// @brief URN of the site, e.g. "urn:sites:4D9D0815".
    /// @return the URN
    std::string siteUrn() const;
    /// @brief URI of the site, e.g. "/service/sites/4D9D0815".
    /// @return the URI
    std::string siteUri() const;

    /// @brief Sets (or with an empty value removes) one INI setting and rewrites the file.
    /// @param sectionKey "Section/key"
    /// @param value the value; empty removes the key
    void SetConfigValue(const std::string& sectionKey, const std::string& value);

    /// @brief The simulator itself (faults, config, model access).
    /// @return the simulator
    vrmsim::Simulator& sim() { return *sim_; }

    /// @brief Restores the seeded state: inventory, config, faults, recorded requests, counters.
    void Reset();
    /// @brief Adds a fault rule.
    /// @param fault the rule
    void AddFault(const vrmsim::Fault& fault);
    /// @brief Shorthand: the next `count` requests with this method and path prefix get `status`
    /// with the error body {"errorCode": code, "errorDes": des}.
    /// @param method HTTP method ("" for any)
    /// @param pathPrefix path prefix ("" for any)
    /// @param status HTTP status
    /// @param code "errorCode" text
    /// @param des "errorDes" text
    /// @param count number of requests
    /// @param query text the query string must contain ("" for any)
    void FailNext(const std::string& method, const std::string& pathPrefix, int status,
                  const std::string& code = "10000001", const std::string& des = "Simulated failure",
                  int count = 1, const std::string& query = std::string());
    /// @brief The next `count` requests with this method and path prefix answer 200 with `body`.
    /// @param method HTTP method ("" for any)
    /// @param pathPrefix path prefix ("" for any)
    /// @param body the answer text
    /// @param count number of requests (-1: every one)
    /// @param query text the query string must contain ("" for any)
    void Answer(const std::string& method, const std::string& pathPrefix, const std::string& body,
                int count = 1, const std::string& query = std::string());
    /// @brief The next `count` GETs of `pathPrefix` answer the real object with the members of `patch`
    /// replaced (at any depth).
    /// @param pathPrefix path prefix
    /// @param patch the members to replace
    /// @param count number of requests (-1: every one)
    void Patch(const std::string& pathPrefix, const boost::json::object& patch, int count = -1);
    /// @brief Recorded VRM requests, oldest first.
    /// @param pathPrefix only those whose path starts with it
    /// @return the records
    std::vector<vrmsim::RecordedRequest> Requests(const std::string& pathPrefix = std::string()) const;
    /// @brief Recorded VRM requests with this method and exact path, oldest first.
    /// @param method HTTP method
    /// @param path the path ("" for any)
    /// @return the records
    std::vector<vrmsim::RecordedRequest> Sent(const std::string& method, const std::string& path) const;
    /// @brief Forgets the recorded requests.
    void ClearRequests();
    /// @brief Counters since start or reset.
    /// @return the counters
    vrmsim::Stats Stats() const;
    /// @brief Invalidates every session token.
    void ExpireTokens();

    /// @brief Parses a recorded request body as a JSON object (empty object when it is not one).
    /// @param request the record
    /// @return the object
    static boost::json::object BodyObject(const vrmsim::RecordedRequest& request);

    /// @brief A request to the simulator's control side (/_sim/...) over TLS, as any client would send
    /// it; fails the test unless it answers 200 with JSON.
    /// @param method HTTP method
    /// @param path the path, e.g. "/_sim/backup"
    /// @param body JSON text to send ("" for none)
    /// @return the answer
    boost::json::value Control(const std::string& method, const std::string& path,
                               const std::string& body = std::string());

  private:
    void WriteConfig();

    std::unique_ptr<vrmsim::Simulator> sim_;
    std::map<std::string, std::string> config_;
    std::string tempDir_;
    std::string certDir_;
    std::string configPath_;
    bool hadPreviousConfig_ = false;
    std::string previousConfig_;
    bool ok_ = false;
    std::string error_;
};

/// @brief GoogleTest fixture: one SimServer per test suite, reset before each test. A suite that needs
/// other options declares its own `static void SetUpTestSuite() { StartServer(options, config); }`.
class SimTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { StartServer(); }
    static void TearDownTestSuite();
    void SetUp() override;

    /// @brief Starts the suite's server (once per suite).
    /// @param options simulator options
    /// @param extraConfig more INI settings, keys written "Section/key"
    static void StartServer(vrmsim::Options options = vrmsim::Options(),
                            std::map<std::string, std::string> extraConfig = {});

    /// @brief The suite's server.
    /// @return the server
    static SimServer& server() { return *server_; }

    static std::string SiteUri() { return server().siteUri(); }
    static std::string SiteUrn() { return server().siteUrn(); }
    static std::string TaskUri(int id) { return SiteUri() + "/tasks/" + std::to_string(id); }
    static std::string TaskUrn(int id) { return SiteUrn() + ":tasks:" + std::to_string(id); }
    static std::string UriOf(const std::string& urn) { return fcsdk_test::UriOf(urn); }

    /// @brief The next `count` requests of `method` on `path` (prefix) answer 200 with `body`.
    static void Answer(const std::string& method, const std::string& path, const std::string& body,
                       int count = 1) {
        server().Answer(method, path, body, count);
    }
    /// @brief The next `count` requests of `method` on `path` (prefix) fail with `status` and a VRM
    /// error body.
    static void Fail(const std::string& method, const std::string& path, int count,
                     const std::string& code = "10000009", const std::string& des = "Simulated failure",
                     int status = 500) {
        server().FailNext(method, path, status, code, des, count);
    }
    /// @brief The next `count` GETs of `path` answer the real object with the members of `patch` replaced.
    static void Patch(const std::string& path, const boost::json::object& patch, int count = -1) {
        server().Patch(path, patch, count);
    }

    /// @brief The next request of `method` on `path` answers with the start of task `taskId`, naming the
    /// created object `urn`/`uri` as a VRM does.
    static void AnswerTaskStart(const std::string& method, const std::string& path, int taskId,
                                const std::string& urn = "", const std::string& uri = "");
    /// @brief A task object as a GET of the task answers it.
    static boost::json::object TaskObject(int taskId, const std::string& status, int progress = 0,
                                          const std::string& reasonDes = "");
    /// @brief The next polls of task `taskId` report these statuses, one per GET, in order.
    static void ScriptPolls(int taskId, const std::vector<std::string>& statuses);
    /// @brief A request of `method` on `path` starts task `taskId`, whose first poll reports "success".
    static void ScriptSuccessfulTask(const std::string& method, const std::string& path, int taskId,
                                     const std::string& urn = "", const std::string& uri = "") {
        AnswerTaskStart(method, path, taskId, urn, uri);
        ScriptPolls(taskId, {"success"});
    }

    /// @brief Recorded requests with this method and exact path, oldest first.
    static std::vector<vrmsim::RecordedRequest> Sent(const std::string& method, const std::string& path) {
        return server().Sent(method, path);
    }
    /// @brief Recorded requests of `method` (any path), oldest first.
    static std::vector<vrmsim::RecordedRequest> SentWithMethod(const std::string& method) {
        return server().Sent(method, "");
    }
    /// @brief The body of a request as a JSON object; fails the test when it is not one.
    static boost::json::object BodyOf(const vrmsim::RecordedRequest& request);
    /// @brief The body of the only request of `method` on `path`; fails the test unless there is one.
    static boost::json::object OnlyBody(const std::string& method, const std::string& path);
    /// @brief A request to the simulator's control side over TLS (see SimServer::Control).
    static boost::json::value Control(const std::string& method, const std::string& path,
                                      const std::string& body = "") {
        return server().Control(method, path, body);
    }

  private:
    static SimServer* server_;
};

}  // namespace fcsdk_test

#endif  // FCSDK_TESTS_SUPPORT_SIMSERVER_H
