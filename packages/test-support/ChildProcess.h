#pragma once

#include <array>
#include <chrono>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace testsupport {

// What the child gets as its standard input, output or error: a pipe to the test (the
// default), nothing (closed), or any other value: that descriptor of the test process.
inline constexpr int pipeToTest = -1;
inline constexpr int closedDescriptor = -2;

// Variables to set (a value) or remove (nullopt) on top of this process's environment.
using Environment = std::map<std::string, std::optional<std::string>>;

// The variables of all `layers`, a later layer winning over an earlier one.
Environment merged(std::initializer_list<Environment> layers);

// `text` split at line feeds; a final unterminated piece is kept.
std::vector<std::string> splitLines(const std::string& text);

struct ProcessOptions {
    std::vector<std::string> arguments;
    Environment environment;
    std::array<int, 3> standardDescriptors{pipeToTest, pipeToTest, pipeToTest};
};

struct ProcessResult {
    int exitStatus = -1;   // exit code, or -1 when the child was killed by a signal
    int termSignal = 0;    // signal that ended the child, 0 when it exited
    bool timedOut = false; // the child was killed because it outlived the timeout
    std::string standardOutput;
    std::string standardError;

    std::vector<std::string> lines() const { return splitLines(standardOutput); }
};

// A running child with pipes on its standard input, output and error.
// The destructor kills and reaps a child that is still running.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const ProcessOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Writes all bytes to the child's standard input; false when the pipe is closed.
    bool write(const std::string& bytes);
    void closeInput();

    // Next complete line of standard output (without its line feed), or nullopt when
    // none arrives within the timeout or the output ended.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);

    void signal(int signalNumber);

    // Waits for the child to end, draining its output; kills it after the timeout.
    ProcessResult wait(std::chrono::milliseconds timeout);

private:
    void pump(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int inputFd_ = -1;
    int outputFd_ = -1;
    int errorFd_ = -1;
    std::string outputAll_;      // everything read from standard output
    std::size_t lineStart_ = 0;  // where the next line for readLine starts in it
    std::string errorAll_;
};

// Runs a program to completion, feeding it `input` on standard input.
ProcessResult runProcess(const std::string& program, const ProcessOptions& options, const std::string& input = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace testsupport
