#include "harkline/Platform/Speech/Linux/LinuxSpeechAssetInventory.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "harkline/Platform/Speech/Download/CurlModelFileFetcher.h"
#include "harkline/Platform/Speech/Download/ModelDownload.h"
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

// The files of the locale's recorded model that pass their checks and are the catalogue's
// (same name, size and SHA-256) are linked into the download folder, so that a damaged
// model is repaired by fetching only the files that fail; a file system without hard links
// gets copies.
void keepIntactFiles(const SpeechModelStore& store, const std::string& locale, const CatalogModel& model,
                     const fs::path& folder) {
    auto recorded = store.recordedModel(locale);
    if (!recorded) return;
    for (const auto& file : recorded->intactFiles()) {
        bool pinned = std::any_of(model.files.begin(), model.files.end(), [&](const CatalogModelFile& offered) {
            return offered.name == file.path && offered.size == file.size && offered.sha256 == file.sha256;
        });
        std::error_code error;
        if (!pinned || fs::exists(folder / file.path, error)) continue;
        fs::create_directories(folder, error);
        fs::create_hard_link(recorded->directory / file.path, folder / file.path, error);
        if (error) fs::copy_file(recorded->directory / file.path, folder / file.path, error);
    }
}

double fractionOf(std::uintmax_t done, std::uintmax_t total) {
    return total == 0 ? 0.0 : static_cast<double>(done) / static_cast<double>(total);
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
    auto candidates = store_.recordedLocales();
    for (const auto& model : systemModels_)
        if (model.isPresent()) candidates.push_back(model.locale);
    sortUnique(candidates);
    std::vector<std::string> locales;
    for (const auto& locale : candidates)
        if (isInstalled(locale, presentSource(locale), catalogModelIfReadable(locale))) locales.push_back(locale);
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

    auto source = presentSource(*locale);
    auto offered = source ? std::nullopt : catalogModel(*locale);
    if (isInstalled(*locale, source, offered)) return nothingToInstall(*locale);
    if (source) return std::make_unique<StagedModelInstallation>(store_.modelsDirectory(), std::move(*source), verify_);
    if (offered) return downloadInstallation(*locale, *offered);
    throw std::runtime_error("no speech model source for " + *locale + " on this machine");
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
    auto source = presentSource(*locale);
    auto offered = source ? std::nullopt : catalogModelIfReadable(*locale);
    if (isInstalled(*locale, source, offered)) return AssetInventoryStatus::installed;
    if (source || offered) return AssetInventoryStatus::supported;
    return AssetInventoryStatus::unsupported;
}

bool LinuxSpeechAssetInventory::isInstalled(const std::string& locale,
                                            const std::optional<InstallableSpeechModelSource>& source,
                                            const std::optional<CatalogModel>& offered) const {
    auto installed = store_.installedModel(locale);
    if (source) {
        try {
            return installed && sameModelFiles(installed->manifest, source->source.manifest());
        } catch (const std::filesystem::filesystem_error&) {
            return false;  // the source changed while it was listed: installing it will tell
        }
    }
    if (offered) return installed && isCatalogModel(installed->manifest, *offered);
    return installed || systemModel(systemModels_, locale);
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
    keepIntactFiles(store_, locale, model, folder);
    InstallableSpeechModelSource source{{locale, model.engine, folder, model.components()}};
    FetchedModelSource fetched;
    for (const auto& file : model.files) fetched.sha256[file.name] = file.sha256;
    fetched.fetch = [folder, model](InstallationLoop& loop) {
        CurlModelFileFetcher fetcher;
        ModelDownload(fetcher, folder, model).run(
            [&](std::uintmax_t done, std::uintmax_t total) { loop.progress().setFractionCompleted(fractionOf(done, total)); },
            loop);
    };
    auto installation =
        std::make_unique<StagedModelInstallation>(store_.modelsDirectory(), std::move(source), verify_, std::move(fetched));
    // A resumed download's first report is what it kept, not a 0 before it counted.
    installation->progress().setFractionCompleted(fractionOf(ModelDownload::keptBytes(folder, model), model.totalBytes()));
    return installation;
}

}  // namespace harkline
