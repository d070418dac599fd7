#ifndef FCSDK_TESTS_SUPPORT_FAKECLOCK_H
#define FCSDK_TESTS_SUPPORT_FAKECLOCK_H

// FakeClock: replaces the platform's sleeper and whole-second wall clock for the lifetime of the object.
// Every pause returns at once, advances the clock by its length and is recorded, so polling loops run
// instantly and tests assert the exact sequence of pauses.
//
//   fcsdk_test::FakeClock clock;
//   ... run a task poll ...
//   EXPECT_THAT(clock.Pauses(), ElementsAre(5000, 5000));

#include <ctime>
#include <functional>
#include <mutex>
#include <vector>

namespace fcsdk_test {

/// @brief A test clock installed as the platform's sleep and clock hooks (process-wide, one at a time).
class FakeClock {
  public:
    /// @brief Installs the hooks.
    /// @param start wall-clock seconds at the start
    explicit FakeClock(time_t start = 1800000000);
    /// @brief Restores the real sleeper and clock.
    ~FakeClock();
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    /// @brief The fake wall clock in whole seconds.
    /// @return seconds
    time_t Now() const;
    /// @brief Milliseconds elapsed on the fake clock since construction.
    /// @return milliseconds
    unsigned long long ElapsedMs() const;
    /// @brief Moves the clock forward without recording a pause.
    /// @param milliseconds how far
    void Advance(unsigned long long milliseconds);
    /// @brief The recorded pauses, oldest first, in milliseconds.
    /// @return the pauses
    std::vector<unsigned int> Pauses() const;
    /// @brief Forgets the recorded pauses (the clock keeps its time).
    void ClearPauses();
    /// @brief Runs `action` during every later pause, after the clock advanced (e.g. to let a simulated
    /// task progress). Called without the clock's lock held.
    /// @param action receives the pause length in milliseconds
    void OnPause(std::function<void(unsigned int)> action);

  private:
    void Pause(unsigned int milliseconds);

    mutable std::mutex mutex_;
    time_t start_;
    unsigned long long elapsedMs_ = 0;
    std::vector<unsigned int> pauses_;
    std::function<void(unsigned int)> onPause_;
};

}  // namespace fcsdk_test

#endif  // FCSDK_TESTS_SUPPORT_FAKECLOCK_H
