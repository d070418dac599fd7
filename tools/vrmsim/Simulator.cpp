// Wires the model, the routes, faults, recorder and sessions to the HTTPS server.

#include <boost/json/parse.hpp>

#include <chrono>
#include <optional>

#include "Faults.h"
#include "Model.h"
#include "Query.h"
#include "Routes.h"
#include "Server.h"
#include "State.h"
#include "VrmSimulator.h"
#include "Waker.h"

namespace vrmsim {

namespace {

RuntimeConfig InitialConfig(const Options& options) {
    RuntimeConfig config;
    config.pageSize = options.pageSize > 0 ? options.pageSize : 100;
    config.tokenLifetimeSeconds = options.tokenLifetimeSeconds;
    config.user = options.user;
    config.password = options.password;
    config.versions = options.versions;
    if (config.versions.empty()) {
        config.versions = {
            {"v5.1", "/service/session"}, {"v6.1", "/service/session"}, {"v6.3", "/service/session"}};
    }
    config.folderScopeHidesTemplateFlag = options.folderScopeHidesTemplateFlag;
    return config;
}

const char* CertificateSuffix(CertificateKind kind) {
    switch (kind) {
        case CertificateKind::WrongHost:
            return "wronghost";
        case CertificateKind::Expired:
            return "expired";
        case CertificateKind::UnknownCa:
            return "unknownca";
        default:
            return "";
    }
}

VmState CopyOf(const Vm& vm) {
    VmState state;
    state.urn = vm.urn;
    state.uri = vm.uri;
    state.name = vm.name;
    state.uuid = vm.uuid;
    state.status = vm.status;
    state.hostUrn = vm.hostUrn;
    state.clusterUrn = vm.clusterUrn;
    state.folderUrn = vm.folderUrn;
    state.osType = vm.osType;
    state.guestOSName = vm.guestOSName;
    state.isTemplate = vm.isTemplate;
    state.osVersion = vm.osVersion;
    state.cpuQuantity = vm.cpuQuantity;
    state.coresPerSocket = vm.coresPerSocket;
    state.memoryMB = vm.memoryMB;
    state.volumeUrns = vm.volumeUrns;
    for (const Nic& nic : vm.nics) {
        state.nicMacs.push_back(nic.mac);
        state.nicPortGroupUrns.push_back(nic.portGroupUrn);
    }
    for (const auto& entry : vm.snapshots) {
        state.snapshotUrns.push_back(entry.second.urn);
        state.snapshotNames.push_back(entry.second.name);
    }
    return state;
}

VolumeState CopyOf(const Volume& volume) {
    VolumeState state;
    state.id = volume.id;
    state.urn = volume.urn;
    state.uri = volume.uri;
    state.name = volume.name;
    state.uuid = volume.uuid;
    state.datastoreUrn = volume.datastoreUrn;
    state.vmUrn = volume.vmUrn;
    state.volCBTCreateTime = volume.volCBTCreateTime;
    state.quantityGB = volume.quantityGB;
    state.userUsedSizeMB = volume.userUsedSizeMB;
    return state;
}

TaskState CopyOf(const Task& task) {
    return TaskState{task.urn,       task.uri,       task.type,    task.status,
                     task.entityUrn, task.reasonDes, task.progress};
}

template <typename T>
ObjectState ObjectOf(const T& object, const std::string& parentUrn, int type = 0) {
    return ObjectState{object.urn, object.uri, object.name, parentUrn, type};
}

// Copies of every record of a collection, in its order.
template <typename Map>
auto CopiesOf(const Map& records) {
    std::vector<decltype(CopyOf(records.begin()->second))> copies;
    for (const auto& entry : records) copies.push_back(CopyOf(entry.second));
    return copies;
}

// A copy of one record, or nothing.
template <typename T>
auto OptionalCopyOf(const T* record) {
    using Copy = decltype(CopyOf(*record));
    return record ? std::optional<Copy>(CopyOf(*record)) : std::nullopt;
}

}  // namespace

class SimulatorImpl {
  public:
    explicit SimulatorImpl(Options o)
        : options(std::move(o)),
          config(InitialConfig(options)),
          context{model,
                  config,
                  options,
                  sessions,
                  recorder,
                  faults,
                  [this] { return Now(); },
                  [this] { ResetLocked(); },
                  [this] { return server ? server->Port() : 0; },
                  [this] { return TlsConnections(); }} {
        SeedModel(model, options.inventory);
        RegisterSessionRoutes(router, context);
        RegisterInventoryRoutes(router, context);
        RegisterControlRoutes(router, context);
        RegisterManagementRoutes(router, context);
    }

    std::int64_t Now() const {
        if (options.clock) return options.clock();
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }

    std::uint64_t TlsConnections() const { return server ? server->TlsConnections() - tlsBase : 0; }

    void ResetLocked() {
        SeedModel(model, options.inventory);
        config = InitialConfig(options);
        faults.Clear();
        recorder.Reset();
        tlsBase = server ? server->TlsConnections() : 0;
        waker.WakeAll();
    }

    HttpResponse Handle(const HttpRequest& request) {
        std::unique_lock<std::mutex> lock(model.Mutex());
        if (StartsWith(request.path, "/_sim/")) return Route(request, false);
        RecordedRequest& record =
            recorder.Record(request, options.recordRequests, options.maxRecordedRequests);
        std::optional<Fault> fault = faults.Take(request);
        HttpResponse response;
        int delayMs = 0;
        if (!fault) {
            response = Route(request, true);
        } else {
            ++recorder.stats().faults;
            record.fault = FaultKindName(fault->kind);
            if (!FaultNeedsAnswer(fault->kind)) {
                response = FaultAnswer(*fault);
            } else {
                if (fault->kind == FaultKind::ExpireToken) sessions.ExpireAll();
                if (fault->kind == FaultKind::ListChange) ChangeVmList(fault->objects);
                if (fault->kind == FaultKind::Delay) delayMs = fault->ms;
                response = SpoilAnswer(*fault, Route(request, true));
            }
        }
        record.status = response.wire == WireMode::Close ? 0 : response.status;
        lock.unlock();
        if (delayMs > 0) waker.SleepFor(delayMs);
        return response;
    }

    /// Deletes VMs from the front of the list (count < 0) or adds copies of the last one at its end.
    void ChangeVmList(int count) {
        for (; count < 0 && !model.vms.empty(); ++count) model.vms.erase(model.vms.begin());
        for (; count > 0 && !model.vms.empty(); --count) {
            const long number = model.NextId("vms", 1);
            Vm vm = model.vms.rbegin()->second;
            vm.number = number;
            vm.id = "i-" + std::to_string(number) + "-added";
            vm.urn = vm.urn.substr(0, vm.urn.rfind(':') + 1) + vm.id;
            vm.uri = vm.uri.substr(0, vm.uri.rfind('/') + 1) + vm.id;
            vm.name = "added-" + std::to_string(number);
            vm.uuid = "added-" + vm.uuid;
            vm.snapshots.clear();
            model.vms[number] = vm;
        }
    }

    /// Finds and runs the handler; VRM requests other than versions and login need a live token.
    HttpResponse Route(const HttpRequest& request, bool vrm) {
        if (vrm && !IsPublicRequest(request)) {
            std::string token = request.Header("X-Auth-Token");
            if (token.empty() || !sessions.Valid(token, Now())) {
                ++recorder.stats().unauthorized;
                return ErrorResponse(401, errors::kTokenInvalid, "The token is invalid or has expired.");
            }
        }
        PathParams params;
        const RouteHandler* handler = router.Find(request.method, request.path, params);
        if (handler) return (*handler)(request, params);
        if (router.KnowsPath(request.path))
            return ErrorResponse(405, errors::kNoSuchPath, "Method not allowed.");
        return ErrorResponse(404, errors::kNoSuchPath, "No such resource: " + request.path);
    }

    Options options;
    Model model;
    RuntimeConfig config;
    Sessions sessions;
    Recorder recorder;
    FaultTable faults;
    Router router;
    Waker waker;
    std::unique_ptr<HttpsServer> server;
    std::uint64_t tlsBase = 0;
    bool running = false;
    std::string lastError;
    RouteContext context;
};

// ---- RecordedRequest ----

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& header : headers) {
        if (EqualsNoCase(header.first, name)) return header.second;
    }
    return std::string();
}

bool RecordedRequest::HasHeader(const std::string& name) const {
    for (const auto& header : headers) {
        if (EqualsNoCase(header.first, name)) return true;
    }
    return false;
}

std::vector<std::string> RecordedRequest::QueryValues(const std::string& key) const {
    return QueryArgs(query).All(key);
}

// ---- Simulator ----

Simulator::Simulator(Options options) : impl_(std::make_unique<SimulatorImpl>(std::move(options))) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start() {
    auto& o = impl_->options;
    if (impl_->running) return true;
    impl_->lastError.clear();
    if (o.certDir.empty()) {
        impl_->lastError = "no certificate directory given";
        return false;
    }
    std::string error;
    if (!EnsureCertificates(o.certDir, o.hostName, &error)) {
        impl_->lastError = error;
        return false;
    }
    ServerSettings settings;
    settings.host = o.listenHost;
    settings.port = o.port;
    settings.threads = o.workerThreads;
    settings.certFile = o.certDir + "/server.pem";
    settings.keyFile = o.certDir + "/server.key";
    if (o.certificate != CertificateKind::Valid) {
        std::string suffix = CertificateSuffix(o.certificate);
        settings.certFile = o.certDir + "/server-" + suffix + ".pem";
        settings.keyFile = o.certDir + "/server-" + suffix + ".key";
        if (!MakeCertificate(o.certDir, o.hostName, o.certificate, settings.certFile, settings.keyFile,
                             &error)) {
            impl_->lastError = error;
            return false;
        }
    }
    SimulatorImpl* impl = impl_.get();
    impl_->server = std::make_unique<HttpsServer>(
        settings, [impl](const HttpRequest& request) { return impl->Handle(request); }, impl_->waker);
    if (!impl_->server->Start(error)) {
        impl_->lastError = error;
        impl_->server.reset();
        return false;
    }
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    impl_->tlsBase = 0;
    impl_->running = true;
    return true;
}

void Simulator::Stop() {
    if (!impl_->server) return;
    impl_->server->Stop();
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    impl_->running = false;
}

bool Simulator::Running() const {
    return impl_->running;
}

int Simulator::Port() const {
    return impl_->server ? impl_->server->Port() : 0;
}

std::string Simulator::CaFile() const {
    return impl_->options.certDir + "/ca.pem";
}

std::string Simulator::LastError() const {
    return impl_->lastError;
}

const Options& Simulator::options() const {
    return impl_->options;
}

std::string Simulator::SiteUrn() const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    return impl_->model.site().urn;
}

std::string Simulator::SiteUri() const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    return impl_->model.site().uri;
}

void Simulator::Reset() {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    impl_->ResetLocked();
}

void Simulator::AddFault(const Fault& fault) {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    impl_->faults.Add(fault);
}

bool Simulator::AddFaultJson(const std::string& json, std::string* error) {
    boost::system::error_code ec;
    boost::json::value body = boost::json::parse(json, ec);
    std::string message;
    std::vector<Fault> faults;
    if (ec) {
        message = "not JSON: " + ec.message();
    } else if (FaultsFromJson(body, faults, message)) {
        std::lock_guard<std::mutex> lock(impl_->model.Mutex());
        for (const auto& fault : faults) impl_->faults.Add(fault);
        return true;
    }
    if (error) *error = message;
    return false;
}

void Simulator::ClearFaults() {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    impl_->faults.Clear();
}

std::size_t Simulator::PendingFaults() const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    return impl_->faults.Pending();
}

std::vector<RecordedRequest> Simulator::Requests(const std::string& pathPrefix) const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    std::vector<RecordedRequest> out;
    for (const auto& record : impl_->recorder.Requests()) {
        if (StartsWith(record.path, pathPrefix)) out.push_back(record);
    }
    return out;
}

void Simulator::ClearRequests() {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    impl_->recorder.ClearRequests();
}

Stats Simulator::GetStats() const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    Stats stats = impl_->recorder.stats();
    stats.tlsConnections = impl_->TlsConnections();
    return stats;
}

void Simulator::ExpireTokens() {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    impl_->sessions.ExpireAll();
}

std::size_t Simulator::LiveTokens() const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    return impl_->sessions.Live(impl_->Now());
}

RuntimeConfig Simulator::Config() const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    return impl_->config;
}

void Simulator::SetConfig(const RuntimeConfig& config) {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    impl_->config = config;
    if (impl_->config.pageSize <= 0) impl_->config.pageSize = 100;
}

std::vector<VmState> Simulator::Vms() const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    return CopiesOf(impl_->model.vms);
}

std::optional<VmState> Simulator::FindVm(const std::string& urn) const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    return OptionalCopyOf<Vm>(impl_->model.FindVm(urn));
}

std::vector<VolumeState> Simulator::Volumes() const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    return CopiesOf(impl_->model.volumes);
}

std::optional<VolumeState> Simulator::FindVolume(const std::string& urn) const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    return OptionalCopyOf<Volume>(impl_->model.FindVolume(urn));
}

std::vector<TaskState> Simulator::Tasks() const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    return CopiesOf(impl_->model.tasks);
}

std::vector<DiskAccessState> Simulator::DiskAccesses() const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    std::vector<DiskAccessState> accesses;
    for (const auto& entry : impl_->model.backupResources) {
        const BackupResource& resource = entry.second;
        accesses.push_back(
            DiskAccessState{resource.uri, resource.volumeUrn, resource.status, resource.releaseReads >= 0});
    }
    return accesses;
}

std::vector<ObjectState> Simulator::Objects(const std::string& collection) const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    const Model& model = impl_->model;
    std::vector<ObjectState> objects;
    if (collection == "sites") {
        for (const Site& site : model.sites)
            objects.push_back(ObjectState{site.urn, site.uri, site.name, "", 0});
    } else if (collection == "clusters") {
        for (const auto& entry : model.clusters)
            objects.push_back(ObjectOf(entry.second, entry.second.parentObjUrn));
    } else if (collection == "hosts") {
        for (const auto& entry : model.hosts)
            objects.push_back(ObjectOf(entry.second, entry.second.clusterUrn));
    } else if (collection == "datastores") {
        for (const auto& entry : model.datastores) objects.push_back(ObjectOf(entry.second, ""));
    } else if (collection == "storageUnits") {
        for (const auto& entry : model.storageUnits) objects.push_back(ObjectOf(entry.second, ""));
    } else if (collection == "folders") {
        for (const auto& entry : model.folders) {
            objects.push_back(ObjectOf(entry.second, entry.second.parentObjUrn, entry.second.type));
        }
    } else if (collection == "dvSwitches") {
        for (const auto& entry : model.dvSwitches) objects.push_back(ObjectOf(entry.second, ""));
    } else if (collection == "portGroups") {
        for (const auto& dvSwitch : model.dvSwitches) {
            for (const auto& entry : dvSwitch.second.portGroups) {
                objects.push_back(ObjectOf(entry.second, dvSwitch.second.urn));
            }
        }
    }
    return objects;
}

StateCounts Simulator::Counts() const {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    const Model& model = impl_->model;
    return StateCounts{model.vms.size(), model.volumes.size(), model.tasks.size(),
                       model.backupResources.size(), model.cbt.size()};
}

bool Simulator::RenameVm(const std::string& urn, const std::string& name) {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    Vm* vm = impl_->model.FindVm(urn);
    if (vm) vm->name = name;
    return vm != nullptr;
}

bool Simulator::ShapeVolume(const std::string& urn, int quantityGB, std::int64_t usedMB) {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    Volume* volume = impl_->model.FindVolume(urn);
    if (volume) {
        volume->quantityGB = quantityGB;
        volume->userUsedSizeMB = usedMB;
    }
    return volume != nullptr;
}

TaskState Simulator::StartTask(const std::string& type, const std::string& entityUrn, int pollsToFinish,
                               bool fail) {
    std::lock_guard<std::mutex> lock(impl_->model.Mutex());
    Task& task = impl_->model.StartTask(type, entityUrn, UrnToUri(entityUrn), impl_->Now(), pollsToFinish);
    task.fail = fail;
    return CopyOf(task);
}

Model& Simulator::model() {
    return impl_->model;
}

}  // namespace vrmsim
