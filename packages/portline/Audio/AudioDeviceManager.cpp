#include "portline/Audio/AudioDeviceManager.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "portline/Runtime/CLIError.h"

namespace portline {
namespace {

using audiohw::ObjectID;
using audiohw::PropertyAddress;

constexpr PropertyAddress kDevicesAddress{audiohw::kPropertyDevices, audiohw::kScopeGlobal, audiohw::kElementMain};
constexpr PropertyAddress kDefaultInputAddress{audiohw::kPropertyDefaultInputDevice, audiohw::kScopeGlobal,
                                               audiohw::kElementMain};
constexpr PropertyAddress kInputStreamsAddress{audiohw::kPropertyStreamConfiguration, audiohw::kScopeInput,
                                               audiohw::kElementMain};
constexpr PropertyAddress kNameAddress{audiohw::kPropertyName, audiohw::kScopeGlobal, audiohw::kElementMain};
constexpr PropertyAddress kUIDAddress{audiohw::kPropertyDeviceUID, audiohw::kScopeGlobal, audiohw::kElementMain};

}  // namespace

std::vector<ObjectID> AudioDeviceManager::getAllDeviceIDs() const {
    std::uint32_t size = 0;
    if (hardware_->getPropertyDataSize(audiohw::kSystemObject, kDevicesAddress, size) != audiohw::kNoError) {
        throw CLIError(CLIError::Case::enumFailed);
    }
    std::vector<ObjectID> ids(size / sizeof(ObjectID));
    if (ids.empty()) return ids;
    std::uint32_t ioSize = static_cast<std::uint32_t>(ids.size() * sizeof(ObjectID));
    if (hardware_->getPropertyData(audiohw::kSystemObject, kDevicesAddress, ioSize, ids.data()) != audiohw::kNoError) {
        throw CLIError(CLIError::Case::enumFailed);
    }
    // The list may have shrunk since its size was asked.
    ids.resize(std::min<std::size_t>(ids.size(), ioSize / sizeof(ObjectID)));
    return ids;
}

ObjectID AudioDeviceManager::getDefaultInputDeviceID() const {
    ObjectID id = audiohw::kUnknownObject;
    std::uint32_t size = sizeof id;
    if (hardware_->getPropertyData(audiohw::kSystemObject, kDefaultInputAddress, size, &id) != audiohw::kNoError ||
        id == audiohw::kUnknownObject) {
        throw CLIError(CLIError::Case::noDefaultDevice);
    }
    return id;
}

std::optional<std::string> AudioDeviceManager::getDeviceName(ObjectID device) const {
    std::optional<std::string> name;
    if (hardware_->getPropertyString(device, kNameAddress, name) != audiohw::kNoError) return std::nullopt;
    return name;
}

std::optional<std::string> AudioDeviceManager::getDeviceUID(ObjectID device) const {
    std::optional<std::string> uid;
    if (hardware_->getPropertyString(device, kUIDAddress, uid) != audiohw::kNoError) return std::nullopt;
    return uid;
}

std::uint64_t AudioDeviceManager::inputChannelCount(ObjectID device) const {
    std::uint32_t size = 0;
    if (hardware_->getPropertyDataSize(device, kInputStreamsAddress, size) != audiohw::kNoError || size == 0) return 0;
    std::vector<std::byte> buffer(std::max<std::size_t>(size, sizeof(audiohw::AudioBufferList)));
    std::uint32_t ioSize = static_cast<std::uint32_t>(buffer.size());
    if (hardware_->getPropertyData(device, kInputStreamsAddress, ioSize, buffer.data()) != audiohw::kNoError) return 0;

    constexpr std::size_t header = offsetof(audiohw::AudioBufferList, buffers);
    const std::size_t returned = std::min<std::size_t>(ioSize, buffer.size());
    if (returned < header) return 0;
    std::uint32_t numberBuffers = 0;
    std::memcpy(&numberBuffers, buffer.data() + offsetof(audiohw::AudioBufferList, numberBuffers), sizeof numberBuffers);
    // Trust the count only as far as the returned bytes reach.
    const std::size_t present = std::min<std::size_t>(numberBuffers, (returned - header) / sizeof(audiohw::AudioBuffer));
    std::uint64_t channels = 0;
    for (std::size_t index = 0; index < present; ++index) {
        std::uint32_t bufferChannels = 0;
        std::memcpy(&bufferChannels,
                    buffer.data() + header + index * sizeof(audiohw::AudioBuffer) +
                        offsetof(audiohw::AudioBuffer, numberChannels),
                    sizeof bufferChannels);
        channels += bufferChannels;
    }
    return channels;
}

std::vector<AudioInputDevice> AudioDeviceManager::getAllInputDevices() const {
    logger_.info("获取所有输入设备");
    const std::vector<ObjectID> ids = getAllDeviceIDs();
    ObjectID defaultID = audiohw::kUnknownObject;
    try {
        defaultID = getDefaultInputDeviceID();
    } catch (const CLIError&) {
        // Without a default the list is still useful; nothing is marked default.
    }

    std::vector<AudioInputDevice> devices;
    for (const ObjectID id : ids) {
        if (inputChannelCount(id) == 0) continue;  // cannot record
        std::optional<std::string> name = getDeviceName(id);
        std::optional<std::string> uid = name ? getDeviceUID(id) : std::nullopt;
        if (!name || !uid) {
            logger_.error("无法获取设备 " + std::to_string(id) + " 的名称或 UID");
            continue;
        }
        devices.push_back({std::move(*uid), std::move(*name), id == defaultID});
    }
    logger_.info("找到 " + std::to_string(devices.size()) + " 个输入设备");
    return devices;
}

AudioInputDevice AudioDeviceManager::getDefaultInputDevice() const {
    logger_.info("获取默认输入设备");
    const ObjectID id = getDefaultInputDeviceID();
    std::optional<std::string> name = getDeviceName(id);
    std::optional<std::string> uid = name ? getDeviceUID(id) : std::nullopt;
    if (!name || !uid) throw CLIError(CLIError::Case::noDefaultDevice);
    return {std::move(*uid), std::move(*name), true};
}

std::optional<ObjectID> AudioDeviceManager::findDeviceID(const std::string& uid) const {
    for (const ObjectID id : getAllDeviceIDs()) {
        if (getDeviceUID(id) == uid) return id;
    }
    return std::nullopt;
}

SetDefaultResult AudioDeviceManager::setDefaultInputDevice(const std::string& uid) const {
    logger_.info("设置默认输入设备: " + uid);
    logger_.info("获取默认输入设备");
    SetDefaultResult result;
    try {
        const ObjectID previousID = getDefaultInputDeviceID();
        std::optional<std::string> name = getDeviceName(previousID);
        std::optional<std::string> previousUID = name ? getDeviceUID(previousID) : std::nullopt;
        if (name && previousUID) result.previousDevice = AudioInputDeviceBasic{std::move(*previousUID), std::move(*name)};
    } catch (const CLIError&) {
        // An unreadable previous default only leaves it out of the result.
    }

    const std::optional<ObjectID> id = findDeviceID(uid);
    if (!id) throw CLIError::deviceNotFound(uid);

    const ObjectID newDefault = *id;
    if (hardware_->setPropertyData(audiohw::kSystemObject, kDefaultInputAddress, sizeof newDefault, &newDefault) !=
        audiohw::kNoError) {
        throw CLIError(CLIError::Case::setDefaultFailed);
    }
    std::optional<std::string> name = getDeviceName(newDefault);
    if (!name) {
        // The switch happened, but without a name it cannot be confirmed to the caller.
        logger_.error("默认输入设备已写入，但无法读取设备 " + std::to_string(newDefault) + " 的名称");
        throw CLIError(CLIError::Case::setDefaultFailed);
    }
    logger_.info("默认输入设备已切换到: " + *name);
    result.currentDevice = AudioInputDeviceBasic{uid, std::move(*name)};
    return result;
}

}  // namespace portline
