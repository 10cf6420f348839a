// The recognizer the bare drivers load, with the settings harkline's sherpa-onnx decoder
// uses, so that they measure the same work. Prints why and returns null when it cannot.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxCApi.h"

// MODEL_DIR holds encoder.onnx, decoder.onnx, joiner.onnx and tokens.txt.
inline const SherpaOnnxOnlineRecognizer* createBareRecognizer(const std::string& dir) {
    std::string encoder = dir + "/encoder.onnx", decoder = dir + "/decoder.onnx", joiner = dir + "/joiner.onnx",
                tokens = dir + "/tokens.txt";
    SherpaOnnxOnlineRecognizerConfig config;
    std::memset(&config, 0, sizeof config);
    config.feat_config = {16000, 80};
    config.model_config.transducer = {encoder.c_str(), decoder.c_str(), joiner.c_str()};
    config.model_config.tokens = tokens.c_str();
    config.model_config.num_threads = 1;
    config.model_config.provider = "cpu";
    config.decoding_method = "greedy_search";
    config.enable_endpoint = 1;
    config.rule1_min_trailing_silence = 2.4f;
    config.rule2_min_trailing_silence = 0.8f;
    config.rule3_min_utterance_length = 30.0f;
    const auto* recognizer = SherpaOnnxCreateOnlineRecognizer(&config);
    if (recognizer == nullptr) std::fprintf(stderr, "cannot load the model\n");
    return recognizer;
}
