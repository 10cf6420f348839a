#include "pickline/Platform/AtSpi/AtSpiFileManagers.h"

#include <algorithm>
#include <deque>

namespace pickline::atspi {
namespace {

// Applications known to be file managers, and the role of the view in them that lists a
// folder's items with the Selection interface.
struct KnownFileManager {
    std::string_view name;
    AtspiRole viewRole;
};
constexpr KnownFileManager knownFileManagers[] = {
    {"pcmanfm", ATSPI_ROLE_LAYERED_PANE},
};

const KnownFileManager* findFileManager(std::string_view name) {
    for (const auto& manager : knownFileManagers)
        if (manager.name == name) return &manager;
    return nullptr;
}

// The file manager's folder view: the focused element itself, something close below it
// (PCManFM focuses the scroll pane around its view) or an item's ancestor.
Accessible findView(AtSpiTree& tree, const Accessible& focused, AtspiRole viewRole) {
    auto isView = [&](AtspiAccessible* candidate) {
        if (tree.role(candidate) != viewRole) return false;
        AtspiSelection* selection = atspi_accessible_get_selection_iface(candidate);
        if (selection == nullptr) return false;
        g_object_unref(selection);
        return true;
    };
    std::deque<std::pair<Accessible, int>> queue{{focused, 0}};
    while (!queue.empty()) {
        auto [candidate, depth] = queue.front();
        queue.pop_front();
        if (isView(candidate.get())) return candidate;
        if (depth == 2) continue;
        auto count = tree.childCount(candidate.get());
        for (int index = 0; count && index < std::min(*count, 10); ++index)
            if (auto child = tree.childAt(candidate.get(), index)) queue.emplace_back(child, depth + 1);
    }
    Accessible ancestor = focused;
    for (int level = 0; level < 3 && ancestor; ++level) {
        ancestor = tree.parent(ancestor.get());
        if (ancestor && isView(ancestor.get())) return ancestor;
    }
    return nullptr;
}

// The folder shown: the window's location entry, the text field that holds an absolute path.
std::optional<std::string> currentFolder(AtSpiTree& tree, AtspiAccessible* window) {
    for (const auto& field : tree.withRole(window, ATSPI_ROLE_TEXT)) {
        auto text = tree.wholeText(field.get());
        if (text && text->starts_with('/')) return text;
    }
    return std::nullopt;
}

}  // namespace

bool isKnownFileManager(std::string_view applicationName) { return findFileManager(applicationName) != nullptr; }

FileManagerSelection readFileManagerSelection(AtSpiTree& tree, const AtSpiTree::ActiveWindow& active) {
    FileManagerSelection answer;
    const auto* manager = findFileManager(active.applicationName);
    if (manager == nullptr) return answer;
    Accessible focused = tree.focusedIn(active.window.get());
    Accessible view = focused ? findView(tree, focused, manager->viewRole) : nullptr;
    if (!view) return answer;

    AtspiSelection* selection = atspi_accessible_get_selection_iface(view.get());
    if (selection == nullptr) return answer;
    std::vector<std::string> names;
    CallError countError;
    int selected = tree.bus().arm() ? atspi_selection_get_n_selected_children(selection, countError.out()) : -1;
    if (countError || selected < 0) {
        answer.failure = "The file manager did not report its selection: " +
                         (countError ? countError.message() : std::string("no time left"));
    }
    for (int index = 0; !answer.failure && index < selected; ++index) {
        CallError error;
        Accessible item =
            tree.bus().arm() ? adopt(atspi_selection_get_selected_child(selection, index, error.out())) : nullptr;
        auto name = item ? tree.wholeText(item.get()) : std::nullopt;
        if (error || !name) {
            answer.failure = "The file manager did not name a selected item";
            break;
        }
        if (!name->empty()) names.push_back(std::move(*name));
    }
    g_object_unref(selection);
    if (answer.failure || names.empty()) return answer;

    auto folder = currentFolder(tree, active.window.get());
    if (!folder) {
        answer.failure = "Could not determine the folder shown by the file manager";
        return answer;
    }
    if (!folder->ends_with('/')) *folder += '/';
    for (const auto& name : names) answer.paths.push_back(*folder + name);
    return answer;
}

}  // namespace pickline::atspi
