#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "pickline/Platform/AtSpi/AtSpiBusConnection.h"
#include "pickline/Platform/AtSpi/AtSpiHandles.h"

namespace pickline::atspi {

// How far a walk of an element tree looks: levels below its start, children per element,
// elements in all.
struct WalkBounds {
    int depth = 32;
    int childrenPerElement = 64;
    int elements = 600;
};

// Reads applications' element trees over the accessibility bus. Every read is one bounded
// call; a read that fails or runs out of time answers with nothing.
class AtSpiTree {
public:
    struct ActiveWindow {
        Accessible application;
        Accessible window;
        std::string applicationName;
    };

    using Predicate = std::function<bool(AtspiAccessible*)>;
    // Roles whose elements a search does not look below (menus, scroll bars, side lists).
    using SkippedRoles = std::initializer_list<AtspiRole>;

    explicit AtSpiTree(AtSpiBusConnection& bus) : bus_(bus) {}

    AtSpiBusConnection& bus() { return bus_; }

    // The application whose window has the ACTIVE state, and that window.
    std::optional<ActiveWindow> findActiveWindow();

    std::optional<int> childCount(AtspiAccessible* accessible);
    Accessible childAt(AtspiAccessible* accessible, int index);
    Accessible parent(AtspiAccessible* accessible);
    std::vector<Accessible> children(AtspiAccessible* accessible, int most);
    std::optional<AtspiRole> role(AtspiAccessible* accessible);
    std::string name(AtspiAccessible* accessible);
    bool hasState(AtspiAccessible* accessible, AtspiStateType state);
    // The whole text, read up to its character count: GTK 4 answers nothing for "to the end".
    std::optional<std::string> wholeText(AtspiAccessible* accessible);
    // All selections of the element's text, joined by line feeds; empty when there is none.
    std::optional<std::string> selectedText(AtspiAccessible* accessible);

    // The element with keyboard focus at or below `root`: one collection query where the
    // toolkit offers it (GTK 2 and 3), else a bounded walk (GTK 4, Qt).
    Accessible focusedIn(AtspiAccessible* root);
    // The first element below `root` with the role that `accepts`: by a collection query,
    // preferring one on screen (a window keeps the views of its other tabs), else by a walk
    // in document order that does not look below the skipped roles.
    Accessible firstWithRole(AtspiAccessible* root, AtspiRole wanted, const Predicate& accepts,
                             SkippedRoles skipped = {}, WalkBounds bounds = {});

private:
    std::optional<std::vector<Accessible>> matches(AtspiAccessible* root, AtspiMatchRule* rule, int count);
    // Walks the elements below `root` in document order, not looking below hidden ones and
    // the skipped roles, and answers the first that `accepts`.
    Accessible walk(AtspiAccessible* root, const std::function<bool(AtspiAccessible*, AtspiRole)>& accepts,
                    SkippedRoles skipped, WalkBounds bounds = {});

    AtSpiBusConnection& bus_;
};

}  // namespace pickline::atspi
