#include "pickline/Detection/TextDetector.h"

#include <algorithm>

#include "pickline/Runtime/Constants.h"

namespace pickline {

TextDetector::Result TextDetector::detect() {
    if (!platform_.isProcessTrusted()) return AccessibilityDenied{};
    if (auto focused = focusedElement(platform_.systemWideElement())) return getSelectedText(*focused);
    return detectFromFrontmostApp();
}

TextDetector::Result TextDetector::detectFromFrontmostApp() {
    auto application = platform_.frontmostApplication();
    if (!application) return NoSelection{};
    if (auto focused = focusedElement(platform_.applicationElement(application->processIdentifier)))
        return getSelectedText(*focused);
    return NoSelection{};
}

std::optional<ElementRef> TextDetector::focusedElement(const ElementRef& element) {
    auto value = platform_.copyAttributeValue(element, ElementAttribute::focusedElement);
    if (!value) return std::nullopt;
    auto* focused = std::get_if<ElementRef>(&*value);
    if (focused == nullptr || !*focused) return std::nullopt;
    return *focused;
}

TextDetector::Result TextDetector::getSelectedText(const ElementRef& element) {
    if (auto text = selectedText(element)) return Success{std::move(*text)};
    if (auto text = getSelectedTextFromChildren(element, 0)) return Success{std::move(*text)};
    return NoSelection{};
}

// The element's selected text when it has a non-empty one.
std::optional<std::string> TextDetector::selectedText(const ElementRef& element) {
    auto value = platform_.copyAttributeValue(element, ElementAttribute::selectedText);
    if (!value) return std::nullopt;
    auto* text = std::get_if<std::string>(&*value);
    if (text == nullptr || text->empty()) return std::nullopt;
    return std::move(*text);
}

// Some applications report focus on a container whose descendant holds the selection;
// the search is bounded so that large trees stay quick.
std::optional<std::string> TextDetector::getSelectedTextFromChildren(const ElementRef& element, int depth) {
    if (depth > constants::deepestChildSearchDepth) return std::nullopt;
    auto value = platform_.copyAttributeValue(element, ElementAttribute::children);
    if (!value) return std::nullopt;
    auto* children = std::get_if<std::vector<ElementRef>>(&*value);
    if (children == nullptr) return std::nullopt;
    auto examined = std::min(children->size(), constants::childrenExaminedPerElement);
    for (std::size_t index = 0; index < examined; ++index) {
        const auto& child = (*children)[index];
        if (!child) continue;
        if (auto text = selectedText(child)) return text;
        if (auto text = getSelectedTextFromChildren(child, depth + 1)) return text;
    }
    return std::nullopt;
}

}  // namespace pickline
