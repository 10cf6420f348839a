#include "test-support/SilentSocket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace testsupport {

SilentSocket::SilentSocket(std::filesystem::path path) : path_(std::move(path)) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd_, 16) != 0) {
        if (fd_ >= 0) close(fd_);
        throw std::runtime_error("cannot listen on " + path_.string());
    }
}

SilentSocket::~SilentSocket() {
    close(fd_);
    std::filesystem::remove(path_);
}

}  // namespace testsupport
