#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli-frame/Logging/LogLevel.h"
#include "cli-frame/Logging/Logger.h"

namespace cli {

// For tests: a logger that keeps its lines in memory as "LEVEL message". The lines live
// as long as the last logger made from it, so a logger handed to a thread or an object
// that outlives the recorder still writes somewhere valid.
class RecordingLogger {
public:
    Logger logger() const {
        return Logger(
            [state = state_](LogLevel level, std::string_view message) {
                std::lock_guard lock(state->mutex);
                state->lines.push_back(std::string(rawValue(level)) + " " + std::string(message));
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
    void clear() {
        std::lock_guard lock(state_->mutex);
        state_->lines.clear();
    }

private:
    struct State {
        std::mutex mutex;
        std::vector<std::string> lines;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace cli
