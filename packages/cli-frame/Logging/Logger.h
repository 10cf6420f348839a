#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "cli-frame/Logging/LogLevel.h"

namespace cli {

// A pair of functions: write one line, and say where the lines go. Both may be called
// from any thread. A default-constructed logger discards everything and has no location.
class Logger {
public:
    using Handler = std::function<void(LogLevel, std::string_view)>;
    using LocationDescriber = std::function<std::optional<std::string>()>;

    Logger() = default;
    Logger(Handler handler, LocationDescriber describeLocation)
        : handler_(std::move(handler)), describeLocation_(std::move(describeLocation)) {}

    void log(LogLevel level, std::string_view message) const {
        if (handler_) handler_(level, message);
    }
    void debug(std::string_view message) const { log(LogLevel::debug, message); }
    void info(std::string_view message) const { log(LogLevel::info, message); }
    void error(std::string_view message) const { log(LogLevel::error, message); }

    std::optional<std::string> describeLocation() const {
        return describeLocation_ ? describeLocation_() : std::nullopt;
    }

private:
    Handler handler_;
    LocationDescriber describeLocation_;
};

}  // namespace cli
