#ifndef VRMSIM_WAKER_H
#define VRMSIM_WAKER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vrmsim {

/// Interruptible sleeps for delayed and stalled answers: Reset wakes the current sleepers, Stop wakes
/// them and keeps later sleeps from waiting at all until Restart.
class Waker {
  public:
    /// Sleeps up to `ms` milliseconds; returns early on WakeAll or Stop.
    void SleepFor(int ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        std::uint64_t generation = generation_;
        cv_.wait_for(lock, std::chrono::milliseconds(ms),
                     [&] { return stopped_ || generation_ != generation; });
    }
    void WakeAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++generation_;
        cv_.notify_all();
    }
    void Stop() {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        cv_.notify_all();
    }
    void Restart() {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::uint64_t generation_ = 0;
    bool stopped_ = false;
};

}  // namespace vrmsim

#endif  // VRMSIM_WAKER_H
