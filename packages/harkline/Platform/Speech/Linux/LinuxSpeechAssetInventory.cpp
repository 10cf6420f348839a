#include "harkline/Platform/Speech/Linux/LinuxSpeechAssetInventory.h"

#include <algorithm>
#include <stdexcept>

#include "harkline/Platform/Speech/Linux/LinuxSpeechPlatform.h"
#include "harkline/Platform/Speech/LocaleIdentifier.h"
#include "harkline/Platform/Speech/Models/ModelInstallationLock.h"
#include "harkline/Platform/Speech/Models/StagedModelInstallation.h"

namespace harkline {
namespace {

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

}  // namespace

std::vector<std::string> LinuxSpeechAssetInventory::supportedLocales() const {
    auto locales = installedLocales();
    for (const auto& candidate : sources_)
        if (LinuxSpeechPlatform::isKnownEngine(candidate.source.engine) && candidate.source.isPresent())
            locales.push_back(candidate.source.locale);
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

    auto source = presentSource(*locale);
    if (!source) {
        if (isInstalled(*locale)) return nullptr;
        throw std::runtime_error("no speech model source for " + *locale + " on this machine");
    }
    auto installed = store_.installedModel(*locale);
    if (installed && sameModelFiles(installed->manifest, source->source.manifest())) return nullptr;
    return std::make_unique<StagedModelInstallation>(store_.modelsDirectory(), std::move(*source), verify_);
}

AssetInventoryStatus LinuxSpeechAssetInventory::localeStatus(const std::string& requested) const {
    auto locale = canonicalLocaleIdentifier(requested);
    if (!locale) return AssetInventoryStatus::unsupported;
    if (ModelInstallationLock::isHeld(ModelInstallationLock::path(store_.modelsDirectory(), *locale)))
        return AssetInventoryStatus::downloading;
    if (isInstalled(*locale)) return AssetInventoryStatus::installed;
    if (presentSource(*locale)) return AssetInventoryStatus::supported;
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

}  // namespace harkline
