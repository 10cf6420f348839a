#pragma once

#include "harkline/Audio/AudioPCMBuffer.h"
#include "harkline/Runtime/CLIMessages.h"
#include "harkline/Streams/AsyncStream.h"

namespace harkline {

// Turns audio buffers into transcription results. Starts its own work when called and
// consumes the buffer stream itself; every failure arrives as the error that ends the
// returned stream.
class SpeechBackend {
public:
    virtual ~SpeechBackend() = default;
    virtual AsyncStream<ResultPayload> run(AsyncStream<AudioPCMBuffer> bufferStream) const = 0;
};

}  // namespace harkline
