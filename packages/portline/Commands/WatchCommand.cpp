#include "portline/Commands/WatchCommand.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "portline/Audio/AudioDeviceMonitor.h"
#include "portline/Runtime/CLITypes.h"

namespace portline {
namespace {

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "signal handlers may only touch lock-free atomics");

// Set by SIGINT and SIGTERM; the watch loop ends when it sees it.
std::atomic<bool> globalShouldStop{false};
// Write end of a pipe that cuts the loop's current sleep short, whichever thread the
// signal lands on. Created once and never closed, since a handler may use it at any time.
std::atomic<int> wakeWriteFd{-1};
int wakeReadFd = -1;

constexpr int kSliceMilliseconds = 100;

void requestStop(int) {
    const int savedErrno = errno;
    globalShouldStop.store(true);
    const int fd = wakeWriteFd.load();
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t ignored = ::write(fd, "!", 1);  // a full pipe already wakes the loop
    }
    errno = savedErrno;
}

void installStopHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            wakeReadFd = fds[0];
            wakeWriteFd.store(fds[1]);
        }
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    });
}

// Sleeps one slice, or less when a stop request arrives.
void sleepOneSlice() {
    if (wakeReadFd < 0) {
        ::usleep(kSliceMilliseconds * 1000);
        return;
    }
    pollfd wake{wakeReadFd, POLLIN, 0};
    if (::poll(&wake, 1, kSliceMilliseconds) > 0) {
        char drained[64];
        while (::read(wakeReadFd, drained, sizeof drained) > 0) {
        }
    }
}

}  // namespace

void WatchCommand::run() {
    context_.logger.info("执行 watch 命令");
    runWatchLoop();
}

void WatchCommand::runWatchLoop() const {
    AudioDeviceMonitor monitor(*context_.audioHardware, context_.logger);
    installStopHandlers();

    const cli::CLIMessageEmitter& emitter = context_.emitter;
    monitor.startMonitoring([&emitter](const AudioDeviceEvent& event) {
        std::visit(
            [&](const auto& data) { emitter.emit(cli::CLIMessage::event(EventPayload{eventName(event), data})); },
            event);
    });
    emitter.emit(cli::CLIMessage::status(StatusPayload{.stage = "ready", .logPath = emitter.logPath(), .message = "监听已启动"}));

    while (!globalShouldStop.load()) sleepOneSlice();

    monitor.stopMonitoring();
    emitter.emit(cli::CLIMessage::status(StatusPayload{.stage = "stopped", .logPath = emitter.logPath(), .message = "监听已停止"}));
}

}  // namespace portline
