#include "harkline/Platform/Speech/Linux/LinuxSpeechAssetInventory.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

#include "harkline/Platform/Speech/Download/CurlModelFileFetcher.h"
#include "harkline/Platform/Speech/Download/ModelDownload.h"
#include "harkline/Platform/Speech/Download/ModelDownloadError.h"
#include "harkline/Platform/Speech/Linux/LinuxSpeechPlatform.h"
#include "harkline/Platform/Speech/LocaleIdentifier.h"
#include "harkline/Platform/Speech/Models/ModelInstallationLock.h"
#include "harkline/Platform/Speech/Models/StagedModelInstallation.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;

// Every module of a request needs its locale's model; the order of statuses below is
// from least to most ready, so a list is as ready as its least ready module.
int readiness(AssetInventoryStatus status) {
    switch (status) {
        case AssetInventoryStatus::unsupported: return 0;
        case AssetInventoryStatus::supported: return 1;
        case AssetInventoryStatus::downloading: return 2;
        case AssetInventoryStatus::installed: return 3;
    }
    return 0;
}

void sortUnique(std::vector<std::string>& locales) {
    std::sort(locales.begin(), locales.end());
    locales.erase(std::unique(locales.begin(), locales.end()), locales.end());
}

// The installed model is the catalogue's: same engine, roles, names, sizes and digests.
bool isCatalogModel(const SpeechModelManifest& installed, const CatalogModel& model) {
    SpeechModelManifest pinned{installed.locale, model.engine, model.components(), {}};
    for (const auto& file : model.files) pinned.files.push_back({file.name, file.size, file.sha256, std::nullopt});
    std::sort(pinned.files.begin(), pinned.files.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    return sameModelFiles(installed, pinned) &&
           std::equal(installed.files.begin(), installed.files.end(), pinned.files.begin(),
                      [](const SpeechModelFile& a, const SpeechModelFile& b) { return a.sha256 == b.sha256; });
}

}  // namespace

std::vector<std::string> LinuxSpeechAssetInventory::supportedLocales() const {
    auto locales = installedLocales();
    for (const auto& candidate : sources_)
        if (LinuxSpeechPlatform::isKnownEngine(candidate.source.engine) && candidate.source.isPresent())
            locales.push_back(candidate.source.locale);
    try {
        auto catalog = catalog_ ? catalog_() : SpeechModelCatalog({});
        for (const auto& model : catalog.models())
            if (auto locale = canonicalLocaleIdentifier(model.locale); locale && LinuxSpeechPlatform::isKnownEngine(model.engine))
                locales.push_back(*locale);
    } catch (const SpeechModelCatalogError&) {
        // Only a download reports a catalogue that cannot be read.
    }
    sortUnique(locales);
    return locales;
}

std::vector<std::string> LinuxSpeechAssetInventory::installedLocales() const {
    auto locales = store_.installedLocales();
    for (const auto& model : systemModels_)
        if (model.isPresent()) locales.push_back(model.locale);
    sortUnique(locales);
    return locales;
}

AssetInventoryStatus LinuxSpeechAssetInventory::status(const std::vector<SpeechAssetModule>& modules) const {
    if (modules.empty()) return AssetInventoryStatus::unsupported;
    auto least = AssetInventoryStatus::installed;
    for (const auto& module : modules) {
        auto status = localeStatus(module.locale);
        if (readiness(status) < readiness(least)) least = status;
    }
    return least;
}

std::unique_ptr<AssetInstallationRequest> LinuxSpeechAssetInventory::assetInstallationRequest(
    const std::vector<SpeechAssetModule>& modules) const {
    if (modules.size() != 1) throw std::invalid_argument("one module per installation request");
    const auto& requested = modules.front().locale;
    auto locale = canonicalLocaleIdentifier(requested);
    if (!locale) throw std::invalid_argument("\"" + requested + "\" is not a locale identifier");

    auto installed = store_.installedModel(*locale);
    auto source = presentSource(*locale);
    if (!source) {
        if (auto model = catalogModel(*locale)) {
            if (installed && isCatalogModel(installed->manifest, *model)) return nothingToInstall(*locale);
            return downloadInstallation(*locale, *model);
        }
        if (isInstalled(*locale)) return nothingToInstall(*locale);
        throw std::runtime_error("no speech model source for " + *locale + " on this machine");
    }
    if (installed && sameModelFiles(installed->manifest, source->source.manifest())) return nothingToInstall(*locale);
    return std::make_unique<StagedModelInstallation>(store_.modelsDirectory(), std::move(*source), verify_);
}

// Nothing to install, but a killed installation may have left a whole model in staging
// (one killed right after its swap leaves the old one): free that space when the lock is ours.
std::unique_ptr<AssetInstallationRequest> LinuxSpeechAssetInventory::nothingToInstall(const std::string& locale) const {
    std::error_code error;
    if (!fs::is_directory(store_.modelsDirectory(), error)) return nullptr;
    try {
        if (auto lock = ModelInstallationLock::tryAcquire(ModelInstallationLock::path(store_.modelsDirectory(), locale)))
            StagedModelInstallation::removeStaleStagingFolders(store_.modelsDirectory(), locale);
    } catch (const std::system_error&) {
        // A store that cannot be written keeps its leftovers; the model in it still serves.
    }
    return nullptr;
}

AssetInventoryStatus LinuxSpeechAssetInventory::localeStatus(const std::string& requested) const {
    auto locale = canonicalLocaleIdentifier(requested);
    if (!locale) return AssetInventoryStatus::unsupported;
    if (ModelInstallationLock::isHeld(ModelInstallationLock::path(store_.modelsDirectory(), *locale)))
        return AssetInventoryStatus::downloading;
    if (isInstalled(*locale)) return AssetInventoryStatus::installed;
    if (presentSource(*locale) || catalogModelIfReadable(*locale)) return AssetInventoryStatus::supported;
    return AssetInventoryStatus::unsupported;
}

bool LinuxSpeechAssetInventory::isInstalled(const std::string& locale) const {
    return store_.installedModel(locale).has_value() || systemModel(systemModels_, locale).has_value();
}

std::optional<InstallableSpeechModelSource> LinuxSpeechAssetInventory::presentSource(const std::string& locale) const {
    for (const auto& candidate : sources_)
        if (candidate.source.locale == locale && LinuxSpeechPlatform::isKnownEngine(candidate.source.engine) &&
            candidate.source.isPresent())
            return candidate;
    return std::nullopt;
}

std::optional<CatalogModel> LinuxSpeechAssetInventory::catalogModel(const std::string& locale) const {
    if (!catalog_) return std::nullopt;
    auto catalog = catalog_();
    for (const auto& model : catalog.models())
        if (canonicalLocaleIdentifier(model.locale) == locale && LinuxSpeechPlatform::isKnownEngine(model.engine)) return model;
    return std::nullopt;
}

std::optional<CatalogModel> LinuxSpeechAssetInventory::catalogModelIfReadable(const std::string& locale) const {
    try {
        return catalogModel(locale);
    } catch (const SpeechModelCatalogError&) {
        return std::nullopt;
    }
}

std::unique_ptr<AssetInstallationRequest> LinuxSpeechAssetInventory::downloadInstallation(const std::string& locale,
                                                                                         const CatalogModel& model) const {
    auto folder = ModelDownload::folderFor(store_.modelsDirectory(), locale);
    InstallableSpeechModelSource source{{locale, model.engine, folder, model.components()}, std::nullopt};
    FetchedModelSource fetched;
    for (const auto& file : model.files) fetched.sha256[file.name] = file.sha256;
    fetched.fetch = [folder, model](AssetInstallationProgress& progress) {
        CurlModelFileFetcher fetcher(CurlFetchSettings::fromEnvironment());
        try {
            // 1 is for the model in place, after its trial.
            ModelDownload(fetcher, folder, model)
                .run([&](std::uintmax_t done, std::uintmax_t total) {
                    progress.setFractionCompleted(std::min(0.999, static_cast<double>(done) / static_cast<double>(total)));
                }, [&] { return progress.isCancelled(); });
        } catch (const ModelDownloadCancelled&) {
            throw AssetInstallationCancelled();
        }
    };
    return std::make_unique<StagedModelInstallation>(store_.modelsDirectory(), std::move(source), verify_, std::move(fetched));
}

}  // namespace harkline
