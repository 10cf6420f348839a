#include "harkline/tests/SpeechModelInstallation.h"

#include <stdexcept>

#include "cli-frame/Files/AtomicFile.h"
#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxModelSources.h"

namespace harkline::testing_support {

void installSpeechModel(const SpeechModelStore& store, const SpeechModelSource& source) {
    namespace fs = std::filesystem;
    auto directory = store.localeDirectory(source.locale);
    auto manifest = source.manifest();
    for (const auto& file : manifest.files) {
        fs::create_directories((directory / file.path).parent_path());
        fs::copy_file(source.directory / file.path, directory / file.path, fs::copy_options::overwrite_existing);
    }
    cli::writeFileAtomically(store.manifestPath(source.locale), cli::Json(manifest).dump());
}

SpeechModelSource englishModelSource() {
    for (auto& source : pocketSphinxModelSources())
        if (source.locale == "en-US") return source;
    throw std::logic_error("no en-US model source");
}

}  // namespace harkline::testing_support
