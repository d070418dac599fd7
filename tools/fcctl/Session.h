#ifndef FCCTL_SESSION_H
#define FCCTL_SESSION_H

// What every fcctl command shares: the global options, the connection to the VRM (made on first use),
// the password source, the output mode and the way a command fails.

#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "FusionComputeWrapper.h"

namespace fcctl {

namespace fc = FusionComputeSDKWrapper;

/// Exit codes of fcctl (130 and 143 after SIGINT and SIGTERM come from InterruptExitCode()).
enum ExitCode {
    kExitOk = 0,          ///< the command did what it was asked
    kExitFailed = 1,      ///< the VRM refused or the library reported a failure
    kExitUsage = 2,       ///< bad command line, missing password or unreadable input file
    kExitAuth = 3,        ///< the VRM refused the login (user name or password)
    kExitNotFound = 4,    ///< the named VM, snapshot, volume or other object does not exist
    kExitConnection = 5,  ///< the VRM could not be reached or its certificate was not trusted
};

/// Ends a command: the message (and the hint on a line of its own) goes to standard error and fcctl
/// exits with the code.
class CommandError : public std::runtime_error {
  public:
    CommandError(int exitCode, const std::string& message, std::string hint = std::string())
        : std::runtime_error(message), exitCode_(exitCode), hint_(std::move(hint)) {}
    int exitCode() const { return exitCode_; }
    /// What the operator most likely has to change, or empty.
    const std::string& hint() const { return hint_; }

  private:
    int exitCode_;
    std::string hint_;
};

/// Throws a usage error (exit code 2).
[[noreturn]] void UsageError(const std::string& message);

/// The global options (given before or after the command).
struct GlobalOptions {
    std::string host;          ///< --host, or FCCTL_HOST
    std::string user;          ///< --user, or FCCTL_USER
    std::string passwordFile;  ///< --password-file
    std::string caFile;        ///< --ca-file, or FCCTL_CA_FILE
    bool insecure = false;     ///< --insecure
    int port = 0;              ///< --port, or FCCTL_PORT; 0 keeps the configuration's (7443)
    std::string connectTo;     ///< --connect-to, or FCCTL_CONNECT_TO
    std::string details;       ///< --details
    bool json = false;         ///< --json
    bool debug = false;        ///< --debug
};

/// Name of the environment variable that may hold the password.
constexpr const char* kPasswordEnv = "FCCTL_PASSWORD";

/// Finds the password: the first line of `passwordFile` when given (read up to 4 KB; "-" reads standard
/// input; a warning goes to standard error when group or others may read the file), else the environment
/// variable FCCTL_PASSWORD, else a prompt without echo when standard input is a terminal.
/// @param passwordFile the --password-file value, or empty
/// @param password receives the password
/// @param error receives a message when there is none or the file cannot be read
/// @return false when no password could be found
bool ReadPassword(const std::string& passwordFile, std::string& password, std::string& error);

/// Installs the handlers of SIGINT and SIGTERM. The first signal cancels the library call in progress
/// (the command then cleans up and fails); a second one is ignored so that the clean-up can finish; a
/// third ends fcctl at once.
void InstallSignalHandlers();
/// The signal that interrupted this run, or 0.
int InterruptSignal();
/// The exit code of a run ended by `signal`: 128 + the signal's number (130 for SIGINT, 143 for SIGTERM).
inline int InterruptExitCode(int signal) {
    return 128 + signal;
}

/// The connection and output of one fcctl run.
class Session {
  public:
    explicit Session(GlobalOptions& options) : options_(options) {}
    /// Ends the VRM session (logout) when one was opened.
    ~Session();

    /// The connected wrapper: the first call checks the options, reads the password and connects.
    /// Throws CommandError when that fails.
    fc::CFusionComputeWrapper& Wrapper();

    /// Throws CommandError when a signal interrupted the run (exit code 130 or 143); a command calls it
    /// between steps that it would otherwise go on with.
    void CheckInterrupted();

    /// Throws the library's last failure as a CommandError: "<what>: <last error> (error code N)".
    /// The exit code is 130/143 after a signal, else `exitCode`, else FailureExitCode() (1 or 4).
    [[noreturn]] void Fail(const std::string& what, int exitCode = -1);
    /// Whether the library's last failure says that the object named does not exist.
    bool LastFailureIsNotFound() const;
    /// Checks a library result: returns when `ok`, otherwise Fail(what).
    void Check(bool ok, const std::string& what) {
        if (!ok) Fail(what);
    }

    /// The detail mask: `base` plus the names given with --details. Throws a usage error for an
    /// unknown name.
    fc::UINT64 Details(fc::UINT64 base) const;
    /// Whether --details named any of `flags`.
    bool DetailsAsk(fc::UINT64 flags) const { return (Details(0) & flags) != 0; }

    bool Json() const { return options_.json; }
    std::ostream& Out();
    const GlobalOptions& options() const { return options_; }

    /// The command chosen on the command line, run by main after parsing.
    std::function<void()> action;

  private:
    GlobalOptions& options_;
    std::unique_ptr<fc::CFusionComputeWrapper> wrapper_;
};

}  // namespace fcctl

#endif  // FCCTL_SESSION_H
