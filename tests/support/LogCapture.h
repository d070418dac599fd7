#ifndef FCSDK_TESTS_SUPPORT_LOGCAPTURE_H
#define FCSDK_TESTS_SUPPORT_LOGCAPTURE_H

// LogCapture: collects the library's debug-log lines for the lifetime of the object instead of writing
// them to the log file, at the chosen level.
//
//   fcsdk_test::LogCapture log(2);
//   ... run code ...
//   EXPECT_TRUE(log.Contains("Computed URL [https://vrm.local:7443/service/versions]"));
//   EXPECT_TRUE(log.HasNoSecret(password));

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "EvDebug.h"

namespace fcsdk_test {

/// @brief Installs an EvDebug sink and log level (process-wide, one at a time) and keeps the lines.
class LogCapture {
  public:
    /// @brief Installs the sink and overrides the log level.
    /// @param level 0 errors only, 1 debug lines, 2 detail lines
    explicit LogCapture(int level = 2);
    /// @brief Removes the sink and the level override.
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    /// @brief Every captured line, oldest first.
    /// @return the lines
    std::vector<std::string> Lines() const;
    /// @brief The captured lines of one severity.
    /// @param level the severity
    /// @return the lines
    std::vector<std::string> Lines(EvDebugLevel level) const;
    /// @brief Whether any line contains `text`.
    /// @param text the text
    /// @return true when found
    bool Contains(const std::string& text) const;
    /// @brief Number of lines that contain `text`.
    /// @param text the text
    /// @return the count
    size_t Count(const std::string& text) const;
    /// @brief All lines joined with newlines (for failure messages).
    /// @return the text
    std::string Text() const;
    /// @brief Forgets the captured lines.
    void Clear();
    /// @brief Succeeds when no captured line contains `secret`; the failure lists the offending lines.
    /// @param secret the text that must not appear (an empty text always succeeds)
    /// @return the assertion result
    ::testing::AssertionResult HasNoSecret(const std::string& secret) const;

  private:
    struct Entry {
        EvDebugLevel level;
        std::string line;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

}  // namespace fcsdk_test

#endif  // FCSDK_TESTS_SUPPORT_LOGCAPTURE_H
