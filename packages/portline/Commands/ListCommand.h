#pragma once

#include <vector>

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "portline/Audio/AudioTypes.h"
#include "portline/Commands/CommandContext.h"

namespace portline {

struct ListResult {
    std::vector<AudioInputDevice> devices;
};

void to_json(cli::Json& json, const ListResult& result);

// `list`: every input device, the default marked.
class ListCommand final : public cli::CLIExecutableCommand {
public:
    explicit ListCommand(CommandContext context) : context_(std::move(context)) {}

    // Writes the result or error line; 1 after an error line.
    int run() override;

private:
    CommandContext context_;
};

}  // namespace portline
