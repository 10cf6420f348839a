#include "hushline/Commands/MuteCommand.h"

#include "hushline/Runtime/CLITypes.h"

namespace hushline {

void to_json(cli::Json& json, const VolumeSnapshot& value) {
    json = cli::Json::object();
    if (value.main) json["main"] = *value.main;
    if (value.left) json["left"] = *value.left;
    if (value.right) json["right"] = *value.right;
    if (value.muted) json["muted"] = *value.muted;
}

void to_json(cli::Json& json, const MutePayload& value) {
    json = cli::Json::object();
    json["deviceId"] = value.deviceId;
    if (value.deviceName) json["deviceName"] = *value.deviceName;
    json["method"] = value.method;
    json["previousVolumes"] = value.previousVolumes;
}

void MuteCommand::run() {
    context_.logger.info("执行 mute 指令");
    MuteOutcome outcome;
    try {
        outcome = context_.audioController.mute();
    } catch (const std::exception& failure) {
        context_.emitter.emitFailure(failure, "apple_audio_mute_failed");
        return;
    }

    if (!context_.stateStore->save(outcome.snapshot)) {
        // Without the record a later restore could only guess the volume, so the mute is
        // taken back and reported as failed instead of as done.
        context_.logger.error("静音快照未能保存，撤销本次静音");
        try {
            context_.audioController.undoMute(outcome.snapshot);
        } catch (const std::exception& failure) {
            context_.logger.error(std::string("撤销静音失败：") + failure.what());
        }
        context_.emitter.emitFailure(CLIError(CLIError::Case::muteFailed), "apple_audio_mute_failed");
        return;
    }

    const AudioStateSnapshot& before = outcome.snapshot;
    context_.emitter.emit(cli::CLIMessage::status(StatusPayload{
        .stage = "muted",
        .logPath = context_.emitter.logPath(),
        .data = MutePayload{before.deviceID, before.deviceName, outcome.method,
                            VolumeSnapshot{before.mainVolume, before.leftVolume, before.rightVolume, before.muted}},
    }));
}

}  // namespace hushline
