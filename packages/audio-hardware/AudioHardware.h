#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The audio hardware as the tools see it: properties of objects (the system object and
// the devices), each addressed by (object, selector, scope, element) and answered with a
// status, 0 meaning success. The calls, ids, selectors and value shapes are those of
// CoreAudio's AudioObject property API, so that a macOS backend passes them straight through.
namespace audiohw {

using ObjectID = std::uint32_t;
using PropertySelector = std::uint32_t;
using PropertyScope = std::uint32_t;
using PropertyElement = std::uint32_t;
using Status = std::int32_t;

// The big-endian packing CoreAudio uses for its four-character codes ('dOut' and so on).
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

// Same layout as AudioObjectPropertyAddress.
struct PropertyAddress {
    PropertySelector selector = 0;
    PropertyScope scope = 0;
    PropertyElement element = 0;

    friend constexpr auto operator<=>(const PropertyAddress&, const PropertyAddress&) = default;
};

inline constexpr ObjectID kUnknownObject = 0;
inline constexpr ObjectID kSystemObject = 1;

// System object properties (global scope, main element).
inline constexpr PropertySelector kPropertyDefaultOutputDevice = fourCharCode("dOut");  // ObjectID
inline constexpr PropertySelector kPropertyDefaultInputDevice = fourCharCode("dIn ");   // ObjectID, writable
inline constexpr PropertySelector kPropertyDevices = fourCharCode("dev#");  // array of ObjectID

// Device properties.
inline constexpr PropertySelector kPropertyName = fourCharCode("lnam");       // string, global scope
inline constexpr PropertySelector kPropertyDeviceUID = fourCharCode("uid ");  // string, global scope
inline constexpr PropertySelector kPropertyStreamConfiguration = fourCharCode("slay");  // AudioBufferList
inline constexpr PropertySelector kPropertyMute = fourCharCode("mute");  // uint32 0 or 1, output scope
inline constexpr PropertySelector kPropertyVirtualMainVolume = fourCharCode("vmvc");  // float32, output scope
inline constexpr PropertySelector kPropertyVolumeScalar = fourCharCode("volm");  // float32 per element

inline constexpr PropertyScope kScopeGlobal = fourCharCode("glob");
inline constexpr PropertyScope kScopeInput = fourCharCode("inpt");
inline constexpr PropertyScope kScopeOutput = fourCharCode("outp");

// Element 0 is the whole device; 1, 2, ... are its channels.
inline constexpr PropertyElement kElementMain = 0;

// Statuses, with CoreAudio's values.
inline constexpr Status kNoError = 0;
inline constexpr Status kErrorNotRunning = static_cast<Status>(fourCharCode("stop"));
inline constexpr Status kErrorUnspecified = static_cast<Status>(fourCharCode("what"));
inline constexpr Status kErrorUnknownProperty = static_cast<Status>(fourCharCode("who?"));
inline constexpr Status kErrorBadPropertySize = static_cast<Status>(fourCharCode("!siz"));
inline constexpr Status kErrorIllegalOperation = static_cast<Status>(fourCharCode("nope"));
inline constexpr Status kErrorBadObject = static_cast<Status>(fourCharCode("!obj"));

// Same layout as AudioBuffer / AudioBufferList: the stream configuration of one scope of a
// device is a count of buffers followed by that many descriptions, each starting with its
// channel count. Only the channel counts carry meaning here.
struct AudioBuffer {
    std::uint32_t numberChannels = 0;
    std::uint32_t dataByteSize = 0;
    void* data = nullptr;
};

struct AudioBufferList {
    std::uint32_t numberBuffers = 0;
    AudioBuffer buffers[1];
};

// Bytes of a buffer list holding `numberBuffers` buffers; never less than one whole
// AudioBufferList, so a caller may always read the struct it allocated.
constexpr std::uint32_t audioBufferListSize(std::uint32_t numberBuffers) {
    const std::size_t size = offsetof(AudioBufferList, buffers) + numberBuffers * sizeof(AudioBuffer);
    return static_cast<std::uint32_t>(size < sizeof(AudioBufferList) ? sizeof(AudioBufferList) : size);
}

// Same signature as AudioObjectPropertyListenerProc. Called with the addresses that changed.
using PropertyListenerProc = Status (*)(ObjectID objectID, std::uint32_t numberAddresses,
                                        const PropertyAddress* addresses, void* clientData);

enum class ServerConnection { lost, restored };

// Told when the service behind the hardware goes away and when it is back.
using ConnectionObserver = std::function<void(ServerConnection)>;

class AudioHardware {
public:
    virtual ~AudioHardware() = default;

    virtual bool hasProperty(ObjectID object, const PropertyAddress& address) = 0;

    virtual Status getPropertyDataSize(ObjectID object, const PropertyAddress& address,
                                       std::uint32_t& dataSize) = 0;

    // ioDataSize: the capacity of `data` on entry, the bytes written on return. Fixed-size
    // values need the whole size; an id array is cut to the ids that fit.
    virtual Status getPropertyData(ObjectID object, const PropertyAddress& address,
                                   std::uint32_t& ioDataSize, void* data) = 0;

    // Text properties (name, UID). CoreAudio hands a string reference that may be null;
    // a null reference is kNoError with `value` left empty.
    virtual Status getPropertyString(ObjectID object, const PropertyAddress& address,
                                     std::optional<std::string>& value) = 0;

    virtual Status setPropertyData(ObjectID object, const PropertyAddress& address,
                                   std::uint32_t dataSize, const void* data) = 0;

    // Listeners on the system object. They run on a thread of the hardware layer, never
    // on the caller's; each call names the changed addresses. Once removal returns, the
    // listener is neither running (unless it removes itself) nor called again.
    virtual Status addPropertyListener(ObjectID object, const PropertyAddress& address,
                                       PropertyListenerProc listener, void* clientData) = 0;
    virtual Status removePropertyListener(ObjectID object, const PropertyAddress& address,
                                          PropertyListenerProc listener, void* clientData) = 0;

    // Replaces the observer (an empty function removes it), with the same threading and
    // removal guarantees as listeners. After `restored`, the device-list listeners are
    // notified. Backends whose hardware cannot go away never call it.
    virtual void setConnectionObserver(ConnectionObserver observer) = 0;
};

}  // namespace audiohw
