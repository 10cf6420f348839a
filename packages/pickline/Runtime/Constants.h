#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pickline::constants {

// The longest selected text reported, in user-perceived characters.
inline constexpr std::size_t maximumTextCharacters = 2000;
// How much of an element's subtree is searched for selected text when the element has none.
inline constexpr std::size_t childrenExaminedPerElement = 10;
inline constexpr int deepestChildSearchDepth = 2;
// Text files larger than this many bytes are listed without their content.
inline constexpr std::uintmax_t largestReadableFileBytes = 51200;

inline constexpr std::string_view accessibilityDeniedCode = "ACCESSIBILITY_DENIED";
inline constexpr std::string_view notTrustedMessage =
    "Accessibility permission not granted. Please enable in System Preferences > Privacy & Security > "
    "Accessibility.";
inline constexpr std::string_view trustLostMessage =
    "Failed to get accessibility element. Accessibility permission may not be granted.";
inline constexpr std::string_view noFrontmostAppCode = "NO_FRONTMOST_APP";
inline constexpr std::string_view noFrontmostAppMessage = "Could not identify frontmost application";
inline constexpr std::string_view internalErrorCode = "INTERNAL_ERROR";

}  // namespace pickline::constants
