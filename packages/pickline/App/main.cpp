#include <iostream>

#include "pickline/Detection/SelectionDetector.h"
#include "pickline/Platform/AtSpi/AtSpiAccessibilityPlatform.h"
#include "pickline/Runtime/CLIMessageEmitter.h"

// pickline takes no arguments: it writes one line about the current selection and exits.
int main() {
    pickline::AtSpiAccessibilityPlatform platform;
    pickline::CLIMessageEmitter emitter(std::cout);
    return pickline::SelectionDetector(platform, emitter).detectAndEmit();
}
