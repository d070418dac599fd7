#ifndef FCCTL_PROGRESS_H
#define FCCTL_PROGRESS_H

// Progress lines on standard error while a long call (a VRM task) runs. The library's calls block until
// their task ends, so progress is time-based: on a terminal a ticker rewrites the line with the seconds
// spent; otherwise one line when a step starts and one when it ends.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace fcctl {

/// One step shown on standard error from construction to Done() (or destruction, shown as failed).
class Progress {
  public:
    /// @param label what the step does, e.g. "[1/5] snapshot for backup"
    /// @param enabled false shows nothing
    Progress(std::string label, bool enabled = true);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    /// Ends the step with "done" and the time it took, plus an optional note.
    void Done(const std::string& note = std::string());

  private:
    void Finish(const std::string& outcome);
    void Tick();
    double Seconds() const;

    std::string label_;
    bool enabled_;
    bool finished_ = false;
    bool tty_ = false;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread ticker_;
};

}  // namespace fcctl

#endif  // FCCTL_PROGRESS_H
