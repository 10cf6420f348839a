#pragma once

#include <vector>

#include "harkline/Platform/Speech/SpeechModelStore.h"

namespace harkline {

// The models pocketsphinx can be given, from the system packages: en-US comes from
// Debian's pocketsphinx-en-us. Roles: "acousticModel" (folder), "languageModel",
// "dictionary".
std::vector<SpeechModelSource> pocketSphinxModelSources();

}  // namespace harkline
