#include "hushline/Audio/AudioController.h"

#include <cstdint>
#include <utility>

namespace hushline {
namespace {

using audiohw::ObjectID;
using audiohw::PropertyAddress;

constexpr PropertyAddress kDefaultOutputDeviceAddress{audiohw::kPropertyDefaultOutputDevice, audiohw::kScopeGlobal,
                                                      audiohw::kElementMain};
constexpr PropertyAddress kNameAddress{audiohw::kPropertyName, audiohw::kScopeGlobal, audiohw::kElementMain};
constexpr PropertyAddress kMuteAddress{audiohw::kPropertyMute, audiohw::kScopeOutput, audiohw::kElementMain};
constexpr PropertyAddress kMainVolumeAddress{audiohw::kPropertyVirtualMainVolume, audiohw::kScopeOutput,
                                             audiohw::kElementMain};
constexpr audiohw::PropertyElement kLeftChannel = 1;
constexpr audiohw::PropertyElement kRightChannel = 2;

PropertyAddress channelVolumeAddress(audiohw::PropertyElement element) {
    return {audiohw::kPropertyVolumeScalar, audiohw::kScopeOutput, element};
}

}  // namespace

AudioController::AudioController(std::shared_ptr<audiohw::AudioHardware> hardware, cli::Logger logger, Clock clock)
    : hardware_(std::move(hardware)), logger_(std::move(logger)), clock_(std::move(clock)) {}

// --- Reading -----------------------------------------------------------------------------

ObjectID AudioController::defaultOutputDevice() const {
    ObjectID device = audiohw::kUnknownObject;
    std::uint32_t size = sizeof device;
    const audiohw::Status status =
        hardware_->getPropertyData(audiohw::kSystemObject, kDefaultOutputDeviceAddress, size, &device);
    if (status != audiohw::kNoError || device == audiohw::kUnknownObject) {
        throw CLIError(CLIError::Case::deviceUnavailable);
    }
    return device;
}

std::optional<double> AudioController::readVolumeIfSupported(ObjectID deviceID, audiohw::PropertySelector selector,
                                                             audiohw::PropertyElement element) const {
    const PropertyAddress address{selector, audiohw::kScopeOutput, element};
    if (!hardware_->hasProperty(deviceID, address)) return std::nullopt;
    float volume = 0.0F;
    std::uint32_t size = sizeof volume;
    const audiohw::Status status = hardware_->getPropertyData(deviceID, address, size, &volume);
    if (status == audiohw::kNoError) return static_cast<double>(volume);
    logger_.error("读取音量失败 selector=" + std::to_string(selector) + " element=" + std::to_string(element) +
                  " status=" + std::to_string(status));
    return std::nullopt;
}

std::optional<bool> AudioController::readMuteIfSupported(ObjectID deviceID) const {
    if (!hardware_->hasProperty(deviceID, kMuteAddress)) return std::nullopt;
    std::uint32_t muted = 0;
    std::uint32_t size = sizeof muted;
    const audiohw::Status status = hardware_->getPropertyData(deviceID, kMuteAddress, size, &muted);
    if (status == audiohw::kNoError) return muted != 0;
    logger_.error("读取静音状态失败 status=" + std::to_string(status));
    return std::nullopt;
}

std::optional<std::string> AudioController::deviceName(ObjectID deviceID) const {
    if (!hardware_->hasProperty(deviceID, kNameAddress)) return std::nullopt;
    std::optional<std::string> name;
    if (hardware_->getPropertyString(deviceID, kNameAddress, name) != audiohw::kNoError) return std::nullopt;
    return name;
}

AudioStateSnapshot AudioController::snapshot(ObjectID deviceID) const {
    AudioStateSnapshot state;
    state.deviceID = deviceID;
    state.mainVolume = readVolumeIfSupported(deviceID, audiohw::kPropertyVirtualMainVolume, audiohw::kElementMain);
    state.leftVolume = readVolumeIfSupported(deviceID, audiohw::kPropertyVolumeScalar, kLeftChannel);
    state.rightVolume = readVolumeIfSupported(deviceID, audiohw::kPropertyVolumeScalar, kRightChannel);
    state.muted = readMuteIfSupported(deviceID);
    state.deviceName = deviceName(deviceID);
    state.createdAt = secondsSinceReferenceDate(clock_());
    return state;
}

AudioStateSnapshot AudioController::currentState() const {
    ObjectID device = audiohw::kUnknownObject;
    try {
        device = defaultOutputDevice();
    } catch (const CLIError&) {
        AudioStateSnapshot none;
        none.createdAt = secondsSinceReferenceDate(clock_());
        return none;
    }
    return snapshot(device);
}

// --- Writing -----------------------------------------------------------------------------

bool AudioController::writeIfSupported(ObjectID deviceID, const PropertyAddress& address, const void* value) const {
    if (!hardware_->hasProperty(deviceID, address)) return false;
    if (hardware_->setPropertyData(deviceID, address, 4, value) != audiohw::kNoError) {
        throw CLIError(CLIError::Case::muteFailed);
    }
    return true;
}

bool AudioController::setMainVolumeIfSupported(ObjectID deviceID, double value) const {
    const auto narrowed = static_cast<float>(value);
    return writeIfSupported(deviceID, kMainVolumeAddress, &narrowed);
}

bool AudioController::setChannelVolumeIfSupported(ObjectID deviceID, audiohw::PropertyElement element,
                                                  double value) const {
    const auto narrowed = static_cast<float>(value);
    return writeIfSupported(deviceID, channelVolumeAddress(element), &narrowed);
}

bool AudioController::setMuteIfSupported(ObjectID deviceID, bool mute) const {
    const std::uint32_t value = mute ? 1 : 0;
    return writeIfSupported(deviceID, kMuteAddress, &value);
}

std::string AudioController::applyMute(ObjectID deviceID) const {
    // The first means the device offers wins; a refused write is not followed by another means.
    if (setMuteIfSupported(deviceID, true)) return "mute-property";
    if (setMainVolumeIfSupported(deviceID, 0.0)) return "main-volume-zero";
    const bool left = setChannelVolumeIfSupported(deviceID, kLeftChannel, 0.0);
    const bool right = setChannelVolumeIfSupported(deviceID, kRightChannel, 0.0);
    if (left || right) return "channel-volume-zero";
    throw CLIError(CLIError::Case::propertyUnavailable);
}

void AudioController::apply(const AudioStateSnapshot& state, ObjectID deviceID) const {
    // The switch goes first, so a device silenced through it is heard again only once the
    // volumes are back as well.
    bool wrote = false;
    if (state.muted && setMuteIfSupported(deviceID, *state.muted)) wrote = true;
    if (state.mainVolume && setMainVolumeIfSupported(deviceID, *state.mainVolume)) wrote = true;
    if (state.leftVolume && setChannelVolumeIfSupported(deviceID, kLeftChannel, *state.leftVolume)) wrote = true;
    if (state.rightVolume && setChannelVolumeIfSupported(deviceID, kRightChannel, *state.rightVolume)) wrote = true;
    if (!wrote) throw CLIError(CLIError::Case::propertyUnavailable);
}

bool AudioController::applySafeVolume(ObjectID deviceID) const {
    logger_.info("尝试应用 50% 安全音量作为兜底");
    bool changed = false;
    try {
        if (setMuteIfSupported(deviceID, false)) changed = true;
    } catch (const CLIError& failure) {
        logger_.error(std::string("清除静音失败：") + failure.what());
    }
    try {
        if (setMainVolumeIfSupported(deviceID, safetyVolume)) changed = true;
    } catch (const CLIError& failure) {
        logger_.error(std::string("设置主音量失败：") + failure.what());
    }
    try {
        if (setChannelVolumeIfSupported(deviceID, kLeftChannel, safetyVolume)) changed = true;
        if (setChannelVolumeIfSupported(deviceID, kRightChannel, safetyVolume)) changed = true;
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
    std::string method = applyMute(before.deviceID);
    logger_.info("静音完成 device=" + before.deviceName.value_or("unknown") + " 方法=" + method);
    return method;
}

RestoreOutcome AudioController::restore(const std::optional<AudioStateSnapshot>& state) const {
    logger_.info("准备恢复系统音量");
    RestoreOutcome outcome;
    ObjectID device = audiohw::kUnknownObject;
    try {
        device = defaultOutputDevice();
    } catch (const CLIError&) {
        logger_.error("恢复失败：找不到默认输出设备");
        outcome.usedSnapshot = state.has_value();
        outcome.error = CLIError::Case::deviceUnavailable;
        return outcome;
    }
    outcome.deviceID = device;
    outcome.deviceName = deviceName(device);

    if (!state) {
        logger_.error("恢复失败：缺少静音前的快照");
        outcome.fallbackApplied = applySafeVolume(device);
        outcome.error = CLIError::Case::stateMissing;
        return outcome;
    }
    outcome.usedSnapshot = true;

    CLIError::Case failure = CLIError::Case::restoreFailed;
    std::string description;
    try {
        // Another device's volumes mean nothing here.
        if (state->deviceID != device) throw CLIError(CLIError::Case::restoreFailed);
        apply(*state, device);
        logger_.info("按照快照恢复完成");
        return outcome;
    } catch (const CLIError& error) {
        failure = error.errorCase();
        description = error.what();
    } catch (const std::exception& error) {
        description = error.what();
    }
    logger_.error("恢复失败：" + description);
    outcome.fallbackApplied = applySafeVolume(device);
    outcome.error = failure;
    return outcome;
}

}  // namespace hushline
