#include "portline/Audio/AudioDeviceMonitor.h"

namespace portline {

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
    watch_ = hardware_.watch([this](audiohw::HardwareChange change) { handleChange(change); });
}

void AudioDeviceMonitor::stopMonitoring() {
    if (!isRunning_) return;
    logger_.info("停止监听音频设备变化");
    watch_.end();
    isRunning_ = false;
    std::lock_guard lock(mutex_);
    onEvent_ = nullptr;
}

void AudioDeviceMonitor::handleChange(audiohw::HardwareChange change) const {
    switch (change) {
        case audiohw::HardwareChange::devices: handleDeviceListChange(); break;
        case audiohw::HardwareChange::defaultInput: handleDefaultInputChange(); break;
        case audiohw::HardwareChange::defaultOutput: break;  // not watched
        // The hardware follows the server again by itself and then reports what changed.
        case audiohw::HardwareChange::serverLost: logger_.error("与音频服务的连接已断开，等待重新连接"); break;
        case audiohw::HardwareChange::serverRestored: logger_.info("已重新连接音频服务"); break;
    }
}

AudioDeviceMonitor::EventHandler AudioDeviceMonitor::currentHandler() const {
    std::lock_guard lock(mutex_);
    return onEvent_;
}

void AudioDeviceMonitor::handleDeviceListChange() const {
    logger_.info("检测到设备列表变化");
    deliver("获取设备列表失败: ", [&] { return DeviceListChangedData{deviceManager_.getAllInputDevices()}; });
}

void AudioDeviceMonitor::handleDefaultInputChange() const {
    logger_.info("检测到默认输入设备变化");
    deliver("获取默认设备失败: ", [&] { return DefaultDeviceChangedData{deviceManager_.getDefaultInputDevice()}; });
}

}  // namespace portline
