#pragma once

#include <string>
#include <variant>
#include <vector>

#include "pickline/Platform/AccessibilityPlatform.h"

namespace pickline {

// Asks the desktop's file manager, when it is the frontmost application, for its selected files.
class FileDetector {
public:
    struct Success {
        std::vector<std::string> paths;  // never empty, in selection order
    };
    struct Failure {
        std::string message;
    };
    struct NoSelection {};
    struct NotFinder {};
    using Result = std::variant<Success, Failure, NoSelection, NotFinder>;

    explicit FileDetector(AccessibilityPlatform& platform) : platform_(platform) {}

    // Whether the frontmost application is the file manager (the Finder on macOS).
    bool isFinder();
    Result detect();

private:
    AccessibilityPlatform& platform_;
};

}  // namespace pickline
