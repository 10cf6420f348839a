#pragma once

#include <string>

namespace harkline {

// A floating-point number as the log lines show it: shortest round-trip form, and
// whole numbers keep one decimal ("16000.0").
std::string formatFloatingPoint(double value);

}  // namespace harkline
