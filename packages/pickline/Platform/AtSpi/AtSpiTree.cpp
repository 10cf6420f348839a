#include "pickline/Platform/AtSpi/AtSpiTree.h"

#include <algorithm>

namespace pickline::atspi {

std::optional<AtSpiTree::ActiveWindow> AtSpiTree::findActiveWindow() {
    if (!bus_.connect()) return std::nullopt;
    Accessible desktop = adopt(atspi_get_desktop(0));
    auto applications = childCount(desktop.get());
    for (int appIndex = 0; applications && appIndex < *applications; ++appIndex) {
        Accessible application = childAt(desktop.get(), appIndex);
        if (!application) continue;
        auto windows = childCount(application.get());
        for (int windowIndex = 0; windows && windowIndex < *windows; ++windowIndex) {
            Accessible window = childAt(application.get(), windowIndex);
            if (!window || !hasState(window.get(), ATSPI_STATE_ACTIVE)) continue;
            return ActiveWindow{application, window, name(application.get())};
        }
    }
    return std::nullopt;
}

std::optional<int> AtSpiTree::childCount(AtspiAccessible* accessible) {
    if (!bus_.arm()) return std::nullopt;
    CallError error;
    int count = atspi_accessible_get_child_count(accessible, error.out());
    if (error || count < 0) return std::nullopt;
    return count;
}

Accessible AtSpiTree::childAt(AtspiAccessible* accessible, int index) {
    if (!bus_.arm()) return nullptr;
    CallError error;
    Accessible child = adopt(atspi_accessible_get_child_at_index(accessible, index, error.out()));
    return error ? nullptr : child;
}

Accessible AtSpiTree::parent(AtspiAccessible* accessible) {
    if (!bus_.arm()) return nullptr;
    CallError error;
    Accessible found = adopt(atspi_accessible_get_parent(accessible, error.out()));
    return error ? nullptr : found;
}

std::vector<Accessible> AtSpiTree::children(AtspiAccessible* accessible, int most) {
    std::vector<Accessible> found;
    auto count = childCount(accessible);
    for (int index = 0; count && index < std::min(*count, most); ++index)
        if (auto child = childAt(accessible, index)) found.push_back(std::move(child));
    return found;
}

std::string AtSpiTree::name(AtspiAccessible* accessible) {
    if (!bus_.arm()) return {};
    CallError error;
    std::string found = takeString(atspi_accessible_get_name(accessible, error.out()));
    return error ? std::string() : found;
}

std::optional<AtspiRole> AtSpiTree::role(AtspiAccessible* accessible) {
    if (!bus_.arm()) return std::nullopt;
    CallError error;
    AtspiRole found = atspi_accessible_get_role(accessible, error.out());
    if (error) return std::nullopt;
    return found;
}

bool AtSpiTree::hasState(AtspiAccessible* accessible, AtspiStateType state) {
    if (!bus_.arm()) return false;
    AtspiStateSet* states = atspi_accessible_get_state_set(accessible);
    if (states == nullptr) return false;
    bool contained = atspi_state_set_contains(states, state);
    g_object_unref(states);
    return contained;
}

std::optional<std::string> AtSpiTree::wholeText(AtspiAccessible* accessible) {
    AtspiText* text = atspi_accessible_get_text_iface(accessible);
    if (text == nullptr) return std::nullopt;
    std::optional<std::string> content;
    CallError countError;
    int characters = bus_.arm() ? atspi_text_get_character_count(text, countError.out()) : -1;
    if (!countError && characters == 0) content.emplace();
    if (!countError && characters > 0 && bus_.arm()) {
        CallError error;
        std::string read = takeString(atspi_text_get_text(text, 0, characters, error.out()));
        if (!error) content = std::move(read);
    }
    g_object_unref(text);
    return content;
}

std::optional<std::string> AtSpiTree::selectedText(AtspiAccessible* accessible) {
    AtspiText* text = atspi_accessible_get_text_iface(accessible);
    if (text == nullptr) return std::nullopt;
    std::optional<std::string> joined;
    CallError countError;
    int selections = bus_.arm() ? atspi_text_get_n_selections(text, countError.out()) : -1;
    if (!countError && selections >= 0) {
        joined.emplace();
        for (int index = 0; index < selections && joined; ++index) {
            CallError error;
            AtspiRange* range = bus_.arm() ? atspi_text_get_selection(text, index, error.out()) : nullptr;
            if (error || range == nullptr) {
                joined.reset();
                break;
            }
            int start = range->start_offset;
            int end = range->end_offset;
            g_free(range);
            if (start >= end) continue;
            CallError readError;
            std::string piece = bus_.arm() ? takeString(atspi_text_get_text(text, start, end, readError.out())) : "";
            if (readError) {
                joined.reset();
                break;
            }
            if (!joined->empty() && !piece.empty()) *joined += '\n';
            *joined += piece;
        }
    }
    g_object_unref(text);
    return joined;
}

std::optional<std::vector<Accessible>> AtSpiTree::matches(AtspiAccessible* root, AtspiMatchRule* rule,
                                                         int count) {
    AtspiCollection* collection = atspi_accessible_get_collection_iface(root);
    if (collection == nullptr) return std::nullopt;
    std::vector<Accessible> found;
    if (bus_.arm()) {
        CallError error;
        GArray* results = atspi_collection_get_matches(collection, rule, ATSPI_Collection_SORT_ORDER_CANONICAL, count,
                                                       TRUE, error.out());
        if (results != nullptr) {
            for (guint index = 0; index < results->len; ++index)
                found.push_back(adopt(g_array_index(results, AtspiAccessible*, index)));
            g_array_free(results, TRUE);
        }
        if (error) found.clear();
    }
    g_object_unref(collection);
    return found;
}

Accessible AtSpiTree::focusedIn(AtspiAccessible* root) {
    AtspiStateSet* focused = atspi_state_set_new(nullptr);
    atspi_state_set_add(focused, ATSPI_STATE_FOCUSED);
    AtspiMatchRule* rule =
        atspi_match_rule_new(focused, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE, nullptr,
                             ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE, FALSE);
    auto found = matches(root, rule, 1);
    g_object_unref(rule);
    g_object_unref(focused);
    if (found) return found->empty() ? nullptr : found->front();
    // A Qt window can be its own editor.
    if (hasState(root, ATSPI_STATE_FOCUSED)) return adopt(static_cast<AtspiAccessible*>(g_object_ref(root)));
    return walk(root, [this](AtspiAccessible* candidate, AtspiRole) { return hasState(candidate, ATSPI_STATE_FOCUSED); },
                {});
}

Accessible AtSpiTree::walk(AtspiAccessible* root, const std::function<bool(AtspiAccessible*, AtspiRole)>& accepts,
                           SkippedRoles skipped, WalkBounds bounds) {
    auto own = [](AtspiAccessible* element) { return adopt(static_cast<AtspiAccessible*>(g_object_ref(element))); };
    // Depth first, so that the walk meets elements in the order a reader of the window would.
    std::vector<std::pair<Accessible, int>> pending;
    for (auto& child : children(root, bounds.childrenPerElement)) pending.emplace_back(std::move(child), 1);
    std::reverse(pending.begin(), pending.end());
    for (int visited = 0; !pending.empty() && visited < bounds.elements; ++visited) {
        auto [element, depth] = std::move(pending.back());
        pending.pop_back();
        auto found = role(element.get());
        if (!found) continue;
        if (accepts(element.get(), *found)) return own(element.get());
        if (depth == bounds.depth || std::find(skipped.begin(), skipped.end(), *found) != skipped.end()) continue;
        // Nothing below a hidden element is shown; asked only of elements with children.
        auto count = childCount(element.get());
        if (!count || *count == 0 || !hasState(element.get(), ATSPI_STATE_VISIBLE)) continue;
        for (int index = std::min(*count, bounds.childrenPerElement) - 1; index >= 0; --index)
            if (auto child = childAt(element.get(), index)) pending.emplace_back(std::move(child), depth + 1);
    }
    return nullptr;
}

Accessible AtSpiTree::firstWithRole(AtspiAccessible* root, AtspiRole wanted, const Predicate& accepts,
                                    SkippedRoles skipped, WalkBounds bounds) {
    GArray* roles = g_array_new(FALSE, FALSE, sizeof(AtspiRole));
    g_array_append_val(roles, wanted);
    AtspiMatchRule* rule =
        atspi_match_rule_new(nullptr, ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE, roles,
                             ATSPI_Collection_MATCH_ANY, nullptr, ATSPI_Collection_MATCH_NONE, FALSE);
    // The first few in document order: asking for all makes the application build every
    // accessible of a large window.
    auto found = matches(root, rule, 16);
    g_object_unref(rule);
    g_array_free(roles, TRUE);
    if (!found)
        return walk(
            root, [&](AtspiAccessible* element, AtspiRole role) { return role == wanted && accepts(element); }, skipped,
            bounds);
    Accessible hidden;
    for (auto& candidate : *found) {
        if (!accepts(candidate.get())) continue;
        if (hasState(candidate.get(), ATSPI_STATE_SHOWING)) return candidate;
        if (!hidden) hidden = std::move(candidate);
    }
    return hidden;
}

}  // namespace pickline::atspi
