#pragma once

#include <optional>
#include <set>
#include <string>

namespace harkline {

enum class CommandIdentifier {
    envCheck,
    supportLocales,
    assetsStatus,
    assetsDownload,
    assetsCancel,
    diagnosticsLogs,
    diagnosticsState,
    transcribe,
};

// Exact, case-sensitive match of a command word.
std::optional<CommandIdentifier> commandIdentifier(const std::string& word);
std::set<std::string> allCommandWords();

}  // namespace harkline
