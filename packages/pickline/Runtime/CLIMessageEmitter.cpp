#include "pickline/Runtime/CLIMessageEmitter.h"

#include <iostream>

#include "cli-frame/Json/JsonWriter.h"
#include "cli-frame/Json/Utf8.h"

namespace pickline {
namespace {

// The frame's writer repairs text that is not UTF-8; pickline's line reports it as a
// message that cannot be encoded instead.
bool holdsOnlyUtf8(const cli::Json& value) {
    if (value.is_string()) return cli::isValidUtf8(value.get_ref<const std::string&>());
    for (const auto& [key, member] : value.items())
        if (!cli::isValidUtf8(key) || !holdsOnlyUtf8(member)) return false;
    return true;
}

}  // namespace

void CLIMessageEmitter::emit(const cli::CLIMessage& message) {
    const cli::Json envelope{{"type", std::string(message.type())}, {"payload", message.payload().encode()}};
    std::string line(fallbackLine);
    if (holdsOnlyUtf8(envelope)) line = cli::writeJson(envelope, {.escapeSlashes = true, .sortKeys = true});
    output_ << line << '\n';
    output_.flush();
    if (!output_ && !outputLost_) {
        // The host stopped reading or the device is full; pickline keeps no log, so say it here.
        outputLost_ = true;
        std::cerr << "pickline: cannot write to standard output" << std::endl;
    }
}

}  // namespace pickline
