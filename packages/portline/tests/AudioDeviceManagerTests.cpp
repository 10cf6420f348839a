#include <gtest/gtest.h>

#include <cstring>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "portline/Audio/AudioDeviceManager.h"
#include "portline/Runtime/CLIError.h"
#include "cli-frame/Testing/RecordingLogger.h"

namespace portline {
namespace {

using namespace audiohw;

constexpr PropertyAddress kDefaultInput{kPropertyDefaultInputDevice, kScopeGlobal, kElementMain};
constexpr PropertyAddress kDevices{kPropertyDevices, kScopeGlobal, kElementMain};
constexpr PropertyAddress kName{kPropertyName, kScopeGlobal, kElementMain};
constexpr PropertyAddress kUID{kPropertyDeviceUID, kScopeGlobal, kElementMain};
constexpr PropertyAddress kInputStreams{kPropertyStreamConfiguration, kScopeInput, kElementMain};

CLIError::Case failureOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const CLIError& error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "no CLIError was thrown";
    return CLIError::Case::internalError;
}

class AudioDeviceManagerTest : public ::testing::Test {
protected:
    AudioDeviceManagerTest() : manager_(hardware_, log_.logger()) {
        hardware_.addOutputDevice(10, "Speakers", "speakers");
        hardware_.addInputDevice(11, "Built-in Mic", "mic", 1);
        hardware_.addInputDevice(12, "USB Interface", "usb", 2);
        setDefault(11);
    }

    void setDefault(ObjectID id) { hardware_.setProperty(kSystemObject, kDefaultInput, id); }
    ObjectID currentDefault() const { return std::get<std::uint32_t>(*hardware_.property(kSystemObject, kDefaultInput)); }

    InMemoryAudioHardware hardware_;
    cli::RecordingLogger log_;
    AudioDeviceManager manager_;
};

TEST_F(AudioDeviceManagerTest, ListsOnlyDevicesThatRecordInDeviceOrderWithTheDefaultMarked) {
    // Several input buffers add up; a device whose buffers carry no channels cannot record.
    hardware_.addDevice(13);
    hardware_.setProperty(13, kName, std::string("Aggregate"));
    hardware_.setProperty(13, kUID, std::string("aggregate"));
    hardware_.setProperty(13, kInputStreams, StreamConfiguration{{0, 2}});
    hardware_.addDevice(14);
    hardware_.setProperty(14, kName, std::string("Silent"));
    hardware_.setProperty(14, kUID, std::string("silent"));
    hardware_.setProperty(14, kInputStreams, StreamConfiguration{{0, 0}});

    const std::vector<AudioInputDevice> expected{
        {"mic", "Built-in Mic", true}, {"usb", "USB Interface", false}, {"aggregate", "Aggregate", false}};
    EXPECT_EQ(manager_.getAllInputDevices(), expected);
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{"INFO 获取所有输入设备", "INFO 找到 3 个输入设备"}));
}

TEST_F(AudioDeviceManagerTest, DevicesThatCannotBeExaminedAreSkippedAndOnlyNamingFailuresAreLogged) {
    hardware_.addDevice(20);  // no stream configuration at all
    hardware_.addInputDevice(21, "Size refused", "size-refused", 1);
    hardware_.refuseSizeQueries(21, kInputStreams);
    hardware_.addInputDevice(22, "Read refused", "read-refused", 1);
    hardware_.refuseReads(22, kInputStreams);
    hardware_.addInputDevice(23, "No UID", "x", 1);
    hardware_.setProperty(23, kUID, NullStringReference{});
    hardware_.addInputDevice(24, "UID refused", "y", 1);
    hardware_.refuseReads(24, kUID);
    hardware_.addInputDevice(25, "z", "name-refused", 1);
    hardware_.refuseReads(25, kName);

    const auto devices = manager_.getAllInputDevices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].uid, "mic");
    EXPECT_EQ(devices[1].uid, "usb");
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{"INFO 获取所有输入设备", "ERROR 无法获取设备 23 的名称或 UID",
                                                      "ERROR 无法获取设备 24 的名称或 UID",
                                                      "ERROR 无法获取设备 25 的名称或 UID", "INFO 找到 2 个输入设备"}));
}

TEST_F(AudioDeviceManagerTest, AnUnreadableDefaultStillListsWithNothingMarked) {
    hardware_.refuseReads(kSystemObject, kDefaultInput);
    for (const auto& device : manager_.getAllInputDevices()) EXPECT_FALSE(device.isDefault) << device.uid;
    setDefault(kUnknownObject);
    hardware_.refuseReads(kSystemObject, kDefaultInput, kNoError);
    for (const auto& device : manager_.getAllInputDevices()) EXPECT_FALSE(device.isDefault) << device.uid;
}

TEST_F(AudioDeviceManagerTest, AnEmptyOrUnreadableDeviceListIsEnumerationFailureOrEmpty) {
    InMemoryAudioHardware empty;
    cli::RecordingLogger emptyLog;
    EXPECT_TRUE(AudioDeviceManager(empty, emptyLog.logger()).getAllInputDevices().empty());
    EXPECT_TRUE(emptyLog.contains("INFO 找到 0 个输入设备"));

    hardware_.refuseReads(kSystemObject, kDevices);
    EXPECT_EQ(failureOf([&] { manager_.getAllInputDevices(); }), CLIError::Case::enumFailed);
    hardware_.refuseSizeQueries(kSystemObject, kDevices);
    EXPECT_EQ(failureOf([&] { manager_.getAllInputDevices(); }), CLIError::Case::enumFailed);
    EXPECT_EQ(failureOf([&] { manager_.findDeviceID("mic"); }), CLIError::Case::enumFailed);
    EXPECT_EQ(failureOf([&] { manager_.setDefaultInputDevice("mic"); }), CLIError::Case::enumFailed);
}

TEST_F(AudioDeviceManagerTest, DefaultDeviceNeedsAReadableIdNameAndUIDButNoInputChannels) {
    EXPECT_EQ(manager_.getDefaultInputDevice(), (AudioInputDevice{"mic", "Built-in Mic", true}));
    EXPECT_EQ(log_.lines(), std::vector<std::string>{"INFO 获取默认输入设备"});

    setDefault(10);  // an output-only device is reported as it is
    EXPECT_EQ(manager_.getDefaultInputDevice(), (AudioInputDevice{"speakers", "Speakers", true}));

    setDefault(kUnknownObject);
    EXPECT_EQ(failureOf([&] { manager_.getDefaultInputDevice(); }), CLIError::Case::noDefaultDevice);
    setDefault(99);  // names a device that is gone
    EXPECT_EQ(failureOf([&] { manager_.getDefaultInputDevice(); }), CLIError::Case::noDefaultDevice);
    setDefault(12);
    hardware_.setProperty(12, kUID, NullStringReference{});
    EXPECT_EQ(failureOf([&] { manager_.getDefaultInputDevice(); }), CLIError::Case::noDefaultDevice);
    hardware_.refuseReads(kSystemObject, kDefaultInput);
    EXPECT_EQ(failureOf([&] { manager_.getDefaultInputDevice(); }), CLIError::Case::noDefaultDevice);
}

TEST_F(AudioDeviceManagerTest, FindsAnyDeviceByExactUID) {
    hardware_.addInputDevice(30, "No UID", "", 1);
    hardware_.refuseReads(30, kUID);
    hardware_.addInputDevice(31, "Second mic", "mic", 1);  // a duplicate: the first wins
    EXPECT_EQ(manager_.findDeviceID("speakers"), ObjectID{10});
    EXPECT_EQ(manager_.findDeviceID("mic"), ObjectID{11});
    EXPECT_EQ(manager_.findDeviceID("MIC"), std::nullopt);
    EXPECT_EQ(manager_.findDeviceID(""), std::nullopt);
    EXPECT_EQ(manager_.findDeviceID(std::string("mic\0x", 5)), std::nullopt);
}

TEST_F(AudioDeviceManagerTest, SettingTheDefaultWritesTheIdAndReportsBothDevices) {
    const SetDefaultResult result = manager_.setDefaultInputDevice("usb");
    EXPECT_EQ(result.previousDevice, (AudioInputDeviceBasic{"mic", "Built-in Mic"}));
    EXPECT_EQ(result.currentDevice, (AudioInputDeviceBasic{"usb", "USB Interface"}));
    EXPECT_EQ(currentDefault(), 12u);
    EXPECT_EQ(log_.lines(), (std::vector<std::string>{"INFO 设置默认输入设备: usb", "INFO 获取默认输入设备",
                                                      "INFO 默认输入设备已切换到: USB Interface"}));

    // Setting the device that already is the default succeeds with both sides equal.
    const SetDefaultResult again = manager_.setDefaultInputDevice("usb");
    EXPECT_EQ(again.previousDevice, again.currentDevice);
}

TEST_F(AudioDeviceManagerTest, AnUnreadablePreviousDefaultIsLeftOut) {
    hardware_.refuseReads(11, kName);
    EXPECT_FALSE(manager_.setDefaultInputDevice("usb").previousDevice.has_value());
    hardware_.refuseReads(kSystemObject, kDefaultInput);
    EXPECT_FALSE(manager_.setDefaultInputDevice("usb").previousDevice.has_value());
    hardware_.refuseReads(kSystemObject, kDefaultInput, kNoError);
    setDefault(kUnknownObject);
    EXPECT_FALSE(manager_.setDefaultInputDevice("usb").previousDevice.has_value());
    EXPECT_EQ(currentDefault(), 12u);
}

TEST_F(AudioDeviceManagerTest, UnknownUIDsRefusedWritesAndUnnameableResultsFail) {
    try {
        manager_.setDefaultInputDevice("Mic");
        ADD_FAILURE();
    } catch (const CLIError& error) {
        EXPECT_EQ(error.errorCase(), CLIError::Case::deviceNotFound);
        EXPECT_STREQ(error.what(), "未找到指定 UID 的设备：Mic");
    }
    EXPECT_TRUE(hardware_.writes().empty());

    hardware_.refuseWrites(kSystemObject, kDefaultInput);
    EXPECT_EQ(failureOf([&] { manager_.setDefaultInputDevice("usb"); }), CLIError::Case::setDefaultFailed);
    EXPECT_EQ(currentDefault(), 11u);

    // The write goes through, but the new default cannot be named: reported as a failure,
    // and the log says that the default did change.
    hardware_.refuseWrites(kSystemObject, kDefaultInput, kNoError);
    hardware_.refuseReads(12, kName);
    log_.clear();
    EXPECT_EQ(failureOf([&] { manager_.setDefaultInputDevice("usb"); }), CLIError::Case::setDefaultFailed);
    EXPECT_EQ(currentDefault(), 12u);
    EXPECT_TRUE(log_.contains("ERROR 默认输入设备已写入，但无法读取设备 12 的名称"));
    EXPECT_FALSE(log_.contains("INFO 默认输入设备已切换到: USB Interface"));
}

TEST_F(AudioDeviceManagerTest, AnOutputOnlyDeviceIsFoundAndTheHardwareDecidesOnTheWrite) {
    EXPECT_EQ(manager_.setDefaultInputDevice("speakers").currentDevice, (AudioInputDeviceBasic{"speakers", "Speakers"}));
    EXPECT_EQ(currentDefault(), 10u);
}

// Passes every call on, but claims far more input buffers than the bytes it returns.
class OverclaimingHardware final : public AudioHardware {
public:
    explicit OverclaimingHardware(AudioHardware& inner) : inner_(inner) {}

    bool hasProperty(ObjectID object, const PropertyAddress& address) override { return inner_.hasProperty(object, address); }
    Status getPropertyDataSize(ObjectID object, const PropertyAddress& address, std::uint32_t& size) override {
        return inner_.getPropertyDataSize(object, address, size);
    }
    Status getPropertyData(ObjectID object, const PropertyAddress& address, std::uint32_t& ioDataSize,
                           void* data) override {
        const Status status = inner_.getPropertyData(object, address, ioDataSize, data);
        if (status == kNoError && address == kInputStreams) {
            const std::uint32_t claimed = 1000000;
            std::memcpy(data, &claimed, sizeof claimed);
        }
        return status;
    }
    Status getPropertyString(ObjectID object, const PropertyAddress& address, std::optional<std::string>& value) override {
        return inner_.getPropertyString(object, address, value);
    }
    Status setPropertyData(ObjectID object, const PropertyAddress& address, std::uint32_t size, const void* data) override {
        return inner_.setPropertyData(object, address, size, data);
    }
    Status addPropertyListener(ObjectID, const PropertyAddress&, PropertyListenerProc, void*) override { return kNoError; }
    Status removePropertyListener(ObjectID, const PropertyAddress&, PropertyListenerProc, void*) override { return kNoError; }
    void setConnectionObserver(ConnectionObserver) override {}

private:
    AudioHardware& inner_;
};

TEST_F(AudioDeviceManagerTest, AMalformedStreamConfigurationIsReadOnlyAsFarAsItReaches) {
    OverclaimingHardware overclaiming(hardware_);
    const std::vector<AudioInputDevice> expected{{"mic", "Built-in Mic", true}, {"usb", "USB Interface", false}};
    EXPECT_EQ(AudioDeviceManager(overclaiming, {}).getAllInputDevices(), expected);
}

}  // namespace
}  // namespace portline
