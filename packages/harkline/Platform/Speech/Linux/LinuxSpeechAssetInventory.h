#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "harkline/Platform/Speech/Download/SpeechModelCatalog.h"
#include "harkline/Platform/Speech/Models/SpeechModelSourceFolder.h"
#include "harkline/Platform/Speech/Models/StagedModelInstallation.h"
#include "harkline/Platform/Speech/SpeechAssetInventory.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"

namespace harkline {

// The model assets of the Linux speech engines: a locale's assets are its model in the
// per-user store, installed from a local source (a folder named by a descriptor, the
// user's own choice, which wins) or else downloaded as the model catalogue pins it, or a
// system model where it lies (Debian's pocketsphinx en-US), which serves until a model is
// in the store. The preset does not change which model a locale needs.
//
// Installed, for every question asked here: the model that would serve the locale is in
// place and nothing better is offered for it. So a locale with a present source is
// installed when the store holds that source's model; else, one the catalogue offers when
// the store holds the catalogue's model; else, when a model serves it at all (the store's,
// or a system model). Installed is exactly when assetInstallationRequest has nothing to do.
//
// Status: "downloading" while an installation of the locale holds its lock (in any
// process), else "installed" as above, else "supported" when a source is present or the
// catalogue offers the locale, else "unsupported".
class LinuxSpeechAssetInventory final : public SpeechAssetInventory {
public:
    LinuxSpeechAssetInventory(SpeechModelStore store, std::vector<InstallableSpeechModelSource> sources,
                              std::vector<SpeechModelSource> systemModels = {}, StagedModelVerifier verify = {},
                              std::function<SpeechModelCatalog()> catalog = {})
        : store_(std::move(store)),
          sources_(std::move(sources)),
          systemModels_(std::move(systemModels)),
          verify_(std::move(verify)),
          catalog_(std::move(catalog)) {}

    // Installed locales, those with a present source and those the catalogue offers, sorted.
    std::vector<std::string> supportedLocales() const override;
    std::vector<std::string> installedLocales() const override;
    AssetInventoryStatus status(const std::vector<SpeechAssetModule>& modules) const override;
    // None when the locale is installed. Throws for a text that is not a locale identifier,
    // a locale without a source, or a catalogue that cannot be read.
    std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(
        const std::vector<SpeechAssetModule>& modules) const override;

private:
    AssetInventoryStatus localeStatus(const std::string& locale) const;
    // `offered` is what the catalogue offers for the locale, asked for by the caller, who
    // decides what an unreadable catalogue means.
    bool isInstalled(const std::string& canonicalLocale, const std::optional<InstallableSpeechModelSource>& source,
                     const std::optional<CatalogModel>& offered) const;
    std::optional<InstallableSpeechModelSource> presentSource(const std::string& canonicalLocale) const;
    // Throws SpeechModelCatalogError for a catalogue that cannot be read.
    std::optional<CatalogModel> catalogModel(const std::string& canonicalLocale) const;
    // Without the catalogue's errors: for questions that only ask what could be installed.
    std::optional<CatalogModel> catalogModelIfReadable(const std::string& canonicalLocale) const;
    std::unique_ptr<AssetInstallationRequest> downloadInstallation(const std::string& locale, const CatalogModel& model) const;
    std::unique_ptr<AssetInstallationRequest> nothingToInstall(const std::string& locale) const;

    SpeechModelStore store_;
    std::vector<InstallableSpeechModelSource> sources_;
    std::vector<SpeechModelSource> systemModels_;
    StagedModelVerifier verify_;
    std::function<SpeechModelCatalog()> catalog_;
};

}  // namespace harkline
