#include "pickline/Runtime/CLIMessageEmitter.h"

namespace pickline {
namespace {

// "/" only ever occurs inside strings of encoded JSON, so escaping it afterwards is exact.
std::string escapeSlashes(const std::string& encoded) {
    std::string escaped;
    escaped.reserve(encoded.size());
    for (char character : encoded) {
        if (character == '/') escaped += '\\';
        escaped += character;
    }
    return escaped;
}

}  // namespace

void CLIMessageEmitter::writeLine(const nlohmann::json& message) {
    std::string line;
    try {
        // nlohmann's objects keep their keys sorted; dump() rejects text that is not UTF-8.
        line = escapeSlashes(message.dump());
    } catch (const nlohmann::json::exception&) {
        line = fallbackLine;
    }
    output_ << line << '\n';
    output_.flush();
}

}  // namespace pickline
