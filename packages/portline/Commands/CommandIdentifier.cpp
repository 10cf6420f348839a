#include "portline/Commands/CommandIdentifier.h"

namespace portline {

std::optional<CommandIdentifier> commandIdentifier(const std::string& word) {
    if (word == "list") return CommandIdentifier::list;
    if (word == "get-default") return CommandIdentifier::getDefault;
    if (word == "set-default") return CommandIdentifier::setDefault;
    if (word == "watch") return CommandIdentifier::watch;
    return std::nullopt;
}

}  // namespace portline
