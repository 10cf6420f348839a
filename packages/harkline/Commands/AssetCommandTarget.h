#pragma once

#include <string>

#include "cli-frame/Options/CommandArguments.h"
#include "harkline/Platform/Speech/TranscriptionPreset.h"
#include "harkline/Platform/System/SystemInfo.h"

namespace harkline {

// The locale and preset `assets.status` and `assets.download` work on.
struct AssetCommandTarget {
    std::string locale;
    TranscriptionPreset preset;

    // --locale, or the user's current locale when the option is absent; --preset through
    // the preset resolver. Any text but the empty one is taken as a locale identifier
    // (the speech layer judges it); an empty one throws CLIError assetsLocaleInvalid.
    static AssetCommandTarget fromArguments(const cli::CommandArguments& arguments, const SystemInfo& system);
};

}  // namespace harkline
