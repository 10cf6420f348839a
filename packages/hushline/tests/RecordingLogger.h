#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli-frame/Logging/Logger.h"

namespace hushline {

// A logger that keeps its lines as "LEVEL message" for the test to compare.
class RecordingLogger {
public:
    cli::Logger logger() const {
        auto lines = lines_;
        return cli::Logger(
            [lines](cli::LogLevel level, std::string_view message) {
                std::lock_guard lock(lines->mutex);
                lines->values.push_back(std::string(cli::rawValue(level)) + " " + std::string(message));
            },
            [] { return std::optional<std::string>(); });
    }

    std::vector<std::string> lines() const {
        std::lock_guard lock(lines_->mutex);
        return lines_->values;
    }

private:
    struct Lines {
        std::mutex mutex;
        std::vector<std::string> values;
    };
    std::shared_ptr<Lines> lines_ = std::make_shared<Lines>();
};

template <typename... Line>
std::vector<std::string> lines(Line... each) {
    return {std::string(each)...};
}

}  // namespace hushline
