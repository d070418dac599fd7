#include "Session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "Details.h"
#include "Progress.h"
#include "Table.h"

namespace fcctl {

void UsageError(const std::string& message) {
    throw CommandError(kExitUsage, message);
}

namespace {

// A password is short; a larger "password file" is not one (and must not be read whole into memory).
constexpr std::size_t kPasswordFileLimit = 4096;

// The first line of what `fd` gives, read up to the limit.
bool ReadFirstLine(int fd, std::string& line) {
    std::string text;
    char buffer[512];
    while (text.size() < kPasswordFileLimit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof(buffer), kPasswordFileLimit - text.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.find('\n') != std::string::npos) break;
    }
    line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    text.assign(text.size(), '\0');
    return true;
}

// Asks for the password on the terminal of standard input, without echo.
bool PromptPassword(std::string& password) {
    termios saved{};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) return false;
    termios silent = saved;
    silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    std::cerr << "Password: " << std::flush;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    const bool read = ReadFirstLine(STDIN_FILENO, password);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::cerr << '\n';
    return read;
}

}  // namespace

bool ReadPassword(const std::string& passwordFile, std::string& password, std::string& error) {
    password.clear();
    if (passwordFile == "-") {
        if (!ReadFirstLine(STDIN_FILENO, password) || password.empty()) {
            error = "no password on standard input";
            return false;
        }
        return true;
    }
    if (!passwordFile.empty()) {
        const int fd = ::open(passwordFile.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0 || !ReadFirstLine(fd, password)) {
            if (fd >= 0) ::close(fd);
            error = "cannot read the password file " + passwordFile;
            return false;
        }
        ::close(fd);
        if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
            std::cerr << "fcctl: warning: the password file " << passwordFile
                      << " may be read by group or others (chmod 600 it)\n";
        }
        if (password.empty()) {
            error = "the password file " + passwordFile + " is empty";
            return false;
        }
        return true;
    }
    const char* fromEnv = std::getenv(kPasswordEnv);
    if (fromEnv != nullptr && *fromEnv != '\0') {
        password = fromEnv;
        return true;
    }
    if (::isatty(STDIN_FILENO) == 1 && PromptPassword(password) && !password.empty()) return true;
    error =
        std::string("no password: give --password-file FILE (- for standard input) or set ") + kPasswordEnv;
    return false;
}

namespace {

volatile std::sig_atomic_t interruptSignal = 0;
volatile std::sig_atomic_t signalCount = 0;
// The wrapper whose call a signal cancels; lock-free, so the handler may read it.
std::atomic<fc::CFusionComputeWrapper*> cancelTarget{nullptr};
static_assert(std::atomic<fc::CFusionComputeWrapper*>::is_always_lock_free, "read in a signal handler");

extern "C" void OnSignal(int signal) {
    signalCount = signalCount + 1;
    if (signalCount >= 3) _exit(InterruptExitCode(signal));
    if (signalCount > 1) return;
    interruptSignal = signal;
    fc::CFusionComputeWrapper* wrapper = cancelTarget.load();
    if (wrapper != nullptr) wrapper->Cancel();
}

}  // namespace

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int InterruptSignal() {
    return static_cast<int>(interruptSignal);
}

Session::~Session() {
    cancelTarget.store(nullptr);
    // Real VRMs limit the sessions of a user: every run gives its session back.
    if (wrapper_) wrapper_->Logout();
}

void Session::CheckInterrupted() {
    const int signal = InterruptSignal();
    if (signal == 0) return;
    throw CommandError(InterruptExitCode(signal),
                       std::string("interrupted by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
}

namespace {

// The transport settings given on the command line or in the environment; what is not given stays unset
// so that the configuration file's value (FCSDK_CONFIG) holds.
fc::SConnectionOptionsLib ConnectionOptionsOf(const GlobalOptions& options) {
    fc::SConnectionOptionsLib connection;
    if (!options.caFile.empty()) connection.caFile = options.caFile;
    if (options.insecure) connection.verifyPeer = false;
    if (options.port != 0) connection.port = options.port;
    if (!options.connectTo.empty()) connection.connectTo = options.connectTo;
    return connection;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The exit code of a failed Connect(). The library prefixes a login that the VRM answered with an error
// "Login refused: "; a failure before any answer from the VRM leaves the code 0 (the code only ever comes
// from a VRM error body) and describes what the transport saw; a host or connect-to text that the
// library rejects is the caller's mistake.
int ConnectExitCode(const std::string& lastError, long long code) {
    if (StartsWith(lastError, "Login refused: ")) return kExitAuth;
    if (StartsWith(lastError, "Invalid host") || StartsWith(lastError, "Malformed connect-to")) {
        return kExitUsage;
    }
    return code == 0 ? kExitConnection : kExitFailed;
}

// What the operator most likely has to change after a failed Connect(), or empty.
std::string ConnectHint(const std::string& lastError, int exitCode) {
    if (exitCode == kExitAuth) return "check the user name and the password";
    if (exitCode != kExitConnection) return std::string();
    const std::string error = Lower(lastError);
    const auto mentions = [&error](const char* word) { return error.find(word) != std::string::npos; };
    if (mentions("certificate") || mentions("ssl")) {
        if (mentions("subject name") || mentions("host name")) {
            return "the VRM's certificate does not name this host: give the name the certificate "
                   "holds with --host (and --connect-to HOST:PORT:ADDRESS:PORT to reach it by address)";
        }
        return "the VRM's certificate is not trusted: give its CA with --ca-file FILE (or FCCTL_CA_FILE)";
    }
    return "check --host, --port (default 7443) and --connect-to, and that the VRM can be reached";
}

// The VRM's error code for an object (a URN, a URI) that does not exist.
constexpr long long kVrmObjectNotFound = 10300006;

}  // namespace

fc::CFusionComputeWrapper& Session::Wrapper() {
    if (wrapper_) return *wrapper_;
    if (options_.host.empty()) UsageError("no VRM host: give --host HOST (or set FCCTL_HOST)");
    if (options_.user.empty()) UsageError("no user: give --user NAME (or set FCCTL_USER)");
    Details(0);  // reject a bad --details before anything is sent
    std::string password, error;
    if (!ReadPassword(options_.passwordFile, password, error)) UsageError(error);

    if (options_.debug) fc::SetLogLevel(2);
    auto wrapper = std::make_unique<fc::CFusionComputeWrapper>();
    if (options_.debug) wrapper->EnableDebug();
    wrapper->SetProgressCallback(&ReportWaitProgress);
    if (!wrapper->SetConnectionOptions(ConnectionOptionsOf(options_))) UsageError(wrapper->GetLastError());
    if (options_.insecure) {
        std::cerr << "fcctl: warning: --insecure: the VRM's certificate is not checked; anyone on the way "
                     "can pose as the VRM and read the password\n";
    }
    cancelTarget.store(wrapper.get());
    const bool connected = wrapper->Connect(options_.host, options_.user, password);
    // The password is not needed any more; do not keep it around longer than necessary.
    password.assign(password.size(), '\0');
    wrapper_ = std::move(wrapper);
    cancelTarget.store(wrapper_.get());
    if (!connected && InterruptSignal() != 0) Fail("cannot connect to " + options_.host);
    if (!connected) {
        std::string message = "cannot connect to " + options_.host + " as " + options_.user;
        const std::string lastError = wrapper_->GetLastError();
        const int exitCode = ConnectExitCode(lastError, wrapper_->GetLastErrorCode());
        if (!lastError.empty()) message += ": " + lastError;
        message += " (error code " + std::to_string(wrapper_->GetLastErrorCode()) + ")";
        std::string hint = ConnectHint(lastError, exitCode);
        if (!options_.debug)
            hint += std::string(hint.empty() ? "" : "; ") + "run with --debug to see the requests";
        throw CommandError(exitCode, message, hint);
    }
    return *wrapper_;
}

bool Session::LastFailureIsNotFound() const {
    if (!wrapper_) return false;
    // The library's lookup of an object by name, URN or UUID answers these when the VRM lists none.
    const std::string lastError = wrapper_->GetLastError();
    return lastError == "No objects found" || lastError == "incorrect object found" ||
           wrapper_->GetLastErrorCode() == kVrmObjectNotFound;
}

void Session::Fail(const std::string& what, int exitCode) {
    std::string message = what;
    if (wrapper_) {
        const std::string lastError = wrapper_->GetLastError();
        message += ": " + (lastError.empty() ? std::string("no message from the library") : lastError);
        message += " (error code " + std::to_string(wrapper_->GetLastErrorCode()) + ")";
    }
    const int signal = InterruptSignal();
    if (signal != 0) {
        throw CommandError(
            InterruptExitCode(signal),
            std::string("interrupted by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") + ": " + message);
    }
    if (exitCode < 0) exitCode = LastFailureIsNotFound() ? kExitNotFound : kExitFailed;
    throw CommandError(exitCode, message);
}

fc::UINT64 Session::Details(fc::UINT64 base) const {
    fc::UINT64 flags = 0;
    std::string error;
    if (!ParseDetails(options_.details, flags, error)) UsageError("--details: " + error);
    return base | flags;
}

std::ostream& Session::Out() {
    return std::cout;
}

}  // namespace fcctl
