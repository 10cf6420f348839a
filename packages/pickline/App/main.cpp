#include <iostream>

#include "cli-frame/Runtime/StandardStreams.h"
#include "pickline/Detection/SelectionDetector.h"
#include "pickline/Platform/AtSpi/AtSpiAccessibilityPlatform.h"
#include "pickline/Runtime/CLIMessageEmitter.h"

// pickline takes no arguments: it writes one line about the current selection and exits.
int main() {
    cli::prepareStandardStreams();
    pickline::AtSpiAccessibilityPlatform platform;
    pickline::CLIMessageEmitter emitter(std::cout);
    const int status = pickline::SelectionDetector(platform, emitter).detectAndEmit();
    return emitter.hasLostOutput() ? 1 : status;
}
