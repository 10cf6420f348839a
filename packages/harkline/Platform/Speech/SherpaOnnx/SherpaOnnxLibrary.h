#pragma once

#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxCApi.h"

namespace harkline {

// sherpa-onnx's C functions, loaded from libsherpa-onnx-c-api.so the first time a model
// needs them: the library and its onnxruntime are tens of megabytes, and every harkline
// command that never transcribes with them would otherwise pay for loading them at start.
// The library is found through the program's run path (the folder install-deps fills).
struct SherpaOnnxLibrary {
    decltype(&SherpaOnnxGetVersionStr) getVersionStr;
    decltype(&SherpaOnnxCreateOnlineRecognizer) createOnlineRecognizer;
    decltype(&SherpaOnnxDestroyOnlineRecognizer) destroyOnlineRecognizer;
    decltype(&SherpaOnnxCreateOnlineStream) createOnlineStream;
    decltype(&SherpaOnnxCreateOnlineStreamWithHotwords) createOnlineStreamWithHotwords;
    decltype(&SherpaOnnxDestroyOnlineStream) destroyOnlineStream;
    decltype(&SherpaOnnxOnlineStreamAcceptWaveform) acceptWaveform;
    decltype(&SherpaOnnxOnlineStreamInputFinished) inputFinished;
    decltype(&SherpaOnnxIsOnlineStreamReady) isReady;
    decltype(&SherpaOnnxDecodeOnlineStream) decode;
    decltype(&SherpaOnnxOnlineStreamIsEndpoint) isEndpoint;
    decltype(&SherpaOnnxOnlineStreamReset) reset;
    decltype(&SherpaOnnxGetOnlineStreamResult) getResult;
    decltype(&SherpaOnnxDestroyOnlineRecognizerResult) destroyResult;
    decltype(&SherpaOnnxCreateVoiceActivityDetector) createVoiceActivityDetector;
    decltype(&SherpaOnnxDestroyVoiceActivityDetector) destroyVoiceActivityDetector;
    decltype(&SherpaOnnxVoiceActivityDetectorAcceptWaveform) detectorAcceptWaveform;
    decltype(&SherpaOnnxVoiceActivityDetectorDetected) detectorHearsSpeech;
    decltype(&SherpaOnnxVoiceActivityDetectorClear) detectorClearSegments;
    decltype(&SherpaOnnxCreateOfflinePunctuation) createOfflinePunctuation;
    decltype(&SherpaOnnxDestroyOfflinePunctuation) destroyOfflinePunctuation;
    decltype(&SherpaOfflinePunctuationAddPunct) offlinePunctuate;
    decltype(&SherpaOfflinePunctuationFreeText) freeOfflinePunctuated;
    decltype(&SherpaOnnxCreateOnlinePunctuation) createOnlinePunctuation;
    decltype(&SherpaOnnxDestroyOnlinePunctuation) destroyOnlinePunctuation;
    decltype(&SherpaOnnxOnlinePunctuationAddPunct) onlinePunctuate;
    decltype(&SherpaOnnxOnlinePunctuationFreeText) freeOnlinePunctuated;

    // Loads the library once and checks that it is the release our declarations are
    // written for; throws std::runtime_error saying what is missing or different.
    static const SherpaOnnxLibrary& get();
};

}  // namespace harkline
