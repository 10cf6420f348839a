#include "hushline/Commands/MuteCommand.h"

#include "hushline/Commands/DeviceData.h"

namespace hushline {

int MuteCommand::run() {
    context_.logger.info("执行 mute 指令");
    StateStore& store = *context_.stateStore;
    const auto lock = store.lockAndReload();
    if (!lock) {
        context_.emitter.emitFailure(CLIError(CLIError::Case::muteFailed), "apple_audio_mute_failed");
        return 0;
    }

    AudioStateSnapshot present;
    try {
        present = context_.audioController.stateBeforeMute();
    } catch (const std::exception& failure) {
        context_.emitter.emitFailure(failure, "apple_audio_mute_failed");
        return 0;
    }

    // A snapshot still waiting for its restore holds the state before the first mute; the
    // device is likely silent by now, and recording it again would lose the user's volume.
    const std::optional<AudioStateSnapshot> pending = store.load();
    const bool keepPending = pending && pending->deviceID == present.deviceID;
    if (keepPending) {
        context_.logger.info("保留尚未恢复的静音快照");
    } else if (!store.save(present)) {
        // The record goes first: without it a later restore could only guess the volume.
        context_.logger.error("静音快照未能保存，放弃本次静音");
        context_.emitter.emitFailure(CLIError(CLIError::Case::muteFailed), "apple_audio_mute_failed");
        return 0;
    }

    std::string method;
    try {
        method = context_.audioController.silence(present);
    } catch (const std::exception& failure) {
        if (!keepPending) takeBackSnapshot(pending, present);
        context_.emitter.emitFailure(failure, "apple_audio_mute_failed");
        return 0;
    }

    const AudioStateSnapshot& before = keepPending ? *pending : present;
    cli::Json previousVolumes = cli::Json::object();
    if (before.mainVolume) previousVolumes["main"] = *before.mainVolume;
    if (before.leftVolume) previousVolumes["left"] = *before.leftVolume;
    if (before.rightVolume) previousVolumes["right"] = *before.rightVolume;
    if (before.muted) previousVolumes["muted"] = *before.muted;
    cli::Json data = deviceData(before.deviceID, before.deviceName);
    data["method"] = method;
    data["previousVolumes"] = std::move(previousVolumes);
    context_.emitter.emitStatus({.stage = "muted", .data = std::move(data)});
    return 0;
}

void MuteCommand::takeBackSnapshot(const std::optional<AudioStateSnapshot>& previous,
                                   const AudioStateSnapshot& recorded) {
    // A mute that failed half way (one channel silenced, the other refused) keeps its record,
    // so that the restore can still undo it.
    const AudioStateSnapshot now = context_.audioController.currentState();
    const bool unchanged = now.deviceID == recorded.deviceID && now.mainVolume == recorded.mainVolume &&
                           now.leftVolume == recorded.leftVolume && now.rightVolume == recorded.rightVolume &&
                           now.muted == recorded.muted;
    if (!unchanged) {
        context_.logger.error("静音未完成但设备已被改动，保留快照以便恢复");
        return;
    }
    if (previous) {
        context_.stateStore->save(*previous);
    } else {
        context_.stateStore->clear();
    }
}

}  // namespace hushline
