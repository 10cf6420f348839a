#include "harkline/Platform/Speech/Download/InstallationLoop.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace harkline {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The marker is written by a rename into its folder; a folder or link in its place is
// created; either is worth a look.
constexpr std::uint32_t markerEvents = IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ONLYDIR;

}  // namespace

InstallationLoop::InstallationLoop(AssetInstallationProgress& progress, InstallationWatch watch)
    : progress_(progress), watch_(std::move(watch)), nextReport_(Clock::now()) {
    if (!watch_.cancelMarker.empty() && watch_.cancelRequested) {
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify_ >= 0 && ::inotify_add_watch(inotify_, watch_.cancelMarker.parent_path().c_str(), markerEvents) < 0)
            stopWatchingMarker();
    }
    serve();
}

InstallationLoop::~InstallationLoop() {
    if (inotify_ >= 0) ::close(inotify_);
}

void InstallationLoop::stopWatchingMarker() {
    ::close(inotify_);
    inotify_ = -1;
}

bool InstallationLoop::markerMayHaveChanged() {
    if (!watch_.cancelRequested) return false;
    if (firstLook_ || inotify_ < 0) {
        firstLook_ = false;
        return true;
    }
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    while (true) {
        ssize_t count = ::read(inotify_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        for (char* at = buffer; at < buffer + count;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            at += sizeof(inotify_event) + event->len;
            // Lost events, or the folder itself went: from now on, a look at every wake-up.
            if (event->mask & (IN_Q_OVERFLOW | IN_IGNORED)) {
                stopWatchingMarker();
                return true;
            }
            if (event->len > 0 && event->name == watch_.cancelMarker.filename().string()) changed = true;
        }
    }
    return changed;
}

void InstallationLoop::serve() {
    if (!progress_.isCancelled() && markerMayHaveChanged() && watch_.cancelRequested()) progress_.cancel();
    if (progress_.isCancelled()) throw AssetInstallationCancelled();
    auto now = Clock::now();
    if (watch_.report && now >= nextReport_) {
        watch_.report(progress_.fractionCompleted());
        nextReport_ = now + watch_.reportInterval;
    }
}

std::optional<milliseconds> InstallationLoop::longestWait() const {
    std::optional<milliseconds> longest;
    if (watch_.report) {
        auto untilReport = std::chrono::ceil<milliseconds>(nextReport_ - Clock::now());
        longest = std::max(untilReport, milliseconds(0));
    }
    if (watch_.cancelRequested && inotify_ < 0) longest = std::min(longest.value_or(unwatchedMarkerWait), unwatchedMarkerWait);
    return longest;
}

bool InstallationLoop::waitUntilReadable(int fd, Clock::time_point deadline) {
    while (true) {
        auto untilDeadline = std::max(std::chrono::ceil<milliseconds>(deadline - Clock::now()), milliseconds(0));
        auto wait = std::min(untilDeadline, longestWait().value_or(untilDeadline));
        pollfd entries[2] = {{fd, POLLIN, 0}, {inotify_, POLLIN, 0}};
        int ready = ::poll(entries, inotify_ >= 0 ? 2 : 1, static_cast<int>(wait.count()));
        if (ready < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "cannot wait");
        serve();
        if (ready > 0 && entries[0].revents != 0) return true;
        if (Clock::now() >= deadline) return false;
    }
}

}  // namespace harkline
