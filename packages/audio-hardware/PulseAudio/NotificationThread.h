#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "audio-hardware/AudioHardware.h"
#include "audio-hardware/ChangeWatchers.h"

namespace audiohw {

// Changes that belong together, delivered one after the other.
using Notification = std::vector<HardwareChange>;

// Delivers notifications to the watchers on a thread of its own, in the order posted.
// Watchers may then read the hardware, which waits for the sound server's thread and so
// must not run on it.
class NotificationThread {
public:
    explicit NotificationThread(ChangeWatchers& watchers);
    ~NotificationThread();
    NotificationThread(const NotificationThread&) = delete;
    NotificationThread& operator=(const NotificationThread&) = delete;

    // Never blocks on a delivery.
    void post(Notification notification);
    // Waits for a delivery in progress, drops the rest; later posts are dropped too.
    void stop();

private:
    void run();

    ChangeWatchers& watchers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Notification> queue_;
    bool stopping_ = false;
    std::thread thread_;  // last, so it starts after the fields it uses
};

}  // namespace audiohw
