#pragma once

#include "cli-frame/Commands/CLIExecutableCommand.h"
#include "harkline/Audio/AudioStreamConfig.h"
#include "harkline/Commands/CommandContext.h"

namespace harkline {

// `harkline transcribe`: raw 16 kHz mono 16-bit PCM on standard input, transcription
// results as JSON lines on standard output. Takes no options.
class TranscribeCommand final : public cli::CLIExecutableCommand {
public:
    explicit TranscribeCommand(CommandContext context) : context_(std::move(context)) {}

    // 1 after a failure.
    int run() override;

    static AudioStreamConfig fixedConfig() { return AudioStreamConfig{16000.0, 1, 16, 2048}; }

private:
    CommandContext context_;
};

}  // namespace harkline
