#pragma once

#include <filesystem>
#include <string>

#include "harkline/Platform/Speech/PocketSphinx/SpeechModelSourceFolder.h"
#include "harkline/Platform/Speech/SpeechAssetInventory.h"

namespace harkline {

// Installs one locale's model into the store so that the locale's folder only ever holds
// a whole model: the source's files are copied into a staging folder beside it (with
// progress by bytes), synced, checked against their sizes, the manifest is written, and
// the staging copy is then swapped into place in one rename. An older model stays
// untouched until that rename. A cancelled or failed installation removes its staging
// folder; one that was killed leaves it behind, and the next installation of the locale
// removes it before starting.
class StagedModelInstallation final : public AssetInstallationRequest {
public:
    StagedModelInstallation(std::filesystem::path modelsDirectory, InstallableSpeechModelSource source)
        : modelsDirectory_(std::move(modelsDirectory)), source_(std::move(source)) {}

    AssetInstallationProgress& progress() override { return progress_; }
    void downloadAndInstall() override;

    // Staging folders of a locale are named "<models>/.<locale>.staging-XXXXXX".
    static bool isStagingFolderName(const std::string& name, const std::string& locale);

private:
    void removeStaleStagingFolders() const;

    std::filesystem::path modelsDirectory_;
    InstallableSpeechModelSource source_;
    AssetInstallationProgress progress_;
};

}  // namespace harkline
