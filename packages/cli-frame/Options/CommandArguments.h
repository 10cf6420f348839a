#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

// The arguments after the command word, with option lookup.
class CommandArguments {
public:
    explicit CommandArguments(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

    // The value of the first "NAME VALUE" or "NAME=VALUE" occurrence. After a bare NAME
    // the next argument is the value whatever it looks like; a bare NAME at the end has none.
    std::optional<std::string> value(const std::string& name) const;

    const std::vector<std::string>& all() const { return arguments_; }

private:
    std::vector<std::string> arguments_;
};

}  // namespace cli
