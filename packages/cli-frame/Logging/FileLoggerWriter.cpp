#include "cli-frame/Logging/FileLoggerWriter.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli-frame/Json/Utf8.h"

namespace cli {
namespace {

void reportToStandardError(const std::string& toolName, const char* what, const std::string& reason) {
    std::string text = toolName + what + reason + "\n";
    ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
}

std::string timestamp() {
    auto now = std::chrono::system_clock::now();
    auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(milliseconds));
    return buffer;
}

}  // namespace

std::shared_ptr<FileLoggerWriter> FileLoggerWriter::open(const std::string& path, std::string toolName) {
    std::filesystem::path file(path);
    std::error_code error;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), error);
    if (error) {
        reportToStandardError(toolName, " logger 初始化失败: ", error.message());
        return nullptr;
    }
    // Only a regular file is a log: a FIFO or a device would block or swallow the lines,
    // and a symbolic link is never followed, so that a planted one cannot make the tool
    // append to a file it names.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        // ENXIO: a FIFO that nobody reads.
        reportToStandardError(toolName, " logger 初始化失败: ",
                              errno == ELOOP   ? path + " is a symbolic link"
                              : errno == ENXIO ? path + " is not a regular file"
                                               : std::generic_category().message(errno));
        return nullptr;
    }
    struct stat status {};
    bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (!regular || ::lseek(fd, 0, SEEK_END) < 0) {
        reportToStandardError(toolName, " logger 初始化失败: ",
                              regular ? std::generic_category().message(errno) : path + " is not a regular file");
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<FileLoggerWriter>(new FileLoggerWriter(fd, std::filesystem::absolute(file).string(), std::move(toolName)));
}

FileLoggerWriter::FileLoggerWriter(int fd, std::string path, std::string toolName)
    : fd_(fd), path_(std::move(path)), toolName_(std::move(toolName)), worker_([this] { drainQueue(); }) {}

FileLoggerWriter::~FileLoggerWriter() {
    flush(std::chrono::steady_clock::now() + exitFlushBound);
    stop();
    ::close(fd_);
}

void FileLoggerWriter::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void FileLoggerWriter::log(LogLevel level, std::string_view message) {
    // The stamp is taken when the line is logged, not when the thread gets to it.
    std::string line = "[" + timestamp() + "] [" + std::string(rawValue(level)) + "] " + repairUtf8(message) + "\n";
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        queue_.push_back(std::move(line));
    }
    wake_.notify_one();
}

bool FileLoggerWriter::flush(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return drained_.wait_until(lock, deadline, [this] { return queue_.empty() && !writing_; });
}

void FileLoggerWriter::drainQueue() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping with nothing left
        std::string line = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        lock.unlock();
        writeLine(line);
        lock.lock();
        writing_ = false;
        if (queue_.empty()) drained_.notify_all();
    }
}

void FileLoggerWriter::writeLine(const std::string& line) {
    // One write in append mode: the kernel positions it at the current end of the file.
    ssize_t written;
    do {
        written = ::write(fd_, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) reportToStandardError(toolName_, " logger 写入失败: ", std::generic_category().message(errno));
}

}  // namespace cli
