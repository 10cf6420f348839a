#include "hushline/Audio/StateLock.h"

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace hushline {
namespace {

// The holder's process id as the lock file says it; empty before anyone wrote one.
std::string holderOf(int fd) {
    char buffer[32];
    const ssize_t count = ::pread(fd, buffer, sizeof buffer, 0);
    return count > 0 ? std::string(buffer, static_cast<std::size_t>(count)) : std::string();
}

// Writes this process's id into the lock file, so that those waiting see the lock change hands.
bool recordHolder(int fd) {
    const std::string pid = std::to_string(::getpid());
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
}

}  // namespace

StateLock StateLock::acquire(const std::filesystem::path& path, std::chrono::milliseconds timeout) {
    using namespace std::chrono_literals;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
    StateLock lock(fd);

    // Polling keeps the wait bounded without a signal or a helper thread; a holder needs
    // only milliseconds, so the pauses stay short. The bound is for one holder: it starts
    // again whenever the lock changes hands, as a process queued behind several others on
    // a loaded machine waits for all of them, however quick each is.
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string holder = holderOf(fd);
    std::chrono::steady_clock::duration pause = 1ms;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) throw std::system_error(errno, std::generic_category(), "cannot lock " + path.string());
        const auto now = std::chrono::steady_clock::now();
        if (std::string current = holderOf(fd); current != holder) {
            holder = std::move(current);
            deadline = now + timeout;
        }
        if (now >= deadline) {
            throw std::runtime_error("another process held " + path.string() + " for " +
                                     std::to_string(timeout.count()) + " ms");
        }
        std::this_thread::sleep_for(std::min(pause, deadline - now));
        pause = std::min<std::chrono::steady_clock::duration>(pause * 2, 20ms);
    }
    // A holder that cannot say so only costs those waiting the fresh start of their bound.
    [[maybe_unused]] const bool recorded = recordHolder(fd);
    return lock;
}

StateLock::StateLock(StateLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

StateLock::~StateLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the last descriptor releases the lock
}

}  // namespace hushline
