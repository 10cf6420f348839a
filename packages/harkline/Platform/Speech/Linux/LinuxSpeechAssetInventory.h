#pragma once

#include <optional>
#include <vector>

#include "harkline/Platform/Speech/Models/SpeechModelSourceFolder.h"
#include "harkline/Platform/Speech/Models/StagedModelInstallation.h"
#include "harkline/Platform/Speech/SpeechAssetInventory.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"

namespace harkline {

// The model assets of the Linux speech engines: a locale's assets are its model in the
// per-user store, installed from a local source (a folder named by a descriptor), or a
// system model where it lies (Debian's pocketsphinx en-US), which counts as installed.
// The preset does not change which model a locale needs.
//
// Status: "downloading" while an installation of the locale holds its lock (in any
// process), else "installed" when the store has a whole model or a system model is
// present, else "supported" when a source is present, else "unsupported".
class LinuxSpeechAssetInventory final : public SpeechAssetInventory {
public:
    LinuxSpeechAssetInventory(SpeechModelStore store, std::vector<InstallableSpeechModelSource> sources,
                              std::vector<SpeechModelSource> systemModels = {}, StagedModelVerifier verify = {})
        : store_(std::move(store)),
          sources_(std::move(sources)),
          systemModels_(std::move(systemModels)),
          verify_(std::move(verify)) {}

    // Installed locales and those with a present source, sorted.
    std::vector<std::string> supportedLocales() const override;
    std::vector<std::string> installedLocales() const override;
    AssetInventoryStatus status(const std::vector<SpeechAssetModule>& modules) const override;
    // None when the installed model already equals its source's (or there is no source
    // but a model is installed). Throws for a text that is not a locale identifier or a
    // locale without a present source.
    std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(
        const std::vector<SpeechAssetModule>& modules) const override;

private:
    AssetInventoryStatus localeStatus(const std::string& locale) const;
    bool isInstalled(const std::string& canonicalLocale) const;
    std::optional<InstallableSpeechModelSource> presentSource(const std::string& canonicalLocale) const;

    SpeechModelStore store_;
    std::vector<InstallableSpeechModelSource> sources_;
    std::vector<SpeechModelSource> systemModels_;
    StagedModelVerifier verify_;
};

}  // namespace harkline
