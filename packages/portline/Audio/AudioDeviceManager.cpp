#include "portline/Audio/AudioDeviceManager.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace portline {
namespace {

using audiohw::Device;
using audiohw::HardwareSnapshot;

// How long a sound server may take to make a requested default its default (WirePlumber
// decides a moment after pipewire-pulse has accepted the request).
constexpr std::chrono::milliseconds kDefaultChangeTimeout{1000};

// Name and UID as a device record leaves the process; absent when either is missing.
std::optional<AudioInputDeviceBasic> describe(const Device& device) {
    if (!device.name || device.uid.empty()) return std::nullopt;
    return AudioInputDeviceBasic{device.uid, *device.name};
}

}  // namespace

HardwareSnapshot AudioDeviceManager::readHardware(CLIError::Case failure) const {
    std::optional<HardwareSnapshot> state = hardware_->snapshot();
    if (!state) throw CLIError(failure);
    return std::move(*state);
}

std::vector<AudioInputDevice> AudioDeviceManager::getAllInputDevices() const {
    logger_.info("获取所有输入设备");
    const HardwareSnapshot state = readHardware(CLIError::Case::enumFailed);
    std::vector<AudioInputDevice> devices;
    for (const Device& device : state.devices) {
        if (device.direction != audiohw::Direction::input || device.channels == 0) continue;  // cannot record
        const std::optional<AudioInputDeviceBasic> described = describe(device);
        if (!described) {
            logger_.error("无法获取设备 " + std::to_string(device.id) + " 的名称或 UID");
            continue;
        }
        devices.push_back({described->uid, described->name, device.id == state.defaultInput});
    }
    logger_.info("找到 " + std::to_string(devices.size()) + " 个输入设备");
    return devices;
}

AudioInputDevice AudioDeviceManager::getDefaultInputDevice() const {
    logger_.info("获取默认输入设备");
    const HardwareSnapshot state = readHardware(CLIError::Case::noDefaultDevice);
    const Device* device = state.defaultInputDevice();
    const std::optional<AudioInputDeviceBasic> described = device ? describe(*device) : std::nullopt;
    if (!described) throw CLIError(CLIError::Case::noDefaultDevice);
    return {described->uid, described->name, true};
}

SetDefaultResult AudioDeviceManager::setDefaultInputDevice(const std::string& uid) const {
    logger_.info("设置默认输入设备: " + uid);
    logger_.info("获取默认输入设备");
    const HardwareSnapshot state = readHardware(CLIError::Case::enumFailed);
    SetDefaultResult result;
    // An unreadable previous default only leaves it out of the result.
    if (const Device* previous = state.defaultInputDevice()) {
        result.previousDevice = describe(*previous);
    }

    const Device* device = state.deviceWithUID(uid);
    if (device == nullptr) throw CLIError::deviceNotFound(uid);
    // An output never records. Asked anyway, PipeWire's pulse server would make its monitor
    // the default input, which is no device of ours.
    if (device->direction != audiohw::Direction::input) throw CLIError(CLIError::Case::setDefaultFailed);
    if (!hardware_->setDefaultInput(uid)) throw CLIError(CLIError::Case::setDefaultFailed);
    if (!defaultInputBecomes(device->id)) {
        logger_.error("默认输入设备未能切换到: " + uid);
        throw CLIError(CLIError::Case::setDefaultFailed);
    }
    if (!device->name) {
        // The switch happened, but without a name it cannot be confirmed to the caller.
        logger_.error("默认输入设备已写入，但无法读取设备 " + std::to_string(device->id) + " 的名称");
        throw CLIError(CLIError::Case::setDefaultFailed);
    }
    logger_.info("默认输入设备已切换到: " + *device->name);
    result.currentDevice = AudioInputDeviceBasic{uid, *device->name};
    return result;
}

bool AudioDeviceManager::defaultInputBecomes(audiohw::DeviceID device) const {
    const auto isDefault = [&] {
        const auto state = hardware_->snapshot();
        return state && state->defaultInput == device;
    };
    if (isDefault()) return true;

    // Not yet: watch for the change, then look again, so that one made meanwhile is not missed.
    std::mutex mutex;
    std::condition_variable changed;
    bool told = false;
    audiohw::Watch watch = hardware_->watch([&](audiohw::HardwareChange change) {
        if (change != audiohw::HardwareChange::defaultInput && change != audiohw::HardwareChange::serverRestored) {
            return;
        }
        std::lock_guard lock(mutex);
        told = true;
        changed.notify_all();
    });
    const auto deadline = std::chrono::steady_clock::now() + kDefaultChangeTimeout;
    while (!isDefault()) {
        std::unique_lock lock(mutex);
        if (!changed.wait_until(lock, deadline, [&] { return told; })) return false;
        told = false;
    }
    return true;
}

}  // namespace portline
