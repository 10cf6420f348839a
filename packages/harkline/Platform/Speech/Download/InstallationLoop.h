#pragma once

#include <chrono>
#include <optional>

#include "harkline/Platform/Speech/AssetInstallation.h"

namespace harkline {

// The one loop of an installing thread. Whatever the thread waits for (a transfer's
// sockets, a child's output) is waited for together with the cancel marker's folder
// (inotify) and the time of the next progress report, so that a cancel ends any wait at
// once and reports come on time while nothing else happens. Where the folder cannot be
// watched (inotify missing or out of watches), the marker is looked at on every wake-up
// and waits last at most `unwatchedMarkerWait`.
class InstallationLoop {
public:
    static constexpr std::chrono::milliseconds unwatchedMarkerWait{200};

    // Looks at the marker and makes the first report at once.
    InstallationLoop(AssetInstallationProgress& progress, InstallationWatch watch);
    ~InstallationLoop();
    InstallationLoop(const InstallationLoop&) = delete;
    InstallationLoop& operator=(const InstallationLoop&) = delete;

    AssetInstallationProgress& progress() { return progress_; }

    // Does what is due: looks at the marker when it may have changed, reports when the time
    // has come. Throws AssetInstallationCancelled once the installation is cancelled. Called
    // after every wait and between pieces of work that do not wait.
    void serve();

    // For a wait of one's own (libcurl's): a descriptor to wait on as well, readable when the
    // marker may have changed (none: -1), and how long the wait may last before serve() is
    // due (none: as long as it takes).
    int markerDescriptor() const { return inotify_; }
    std::optional<std::chrono::milliseconds> longestWait() const;

    // Waits until `fd` is readable (or at its end) and returns true, serving meanwhile;
    // false once `deadline` has passed first (always, for an `fd` of -1).
    bool waitUntilReadable(int fd, std::chrono::steady_clock::time_point deadline);

private:
    bool markerMayHaveChanged();
    void stopWatchingMarker();

    AssetInstallationProgress& progress_;
    InstallationWatch watch_;
    int inotify_ = -1;
    bool firstLook_ = true;
    std::chrono::steady_clock::time_point nextReport_;
};

}  // namespace harkline
