#pragma once

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "portline/Audio/AudioTypes.h"
#include "portline/Commands/CommandContext.h"

namespace portline {

struct GetDefaultResult {
    AudioInputDevice device;
};

void to_json(cli::Json& json, const GetDefaultResult& result);

// `get-default`: the default input device.
class GetDefaultCommand final : public cli::CLIExecutableCommand {
public:
    explicit GetDefaultCommand(CommandContext context) : context_(std::move(context)) {}

    // Writes the result or error line; 1 after an error line.
    int run() override;

private:
    CommandContext context_;
};

}  // namespace portline
