#ifndef FCCTL_PROGRESS_H
#define FCCTL_PROGRESS_H

// Progress on standard error while a step runs that may wait for the VRM. The library reports every poll
// of the task (or backup resource) it waits for through the wrapper's progress callback, which
// ReportWaitProgress() passes to the step running now. On a terminal the step's line is rewritten in
// place: the status and percentage of the last poll and the seconds spent. Otherwise each change of
// status or percentage gives one time-stamped line, so that a log shows when the wait moved.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "FusionComputeWrapper.h"

namespace fcctl {

/// One step shown on standard error from construction to Done() (or destruction, shown as failed).
class Progress {
  public:
    /// How much a step shows when standard error is not a terminal.
    enum class Lines {
        kStartAndEnd,  ///< a line when the step starts and one when it ends, plus the waits' lines
        kWaitsOnly,    ///< only the waits' lines (a command that is one call)
    };

    /// @param label what the step does, e.g. "[1/5] snapshot for backup"
    /// @param enabled false shows nothing
    /// @param lines what a step shows when standard error is not a terminal
    Progress(std::string label, bool enabled = true, Lines lines = Lines::kStartAndEnd);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// Ends the step with "done" and the time it took, plus an optional note.
    void Done(const std::string& note = std::string());

    /// Shows one poll of the wait this step is in.
    void Report(const FusionComputeSDKWrapper::SWaitProgressLib& poll);

  private:
    void Finish(const std::string& outcome);
    void Tick();
    void DrawLocked();
    double Seconds() const;

    std::string label_;
    bool enabled_;
    Lines lines_;
    bool finished_ = false;
    bool tty_ = false;
    std::string state_;     // the last poll, as shown: "running 40%"
    std::string lastLine_;  // the last wait line written (without time stamp and seconds)
    Progress* outer_ = nullptr;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread ticker_;
};

/// Passes a poll to the innermost step now running (the wrapper's progress callback); nothing without one.
void ReportWaitProgress(const FusionComputeSDKWrapper::SWaitProgressLib& poll);

}  // namespace fcctl

#endif  // FCCTL_PROGRESS_H
