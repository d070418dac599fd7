#ifndef VRMSIM_VRMSIMULATOR_H
#define VRMSIM_VRMSIMULATOR_H

// The embedding interface of vrmsim, the stateful HTTPS simulator of a FusionCompute VRM.
// Tests start a Simulator inside their own process, point the library at it and then use the
// C++ methods below (or the equivalent /_sim/ HTTP endpoints, see docs/VRMSIM.md) to inject faults,
// read the recorded requests and reset the state between tests.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vrmsim {

class Model;

/// @brief Sizes of the seeded inventory. Everything derives from `seed`, so two simulators with the
/// same sizes and seed serve byte-identical answers.
struct InventoryOptions {
    std::uint64_t seed = 1;       ///< seed of identifiers, UUIDs, MAC addresses and sizes
    int sites = 1;                ///< sites in the site list; the inventory lives in the first one
    int clusters = 2;             ///< clusters of the first site
    int hosts = 4;                ///< hosts, spread round robin over the clusters
    int vms = 20;                 ///< virtual machines (not templates)
    int templates = 2;            ///< VM templates
    int datastores = 4;           ///< datastores; types cycle advanceSan, DSWARE, NAS, LOCAL
    int disksPerVm = 2;           ///< volumes attached to each VM and template
    int nicsPerVm = 1;            ///< network cards of each VM and template
    int dvSwitches = 2;           ///< distributed virtual switches
    int portGroupsPerSwitch = 2;  ///< port groups of each switch
    int vmFolders = 2;            ///< VM folders (type 1) below the site
    int clusterFolders = 1;       ///< cluster folders (type 0) below the site
    int storageResources = 2;     ///< extra storage resources beside those of DSWARE/NAS datastores
    int vmsWithSnapshots = 2;     ///< the first N VMs get a snapshot tree (A with child C, then B)
};

/// @brief Which server certificate the simulator presents (the bad ones serve TLS refusal tests).
enum class CertificateKind {
    Valid,      ///< signed by ca.pem, SAN = hostName, valid now
    WrongHost,  ///< signed by ca.pem, SAN = "other.invalid"
    Expired,    ///< signed by ca.pem, SAN = hostName, expired yesterday
    UnknownCa,  ///< SAN = hostName, signed by a CA that is not in ca.pem
};

/// @brief Start-up options of a Simulator. Runtime changes go through SetConfig.
struct Options {
    std::string listenHost = "127.0.0.1";  ///< address to listen on
    int port = 0;                          ///< TCP port; 0 picks a free one (see Simulator::Port)
    std::string certDir;                 ///< directory of ca.pem, server.pem, server.key (made when missing)
    std::string hostName = "vrm.local";  ///< host name in the server certificate
    CertificateKind certificate = CertificateKind::Valid;  ///< certificate to present
    std::string user = "admin";                            ///< accepted X-Auth-User
    std::string password = "Sim@Passw0rd";                 ///< its password (X-Auth-Key = sha256 hex of it)
    /// (version, loginUri) pairs of GET /service/versions; empty means v5.1, v6.1 and v6.3.
    std::vector<std::pair<std::string, std::string>> versions;
    int tokenLifetimeSeconds = 0;             ///< session token lifetime from login; 0 = never expires
    int pageSize = 100;                       ///< most objects in one list page
    int workerThreads = 32;                   ///< server threads (each open keep-alive connection holds one)
    bool recordRequests = true;               ///< keep the requests for Requests()
    std::size_t maxRecordedRequests = 10000;  ///< oldest records are dropped beyond this
    /// A VM list scoped to a folder also lists the folder's templates and shows them with
    /// "isTemplate": false, as the VRM does (the library marks them from the template list).
    bool folderScopeHidesTemplateFlag = true;
    /// Clock in whole seconds for token lifetimes and time stamps; empty = system clock.
    std::function<std::int64_t()> clock;
    InventoryOptions inventory;  ///< the seeded inventory
};

/// @brief What a fault does to a matching request.
enum class FaultKind {
    Status,  ///< answer `status` (default 500) with the error body errorCode/errorDes
    Html,    ///< answer `status` (default 502) with an HTML page
    Delay,   ///< wait `ms`, then answer normally
    Stall,   ///< send the headers, then nothing for `ms` (default 30000; cut short by Stop/Reset), then close
    Drop,    ///< send the headers and half of the real answer, then close the connection
    Close,   ///< close the connection without any answer
    Truncate,     ///< the real answer cut to `bytes` (default half), with a matching Content-Length
    Body,         ///< answer `status` (default 200) with `body` as given (malformed JSON, empty, ...)
    Oversize,     ///< answer 200 with a valid JSON body of `megabytes` MB
    WrongTypes,   ///< the real answer with JSON types changed (see `patchJson`)
    ExpireToken,  ///< expire every session token, then handle the request normally (so: 401)
    Drip,         ///< the real answer, its body sent one byte every `ms` (default 1000) milliseconds
    NoToken,      ///< the real answer without its X-Auth-Token header (a login that opens no session)
    /// Before the request is handled, the VM list changes: `objects` > 0 adds that many VMs at the end,
    /// < 0 deletes that many from the front (so the later pages of a paged read shift).
    ListChange,
};

/// @brief One fault rule: the next `count` requests that match method, path prefix and query text
/// (after `skip` matching requests were let through) get the fault instead of (or besides) the answer.
struct Fault {
    FaultKind kind = FaultKind::Status;
    std::string method;                  ///< "GET", "POST", ...; empty matches every method
    std::string path;                    ///< prefix of the request path; empty matches every path
    std::string query;                   ///< text that the raw query string must contain; empty matches any
    int count = 1;                       ///< matching requests to fail; -1 = every one until cleared
    int skip = 0;                        ///< matching requests to let through first
    int status = 0;                      ///< HTTP status (0 = the kind's default)
    std::string errorCode = "10000001";  ///< Status: "errorCode" of the error body
    std::string errorDes = "Simulated failure";                  ///< Status: "errorDes" of the error body
    int ms = 0;                                                  ///< Delay, Stall: milliseconds
    std::string body;                                            ///< Body: the answer text
    std::string contentType = "application/json;charset=UTF-8";  ///< Body: its content type
    long long bytes = -1;                                        ///< Truncate: bytes kept (-1 = half)
    int megabytes = 1;                                           ///< Oversize: body size in MB
    int objects = -1;  ///< ListChange: VMs added (> 0) or deleted from the front of the list (< 0)
    /// WrongTypes: JSON object text; every member of the answer (at any depth) whose key is named
    /// here gets the given value. Empty: every number and bool of the answer becomes a string and
    /// every string that holds a decimal number becomes a number.
    std::string patchJson;
};

/// @brief One request as the simulator received it (VRM requests only; /_sim/ requests are not kept).
struct RecordedRequest {
    std::uint64_t seq = 0;  ///< running number since start or reset
    std::string method;     ///< "GET", "POST", "PUT", "DELETE"
    std::string target;     ///< request target as sent: path, and "?" and query when present
    std::string path;       ///< path part of the target, not decoded
    std::string query;      ///< raw query string after "?", not decoded
    bool hasQuery = false;  ///< the target carried a "?" (also with an empty query)
    std::vector<std::pair<std::string, std::string>> headers;  ///< sorted by name (ASCII case ignored)
    std::string body;                                          ///< request body
    int status = 0;                                            ///< status of the answer
    std::string fault;                                         ///< name of the fault applied, empty when none

    /// @brief Value of the first header named `name` (ASCII case ignored), or "".
    /// @param name header name
    /// @return its value, or the empty string when absent
    std::string Header(const std::string& name) const;
    /// @brief Whether a header named `name` (ASCII case ignored) was sent.
    /// @param name header name
    /// @return true when present
    bool HasHeader(const std::string& name) const;
    /// @brief Values of the query argument `key` in order of appearance, URL-decoded.
    /// @param key argument name (exact)
    /// @return every value given for it
    std::vector<std::string> QueryValues(const std::string& key) const;
};

/// @brief Counters since start or the last reset.
struct Stats {
    std::uint64_t requests = 0;        ///< VRM requests (not /_sim/)
    std::uint64_t tlsConnections = 0;  ///< TLS connections accepted (first handshake of each)
    std::uint64_t logins = 0;          ///< successful POST /service/session
    std::uint64_t loginFailures = 0;   ///< refused logins
    std::uint64_t unauthorized = 0;    ///< requests refused for a missing or expired token
    std::uint64_t faults = 0;          ///< faults applied
    std::map<std::string, std::uint64_t> requestsByPath;  ///< "METHOD /path" -> count
};

/// @brief Settings that can change while the simulator runs (PUT /_sim/config); Reset restores
/// the values of the Options.
struct RuntimeConfig {
    int pageSize = 100;
    int tokenLifetimeSeconds = 0;
    std::string user;
    std::string password;
    std::vector<std::pair<std::string, std::string>> versions;
    bool folderScopeHidesTemplateFlag = true;
};

/// @brief A copy of one VM or template of the simulated inventory (see Simulator::Vms).
struct VmState {
    std::string urn, uri, name, uuid, status, hostUrn, clusterUrn, folderUrn, osType, guestOSName;
    bool isTemplate = false;
    int osVersion = 0, cpuQuantity = 0, coresPerSocket = 0;
    std::int64_t memoryMB = 0;
    std::vector<std::string> volumeUrns;        ///< attached volumes in slot order
    std::vector<std::string> nicMacs;           ///< MAC address of each network card
    std::vector<std::string> nicPortGroupUrns;  ///< port group of each network card
    std::vector<std::string> snapshotUrns;      ///< snapshots in the order of their ids
    std::vector<std::string> snapshotNames;     ///< their names
};

/// @brief A copy of one volume (see Simulator::Volumes).
struct VolumeState {
    long id = 0;  ///< the number of /_sim/volumes/<id>/...
    std::string urn, uri, name, uuid, datastoreUrn;
    std::string vmUrn;             ///< empty when attached to no VM
    std::string volCBTCreateTime;  ///< empty while changed-block tracking is off
    int quantityGB = 0;
    std::int64_t userUsedSizeMB = 0;
};

/// @brief A copy of one task (see Simulator::Tasks).
struct TaskState {
    std::string urn, uri, type, status, entityUrn, reasonDes;
    int progress = 0;
};

/// @brief A copy of one disk access, a backup resource of a volume (see Simulator::DiskAccesses).
struct DiskAccessState {
    std::string uri, volumeUrn, status;
    bool released = false;  ///< given back; still found by a few reads
};

/// @brief Name, address and place of one object of another collection (see Simulator::Objects).
struct ObjectState {
    std::string urn, uri, name;
    std::string parentUrn;  ///< clusters and folders: the parent; hosts: the cluster; port groups: the switch
    int type = 0;           ///< folders: 0 cluster folder, 1 VM folder
};

/// @brief How many objects of each kind the simulator holds.
struct StateCounts {
    std::size_t vms = 0;                    ///< VMs and templates
    std::size_t volumes = 0;                ///< attached or not
    std::size_t tasks = 0;                  ///< started since the seed
    std::size_t diskAccesses = 0;           ///< backup resources, released ones included
    std::size_t changedBlockHistories = 0;  ///< volumes whose changed blocks are tracked
};

class SimulatorImpl;

/// @brief The simulator: model, router and HTTPS server. Thread-safe; Stop (or destruction) joins
/// every server thread.
class Simulator {
  public:
    /// @brief Builds the simulator and seeds its model; nothing listens before Start.
    /// @param options start-up options
    explicit Simulator(Options options);
    /// @brief Stops the server when it runs.
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    /// @brief Creates the certificates when missing, binds the port and starts serving.
    /// @return false when the certificates or the port could not be set up (see LastError)
    bool Start();
    /// @brief Stops serving, wakes stalled and delayed answers, joins the server threads.
    void Stop();
    /// @brief Whether Start succeeded and Stop was not called since.
    /// @return true while serving
    bool Running() const;
    /// @brief The bound TCP port (valid after Start).
    /// @return the port number
    int Port() const;
    /// @brief Path of the CA certificate clients must trust (certDir + "/ca.pem").
    /// @return the PEM file path
    std::string CaFile() const;
    /// @brief Why Start failed.
    /// @return a message, empty after success
    std::string LastError() const;
    /// @brief The options the simulator was built with.
    /// @return the options
    const Options& options() const;

    /// @brief URN of the first site, for example "urn:sites:4D9D0815".
    /// @return the URN
    std::string SiteUrn() const;
    /// @brief URI of the first site, for example "/service/sites/4D9D0815".
    /// @return the URI
    std::string SiteUri() const;

    /// @brief Restores the seeded inventory and the runtime configuration, clears faults, recorded
    /// requests and counters, and wakes stalled answers. Session tokens stay valid.
    void Reset();
    /// @brief Adds a fault rule (evaluated in the order added).
    /// @param fault the rule
    void AddFault(const Fault& fault);
    /// @brief Adds fault rules given as JSON (one object or {"faults": [...]}, keys as in docs/VRMSIM.md).
    /// @param json the JSON text
    /// @param error receives a message when the text is not a valid fault description
    /// @return false when nothing was added
    bool AddFaultJson(const std::string& json, std::string* error = nullptr);
    /// @brief Removes all fault rules.
    void ClearFaults();
    /// @brief Number of fault rules that can still fire.
    /// @return the count
    std::size_t PendingFaults() const;
    /// @brief Recorded requests, oldest first.
    /// @param pathPrefix only requests whose path starts with it (empty: all)
    /// @return copies of the records
    std::vector<RecordedRequest> Requests(const std::string& pathPrefix = std::string()) const;
    /// @brief Forgets the recorded requests.
    void ClearRequests();
    /// @brief Counters since start or reset.
    /// @return a copy of the counters
    Stats GetStats() const;
    /// @brief Makes every session token invalid (the next request with it gets 401).
    void ExpireTokens();
    /// @brief Tokens issued and still valid.
    /// @return number of live sessions
    std::size_t LiveTokens() const;
    /// @brief The current runtime configuration.
    /// @return a copy
    RuntimeConfig Config() const;
    /// @brief Replaces the runtime configuration (page size, token lifetime, credentials, versions).
    /// @param config the new settings
    void SetConfig(const RuntimeConfig& config);

    // ---- Read-only copies of the state, for tests that check what requests changed ----

    /// @brief The VMs and templates in the order of the VM list.
    /// @return copies
    std::vector<VmState> Vms() const;
    /// @brief One VM or template.
    /// @param urn its URN
    /// @return a copy, or nothing when there is none
    std::optional<VmState> FindVm(const std::string& urn) const;
    /// @brief The volumes in the order of their ids.
    /// @return copies
    std::vector<VolumeState> Volumes() const;
    /// @brief One volume.
    /// @param urn its URN
    /// @return a copy, or nothing when there is none
    std::optional<VolumeState> FindVolume(const std::string& urn) const;
    /// @brief The tasks in the order of their ids.
    /// @return copies
    std::vector<TaskState> Tasks() const;
    /// @brief The disk accesses (backup resources) by URI.
    /// @return copies
    std::vector<DiskAccessState> DiskAccesses() const;
    /// @brief The objects of one collection in the order of their ids.
    /// @param collection "sites", "clusters", "hosts", "datastores", "storageUnits", "folders", "dvSwitches"
    /// or "portGroups" (of every switch)
    /// @return copies; empty for an unknown collection
    std::vector<ObjectState> Objects(const std::string& collection) const;
    /// @brief How many objects of each kind there are.
    /// @return the counts
    StateCounts Counts() const;

    // ---- Set-up steps no VRM request can take ----

    /// @brief Renames a VM or template.
    /// @param urn its URN
    /// @param name the new name
    /// @return false when there is no such VM
    bool RenameVm(const std::string& urn, const std::string& name);
    /// @brief Changes a volume's size and used space (which decide its changed-block bitmap).
    /// @param urn its URN
    /// @param quantityGB size
    /// @param usedMB used space
    /// @return false when there is no such volume
    bool ShapeVolume(const std::string& urn, int quantityGB, std::int64_t usedMB);
    /// @brief Starts a task of a kind no request of the simulator starts; polls move it on.
    /// @param type the task type
    /// @param entityUrn the object it works on (its URI follows from the URN)
    /// @param pollsToFinish polls until it ends (0: ended at once)
    /// @param fail end as "failed" instead of "success" (a task that ends by polls)
    /// @return a copy of the started task
    TaskState StartTask(const std::string& type, const std::string& entityUrn, int pollsToFinish,
                        bool fail = false);

    /// @brief The model itself, for code built with vrmsim's internal headers (the benchmarks). Hold
    /// `std::lock_guard<std::mutex> lock(sim.model().Mutex());` while touching it. Tests use the copies
    /// and set-up steps above instead.
    /// @return the model
    Model& model();

  private:
    std::unique_ptr<SimulatorImpl> impl_;
};

/// @brief Makes sure `dir` holds ca.pem/ca.key (the simulator's CA) and server.pem/server.key
/// for `hostName`, creating what is missing (EC P-256 keys, SAN = hostName).
/// @param dir certificate directory (created when missing)
/// @param hostName host name of the server certificate
/// @param error receives a message on failure
/// @return true when the files exist afterwards
bool EnsureCertificates(const std::string& dir, const std::string& hostName, std::string* error);

/// @brief Writes a certificate of the given kind for `hostName` into certFile/keyFile, signed by the
/// CA of `dir` (made when missing) or, for UnknownCa, by a CA of its own that no client trusts.
/// @param dir certificate directory holding the trusted CA
/// @param hostName host name put into the SAN (WrongHost puts "other.invalid")
/// @param kind which certificate
/// @param certFile output PEM certificate
/// @param keyFile output PEM private key
/// @param error receives a message on failure
/// @return true on success
bool MakeCertificate(const std::string& dir, const std::string& hostName, CertificateKind kind,
                     const std::string& certFile, const std::string& keyFile, std::string* error);

/// @brief Lower-case hexadecimal SHA-256 of `text` (what X-Auth-Key must carry).
/// @param text input bytes
/// @return 64 hex digits
std::string Sha256Hex(const std::string& text);

}  // namespace vrmsim

#endif  // VRMSIM_VRMSIMULATOR_H
