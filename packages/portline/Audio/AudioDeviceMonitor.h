#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "audio-hardware/AudioHardware.h"
#include "cli-frame/Logging/Logger.h"
#include "portline/Audio/AudioDeviceManager.h"
#include "portline/Audio/AudioTypes.h"

namespace portline {

// Watches the device list and the default input device and turns each change into one
// event carrying the fresh list or the new default. Events are delivered on the hardware's
// thread; start and stop belong to one thread.
class AudioDeviceMonitor {
public:
    using EventHandler = std::function<void(const AudioDeviceEvent&)>;

    AudioDeviceMonitor(audiohw::AudioHardware& hardware, cli::Logger logger);
    // Stops first, so no change can reach a destroyed monitor.
    ~AudioDeviceMonitor();
    AudioDeviceMonitor(const AudioDeviceMonitor&) = delete;
    AudioDeviceMonitor& operator=(const AudioDeviceMonitor&) = delete;

    // A second start while running keeps the first handler.
    void startMonitoring(EventHandler onEvent);
    // Once this returns, no handler runs or will run.
    void stopMonitoring();

private:
    void handleChange(audiohw::HardwareChange change) const;
    void handleDeviceListChange() const;
    void handleDefaultInputChange() const;
    EventHandler currentHandler() const;
    // Hands what `read` gets to the running handler; a failed read is logged and is no event.
    template <typename Read>
    void deliver(const char* failurePrefix, Read read) const {
        const EventHandler onEvent = currentHandler();
        if (!onEvent) return;
        AudioDeviceEvent event;
        try {
            event = read();
        } catch (const std::exception& failure) {
            logger_.error(failurePrefix + std::string(failure.what()));
            return;
        }
        onEvent(event);
    }

    audiohw::AudioHardware& hardware_;
    cli::Logger logger_;
    AudioDeviceManager deviceManager_;
    mutable std::mutex mutex_;  // guards onEvent_, which the hardware's thread reads
    EventHandler onEvent_;
    bool isRunning_ = false;
    audiohw::Watch watch_;
};

}  // namespace portline
