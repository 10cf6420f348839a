#include "harkline/Runtime/NumberFormatting.h"

#include <charconv>
#include <cmath>

namespace harkline {

std::string formatFloatingPoint(double value) {
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    std::string text(buffer, end);
    if (std::isfinite(value) && text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

}  // namespace harkline
