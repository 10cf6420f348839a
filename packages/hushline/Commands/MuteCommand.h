#pragma once

#include <optional>

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "hushline/Commands/CommandContext.h"

namespace hushline {

// Records the default output device in the store, then silences it and reports it as "muted".
// A snapshot still pending for the same device is kept: it holds the state before the first mute.
class MuteCommand : public cli::CLIExecutableCommand {
public:
    explicit MuteCommand(CommandContext context) : context_(std::move(context)) {}
    // 0 even after a failure: the host reads the error line, not the status.
    int run() override;

private:
    // Puts the store back as it was before this mute, unless the failed mute changed the device.
    void takeBackSnapshot(const std::optional<AudioStateSnapshot>& previous, const AudioStateSnapshot& recorded);

    CommandContext context_;
};

}  // namespace hushline
