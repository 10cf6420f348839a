#include "harkline/Diagnostics/LogTail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "cli-frame/Files/FileDescriptor.h"
#include "cli-frame/Json/Utf8.h"

namespace harkline {
namespace {

using cli::FileDescriptor;

// Checks text given in pieces that may split a character. Text cut before a byte that
// begins a character is valid exactly when both parts are, so each piece is checked up to
// its last such byte and the rest waits for the next piece.
class Utf8Check {
public:
    bool add(std::string_view piece) {
        pending_.append(piece);
        auto cut = pending_.size();
        for (std::size_t back = 1; back <= std::min<std::size_t>(4, pending_.size()); ++back) {
            auto byte = static_cast<unsigned char>(pending_[pending_.size() - back]);
            if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
            if (byte >= 0xC0) cut = pending_.size() - back;  // a character that may go on
            break;
        }
        if (!cli::isValidUtf8(std::string_view(pending_).substr(0, cut))) return false;
        pending_.erase(0, cut);
        return true;
    }
    bool finish() const { return cli::isValidUtf8(pending_); }

private:
    std::string pending_;
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
    // A log that cannot be read as UTF-8 text has no tail, wherever its bad byte lies: the
    // whole file is checked, forwards, keeping the tail on the way.
    std::string tail;
    Utf8Check check;
    for (off_t blockStart = 0; blockStart < end; blockStart += blockSize) {
        auto size = static_cast<std::size_t>(std::min(blockSize, end - blockStart));
        if (!readExactly(file.get(), block.data(), size, blockStart) || !check.add(std::string_view(block.data(), size)))
            return std::nullopt;
        if (blockStart + static_cast<off_t>(size) > tailStart) {
            auto from = static_cast<std::size_t>(std::max<off_t>(tailStart - blockStart, 0));
            tail.append(block.data() + from, size - from);
        }
    }
    if (!check.finish()) return std::nullopt;
    return tail;
}

}  // namespace harkline
