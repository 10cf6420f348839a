#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "audio-hardware/AudioHardware.h"
#include "audio-hardware/PropertyListenerRegistry.h"

namespace audiohw {

// A string property whose reference is null (reads succeed but carry no text).
struct NullStringReference {
    bool operator==(const NullStringReference&) const = default;
};

// Channel count of each buffer of one scope's stream configuration.
struct StreamConfiguration {
    std::vector<std::uint32_t> channelsPerBuffer;
    bool operator==(const StreamConfiguration&) const = default;
};

// uint32 (ids, mute), float32 (volumes), text, null text, id arrays, stream configurations.
using PropertyValue = std::variant<std::uint32_t, float, std::string, NullStringReference,
                                   std::vector<ObjectID>, StreamConfiguration>;

struct RecordedWrite {
    ObjectID object = kUnknownObject;
    PropertyAddress address;
    PropertyValue value;
    bool operator==(const RecordedWrite&) const = default;
};

// Hardware held in memory for tests: any objects with any subset of properties, reads and
// writes that can be refused, and notifications sent when the test asks. Safe to use from
// several threads. Writes of 4-byte values (uint32, float32) to existing properties of that
// type are accepted and stored; everything else is read-only.
class InMemoryAudioHardware final : public AudioHardware {
public:
    InMemoryAudioHardware();

    // A bare device, appended to the system object's device list.
    void addDevice(ObjectID device);
    // A device with name, UID and an input stream configuration of one buffer.
    void addInputDevice(ObjectID device, const std::string& name, const std::string& uid,
                        std::uint32_t channels);
    // A device with name, UID, an output stream of `channels` and no input buffers.
    void addOutputDevice(ObjectID device, const std::string& name, const std::string& uid,
                         std::uint32_t channels = 2);
    // The object and all its properties go away, and it leaves the device list.
    void removeDevice(ObjectID device);

    void setProperty(ObjectID object, const PropertyAddress& address, PropertyValue value);
    void removeProperty(ObjectID object, const PropertyAddress& address);
    std::optional<PropertyValue> property(ObjectID object, const PropertyAddress& address) const;

    // The property stays present, but the call answers `status`.
    void refuseSizeQueries(ObjectID object, const PropertyAddress& address, Status status = kErrorUnspecified);
    void refuseReads(ObjectID object, const PropertyAddress& address, Status status = kErrorUnspecified);
    void refuseWrites(ObjectID object, const PropertyAddress& address, Status status = kErrorIllegalOperation);

    // Every accepted write, in order.
    std::vector<RecordedWrite> writes() const;

    // Delivers on the calling thread, like the platform would on its own.
    void notify(const std::vector<PropertySelector>& changedSelectors);
    void notifyConnection(ServerConnection change);

    bool hasProperty(ObjectID object, const PropertyAddress& address) override;
    Status getPropertyDataSize(ObjectID object, const PropertyAddress& address,
                               std::uint32_t& dataSize) override;
    Status getPropertyData(ObjectID object, const PropertyAddress& address, std::uint32_t& ioDataSize,
                           void* data) override;
    Status getPropertyString(ObjectID object, const PropertyAddress& address,
                             std::optional<std::string>& value) override;
    Status setPropertyData(ObjectID object, const PropertyAddress& address, std::uint32_t dataSize,
                           const void* data) override;
    Status addPropertyListener(ObjectID object, const PropertyAddress& address,
                               PropertyListenerProc listener, void* clientData) override;
    Status removePropertyListener(ObjectID object, const PropertyAddress& address,
                                  PropertyListenerProc listener, void* clientData) override;
    void setConnectionObserver(ConnectionObserver observer) override;

private:
    struct Property {
        PropertyValue value;
        Status sizeStatus = kNoError;
        Status readStatus = kNoError;
        Status writeStatus = kNoError;
    };
    using Object = std::map<PropertyAddress, Property>;

    // Null when the object or the property does not exist; `mutex_` must be held.
    Property* find(ObjectID object, const PropertyAddress& address);
    Status lookup(ObjectID object, const PropertyAddress& address, Property*& property);

    mutable std::mutex mutex_;
    std::map<ObjectID, Object> objects_;
    std::vector<RecordedWrite> writes_;
    PropertyListenerRegistry listeners_;
};

}  // namespace audiohw
