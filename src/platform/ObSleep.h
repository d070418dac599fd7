#ifndef FCSDK_PLATFORM_OBSLEEP_H
#define FCSDK_PLATFORM_OBSLEEP_H

#include <atomic>
#include <ctime>
#include <functional>

/// Pauses the calling thread for `milliseconds`; `file` and `line` name the caller for diagnostics.
/// Goes through the installed sleeper (see SetSleepHook).
void OBSLEEP_InTeRnAl(unsigned int milliseconds, const char* file, int line);

namespace fcsdk_platform {

/// Replaces the real pause for the whole process (tests install a recording sleeper). An empty function
/// restores the real one.
void SetSleepHook(std::function<void(unsigned int milliseconds)> sleeper);

/// Pauses like OBSLEEP_InTeRnAl, but gives up early once `cancelled` is set: the real pause waits in
/// short slices and checks the flag between them (a signal handler may set it); an installed sleeper is
/// not called at all when the flag is already set and is told the whole pause otherwise.
/// @return false when the flag was set before or during the pause
bool SleepUnlessCancelled(unsigned int milliseconds, const std::atomic<bool>& cancelled);

/// The wall clock in whole seconds, as time(nullptr) gives it, unless a test clock is installed.
time_t WallClockSeconds();
/// A clock in whole seconds that a change of the system time does not move (the time since an
/// unspecified start), for measuring waits; the test clock of SetClockHook replaces it too.
time_t MonotonicSeconds();
/// Replaces the wall clock (and the monotonic clock) for the whole process. An empty function restores
/// the real ones.
void SetClockHook(std::function<time_t()> clock);

}  // namespace fcsdk_platform

#endif  // FCSDK_PLATFORM_OBSLEEP_H
