#pragma once

#include "harkline/Backends/SpeechBackend.h"
#include "harkline/Runtime/CLIError.h"

namespace harkline {

// Used when there is no speech analyzer: every run fails at once with `error`.
class UnavailableSpeechBackend final : public SpeechBackend {
public:
    explicit UnavailableSpeechBackend(CLIError error) : error_(std::move(error)) {}

    void run(PCMBufferStream& buffers, const ResultHandler& onResult) const override;

    const CLIError& error() const { return error_; }

private:
    CLIError error_;
};

}  // namespace harkline
