#include "pickline/Detection/TextDetector.h"

#include <algorithm>

#include "pickline/Runtime/Constants.h"

namespace pickline {

TextDetector::Result TextDetector::detect() {
    if (!platform_.isProcessTrusted()) return AccessibilityDenied{};
    auto focused = platform_.focusedElement();
    if (!focused) return NoSelection{};
    if (auto text = selectedText(*focused)) return Success{std::move(*text)};
    if (auto text = selectedTextBelow(*focused, 0)) return Success{std::move(*text)};
    return NoSelection{};
}

// The element's selected text when it has a non-empty one.
std::optional<std::string> TextDetector::selectedText(Element element) {
    auto text = platform_.selectedText(element);
    if (!text || text->empty()) return std::nullopt;
    return text;
}

// Some applications report focus on a container whose descendant holds the selection;
// the search is bounded so that large trees stay quick.
std::optional<std::string> TextDetector::selectedTextBelow(Element element, int depth) {
    if (depth > constants::deepestChildSearchDepth) return std::nullopt;
    auto children = platform_.children(element);
    if (!children) return std::nullopt;
    auto examined = std::min(children->size(), constants::childrenExaminedPerElement);
    for (std::size_t index = 0; index < examined; ++index) {
        if (auto text = selectedText((*children)[index])) return text;
        if (auto text = selectedTextBelow((*children)[index], depth + 1)) return text;
    }
    return std::nullopt;
}

}  // namespace pickline
