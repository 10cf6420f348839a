#include "hushline/Commands/CommandRouter.h"

#include <array>
#include <string_view>
#include <utility>

#include "hushline/Commands/DeviceData.h"
#include "hushline/Commands/MuteCommand.h"
#include "hushline/Commands/RestoreCommand.h"

namespace hushline {
namespace {

// The default output device's present state and whether a restore is pending. Changes
// nothing and never fails.
int reportStatus(const CommandContext& context) {
    context.logger.info("执行 status 指令");
    const AudioStateSnapshot state = context.audioController.currentState();
    cli::Json data = deviceData(state.deviceID, state.deviceName);
    if (state.mainVolume) data["mainVolume"] = *state.mainVolume;
    if (state.leftVolume) data["leftVolume"] = *state.leftVolume;
    if (state.rightVolume) data["rightVolume"] = *state.rightVolume;
    if (state.muted) data["muted"] = *state.muted;
    data["hasPendingSnapshot"] = context.stateStore->load().has_value();
    context.emitter.emitStatus({.stage = "audio-status", .data = std::move(data)});
    return 0;
}

int mute(const CommandContext& context) { return MuteCommand(context).run(); }
int restore(const CommandContext& context) { return RestoreCommand(context).run(); }

using Command = int (*)(const CommandContext&);
constexpr std::array<std::pair<std::string_view, Command>, 2> commands{{{"mute", mute}, {"restore", restore}}};

}  // namespace

int runCommand(const CommandContext& context, const std::optional<std::string>& commandName) {
    for (const auto& [word, command] : commands) {
        if (commandName == word) return command(context);
    }
    return reportStatus(context);
}

}  // namespace hushline
