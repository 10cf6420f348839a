#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli-frame/Logging/Logger.h"

namespace harkline::testing_support {

// A logger that keeps its lines ("INFO message") in memory, for any thread.
class RecordingLog {
public:
    cli::Logger logger() {
        return cli::Logger(
            [state = state_](cli::LogLevel level, std::string_view message) {
                const char* name = level == cli::LogLevel::debug ? "DEBUG" : level == cli::LogLevel::info ? "INFO" : "ERROR";
                std::lock_guard lock(state->mutex);
                state->lines.push_back(std::string(name) + " " + std::string(message));
            },
            [] { return std::optional<std::string>(); });
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(state_->mutex);
        return state_->lines;
    }
    long count(const std::string& line) const {
        auto all = lines();
        return std::count(all.begin(), all.end(), line);
    }
    bool contains(const std::string& line) const { return count(line) > 0; }

private:
    struct State {
        std::mutex mutex;
        std::vector<std::string> lines;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace harkline::testing_support
