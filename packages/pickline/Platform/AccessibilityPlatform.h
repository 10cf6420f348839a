#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace pickline {

// An element of the frontmost application's user interface: a handle that only the
// platform that handed it out can read, valid for as long as that platform lives.
struct Element {
    std::size_t id = 0;
    friend bool operator==(const Element&, const Element&) = default;
};

struct FrontmostApplication {
    std::string name;                    // the platform's name for the application
    bool isReadableFileManager = false;  // a file manager whose selected items the platform can read
};

// The file manager's answer when asked for its selected items.
struct FileManagerSelection {
    std::string folder;                  // absolute path of the folder shown
    std::vector<std::string> items;      // the selected items' labels in selection order; empty when none
    std::optional<std::string> failure;  // set when the file manager could not be asked
};

// What pickline asks of the desktop. Every call is synchronous and bounded in time; a
// call that fails or runs out of time answers with nothing rather than blocking.
class AccessibilityPlatform {
public:
    virtual ~AccessibilityPlatform() = default;

    // Whether this process may read other applications' user interfaces.
    virtual bool isProcessTrusted() = 0;

    // The application the user works in, if the platform can tell.
    virtual std::optional<FrontmostApplication> frontmostApplication() = 0;

    // The element with keyboard focus in the frontmost application.
    virtual std::optional<Element> focusedElement() = 0;

    // The text selected in an element; nothing when it has no text or the read fails.
    virtual std::optional<std::string> selectedText(Element element) = 0;

    // An element's children, in order; nothing when the read fails.
    virtual std::optional<std::vector<Element>> children(Element element) = 0;

    // The selection of the frontmost application when it is a readable file manager.
    virtual FileManagerSelection fileManagerSelection() = 0;
};

}  // namespace pickline
