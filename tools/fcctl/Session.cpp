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

#include "Details.h"

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
        if (!lastError.empty()) message += ": " + lastError;
        message += " (error code " + std::to_string(wrapper_->GetLastErrorCode()) + ")";
        if (!options_.debug) message += "; run with --debug to see the requests";
        throw CommandError(kExitFailed, message);
    }
    return *wrapper_;
}

void Session::Fail(const std::string& what) {
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
    throw CommandError(kExitFailed, message);
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
