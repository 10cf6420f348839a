#include "harkline/Diagnostics/LogTail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "cli-frame/Json/Utf8.h"

namespace harkline {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool readExactly(int fd, char* buffer, std::size_t size, off_t offset) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t count = ::pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
        if (count <= 0) return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

}  // namespace

std::optional<std::string> readLogTail(const std::filesystem::path& path, std::uint64_t count) {
    // The path is the user's: a FIFO or a device in its place must not hold the command.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) return std::nullopt;
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    off_t end = ::lseek(file.get(), 0, SEEK_END);
    if (end < 0) return std::nullopt;

    // The tail starts after the count-th line feed from the end; walk back block by block.
    constexpr off_t blockSize = 64 * 1024;
    std::vector<char> block(blockSize);
    std::uint64_t lineFeedsSeen = 0;
    off_t tailStart = 0;
    bool found = false;
    for (off_t blockEnd = end; blockEnd > 0 && !found;) {
        off_t blockStart = blockEnd > blockSize ? blockEnd - blockSize : 0;
        auto size = static_cast<std::size_t>(blockEnd - blockStart);
        if (!readExactly(file.get(), block.data(), size, blockStart)) return std::nullopt;
        for (std::size_t index = size; index-- > 0;) {
            if (block[index] == '\n' && ++lineFeedsSeen == count) {
                tailStart = blockStart + static_cast<off_t>(index) + 1;
                found = true;
                break;
            }
        }
        blockEnd = blockStart;
    }
    std::string tail(static_cast<std::size_t>(end - tailStart), '\0');
    if (!tail.empty() && !readExactly(file.get(), tail.data(), tail.size(), tailStart)) return std::nullopt;
    if (!cli::isValidUtf8(tail)) return std::nullopt;
    return tail;
}

}  // namespace harkline
