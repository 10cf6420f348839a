#pragma once

#include <unistd.h>

namespace cli {

// An open file descriptor, closed on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }

    int get() const { return fd_; }
    // Closes now and returns what close(2) returned, so that a caller can report a failing
    // close (delayed write errors).
    int close() {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 ? 0 : ::close(fd);
    }

private:
    int fd_;
};

}  // namespace cli
