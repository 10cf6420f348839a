#pragma once

#include <memory>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Audio/AudioStreamConfig.h"
#include "harkline/Audio/PCMBufferStreamBuilder.h"
#include "harkline/Backends/SpeechBackend.h"

namespace harkline {

// Chunks of standard input -> PCM builder -> speech backend -> results, handed on
// unchanged and in order, on the calling thread; it returns exactly when the backend does.
class TranscriptionPipeline {
public:
    TranscriptionPipeline(AudioStreamConfig config, PCMBufferStreamBuilder pcmBuilder,
                          std::shared_ptr<const SpeechBackend> backend, cli::Logger logger)
        : config_(config), pcmBuilder_(std::move(pcmBuilder)), backend_(std::move(backend)), logger_(std::move(logger)) {}

    // Throws the failure that stopped the transcription (building the stages or the
    // backend's), after the results made before it; the input has stopped by then.
    void process(AsyncStream<ByteChunk> stream, const ResultHandler& onResult) const;

private:
    AudioStreamConfig config_;
    PCMBufferStreamBuilder pcmBuilder_;
    std::shared_ptr<const SpeechBackend> backend_;
    cli::Logger logger_;
};

}  // namespace harkline
