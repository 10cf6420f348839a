#include "pickline/Platform/Testing/InMemoryAccessibilityPlatform.h"

#include <algorithm>

namespace pickline {

std::shared_ptr<InMemoryElement> InMemoryAccessibilityPlatform::element(std::optional<std::string> selectedText,
                                                                        std::vector<ElementRef> children) {
    auto created = std::make_shared<InMemoryElement>();
    created->selectedText = std::move(selectedText);
    if (!children.empty()) created->children = std::move(children);
    return created;
}

bool InMemoryAccessibilityPlatform::isProcessTrusted() {
    if (trustAnswers.empty()) return false;
    return trustAnswers[std::min(trustQuestions_++, trustAnswers.size() - 1)];
}

std::optional<FrontmostApplication> InMemoryAccessibilityPlatform::frontmostApplication() { return frontmost; }

bool InMemoryAccessibilityPlatform::isFileManager(const FrontmostApplication& application) {
    return application.identifier == fileManagerIdentifier;
}

FileManagerSelection InMemoryAccessibilityPlatform::fileManagerSelection(const FrontmostApplication&) {
    return fileSelection;
}

ElementRef InMemoryAccessibilityPlatform::systemWideElement() { return systemWide; }

ElementRef InMemoryAccessibilityPlatform::applicationElement(int processIdentifier) {
    auto found = applications.find(processIdentifier);
    if (found != applications.end()) return found->second;
    return std::make_shared<InMemoryElement>();
}

std::optional<AttributeValue> InMemoryAccessibilityPlatform::copyAttributeValue(const ElementRef& element,
                                                                                ElementAttribute attribute) {
    const auto* node = dynamic_cast<const InMemoryElement*>(element.get());
    if (node == nullptr) return std::nullopt;
    switch (attribute) {
    case ElementAttribute::focusedElement:
        if (!node->focusedElement) return std::nullopt;
        return node->focusedElement;
    case ElementAttribute::selectedText:
        selectedTextReads.push_back(node);
        if (!node->selectedText) return std::nullopt;
        return *node->selectedText;
    case ElementAttribute::children:
        if (!node->children) return std::nullopt;
        return *node->children;
    }
    return std::nullopt;
}

}  // namespace pickline
