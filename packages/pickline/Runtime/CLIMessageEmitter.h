#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "cli-frame/Messages/CLIMessage.h"
#include "cli-frame/Messages/ErrorPayload.h"
#include "pickline/Runtime/CLITypes.h"

namespace pickline {

// Writes pickline's line with the frame's JSON writer: compact, object keys sorted and "/"
// escaped, so the host reads the same bytes whatever produced them.
class CLIMessageEmitter {
public:
    // Written instead when a message cannot be encoded (for example text that is not UTF-8).
    static constexpr std::string_view fallbackLine =
        R"({"type":"error","payload":{"code":"INTERNAL_ERROR","message":"Failed to encode output"}})";

    explicit CLIMessageEmitter(std::ostream& output) : output_(output) {}

    void emit(const cli::CLIMessage& message);

    // Whether a line could not be written; the process then ends with status 1.
    bool hasLostOutput() const { return outputLost_; }

private:
    std::ostream& output_;
    bool outputLost_ = false;
};

}  // namespace pickline
