#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "audio-hardware/AudioHardware.h"
#include "audio-hardware/PropertyListenerRegistry.h"

namespace audiohw {

struct Notification {
    std::optional<ServerConnection> connection;  // told before the selectors
    std::vector<PropertySelector> changedSelectors;
};

// Delivers notifications to the registry on a thread of its own, in the order posted.
// Listeners may then make property calls, which wait for the sound server's thread and
// so must not run on it.
class NotificationThread {
public:
    explicit NotificationThread(PropertyListenerRegistry& registry);
    ~NotificationThread();
    NotificationThread(const NotificationThread&) = delete;
    NotificationThread& operator=(const NotificationThread&) = delete;

    // Never blocks on a delivery.
    void post(Notification notification);
    // Waits for a delivery in progress, drops the rest; later posts are dropped too.
    void stop();

private:
    void run();

    PropertyListenerRegistry& registry_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Notification> queue_;
    bool stopping_ = false;
    std::thread thread_;  // last, so it starts after the fields it uses
};

}  // namespace audiohw
