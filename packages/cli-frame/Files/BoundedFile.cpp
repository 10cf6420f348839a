#include "cli-frame/Files/BoundedFile.h"

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli-frame/Files/FileDescriptor.h"

namespace cli {
namespace {

std::runtime_error tooLarge(const std::filesystem::path& path, std::uintmax_t limit) {
    return std::runtime_error(path.string() + " is larger than " + std::to_string(limit) + " bytes");
}

}  // namespace

std::string readBoundedFile(const std::filesystem::path& path, std::uintmax_t limit) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) throw std::system_error(errno, std::generic_category(), "cannot read " + path.string());
    if (!S_ISREG(status.st_mode)) throw std::runtime_error(path.string() + " is not a regular file");
    if (static_cast<std::uintmax_t>(status.st_size) > limit) throw tooLarge(path, limit);

    // The size may change while the file is read: the limit holds for what is read.
    std::string bytes;
    char buffer[16 * 1024];
    while (true) {
        ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) throw std::system_error(errno, std::generic_category(), "cannot read " + path.string());
        if (count == 0) return bytes;
        if (bytes.size() + static_cast<std::size_t>(count) > limit) throw tooLarge(path, limit);
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

}  // namespace cli
