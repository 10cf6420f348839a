#pragma once

// The part of sherpa-onnx's C interface that harkline uses, declared for the pinned
// release (the one scripts/install-deps fetches). Only the C interface: the library's
// C++ wrapper is built with the old std::string ABI. Struct layouts must match that
// release byte for byte; the asserts below catch a drift before anything runs.

#include <cstddef>
#include <cstdint>

extern "C" {

inline constexpr const char* sherpaOnnxPinnedVersion = "1.13.8";

struct SherpaOnnxOnlineTransducerModelConfig {
    const char* encoder;
    const char* decoder;
    const char* joiner;
};

struct SherpaOnnxOnlineParaformerModelConfig {
    const char* encoder;
    const char* decoder;
};

struct SherpaOnnxOnlineSingleModelConfig {
    const char* model;
};

struct SherpaOnnxOnlineModelConfig {
    SherpaOnnxOnlineTransducerModelConfig transducer;
    SherpaOnnxOnlineParaformerModelConfig paraformer;
    SherpaOnnxOnlineSingleModelConfig zipformer2_ctc;
    const char* tokens;
    int32_t num_threads;
    const char* provider;
    int32_t debug;
    const char* model_type;
    const char* modeling_unit;
    const char* bpe_vocab;
    const char* tokens_buf;
    int32_t tokens_buf_size;
    SherpaOnnxOnlineSingleModelConfig nemo_ctc;
    SherpaOnnxOnlineSingleModelConfig t_one_ctc;
};

struct SherpaOnnxFeatureConfig {
    int32_t sample_rate;
    int32_t feature_dim;
};

struct SherpaOnnxOnlineCtcFstDecoderConfig {
    const char* graph;
    int32_t max_active;
};

struct SherpaOnnxHomophoneReplacerConfig {
    const char* dict_dir;
    const char* lexicon;
    const char* rule_fsts;
};

struct SherpaOnnxOnlineRecognizerConfig {
    SherpaOnnxFeatureConfig feat_config;
    SherpaOnnxOnlineModelConfig model_config;
    const char* decoding_method;
    int32_t max_active_paths;
    int32_t enable_endpoint;
    float rule1_min_trailing_silence;
    float rule2_min_trailing_silence;
    float rule3_min_utterance_length;
    const char* hotwords_file;
    float hotwords_score;
    SherpaOnnxOnlineCtcFstDecoderConfig ctc_fst_decoder_config;
    const char* rule_fsts;
    const char* rule_fars;
    float blank_penalty;
    const char* hotwords_buf;
    int32_t hotwords_buf_size;
    SherpaOnnxHomophoneReplacerConfig hr;
};

struct SherpaOnnxOnlineRecognizerResult {
    const char* text;
    const char* tokens;
    const char* const* tokens_arr;
    float* timestamps;
    int32_t count;
    const char* json;
};

struct SherpaOnnxOnlineRecognizer;
struct SherpaOnnxOnlineStream;

const char* SherpaOnnxGetVersionStr();

const SherpaOnnxOnlineRecognizer* SherpaOnnxCreateOnlineRecognizer(const SherpaOnnxOnlineRecognizerConfig* config);
void SherpaOnnxDestroyOnlineRecognizer(const SherpaOnnxOnlineRecognizer* recognizer);

const SherpaOnnxOnlineStream* SherpaOnnxCreateOnlineStream(const SherpaOnnxOnlineRecognizer* recognizer);
// Hotwords of this stream alone, a phrase a line (or separated by "/"), each optionally
// followed by " :boost"; merged with the recognizer's hotwords file.
const SherpaOnnxOnlineStream* SherpaOnnxCreateOnlineStreamWithHotwords(const SherpaOnnxOnlineRecognizer* recognizer,
                                                                      const char* hotwords);
void SherpaOnnxDestroyOnlineStream(const SherpaOnnxOnlineStream* stream);

void SherpaOnnxOnlineStreamAcceptWaveform(const SherpaOnnxOnlineStream* stream, int32_t sample_rate,
                                          const float* samples, int32_t n);
void SherpaOnnxOnlineStreamInputFinished(const SherpaOnnxOnlineStream* stream);
int32_t SherpaOnnxIsOnlineStreamReady(const SherpaOnnxOnlineRecognizer* recognizer,
                                      const SherpaOnnxOnlineStream* stream);
void SherpaOnnxDecodeOnlineStream(const SherpaOnnxOnlineRecognizer* recognizer, const SherpaOnnxOnlineStream* stream);
int32_t SherpaOnnxOnlineStreamIsEndpoint(const SherpaOnnxOnlineRecognizer* recognizer,
                                         const SherpaOnnxOnlineStream* stream);
void SherpaOnnxOnlineStreamReset(const SherpaOnnxOnlineRecognizer* recognizer, const SherpaOnnxOnlineStream* stream);

const SherpaOnnxOnlineRecognizerResult* SherpaOnnxGetOnlineStreamResult(const SherpaOnnxOnlineRecognizer* recognizer,
                                                                        const SherpaOnnxOnlineStream* stream);
void SherpaOnnxDestroyOnlineRecognizerResult(const SherpaOnnxOnlineRecognizerResult* result);

// The voice activity detector (Silero VAD, or TEN VAD when its model is named instead).
struct SherpaOnnxSileroVadModelConfig {
    const char* model;
    float threshold;
    float min_silence_duration;
    float min_speech_duration;
    int32_t window_size;
    float max_speech_duration;
};

struct SherpaOnnxTenVadModelConfig {
    const char* model;
    float threshold;
    float min_silence_duration;
    float min_speech_duration;
    int32_t window_size;
    float max_speech_duration;
};

struct SherpaOnnxVadModelConfig {
    SherpaOnnxSileroVadModelConfig silero_vad;
    int32_t sample_rate;
    int32_t num_threads;
    const char* provider;
    int32_t debug;
    SherpaOnnxTenVadModelConfig ten_vad;
};

struct SherpaOnnxVoiceActivityDetector;

const SherpaOnnxVoiceActivityDetector* SherpaOnnxCreateVoiceActivityDetector(const SherpaOnnxVadModelConfig* config,
                                                                             float buffer_size_in_seconds);
void SherpaOnnxDestroyVoiceActivityDetector(const SherpaOnnxVoiceActivityDetector* detector);
void SherpaOnnxVoiceActivityDetectorAcceptWaveform(const SherpaOnnxVoiceActivityDetector* detector,
                                                   const float* samples, int32_t n);
int32_t SherpaOnnxVoiceActivityDetectorDetected(const SherpaOnnxVoiceActivityDetector* detector);
void SherpaOnnxVoiceActivityDetectorClear(const SherpaOnnxVoiceActivityDetector* detector);

// Punctuation for finished text. Offline: a CT-Transformer model (Chinese and English,
// full-width marks, no casing). Online: a CNN-BiLSTM model of English that also sets the
// case of each word, with the BPE vocabulary it splits words with. Each returns a text
// the caller frees with the matching FreeText.
struct SherpaOnnxOfflinePunctuationModelConfig {
    const char* ct_transformer;
    int32_t num_threads;
    int32_t debug;
    const char* provider;
};

struct SherpaOnnxOfflinePunctuationConfig {
    SherpaOnnxOfflinePunctuationModelConfig model;
};

struct SherpaOnnxOnlinePunctuationModelConfig {
    const char* cnn_bilstm;
    const char* bpe_vocab;
    int32_t num_threads;
    int32_t debug;
    const char* provider;
};

struct SherpaOnnxOnlinePunctuationConfig {
    SherpaOnnxOnlinePunctuationModelConfig model;
};

struct SherpaOnnxOfflinePunctuation;
struct SherpaOnnxOnlinePunctuation;

const SherpaOnnxOfflinePunctuation* SherpaOnnxCreateOfflinePunctuation(const SherpaOnnxOfflinePunctuationConfig* config);
void SherpaOnnxDestroyOfflinePunctuation(const SherpaOnnxOfflinePunctuation* punctuation);
const char* SherpaOfflinePunctuationAddPunct(const SherpaOnnxOfflinePunctuation* punctuation, const char* text);
void SherpaOfflinePunctuationFreeText(const char* text);

const SherpaOnnxOnlinePunctuation* SherpaOnnxCreateOnlinePunctuation(const SherpaOnnxOnlinePunctuationConfig* config);
void SherpaOnnxDestroyOnlinePunctuation(const SherpaOnnxOnlinePunctuation* punctuation);
const char* SherpaOnnxOnlinePunctuationAddPunct(const SherpaOnnxOnlinePunctuation* punctuation, const char* text);
void SherpaOnnxOnlinePunctuationFreeText(const char* text);

}  // extern "C"

static_assert(sizeof(void*) == 8, "declared for the 64-bit Linux build");
static_assert(sizeof(SherpaOnnxOnlineModelConfig) == 0x88);
static_assert(sizeof(SherpaOnnxOnlineRecognizerConfig) == 0x110);
static_assert(offsetof(SherpaOnnxOnlineRecognizerConfig, decoding_method) == 0x90);
static_assert(offsetof(SherpaOnnxOnlineRecognizerConfig, hotwords_buf) == 0xe8);
static_assert(sizeof(SherpaOnnxOnlineRecognizerResult) == 0x30);
static_assert(offsetof(SherpaOnnxOnlineRecognizerResult, count) == 0x20);
static_assert(offsetof(SherpaOnnxOnlineRecognizerResult, json) == 0x28);
static_assert(sizeof(SherpaOnnxSileroVadModelConfig) == 0x20);
static_assert(sizeof(SherpaOnnxTenVadModelConfig) == 0x20);
static_assert(offsetof(SherpaOnnxVadModelConfig, provider) == 0x28);
static_assert(offsetof(SherpaOnnxVadModelConfig, ten_vad) == 0x38);
static_assert(sizeof(SherpaOnnxVadModelConfig) == 0x58);
static_assert(offsetof(SherpaOnnxOfflinePunctuationModelConfig, num_threads) == 0x8);
static_assert(offsetof(SherpaOnnxOfflinePunctuationModelConfig, provider) == 0x10);
static_assert(sizeof(SherpaOnnxOfflinePunctuationConfig) == 0x18);
static_assert(offsetof(SherpaOnnxOnlinePunctuationModelConfig, num_threads) == 0x10);
static_assert(offsetof(SherpaOnnxOnlinePunctuationModelConfig, provider) == 0x18);
static_assert(sizeof(SherpaOnnxOnlinePunctuationConfig) == 0x20);
