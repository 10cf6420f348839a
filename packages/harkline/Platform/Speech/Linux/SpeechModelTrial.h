#pragma once

#include <filesystem>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/Download/InstallationLoop.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"

namespace harkline {

// A model is loaded and made to decode a little audio in a process of its own before it
// counts as installed: an engine may end the whole process on a bad model, and the
// process serving the host must never be the one that ends.
class SpeechModelTrial {
public:
    // Set in the child's environment to the folder holding the model and its manifest: it
    // makes harkline run a trial instead of a command. A variable rather than an argument,
    // so that no command line a host writes can start a trial.
    static constexpr const char* environmentVariable = "TESSARYN_SPEECH_MODEL_TRIAL";

    // `executable` is harkline itself (a program whose main hands the variable's value to run()).
    SpeechModelTrial(std::filesystem::path executable, cli::Logger logger)
        : executable_(std::move(executable)), logger_(std::move(logger)) {}

    // Runs the trial child on the model, waiting for it in the installation's loop; throws
    // std::runtime_error with what the engine said when the child fails (saying "the
    // formatting model" when only the model that formats final results failed),
    // AssetInstallationCancelled when the installation is cancelled meanwhile (the child is
    // then killed).
    void operator()(const InstalledSpeechModel& model, InstallationLoop& loop) const;
    // The same outside an installation: nothing to watch or report while it runs.
    void operator()(const InstalledSpeechModel& model) const;

    // The child's side: loads the model in `directory`, decodes a second of audio, then
    // loads the formatting model the manifest names (SherpaOnnxFormattingModel) and formats
    // a text; returns the exit status (0 when all works, 2 when only the formatting model
    // fails), and says why not on standard error.
    static int run(const std::filesystem::path& directory);

private:
    std::filesystem::path executable_;
    cli::Logger logger_;
};

}  // namespace harkline
