// What the facade does so that nothing is left behind on the VRM: cancelling the call in progress, ending
// the session, and undoing a creation that the VRM accepted when a later step of the same call failed.

#include <string>

#include "FusionComputeWrapper.h"
#include "connection/FusionComputeConnection.h"
#include "operations/FusionComputeOperations.h"
#include "platform/MLSRestApiConnection.h"
#include "platform/ObSleep.h"
#include "queries/FusionComputeQueries.h"

namespace FusionComputeSDKWrapper {

namespace {

constexpr int kSnapshotDeleteAttempts = 4;
constexpr unsigned int kSnapshotDeletePauseMs = 10000;
// How long an undo waits for the creation task to end: the VRM refuses to delete an object that is
// still being created.
constexpr int kUndoTaskWaitMinutes = 5;

}  // namespace

void CFusionComputeWrapper::Cancel() {
    // Only an atomic store: callable from a signal handler and from any thread.
    if (connection != nullptr) connection->RequestCancel();
}

bool CFusionComputeWrapper::Logout() {
    const ConnectionCall call(connection);
    // Operations need a new Connect from now on, whatever the VRM answers.
    sites.clear();
    if (!connection->hasSession()) return true;
    if (connection->logout(compatibleVersion.loginUri)) return true;
    return _FailRequest(std::string());
}

bool CFusionComputeWrapper::_DeleteSnapshotWithRetries(const SSnapshotInfoLib& snapshot) {
    // A snapshot stays busy for a while after the backup that used it; give the VRM time between tries.
    for (int attempt = 1; attempt <= kSnapshotDeleteAttempts; ++attempt) {
        if (operations->DeleteVMSnapshot(snapshot)) return true;
        if (attempt == kSnapshotDeleteAttempts) break;
        if (!fcsdk_platform::SleepUnlessCancelled(kSnapshotDeletePauseMs, connection->CancelFlag())) {
            operations->SetLastError(kCancelledMessage);
            break;
        }
    }
    return false;
}

bool CFusionComputeWrapper::_UndoCreation(CreatedKind kind) {
    STaskInfoLib created;
    if (!operations->GetLastCreation(created)) return false;
    operations->ForgetCreation();
    const std::string failure = lastError;
    const long failureCode = errorState.code;
    const char* kindName = kind == CreatedKind::Snapshot ? "snapshot"
                           : kind == CreatedKind::Volume ? "volume"
                                                         : "VM";
    const std::string what =
        std::string("the new ") + kindName + " " + (created.urn.empty() ? created.uri : created.urn);

    std::string outcome;
    {
        // The clean-up runs also when the failure was a cancel; a cancel during the clean-up ends it.
        const CancelShield shield(connection);
        bool gone = created.status == "failed";  // the VRM discards what a failed task made
        bool deleted = false;
        if (!gone && created.status != "success" && !created.taskUri.empty()) {
            operations->WaitForTask(created, kUndoTaskWaitMinutes);
            gone = created.status == "failed";
        }
        if (!gone && !created.uri.empty()) {
            switch (kind) {
                case CreatedKind::Snapshot: {
                    SSnapshotInfoLib snapshot;
                    snapshot.urn = created.urn;
                    snapshot.uri = created.uri;
                    deleted = _DeleteSnapshotWithRetries(snapshot);
                    break;
                }
                case CreatedKind::Volume: {
                    SDiskInfoLib disk;
                    disk.urn = created.urn;
                    disk.uri = created.uri;
                    deleted = operations->DeleteDisk(disk);
                    break;
                }
                case CreatedKind::VM: {
                    SVMInfoLib vm;
                    vm.urn = created.urn;
                    vm.uri = created.uri;
                    // Volumes that the VM was created on belong to the caller: they stay.
                    deleted = operations->DeleteVM(vm, false);
                    break;
                }
            }
        }
        if (gone) {
            outcome = what + " was discarded by the VRM";
        } else if (deleted) {
            outcome = what + " was deleted again";
        } else {
            const std::string why = created.uri.empty() ? std::string("the VRM's answer named no link")
                                                        : operations->GetLastError();
            outcome = what + " may remain on the VRM (deleting it failed: " + why + ")";
            Error(__PRETTY_FUNCTION__, "%s", outcome.c_str());
        }
    }
    Debug(__PRETTY_FUNCTION__, "%s", outcome.c_str());
    operations->SetLastError(failure);
    operations->SetErrorCode(failureCode);
    return _Fail(failure + "; " + outcome);
}

}  // namespace FusionComputeSDKWrapper
