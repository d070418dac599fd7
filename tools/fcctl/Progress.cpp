#include "Progress.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "Table.h"

namespace fcctl {

namespace {

// The innermost step now running. Steps nest (a backup's steps inside its run) and, like the library's
// progress callback, run on the main thread only.
Progress* current = nullptr;

std::string FormatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f s", seconds);
    return text;
}

// The wall-clock time of a line on a log, in UTC.
std::string UtcStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// "running 40%", or the status alone when the VRM reports no percentage (a backup resource).
std::string Describe(const FusionComputeSDKWrapper::SWaitProgressLib& poll) {
    std::string text = CellText(poll.status.empty() ? std::string("waiting") : poll.status);
    if (poll.progress >= 0) text += " " + std::to_string(poll.progress) + "%";
    return text;
}

}  // namespace

Progress::Progress(std::string label, bool enabled, Lines lines)
    : label_(CellText(label)),
      enabled_(enabled),
      lines_(lines),
      outer_(current),
      start_(std::chrono::steady_clock::now()) {
    current = this;
    if (!enabled_) return;
    tty_ = ::isatty(STDERR_FILENO) == 1;
    if (tty_) {
        std::fprintf(stderr, "%s ...", label_.c_str());
        std::fflush(stderr);
        ticker_ = std::thread([this] { Tick(); });
    } else if (lines_ == Lines::kStartAndEnd) {
        std::fprintf(stderr, "%s fcctl: %s ...\n", UtcStamp().c_str(), label_.c_str());
    }
}

Progress::~Progress() {
    if (!finished_) Finish("failed");
    if (current == this) current = outer_;
}

void Progress::Done(const std::string& note) {
    Finish(note.empty() ? "done" : "done, " + CellText(note));
}

void Progress::Report(const FusionComputeSDKWrapper::SWaitProgressLib& poll) {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    state_ = Describe(poll);
    if (tty_) return DrawLocked();
    // A log gets a line when the wait moves, not one per poll of an unchanged task. A backup resource has
    // no type; it is named by the task that prepares it.
    std::string what = poll.type.empty() ? "backup resource" : "task " + CellText(poll.urn);
    if (poll.type.empty() && !poll.urn.empty()) what += " (task " + CellText(poll.urn) + ")";
    const std::string line = label_ + ": " + what + ": " + state_;
    if (line == lastLine_) return;
    lastLine_ = line;
    std::fprintf(stderr, "%s fcctl: %s (%lld s)\n", UtcStamp().c_str(), line.c_str(),
                 static_cast<long long>(poll.elapsedSeconds));
    std::fflush(stderr);
}

double Progress::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::DrawLocked() {
    // "\x1b[K" clears what a longer earlier state left at the end of the line.
    std::fprintf(stderr, "\r%s ... %s%s\x1b[K", label_.c_str(), state_.empty() ? "" : (state_ + " ").c_str(),
                 ("(" + FormatSeconds(Seconds()) + ")").c_str());
    std::fflush(stderr);
}

void Progress::Tick() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return finished_; })) DrawLocked();
}

void Progress::Finish(const std::string& outcome) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (finished_) return;
        finished_ = true;
    }
    if (!enabled_) return;
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
    const std::string elapsed = FormatSeconds(Seconds());
    if (tty_) {
        std::fprintf(stderr, "\r%s ... %s (%s)\x1b[K\n", label_.c_str(), outcome.c_str(), elapsed.c_str());
    } else if (lines_ == Lines::kStartAndEnd) {
        std::fprintf(stderr, "%s fcctl: %s: %s (%s)\n", UtcStamp().c_str(), label_.c_str(), outcome.c_str(),
                     elapsed.c_str());
    }
    std::fflush(stderr);
}

void ReportWaitProgress(const FusionComputeSDKWrapper::SWaitProgressLib& poll) {
    if (current != nullptr) current->Report(poll);
}

}  // namespace fcctl
