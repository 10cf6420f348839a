#pragma once

#include <optional>
#include <vector>

#include "harkline/Platform/Speech/PocketSphinx/SpeechModelSourceFolder.h"
#include "harkline/Platform/Speech/SpeechAssetInventory.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"

namespace harkline {

// The model assets of pocketsphinx on Linux: a locale's assets are its model in the
// per-user store, installed from a local source (a system package's folder or a folder
// named in the sources folder). The preset does not change which model a locale needs.
//
// Status: "downloading" while an installation of the locale holds its lock (in any
// process), else "installed" when the store has a whole model, else "supported" when a
// source is present, else "unsupported".
class PocketSphinxAssetInventory final : public SpeechAssetInventory {
public:
    PocketSphinxAssetInventory(SpeechModelStore store, std::vector<InstallableSpeechModelSource> sources)
        : store_(std::move(store)), sources_(std::move(sources)) {}

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
    std::optional<InstallableSpeechModelSource> presentSource(const std::string& canonicalLocale) const;

    SpeechModelStore store_;
    std::vector<InstallableSpeechModelSource> sources_;
};

}  // namespace harkline
