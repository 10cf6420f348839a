#include "harkline/Commands/TranscribeCommand.h"

#include <unistd.h>

#include "harkline/Backends/SpeechAnalyzerBackend.h"
#include "harkline/Backends/UnavailableSpeechBackend.h"
#include "harkline/Commands/SpeechPresetResolver.h"
#include "harkline/Runtime/CLIRuntime.h"

namespace harkline {
namespace {

// The host speaks Chinese; where no model for it is installed the backend falls back.
constexpr const char* requestedLocale = "zh-CN";
// Audio read ahead of the engine; beyond it the host's writes wait.
constexpr std::size_t queuedAudioSeconds = 30;

}  // namespace

std::shared_ptr<const SpeechBackend> TranscribeCommand::makeBackend(const CommandContext& context,
                                                                    const AudioStreamConfig& config) {
    if (context.speech && context.speech->hasSpeechAnalyzer()) {
        return std::make_shared<SpeechAnalyzerBackend>(config, requestedLocale, SpeechPresetResolver::resolve(std::nullopt),
                                                       context.logger, context.speech);
    }
    return std::make_shared<UnavailableSpeechBackend>(CLIError(CLIError::Case::backendUnavailable));
}

int TranscribeCommand::run() {
    auto config = fixedConfig();
    CLIRuntime runtime(context_.emitter, StandardInputStream(STDIN_FILENO, context_.logger, queuedAudioSeconds * config.bytesPerSecond()),
                       TranscriptionPipeline(config, PCMBufferStreamBuilder(config, context_.logger),
                                             makeBackend(context_, config), context_.logger),
                       context_.logger);
    return runtime.run() == CLIRuntime::Outcome::failed ? 1 : 0;
}

}  // namespace harkline
