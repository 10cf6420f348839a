#include "audio-hardware/Testing/InMemoryAudioHardware.h"

#include <algorithm>
#include <sstream>

namespace audiohw {

Device InMemoryAudioHardware::output(DeviceID id, const std::string& name, const std::string& uid,
                                     std::vector<float> volumes) {
    const float loudest = volumes.empty() ? 0.0F : *std::max_element(volumes.begin(), volumes.end());
    return {id, uid, name, Direction::output, static_cast<std::uint32_t>(volumes.size()), false, loudest,
            std::move(volumes)};
}

Device InMemoryAudioHardware::input(DeviceID id, const std::string& name, const std::string& uid,
                                    std::uint32_t channels) {
    return {id, uid, name, Direction::input, channels, std::nullopt, std::nullopt, {}};
}

void InMemoryAudioHardware::update(const std::function<void(HardwareSnapshot&)>& change) {
    std::lock_guard lock(mutex_);
    change(state_);
}

HardwareSnapshot InMemoryAudioHardware::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void InMemoryAudioHardware::failReads(bool fail) {
    std::lock_guard lock(mutex_);
    failReads_ = fail;
}

void InMemoryAudioHardware::refuseWrites(const std::string& prefix) {
    std::lock_guard lock(mutex_);
    refused_.push_back(prefix);
}

void InMemoryAudioHardware::ignoreDefaultInputChanges(bool ignore) {
    std::lock_guard lock(mutex_);
    ignoreDefaultInputChanges_ = ignore;
}

std::vector<std::string> InMemoryAudioHardware::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

void InMemoryAudioHardware::announce(HardwareChange change) { watchers_.deliver(change); }

void InMemoryAudioHardware::waitForWatches(std::size_t count) {
    std::unique_lock lock(mutex_);
    watchesChanged_.wait(lock, [&] { return watchers_.count() >= count; });
}

std::optional<HardwareSnapshot> InMemoryAudioHardware::snapshot() {
    std::lock_guard lock(mutex_);
    if (failReads_) return std::nullopt;
    return state_;
}

Device* InMemoryAudioHardware::find(DeviceID id) {
    const auto found = std::find_if(state_.devices.begin(), state_.devices.end(),
                                    [&](const Device& device) { return device.id == id; });
    return found == state_.devices.end() ? nullptr : &*found;
}

bool InMemoryAudioHardware::accept(const std::string& write) {
    const bool refused = std::any_of(refused_.begin(), refused_.end(),
                                     [&](const std::string& prefix) { return write.starts_with(prefix); });
    if (!refused) writes_.push_back(write);
    return !refused;
}

bool InMemoryAudioHardware::setDefaultInput(const std::string& uid) {
    std::lock_guard lock(mutex_);
    const Device* found = state_.deviceWithUID(uid);
    if (found == nullptr || found->direction != Direction::input || !accept("default-input " + uid)) return false;
    if (!ignoreDefaultInputChanges_) state_.defaultInput = found->id;
    return true;
}

bool InMemoryAudioHardware::setMute(DeviceID id, bool muted) {
    std::lock_guard lock(mutex_);
    Device* device = find(id);
    if (device == nullptr || !device->hasMuteSwitch()) return false;
    if (!accept("mute " + std::to_string(id) + (muted ? " true" : " false"))) return false;
    device->muted = muted;
    return true;
}

bool InMemoryAudioHardware::setVolumes(DeviceID id, const VolumeChange& change) {
    std::lock_guard lock(mutex_);
    Device* device = find(id);
    if (device == nullptr) return false;
    std::ostringstream write;
    write << "volumes " << id;
    std::vector<float>& volumes = device->channelVolumes;
    if (const auto* main = std::get_if<MainVolume>(&change)) {
        write << " main " << main->value;
        if (!device->hasMainVolume() || !accept(write.str())) return false;
        // As the sound server does: scale every channel, keeping the balance.
        const float loudest = *device->mainVolume;
        for (float& volume : volumes) volume = loudest > 0 ? volume * main->value / loudest : main->value;
        device->mainVolume = main->value;
        return true;
    }
    const auto& values = std::get<ChannelVolumes>(change).values;
    write << " channels";
    for (const float value : values) write << ' ' << value;
    if (values.empty() || values.size() > volumes.size() || !accept(write.str())) return false;
    std::copy(values.begin(), values.end(), volumes.begin());
    if (device->hasMainVolume()) device->mainVolume = *std::max_element(volumes.begin(), volumes.end());
    return true;
}

Watch InMemoryAudioHardware::watch(ChangeCallback onChange) {
    Watch watch = watchers_.add(std::move(onChange));
    {
        std::lock_guard lock(mutex_);  // so a waiter cannot miss the notification
    }
    watchesChanged_.notify_all();
    return watch;
}

}  // namespace audiohw
