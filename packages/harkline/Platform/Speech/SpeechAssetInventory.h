#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "harkline/Platform/Speech/TranscriptionPreset.h"

// The model assets of the speech platform layer: which locales a transcriber supports
// and has installed, the asset state of a transcription module, and installation with
// progress and cancellation. Linux/ holds the Linux inventory (the per-user
// model store), Testing/ an in-memory double.

namespace harkline {

// The transcription module whose assets are asked about.
struct SpeechAssetModule {
    std::string locale;
    TranscriptionPreset preset = TranscriptionPreset::progressiveTranscription;
};

// Values outside the four named ones may come from a newer platform; callers must
// handle them.
enum class AssetInventoryStatus : int {
    unsupported = 0,
    supported = 1,  // supported, not installed
    downloading = 2,
    installed = 3,
};

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

// Safe to call from any thread.
class SpeechAssetInventory {
public:
    virtual ~SpeechAssetInventory() = default;

    // Identifiers of every locale a transcriber can handle, in the platform's order.
    virtual std::vector<std::string> supportedLocales() const = 0;
    // Identifiers of the locales whose assets are on this machine.
    virtual std::vector<std::string> installedLocales() const = 0;

    virtual AssetInventoryStatus status(const std::vector<SpeechAssetModule>& modules) const = 0;
    // None when there is nothing to install. Throws a std::exception describing why
    // the modules cannot be installed.
    virtual std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(
        const std::vector<SpeechAssetModule>& modules) const = 0;
};

}  // namespace harkline
