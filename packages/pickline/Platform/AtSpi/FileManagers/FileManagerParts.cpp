#include "pickline/Platform/AtSpi/FileManagers/FileManagerParts.h"

#include <cstdlib>
#include <filesystem>

namespace pickline::atspi::parts {

bool offersSelection(AtspiAccessible* accessible) {
    AtspiSelection* selection = atspi_accessible_get_selection_iface(accessible);
    if (selection == nullptr) return false;
    g_object_unref(selection);
    return true;
}

Accessible findView(AtSpiTree& tree, AtspiAccessible* window, AtspiRole role, const AtSpiTree::Predicate& accepts) {
    return tree.firstWithRole(window, role, accepts,
                              {ATSPI_ROLE_MENU_BAR, ATSPI_ROLE_POPUP_MENU, ATSPI_ROLE_TOOL_BAR, ATSPI_ROLE_SCROLL_BAR,
                               ATSPI_ROLE_LIST, ATSPI_ROLE_STATUS_BAR, ATSPI_ROLE_PUSH_BUTTON});
}

std::optional<std::vector<Accessible>> selectedChildren(AtSpiTree& tree, AtspiAccessible* view) {
    AtspiSelection* selection = atspi_accessible_get_selection_iface(view);
    if (selection == nullptr) return std::nullopt;
    std::optional<std::vector<Accessible>> items;
    CallError countError;
    int selected = tree.bus().arm() ? atspi_selection_get_n_selected_children(selection, countError.out()) : -1;
    if (!countError && selected >= 0) items.emplace();
    for (int index = 0; items && index < selected; ++index) {
        CallError error;
        Accessible item =
            tree.bus().arm() ? adopt(atspi_selection_get_selected_child(selection, index, error.out())) : nullptr;
        if (error || !item) items.reset();
        else items->push_back(std::move(item));
    }
    g_object_unref(selection);
    return items;
}

std::optional<std::vector<Accessible>> childrenMarkedSelected(AtSpiTree& tree, AtspiAccessible* view, int most) {
    auto count = tree.childCount(view);
    if (!count || *count > most) return std::nullopt;
    std::vector<Accessible> marked;
    for (int index = 0; index < *count; ++index) {
        Accessible child = tree.childAt(view, index);
        if (!child) return std::nullopt;
        if (tree.hasState(child.get(), ATSPI_STATE_SELECTED)) marked.push_back(std::move(child));
    }
    // A run out of time may have missed a selected item: no answer rather than part of one.
    if (tree.bus().remainingMilliseconds() == 0) return std::nullopt;
    return marked;
}

Accessible toolBar(AtSpiTree& tree, AtspiAccessible* window, int depth) {
    return tree.firstWithRole(window, ATSPI_ROLE_TOOL_BAR, [](AtspiAccessible*) { return true; }, {},
                              {.depth = depth});
}

std::optional<std::string> locationEntryFolder(AtSpiTree& tree, AtspiAccessible* window) {
    auto holdsPath = [&](AtspiAccessible* field) { return tree.wholeText(field).value_or("").starts_with('/'); };
    Accessible entry = tree.firstWithRole(
        window, ATSPI_ROLE_TEXT, holdsPath,
        {ATSPI_ROLE_MENU_BAR, ATSPI_ROLE_POPUP_MENU, ATSPI_ROLE_TABLE, ATSPI_ROLE_LAYERED_PANE, ATSPI_ROLE_LIST,
         ATSPI_ROLE_PUSH_BUTTON, ATSPI_ROLE_SCROLL_PANE, ATSPI_ROLE_SCROLL_BAR});
    if (!entry) return std::nullopt;
    return tree.wholeText(entry.get());
}

std::optional<std::string> folderFromCrumbs(const std::vector<std::string>& crumbs) {
    if (crumbs.empty()) return std::nullopt;
    std::filesystem::path folder;
    const char* home = std::getenv("HOME");
    std::filesystem::path homeFolder = home != nullptr ? home : "";
    const std::string& first = crumbs.front();
    if (first.empty() || first == "/") folder = "/";
    else if (!homeFolder.empty() && (first == "Home" || first == homeFolder.filename().string())) folder = homeFolder;
    else return std::nullopt;
    for (std::size_t index = 1; index < crumbs.size(); ++index) folder /= crumbs[index];
    return folder.string();
}

}  // namespace pickline::atspi::parts
