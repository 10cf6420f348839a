#include "audio-hardware/ChangeWatchers.h"

#include <vector>

namespace audiohw {

Watch ChangeWatchers::add(ChangeCallback onChange) {
    std::lock_guard lock(mutex_);
    const std::uint64_t key = nextKey_++;
    watchers_.emplace(key, std::move(onChange));
    return Watch([this, key] { remove(key); });
}

void ChangeWatchers::remove(std::uint64_t key) {
    ChangeCallback removed;
    {
        std::lock_guard delivery(deliveryMutex_);
        std::lock_guard lock(mutex_);
        const auto found = watchers_.find(key);
        if (found == watchers_.end()) return;
        removed = std::move(found->second);
        watchers_.erase(found);
    }
    // The callback may own things whose destruction takes locks of the caller: drop it unlocked.
}

std::size_t ChangeWatchers::count() const {
    std::lock_guard lock(mutex_);
    return watchers_.size();
}

void ChangeWatchers::deliver(HardwareChange change) {
    std::lock_guard delivery(deliveryMutex_);
    std::vector<std::uint64_t> keys;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, watcher] : watchers_) keys.push_back(key);
    }
    for (const std::uint64_t key : keys) {
        ChangeCallback watcher;
        {
            // An earlier watcher of this round may have ended this one.
            std::lock_guard lock(mutex_);
            const auto found = watchers_.find(key);
            if (found == watchers_.end()) continue;
            watcher = found->second;
        }
        watcher(change);
    }
}

}  // namespace audiohw
