#include "cli-frame/Options/CommandArguments.h"

namespace cli {

std::optional<std::string> CommandArguments::value(const std::string& name) const {
    const std::string withEquals = name + "=";
    for (std::size_t index = 0; index < arguments_.size(); ++index) {
        const std::string& argument = arguments_[index];
        if (argument == name) {
            if (index + 1 < arguments_.size()) return arguments_[index + 1];
            return std::nullopt;
        }
        if (argument.starts_with(withEquals)) return argument.substr(withEquals.size());
    }
    return std::nullopt;
}

}  // namespace cli
