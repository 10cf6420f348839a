#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "harkline/Platform/Speech/Download/InstallationLoop.h"
#include "harkline/Platform/Speech/Models/SpeechModelSourceFolder.h"
#include "harkline/Platform/Speech/AssetInstallation.h"

namespace harkline {

// Checks a staged model before it counts as installed (for example by loading it in a
// process of its own), waiting in the installation's loop; throws a std::exception saying
// why the model is unusable, or AssetInstallationCancelled when it was cancelled meanwhile.
using StagedModelVerifier = std::function<void(const InstalledSpeechModel&, InstallationLoop&)>;

// A source whose files are fetched (downloaded) into `source.directory`, a folder of the
// models directory, while the installation holds the locale's lock. The fetched files are
// linked into the staging folder rather than copied, checked against these digests, and
// the folder is removed once the model is in place; a failed or cancelled installation
// keeps it, so that the next one continues where this one stopped.
struct FetchedModelSource {
    std::function<void(InstallationLoop&)> fetch;
    std::map<std::string, std::string> sha256;  // by file path
};

// Installs one locale's model into the store so that the locale's folder only ever holds
// a whole model: the source's files are copied into a staging folder beside it (with
// progress by bytes), synced, checked against their sizes and SHA-256 digests (of the
// bytes read and of the bytes on disk), the manifest is written, the verifier runs, and
// the staging copy is then swapped into place in one rename. An older model stays
// untouched until that rename. A cancelled or failed installation removes its staging
// folder; one that was killed leaves it behind, and the next installation (of any
// locale) removes every staging folder whose locale no installation holds.
class StagedModelInstallation final : public AssetInstallationRequest {
public:
    StagedModelInstallation(std::filesystem::path modelsDirectory, SpeechModelSource source,
                            StagedModelVerifier verify = {}, std::optional<FetchedModelSource> fetched = {})
        : modelsDirectory_(std::move(modelsDirectory)),
          source_(std::move(source)),
          verify_(std::move(verify)),
          fetched_(std::move(fetched)) {}

    AssetInstallationProgress& progress() override { return progress_; }
    void downloadAndInstall(const InstallationWatch& watch) override;

    // Staging folders of a locale are named "<models>/.<locale>.staging-XXXXXX".
    static bool isStagingFolderName(const std::string& name, const std::string& locale);
    // The locale of a staging folder's name; empty for any other name.
    static std::string stagingFolderLocale(const std::string& name);
    // Removes the staging folders that killed installations left: those of `lockedLocale`,
    // whose lock the caller holds, and those of locales whose lock nobody holds.
    static void removeStaleStagingFolders(const std::filesystem::path& modelsDirectory, const std::string& lockedLocale);

private:
    std::filesystem::path modelsDirectory_;
    SpeechModelSource source_;
    StagedModelVerifier verify_;
    std::optional<FetchedModelSource> fetched_;
    AssetInstallationProgress progress_;
};

}  // namespace harkline
