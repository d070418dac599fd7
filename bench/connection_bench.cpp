// Client CPU time of one small GET through CFusionComputeConnection against the in-process simulator,
// next to a bare libcurl loop over one reused easy handle that sends the same request. The difference
// is what the session and transport layers add (URL and header building, hooks, logging checks).
// Beside them, what the session's connection reuse saves: the same request from a client that opens a
// new easy handle, and so a new TCP and TLS connection, for every request, as simple clients do; and
// the cost of CFusionComputeWrapper::Connect (version list, login, site list over a new connection).
// Before the benchmarks, one session of 1000 requests reads the simulator's /_sim/stats to show that
// the whole session used one TLS connection. CPU time is the benchmark thread's (the simulator's
// threads are not counted).
//
// Run (one line): build/bench/connection_bench --benchmark_min_time=2 --benchmark_repetitions=5
//                 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "FusionComputeWrapper.h"
#include "SimServer.h"
#include "connection/FusionComputeConnection.h"
#include "platform/FXString.h"
#include "platform/MlJson.h"

#include "BareClient.h"
#include "RatioReporter.h"

namespace {

constexpr char kPath[] = "service/sites";
constexpr char kVersion[] = "v6.3";

fcsdk_test::SimServer* g_server = nullptr;

class BenchConnection : public FusionComputeSDKWrapper::CFusionComputeConnection {
  public:
    const std::string& TokenLine() const { return tokenHeader; }
};

std::unique_ptr<BenchConnection> OpenSession() {
    auto connection = std::make_unique<BenchConnection>();
    std::string versions;
    if (!connection->connect(g_server->host(), g_server->user(), g_server->password(), versions) ||
        !connection->login(g_server->user(), g_server->password(), kVersion, "")) {
        return nullptr;
    }
    return connection;
}

void BM_ConnectionGet(benchmark::State& state) {
    auto connection = OpenSession();
    if (!connection) {
        state.SkipWithError("could not open a session with the simulator");
        return;
    }
    std::string response;
    for (auto _ : state) {
        if (!connection->get(kPath, response, nullptr)) {
            state.SkipWithError("GET failed");
            break;
        }
        benchmark::DoNotOptimize(response.data());
    }
}
BENCHMARK(BM_ConnectionGet)->UseRealTime();

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The same request with libcurl alone: one easy handle, same TLS settings and routing, same headers.
void BM_BareConnectionGet(benchmark::State& state) {
    auto session = OpenSession();  // only for a valid token
    if (!session) {
        state.SkipWithError("could not open a session with the simulator");
        return;
    }
    const std::string connectTo = "vrm.local:7443:127.0.0.1:" + std::to_string(g_server->port());
    const std::string url = "https://vrm.local:7443/" + std::string(kPath);
    const std::string accept = FXString::Format("Accept: application/json;version=%s;charset=UTF8", kVersion);
    CURL* handle = curl_easy_init();
    curl_slist* route = curl_slist_append(nullptr, connectTo.c_str());
    std::string response;
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(handle, CURLOPT_CAINFO, g_server->caFile().c_str());
    curl_easy_setopt(handle, CURLOPT_CONNECT_TO, route);
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &AppendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response);
    for (auto _ : state) {
        curl_slist* headers = curl_slist_append(nullptr, accept.c_str());
        headers = curl_slist_append(headers, session->TokenLine().c_str());
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
        response.clear();
        const CURLcode code = curl_easy_perform(handle);
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        curl_slist_free_all(headers);
        if (code != CURLE_OK || status != 200) {
            state.SkipWithError("GET failed");
            break;
        }
        benchmark::DoNotOptimize(response.data());
    }
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_cleanup(handle);
    curl_slist_free_all(route);
}
BENCHMARK(BM_BareConnectionGet)->UseRealTime();

// A simple client: the same request (same URL, routing, CA file, headers) with a new easy handle each
// time, so every request pays TCP connect, TLS handshake and certificate verification.
void BM_NewConnectionGet(benchmark::State& state) {
    auto session = OpenSession();  // only for a valid token
    if (!session) {
        state.SkipWithError("could not open a session with the simulator");
        return;
    }
    const std::string connectTo = "vrm.local:7443:127.0.0.1:" + std::to_string(g_server->port());
    const std::string url = "https://vrm.local:7443/" + std::string(kPath);
    const std::string accept = FXString::Format("Accept: application/json;version=%s;charset=UTF8", kVersion);
    const std::string caFile = g_server->caFile();
    curl_slist* route = curl_slist_append(nullptr, connectTo.c_str());
    std::string response;
    for (auto _ : state) {
        CURL* handle = curl_easy_init();
        curl_slist* headers = curl_slist_append(nullptr, accept.c_str());
        headers = curl_slist_append(headers, session->TokenLine().c_str());
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile.c_str());
        curl_easy_setopt(handle, CURLOPT_CONNECT_TO, route);
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &AppendBody);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response);
        response.clear();
        const CURLcode code = curl_easy_perform(handle);
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup(handle);
        curl_slist_free_all(headers);
        if (code != CURLE_OK || status != 200) {
            state.SkipWithError("GET failed");
            break;
        }
        benchmark::DoNotOptimize(response.data());
    }
    curl_slist_free_all(route);
}
BENCHMARK(BM_NewConnectionGet)->UseRealTime();

// A whole Connect of the facade: version list, login and site list, on a new TLS connection.
void BM_WrapperConnect(benchmark::State& state) {
    for (auto _ : state) {
        FusionComputeSDKWrapper::CFusionComputeWrapper wrapper;
        if (!wrapper.Connect(g_server->host(), g_server->user(), g_server->password())) {
            state.SkipWithError("Connect failed");
            break;
        }
        benchmark::DoNotOptimize(&wrapper);
    }
}
BENCHMARK(BM_WrapperConnect)->UseRealTime();

// The yardstick of Connect: the same three requests (as the simulator recorded them from a Connect)
// from a new bare libcurl easy handle, so over a new TLS connection, each answer read with
// boost::json::parse.
void BM_BareWrapperConnect(benchmark::State& state) {
    g_server->ClearRequests();
    {
        FusionComputeSDKWrapper::CFusionComputeWrapper wrapper;
        if (!wrapper.Connect(g_server->host(), g_server->user(), g_server->password())) {
            state.SkipWithError("Connect failed");
            return;
        }
    }
    const std::vector<fcsdk_bench::BareRequest> requests = fcsdk_bench::BareRequestsOf(g_server->Requests());
    g_server->ClearRequests();
    const std::string base = "https://" + g_server->host() + ":7443";
    const std::string connectTo = g_server->host() + ":7443:127.0.0.1:" + std::to_string(g_server->port());
    const std::string caFile = g_server->caFile();
    for (auto _ : state) {
        fcsdk_bench::BareClient client(base, connectTo, caFile);
        std::string body;
        for (const fcsdk_bench::BareRequest& request : requests) {
            boost::json::error_code error;
            if (!client.Send(request, body) || (boost::json::parse(body, error), error)) {
                state.SkipWithError("bare Connect failed");
                break;
            }
        }
        benchmark::DoNotOptimize(body.data());
    }
    state.counters["requests"] = static_cast<double>(requests.size());
}
BENCHMARK(BM_BareWrapperConnect)->UseRealTime();

// After the ratios of the library over its bare yardsticks, what the session's kept connection saves
// against a new connection per request.
class RatioReporter : public fcsdk_bench::RatioReporter {
  public:
    void Finalize() override {
        fcsdk_bench::RatioReporter::Finalize();
        const auto session = cpuNs_.find("BM_ConnectionGet");
        const auto fresh = cpuNs_.find("BM_NewConnectionGet");
        if (session != cpuNs_.end() && fresh != cpuNs_.end() && session->second > 0) {
            std::printf(
                "client CPU per GET: session %.1f us, new connection per request %.1f us, ratio %.1f\n",
                session->second / 1000.0, fresh->second / 1000.0, fresh->second / session->second);
        }
    }
};

// One session of 1000 GETs, then /_sim/stats read over the same session.
bool ReportConnectionReuse() {
    g_server->Reset();
    auto connection = OpenSession();
    if (!connection) return false;
    std::string response;
    for (int i = 0; i < 1000; ++i) {
        if (!connection->get(kPath, response, nullptr)) return false;
    }
    if (!connection->get("/_sim/stats", response, nullptr)) return false;
    json_spirit::mObject stats;
    if (!MlJson::Unserialize(response, stats)) return false;
    std::printf("1000 GETs in one session: %lld requests, %lld TLS connection(s) (from /_sim/stats)\n",
                static_cast<long long>(MlJson::GetInt64Value(stats, "requests")),
                static_cast<long long>(MlJson::GetInt64Value(stats, "tlsConnections")));
    return MlJson::GetInt64Value(stats, "tlsConnections") == 1;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    vrmsim::Options options;
    options.recordRequests = true;  // BM_BareWrapperConnect learns the requests of a Connect
    fcsdk_test::SimServer server(options);
    if (!server.ok()) {
        std::fprintf(stderr, "simulator did not start: %s\n", server.error().c_str());
        return 1;
    }
    g_server = &server;
    const bool reused = ReportConnectionReuse();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reused ? 0 : 2;
}
