#include "LogCapture.h"

namespace fcsdk_test {

LogCapture::LogCapture(int level) {
    EvDebug::SetLevel(level);
    EvDebug::SetSink([this](EvDebugLevel severity, const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(Entry{severity, line});
    });
}

LogCapture::~LogCapture() {
    EvDebug::SetSink(nullptr);
    EvDebug::SetLevel(-1);
}

std::vector<std::string> LogCapture::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    for (const Entry& entry : entries_) lines.push_back(entry.line);
    return lines;
}

std::vector<std::string> LogCapture::Lines(EvDebugLevel level) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    for (const Entry& entry : entries_) {
        if (entry.level == level) lines.push_back(entry.line);
    }
    return lines;
}

bool LogCapture::Contains(const std::string& text) const {
    return Count(text) > 0;
}

size_t LogCapture::Count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t count = 0;
    for (const Entry& entry : entries_) {
        if (entry.line.find(text) != std::string::npos) ++count;
    }
    return count;
}

std::string LogCapture::Text() const {
    std::string text;
    for (const std::string& line : Lines()) text += line + "\n";
    return text;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

::testing::AssertionResult LogCapture::HasNoSecret(const std::string& secret) const {
    if (secret.empty()) return ::testing::AssertionSuccess();
    std::string offending;
    for (const std::string& line : Lines()) {
        if (line.find(secret) != std::string::npos) offending += "  " + line + "\n";
    }
    if (offending.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "secret found in log lines:\n" << offending;
}

}  // namespace fcsdk_test
