#include "harkline/Runtime/CharacterCount.h"

namespace harkline {
namespace {

char32_t decodeAt(std::string_view text, std::size_t& index) {
    auto lead = static_cast<unsigned char>(text[index++]);
    int continuation = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t codePoint = continuation == 0 ? lead : lead & (0x3F >> continuation);
    for (; continuation > 0 && index < text.size(); --continuation) {
        auto next = static_cast<unsigned char>(text[index]);
        if ((next & 0xC0) != 0x80) break;
        codePoint = (codePoint << 6) | (next & 0x3F);
        ++index;
    }
    return codePoint;
}

bool extendsPrevious(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF) ||
           (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xFE20 && c <= 0xFE2F) ||
           (c >= 0x1F3FB && c <= 0x1F3FF) || (c >= 0xE0100 && c <= 0xE01EF) || c == 0x200D;
}

}  // namespace

std::size_t userPerceivedCharacterCount(std::string_view text) {
    std::size_t count = 0;
    bool joinNext = false;
    for (std::size_t index = 0; index < text.size();) {
        auto codePoint = decodeAt(text, index);
        if (codePoint == 0x200D) {
            joinNext = true;
        } else if (joinNext || (count > 0 && extendsPrevious(codePoint))) {
            joinNext = false;
        } else {
            ++count;
        }
    }
    return count;
}

}  // namespace harkline
