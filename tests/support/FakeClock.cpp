#include "FakeClock.h"

#include "platform/ObSleep.h"

namespace fcsdk_test {

FakeClock::FakeClock(time_t start) : start_(start) {
    fcsdk_platform::SetSleepHook([this](unsigned int milliseconds) { Pause(milliseconds); });
    fcsdk_platform::SetClockHook([this] { return Now(); });
}

FakeClock::~FakeClock() {
    fcsdk_platform::SetSleepHook(nullptr);
    fcsdk_platform::SetClockHook(nullptr);
}

time_t FakeClock::Now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return start_ + static_cast<time_t>(elapsedMs_ / 1000);
}

unsigned long long FakeClock::ElapsedMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return elapsedMs_;
}

void FakeClock::Advance(unsigned long long milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    elapsedMs_ += milliseconds;
}

std::vector<unsigned int> FakeClock::Pauses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pauses_;
}

void FakeClock::ClearPauses() {
    std::lock_guard<std::mutex> lock(mutex_);
    pauses_.clear();
}

void FakeClock::OnPause(std::function<void(unsigned int)> action) {
    std::lock_guard<std::mutex> lock(mutex_);
    onPause_ = std::move(action);
}

void FakeClock::Pause(unsigned int milliseconds) {
    std::function<void(unsigned int)> action;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        elapsedMs_ += milliseconds;
        pauses_.push_back(milliseconds);
        action = onPause_;
    }
    if (action) action(milliseconds);
}

}  // namespace fcsdk_test
