#pragma once

#include <memory>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Audio/AudioStreamConfig.h"
#include "harkline/Audio/PCMBufferStreamBuilder.h"
#include "harkline/Backends/SpeechBackend.h"

namespace harkline {

// Chunks of standard input -> PCM builder -> speech backend -> results, forwarded
// unchanged and in order; the result stream ends exactly when the backend's does.
class TranscriptionPipeline {
public:
    TranscriptionPipeline(AudioStreamConfig config, PCMBufferStreamBuilder pcmBuilder,
                          std::shared_ptr<const SpeechBackend> backend, cli::Logger logger)
        : config_(config), pcmBuilder_(std::move(pcmBuilder)), backend_(std::move(backend)), logger_(std::move(logger)) {}

    // Never throws: a failure to build the stages ends the returned stream instead.
    AsyncStream<ResultPayload> process(AsyncStream<ByteChunk> stream) const;

private:
    AudioStreamConfig config_;
    PCMBufferStreamBuilder pcmBuilder_;
    std::shared_ptr<const SpeechBackend> backend_;
    cli::Logger logger_;
};

}  // namespace harkline
