#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "pickline/Platform/AccessibilityPlatform.h"

namespace pickline {

// Accessibility as tests arrange it: trust answers, the frontmost application, the file
// manager's answer and element trees that real applications cannot be made to show.
class InMemoryAccessibilityPlatform final : public AccessibilityPlatform {
public:
    // Adds an element; a read of what is left unset fails.
    Element element(std::optional<std::string> selectedText = std::nullopt, std::vector<Element> children = {});

    // Successive answers of isProcessTrusted; the last one repeats.
    std::vector<bool> trustAnswers{true};
    std::optional<FrontmostApplication> frontmost;
    std::optional<Element> focused;
    FileManagerSelection fileSelection;

    // Every element whose selected text was read, in order.
    std::vector<Element> selectedTextReads;

    bool isProcessTrusted() override;
    std::optional<FrontmostApplication> frontmostApplication() override;
    std::optional<Element> focusedElement() override;
    std::optional<std::string> selectedText(Element element) override;
    std::optional<std::vector<Element>> children(Element element) override;
    FileManagerSelection fileManagerSelection() override;

private:
    struct Node {
        std::optional<std::string> selectedText;
        std::optional<std::vector<Element>> children;
    };

    std::vector<Node> nodes_;
    std::size_t trustQuestions_ = 0;
};

}  // namespace pickline
