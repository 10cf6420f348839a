#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "cli-frame/Logging/LogLevel.h"
#include "cli-frame/Logging/Logger.h"

namespace portline::testing {

// A logger whose lines a test can read back, as "LEVEL message".
class RecordingLog {
public:
    cli::Logger logger() {
        return cli::Logger(
            [this](cli::LogLevel level, std::string_view message) {
                std::lock_guard lock(mutex_);
                lines_.push_back(std::string(cli::rawValue(level)) + " " + std::string(message));
            },
            [] { return std::optional<std::string>(); });
    }

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

    bool contains(const std::string& line) const {
        const auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace portline::testing
