#include "cli-frame/Files/AtomicFile.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <optional>
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

constexpr std::size_t randomPartLength = 6;  // the XXXXXX of mkostemp
constexpr auto staleAfter = std::chrono::minutes(1);

bool isRandomPart(std::string_view text) {
    if (text.size() != randomPartLength) return false;
    for (char character : text)
        if (std::isalnum(static_cast<unsigned char>(character)) == 0) return false;
    return true;
}

bool isNumber(std::string_view text) {
    if (text.empty() || text.size() > 9) return false;
    for (char character : text)
        if (std::isdigit(static_cast<unsigned char>(character)) == 0) return false;
    return true;
}

// A temporary of ours is ".NAME.PID.XXXXXX"; for `targetName` only, the ".NAME.XXXXXX" of
// earlier versions too, which carries no owner. Nothing else is ever taken for one.
struct TemporaryName {
    std::optional<pid_t> owner;
};

std::optional<TemporaryName> parseTemporaryName(std::string_view name, std::string_view targetName) {
    if (name.size() < 2 + randomPartLength + 1 || name.front() != '.') return std::nullopt;
    auto randomDot = name.size() - randomPartLength - 1;
    if (name[randomDot] != '.' || !isRandomPart(name.substr(randomDot + 1))) return std::nullopt;
    auto stem = name.substr(1, randomDot - 1);
    if (stem == targetName) return TemporaryName{};
    auto pidDot = stem.rfind('.');
    if (pidDot == std::string_view::npos || pidDot == 0 || !isNumber(stem.substr(pidDot + 1))) return std::nullopt;
    return TemporaryName{static_cast<pid_t>(std::stol(std::string(stem.substr(pidDot + 1))))};
}

bool isProcessGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

// Removes what writers killed before their rename left in `folder`: temporaries whose
// owner is gone, or that are older than any write takes. Best effort, never fails.
void removeAbandonedTemporaries(const std::filesystem::path& folder, std::string_view targetName) {
    std::error_code error;
    auto now = std::filesystem::file_time_type::clock::now();
    for (std::filesystem::directory_iterator entries(folder, error), end; !error && entries != end;
         entries.increment(error)) {
        auto temporary = parseTemporaryName(entries->path().filename().string(), targetName);
        if (!temporary || !entries->is_regular_file(error)) continue;
        auto modified = entries->last_write_time(error);
        bool stale = !error && now - modified > staleAfter;
        if (stale || (temporary->owner && isProcessGone(*temporary->owner)))
            std::filesystem::remove(entries->path(), error);
        error.clear();
    }
}

}  // namespace

void writeFileAtomically(const std::filesystem::path& path, std::string_view contents) {
    std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    removeAbandonedTemporaries(folder, path.filename().string());
    std::string temporary =
        (folder / ("." + path.filename().string() + "." + std::to_string(::getpid()) + ".XXXXXX")).string();
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
