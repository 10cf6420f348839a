#include "harkline/Platform/Speech/WarmEngine/FrameConnection.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace harkline {

FrameConnection::FrameConnection(int descriptor) : descriptor_(descriptor) {
    int flags = ::fcntl(descriptor_, F_GETFL);
    if (flags >= 0) ::fcntl(descriptor_, F_SETFL, flags | O_NONBLOCK);
}

FrameConnection::~FrameConnection() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

FrameConnection::FrameConnection(FrameConnection&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

FrameConnection& FrameConnection::operator=(FrameConnection&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) ::close(descriptor_);
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

bool FrameConnection::send(const Frame& frame, Clock::time_point deadline) {
    if (frame.payload.size() > largestPayload) return false;
    auto size = static_cast<std::uint32_t>(frame.payload.size());
    // One write for the whole frame: a small request and its answer are one packet each.
    std::string bytes{static_cast<char>(size & 0xff), static_cast<char>((size >> 8) & 0xff),
                      static_cast<char>((size >> 16) & 0xff), static_cast<char>(size >> 24),
                      static_cast<char>(frame.kind)};
    bytes += frame.payload;
    return writeAll(bytes.data(), bytes.size(), deadline);
}

std::optional<Frame> FrameConnection::receive(Clock::time_point deadline) {
    unsigned char header[5];
    if (!readAll(reinterpret_cast<char*>(header), sizeof header, deadline)) return std::nullopt;
    std::size_t size = header[0] | (header[1] << 8) | (header[2] << 16) | (std::size_t{header[3]} << 24);
    if (size > largestPayload || header[4] < static_cast<unsigned char>(FrameKind::hello) ||
        header[4] > static_cast<unsigned char>(FrameKind::state))
        return std::nullopt;
    Frame frame{static_cast<FrameKind>(header[4]), std::string(size, '\0')};
    if (!readAll(frame.payload.data(), size, deadline)) return std::nullopt;
    return frame;
}

bool FrameConnection::writeAll(const char* bytes, std::size_t size, Clock::time_point deadline) {
    while (size > 0) {
        auto written = ::send(descriptor_, bytes, size, MSG_NOSIGNAL);
        if (written > 0) {
            bytes += written;
            size -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(POLLOUT, deadline)) return false;
        } else {
            return false;
        }
    }
    return true;
}

bool FrameConnection::readAll(char* bytes, std::size_t size, Clock::time_point deadline) {
    while (size > 0) {
        auto got = ::recv(descriptor_, bytes, size, 0);
        if (got > 0) {
            bytes += got;
            size -= static_cast<std::size_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(POLLIN, deadline)) return false;
        } else {
            return false;  // closed by the peer, or broken
        }
    }
    return true;
}

bool FrameConnection::waitFor(short events, Clock::time_point deadline) const {
    for (;;) {
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            timeout = static_cast<int>(std::min<long long>(left, 60'000));
        }
        pollfd entry{descriptor_, events, 0};
        int ready = ::poll(&entry, 1, timeout);
        if (ready > 0) return true;  // ready, or hung up: the next call says which
        if (ready < 0 && errno != EINTR) return false;
    }
}

}  // namespace harkline
