#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace pickline {

// An element of some application's user interface, as the platform's accessibility
// service sees it. Each backend derives its own handle; the core only passes them back.
class AccessibilityElement {
public:
    virtual ~AccessibilityElement() = default;
};

using ElementRef = std::shared_ptr<const AccessibilityElement>;

// The attributes the detectors read from an element.
enum class ElementAttribute {
    focusedElement,  // the element that has keyboard focus inside this one
    selectedText,    // the text the user selected in this element
    children,        // this element's child elements, in order
};

// What an attribute read yields: text, one element, or a list of elements.
using AttributeValue = std::variant<std::string, ElementRef, std::vector<ElementRef>>;

struct FrontmostApplication {
    std::string identifier;  // the platform's name for the application
    int processIdentifier = 0;
};

// The file manager's answer when asked for its selected items.
struct FileManagerSelection {
    std::string folder;                  // absolute path of the folder shown
    std::vector<std::string> items;      // the selected items' labels in selection order; empty when none
    std::optional<std::string> failure;  // set when the file manager could not be asked
};

// The platform's accessibility and workspace services that pickline needs. Every call
// is synchronous and bounded in time; a call that fails or runs out of time answers
// with nothing rather than blocking.
class AccessibilityPlatform {
public:
    virtual ~AccessibilityPlatform() = default;

    // Whether this process may read other applications' user interfaces.
    virtual bool isProcessTrusted() = 0;

    // The application the user works in, if the platform can tell.
    virtual std::optional<FrontmostApplication> frontmostApplication() = 0;

    // Whether the application is the desktop's file manager, whose selection is files.
    virtual bool isFileManager(const FrontmostApplication& application) = 0;
    virtual FileManagerSelection fileManagerSelection(const FrontmostApplication& application) = 0;

    // The element standing for the whole desktop, and the one for an application's process.
    virtual ElementRef systemWideElement() = 0;
    virtual ElementRef applicationElement(int processIdentifier) = 0;

    // Reads an attribute; nothing when the element lacks it or the read fails.
    virtual std::optional<AttributeValue> copyAttributeValue(const ElementRef& element,
                                                             ElementAttribute attribute) = 0;
};

}  // namespace pickline
