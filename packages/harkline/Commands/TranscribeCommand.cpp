#include "harkline/Commands/TranscribeCommand.h"

#include <unistd.h>

#include "harkline/Runtime/CLIRuntime.h"

namespace harkline {
namespace {

// The host speaks Chinese; where no model serves it the pipeline falls back.
constexpr const char* requestedLocale = "zh-CN";
// Audio read ahead of the engine; beyond it the host's writes wait.
constexpr std::size_t queuedAudioSeconds = 30;

}  // namespace

int TranscribeCommand::run() {
    auto config = fixedConfig();
    CLIRuntime runtime(context_.emitter, StandardInputStream(STDIN_FILENO, context_.logger, queuedAudioSeconds * config.bytesPerSecond()),
                       TranscriptionPipeline(config, PCMBufferStreamBuilder(config, context_.logger), context_.models,
                                             requestedLocale, TranscriptionPreset::progressiveTranscription, context_.logger),
                       context_.logger);
    return runtime.run() == CLIRuntime::Outcome::failed ? 1 : 0;
}

}  // namespace harkline
