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
// SimTest is a GoogleTest fixture with one SimServer per test suite, reset before every test.

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "VrmSimulator.h"

namespace fcsdk_test {

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
    void FailNext(const std::string& method, const std::string& pathPrefix, int status,
                  const std::string& code = "10000001", const std::string& des = "Simulated failure",
                  int count = 1);
    /// @brief Recorded VRM requests, oldest first.
    /// @param pathPrefix only those whose path starts with it
    /// @return the records
    std::vector<vrmsim::RecordedRequest> Requests(const std::string& pathPrefix = std::string()) const;
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

/// @brief GoogleTest fixture: one SimServer per test suite (default options), reset before each test.
/// Suites that need other options build their own SimServer.
class SimTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    /// @brief The suite's server.
    /// @return the server
    static SimServer& server() { return *server_; }

  private:
    static SimServer* server_;
};

}  // namespace fcsdk_test

#endif  // FCSDK_TESTS_SUPPORT_SIMSERVER_H
