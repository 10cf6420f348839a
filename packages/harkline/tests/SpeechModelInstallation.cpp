#include "harkline/tests/SpeechModelInstallation.h"

#include <stdexcept>

#include "cli-frame/Files/AtomicFile.h"
#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxModelSources.h"
#include "test-support/TemporaryHome.h"

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

SpeechModelSource oldModelSource(const std::filesystem::path& directory, const std::string& locale) {
    testsupport::writeFile(directory / "en-us" / "mdef", "old acoustic model");
    testsupport::writeFile(directory / "en-us.lm.bin", "old language model");
    testsupport::writeFile(directory / "cmudict-en-us.dict", "old dictionary");
    return {locale, "pocketsphinx", directory, englishModelSource().components};
}

SpeechModelSource englishModelSource() {
    for (auto& source : pocketSphinxModelSources())
        if (source.locale == "en-US") return source;
    throw std::logic_error("no en-US model source");
}

}  // namespace harkline::testing_support
