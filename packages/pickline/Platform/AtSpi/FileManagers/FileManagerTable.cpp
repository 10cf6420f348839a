#include "pickline/Platform/AtSpi/FileManagers/FileManagerTable.h"

namespace pickline::atspi {

const FileManagerStrategy* fileManagerStrategy(std::string_view applicationName) {
    struct Entry {
        std::string_view applicationName;
        const FileManagerStrategy& (*strategy)();
    };
    static constexpr Entry table[] = {
        {"org.gnome.Nautilus", nautilusStrategy},
        {"dolphin", dolphinStrategy},
        {"Thunar", thunarStrategy},
        {"thunar", thunarStrategy},
        {"nemo", nemoStrategy},
        {"caja", cajaStrategy},
        {"pcmanfm", pcmanfmStrategy},
    };
    for (const auto& entry : table)
        if (entry.applicationName == applicationName) return &entry.strategy();
    return nullptr;
}

}  // namespace pickline::atspi
