#pragma once

#include <string>

#include "cli-frame/Options/CommandArguments.h"
#include "harkline/Platform/System/SystemInfo.h"

namespace harkline {

// The locale `assets.status` and `assets.download` work on. A --preset is accepted and
// changes nothing: every preset needs the same model.
struct AssetCommandTarget {
    std::string locale;

    // --locale, or the user's current locale when the option is absent. Any text but the empty one is taken as a locale identifier
    // (the model store judges it); an empty one throws CLIError assetsLocaleInvalid.
    static AssetCommandTarget fromArguments(const cli::CommandArguments& arguments, const SystemInfo& system);
};

}  // namespace harkline
