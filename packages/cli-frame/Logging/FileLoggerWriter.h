#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "cli-frame/Logging/LogLevel.h"

namespace cli {

// Appends log lines to one file from a background thread, so logging never blocks the
// caller. Every line is one append-mode write: lines stay whole even when another
// process writes the same file. Lines still queued when the writer is released (as main
// returns) are written first, for at most `exitFlushBound`.
class FileLoggerWriter {
public:
    static constexpr std::chrono::milliseconds exitFlushBound{500};

    // Opens (creating it and its folder) the file; on failure writes
    // "<toolName> logger 初始化失败: <reason>" to standard error and returns null.
    static std::shared_ptr<FileLoggerWriter> open(const std::string& path, std::string toolName);

    ~FileLoggerWriter();
    FileLoggerWriter(const FileLoggerWriter&) = delete;
    FileLoggerWriter& operator=(const FileLoggerWriter&) = delete;

    void log(LogLevel level, std::string_view message);
    const std::string& path() const { return path_; }

    // Waits until every queued line is written or the deadline passes; true when drained.
    bool flush(std::chrono::steady_clock::time_point deadline);

private:
    FileLoggerWriter(int fd, std::string path, std::string toolName);
    void drainQueue();
    void writeLine(const std::string& line);
    void stop();

    int fd_;
    std::string path_;
    std::string toolName_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable drained_;
    std::deque<std::string> queue_;
    bool writing_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace cli
