#include "harkline/Commands/CommandIdentifier.h"

#include <array>
#include <utility>

namespace harkline {
namespace {

constexpr std::array<std::pair<const char*, CommandIdentifier>, 8> words{{
    {"env.check", CommandIdentifier::envCheck},
    {"support.locales", CommandIdentifier::supportLocales},
    {"assets.status", CommandIdentifier::assetsStatus},
    {"assets.download", CommandIdentifier::assetsDownload},
    {"assets.cancel", CommandIdentifier::assetsCancel},
    {"diagnostics.logs", CommandIdentifier::diagnosticsLogs},
    {"diagnostics.state", CommandIdentifier::diagnosticsState},
    {"transcribe", CommandIdentifier::transcribe},
}};

}  // namespace

std::optional<CommandIdentifier> commandIdentifier(const std::string& word) {
    for (const auto& [text, identifier] : words)
        if (word == text) return identifier;
    return std::nullopt;
}

std::set<std::string> allCommandWords() {
    std::set<std::string> result;
    for (const auto& entry : words) result.insert(entry.first);
    return result;
}

}  // namespace harkline
