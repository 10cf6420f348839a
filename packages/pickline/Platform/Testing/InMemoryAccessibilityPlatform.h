#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pickline/Platform/AccessibilityPlatform.h"

namespace pickline {

// An element of an in-memory user interface; an attribute left unset makes its read fail.
struct InMemoryElement : AccessibilityElement {
    std::optional<std::string> selectedText;
    std::optional<std::vector<ElementRef>> children;
    ElementRef focusedElement;
};

// Accessibility as tests arrange it: trust answers, the frontmost application, the file
// manager's answer and element trees that real applications cannot be made to show.
class InMemoryAccessibilityPlatform final : public AccessibilityPlatform {
public:
    static std::shared_ptr<InMemoryElement> element(std::optional<std::string> selectedText = std::nullopt,
                                                    std::vector<ElementRef> children = {});

    // Successive answers of isProcessTrusted; the last one repeats.
    std::vector<bool> trustAnswers{true};
    std::optional<FrontmostApplication> frontmost;
    std::string fileManagerIdentifier = "file-manager";
    FileManagerSelection fileSelection;
    std::shared_ptr<InMemoryElement> systemWide = std::make_shared<InMemoryElement>();
    std::map<int, std::shared_ptr<InMemoryElement>> applications;

    // Every element whose selected text was read, in order.
    std::vector<const AccessibilityElement*> selectedTextReads;

    bool isProcessTrusted() override;
    std::optional<FrontmostApplication> frontmostApplication() override;
    bool isFileManager(const FrontmostApplication& application) override;
    FileManagerSelection fileManagerSelection(const FrontmostApplication& application) override;
    ElementRef systemWideElement() override;
    ElementRef applicationElement(int processIdentifier) override;
    std::optional<AttributeValue> copyAttributeValue(const ElementRef& element, ElementAttribute attribute) override;

private:
    std::size_t trustQuestions_ = 0;
};

}  // namespace pickline
