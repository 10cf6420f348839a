#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/Linux/SpeechModelTrial.h"
#include "harkline/Platform/Speech/Linux/StreamingDecoder.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxRecognizer.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"
#include "harkline/Platform/Speech/SpeechPlatform.h"

namespace harkline {

// The speech platform on Linux: two engines, pocketsphinx and sherpa-onnx streaming
// transducers, each linked in. A locale is served by the model in the per-user store when
// it has one (whatever its engine), else by a system model where it lies (Debian's
// pocketsphinx en-US), with no copy. A sherpa-onnx model that no installation of ours
// checked (placed in the store by hand) is first loaded by `trial`, in a process of its own.
// A Silero speech gate on `speechGateModel` stands in front of either engine (none when
// it is switched off).
class LinuxSpeechPlatform final : public SpeechPlatform {
public:
    LinuxSpeechPlatform(SpeechModelStore store, std::vector<SpeechModelSource> systemModels,
                        std::optional<std::filesystem::path> speechGateModel, cli::Logger logger,
                        std::optional<SpeechModelTrial> trial = std::nullopt)
        : store_(std::move(store)),
          systemModels_(std::move(systemModels)),
          speechGateModel_(std::move(speechGateModel)),
          logger_(std::move(logger)),
          trial_(std::move(trial)) {}

    // The engines are part of the program.
    bool hasSpeechAnalyzer() const override { return true; }
    // Some locale has a model.
    bool isTranscriberAvailable() const override;
    std::optional<std::string> supportedLocale(const std::string& locale) const override;
    std::shared_ptr<SpeechTranscriber> makeTranscriber(const std::string& locale,
                                                       TranscriptionPreset preset) const override;
    std::unique_ptr<SpeechAnalyzer> makeAnalyzer(std::shared_ptr<SpeechTranscriber> module) const override;
    // The Silero speech gate, on the model file the product carries; none when switched off.
    std::unique_ptr<SpeechGate> makeSpeechGate() const override;
    std::optional<std::string> speechGateProblem() const override;

    // The model that serves a canonical locale: the store's (even one damaged since its
    // installation, which then fails to load with the reason), else a present system model.
    std::optional<InstalledSpeechModel> modelFor(const std::string& locale) const;

    static bool isKnownEngine(const std::string& engine);
    // Checks the model's files and loads its engine; throws std::runtime_error saying why
    // it cannot.
    static std::unique_ptr<StreamingDecoder> loadDecoder(const InstalledSpeechModel& model, const cli::Logger& logger,
                                                         EngineOutput engineOutput = EngineOutput::toLog);

private:
    std::vector<std::string> knownLocales() const;

    SpeechModelStore store_;
    std::vector<SpeechModelSource> systemModels_;
    std::optional<std::filesystem::path> speechGateModel_;
    cli::Logger logger_;
    std::optional<SpeechModelTrial> trial_;
};

// A present system model as an installed one, where it lies; none when absent.
std::optional<InstalledSpeechModel> systemModel(const std::vector<SpeechModelSource>& systemModels,
                                                const std::string& locale);

}  // namespace harkline
