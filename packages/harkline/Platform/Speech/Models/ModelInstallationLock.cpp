#include "harkline/Platform/Speech/Models/ModelInstallationLock.h"

#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace harkline {

std::filesystem::path ModelInstallationLock::path(const std::filesystem::path& modelsDirectory,
                                                  const std::string& locale) {
    return modelsDirectory / ("." + locale + ".lock");
}

std::optional<ModelInstallationLock> ModelInstallationLock::tryAcquire(const std::filesystem::path& lockFile) {
    // Never through a link: a planted one would have us create the file it names.
    int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot create " + lockFile.string());
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        if (error == EINTR) continue;
        ::close(fd);
        if (error == EWOULDBLOCK) return std::nullopt;
        throw std::system_error(error, std::generic_category(), "cannot lock " + lockFile.string());
    }
    return ModelInstallationLock(fd);
}

bool ModelInstallationLock::isHeld(const std::filesystem::path& lockFile) {
    int fd = ::open(lockFile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    int result;
    do {
        result = ::flock(fd, LOCK_SH | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    bool held = result != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // also releases the shared lock taken for the test
    return held;
}

ModelInstallationLock::~ModelInstallationLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace harkline
