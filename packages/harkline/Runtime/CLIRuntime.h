#pragma once

#include "cli-frame/Logging/Logger.h"
#include "cli-frame/Messages/CLIMessageEmitter.h"
#include "harkline/Streams/StandardInputStream.h"
#include "harkline/Transcription/TranscriptionPipeline.h"

namespace harkline {

// Drives one transcription: "booting", "ready", a result line per result, then
// "input-stream-closed" with the bytes processed, or a single error line. Standard input
// is read on a thread of its own; framing, decoding and writing the lines happen on the
// thread that calls run().
class CLIRuntime {
public:
    enum class Outcome { closed, failed };

    CLIRuntime(cli::CLIMessageEmitter emitter, StandardInputStream inputFactory, TranscriptionPipeline pipeline,
               cli::Logger logger)
        : emitter_(std::move(emitter)), inputFactory_(std::move(inputFactory)), pipeline_(std::move(pipeline)),
          logger_(std::move(logger)) {}

    // Never throws. On `failed` the error line is written and every stage has stopped;
    // the command then ends with status 1.
    [[nodiscard]] Outcome run() const;

private:
    cli::CLIMessageEmitter emitter_;
    StandardInputStream inputFactory_;
    TranscriptionPipeline pipeline_;
    cli::Logger logger_;
};

}  // namespace harkline
