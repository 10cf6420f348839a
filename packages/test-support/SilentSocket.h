#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace testsupport {

// A unix socket that accepts connections and never answers: a hung server, for tests that
// a client gives up in time. Removed on destruction.
class SilentSocket {
public:
    explicit SilentSocket(std::filesystem::path path)
        : path_(std::move(path)), fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd_, 16) != 0) {
            if (fd_ >= 0) close(fd_);
            throw std::runtime_error("cannot listen on " + path_.string());
        }
    }
    ~SilentSocket() {
        close(fd_);
        std::filesystem::remove(path_);
    }
    SilentSocket(const SilentSocket&) = delete;
    SilentSocket& operator=(const SilentSocket&) = delete;

private:
    std::filesystem::path path_;
    int fd_;
};

}  // namespace testsupport
