#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "cli-frame/Json/Json.h"
#include "hushline/Commands/CommandContext.h"

namespace hushline {

// The state before muting, as the "muted" line reports it.
struct VolumeSnapshot {
    std::optional<double> main;
    std::optional<double> left;
    std::optional<double> right;
    std::optional<bool> muted;
};

struct MutePayload {
    std::uint32_t deviceId = 0;
    std::optional<std::string> deviceName;
    std::string method;
    VolumeSnapshot previousVolumes;
};

void to_json(cli::Json& json, const VolumeSnapshot& value);
void to_json(cli::Json& json, const MutePayload& value);

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
