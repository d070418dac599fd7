// The task engine: how WaitForTask and WaitForStatus poll, pause, report progress and give up, and what
// the request helpers leave in the error state. Every poll answer is scripted through the simulator; the
// fake clock makes the 5-second pauses instant and records them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeClock.h"
#include "LogCapture.h"
#include "OperationsSimFixture.h"

namespace fcsdk_test {
namespace {

using FusionComputeSDKWrapper::SBackupResourceInfoLib;
using FusionComputeSDKWrapper::STaskInfoLib;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::StartsWith;

constexpr int kTask = 41;

class OperationsWaitTest : public OperationsSimTest {
  protected:
    STaskInfoLib StartedTask(int taskId) const {
        STaskInfoLib task;
        task.taskUrn = TaskUrn(taskId);
        task.taskUri = TaskUri(taskId);
        return task;
    }
    size_t Polls(int taskId) const { return Sent("GET", TaskUri(taskId)).size(); }
    void KeepRunning(int taskId) {
        Answer("GET", TaskUri(taskId), boost::json::serialize(TaskObject(taskId, "running", 50)), -1);
    }

    FakeClock clock_;
};

TEST_F(OperationsWaitTest, TaskThatSucceedsAtTheFirstPollMakesNoPause) {
    ScriptPolls(kTask, {"success"});
    STaskInfoLib task = StartedTask(kTask);

    EXPECT_TRUE(ops().WaitForTask(task));

    EXPECT_THAT(clock_.Pauses(), IsEmpty());
    EXPECT_EQ(Polls(kTask), 1u);
    EXPECT_EQ(task.status, "success");
    EXPECT_EQ(task.progress, 100);
}

TEST_F(OperationsWaitTest, UnfinishedStatusesArePolledEveryFiveSeconds) {
    // Anything but "success" and "failed" means the task still runs, the empty status included.
    ScriptPolls(kTask, {"waiting", "", "running", "running", "success"});
    STaskInfoLib task = StartedTask(kTask);

    EXPECT_TRUE(ops().WaitForTask(task));

    EXPECT_THAT(clock_.Pauses(), ElementsAre(5000, 5000, 5000, 5000));
    EXPECT_EQ(Polls(kTask), 5u);
}

TEST_F(OperationsWaitTest, StatusDifferingOnlyInCaseKeepsPollingUntilTheTimeOutAndReportsIt) {
    Answer("GET", TaskUri(kTask), boost::json::serialize(TaskObject(kTask, "Success", 100)), -1);
    LogCapture log(0);
    state_.message = "earlier";
    STaskInfoLib task = StartedTask(kTask);

    EXPECT_FALSE(ops().WaitForTask(task, 1));

    // Polls at 0, 5, ..., 60 seconds are within the minute; the one at 65 gives up.
    EXPECT_EQ(Polls(kTask), 14u);
    EXPECT_THAT(clock_.Pauses(), SizeIs(13));
    EXPECT_TRUE(log.Contains("Timeout waiting for status [" + TaskUrn(kTask) + "]")) << log.Text();
    EXPECT_EQ(state_.message, "Timeout waiting for status [" + TaskUrn(kTask) + "]");
}

TEST_F(OperationsWaitTest, ZeroMinuteTimeOutPollsOnceMoreAfterTheFirstPause) {
    KeepRunning(kTask);
    LogCapture log(0);
    STaskInfoLib task = StartedTask(kTask);

    EXPECT_FALSE(ops().WaitForTask(task, 0));

    EXPECT_EQ(Polls(kTask), 2u);
    EXPECT_THAT(clock_.Pauses(), ElementsAre(5000));
    EXPECT_TRUE(log.Contains("Timeout waiting for status [" + TaskUrn(kTask) + "]")) << log.Text();
}

// The first pause brings the clock to `seconds` after the start. At exactly 7200 seconds the wait goes
// on: polls at 0 and 7200 seconds, the one at 7205 gives up. One second more ends it at that poll.
struct DefaultTimeOutCase {
    const char* name;
    unsigned long long seconds;
    size_t polls;
    size_t pauses;
};

class DefaultTimeOutTest : public OperationsWaitTest,
                           public ::testing::WithParamInterface<DefaultTimeOutCase> {};

TEST_P(DefaultTimeOutTest, AllowsExactly7200Seconds) {
    KeepRunning(kTask);
    bool first = true;
    clock_.OnPause([&](unsigned int) {
        if (first) clock_.Advance(GetParam().seconds * 1000ull - 5000);
        first = false;
    });
    STaskInfoLib task = StartedTask(kTask);

    EXPECT_FALSE(ops().WaitForTask(task));

    EXPECT_EQ(Polls(kTask), GetParam().polls);
    EXPECT_THAT(clock_.Pauses(), SizeIs(GetParam().pauses));
}

INSTANTIATE_TEST_SUITE_P(Limit, DefaultTimeOutTest,
                         ::testing::Values(DefaultTimeOutCase{"At7200Seconds", 7200, 3, 2},
                                           DefaultTimeOutCase{"EndsOneSecondBeyond", 7201, 2, 1}),
                         [](const ::testing::TestParamInfo<DefaultTimeOutCase>& info) {
                             return info.param.name;
                         });

TEST_F(OperationsWaitTest, HugeTimeOutWrapsAroundIn32BitSeconds) {
    // 35791395 minutes are 2147483700 seconds, which wrap to a negative limit in 32-bit arithmetic: the
    // first unfinished poll already gives up.
    KeepRunning(kTask);
    STaskInfoLib task = StartedTask(kTask);

    EXPECT_FALSE(ops().WaitForTask(task, 35791395));

    EXPECT_EQ(Polls(kTask), 1u);
    EXPECT_THAT(clock_.Pauses(), IsEmpty());
}

TEST_F(OperationsWaitTest, FailedTaskLeavesItsReasonAsTheLastErrorAndKeepsTheCode) {
    state_.code = 10300025;
    Answer("GET", TaskUri(kTask),
           boost::json::serialize(TaskObject(kTask, "failed", 30, "The disk is in use by another VM.")));
    LogCapture log(0);
    STaskInfoLib task = StartedTask(kTask);

    EXPECT_FALSE(ops().WaitForTask(task));

    EXPECT_EQ(ops().GetLastError(), "The disk is in use by another VM.");
    EXPECT_EQ(state_.code, 10300025);
    EXPECT_TRUE(
        log.Contains("bool FusionComputeSDKWrapper::CFusionComputeOperations::WaitForTask("
                     "FusionComputeSDKWrapper::STaskInfoLib&, int) - Task [" +
                     TaskUrn(kTask) + "] Type [testtask] has failed [The disk is in use by another VM.]"))
        << log.Text();
    EXPECT_THAT(clock_.Pauses(), IsEmpty());

    // Without a reason the failure still says what failed.
    Answer("GET", TaskUri(kTask + 1), boost::json::serialize(TaskObject(kTask + 1, "failed", 30)));
    STaskInfoLib silent = StartedTask(kTask + 1);
    EXPECT_FALSE(ops().WaitForTask(silent));
    EXPECT_EQ(ops().GetLastError(),
              "Task [" + TaskUrn(kTask + 1) + "] of type [testtask] failed without a reason");
}

TEST_F(OperationsWaitTest, ProgressIsReportedAtMostOnceAMinute) {
    // Running for 200 seconds (polls at 0, 5, ..., 200), then success at 205.
    std::vector<std::string> statuses(41, "running");
    statuses.push_back("success");
    ScriptPolls(kTask, statuses);
    LogCapture log(1);
    STaskInfoLib task = StartedTask(kTask);

    EXPECT_TRUE(ops().WaitForTask(task));

    // Reports once more than 60 seconds have passed since the last one: at 65, 130 and 195 seconds.
    const std::string prefix = "Task [" + TaskUrn(kTask) + "] Type [testtask] Status [running] Progress [";
    EXPECT_EQ(log.Count(prefix), 3u) << log.Text();
    EXPECT_TRUE(log.Contains(prefix + "14%]")) << log.Text();
    EXPECT_TRUE(log.Contains(prefix + "27%]")) << log.Text();
    EXPECT_TRUE(log.Contains(prefix + "40%]")) << log.Text();
}

TEST_F(OperationsWaitTest, EveryPollGoesToTheLinkTheTaskStartedWith) {
    // The poll answers name another link; the engine keeps polling the original one.
    boost::json::object running = TaskObject(kTask, "running");
    running["uri"] = TaskUri(kTask + 1);
    Answer("GET", TaskUri(kTask), boost::json::serialize(running));
    ScriptPolls(kTask, {"success"});
    STaskInfoLib task = StartedTask(kTask);

    EXPECT_TRUE(ops().WaitForTask(task));

    EXPECT_EQ(Polls(kTask), 2u);
    EXPECT_THAT(Sent("GET", TaskUri(kTask + 1)), IsEmpty());
}

TEST_F(OperationsWaitTest, FailedOrUnreadablePollEndsTheWaitWithItsOwnError) {
    struct Case {
        const char* name;
        vrmsim::FaultKind kind;
        const char* body;
        const char* messageStart;  // the new last error begins so
    };
    for (const Case& c :
         {Case{"vrm error body", vrmsim::FaultKind::Status, "", "Simulated failure"},
          Case{"html page", vrmsim::FaultKind::Html, "", "HTTP status 502 on GET https://"},
          Case{"dropped answer", vrmsim::FaultKind::Drop, "", "curl error "},
          Case{"not json", vrmsim::FaultKind::Body, "<html>busy</html>",
               "Could not read the VRM's answer to ["},
          Case{"json array", vrmsim::FaultKind::Body, "[1, 2]", "Could not read the VRM's answer to ["}}) {
        SCOPED_TRACE(c.name);
        server().Reset();
        vrmsim::Fault fault;
        fault.kind = c.kind;
        fault.method = "GET";
        fault.path = TaskUri(kTask);
        fault.body = c.body;
        server().AddFault(fault);
        state_.message = "earlier";
        state_.code = 7;
        STaskInfoLib task = StartedTask(kTask);

        EXPECT_FALSE(ops().WaitForTask(task));

        EXPECT_THAT(state_.message, StartsWith(c.messageStart));
        if (c.kind == vrmsim::FaultKind::Status) {
            // A VRM error body is passed on with its code, as for any failed request.
            EXPECT_EQ(state_.code, 10000001);
        } else {
            EXPECT_THAT(state_.message, HasSubstr(TaskUri(kTask)));
            // A failed request without a VRM error body has no code (the earlier one would answer for it);
            // an answer that arrived but cannot be read is a failure of ours and leaves the code.
            EXPECT_EQ(state_.code, c.kind == vrmsim::FaultKind::Body ? 7 : 0);
        }
        EXPECT_EQ(Polls(kTask), 1u);
    }
}

TEST_F(OperationsWaitTest, ConfiguredOperationTimeOutIsUsedWhenTheCallerGivesNone) {
    server().SetConfigValue("VirtualServer/nOperationTimeout", "1");
    operations_ = MakeOperations();
    server().SetConfigValue("VirtualServer/nOperationTimeout", "");
    KeepRunning(kTask);
    STaskInfoLib task = StartedTask(kTask);

    EXPECT_FALSE(ops().WaitForTask(task));

    // Polls at 0, 5, ..., 60 seconds, then the one at 65 gives up.
    EXPECT_THAT(clock_.Pauses(), SizeIs(13));
}

TEST_F(OperationsWaitTest, UnreadableOperationTimeOutFallsBackTo120Minutes) {
    server().SetConfigValue("VirtualServer/nOperationTimeout", "soon");
    operations_ = MakeOperations();
    server().SetConfigValue("VirtualServer/nOperationTimeout", "");
    KeepRunning(kTask);
    // Jump to the edge of two hours at the first pause; 120 minutes allow 7200 seconds, not 7205.
    bool first = true;
    clock_.OnPause([&](unsigned int) {
        if (first) clock_.Advance(7200 * 1000ull - 5000);
        first = false;
    });
    STaskInfoLib task = StartedTask(kTask);

    EXPECT_FALSE(ops().WaitForTask(task));

    EXPECT_THAT(clock_.Pauses(), SizeIs(2));
}

// ---- Request helpers ------------------------------------------------------------------------------

TEST_F(OperationsWaitTest, ResultIsTheCreatedObjectOfThePostAnswerAfterThePollsRewroteTheTask) {
    const std::string link = SiteUri() + "/volumes";
    AnswerTaskStart("POST", link, kTask, SiteUrn() + ":volumes:900", SiteUri() + "/volumes/900");
    ScriptPolls(kTask, {"running", "success"});
    std::string urn = "old urn";
    std::string uri = "old uri";

    EXPECT_TRUE(ops().PostObjectToLinkAndGetResult(link, "{}", urn, uri));

    EXPECT_EQ(urn, SiteUrn() + ":volumes:900");
    EXPECT_EQ(uri, SiteUri() + "/volumes/900");
}

TEST_F(OperationsWaitTest, ResultNamesTheAcceptedObjectAlsoWhenTheTaskFails) {
    const std::string link = SiteUri() + "/volumes";
    AnswerTaskStart("POST", link, kTask, SiteUrn() + ":volumes:900", SiteUri() + "/volumes/900");
    Answer("GET", TaskUri(kTask), boost::json::serialize(TaskObject(kTask, "failed", 0, "No space left.")));
    std::string urn = "old urn";
    std::string uri = "old uri";

    EXPECT_FALSE(ops().PostObjectToLinkAndGetResult(link, "{}", urn, uri));

    // The caller must learn what the VRM accepted to create, to undo it.
    EXPECT_EQ(urn, SiteUrn() + ":volumes:900");
    EXPECT_EQ(uri, SiteUri() + "/volumes/900");
    EXPECT_EQ(ops().GetLastError(), "No space left.");
    STaskInfoLib created;
    EXPECT_TRUE(ops().GetLastCreation(created));
    EXPECT_EQ(created.status, "failed");

    // A refused request leaves the strings as they were.
    server().FailNext("POST", link, 409, "10000001", "Refused.");
    urn = "old urn";
    EXPECT_FALSE(ops().PostObjectToLinkAndGetResult(link, "{}", urn, uri));
    EXPECT_EQ(urn, "old urn");
    EXPECT_FALSE(ops().GetLastCreation(created));
}

TEST_F(OperationsWaitTest, RefusedRequestTakesTheLastErrorFromTheAnswerBody) {
    const std::string link = SiteUri() + "/vms/i-00000001";
    for (const char* method : {"POST", "PUT", "DELETE"}) {
        SCOPED_TRACE(method);
        server().Reset();
        server().FailNext(method, link, 409, "10300025", "Another snapshot task is running.");
        STaskInfoLib task;
        const std::string verb = method;

        const bool ok = verb == "POST"  ? ops().PostObjectToLinkAndWaitForTask(link, "{}", task)
                        : verb == "PUT" ? ops().PutObjectToLinkAndWaitForTask(link, "{}", task)
                                        : ops().DeleteObjectFromLinkAndWaitForTask(link, "", task);

        EXPECT_FALSE(ok);
        EXPECT_EQ(ops().GetLastError(), "Another snapshot task is running.");
        EXPECT_EQ(state_.code, 10300025);
        EXPECT_THAT(server().Requests(SiteUri() + "/tasks"), IsEmpty());
    }
}

TEST_F(OperationsWaitTest, AnswerThatIsNoTaskFailsNamingTheRequest) {
    const std::string link = SiteUri() + "/vms/i-00000001/action/start";
    Answer("POST", link, "this is not json");
    state_.message = "earlier";
    state_.code = 7;

    EXPECT_FALSE(ops().PostObjectToLinkAndWaitForTask(link, ""));

    EXPECT_EQ(state_.message, "Could not read the VRM's answer to [" + link + "]");
    EXPECT_EQ(state_.code, 7);
    EXPECT_THAT(clock_.Pauses(), IsEmpty());
}

TEST_F(OperationsWaitTest, GetTaskReadsTheTaskWithoutPolling) {
    const std::string link = SiteUri() + "/volumes/1/backupresources";
    AnswerTaskStart("POST", link, kTask);
    STaskInfoLib task;

    EXPECT_TRUE(ops().PostObjectToLinkAndGetTask(link, "{}", task));

    EXPECT_EQ(task.taskUrn, TaskUrn(kTask));
    EXPECT_EQ(task.taskUri, TaskUri(kTask));
    EXPECT_THAT(server().Requests(SiteUri() + "/tasks"), IsEmpty());
}

// ---- Objects that report their own status ---------------------------------------------------------

class OperationsStatusWaitTest : public OperationsWaitTest {
  protected:
    std::string ResourceUri() const { return SiteUri() + "/volumes/3/backupresources/77"; }
    std::string ResourceAnswer(const std::string& status, const std::string& reasonDes = "") const {
        boost::json::object answer{{"taskUri", TaskUri(77)},    {"taskUrn", TaskUrn(77)}, {"status", status},
                                   {"hostIP", "192.168.40.11"}, {"hostPort", "8899"},     {"runningTime", 3}};
        if (!reasonDes.empty()) answer["reasonDes"] = reasonDes;
        return boost::json::serialize(answer);
    }
    SBackupResourceInfoLib Resource() const {
        SBackupResourceInfoLib resource;
        resource.uri = ResourceUri();
        resource.urn = "resource-77";
        return resource;
    }
};

TEST_F(OperationsStatusWaitTest, ReadyResourceIsFilledAndKeepsItsLink) {
    Answer("GET", ResourceUri(), ResourceAnswer("running"), 2);
    Answer("GET", ResourceUri(), ResourceAnswer("success"));
    SBackupResourceInfoLib resource = Resource();

    EXPECT_TRUE(ops().WaitForStatus(resource, 1));

    EXPECT_THAT(clock_.Pauses(), ElementsAre(5000, 5000));
    EXPECT_EQ(resource.uri, ResourceUri());
    EXPECT_EQ(resource.hostIP, "192.168.40.11");
    EXPECT_EQ(resource.hostPort, "8899");
    EXPECT_EQ(resource.runningTime, 3);
}

TEST_F(OperationsStatusWaitTest, FailedResourceLeavesItsReasonAsTheLastError) {
    Answer("GET", ResourceUri(), ResourceAnswer("failed", "The host is unreachable."));
    LogCapture log(0);
    SBackupResourceInfoLib resource = Resource();

    EXPECT_FALSE(ops().WaitForStatus(resource, 1));

    EXPECT_EQ(ops().GetLastError(), "The host is unreachable.");
    EXPECT_TRUE(
        log.Contains("bool FusionComputeSDKWrapper::CFusionComputeOperations::WaitForStatus(T&, int) "
                     "[with T = FusionComputeSDKWrapper::SBackupResourceInfoLib] - Operation "
                     "[resource-77] failed [The host is unreachable.]"))
        << log.Text();
}

TEST_F(OperationsStatusWaitTest, UnreadyResourceTimesOutWithALastErrorAndReportsAtMostOnceAMinute) {
    Answer("GET", ResourceUri(), ResourceAnswer("running"), -1);
    LogCapture log(1);
    state_.message = "earlier";
    SBackupResourceInfoLib resource = Resource();

    EXPECT_FALSE(ops().WaitForStatus(resource, 2));

    // Polls at 0, 5, ..., 120 seconds, a report at 65 (the next would be due at 130), time-out at 125.
    EXPECT_THAT(clock_.Pauses(), SizeIs(25));
    EXPECT_THAT(clock_.Pauses(), Each(5000u));
    EXPECT_EQ(log.Count("Operation [resource-77] Status [running]"), 1u) << log.Text();
    EXPECT_TRUE(log.Contains("Timeout waiting for status [resource-77]")) << log.Text();
    EXPECT_EQ(state_.message, "Timeout waiting for status [resource-77]");
}

}  // namespace
}  // namespace fcsdk_test
