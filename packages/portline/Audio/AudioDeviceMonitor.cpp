#include "portline/Audio/AudioDeviceMonitor.h"

namespace portline {
namespace {

constexpr audiohw::PropertyAddress kDevicesAddress{audiohw::kPropertyDevices, audiohw::kScopeGlobal,
                                                   audiohw::kElementMain};
constexpr audiohw::PropertyAddress kDefaultInputAddress{audiohw::kPropertyDefaultInputDevice, audiohw::kScopeGlobal,
                                                        audiohw::kElementMain};

}  // namespace

AudioDeviceMonitor::AudioDeviceMonitor(audiohw::AudioHardware& hardware, cli::Logger logger)
    : hardware_(hardware), logger_(logger), deviceManager_(hardware, std::move(logger)) {}

AudioDeviceMonitor::~AudioDeviceMonitor() { stopMonitoring(); }

void AudioDeviceMonitor::startMonitoring(EventHandler onEvent) {
    if (isRunning_) {
        logger_.info("监听已在运行中");
        return;
    }
    {
        std::lock_guard lock(mutex_);
        onEvent_ = std::move(onEvent);
    }
    isRunning_ = true;
    logger_.info("开始监听音频设备变化");
    // A refused registration only means no events; there is nothing better to do about it.
    hardware_.addPropertyListener(audiohw::kSystemObject, kDevicesAddress, deviceListListener, this);
    hardware_.addPropertyListener(audiohw::kSystemObject, kDefaultInputAddress, defaultInputListener, this);
    hardware_.setConnectionObserver([this](audiohw::ServerConnection change) { handleConnectionChange(change); });
}

void AudioDeviceMonitor::stopMonitoring() {
    if (!isRunning_) return;
    logger_.info("停止监听音频设备变化");
    hardware_.removePropertyListener(audiohw::kSystemObject, kDevicesAddress, deviceListListener, this);
    hardware_.removePropertyListener(audiohw::kSystemObject, kDefaultInputAddress, defaultInputListener, this);
    hardware_.setConnectionObserver({});
    isRunning_ = false;
    std::lock_guard lock(mutex_);
    onEvent_ = nullptr;
}

audiohw::Status AudioDeviceMonitor::deviceListListener(audiohw::ObjectID, std::uint32_t, const audiohw::PropertyAddress*,
                                                       void* clientData) {
    if (clientData != nullptr) static_cast<const AudioDeviceMonitor*>(clientData)->handleDeviceListChange();
    return audiohw::kNoError;
}

audiohw::Status AudioDeviceMonitor::defaultInputListener(audiohw::ObjectID, std::uint32_t,
                                                         const audiohw::PropertyAddress*, void* clientData) {
    if (clientData != nullptr) static_cast<const AudioDeviceMonitor*>(clientData)->handleDefaultInputChange();
    return audiohw::kNoError;
}

AudioDeviceMonitor::EventHandler AudioDeviceMonitor::currentHandler() const {
    std::lock_guard lock(mutex_);
    return onEvent_;
}

void AudioDeviceMonitor::handleDeviceListChange() const {
    logger_.info("检测到设备列表变化");
    const EventHandler onEvent = currentHandler();
    if (!onEvent) return;
    DeviceListChangedData data;
    try {
        data.devices = deviceManager_.getAllInputDevices();
    } catch (const std::exception& failure) {
        logger_.error(std::string("获取设备列表失败: ") + failure.what());
        return;
    }
    onEvent(data);
}

void AudioDeviceMonitor::handleDefaultInputChange() const {
    logger_.info("检测到默认输入设备变化");
    const EventHandler onEvent = currentHandler();
    if (!onEvent) return;
    DefaultDeviceChangedData data;
    try {
        data.device = deviceManager_.getDefaultInputDevice();
    } catch (const std::exception& failure) {
        logger_.error(std::string("获取默认设备失败: ") + failure.what());
        return;
    }
    onEvent(data);
}

void AudioDeviceMonitor::handleConnectionChange(audiohw::ServerConnection change) const {
    // The hardware re-registers by itself and then reports the device list as changed.
    if (change == audiohw::ServerConnection::lost) {
        logger_.error("与音频服务的连接已断开，等待重新连接");
    } else {
        logger_.info("已重新连接音频服务");
    }
}

}  // namespace portline
