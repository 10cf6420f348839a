#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "audio-hardware/AudioHardware.h"

namespace audiohw {

// The running watches of one hardware, shared by the backends. Deliveries are serialised;
// ending a watch waits for a delivery running on another thread, so whatever its callback
// uses may be destroyed as soon as the watch has ended.
class ChangeWatchers {
public:
    // The watch ends the registration; it must not outlive this object.
    Watch add(ChangeCallback onChange);
    // Calls every watcher, on this thread, in the order they were added.
    void deliver(HardwareChange change);
    std::size_t count() const;

private:
    void remove(std::uint64_t key);

    // Held for a whole delivery; recursive so a callback may add, end or deliver.
    std::recursive_mutex deliveryMutex_;
    mutable std::mutex mutex_;  // guards the two fields below
    std::map<std::uint64_t, ChangeCallback> watchers_;
    std::uint64_t nextKey_ = 0;
};

}  // namespace audiohw
