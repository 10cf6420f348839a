#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxDecoder.h"

#include <mutex>
#include <stdexcept>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

namespace harkline {
namespace {

// Speech that never pauses (or noise the detector takes for speech) is cut into
// utterances of this length, so that the decoder's memory stays bounded.
constexpr std::size_t maximumUtteranceSamples = 30 * 16000;

void silenceEngineLogging() {
    // The engine logs to standard error by default; harkline's standard error is only
    // for its own logger's failures.
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

}  // namespace

PocketSphinxDecoder::PocketSphinxDecoder(const ModelPaths& paths) {
    silenceEngineLogging();
    auto acousticModel = paths.acousticModel.string();
    auto languageModel = paths.languageModel.string();
    auto dictionary = paths.dictionary.string();
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", acousticModel.c_str(), "-lm",
                                   languageModel.c_str(), "-dict", dictionary.c_str(), nullptr);
    if (config == nullptr) throw std::runtime_error("pocketsphinx rejected the model paths under " + acousticModel);
    decoder_ = ps_init(config);
    cmd_ln_free_r(config);  // the decoder keeps its own reference
    if (decoder_ == nullptr)
        throw std::runtime_error("pocketsphinx could not load the speech model from " +
                                 paths.acousticModel.parent_path().string());
}

PocketSphinxDecoder::~PocketSphinxDecoder() {
    if (inUtterance_) ps_end_utt(decoder_);
    ps_free(decoder_);
}

std::vector<StreamingDecoder::Hypothesis> PocketSphinxDecoder::feed(const std::int16_t* samples, std::size_t count) {
    std::vector<Hypothesis> hypotheses;
    if (count == 0) return hypotheses;
    if (!inUtterance_) startUtterance();
    if (ps_process_raw(decoder_, samples, count, FALSE, FALSE) < 0)
        throw std::runtime_error("pocketsphinx failed to decode the audio");
    utteranceSamples_ += count;

    bool inSpeech = ps_get_in_speech(decoder_) != 0;
    if (inSpeech && !heardSpeech_) {
        heardSpeech_ = true;
        utteranceSamples_ = count;
    }
    if (heardSpeech_ && (!inSpeech || utteranceSamples_ >= maximumUtteranceSamples)) {
        if (auto final = endUtterance()) hypotheses.push_back(std::move(*final));
    } else if (heardSpeech_) {
        auto partial = currentHypothesis();
        if (!partial.empty() && partial != lastPartial_) {
            lastPartial_ = partial;
            hypotheses.push_back({std::move(partial), false});
        }
    } else if (utteranceSamples_ >= maximumUtteranceSamples) {
        endUtterance();  // only silence so far: start afresh
    }
    return hypotheses;
}

std::vector<StreamingDecoder::Hypothesis> PocketSphinxDecoder::finish() {
    std::vector<Hypothesis> hypotheses;
    if (!inUtterance_) return hypotheses;
    if (auto final = endUtterance()) hypotheses.push_back(std::move(*final));
    return hypotheses;
}

void PocketSphinxDecoder::startUtterance() {
    if (ps_start_utt(decoder_) < 0) throw std::runtime_error("pocketsphinx could not start an utterance");
    inUtterance_ = true;
    heardSpeech_ = false;
    utteranceSamples_ = 0;
    lastPartial_.clear();
}

std::optional<StreamingDecoder::Hypothesis> PocketSphinxDecoder::endUtterance() {
    inUtterance_ = false;
    if (ps_end_utt(decoder_) < 0) throw std::runtime_error("pocketsphinx could not end an utterance");
    auto text = currentHypothesis();
    // A final result also closes partial results already shown; an empty one goes no
    // further than the pipeline, which writes no empty final line.
    if (text.empty() && lastPartial_.empty()) return std::nullopt;
    return Hypothesis{std::move(text), true};
}

std::string PocketSphinxDecoder::currentHypothesis() const {
    const char* hypothesis = ps_get_hyp(decoder_, nullptr);
    return hypothesis != nullptr ? std::string(hypothesis) : std::string();
}

}  // namespace harkline
