#pragma once

#include <functional>

#include "harkline/Audio/PCMBufferStreamBuilder.h"
#include "harkline/Runtime/CLIMessages.h"

namespace harkline {

// Receives transcription results as they are made.
using ResultHandler = std::function<void(ResultPayload)>;

// Turns audio buffers into transcription results, on the calling thread: it takes the
// buffers to their end and hands each result to `onResult` as soon as it has it. Every
// failure is thrown, after the results made before it.
class SpeechBackend {
public:
    virtual ~SpeechBackend() = default;
    virtual void run(PCMBufferStream& buffers, const ResultHandler& onResult) const = 0;
};

}  // namespace harkline
