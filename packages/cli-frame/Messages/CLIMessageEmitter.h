#pragma once

#include <exception>
#include <optional>
#include <string>

#include "cli-frame/Logging/Logger.h"
#include "cli-frame/Messages/CLIMessage.h"
#include "cli-frame/Messages/ErrorPayload.h"
#include "cli-frame/Messages/StatusPayload.h"

namespace cli {

// The only writer of standard output. Every line is written with one write call under
// a process-wide lock, so lines emitted from several threads never interleave. A line
// that cannot be written is logged at ERROR and remembered for the exit status.
class CLIMessageEmitter {
public:
    CLIMessageEmitter(Logger logger, std::optional<std::string> logPath, int outputFd = 1)
        : logger_(std::move(logger)), logPath_(std::move(logPath)), outputFd_(outputFd) {}

    void emit(const CLIMessage& message) const;
    // A status line with this emitter's log path.
    void emitStatus(StatusPayload payload) const;

    // An error line for a failure: a CodedError gives its own code and message, any other
    // exception `fallbackCode` and its description.
    void emitFailure(const std::exception& failure, const std::string& fallbackCode) const;
    void emitError(std::string code, std::string message, std::optional<AnyEncodable> details = std::nullopt) const;

    int outputFd() const { return outputFd_; }

    // Whether any emitter of this process failed to write a line.
    static bool hasLostOutput();

private:
    Logger logger_;
    std::optional<std::string> logPath_;
    int outputFd_;
};

}  // namespace cli
