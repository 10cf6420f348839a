#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pickline/Platform/AtSpi/AtSpiBusConnection.h"
#include "pickline/Platform/AtSpi/AtSpiHandles.h"

namespace pickline::atspi {

// Reads applications' element trees over the accessibility bus. Every read is one bounded
// call; a read that fails or runs out of time answers with nothing.
class AtSpiTree {
public:
    struct ActiveWindow {
        Accessible application;
        Accessible window;
        std::string applicationName;
        int processIdentifier = 0;
    };

    explicit AtSpiTree(AtSpiBusConnection& bus) : bus_(bus) {}

    AtSpiBusConnection& bus() { return bus_; }

    // The application whose window has the ACTIVE state, and that window.
    std::optional<ActiveWindow> findActiveWindow();

    std::optional<int> childCount(AtspiAccessible* accessible);
    Accessible childAt(AtspiAccessible* accessible, int index);
    Accessible parent(AtspiAccessible* accessible);
    std::optional<AtspiRole> role(AtspiAccessible* accessible);
    bool hasState(AtspiAccessible* accessible, AtspiStateType state);
    std::optional<std::string> wholeText(AtspiAccessible* accessible);
    // All selections of the element's text, joined by line feeds; empty when there is none.
    std::optional<std::string> selectedText(AtspiAccessible* accessible);

    // The element with keyboard focus at or below `root`.
    Accessible focusedIn(AtspiAccessible* root);
    // Elements below `root` with the role, by a collection query.
    std::vector<Accessible> withRole(AtspiAccessible* root, AtspiRole wanted);

private:
    std::vector<Accessible> matches(AtspiAccessible* root, AtspiMatchRule* rule, int count);

    AtSpiBusConnection& bus_;
};

}  // namespace pickline::atspi
