#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

// Installing a locale's speech model: its progress, its cancellation, and the
// installation itself.

namespace harkline {

// Progress of one installation: the fraction of it done, and the way to cancel it.
// Safe to use from any thread.
class AssetInstallationProgress {
public:
    double fractionCompleted() const { return fraction_.load(); }
    void setFractionCompleted(double fraction) { fraction_.store(fraction); }

    void cancel() {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        cancelledChanged_.notify_all();
    }
    bool isCancelled() const {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }
    // Waits up to `duration`; true as soon as the installation is cancelled.
    bool waitForCancellation(std::chrono::nanoseconds duration) const {
        std::unique_lock lock(mutex_);
        return cancelledChanged_.wait_for(lock, duration, [this] { return cancelled_; });
    }

private:
    std::atomic<double> fraction_{0.0};
    mutable std::mutex mutex_;
    mutable std::condition_variable cancelledChanged_;
    bool cancelled_ = false;
};

// What downloadAndInstall throws when its progress was cancelled before the assets
// were in place.
class AssetInstallationCancelled : public std::runtime_error {
public:
    AssetInstallationCancelled() : std::runtime_error("the installation was cancelled") {}
};

// One installation, to be run once.
class AssetInstallationRequest {
public:
    virtual ~AssetInstallationRequest() = default;

    virtual AssetInstallationProgress& progress() = 0;
    // Returns once the assets are installed. Throws AssetInstallationCancelled when the
    // progress was cancelled first, or a std::exception describing the failure.
    virtual void downloadAndInstall() = 0;
};

}  // namespace harkline
