#pragma once

#include <optional>
#include <string>

namespace portline {

enum class CommandIdentifier { list, getDefault, setDefault, watch };

// Exact, case-sensitive match of a command word.
std::optional<CommandIdentifier> commandIdentifier(const std::string& word);

}  // namespace portline
