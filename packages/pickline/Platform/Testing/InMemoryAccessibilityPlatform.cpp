#include "pickline/Platform/Testing/InMemoryAccessibilityPlatform.h"

#include <algorithm>

namespace pickline {

Element InMemoryAccessibilityPlatform::element(std::optional<std::string> selectedText, std::vector<Element> children) {
    nodes_.push_back({std::move(selectedText), std::nullopt});
    if (!children.empty()) nodes_.back().children = std::move(children);
    return Element{nodes_.size() - 1};
}

bool InMemoryAccessibilityPlatform::isProcessTrusted() {
    if (trustAnswers.empty()) return false;
    return trustAnswers[std::min(trustQuestions_++, trustAnswers.size() - 1)];
}

std::optional<FrontmostApplication> InMemoryAccessibilityPlatform::frontmostApplication() { return frontmost; }

std::optional<Element> InMemoryAccessibilityPlatform::focusedElement() { return focused; }

std::optional<std::string> InMemoryAccessibilityPlatform::selectedText(Element element) {
    selectedTextReads.push_back(element);
    return nodes_.at(element.id).selectedText;
}

std::optional<std::vector<Element>> InMemoryAccessibilityPlatform::children(Element element) {
    return nodes_.at(element.id).children;
}

FileManagerSelection InMemoryAccessibilityPlatform::fileManagerSelection() { return fileSelection; }

}  // namespace pickline
