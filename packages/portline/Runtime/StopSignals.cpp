#include "portline/Runtime/StopSignals.h"

#include <array>
#include <cerrno>
#include <csignal>

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace portline {
namespace {

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

int waitForStopSignal(const sigset_t& signals) {
    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    return received;
}

}  // namespace

void blockStopSignals() {
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void unblockStopSignals() {
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

int waitForStopSignalOrGoneReader(int outputFd) {
    const sigset_t signals = stopSignals();
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) return waitForStopSignal(signals);
    // A pipe or socket whose reader has gone reports POLLERR or POLLHUP without being asked.
    std::array<pollfd, 2> watched{pollfd{signalFd, POLLIN, 0}, pollfd{outputFd, 0, 0}};
    int received = 0;
    while (received == 0) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) continue;
            ::close(signalFd);
            return waitForStopSignal(signals);
        }
        if ((watched[1].revents & (POLLERR | POLLHUP)) != 0) break;
        signalfd_siginfo info{};
        if ((watched[0].revents & POLLIN) != 0 && ::read(signalFd, &info, sizeof info) == sizeof info)
            received = static_cast<int>(info.ssi_signo);
    }
    ::close(signalFd);
    return received;
}

}  // namespace portline
