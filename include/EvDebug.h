#ifndef FCSDK_EVDEBUG_H
#define FCSDK_EVDEBUG_H

#include <functional>
#include <string>

#include "FusionComputeExport.h"

/// Opaque handle of a log file; a null instance means the default log.
class EvDebugFileInstance;

/// Severity of a log line.
enum class EvDebugLevel { Error = 0, Debug = 1, Detail = 2 };

/// A log channel. Lines look like
/// "2026-12-07T20:41:03.123Z [pid:tid] ERROR|DEBUG|DETAIL <function> - <message>".
/// Which lines are written, and where, is configured in the "Log" section of the configuration file
/// ("sFile", "nLevel") or by an installed sink.
class FCSDK_EXPORT EvDebug {
  public:
    explicit EvDebug(EvDebugFileInstance* instance = nullptr);
    virtual ~EvDebug();

    /// Progress line (written at log level 1 and above).
    void Debug(const char* function, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    /// Failure line (always written).
    void Error(const char* function, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    /// Line of the given level; level 2 marks detail lines.
    void DebugLvl(const char* function, int level, const char* format, ...) const
        __attribute__((format(printf, 4, 5)));

    /// Receives every line that passes the level filter, already formatted, instead of the log file.
    using Sink = std::function<void(EvDebugLevel level, const std::string& line)>;
    /// Installs `sink` for the whole process (an empty function restores the file or standard error).
    static void SetSink(Sink sink);
    /// Overrides the configured log level for the whole process (0 errors, 1 debug, 2 detail); a negative
    /// level removes the override so that the configured level applies again.
    static void SetLevel(int level);
    /// The log level in force.
    static int GetLevel();

  private:
    [[maybe_unused]] EvDebugFileInstance* instance_;
};

/// Log context of the library's facade; writes through the EvDebug operations.
class FCSDK_EXPORT EvEvent : public EvDebug {
  public:
    EvEvent();
    ~EvEvent() override;
};

namespace FusionComputeSDKWrapper {

/// @brief Sends every log line of the library to `sink` instead of the log file.
/// @param sink Receives the level and the formatted line; an empty function restores the log file (or
///        standard error when no file is configured).
FCSDK_EXPORT void SetLogSink(EvDebug::Sink sink);

/// @brief Sets the log level of the whole process, overriding the configured "Log/nLevel".
/// @param level 0 errors only, 1 debug lines, 2 detail lines; a negative value returns to the configuration.
FCSDK_EXPORT void SetLogLevel(int level);

/// @brief The log level in force.
/// @return 0, 1 or 2.
FCSDK_EXPORT int GetLogLevel();

}  // namespace FusionComputeSDKWrapper

#endif  // FCSDK_EVDEBUG_H
