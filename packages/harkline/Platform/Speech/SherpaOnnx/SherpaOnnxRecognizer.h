#pragma once

#include <cstddef>
#include <mutex>
#include <string>

#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxStreamingModel.h"

struct SherpaOnnxOnlineRecognizer;

namespace harkline {

struct SherpaOnnxLibrary;

// Where the engine's own messages go while a model loads: into our log (standard error
// is captured meanwhile), or to standard error as they are.
enum class EngineOutput { toLog, asIs };

// A streaming model loaded into sherpa-onnx: what costs the time and the memory. Any
// number of streams (SherpaOnnxDecoder) decode on one, each a dictation of its own.
// sherpa-onnx does not say that one recognizer may decode several streams from several
// threads at once, so every call that touches it goes through `lock()`: two dictations on
// one model take turns chunk by chunk.
class SherpaOnnxRecognizer {
public:
    // Loads the library (once per process) and the model; throws std::runtime_error when
    // the library is missing or not the pinned release, or the engine refuses the model.
    // `hotwordsPerStream`: its streams may bring hotwords of their own, which only modified
    // beam search takes (as with the model's own hotwords file).
    SherpaOnnxRecognizer(const SherpaOnnxStreamingModel& model, const cli::Logger& logger,
                         EngineOutput engineOutput = EngineOutput::toLog, bool hotwordsPerStream = false);
    ~SherpaOnnxRecognizer();
    SherpaOnnxRecognizer(const SherpaOnnxRecognizer&) = delete;
    SherpaOnnxRecognizer& operator=(const SherpaOnnxRecognizer&) = delete;

    const SherpaOnnxLibrary& library() const { return library_; }
    const SherpaOnnxOnlineRecognizer* handle() const { return recognizer_; }
    // Zero samples that make the engine decode the last real chunk of a stretch.
    std::size_t tailPaddingSamples() const { return tailPaddingSamples_; }
    // The file the engine knows the model by (the encoder, or the CTC model).
    const std::string& name() const { return name_; }
    [[nodiscard]] std::unique_lock<std::mutex> lock() const { return std::unique_lock(mutex_); }

private:
    const SherpaOnnxLibrary& library_;
    const SherpaOnnxOnlineRecognizer* recognizer_ = nullptr;
    std::size_t tailPaddingSamples_ = 0;
    std::string name_;
    mutable std::mutex mutex_;
};

}  // namespace harkline
