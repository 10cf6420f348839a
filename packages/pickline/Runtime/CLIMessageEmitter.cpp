#include "pickline/Runtime/CLIMessageEmitter.h"

#include <iostream>

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
    if (!output_ && !outputLost_) {
        // The host stopped reading or the device is full; pickline keeps no log, so say it here.
        outputLost_ = true;
        std::cerr << "pickline: cannot write to standard output" << std::endl;
    }
}

}  // namespace pickline
