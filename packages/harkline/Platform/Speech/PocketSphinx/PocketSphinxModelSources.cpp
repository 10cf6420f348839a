#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxModelSources.h"

namespace harkline {

std::vector<SpeechModelSource> pocketSphinxModelSources() {
    return {
        SpeechModelSource{
            .locale = "en-US",
            .engine = "pocketsphinx",
            .directory = "/usr/share/pocketsphinx/model/en-us",
            .components = {{"acousticModel", "en-us"},
                           {"languageModel", "en-us.lm.bin"},
                           {"dictionary", "cmudict-en-us.dict"}},
        },
    };
}

}  // namespace harkline
