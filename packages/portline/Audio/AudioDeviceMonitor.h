#pragma once

#include <functional>
#include <mutex>

#include "audio-hardware/AudioHardware.h"
#include "cli-frame/Logging/Logger.h"
#include "portline/Audio/AudioDeviceManager.h"
#include "portline/Audio/AudioTypes.h"

namespace portline {

// Listens for changes of the device list and of the default input device and turns each
// notification into one event carrying the fresh list or the new default. Events are
// delivered on the hardware's notification thread; start and stop belong to one thread.
class AudioDeviceMonitor {
public:
    using EventHandler = std::function<void(const AudioDeviceEvent&)>;

    AudioDeviceMonitor(audiohw::AudioHardware& hardware, cli::Logger logger);
    // Stops first, so no notification can reach a destroyed monitor.
    ~AudioDeviceMonitor();
    AudioDeviceMonitor(const AudioDeviceMonitor&) = delete;
    AudioDeviceMonitor& operator=(const AudioDeviceMonitor&) = delete;

    // A second start while running keeps the first handler.
    void startMonitoring(EventHandler onEvent);
    // Once this returns, no handler runs or will run.
    void stopMonitoring();
    bool isRunning() const { return isRunning_; }

private:
    static audiohw::Status deviceListListener(audiohw::ObjectID object, std::uint32_t numberAddresses,
                                              const audiohw::PropertyAddress* addresses, void* clientData);
    static audiohw::Status defaultInputListener(audiohw::ObjectID object, std::uint32_t numberAddresses,
                                                const audiohw::PropertyAddress* addresses, void* clientData);

    void handleDeviceListChange() const;
    void handleDefaultInputChange() const;
    void handleConnectionChange(audiohw::ServerConnection change) const;
    EventHandler currentHandler() const;

    audiohw::AudioHardware& hardware_;
    cli::Logger logger_;
    AudioDeviceManager deviceManager_;
    mutable std::mutex mutex_;  // guards onEvent_, which the notification thread reads
    EventHandler onEvent_;
    bool isRunning_ = false;
};

}  // namespace portline
