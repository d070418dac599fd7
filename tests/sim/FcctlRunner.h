#ifndef FCSDK_TESTS_SIM_FCCTLRUNNER_H
#define FCSDK_TESTS_SIM_FCCTLRUNNER_H

// Runs the fcctl executable as a child process with a chosen environment and collects its exit code,
// standard output and standard error.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace fcsdk_test {

/// What one fcctl run gave.
struct FcctlResult {
    int exitCode = -1;  ///< exit status, or -1 when the process did not exit normally
    std::string out;    ///< standard output
    std::string err;    ///< standard error
};

/// Runs `program` with `args`. The child gets this process's environment with `env` applied: a value
/// sets the variable, std::nullopt removes it. Standard input is /dev/null. `started`, when given, learns
/// the child's process id (to send it a signal from another thread).
inline FcctlResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                              const std::map<std::string, std::optional<std::string>>& env,
                              const std::function<void(pid_t)>& started = nullptr) {
    FcctlResult result;
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (env.count(name) == 0) envStrings.push_back(entry);
    }
    for (const auto& item : env) {
        if (item.second) envStrings.push_back(item.first + "=" + *item.second);
    }
    std::vector<char*> envp;
    for (std::string& entry : envStrings) envp.push_back(&entry[0]);
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStrings) argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        result.err = std::string("cannot start ") + program + ": " + std::strerror(spawned);
        return result;
    }
    if (started) started(pid);
    // Read both pipes together so that a child filling one of them never blocks.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

}  // namespace fcsdk_test

#endif  // FCSDK_TESTS_SIM_FCCTLRUNNER_H
