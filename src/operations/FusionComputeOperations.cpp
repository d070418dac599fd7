// The task engine of CFusionComputeOperations: construction, the request helpers and the one polling
// loop behind the task wait and the status wait. The operations themselves live in
// FusionComputeOperationsVM.cpp, ...Ovf.cpp and ...Storage.cpp.

#include "operations/FusionComputeOperations.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <exception>
#include <utility>

#include "connection/FusionComputeConnection.h"
#include "parser/FusionComputeParser.h"
#include "platform/MLPlatformInfo.h"
#include "platform/MLSRestApiConnection.h"
#include "platform/ObSleep.h"

namespace FusionComputeSDKWrapper {

namespace {

constexpr uint32_t kDefaultOperationTimeoutMinutes = 120;
constexpr unsigned int kPollPauseMilliseconds = 5000;
constexpr time_t kProgressReportSeconds = 60;

// The time-out in seconds, formed in 32-bit signed arithmetic: a huge minute count wraps around as it
// always has, and the wrap is done on unsigned values so that it is well defined.
int32_t TimeoutSeconds(int timeoutMinutes) {
    return static_cast<int32_t>(static_cast<uint32_t>(timeoutMinutes) * 60u);
}

bool TimedOut(time_t start, time_t now, int timeoutMinutes) {
    return now - start > static_cast<time_t>(TimeoutSeconds(timeoutMinutes));
}

// What a wait says of the record it polls, in its log lines and last errors; the one wait loop
// (PollUntilDone) is the same for both kinds. An object that reports its own status (uri, urn, status,
// reasonDes: the backup resource) speaks of an "Operation"...
template <typename T>
struct WaitWords {
    static const std::string& Urn(const T& object) { return object.urn; }
    static void LogFailure(const EvDebug& debug, const char* function, const T& object) {
        debug.Error(function, "Operation [%s] failed [%s]", object.urn.c_str(), object.reasonDes.c_str());
    }
    static std::string FailureWithoutReason(const T& /*object*/, const std::string& link) {
        return "Operation [" + link + "] failed without a reason";
    }
    static void LogProgress(const EvDebug& debug, const char* function, const T& object) {
        debug.Debug(function, "Operation [%s] Status [%s]", object.urn.c_str(), object.status.c_str());
    }
    // Such an object reports no percentage; it is named by the task that prepares it.
    static SWaitProgressLib Progress(const T& object) {
        SWaitProgressLib progress;
        progress.urn = !object.taskUrn.empty() ? object.taskUrn : object.urn;
        progress.status = object.status;
        return progress;
    }
};

// ... and a task of its URN, type and progress.
template <>
struct WaitWords<STaskInfoLib> {
    static const std::string& Urn(const STaskInfoLib& task) { return task.taskUrn; }
    static void LogFailure(const EvDebug& debug, const char* function, const STaskInfoLib& task) {
        debug.Error(function, "Task [%s] Type [%s] has failed [%s]", task.taskUrn.c_str(), task.type.c_str(),
                    task.reasonDes.c_str());
    }
    static std::string FailureWithoutReason(const STaskInfoLib& task, const std::string& /*link*/) {
        return "Task [" + task.taskUrn + "] of type [" + task.type + "] failed without a reason";
    }
    static void LogProgress(const EvDebug& debug, const char* function, const STaskInfoLib& task) {
        debug.Debug(function, "Task [%s] Type [%s] Status [%s] Progress [%d%%]", task.taskUrn.c_str(),
                    task.type.c_str(), task.status.c_str(), task.progress);
    }
    static SWaitProgressLib Progress(const STaskInfoLib& task) {
        SWaitProgressLib progress;
        progress.urn = task.taskUrn;
        progress.type = task.type;
        // A VRM may report any number; the caller is promised a percentage.
        progress.progress = std::clamp(task.progress, 0, 100);
        progress.status = task.status;
        return progress;
    }
};

}  // namespace

CFusionComputeOperations::CFusionComputeOperations(CFusionComputeConnection* connection,
                                                   CFusionComputeParser* parser,
                                                   CFusionComputeQueries* queries,
                                                   CFusionComputeErrorState* state)
    : CFusionComputeRequestCore(connection, parser, state),
      debug(nullptr),
      queries(queries),
      operationTimeout(kDefaultOperationTimeoutMinutes) {
    uint64_t configured = 0;
    if (MLPlatformInfo::getNumber("VirtualServer", "nOperationTimeout", configured)) {
        operationTimeout = static_cast<uint32_t>(configured);
    }
}

CFusionComputeOperations::~CFusionComputeOperations() {
    queries = nullptr;
}

bool CFusionComputeOperations::SendWithoutTask(Verb verb, const std::string& link, const std::string& body,
                                               std::string& response) {
    bool sent = false;
    switch (verb) {
        case Verb::Post:
            sent = connection->post(link, body, response, nullptr);
            break;
        case Verb::Put:
            sent = connection->put(link, body, response, nullptr);
            break;
        case Verb::Delete:
            sent = connection->del(link, body, response, nullptr);
            break;
    }
    if (!sent) {
        RecordFailedRequest(response);
    }
    return sent;
}

bool CFusionComputeOperations::SendAndGetTask(Verb verb, const std::string& link, const std::string& body,
                                              STaskInfoLib& task) {
    if (connection->CancelRequested()) return FailCancelled();
    std::string response;
    bool sent = false;
    {
        // A request that starts work on the VRM is not aborted half way: with its answer lost, work would
        // run on the VRM that no caller knows of (and so cannot undo).
        const CancelShield shield(connection);
        sent = SendWithoutTask(verb, link, body, response);
    }
    if (!sent) {
        return false;
    }
    // The parser has logged what it could not read; the caller learns which answer it was.
    if (!parser->ParseObject(response, task)) {
        SetLastError(UnreadableAnswerMessage(link));
        return false;
    }
    return true;
}

bool CFusionComputeOperations::PostObjectToLinkAndGetTask(const std::string& link, const std::string& body,
                                                          STaskInfoLib& task) {
    return SendAndGetTask(Verb::Post, link, body, task);
}

bool CFusionComputeOperations::PostObjectToLinkAndWaitForTask(const std::string& link,
                                                              const std::string& body, STaskInfoLib& task) {
    return PostObjectToLinkAndGetTask(link, body, task) && WaitForTask(task);
}

bool CFusionComputeOperations::PostObjectToLinkAndWaitForTask(const std::string& link,
                                                              const std::string& body) {
    STaskInfoLib task;
    return PostObjectToLinkAndWaitForTask(link, body, task);
}

bool CFusionComputeOperations::PostObjectToLinkAndGetResult(const std::string& link, const std::string& body,
                                                            std::string& urn, std::string& uri) {
    STaskInfoLib& task = lastCreation;
    task = STaskInfoLib();
    lastCreationAccepted = false;
    if (!PostObjectToLinkAndGetTask(link, body, task)) {
        return false;
    }
    // From here on the VRM may have made the object: the caller learns its identity even when the wait
    // fails, so that it can undo the creation. The polls rewrite only the task's own fields; urn and uri
    // still name what the POST created.
    lastCreationAccepted = true;
    urn = task.urn;
    uri = task.uri;
    return WaitForTask(task);
}

void CFusionComputeOperations::ForgetCreation() {
    lastCreation = STaskInfoLib();
    lastCreationAccepted = false;
}

bool CFusionComputeOperations::GetLastCreation(STaskInfoLib& task) const {
    task = lastCreation;
    return lastCreationAccepted;
}

bool CFusionComputeOperations::FailCancelled() {
    debug.Debug(__PRETTY_FUNCTION__, "%s", kCancelledMessage);
    SetLastError(kCancelledMessage);
    return false;
}

bool CFusionComputeOperations::PutObjectToLinkAndWaitForTask(const std::string& link, const std::string& body,
                                                             STaskInfoLib& task) {
    return SendAndGetTask(Verb::Put, link, body, task) && WaitForTask(task);
}

bool CFusionComputeOperations::PutObjectToLinkAndWaitForTask(const std::string& link,
                                                             const std::string& body) {
    STaskInfoLib task;
    return PutObjectToLinkAndWaitForTask(link, body, task);
}

bool CFusionComputeOperations::DeleteObjectFromLinkAndWaitForTask(const std::string& link,
                                                                  const std::string& body,
                                                                  STaskInfoLib& task) {
    return SendAndGetTask(Verb::Delete, link, body, task) && WaitForTask(task);
}

bool CFusionComputeOperations::DeleteObjectFromLinkAndWaitForTask(const std::string& link,
                                                                  const std::string& body) {
    STaskInfoLib task;
    return DeleteObjectFromLinkAndWaitForTask(link, body, task);
}

bool CFusionComputeOperations::WaitForTask(STaskInfoLib& task) {
    return WaitForTask(task, static_cast<int>(operationTimeout));
}

bool CFusionComputeOperations::CheckTarget(const std::string& link, LinkKind kind) {
    if (IsLinkOfKind(link, kind, siteUri)) return true;
    const std::string message = LinkRefusal(link, kind);
    debug.Error(__PRETTY_FUNCTION__, "%s", message.c_str());
    SetLastError(message);
    return false;
}

bool CFusionComputeOperations::CheckTarget(const std::string& link, LinkKind kind,
                                           const char* missingMessage) {
    if (link.empty()) {
        SetLastError(missingMessage);
        return false;
    }
    return CheckTarget(link, kind);
}

template <typename T>
bool CFusionComputeOperations::Poll(const std::string& link, T& record) {
    if (!IsWellFormedLink(link)) {
        SetLastError("Refused to poll the malformed link [" + PrintableText(link) + "]");
        return false;
    }
    return GetObjectFromLink(link, record);
}

bool CFusionComputeOperations::WaitForTask(STaskInfoLib& task, int timeoutMinutes) {
    // The answers may rewrite taskUri; every poll goes to the link the task was started with.
    return PollUntilDone(__PRETTY_FUNCTION__, task.taskUri, task, timeoutMinutes);
}

void CFusionComputeOperations::SetProgressCallback(std::function<void(const SWaitProgressLib&)> callback) {
    progressCallback = std::move(callback);
}

void CFusionComputeOperations::ReportProgress(SWaitProgressLib progress, time_t elapsedSeconds) {
    progress.elapsedSeconds = elapsedSeconds;
    // The callback is the caller's code; an exception from it must not unwind through the wait.
    try {
        progressCallback(progress);
    } catch (const std::exception& e) {
        debug.Error(__PRETTY_FUNCTION__, "The progress callback threw: %s", e.what());
    } catch (...) {
        debug.Error(__PRETTY_FUNCTION__, "The progress callback threw");
    }
}

template <typename T>
bool CFusionComputeOperations::WaitForStatus(T& object, int timeoutMinutes) {
    return PollUntilDone(__PRETTY_FUNCTION__, object.uri, object, timeoutMinutes);
}

template <typename T>
bool CFusionComputeOperations::PollUntilDone(const char* function, std::string link, T& record,
                                             int timeoutMinutes) {
    using Words = WaitWords<T>;
    const time_t start = fcsdk_platform::MonotonicSeconds();
    time_t lastReport = start;
    for (;;) {
        if (!Poll(link, record)) return false;
        const time_t now = fcsdk_platform::MonotonicSeconds();
        if (progressCallback) ReportProgress(Words::Progress(record), now - start);
        if (record.status == "success") {
            return true;
        }
        if (record.status == "failed") {
            Words::LogFailure(debug, function, record);
            // A failure without a reason must still say what failed.
            SetLastError(!record.reasonDes.empty() ? record.reasonDes
                                                   : Words::FailureWithoutReason(record, link));
            return false;
        }
        if (TimedOut(start, now, timeoutMinutes)) {
            const std::string message = "Timeout waiting for status [" + Words::Urn(record) + "]";
            debug.Error(function, "%s", message.c_str());
            SetLastError(message);
            return false;
        }
        if (now - lastReport > kProgressReportSeconds) {
            Words::LogProgress(debug, function, record);
            lastReport = now;
        }
        if (!fcsdk_platform::SleepUnlessCancelled(kPollPauseMilliseconds, connection->CancelFlag())) {
            return FailCancelled();
        }
    }
}

// The backup resource is the one object that reports its own status.
template bool CFusionComputeOperations::WaitForStatus<SBackupResourceInfoLib>(SBackupResourceInfoLib& object,
                                                                              int timeoutMinutes);

}  // namespace FusionComputeSDKWrapper
