// Fault matrix: every public operation family of the facade against every fault vrmsim can inject.
// Each cell runs one operation on a fresh wrapper against a freshly reset simulator, injects one fault
// into the operation's own request, and checks the outcome: false (or the documented success), a last
// error that says what happened (never empty, never the leftover of an earlier failure), nothing left on
// the simulator that the library is meant to clean up.
// Every pause runs on the fake clock. With FCSDK_FAULT_MATRIX_OUT set, the matrix is written there as
// a Markdown table (docs/RELIABILITY.md shows one).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "FakeClock.h"
#include "FusionComputeWrapper.h"
#include "LogCapture.h"
#include "SimServer.h"
#include "VrmSimulator.h"
#include "WrapperTestPeer.h"

namespace {

namespace fc = FusionComputeSDKWrapper;
using fcsdk_test::UriOf;

// ------------------------------------------------------------------------------------------------------
// Faults (the columns)
// ------------------------------------------------------------------------------------------------------

enum class Column {
    Refused,
    Dropped,
    Stalled,
    Status4xx,
    Status5xx,
    Html5xx,
    TruncatedJson,
    WrongTypes,
    Oversize,
    ExpiryInList,
    ExpiryInTaskWait,
    TaskFails,
    TaskNeverEnds,
    ResourceFails,
    ResourceNeverReady,
    Drip,
    LoginWithoutToken,
    ListChangedBetweenPages,
    RepeatedPageBadTotal,
    ShortBitmap,
    OddCbtPages,
};

const std::vector<std::pair<Column, const char*>>& Columns() {
    static const std::vector<std::pair<Column, const char*>> columns = {
        {Column::Refused, "refused"},
        {Column::Dropped, "dropped mid-answer"},
        {Column::Stalled, "stalled"},
        {Column::Status4xx, "4xx + error body"},
        {Column::Status5xx, "5xx + error body"},
        {Column::Html5xx, "5xx HTML"},
        {Column::TruncatedJson, "truncated JSON"},
        {Column::WrongTypes, "wrong JSON types"},
        {Column::Oversize, "over nMaxResponseMB"},
        {Column::ExpiryInList, "token expiry mid list"},
        {Column::ExpiryInTaskWait, "token expiry mid task wait"},
        {Column::TaskFails, "task fails"},
        {Column::TaskNeverEnds, "task never ends"},
        {Column::ResourceFails, "backup resource fails"},
        {Column::ResourceNeverReady, "backup resource never ready"},
        {Column::Drip, "answer drips past nRequestTimeout"},
        {Column::LoginWithoutToken, "login answer without token"},
        {Column::ListChangedBetweenPages, "list changed between pages"},
        {Column::RepeatedPageBadTotal, "repeated page, bad total"},
        {Column::ShortBitmap, "short changed-block bitmap"},
        {Column::OddCbtPages, "4100-block pages"},
    };
    return columns;
}

constexpr char k4xxDes[] = "Simulated refusal of the request";
constexpr char k5xxDes[] = "Simulated internal failure";
constexpr char kTaskReason[] = "Simulated task failure";
constexpr int kListPageSize = 5;
// Blocks in a changed-block page of a VRM that does not page by whole bytes.
constexpr int kOddBlocksPerPage = 4100;
// Put in place as the last error before the faulted call: a failure must replace it.
constexpr char kEarlierError[] = "an earlier, unrelated failure";

// ------------------------------------------------------------------------------------------------------
// Operations (the rows)
// ------------------------------------------------------------------------------------------------------

// What one cell works with: the server, the wrapper under test and records prepared before the fault.
struct Cell {
    fcsdk_test::SimServer* server = nullptr;
    fc::CFusionComputeWrapper* wrapper = nullptr;
    fc::SVMInfoLib vm;                // vm-0001 with every detail (disks, snapshots, NICs)
    fc::SVMInfoLib stoppedVm;         // vm-0003, stopped
    fc::SSnapshotInfoLib snapshot;    // the first snapshot of vm-0001
    std::string resourceUri;          // a ready backup resource (disk-access rows that need one)
    std::string datastoreUrn;         // datastore01
    std::string vmUrnToDelete;        // a VM created for DeleteVM
    std::string ovf;                  // an OVF descriptor of vm-0001
    std::vector<std::string> listed;  // URNs of the objects a list row read
    std::string bitmap;               // the bitmap a changed-block row read
    std::string volumeUrn() const { return vm.disks.empty() ? std::string() : vm.disks.front().urn; }
};

struct Target {
    std::string method;
    std::string path;  // prefix
};

struct Operation {
    const char* name = "";
    const char* family = "";
    std::function<bool(Cell&)> prepare;  // on the healthy simulator, before the fault; may be empty
    std::function<Target(Cell&)> target;
    std::function<bool(Cell&)> run;
    bool pagedList = false;          // reads a paged list at the target (token expiry mid list applies)
    bool task = false;               // waits for a task started at the target
    bool resource = false;           // waits for a backup resource started at the target
    bool documentedTrue = false;     // documented to succeed although nested reads fail
    bool cleansVolume = false;       // deletes a volume it created when the rest fails
    bool releasesResource = false;   // releases a backup resource that did not become ready
    bool ignoresAnswerBody = false;  // needs only the status of its answer (a broken body is no failure)
    bool fixedMessage = false;       // reports its own fixed message instead of the VRM's
    bool login = false;              // logs in (a login answer can be spoiled)
    bool changedBlocks = false;      // reads changed-block pages at the target
    bool dripRow = false;            // runs the drip column (it costs a real second)
    // A stalled answer costs a real second or two (the low-speed time-out cannot be faked), so that
    // column runs one operation of each family.
    bool stallRow = false;
};

Operation Named(const char* name, const char* family) {
    Operation op;
    op.name = name;
    op.family = family;
    return op;
}

// The URNs of the simulator's VMs and templates, sorted.
std::vector<std::string> HeldVms(fcsdk_test::SimServer& server) {
    std::vector<std::string> urns;
    for (const vrmsim::VmState& vm : server.sim().Vms()) urns.push_back(vm.urn);
    std::sort(urns.begin(), urns.end());
    return urns;
}

bool PrepareVm(Cell& cell) {
    fc::CFusionComputeWrapper& w = *cell.wrapper;
    if (!w.GetVMInfo("vm-0001", "", "", cell.vm, fc::VM_PROP_ALL)) return false;
    if (!w.GetVMInfo("vm-0003", "", "", cell.stoppedVm, fc::MIN_VM_PROPS)) return false;
    if (cell.vm.snapshots.empty() || cell.vm.disks.empty()) return false;
    cell.snapshot = cell.vm.snapshots.front();
    fc::SDataStoreInfoLib ds;
    if (!w.GetDataStoreInfo("datastore01", "", ds, fc::MIN_VM_PROPS)) return false;
    cell.datastoreUrn = ds.urn;
    return true;
}

bool PrepareResource(Cell& cell) {
    if (!PrepareVm(cell)) return false;
    std::string ip, port, token, file;
    return cell.wrapper->PrepareDiskAccess(cell.volumeUrn(), cell.snapshot.urn, "10.0.0.9", false,
                                           cell.resourceUri, ip, port, token, file);
}

fc::SDiskInfoLib NewDisk(const Cell& cell) {
    fc::SDiskInfoLib disk;
    disk.name = "matrix-disk";
    disk.quantityGB = 1;
    disk.datastoreUrn = cell.datastoreUrn;
    disk.pciType = "VIRTIO";
    disk.sequenceNum = 5;
    return disk;
}

const std::vector<Operation>& Operations() {
    using fc::SVMInfoLib;
    static const std::vector<Operation> operations = [] {
        std::vector<Operation> ops;
        auto site = [](Cell& c) { return c.server->siteUri(); };

        Operation connect = Named("Connect", "connect");
        connect.target = [](Cell&) { return Target{"", "/service/"}; };
        connect.run = [](Cell& c) {
            return c.wrapper->Connect(c.server->host(), c.server->user(), c.server->password());
        };
        connect.stallRow = true;
        connect.login = true;
        ops.push_back(connect);

        Operation vmList = Named("GetVMInfoList", "inventory list");
        vmList.target = [site](Cell& c) { return Target{"GET", site(c) + "/vms"}; };
        vmList.run = [](Cell& c) {
            std::vector<SVMInfoLib> vms;
            const bool listed = c.wrapper->GetVMInfoList(vms, fc::MIN_VM_PROPS);
            for (const SVMInfoLib& vm : vms) c.listed.push_back(vm.urn);
            // Exact: every VM and template the simulator holds now, each once.
            const std::vector<std::string> held = HeldVms(*c.server);
            std::vector<std::string> got = c.listed;
            std::sort(got.begin(), got.end());
            if (listed && got != held)
                ADD_FAILURE() << "listed " << got.size() << " VMs, not the " << held.size();
            return listed && got == held;
        };
        vmList.pagedList = true;
        vmList.stallRow = true;
        vmList.dripRow = true;
        ops.push_back(vmList);

        Operation hostList = Named("GetHostInfoList", "inventory list");
        hostList.target = [site](Cell& c) { return Target{"GET", site(c) + "/hosts"}; };
        hostList.run = [](Cell& c) {
            std::vector<fc::SHostInfoLib> hosts;
            return c.wrapper->GetHostInfoList(hosts, fc::MIN_VM_PROPS) && hosts.size() == 4;
        };
        ops.push_back(hostList);

        Operation vmSearch = Named("GetVMInfo (name)", "inventory search");
        vmSearch.target = [site](Cell& c) { return Target{"GET", site(c) + "/vms"}; };
        vmSearch.run = [](Cell& c) {
            SVMInfoLib vm;
            return c.wrapper->GetVMInfo("vm-0002", "", "", vm, fc::MIN_VM_PROPS) && vm.name == "vm-0002";
        };
        ops.push_back(vmSearch);

        Operation dsSearch = Named("GetDataStoreInfo", "inventory search");
        dsSearch.target = [site](Cell& c) { return Target{"GET", site(c) + "/datastores"}; };
        dsSearch.run = [](Cell& c) {
            fc::SDataStoreInfoLib ds;
            return c.wrapper->GetDataStoreInfo("datastore02", "", ds, fc::MIN_VM_PROPS) && !ds.urn.empty();
        };
        ops.push_back(dsSearch);

        Operation fillVm = Named("FillVMInfoDetails (snapshots)", "detail fill");
        fillVm.prepare = PrepareVm;
        fillVm.target = [](Cell& c) { return Target{"GET", c.vm.uri + "/snapshots"}; };
        fillVm.run = [](Cell& c) {
            SVMInfoLib vm = c.vm;
            vm.snapshots.clear();
            return c.wrapper->FillVMInfoDetails(vm, fc::VM_PROP_ALL) && !vm.snapshots.empty();
        };
        fillVm.stallRow = true;
        ops.push_back(fillVm);

        Operation fillHost = Named("FillHostInfoDetails (VMs)", "detail fill");
        fillHost.target = [site](Cell& c) { return Target{"GET", site(c) + "/vms"}; };
        fillHost.run = [](Cell& c) {
            fc::SHostInfoLib host;
            if (!c.wrapper->GetHostInfo("CNA01", "", host, fc::MIN_VM_PROPS)) return false;
            return c.wrapper->FillHostInfoDetails(host, fc::VM_PROP_ALL);
        };
        fillHost.documentedTrue = true;
        ops.push_back(fillHost);

        Operation createSnap = Named("CreateVMSnapshot", "snapshot create/delete");
        createSnap.prepare = PrepareVm;
        createSnap.target = [](Cell& c) { return Target{"POST", c.vm.uri + "/snapshots"}; };
        createSnap.run = [](Cell& c) {
            fc::SSnapshotInfoLib snapshot;
            return c.wrapper->CreateVMSnapshot(c.vm, "matrix", "", false, true, true, true, snapshot) &&
                   !snapshot.urn.empty();
        };
        createSnap.task = true;
        createSnap.stallRow = true;
        ops.push_back(createSnap);

        Operation deleteSnap = Named("DeleteVMSnapshot", "snapshot create/delete");
        deleteSnap.prepare = PrepareVm;
        deleteSnap.target = [](Cell& c) { return Target{"DELETE", c.snapshot.uri}; };
        deleteSnap.run = [](Cell& c) { return c.wrapper->DeleteVMSnapshot(c.vm, c.snapshot); };
        deleteSnap.task = true;
        ops.push_back(deleteSnap);

        Operation token = Named("GetDiskChangeToken", "change tokens and bitmaps");
        token.prepare = PrepareVm;
        token.target = [](Cell& c) { return Target{"GET", c.snapshot.uri}; };
        token.fixedMessage = true;  // "Could not find snapshot"
        token.run = [](Cell& c) {
            std::string text;
            return c.wrapper->GetDiskChangeToken(c.volumeUrn(), c.snapshot.urn, text) && !text.empty();
        };
        token.stallRow = true;
        ops.push_back(token);

        Operation bitmap = Named("QueryDiskAllocatedBlocks", "change tokens and bitmaps");
        bitmap.prepare = PrepareVm;
        bitmap.target = [](Cell& c) { return Target{"POST", UriOf(c.volumeUrn()) + "/getcbt"}; };
        bitmap.run = [](Cell& c) {
            std::string text;
            int sectorOfBlock = 0;
            const bool read =
                c.wrapper->QueryDiskAllocatedBlocks(c.volumeUrn(), c.snapshot.urn, text, sectorOfBlock);
            c.bitmap = text;
            return read && !text.empty();
        };
        bitmap.changedBlocks = true;
        ops.push_back(bitmap);

        Operation prepareAccess = Named("PrepareDiskAccess", "disk access");
        prepareAccess.prepare = PrepareVm;
        prepareAccess.target = [](Cell& c) {
            return Target{"GET", UriOf(c.volumeUrn()) + "/backupresources/"};
        };
        prepareAccess.run = [](Cell& c) {
            std::string uri, ip, port, token, file;
            return c.wrapper->PrepareDiskAccess(c.volumeUrn(), c.snapshot.urn, "10.0.0.9", false, uri, ip,
                                                port, token, file) &&
                   !token.empty();
        };
        prepareAccess.resource = true;
        prepareAccess.releasesResource = true;
        ops.push_back(prepareAccess);

        Operation release = Named("ReleaseDiskAccess", "disk access");
        release.prepare = PrepareResource;
        release.target = [](Cell& c) { return Target{"DELETE", c.resourceUri}; };
        release.run = [](Cell& c) { return c.wrapper->ReleaseDiskAccess(c.resourceUri); };
        release.ignoresAnswerBody = true;
        release.stallRow = true;
        ops.push_back(release);

        Operation extend = Named("ExtendDiskAccess", "disk access");
        extend.prepare = PrepareResource;
        extend.target = [](Cell& c) { return Target{"PUT", c.resourceUri}; };
        extend.run = [](Cell& c) { return c.wrapper->ExtendDiskAccess(c.resourceUri, 600); };
        extend.ignoresAnswerBody = true;
        ops.push_back(extend);

        Operation powerOn = Named("PowerOnVM", "VM power");
        powerOn.prepare = PrepareVm;
        powerOn.target = [](Cell& c) { return Target{"POST", c.stoppedVm.uri + "/action/start"}; };
        powerOn.run = [](Cell& c) { return c.wrapper->PowerOnVM("", c.stoppedVm.urn, ""); };
        powerOn.task = true;
        powerOn.stallRow = true;
        ops.push_back(powerOn);

        Operation createVm = Named("CreateVM", "VM create");
        createVm.target = [site](Cell& c) { return Target{"POST", site(c) + "/vms"}; };
        createVm.run = [](Cell& c) {
            SVMInfoLib vm;
            vm.name = "matrix-vm";
            vm.hostName = "CNA01";
            vm.osType = "Linux";
            vm.osVersion = 1;
            return c.wrapper->CreateVM(vm) && !vm.urn.empty();
        };
        createVm.task = true;
        ops.push_back(createVm);

        Operation modifyVm = Named("ModifyVM", "VM modify");
        modifyVm.prepare = PrepareVm;
        modifyVm.target = [](Cell& c) { return Target{"PUT", c.stoppedVm.uri}; };
        modifyVm.run = [](Cell& c) {
            SVMInfoLib vm("", c.stoppedVm.urn, "");
            vm.cpuQuantity = 4;
            vm.memoryQuantityMB = 4096;
            return c.wrapper->ModifyVM(vm);
        };
        modifyVm.task = true;
        ops.push_back(modifyVm);

        Operation deleteVm = Named("DeleteVM", "VM delete");
        deleteVm.prepare = PrepareVm;
        deleteVm.target = [](Cell& c) { return Target{"DELETE", c.stoppedVm.uri}; };
        deleteVm.run = [](Cell& c) { return c.wrapper->DeleteVM(c.stoppedVm, false); };
        deleteVm.task = true;
        deleteVm.stallRow = true;
        ops.push_back(deleteVm);

        Operation createDisk = Named("CreateDisk", "disks");
        createDisk.prepare = PrepareVm;
        createDisk.target = [site](Cell& c) { return Target{"POST", site(c) + "/volumes"}; };
        createDisk.run = [](Cell& c) {
            fc::SDiskInfoLib disk = NewDisk(c);
            return c.wrapper->CreateDisk(disk, false) && !disk.urn.empty();
        };
        createDisk.task = true;
        createDisk.stallRow = true;
        ops.push_back(createDisk);

        Operation addDisk = Named("AddDiskToVM (new volume)", "disks");
        addDisk.prepare = PrepareVm;
        addDisk.target = [](Cell& c) { return Target{"POST", c.stoppedVm.uri + "/action/attachvol"}; };
        addDisk.run = [](Cell& c) {
            fc::SDiskInfoLib disk = NewDisk(c);
            return c.wrapper->AddDiskToVM(c.stoppedVm, disk, false);
        };
        addDisk.task = true;
        addDisk.cleansVolume = true;
        ops.push_back(addDisk);

        Operation addNic = Named("AddNicToVM", "NICs");
        addNic.prepare = PrepareVm;
        addNic.target = [](Cell& c) { return Target{"POST", c.stoppedVm.uri + "/virtualNics"}; };
        addNic.run = [](Cell& c) {
            fc::SVMNetworkCardInfoLib nic;
            nic.name = "matrix-nic";
            nic.portGroupUrn = c.vm.nics.empty() ? std::string() : c.vm.nics.front().portGroupUrn;
            return c.wrapper->AddNicToVM(c.stoppedVm, nic);
        };
        addNic.task = true;
        addNic.stallRow = true;
        ops.push_back(addNic);

        Operation ovf = Named("GetOVFDescriptorForVM", "descriptors");
        ovf.prepare = PrepareVm;
        ovf.target = [](Cell& c) { return Target{"POST", c.vm.uri + "/action/createdescriptor"}; };
        ovf.run = [](Cell& c) {
            std::string descriptor;
            if (!c.wrapper->GetOVFDescriptorForVM(c.vm, descriptor)) return false;
            return !descriptor.empty();
        };
        ops.push_back(ovf);

        Operation json = Named("GetJSONDescriptorForVM", "descriptors");
        json.prepare = PrepareVm;
        json.target = [](Cell& c) { return Target{"GET", c.vm.uri}; };
        json.run = [](Cell& c) {
            std::string descriptor;
            if (!c.wrapper->GetJSONDescriptorForVM(c.vm, descriptor)) return false;
            // The caller reads the descriptor back; a broken one must be refused there.
            SVMInfoLib back;
            return c.wrapper->GetVMInfoFromJSONDescriptor(descriptor, back) && back.urn == c.vm.urn;
        };
        json.stallRow = true;
        ops.push_back(json);

        Operation fromOvf = Named("CreateVMFromOVFDescriptor", "descriptors");
        fromOvf.prepare = [](Cell& c) {
            return PrepareVm(c) && c.wrapper->GetOVFDescriptorForVM(c.vm, c.ovf);
        };
        fromOvf.target = [site](Cell& c) { return Target{"POST", site(c) + "/vms/action/parsedescriptor"}; };
        fromOvf.run = [](Cell& c) {
            SVMInfoLib vm;
            vm.name = "matrix-ovf";
            vm.hostName = "CNA01";
            std::map<std::string, std::string> paths;
            return c.wrapper->CreateVMFromOVFDescriptor(c.ovf, vm, paths) && !vm.urn.empty();
        };
        ops.push_back(fromOvf);
        return ops;
    }();
    return operations;
}

bool Applies(const Operation& op, Column column) {
    switch (column) {
        case Column::Stalled:
            return op.stallRow;
        case Column::ExpiryInList:
            return op.pagedList;
        case Column::ExpiryInTaskWait:
        case Column::TaskFails:
        case Column::TaskNeverEnds:
            return op.task;
        case Column::ResourceFails:
        case Column::ResourceNeverReady:
            return op.resource;
        case Column::Drip:
            return op.dripRow;
        case Column::LoginWithoutToken:
            return op.login;
        case Column::ListChangedBetweenPages:
        case Column::RepeatedPageBadTotal:
            return op.pagedList;
        case Column::ShortBitmap:
        case Column::OddCbtPages:
            return op.changedBlocks;
        default:
            return true;
    }
}

bool ExpectsSuccess(const Operation& op, Column column) {
    return column == Column::ExpiryInList || column == Column::ExpiryInTaskWait ||
           column == Column::ListChangedBetweenPages || column == Column::OddCbtPages ||
           (op.documentedTrue && column != Column::Refused);
}

// ------------------------------------------------------------------------------------------------------
// The suite
// ------------------------------------------------------------------------------------------------------

struct Outcome {
    std::string text;  // what the matrix shows
};

class FaultMatrix : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        vrmsim::Options options;
        options.workerThreads = 8;
        server_ = new fcsdk_test::SimServer(options, {{"VirtualServer/nOperationTimeout", "1"}});
    }
    static void TearDownTestSuite() {
        WriteMatrix();
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override { ASSERT_TRUE(server_->ok()) << server_->error(); }

    static void WriteMatrix();
    void RunColumn(Column column);
    void RunCell(const Operation& op, Column column, fcsdk_test::SimServer& server);

    static fcsdk_test::SimServer* server_;
    static std::map<std::string, std::map<std::string, std::string>> matrix_;
};

fcsdk_test::SimServer* FaultMatrix::server_ = nullptr;
std::map<std::string, std::map<std::string, std::string>> FaultMatrix::matrix_;

const char* ColumnName(Column column) {
    for (const auto& entry : Columns()) {
        if (entry.first == column) return entry.second;
    }
    return "?";
}

void AddOutcomeRule(fcsdk_test::SimServer& server, const std::string& target, const Target& where, bool fail,
                    bool never) {
    server.Control("POST", "/_sim/outcomes",
                   boost::json::serialize(boost::json::object{{"target", target},
                                                              {"method", where.method},
                                                              {"path", where.path},
                                                              {"count", -1},
                                                              {"fail", fail},
                                                              {"never", never},
                                                              {"reason", "10300999"},
                                                              {"reasonDes", kTaskReason}}));
}

vrmsim::Fault FaultAt(vrmsim::FaultKind kind, const Target& where) {
    vrmsim::Fault fault;
    fault.kind = kind;
    fault.method = where.method;
    fault.path = where.path;
    fault.count = -1;
    return fault;
}

// The backup resources that exist on the simulator and were never given back.
std::vector<std::string> HeldResources(fcsdk_test::SimServer& server) {
    std::vector<std::string> held;
    for (const vrmsim::DiskAccessState& access : server.sim().DiskAccesses()) {
        if (!access.released) held.push_back(access.uri);
    }
    return held;
}

// Volumes that are attached to no VM (the seeded inventory has none).
std::vector<std::string> LooseVolumes(fcsdk_test::SimServer& server) {
    std::vector<std::string> loose;
    for (const vrmsim::VolumeState& volume : server.sim().Volumes()) {
        if (volume.vmUrn.empty()) loose.push_back(volume.name + " " + volume.urn);
    }
    return loose;
}

std::string FirstErrorLine(const fcsdk_test::LogCapture& log) {
    std::vector<std::string> lines = log.Lines(EvDebugLevel::Error);
    if (lines.empty()) return std::string();
    std::string line = lines.front();
    // "<time> [pid:tid] ERROR <function> - <message>": keep the message.
    const std::string::size_type dash = line.find(" - ");
    return dash == std::string::npos ? line : line.substr(dash + 3);
}

// The first error line, else the transport's note of an HTTP error status (a debug line).
std::string FailureInLog(const fcsdk_test::LogCapture& log) {
    const std::string error = FirstErrorLine(log);
    if (!error.empty()) return error;
    for (const std::string& line : log.Lines(EvDebugLevel::Debug)) {
        const std::string::size_type at = line.find("HTTP status ");
        if (at != std::string::npos) return line.substr(at);
    }
    return std::string();
}

std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '|') c = ' ';
    }
    if (text.size() > 110) text = text.substr(0, 107) + "...";
    return text;
}

void FaultMatrix::RunCell(const Operation& op, Column column, fcsdk_test::SimServer& server) {
    SCOPED_TRACE(std::string(op.name) + " x " + ColumnName(column));
    std::string& shown = matrix_[op.name][ColumnName(column)];
    if (!Applies(op, column)) {
        shown = column == Column::Stalled ? "(one per family)" : "n/a";
        return;
    }
    server.Reset();
    server.SetConfigValue("Transport/nLowSpeedTime", column == Column::Stalled ? "1" : "");
    server.SetConfigValue("Transport/nMaxResponseMB", column == Column::Oversize ? "1" : "");
    server.SetConfigValue("Transport/nRequestTimeout", column == Column::Drip ? "1" : "");

    fcsdk_test::FakeClock clock;
    fcsdk_test::LogCapture log(1);
    fc::CFusionComputeWrapper wrapper;
    Cell cell;
    cell.server = &server;
    cell.wrapper = &wrapper;
    if (op.name != std::string("Connect")) {
        ASSERT_TRUE(wrapper.Connect(server.host(), server.user(), server.password()));
        if (op.prepare) {
            ASSERT_TRUE(op.prepare(cell)) << wrapper.GetLastError();
        }
    }
    const Target target = op.target(cell);
    const std::vector<std::string> heldBefore = HeldResources(server);
    const std::vector<std::string> looseBefore = LooseVolumes(server);
    const std::uint64_t loginsBefore = server.Stats().logins;
    log.Clear();
    clock.ClearPauses();
    fc::CFusionComputeWrapperTestPeer::SetLastError(wrapper, kEarlierError);
    // What the same read gives on pages of whole bytes: the odd pages must join into exactly this.
    std::string wholeBytePagesBitmap;
    if (column == Column::OddCbtPages) {
        ASSERT_TRUE(op.run(cell)) << wrapper.GetLastError();
        wholeBytePagesBitmap = cell.bitmap;
        server.Control("PUT", "/_sim/backup",
                       boost::json::serialize(boost::json::object{{"maxBlocksPerPage", kOddBlocksPerPage}}));
    }
    server.ClearRequests();

    switch (column) {
        case Column::Refused:
            server.sim().Stop();
            break;
        case Column::Dropped:
            server.AddFault(FaultAt(vrmsim::FaultKind::Drop, target));
            break;
        case Column::Stalled: {
            vrmsim::Fault fault = FaultAt(vrmsim::FaultKind::Stall, target);
            fault.ms = 20000;
            server.AddFault(fault);
            break;
        }
        case Column::Status4xx: {
            vrmsim::Fault fault = FaultAt(vrmsim::FaultKind::Status, target);
            fault.status = 403;
            fault.errorCode = "10000002";
            fault.errorDes = k4xxDes;
            server.AddFault(fault);
            break;
        }
        case Column::Status5xx: {
            vrmsim::Fault fault = FaultAt(vrmsim::FaultKind::Status, target);
            fault.status = 500;
            fault.errorCode = "10000003";
            fault.errorDes = k5xxDes;
            server.AddFault(fault);
            break;
        }
        case Column::Html5xx:
            server.AddFault(FaultAt(vrmsim::FaultKind::Html, target));
            break;
        case Column::TruncatedJson:
            server.AddFault(FaultAt(vrmsim::FaultKind::Truncate, target));
            break;
        case Column::WrongTypes:
            server.AddFault(FaultAt(vrmsim::FaultKind::WrongTypes, target));
            break;
        case Column::Oversize: {
            vrmsim::Fault fault = FaultAt(vrmsim::FaultKind::Oversize, target);
            fault.megabytes = 2;
            server.AddFault(fault);
            break;
        }
        case Column::ExpiryInList: {
            vrmsim::RuntimeConfig config = server.sim().Config();
            config.pageSize = kListPageSize;
            server.sim().SetConfig(config);
            vrmsim::Fault fault = FaultAt(vrmsim::FaultKind::ExpireToken, target);
            fault.count = 1;
            fault.skip = 1;  // the second page
            server.AddFault(fault);
            break;
        }
        case Column::ExpiryInTaskWait: {
            vrmsim::Fault fault =
                FaultAt(vrmsim::FaultKind::ExpireToken, {"GET", server.siteUri() + "/tasks/"});
            fault.count = 1;
            fault.skip = 1;  // the second poll
            server.AddFault(fault);
            break;
        }
        case Column::TaskFails:
            AddOutcomeRule(server, "task", target, true, false);
            break;
        case Column::TaskNeverEnds:
            AddOutcomeRule(server, "task", target, false, true);
            break;
        case Column::ResourceFails:
            AddOutcomeRule(server, "backupresource", {"", ""}, true, false);
            break;
        case Column::ResourceNeverReady:
            AddOutcomeRule(server, "backupresource", {"", ""}, false, true);
            break;
        case Column::Drip: {
            // 10 bytes a second passes the low-speed check; only the request time-out ends it.
            vrmsim::Fault fault = FaultAt(vrmsim::FaultKind::Drip, target);
            fault.ms = 100;
            server.AddFault(fault);
            break;
        }
        case Column::LoginWithoutToken:
            server.AddFault(FaultAt(vrmsim::FaultKind::NoToken, {"POST", "/service/session"}));
            break;
        case Column::ListChangedBetweenPages: {
            vrmsim::RuntimeConfig config = server.sim().Config();
            config.pageSize = kListPageSize;
            server.sim().SetConfig(config);
            // Before the second page the first VM is deleted: every later page shifts by one.
            vrmsim::Fault fault = FaultAt(vrmsim::FaultKind::ListChange, target);
            fault.count = 1;
            fault.skip = 1;
            fault.objects = -1;
            server.AddFault(fault);
            break;
        }
        case Column::RepeatedPageBadTotal: {
            // A VRM that ignores "offset" and promises far more objects than it has.
            vrmsim::Fault fault = FaultAt(vrmsim::FaultKind::Body, target);
            fault.body = R"({"total": 1000, "vms": [{"name": "a", "urn": "urn:sites:1:vms:i-1"},)"
                         R"({"name": "b", "urn": "urn:sites:1:vms:i-2"}]})";
            server.AddFault(fault);
            break;
        }
        case Column::ShortBitmap: {
            vrmsim::Fault fault = FaultAt(vrmsim::FaultKind::WrongTypes, target);
            fault.skip = 1;  // the second page
            fault.patchJson = R"({"bitMap": "01"})";
            server.AddFault(fault);
            break;
        }
        case Column::OddCbtPages:
            break;
    }

    const auto started = std::chrono::steady_clock::now();
    const bool result = op.run(cell);
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count();
    if (tookMs > 2000)
        std::cerr << "slow cell " << op.name << " x " << ColumnName(column) << ": " << tookMs << " ms\n";
    const std::string lastError = wrapper.GetLastError();
    const bool expectSuccess = ExpectsSuccess(op, column);

    if (expectSuccess) {
        EXPECT_TRUE(result) << lastError;
        if (column == Column::OddCbtPages) {
            EXPECT_EQ(cell.bitmap, wholeBytePagesBitmap) << "the pages were not joined bit by bit";
            shown = result && cell.bitmap == wholeBytePagesBitmap ? "ok (joined bit by bit)"
                                                                  : "FAILED: " + lastError;
        } else if (column == Column::ListChangedBetweenPages) {
            EXPECT_EQ(server.sim().PendingFaults(), 0u) << "the list never changed";
            shown = result ? "ok (read again, exact)" : "FAILED: " + lastError;
        } else if (column == Column::ExpiryInList || column == Column::ExpiryInTaskWait) {
            EXPECT_EQ(server.sim().PendingFaults(), 0u) << "the token was never expired";
            EXPECT_GT(server.Stats().logins, loginsBefore) << "no re-login";
            shown = result ? "ok (re-login)" : "FAILED: " + lastError;
        } else {
            shown = result ? "ok (documented: nested failures not reported)" : "FAILED: " + lastError;
        }
    } else if (op.ignoresAnswerBody && result &&
               (column == Column::TruncatedJson || column == Column::WrongTypes)) {
        shown = "ok (only the status of the answer counts)";
    } else if (column == Column::WrongTypes && result) {
        // The scalar readers take numbers as text and decimal text as numbers, as real VRMs mix them.
        shown = "ok (lenient scalar types)";
    } else {
        EXPECT_FALSE(result) << "reported success";
        // Every failure says what happened, in its own words: neither an empty text nor what an
        // earlier failure left behind.
        EXPECT_FALSE(lastError.empty()) << "no last error; log: " << FailureInLog(log);
        EXPECT_NE(lastError, kEarlierError) << "the last error is a leftover; log: " << FailureInLog(log);
        EXPECT_EQ(lastError.find(server.password()), std::string::npos)
            << "the password is in the last error";
        if (lastError.empty()) {
            shown = "FAILED: EMPTY last error";
        } else if (lastError == kEarlierError) {
            shown = "FAILED: last error left over from earlier";
        } else {
            shown = "false: " + OneLine(lastError);
        }
        // The hostile answers are named for what they are.
        const std::map<Column, const char*> named = {
            {Column::Drip, "Transport/nRequestTimeout"},
            {Column::LoginWithoutToken, "X-Auth-Token"},
            {Column::RepeatedPageBadTotal, "ended after 2 of 1000 objects"},
            {Column::ShortBitmap, "Invalid changed-block page at block 10000"},
        };
        if (named.count(column) != 0) {
            EXPECT_THAT(lastError, ::testing::HasSubstr(named.at(column)));
        }
        if (column == Column::RepeatedPageBadTotal) {
            // Read again from the start at most three times, then given up: never an endless loop.
            EXPECT_LE(server.Requests(target.path).size(), 8u);
        }
        // A message given for a VRM error body must be the VRM's (an empty one is a gap shown above).
        if (!op.fixedMessage && !lastError.empty() &&
            (column == Column::Status4xx || column == Column::Status5xx)) {
            EXPECT_THAT(lastError, ::testing::HasSubstr(column == Column::Status4xx ? k4xxDes : k5xxDes));
        }
    }

    // Clean-up is owed after a failure only (a success legitimately leaves the resource or volume).
    if (column != Column::Refused && !result) {
        if (op.releasesResource) {
            EXPECT_EQ(HeldResources(server), heldBefore) << "a backup resource was left open";
        }
        if (op.cleansVolume) {
            EXPECT_EQ(LooseVolumes(server), looseBefore) << "a volume created for the attach was left behind";
        }
    }
}

void FaultMatrix::RunColumn(Column column) {
    for (const Operation& op : Operations()) {
        if (column == Column::Refused) {
            // Nothing listens once this cell's own simulator is stopped after the preparation.
            vrmsim::Options options;
            options.workerThreads = 4;
            fcsdk_test::SimServer refusing(options, {{"VirtualServer/nOperationTimeout", "1"}});
            ASSERT_TRUE(refusing.ok()) << refusing.error();
            RunCell(op, column, refusing);
        } else {
            RunCell(op, column, *server_);
        }
    }
}

void FaultMatrix::WriteMatrix() {
    const char* path = std::getenv("FCSDK_FAULT_MATRIX_OUT");
    if (path == nullptr || *path == '\0') return;
    std::ofstream out(path, std::ios::trunc);
    for (const auto& entry : Columns()) {
        out << "### " << entry.second << "\n\n| operation | family | outcome |\n|---|---|---|\n";
        for (const Operation& op : Operations()) {
            auto row = matrix_.find(op.name);
            std::string cell = "(not run)";
            if (row != matrix_.end()) {
                auto found = row->second.find(entry.second);
                if (found != row->second.end()) cell = found->second;
            }
            out << "| " << op.name << " | " << op.family << " | " << cell << " |\n";
        }
        out << "\n";
    }
}

TEST_F(FaultMatrix, RefusedConnection) {
    RunColumn(Column::Refused);
}
TEST_F(FaultMatrix, ConnectionDroppedMidAnswer) {
    RunColumn(Column::Dropped);
}
TEST_F(FaultMatrix, StalledAnswerHitsLowSpeedTimeout) {
    RunColumn(Column::Stalled);
}
TEST_F(FaultMatrix, ClientErrorWithErrorBody) {
    RunColumn(Column::Status4xx);
}
TEST_F(FaultMatrix, ServerErrorWithErrorBody) {
    RunColumn(Column::Status5xx);
}
TEST_F(FaultMatrix, ServerErrorWithHtmlPage) {
    RunColumn(Column::Html5xx);
}
TEST_F(FaultMatrix, TruncatedJson) {
    RunColumn(Column::TruncatedJson);
}
TEST_F(FaultMatrix, WrongJsonTypes) {
    RunColumn(Column::WrongTypes);
}
TEST_F(FaultMatrix, AnswerOverMaxResponseSize) {
    RunColumn(Column::Oversize);
}
TEST_F(FaultMatrix, TokenExpiryInPagedListReLogsIn) {
    RunColumn(Column::ExpiryInList);
}
TEST_F(FaultMatrix, TokenExpiryInTaskWaitReLogsIn) {
    RunColumn(Column::ExpiryInTaskWait);
}
TEST_F(FaultMatrix, TaskFails) {
    RunColumn(Column::TaskFails);
}
TEST_F(FaultMatrix, TaskNeverEnds) {
    RunColumn(Column::TaskNeverEnds);
}
TEST_F(FaultMatrix, BackupResourceFails) {
    RunColumn(Column::ResourceFails);
}
TEST_F(FaultMatrix, BackupResourceNeverReady) {
    RunColumn(Column::ResourceNeverReady);
}
TEST_F(FaultMatrix, DrippingAnswerHitsRequestTimeout) {
    RunColumn(Column::Drip);
}
TEST_F(FaultMatrix, LoginAnswerWithoutToken) {
    RunColumn(Column::LoginWithoutToken);
}
TEST_F(FaultMatrix, ListChangedBetweenPagesIsReadAgain) {
    RunColumn(Column::ListChangedBetweenPages);
}
TEST_F(FaultMatrix, RepeatedPageWithBadTotalEnds) {
    RunColumn(Column::RepeatedPageBadTotal);
}
TEST_F(FaultMatrix, ShortChangedBlockBitmap) {
    RunColumn(Column::ShortBitmap);
}
TEST_F(FaultMatrix, ChangedBlockPagesEndingInsideAByte) {
    RunColumn(Column::OddCbtPages);
}

}  // namespace
