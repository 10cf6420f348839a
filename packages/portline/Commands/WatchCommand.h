#pragma once

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "portline/Commands/CommandContext.h"

namespace portline {

// `watch`: one event line per change of the device list or the default input device,
// between a "ready" and a "stopped" line, until SIGINT or SIGTERM.
class WatchCommand final : public cli::CLIExecutableCommand {
public:
    explicit WatchCommand(CommandContext context) : context_(std::move(context)) {}

    // Returns 0 once a stop signal has arrived and the watch has ended.
    int run() override;

private:
    void runWatchLoop() const;

    CommandContext context_;
};

}  // namespace portline
