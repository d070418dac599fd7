#include "platform/ObSleep.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

std::mutex& hookMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(unsigned int)>& sleepHook() {
    static std::function<void(unsigned int)> hook;
    return hook;
}

std::function<time_t()>& clockHook() {
    static std::function<time_t()> hook;
    return hook;
}

}  // namespace

void OBSLEEP_InTeRnAl(unsigned int milliseconds, const char* /*file*/, int /*line*/) {
    std::function<void(unsigned int)> hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex());
        hook = sleepHook();
    }
    // The hook runs outside the lock so that it may itself read the clock or install hooks.
    if (hook) {
        hook(milliseconds);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

namespace fcsdk_platform {

namespace {
// A cancelled pause ends within this time.
constexpr unsigned int kCancelSliceMilliseconds = 50;
}  // namespace

bool SleepUnlessCancelled(unsigned int milliseconds, const std::atomic<bool>& cancelled) {
    if (cancelled.load()) return false;
    std::function<void(unsigned int)> hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex());
        hook = sleepHook();
    }
    if (hook) {
        hook(milliseconds);
        return !cancelled.load();
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end) break;
        const auto slice = std::min<std::chrono::steady_clock::duration>(
            end - now, std::chrono::milliseconds(kCancelSliceMilliseconds));
        std::this_thread::sleep_for(slice);
        if (cancelled.load()) return false;
    }
    return !cancelled.load();
}

void SetSleepHook(std::function<void(unsigned int milliseconds)> sleeper) {
    std::lock_guard<std::mutex> lock(hookMutex());
    sleepHook() = std::move(sleeper);
}

time_t WallClockSeconds() {
    std::function<time_t()> hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex());
        hook = clockHook();
    }
    return hook ? hook() : time(nullptr);
}

time_t MonotonicSeconds() {
    std::function<time_t()> hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex());
        hook = clockHook();
    }
    if (hook) return hook();
    return static_cast<time_t>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void SetClockHook(std::function<time_t()> clock) {
    std::lock_guard<std::mutex> lock(hookMutex());
    clockHook() = std::move(clock);
}

}  // namespace fcsdk_platform
