#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxAssetInventory.h"

#include <algorithm>
#include <stdexcept>

#include "harkline/Platform/Speech/LocaleIdentifier.h"
#include "harkline/Platform/Speech/PocketSphinx/ModelInstallationLock.h"
#include "harkline/Platform/Speech/PocketSphinx/StagedModelInstallation.h"

namespace harkline {
namespace {

constexpr const char* engineName = "pocketsphinx";

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

}  // namespace

std::vector<std::string> PocketSphinxAssetInventory::supportedLocales() const {
    auto locales = store_.installedLocales();
    for (const auto& candidate : sources_)
        if (candidate.source.engine == engineName && candidate.source.isPresent()) locales.push_back(candidate.source.locale);
    std::sort(locales.begin(), locales.end());
    locales.erase(std::unique(locales.begin(), locales.end()), locales.end());
    return locales;
}

std::vector<std::string> PocketSphinxAssetInventory::installedLocales() const { return store_.installedLocales(); }

AssetInventoryStatus PocketSphinxAssetInventory::status(const std::vector<SpeechAssetModule>& modules) const {
    if (modules.empty()) return AssetInventoryStatus::unsupported;
    auto least = AssetInventoryStatus::installed;
    for (const auto& module : modules) {
        auto status = localeStatus(module.locale);
        if (readiness(status) < readiness(least)) least = status;
    }
    return least;
}

std::unique_ptr<AssetInstallationRequest> PocketSphinxAssetInventory::assetInstallationRequest(
    const std::vector<SpeechAssetModule>& modules) const {
    if (modules.size() != 1) throw std::invalid_argument("one module per installation request");
    const auto& requested = modules.front().locale;
    auto locale = canonicalLocaleIdentifier(requested);
    if (!locale) throw std::invalid_argument("\"" + requested + "\" is not a locale identifier");

    auto installed = store_.installedModel(*locale);
    auto source = presentSource(*locale);
    if (!source) {
        if (installed) return nullptr;
        throw std::runtime_error("no speech model source for " + *locale + " on this machine");
    }
    if (installed && installed->manifest == source->source.manifest()) return nullptr;
    return std::make_unique<StagedModelInstallation>(store_.modelsDirectory(), std::move(*source));
}

AssetInventoryStatus PocketSphinxAssetInventory::localeStatus(const std::string& requested) const {
    auto locale = canonicalLocaleIdentifier(requested);
    if (!locale) return AssetInventoryStatus::unsupported;
    if (ModelInstallationLock::isHeld(ModelInstallationLock::path(store_.modelsDirectory(), *locale)))
        return AssetInventoryStatus::downloading;
    if (store_.installedModel(*locale)) return AssetInventoryStatus::installed;
    if (presentSource(*locale)) return AssetInventoryStatus::supported;
    return AssetInventoryStatus::unsupported;
}

std::optional<InstallableSpeechModelSource> PocketSphinxAssetInventory::presentSource(const std::string& locale) const {
    for (const auto& candidate : sources_)
        if (candidate.source.locale == locale && candidate.source.engine == engineName && candidate.source.isPresent())
            return candidate;
    return std::nullopt;
}

}  // namespace harkline
