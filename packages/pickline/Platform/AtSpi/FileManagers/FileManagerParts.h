#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pickline/Platform/AtSpi/AtSpiTree.h"

// Pieces the file manager strategies share.
namespace pickline::atspi::parts {

bool offersSelection(AtspiAccessible* accessible);

// The folder view: the first element with the role that `accepts`, not looked for in menus,
// tool bars and side lists.
Accessible findView(AtSpiTree& tree, AtspiAccessible* window, AtspiRole role, const AtSpiTree::Predicate& accepts);

// The children a view reports through its Selection interface, in selection order;
// nothing when the view did not answer.
std::optional<std::vector<Accessible>> selectedChildren(AtSpiTree& tree, AtspiAccessible* view);

// The view's children with the SELECTED state; nothing when the view has more than `most`
// children or not all of them could be read.
std::optional<std::vector<Accessible>> childrenMarkedSelected(AtSpiTree& tree, AtspiAccessible* view, int most);

// The labels of items, each read by `label`; nothing when one of them could not be read.
template <typename ReadLabel>
std::optional<std::vector<std::string>> labels(const std::vector<Accessible>& items, ReadLabel&& label) {
    std::vector<std::string> found;
    for (const auto& item : items) {
        std::optional<std::string> text = label(item.get());
        if (!text) return std::nullopt;
        if (!text->empty()) found.push_back(std::move(*text));
    }
    return found;
}

// The window's tool bar, at most `depth` levels below it; nothing when there is none.
Accessible toolBar(AtSpiTree& tree, AtspiAccessible* window, int depth);

// The labels of the items selected in the window's view (found as findView finds it)
// through its Selection interface: empty when there is no view, nothing when it did not answer.
template <typename ReadLabel>
std::optional<std::vector<std::string>> selectedLabels(AtSpiTree& tree, AtspiAccessible* window, AtspiRole role,
                                                       const AtSpiTree::Predicate& accepts, ReadLabel&& label) {
    Accessible view = findView(tree, window, role, accepts);
    if (!view) return std::vector<std::string>{};
    auto items = selectedChildren(tree, view.get());
    if (!items) return std::nullopt;
    return labels(*items, label);
}

// The folder written in the window's location entry: a text field holding an absolute path.
std::optional<std::string> locationEntryFolder(AtSpiTree& tree, AtspiAccessible* window);

// The folder a path bar shows, from its buttons' labels root first: the root's button is
// unnamed or "/", a home button is "Home" or the home folder's own name.
std::optional<std::string> folderFromCrumbs(const std::vector<std::string>& crumbs);

}  // namespace pickline::atspi::parts
