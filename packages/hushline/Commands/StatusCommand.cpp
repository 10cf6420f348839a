#include "hushline/Commands/StatusCommand.h"

#include "hushline/Runtime/CLITypes.h"

namespace hushline {

void to_json(cli::Json& json, const AudioStatusPayload& value) {
    json = cli::Json::object();
    json["deviceId"] = value.deviceId;
    if (value.deviceName) json["deviceName"] = *value.deviceName;
    if (value.mainVolume) json["mainVolume"] = *value.mainVolume;
    if (value.leftVolume) json["leftVolume"] = *value.leftVolume;
    if (value.rightVolume) json["rightVolume"] = *value.rightVolume;
    if (value.muted) json["muted"] = *value.muted;
    json["hasPendingSnapshot"] = value.hasPendingSnapshot;
}

int StatusCommand::run() {
    context_.logger.info("执行 status 指令");
    const AudioStateSnapshot state = context_.audioController.currentState();
    context_.emitter.emit(cli::CLIMessage::status(StatusPayload{
        .stage = "audio-status",
        .logPath = context_.emitter.logPath(),
        .data = AudioStatusPayload{state.deviceID, state.deviceName, state.mainVolume, state.leftVolume,
                                   state.rightVolume, state.muted, context_.stateStore->load().has_value()},
    }));
    return 0;
}

}  // namespace hushline
