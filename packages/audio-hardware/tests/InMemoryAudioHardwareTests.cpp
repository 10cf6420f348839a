// The in-memory double and the listener bookkeeping it shares with the real backend.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"

using namespace audiohw;
using namespace std::chrono_literals;

namespace {

constexpr PropertyAddress kDevices{kPropertyDevices, kScopeGlobal, kElementMain};
constexpr PropertyAddress kDefaultInput{kPropertyDefaultInputDevice, kScopeGlobal, kElementMain};
constexpr PropertyAddress kName{kPropertyName, kScopeGlobal, kElementMain};
constexpr PropertyAddress kInputStreams{kPropertyStreamConfiguration, kScopeInput, kElementMain};
constexpr PropertyAddress kMute{kPropertyMute, kScopeOutput, kElementMain};
constexpr PropertyAddress kLeft{kPropertyVolumeScalar, kScopeOutput, 1};

TEST(InMemoryAudioHardware, AnswersWithTheShapesAndStatusesItWasGiven) {
    InMemoryAudioHardware hardware;
    hardware.addInputDevice(10, "Mic", "mic-uid", 2);
    hardware.addOutputDevice(20, "Speakers", "speaker-uid");
    hardware.addDevice(30);
    hardware.setProperty(30, kName, NullStringReference{});
    hardware.setProperty(20, kMute, std::uint32_t{0});
    hardware.setProperty(20, kLeft, 0.63f);

    // The id list is cut to what fits.
    ObjectID ids[2] = {};
    std::uint32_t size = sizeof ids;
    ASSERT_EQ(hardware.getPropertyData(kSystemObject, kDevices, size, ids), kNoError);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(ids[1], 20u);

    ASSERT_EQ(hardware.getPropertyDataSize(10, kInputStreams, size), kNoError);
    alignas(AudioBufferList) std::byte buffer[64] = {};
    ASSERT_EQ(hardware.getPropertyData(10, kInputStreams, size, buffer), kNoError);
    EXPECT_EQ(reinterpret_cast<AudioBufferList*>(buffer)->buffers[0].numberChannels, 2u);
    std::uint32_t small = 4;
    EXPECT_EQ(hardware.getPropertyData(10, kInputStreams, small, buffer), kErrorBadPropertySize);
    ASSERT_EQ(hardware.getPropertyData(20, kInputStreams, size = sizeof buffer, buffer), kNoError);
    EXPECT_EQ(reinterpret_cast<AudioBufferList*>(buffer)->numberBuffers, 0u);

    std::optional<std::string> name = "stale";
    EXPECT_EQ(hardware.getPropertyString(30, kName, name), kNoError);
    EXPECT_FALSE(name.has_value());
    EXPECT_EQ(hardware.getPropertyString(40, kName, name), kErrorBadObject);
    EXPECT_EQ(hardware.getPropertyString(30, kMute, name), kErrorUnknownProperty);
    EXPECT_FALSE(hardware.hasProperty(10, kMute));

    hardware.refuseReads(10, kName);
    hardware.refuseSizeQueries(10, kInputStreams, kErrorNotRunning);
    EXPECT_EQ(hardware.getPropertyString(10, kName, name), kErrorUnspecified);
    EXPECT_EQ(hardware.getPropertyDataSize(10, kInputStreams, size), kErrorNotRunning);
    EXPECT_TRUE(hardware.hasProperty(10, kName));

    // Writes keep the value's type and are recorded; refused ones change nothing.
    const std::uint32_t muted = 1;
    const float quiet = 0.25f;
    EXPECT_EQ(hardware.setPropertyData(20, kMute, 4, &muted), kNoError);
    EXPECT_EQ(hardware.setPropertyData(20, kMute, 2, &muted), kErrorBadPropertySize);
    EXPECT_EQ(hardware.setPropertyData(20, kName, 4, &muted), kErrorIllegalOperation);
    hardware.refuseWrites(20, kLeft);
    EXPECT_EQ(hardware.setPropertyData(20, kLeft, 4, &quiet), kErrorIllegalOperation);
    EXPECT_EQ(hardware.property(20, kLeft), PropertyValue{0.63f});
    EXPECT_EQ(hardware.writes(), (std::vector<RecordedWrite>{{20, kMute, std::uint32_t{1}}}));

    hardware.removeDevice(10);
    EXPECT_EQ(hardware.property(kSystemObject, kDevices), (PropertyValue{std::vector<ObjectID>{20, 30}}));
    EXPECT_EQ(hardware.getPropertyDataSize(10, kName, size), kErrorBadObject);
}

struct Calls {
    std::atomic<int> count{0};
    static Status listener(ObjectID, std::uint32_t, const PropertyAddress*, void* calls) {
        ++static_cast<Calls*>(calls)->count;
        return kNoError;
    }
};

TEST(InMemoryAudioHardware, NotifiesOnlyMatchingListenersAndTheObserver) {
    InMemoryAudioHardware hardware;
    Calls devices, input;
    EXPECT_EQ(hardware.addPropertyListener(kSystemObject, kDevices, Calls::listener, &devices), kNoError);
    EXPECT_EQ(hardware.addPropertyListener(kSystemObject, kDevices, Calls::listener, &devices), kNoError);
    EXPECT_EQ(hardware.addPropertyListener(kSystemObject, kDefaultInput, Calls::listener, &input), kNoError);
    EXPECT_EQ(hardware.addPropertyListener(5, kDevices, Calls::listener, &devices), kErrorBadObject);
    std::vector<ServerConnection> changes;
    hardware.setConnectionObserver([&](ServerConnection change) { changes.push_back(change); });

    hardware.notify({kPropertyDevices});
    hardware.notify({kPropertyDefaultInputDevice, kPropertyDevices});
    hardware.notifyConnection(ServerConnection::lost);
    EXPECT_EQ(devices.count, 2);  // added twice, registered once
    EXPECT_EQ(input.count, 1);
    EXPECT_EQ(changes, std::vector<ServerConnection>{ServerConnection::lost});

    EXPECT_EQ(hardware.removePropertyListener(kSystemObject, kDevices, Calls::listener, &devices), kNoError);
    EXPECT_NE(hardware.removePropertyListener(kSystemObject, kDevices, Calls::listener, &devices), kNoError);
    hardware.setConnectionObserver({});
    hardware.notify({kPropertyDevices});
    hardware.notifyConnection(ServerConnection::restored);
    EXPECT_EQ(devices.count, 2);
    EXPECT_EQ(changes.size(), 1u);
}

// What lets a listener's owner be destroyed right after removing it.
TEST(PropertyListenerRegistry, RemovalWaitsForADeliveryOnAnotherThread) {
    PropertyListenerRegistry registry;
    struct Gate {
        std::promise<void> entered;
        std::promise<void> release;
        std::atomic<bool> finished{false};
    } gate;
    const auto blocking = [](ObjectID, std::uint32_t, const PropertyAddress*, void* data) -> Status {
        auto* self = static_cast<Gate*>(data);
        self->entered.set_value();
        self->release.get_future().wait();
        self->finished = true;
        return kNoError;
    };
    ASSERT_EQ(registry.add(kSystemObject, kDevices, blocking, &gate), kNoError);
    std::thread delivery([&] { registry.notify({kPropertyDevices}); });
    gate.entered.get_future().wait();

    auto removal = std::async(std::launch::async, [&] {
        const Status status = registry.remove(kSystemObject, kDevices, blocking, &gate);
        return std::make_pair(status, gate.finished.load());
    });
    EXPECT_EQ(removal.wait_for(50ms), std::future_status::timeout);
    gate.release.set_value();
    const auto [status, finishedBeforeRemoval] = removal.get();
    delivery.join();
    EXPECT_EQ(status, kNoError);
    EXPECT_TRUE(finishedBeforeRemoval);
}

TEST(PropertyListenerRegistry, AListenerMayRemoveItselfAndOthersDuringADelivery) {
    struct Remover {
        PropertyListenerRegistry registry;
        Calls later;
        int calls = 0;
        static Status listener(ObjectID, std::uint32_t, const PropertyAddress*, void* data) {
            auto* self = static_cast<Remover*>(data);
            ++self->calls;
            self->registry.remove(kSystemObject, kDevices, Calls::listener, &self->later);
            return self->registry.remove(kSystemObject, kDevices, listener, self);
        }
    } remover;
    ASSERT_EQ(remover.registry.add(kSystemObject, kDevices, Remover::listener, &remover), kNoError);
    ASSERT_EQ(remover.registry.add(kSystemObject, kDevices, Calls::listener, &remover.later), kNoError);
    remover.registry.notify({kPropertyDevices, kPropertyDevices});
    EXPECT_EQ(remover.calls, 1);
    EXPECT_EQ(remover.later.count, 0);  // removed by the first before its turn
}

}  // namespace
