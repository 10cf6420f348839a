#pragma once

#include <string>
#include <unordered_set>

namespace pickline {

// File-name extensions (lower case, without the dot) of files whose content is text.
struct TextFileExtensions {
    static const std::unordered_set<std::string>& supported();
};

}  // namespace pickline
