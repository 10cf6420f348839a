#include "cli-frame/Options/CLIOptions.h"

namespace cli {

CLIOptions CLIOptions::parse(const std::vector<std::string>& arguments,
                             const std::optional<std::set<std::string>>& commandWords) {
    static const std::string option = "--log-file";
    static const std::string optionWithValue = option + "=";
    CLIOptions options;
    std::vector<std::string> remaining;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == option) {
            // A trailing "--log-file" without a value is dropped and changes nothing.
            if (index + 1 < arguments.size()) options.explicitLogPath = arguments[++index];
        } else if (argument.starts_with(optionWithValue)) {
            options.explicitLogPath = argument.substr(optionWithValue.size());
        } else {
            remaining.push_back(argument);
        }
    }
    if (!remaining.empty() && (!commandWords || commandWords->contains(remaining.front()))) {
        options.commandName = remaining.front();
        remaining.erase(remaining.begin());
    }
    options.arguments = std::move(remaining);
    return options;
}

}  // namespace cli
