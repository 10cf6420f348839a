#pragma once

#include <filesystem>

namespace testsupport {

// A unix socket that accepts connections and never answers: a hung server, for tests that
// a client gives up in time. Removed on destruction.
class SilentSocket {
public:
    explicit SilentSocket(std::filesystem::path path);
    ~SilentSocket();
    SilentSocket(const SilentSocket&) = delete;
    SilentSocket& operator=(const SilentSocket&) = delete;

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

}  // namespace testsupport
