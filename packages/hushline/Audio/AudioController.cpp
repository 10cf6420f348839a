#include "hushline/Audio/AudioController.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace hushline {

using audiohw::Device;

AudioController::AudioController(std::shared_ptr<audiohw::AudioHardware> hardware, cli::Logger logger)
    : hardware_(std::move(hardware)), logger_(std::move(logger)) {}

// --- Reading -----------------------------------------------------------------------------

std::optional<audiohw::HardwareSnapshot> AudioController::readHardware() const {
    auto state = hardware_->snapshot();
    if (!state) logger_.error("声音服务器无法连接或没有应答");
    return state;
}

Device AudioController::defaultOutputDevice() const {
    const auto state = readHardware();
    const Device* device = state ? state->defaultOutputDevice() : nullptr;
    if (device == nullptr) throw CLIError(CLIError::Case::deviceUnavailable);
    return *device;
}

std::optional<Device> AudioController::presentDevice(audiohw::DeviceID deviceID) const {
    const auto state = readHardware();
    const Device* device = state ? state->device(deviceID) : nullptr;
    return device == nullptr ? std::nullopt : std::optional<Device>(*device);
}

AudioStateSnapshot AudioController::snapshot(const Device& device) const {
    const auto channel = [&](std::size_t index) -> std::optional<double> {
        if (index >= device.channelVolumes.size()) return std::nullopt;
        return device.channelVolumes[index];
    };
    AudioStateSnapshot state;
    state.deviceID = device.id;
    state.deviceName = device.name;
    state.mainVolume = device.mainVolume;
    state.leftVolume = channel(0);
    state.rightVolume = channel(1);
    state.muted = device.muted;
    state.createdAt = secondsSinceReferenceDate(std::chrono::system_clock::now());
    return state;
}

AudioStateSnapshot AudioController::currentState() const {
    try {
        return snapshot(defaultOutputDevice());
    } catch (const CLIError&) {
        AudioStateSnapshot none;
        none.createdAt = secondsSinceReferenceDate(std::chrono::system_clock::now());
        return none;
    }
}

// --- Writing -----------------------------------------------------------------------------

namespace {

// A write the hardware refused fails the operation; nothing is retried.
bool written(bool accepted) {
    if (!accepted) throw CLIError(CLIError::Case::muteFailed);
    return true;
}

}  // namespace

bool AudioController::setMuteIfSupported(const Device& device, bool mute) const {
    return device.hasMuteSwitch() && written(hardware_->setMute(device.id, mute));
}

bool AudioController::setMainVolumeIfSupported(const Device& device, double value) const {
    return device.hasMainVolume() &&
           written(hardware_->setVolumes(device.id, audiohw::MainVolume{static_cast<float>(value)}));
}

bool AudioController::setChannelVolumesIfSupported(const Device& device, std::optional<double> left,
                                                   std::optional<double> right) const {
    // Channels are written from the first on; one not given keeps the volume it had.
    const std::size_t channels = std::min<std::size_t>(device.channelVolumes.size(), right ? 2 : 1);
    if (channels == 0 || (!left && channels < 2)) return false;
    std::vector<float> values{left ? static_cast<float>(*left) : device.channelVolumes[0]};
    if (channels == 2) values.push_back(static_cast<float>(*right));
    return written(hardware_->setVolumes(device.id, audiohw::ChannelVolumes{std::move(values)}));
}

std::string AudioController::applyMute(const Device& device) const {
    // The first means the device offers wins; a refused write is not followed by another means.
    if (setMuteIfSupported(device, true)) return "mute-property";
    if (setMainVolumeIfSupported(device, 0.0)) return "main-volume-zero";
    if (setChannelVolumesIfSupported(device, 0.0, 0.0)) return "channel-volume-zero";
    throw CLIError(CLIError::Case::propertyUnavailable);
}

void AudioController::apply(const AudioStateSnapshot& state, const Device& device) const {
    // The switch goes first, so a device silenced through it is heard again only once the
    // volumes are back as well.
    bool wrote = false;
    if (state.muted && setMuteIfSupported(device, *state.muted)) wrote = true;
    if (state.mainVolume && setMainVolumeIfSupported(device, *state.mainVolume)) wrote = true;
    if (setChannelVolumesIfSupported(device, state.leftVolume, state.rightVolume)) wrote = true;
    if (!wrote) throw CLIError(CLIError::Case::propertyUnavailable);
}

bool AudioController::applySafeVolume(const Device& device) const {
    logger_.info("尝试应用 50% 安全音量作为兜底");
    bool changed = false;
    try {
        if (setMuteIfSupported(device, false)) changed = true;
    } catch (const CLIError& failure) {
        logger_.error(std::string("清除静音失败：") + failure.what());
    }
    try {
        if (setMainVolumeIfSupported(device, safetyVolume)) changed = true;
    } catch (const CLIError& failure) {
        logger_.error(std::string("设置主音量失败：") + failure.what());
    }
    try {
        if (setChannelVolumesIfSupported(device, safetyVolume, safetyVolume)) changed = true;
    } catch (const CLIError& failure) {
        logger_.error(std::string("设置声道音量失败：") + failure.what());
    }
    return changed;
}

// --- Operations --------------------------------------------------------------------------

AudioStateSnapshot AudioController::stateBeforeMute() const {
    logger_.info("准备静音默认输出设备");
    return snapshot(defaultOutputDevice());
}

std::string AudioController::silence(const AudioStateSnapshot& before) const {
    const std::optional<Device> device = presentDevice(before.deviceID);
    if (!device) throw CLIError(CLIError::Case::propertyUnavailable);
    std::string method = applyMute(*device);
    logger_.info("静音完成 device=" + before.deviceName.value_or("unknown") + " 方法=" + method);
    return method;
}

RestoreOutcome AudioController::restore(const std::optional<AudioStateSnapshot>& state) const {
    logger_.info("准备恢复系统音量");
    RestoreOutcome outcome;
    std::optional<Device> device;
    try {
        device = defaultOutputDevice();
    } catch (const CLIError&) {
        logger_.error("恢复失败：找不到默认输出设备");
        outcome.usedSnapshot = state.has_value();
        outcome.error = CLIError::Case::deviceUnavailable;
        return outcome;
    }
    outcome.deviceID = device->id;
    outcome.deviceName = device->name;

    if (!state) {
        logger_.error("恢复失败：缺少静音前的快照");
        outcome.fallbackApplied = applySafeVolume(*device);
        outcome.error = CLIError::Case::stateMissing;
        return outcome;
    }
    outcome.usedSnapshot = true;

    CLIError::Case failure = CLIError::Case::restoreFailed;
    std::string description;
    try {
        // Another device's volumes mean nothing here.
        if (state->deviceID != device->id) throw CLIError(CLIError::Case::restoreFailed);
        apply(*state, *device);
        logger_.info("按照快照恢复完成");
        return outcome;
    } catch (const CLIError& error) {
        failure = error.errorCase();
        description = error.what();
    } catch (const std::exception& error) {
        description = error.what();
    }
    logger_.error("恢复失败：" + description);
    outcome.fallbackApplied = applySafeVolume(*device);
    outcome.error = failure;
    return outcome;
}

}  // namespace hushline
