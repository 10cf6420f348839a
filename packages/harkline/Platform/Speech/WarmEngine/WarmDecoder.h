#pragma once

#include <vector>

#include "harkline/Transcription/StreamingDecoder.h"
#include "harkline/Platform/Speech/WarmEngine/FrameConnection.h"

namespace harkline {

// A dictation decoded by the user's warm engine: a stream of its own on a model the
// engine keeps loaded. Each call waits a bounded time for the engine's answer; an engine
// that ended or stopped answering fails the call (std::runtime_error), as an engine
// failure in this process would.
class WarmDecoder final : public StreamingDecoder {
public:
    // `connection` has opened its stream.
    explicit WarmDecoder(FrameConnection connection) : connection_(std::move(connection)) {}

    std::vector<Hypothesis> feed(const std::int16_t* samples, std::size_t count) override;
    std::vector<Hypothesis> finish() override;

private:
    std::vector<Hypothesis> exchange(const Frame& request);

    FrameConnection connection_;
};

}  // namespace harkline
