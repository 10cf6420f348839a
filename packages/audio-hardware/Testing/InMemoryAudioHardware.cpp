#include "audio-hardware/Testing/InMemoryAudioHardware.h"

#include <algorithm>
#include <cstring>

namespace audiohw {

namespace {

constexpr PropertyAddress kDevicesAddress{kPropertyDevices, kScopeGlobal, kElementMain};

// What getPropertyDataSize reports for a value: a string reference is pointer-sized.
std::uint32_t sizeOf(const PropertyValue& value) {
    struct Visitor {
        std::uint32_t operator()(std::uint32_t) const { return 4; }
        std::uint32_t operator()(float) const { return 4; }
        std::uint32_t operator()(const std::string&) const { return sizeof(void*); }
        std::uint32_t operator()(NullStringReference) const { return sizeof(void*); }
        std::uint32_t operator()(const std::vector<ObjectID>& ids) const {
            return static_cast<std::uint32_t>(ids.size() * sizeof(ObjectID));
        }
        std::uint32_t operator()(const StreamConfiguration& configuration) const {
            return audioBufferListSize(static_cast<std::uint32_t>(configuration.channelsPerBuffer.size()));
        }
    };
    return std::visit(Visitor{}, value);
}

}  // namespace

InMemoryAudioHardware::InMemoryAudioHardware() {
    objects_[kSystemObject][kDevicesAddress].value = std::vector<ObjectID>{};
}

void InMemoryAudioHardware::addDevice(ObjectID device) {
    std::lock_guard lock(mutex_);
    objects_.try_emplace(device);
    auto& ids = std::get<std::vector<ObjectID>>(objects_[kSystemObject][kDevicesAddress].value);
    if (std::find(ids.begin(), ids.end(), device) == ids.end()) ids.push_back(device);
}

void InMemoryAudioHardware::addInputDevice(ObjectID device, const std::string& name, const std::string& uid,
                                           std::uint32_t channels) {
    addDevice(device);
    setProperty(device, {kPropertyName, kScopeGlobal, kElementMain}, name);
    setProperty(device, {kPropertyDeviceUID, kScopeGlobal, kElementMain}, uid);
    setProperty(device, {kPropertyStreamConfiguration, kScopeInput, kElementMain},
                StreamConfiguration{{channels}});
}

void InMemoryAudioHardware::addOutputDevice(ObjectID device, const std::string& name, const std::string& uid,
                                            std::uint32_t channels) {
    addDevice(device);
    setProperty(device, {kPropertyName, kScopeGlobal, kElementMain}, name);
    setProperty(device, {kPropertyDeviceUID, kScopeGlobal, kElementMain}, uid);
    setProperty(device, {kPropertyStreamConfiguration, kScopeOutput, kElementMain},
                StreamConfiguration{{channels}});
    setProperty(device, {kPropertyStreamConfiguration, kScopeInput, kElementMain}, StreamConfiguration{});
}

void InMemoryAudioHardware::removeDevice(ObjectID device) {
    std::lock_guard lock(mutex_);
    objects_.erase(device);
    auto& ids = std::get<std::vector<ObjectID>>(objects_[kSystemObject][kDevicesAddress].value);
    ids.erase(std::remove(ids.begin(), ids.end(), device), ids.end());
}

void InMemoryAudioHardware::setProperty(ObjectID object, const PropertyAddress& address, PropertyValue value) {
    std::lock_guard lock(mutex_);
    objects_[object][address].value = std::move(value);
}

void InMemoryAudioHardware::removeProperty(ObjectID object, const PropertyAddress& address) {
    std::lock_guard lock(mutex_);
    const auto found = objects_.find(object);
    if (found != objects_.end()) found->second.erase(address);
}

std::optional<PropertyValue> InMemoryAudioHardware::property(ObjectID object,
                                                             const PropertyAddress& address) const {
    std::lock_guard lock(mutex_);
    const auto foundObject = objects_.find(object);
    if (foundObject == objects_.end()) return std::nullopt;
    const auto foundProperty = foundObject->second.find(address);
    if (foundProperty == foundObject->second.end()) return std::nullopt;
    return foundProperty->second.value;
}

void InMemoryAudioHardware::refuseSizeQueries(ObjectID object, const PropertyAddress& address, Status status) {
    std::lock_guard lock(mutex_);
    objects_[object][address].sizeStatus = status;
}

void InMemoryAudioHardware::refuseReads(ObjectID object, const PropertyAddress& address, Status status) {
    std::lock_guard lock(mutex_);
    objects_[object][address].readStatus = status;
}

void InMemoryAudioHardware::refuseWrites(ObjectID object, const PropertyAddress& address, Status status) {
    std::lock_guard lock(mutex_);
    objects_[object][address].writeStatus = status;
}

std::vector<RecordedWrite> InMemoryAudioHardware::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

void InMemoryAudioHardware::notify(const std::vector<PropertySelector>& changedSelectors) {
    listeners_.notify(changedSelectors);
}

void InMemoryAudioHardware::notifyConnection(ServerConnection change) {
    listeners_.notifyConnection(change);
}

InMemoryAudioHardware::Property* InMemoryAudioHardware::find(ObjectID object, const PropertyAddress& address) {
    const auto foundObject = objects_.find(object);
    if (foundObject == objects_.end()) return nullptr;
    const auto foundProperty = foundObject->second.find(address);
    return foundProperty == foundObject->second.end() ? nullptr : &foundProperty->second;
}

Status InMemoryAudioHardware::lookup(ObjectID object, const PropertyAddress& address, Property*& property) {
    if (objects_.find(object) == objects_.end()) return kErrorBadObject;
    property = find(object, address);
    return property == nullptr ? kErrorUnknownProperty : kNoError;
}

bool InMemoryAudioHardware::hasProperty(ObjectID object, const PropertyAddress& address) {
    std::lock_guard lock(mutex_);
    return find(object, address) != nullptr;
}

Status InMemoryAudioHardware::getPropertyDataSize(ObjectID object, const PropertyAddress& address,
                                                  std::uint32_t& dataSize) {
    std::lock_guard lock(mutex_);
    Property* property = nullptr;
    if (const Status status = lookup(object, address, property); status != kNoError) return status;
    if (property->sizeStatus != kNoError) return property->sizeStatus;
    dataSize = sizeOf(property->value);
    return kNoError;
}

Status InMemoryAudioHardware::getPropertyData(ObjectID object, const PropertyAddress& address,
                                              std::uint32_t& ioDataSize, void* data) {
    std::lock_guard lock(mutex_);
    Property* property = nullptr;
    if (const Status status = lookup(object, address, property); status != kNoError) return status;
    if (property->readStatus != kNoError) return property->readStatus;
    const PropertyValue& value = property->value;

    if (const auto* ids = std::get_if<std::vector<ObjectID>>(&value)) {
        const std::size_t count = std::min<std::size_t>(ids->size(), ioDataSize / sizeof(ObjectID));
        if (count > 0) std::memcpy(data, ids->data(), count * sizeof(ObjectID));
        ioDataSize = static_cast<std::uint32_t>(count * sizeof(ObjectID));
        return kNoError;
    }
    if (const auto* configuration = std::get_if<StreamConfiguration>(&value)) {
        const auto buffers = static_cast<std::uint32_t>(configuration->channelsPerBuffer.size());
        const std::uint32_t size = audioBufferListSize(buffers);
        if (ioDataSize < size) return kErrorBadPropertySize;
        std::memset(data, 0, size);
        auto* list = static_cast<AudioBufferList*>(data);
        list->numberBuffers = buffers;
        for (std::uint32_t index = 0; index < buffers; ++index) {
            list->buffers[index].numberChannels = configuration->channelsPerBuffer[index];
        }
        ioDataSize = size;
        return kNoError;
    }
    if (std::holds_alternative<std::string>(value) || std::holds_alternative<NullStringReference>(value)) {
        return kErrorIllegalOperation;  // text is read through getPropertyString
    }
    if (ioDataSize < 4) return kErrorBadPropertySize;
    if (const auto* number = std::get_if<std::uint32_t>(&value)) std::memcpy(data, number, 4);
    if (const auto* volume = std::get_if<float>(&value)) std::memcpy(data, volume, 4);
    ioDataSize = 4;
    return kNoError;
}

Status InMemoryAudioHardware::getPropertyString(ObjectID object, const PropertyAddress& address,
                                                std::optional<std::string>& value) {
    std::lock_guard lock(mutex_);
    Property* property = nullptr;
    if (const Status status = lookup(object, address, property); status != kNoError) return status;
    if (property->readStatus != kNoError) return property->readStatus;
    if (const auto* text = std::get_if<std::string>(&property->value)) {
        value = *text;
        return kNoError;
    }
    if (std::holds_alternative<NullStringReference>(property->value)) {
        value.reset();
        return kNoError;
    }
    return kErrorIllegalOperation;
}

Status InMemoryAudioHardware::setPropertyData(ObjectID object, const PropertyAddress& address,
                                              std::uint32_t dataSize, const void* data) {
    std::lock_guard lock(mutex_);
    Property* property = nullptr;
    if (const Status status = lookup(object, address, property); status != kNoError) return status;
    if (property->writeStatus != kNoError) return property->writeStatus;
    const bool isNumber = std::holds_alternative<std::uint32_t>(property->value);
    const bool isVolume = std::holds_alternative<float>(property->value);
    if (!isNumber && !isVolume) return kErrorIllegalOperation;
    if (dataSize != 4) return kErrorBadPropertySize;
    if (isNumber) {
        std::uint32_t number = 0;
        std::memcpy(&number, data, 4);
        property->value = number;
    } else {
        float volume = 0;
        std::memcpy(&volume, data, 4);
        property->value = volume;
    }
    writes_.push_back({object, address, property->value});
    return kNoError;
}

Status InMemoryAudioHardware::addPropertyListener(ObjectID object, const PropertyAddress& address,
                                                  PropertyListenerProc listener, void* clientData) {
    return listeners_.add(object, address, listener, clientData);
}

Status InMemoryAudioHardware::removePropertyListener(ObjectID object, const PropertyAddress& address,
                                                     PropertyListenerProc listener, void* clientData) {
    return listeners_.remove(object, address, listener, clientData);
}

void InMemoryAudioHardware::setConnectionObserver(ConnectionObserver observer) {
    listeners_.setConnectionObserver(std::move(observer));
}

}  // namespace audiohw
