#pragma once

#include <chrono>
#include <filesystem>

namespace hushline {

// An exclusive lock between hushline processes, held on a file that is never removed (a
// removed lock file would let two processes lock two different files). The kernel lets go
// of it when the holder ends, kill -9 included.
class StateLock {
public:
    // Waits for the lock on `path`, creating the file when it is missing, up to `timeout`
    // for each process that holds it meanwhile. The holder's process id is in the file.
    // Throws std::runtime_error, describing why, on timeout or when the file cannot be used.
    static StateLock acquire(const std::filesystem::path& path, std::chrono::milliseconds timeout);

    StateLock(StateLock&& other) noexcept;
    StateLock& operator=(StateLock&&) = delete;
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;
    ~StateLock();

private:
    explicit StateLock(int fd) : fd_(fd) {}

    int fd_ = -1;
};

}  // namespace hushline
