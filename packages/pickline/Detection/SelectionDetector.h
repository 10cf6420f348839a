#pragma once

#include <cstdint>

#include "pickline/Platform/AccessibilityPlatform.h"
#include "pickline/Runtime/CLIMessageEmitter.h"

namespace pickline {

// Answers "what is selected in the frontmost application" with exactly one line:
// the file manager's selected files, else the focused element's selected text, else none.
class SelectionDetector {
public:
    SelectionDetector(AccessibilityPlatform& platform, CLIMessageEmitter& emitter)
        : platform_(platform), emitter_(emitter) {}

    // Writes the line; 0 after a result, 1 after an error.
    std::int32_t detectAndEmit();

private:
    std::int32_t emitResult(SelectionPayload payload);
    std::int32_t emitError(std::string_view code, std::string_view message);

    AccessibilityPlatform& platform_;
    CLIMessageEmitter& emitter_;
};

}  // namespace pickline
