#include "harkline/Platform/Speech/SherpaOnnx/StandardErrorCapture.h"

#include <cstdio>
#include <sstream>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace harkline {
namespace {

constexpr std::size_t largestCapture = 64 * 1024;

}  // namespace

StandardErrorCapture::StandardErrorCapture() {
    std::fflush(stderr);
    captureDescriptor_ = ::memfd_create("engine-stderr", MFD_CLOEXEC);
    if (captureDescriptor_ < 0) return;
    savedDescriptor_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (savedDescriptor_ < 0 || ::dup2(captureDescriptor_, STDERR_FILENO) < 0) {
        if (savedDescriptor_ >= 0) ::close(savedDescriptor_);
        ::close(captureDescriptor_);
        savedDescriptor_ = captureDescriptor_ = -1;
    }
}

StandardErrorCapture::~StandardErrorCapture() { finish(); }

std::vector<std::string> StandardErrorCapture::finish() {
    if (captureDescriptor_ < 0) return {};
    std::fflush(stderr);
    ::dup2(savedDescriptor_, STDERR_FILENO);
    ::close(savedDescriptor_);
    std::string text(largestCapture, '\0');
    ssize_t count = ::pread(captureDescriptor_, text.data(), text.size(), 0);
    ::close(captureDescriptor_);
    savedDescriptor_ = captureDescriptor_ = -1;
    text.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    std::vector<std::string> lines;
    std::istringstream written(text);
    for (std::string line; std::getline(written, line);)
        if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

}  // namespace harkline
