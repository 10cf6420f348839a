#include "harkline/Platform/Speech/Testing/InMemoryAssetInventory.h"

#include <stdexcept>

#include "harkline/Platform/Speech/Download/InstallationLoop.h"

namespace harkline {
namespace {

class InMemoryInstallation final : public AssetInstallationRequest {
public:
    InMemoryInstallation(std::shared_ptr<InMemoryAssetInventory::State> state, std::string locale)
        : state_(std::move(state)), locale_(std::move(locale)) {
        // The first fraction is there before the installation starts, so the first report sees it.
        if (!state_->script.fractions.empty()) progress_.setFractionCompleted(state_->script.fractions.front());
    }

    AssetInstallationProgress& progress() override { return progress_; }

    // Waits in the real installation loop, so that reports and the cancel marker are
    // served as a real installation serves them.
    void downloadAndInstall(const InstallationWatch& watch) override {
        const auto& script = state_->script;
        InstallationLoop loop(progress_, watch);
        {
            std::lock_guard lock(state_->mutex);
            ++state_->record.installationsStarted;
            state_->installationStarted.notify_all();
        }
        for (double fraction : script.fractions) {
            progress_.setFractionCompleted(fraction);
            try {
                loop.waitUntilReadable(-1, std::chrono::steady_clock::now() + script.stepDuration);  // nothing but time
            } catch (const AssetInstallationCancelled&) {
                if (script.finishesDespiteCancel) continue;
                std::lock_guard lock(state_->mutex);
                ++state_->record.installationsCancelled;
                throw;
            }
        }
        if (script.installFailure) throw std::runtime_error(*script.installFailure);
        progress_.setFractionCompleted(1.0);
        std::lock_guard lock(state_->mutex);
        state_->statuses[locale_] = AssetInventoryStatus::installed;
    }

private:
    std::shared_ptr<InMemoryAssetInventory::State> state_;
    std::string locale_;
    AssetInstallationProgress progress_;
};

}  // namespace

void InMemoryAssetInventory::waitForInstallations(int count) const {
    std::unique_lock lock(state_->mutex);
    state_->installationStarted.wait(lock, [&] { return state_->record.installationsStarted >= count; });
}

AssetInventoryStatus InMemoryAssetInventory::status(const std::vector<SpeechAssetModule>& modules) const {
    std::lock_guard lock(state_->mutex);
    const auto& locale = modules.at(0).locale;
    state_->record.statusQueries.push_back(locale);
    auto found = state_->statuses.find(locale);
    return found == state_->statuses.end() ? AssetInventoryStatus::unsupported : found->second;
}

std::unique_ptr<AssetInstallationRequest> InMemoryAssetInventory::assetInstallationRequest(
    const std::vector<SpeechAssetModule>& modules) const {
    {
        std::lock_guard lock(state_->mutex);
        state_->record.requestedLocales.push_back(modules.at(0).locale);
        state_->record.requestedPresets.push_back(modules.at(0).preset);
    }
    if (state_->script.requestFailure) throw std::runtime_error(*state_->script.requestFailure);
    if (state_->script.nothingToInstall) return nullptr;
    return std::make_unique<InMemoryInstallation>(state_, modules.at(0).locale);
}

InMemoryAssetInventory::Record InMemoryAssetInventory::record() const {
    std::lock_guard lock(state_->mutex);
    return state_->record;
}

}  // namespace harkline
