#pragma once

#include <optional>
#include <string>
#include <variant>

#include "pickline/Platform/AccessibilityPlatform.h"

namespace pickline {

// Finds the selected text of the focused element of the frontmost application.
class TextDetector {
public:
    struct Success {
        std::string text;  // never empty
    };
    struct NoSelection {};
    struct AccessibilityDenied {};
    using Result = std::variant<Success, NoSelection, AccessibilityDenied>;

    explicit TextDetector(AccessibilityPlatform& platform) : platform_(platform) {}

    Result detect();

private:
    std::optional<std::string> selectedText(Element element);
    std::optional<std::string> selectedTextBelow(Element element, int depth);

    AccessibilityPlatform& platform_;
};

}  // namespace pickline
