#include "cli-frame/Files/AtomicFile.h"

#include <cerrno>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {
namespace {

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

}  // namespace

void writeFileAtomically(const std::filesystem::path& path, std::string_view contents) {
    std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) fail(errno, "cannot create a temporary file beside " + path.string());

    auto abandon = [&](int error, const std::string& what) {
        ::close(fd);
        ::unlink(temporary.c_str());
        fail(error, what);
    };
    std::size_t written = 0;
    while (written < contents.size()) {
        ssize_t count = ::write(fd, contents.data() + written, contents.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) abandon(errno, "cannot write " + temporary);
        written += static_cast<std::size_t>(count);
    }
    if (::fchmod(fd, 0644) != 0) abandon(errno, "cannot set the mode of " + temporary);
    if (::fsync(fd) != 0) abandon(errno, "cannot sync " + temporary);
    if (::close(fd) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        fail(error, "cannot close " + temporary);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        fail(error, "cannot replace " + path.string());
    }
    // Make the rename itself durable.
    if (int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
}

}  // namespace cli
