#include "EvDebug.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "platform/FXString.h"
#include "platform/LogMask.h"
#include "platform/MLPlatformInfo.h"

namespace {

// Process-wide state of the debug log. Lines are written under one lock so that lines of several threads
// never interleave; the lock is recursive because an installed sink may itself log.
struct LogState {
    std::recursive_mutex mutex;
    EvDebug::Sink sink;
    int levelOverride = -1;

    // Configuration cache: re-read when FCSDK_CONFIG names another file or the file changed.
    bool configLoaded = false;
    std::string configPath;
    timespec configModified{};
    int configLevel = 0;
    std::string configFile;

    FILE* file = nullptr;
    std::string openFilePath;
};

LogState& state() {
    static LogState* instance = new LogState();  // never destroyed: logging may run during exit
    return *instance;
}

void refreshConfiguration(LogState& log) {
    const char* env = std::getenv("FCSDK_CONFIG");
    const std::string path = env ? env : "";
    struct stat info {};
    const bool exists = !path.empty() && stat(path.c_str(), &info) == 0;
    const timespec modified = exists ? info.st_mtim : timespec{};
    if (log.configLoaded && path == log.configPath && modified.tv_sec == log.configModified.tv_sec &&
        modified.tv_nsec == log.configModified.tv_nsec) {
        return;
    }
    log.configLoaded = true;
    log.configPath = path;
    log.configModified = modified;
    uint64_t level = 0;
    log.configLevel = MLPlatformInfo::getNumber("Log", "nLevel", level) ? static_cast<int>(level) : 0;
    std::string file;
    log.configFile = MLPlatformInfo::getString("Log", "sFile", file) ? file : std::string();
}

int levelInForce(LogState& log) {
    if (log.levelOverride >= 0) return log.levelOverride;
    refreshConfiguration(log);
    return log.configLevel;
}

FILE* outputFile(LogState& log) {
    if (log.configFile.empty()) return stderr;
    if (log.file == nullptr || log.openFilePath != log.configFile) {
        if (log.file != nullptr) std::fclose(log.file);
        log.file = std::fopen(log.configFile.c_str(), "a");
        log.openFilePath = log.configFile;
    }
    return log.file != nullptr ? log.file : stderr;
}

std::string timestamp() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    char text[96];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  now.tv_nsec / 1000000);
    return text;
}

const char* levelName(EvDebugLevel level) {
    switch (level) {
        case EvDebugLevel::Error:
            return "ERROR";
        case EvDebugLevel::Debug:
            return "DEBUG";
        default:
            return "DETAIL";
    }
}

// Formats and writes one line when `required` is within the level in force.
void writeLine(EvDebugLevel level, int required, const char* function, const char* format,
               va_list arguments) {
    LogState& log = state();
    std::lock_guard<std::recursive_mutex> lock(log.mutex);
    if (required > 0 && levelInForce(log) < required) return;
    std::string line = timestamp();
    line += " [";
    line += std::to_string(getpid());
    line += ':';
    line += std::to_string(static_cast<long>(syscall(SYS_gettid)));
    line += "] ";
    line += levelName(level);
    line += ' ';
    line += function ? function : "";
    line += " - ";
    // The masking is a safety net: callers already keep secrets out of their messages.
    line += fcsdk_platform::MaskSecrets(FXString::VFormat(format, arguments));
    if (log.sink) {
        log.sink(level, line);
        return;
    }
    refreshConfiguration(log);  // the file name comes from the configuration
    FILE* out = outputFile(log);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
}

}  // namespace

EvDebug::EvDebug(EvDebugFileInstance* instance) : instance_(instance) {}

EvDebug::~EvDebug() = default;

void EvDebug::Debug(const char* function, const char* format, ...) const {
    va_list arguments;
    va_start(arguments, format);
    writeLine(EvDebugLevel::Debug, 1, function, format, arguments);
    va_end(arguments);
}

void EvDebug::Error(const char* function, const char* format, ...) const {
    va_list arguments;
    va_start(arguments, format);
    writeLine(EvDebugLevel::Error, 0, function, format, arguments);
    va_end(arguments);
}

void EvDebug::DebugLvl(const char* function, int level, const char* format, ...) const {
    va_list arguments;
    va_start(arguments, format);
    writeLine(level >= 2 ? EvDebugLevel::Detail : EvDebugLevel::Debug, level, function, format, arguments);
    va_end(arguments);
}

void EvDebug::SetSink(Sink sink) {
    LogState& log = state();
    std::lock_guard<std::recursive_mutex> lock(log.mutex);
    log.sink = std::move(sink);
}

void EvDebug::SetLevel(int level) {
    LogState& log = state();
    std::lock_guard<std::recursive_mutex> lock(log.mutex);
    log.levelOverride = level < 0 ? -1 : level;
}

int EvDebug::GetLevel() {
    LogState& log = state();
    std::lock_guard<std::recursive_mutex> lock(log.mutex);
    return levelInForce(log);
}

namespace FusionComputeSDKWrapper {

void SetLogSink(EvDebug::Sink sink) {
    EvDebug::SetSink(std::move(sink));
}

void SetLogLevel(int level) {
    EvDebug::SetLevel(level);
}

int GetLogLevel() {
    return EvDebug::GetLevel();
}

}  // namespace FusionComputeSDKWrapper

EvEvent::EvEvent() = default;

EvEvent::~EvEvent() = default;
