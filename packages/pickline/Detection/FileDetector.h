#pragma once

#include <string>
#include <variant>
#include <vector>

#include "pickline/Platform/AccessibilityPlatform.h"

namespace pickline {

// Asks the frontmost application, a file manager whose selection can be read, for its selected files.
class FileDetector {
public:
    struct Success {
        std::vector<std::string> paths;  // never empty, in selection order
    };
    struct Failure {
        std::string message;
    };
    struct NoSelection {};
    using Result = std::variant<Success, Failure, NoSelection>;

    explicit FileDetector(AccessibilityPlatform& platform) : platform_(platform) {}

    Result detect();

private:
    AccessibilityPlatform& platform_;
};

}  // namespace pickline
