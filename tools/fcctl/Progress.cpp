#include "Progress.h"

#include <unistd.h>

#include <cstdio>

#include "Table.h"

namespace fcctl {

namespace {

std::string FormatSeconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f s", seconds);
    return text;
}

}  // namespace

Progress::Progress(std::string label, bool enabled)
    : label_(CellText(label)), enabled_(enabled), start_(std::chrono::steady_clock::now()) {
    if (!enabled_) return;
    tty_ = ::isatty(STDERR_FILENO) == 1;
    if (tty_) {
        std::fprintf(stderr, "%s ...", label_.c_str());
        std::fflush(stderr);
        ticker_ = std::thread([this] { Tick(); });
    } else {
        std::fprintf(stderr, "fcctl: %s ...\n", label_.c_str());
    }
}

Progress::~Progress() {
    if (!finished_) Finish("failed");
}

void Progress::Done(const std::string& note) {
    Finish(note.empty() ? "done" : "done, " + CellText(note));
}

double Progress::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::Tick() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return finished_; })) {
        std::fprintf(stderr, "\r%s ... %s", label_.c_str(), FormatSeconds(Seconds()).c_str());
        std::fflush(stderr);
    }
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
        std::fprintf(stderr, "\r%s ... %s (%s)\n", label_.c_str(), outcome.c_str(), elapsed.c_str());
    } else {
        std::fprintf(stderr, "fcctl: %s: %s (%s)\n", label_.c_str(), outcome.c_str(), elapsed.c_str());
    }
    std::fflush(stderr);
}

}  // namespace fcctl
