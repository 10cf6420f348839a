#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>

// Installing a locale's speech model: its progress, its cancellation, and the
// installation itself.

namespace harkline {

// Progress of one installation: the fraction of it done, and whether it was cancelled.
// Used on the installing thread only.
class AssetInstallationProgress {
public:
    double fractionCompleted() const { return fraction_; }
    void setFractionCompleted(double fraction) { fraction_ = fraction; }

    void cancel() { cancelled_ = true; }
    bool isCancelled() const { return cancelled_; }

private:
    double fraction_ = 0.0;
    bool cancelled_ = false;
};

// What the installing thread does for its caller besides installing: whatever it waits
// for (the network, a child process), it also wakes up when the cancel marker may have
// appeared and when a progress report is due. Left empty, nothing is watched or reported.
struct InstallationWatch {
    // A file whose appearance (in another process) may ask to cancel.
    std::filesystem::path cancelMarker;
    // Looks at the marker; true cancels the installation. Asked at the start and whenever
    // the marker may have changed (at every wake-up where changes cannot be watched).
    std::function<bool()> cancelRequested;
    // Called with the fraction done at the start and then every `reportInterval`, also
    // while the installation waits for something that does not come.
    std::function<void(double)> report;
    std::chrono::milliseconds reportInterval{500};
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
    // Returns once the assets are installed, serving `watch` on the calling thread
    // meanwhile. Throws AssetInstallationCancelled when it was cancelled first, or a
    // std::exception describing the failure.
    virtual void downloadAndInstall(const InstallationWatch& watch) = 0;
};

}  // namespace harkline
