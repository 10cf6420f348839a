#include "cli-frame/Json/Utf8.h"

#include <cstdint>

namespace cli {
namespace {

// Length of the valid UTF-8 sequence starting at `index`, or 0 when it is not one.
std::size_t validSequenceLength(std::string_view text, std::size_t index) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint8_t lead = byte(index);
    if (lead < 0x80) return 1;
    std::size_t length;
    std::uint32_t minimum;
    std::uint32_t value;
    if ((lead & 0xE0) == 0xC0) { length = 2; minimum = 0x80; value = lead & 0x1F; }
    else if ((lead & 0xF0) == 0xE0) { length = 3; minimum = 0x800; value = lead & 0x0F; }
    else if ((lead & 0xF8) == 0xF0) { length = 4; minimum = 0x10000; value = lead & 0x07; }
    else return 0;
    if (index + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        std::uint8_t next = byte(index + i);
        if ((next & 0xC0) != 0x80) return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    return length;
}

}  // namespace

std::string repairUtf8(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::size_t index = 0;
    while (index < text.size()) {
        std::size_t length = validSequenceLength(text, index);
        if (length == 0) {
            result += "\xEF\xBF\xBD";
            ++index;
        } else {
            result.append(text.substr(index, length));
            index += length;
        }
    }
    return result;
}

bool isValidUtf8(std::string_view text) {
    std::size_t index = 0;
    while (index < text.size()) {
        std::size_t length = validSequenceLength(text, index);
        if (length == 0) return false;
        index += length;
    }
    return true;
}

}  // namespace cli
