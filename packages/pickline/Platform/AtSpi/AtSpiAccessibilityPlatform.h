#pragma once

#include <memory>

#include "pickline/Platform/AccessibilityPlatform.h"
#include "pickline/Platform/AtSpi/AtSpiBusConnection.h"

namespace pickline {

// Accessibility through AT-SPI on the desktop's accessibility bus. The frontmost
// application is the one whose window is active; the file managers of FileManagerTable
// answer for their selected items.
//
// Every bus call waits at most `perCall`, and all of them together at most `wholeRun`
// counted from construction; a call past that answers with nothing at once, so an
// application that hangs on the bus cannot hang the caller.
class AtSpiAccessibilityPlatform final : public AccessibilityPlatform {
public:
    using Limits = atspi::AtSpiBusConnection::Limits;

    AtSpiAccessibilityPlatform() : AtSpiAccessibilityPlatform(Limits{}) {}
    explicit AtSpiAccessibilityPlatform(Limits limits);
    ~AtSpiAccessibilityPlatform() override;
    AtSpiAccessibilityPlatform(const AtSpiAccessibilityPlatform&) = delete;
    AtSpiAccessibilityPlatform& operator=(const AtSpiAccessibilityPlatform&) = delete;

    // Trusted when a session bus is named in the environment and the accessibility bus
    // answers in time. Without a session bus nothing is started: libdbus would otherwise
    // launch a stray bus that outlives this process.
    bool isProcessTrusted() override;
    std::optional<FrontmostApplication> frontmostApplication() override;
    std::optional<Element> focusedElement() override;
    std::optional<std::string> selectedText(Element element) override;
    std::optional<std::vector<Element>> children(Element element) override;
    FileManagerSelection fileManagerSelection() override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace pickline
