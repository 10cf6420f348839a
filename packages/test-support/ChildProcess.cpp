#include "test-support/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

// This process's environment with `overrides` on top, as "NAME=value" entries.
std::vector<std::string> buildEnvironment(const Environment& overrides) {
    Environment inherited;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (const auto equals = text.find('='); equals != std::string::npos)
            inherited[text.substr(0, equals)] = text.substr(equals + 1);
    }
    std::vector<std::string> result;
    for (const auto& [name, value] : merged({inherited, overrides}))
        if (value) result.push_back(name + "=" + *value);
    return result;
}

void throwErrno(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

Environment merged(std::initializer_list<Environment> layers) {
    Environment result;
    for (const Environment& layer : layers)
        for (const auto& [name, value] : layer) result[name] = value;
    return result;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> result;
    std::string::size_type start = 0;
    while (start < text.size()) {
        const auto end = std::min(text.find('\n', start), text.size());
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

ChildProcess::ChildProcess(const std::string& program, const ProcessOptions& options) {
    // A child that stops reading must make our writes fail, not kill the test runner.
    [[maybe_unused]] static const bool ignoringBrokenPipes = [] { return ::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
    // For each standard descriptor: the pipe's ends (the child's, the test's), or -1.
    int childEnd[3] = {-1, -1, -1};
    int testEnd[3] = {-1, -1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int descriptor = 0; descriptor < 3; ++descriptor) {
        int source = options.standardDescriptors[static_cast<std::size_t>(descriptor)];
        if (source == closedDescriptor) {
            posix_spawn_file_actions_addclose(&actions, descriptor);
            continue;
        }
        if (source == pipeToTest) {
            int ends[2];
            if (pipe2(ends, O_CLOEXEC) != 0) throwErrno("pipe2");
            bool childReads = descriptor == STDIN_FILENO;
            childEnd[descriptor] = ends[childReads ? 0 : 1];
            testEnd[descriptor] = ends[childReads ? 1 : 0];
            source = childEnd[descriptor];
        }
        posix_spawn_file_actions_adddup2(&actions, source, descriptor);
    }

    // The child starts with default signal dispositions whatever the test runner changed.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signalNumber : {SIGPIPE, SIGINT, SIGTERM}) sigaddset(&defaults, signalNumber);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t empty;
    sigemptyset(&empty);
    posix_spawnattr_setsigmask(&attributes, &empty);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    // Null-terminated arrays of pointers into the strings, as posix_spawn takes them.
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (auto& text : strings) result.push_back(text.data());
        result.push_back(nullptr);
        return result;
    };
    std::vector<std::string> argumentStrings{program};
    argumentStrings.insert(argumentStrings.end(), options.arguments.begin(), options.arguments.end());
    auto environmentStrings = buildEnvironment(options.environment);
    const auto argv = pointers(argumentStrings), envp = pointers(environmentStrings);

    int spawnError = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (int end : childEnd)
        if (end >= 0) close(end);
    inputFd_ = testEnd[STDIN_FILENO];
    if (inputFd_ >= 0) fcntl(inputFd_, F_SETFL, fcntl(inputFd_, F_GETFL) | O_NONBLOCK);
    outputFd_ = testEnd[STDOUT_FILENO];
    errorFd_ = testEnd[STDERR_FILENO];
    if (spawnError != 0) {
        errno = spawnError;
        throwErrno(("posix_spawn " + program).c_str());
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {inputFd_, outputFd_, errorFd_})
        if (fd >= 0) close(fd);
}

bool ChildProcess::write(const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        if (inputFd_ < 0) return false;
        // Keep reading the child's output while writing, so that neither side can fill
        // its pipe and wait on the other.
        pollfd fds[3] = {{inputFd_, POLLOUT, 0}, {outputFd_, POLLIN, 0}, {errorFd_, POLLIN, 0}};
        if (poll(fds, 3, 1000) < 0 && errno != EINTR) return false;
        if (fds[1].revents != 0 || fds[2].revents != 0) pump(std::chrono::milliseconds(0));
        if ((fds[0].revents & (POLLERR | POLLHUP)) != 0) return false;
        if ((fds[0].revents & POLLOUT) == 0) continue;
        const ssize_t count = ::write(inputFd_, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno != EINTR && errno != EAGAIN) return false;
        if (count > 0) written += static_cast<std::size_t>(count);
    }
    return true;
}

void ChildProcess::closeInput() {
    if (inputFd_ >= 0) close(inputFd_);
    inputFd_ = -1;
}

void ChildProcess::pump(std::chrono::milliseconds timeout) {
    pollfd fds[2] = {{outputFd_, POLLIN, 0}, {errorFd_, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(timeout.count())) <= 0) return;
    char buffer[65536];
    for (auto& fd : fds) {
        if (fd.fd < 0 || (fd.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        ssize_t count = read(fd.fd, buffer, sizeof buffer);
        bool isOutput = fd.fd == outputFd_;
        if (count <= 0) {
            close(fd.fd);
            (isOutput ? outputFd_ : errorFd_) = -1;
            continue;
        }
        (isOutput ? outputAll_ : errorAll_).append(buffer, static_cast<std::size_t>(count));
    }
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (true) {
        if (const auto end = outputAll_.find('\n', lineStart_); end != std::string::npos) {
            std::string line = outputAll_.substr(lineStart_, end - lineStart_);
            lineStart_ = end + 1;
            return line;
        }
        if (outputFd_ < 0) return std::nullopt;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        pump(left);
    }
}

void ChildProcess::signal(int signalNumber) {
    if (pid_ > 0) kill(pid_, signalNumber);
}

ProcessResult ChildProcess::wait(std::chrono::milliseconds timeout) {
    ProcessResult result;
    auto deadline = Clock::now() + timeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) != pid_) {
        if (Clock::now() >= deadline) {
            result.timedOut = true;
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        if (outputFd_ >= 0 || errorFd_ >= 0) pump(std::chrono::milliseconds(10));
        else usleep(2000);
    }
    pid_ = -1;
    // Collect what the child wrote before it ended; a grandchild holding the pipes must not stall us.
    auto drainDeadline = Clock::now() + std::chrono::milliseconds(500);
    while ((outputFd_ >= 0 || errorFd_ >= 0) && Clock::now() < drainDeadline) pump(std::chrono::milliseconds(50));
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.termSignal = WTERMSIG(status);
    result.standardOutput = outputAll_;
    result.standardError = errorAll_;
    return result;
}

ProcessResult runProcess(const std::string& program, const ProcessOptions& options, const std::string& input,
                         std::chrono::milliseconds timeout) {
    ChildProcess child(program, options);
    child.write(input);
    child.closeInput();
    return child.wait(timeout);
}

}  // namespace testsupport
