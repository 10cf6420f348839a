#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "harkline/Platform/Speech/SpeechAssetInventory.h"

namespace harkline {

// An in-memory asset inventory for tests: statuses, locale lists, installations and
// their failures as a test scripts them, with a record of what was asked.
class InMemoryAssetInventory final : public SpeechAssetInventory {
public:
    struct Script {
        std::vector<std::string> supportedLocales;
        std::vector<std::string> installedLocales;
        // Status by locale; locales not named are unsupported. A finished installation
        // sets its locale to installed.
        std::map<std::string, AssetInventoryStatus> statuses;
        // assetInstallationRequest throws std::runtime_error with this description.
        std::optional<std::string> requestFailure;
        // assetInstallationRequest returns none.
        bool nothingToInstall = false;
        // The fractions an installation passes through, each held for stepDuration (a
        // cancel through the marker cuts the wait short); the request starts at the first.
        std::vector<double> fractions{0.5};
        std::chrono::milliseconds stepDuration{0};
        // The installation throws std::runtime_error with this description at its end.
        std::optional<std::string> installFailure;
        // A cancel seen too late to stop it: the installation finishes anyway.
        bool finishesDespiteCancel = false;
    };

    struct Record {
        std::vector<std::string> statusQueries;     // locale of each status call
        std::vector<std::string> requestedLocales;  // locale of each assetInstallationRequest call
        std::vector<TranscriptionPreset> requestedPresets;
        int installationsStarted = 0;
        int installationsCancelled = 0;
    };

    explicit InMemoryAssetInventory(Script script) : state_(std::make_shared<State>(std::move(script))) {}

    std::vector<std::string> supportedLocales() const override { return state_->script.supportedLocales; }
    std::vector<std::string> installedLocales() const override { return state_->script.installedLocales; }
    AssetInventoryStatus status(const std::vector<SpeechAssetModule>& modules) const override;
    std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(
        const std::vector<SpeechAssetModule>& modules) const override;

    Record record() const;
    // Returns once `count` installations have started and made their first progress
    // report: a latch for tests that act on a running installation from another thread.
    void waitForInstallations(int count) const;

    // Shared with the requests made, which may outlive the inventory.
    struct State {
        explicit State(Script scriptToPlay) : script(std::move(scriptToPlay)) {}
        const Script script;
        mutable std::mutex mutex;
        mutable std::condition_variable installationStarted;
        std::map<std::string, AssetInventoryStatus> statuses = script.statuses;
        Record record;
    };

private:
    std::shared_ptr<State> state_;
};

}  // namespace harkline
