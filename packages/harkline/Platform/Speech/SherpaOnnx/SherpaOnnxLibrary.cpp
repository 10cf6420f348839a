#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxLibrary.h"

#include <string>

#include "harkline/Platform/Linux/SharedLibrary.h"

namespace harkline {
namespace {

// Sanitizer runtimes call dlopen on our behalf from their own library, whose run path is
// not ours: those builds also know the folder by name.
#ifdef HARKLINE_SHERPA_ONNX_DIR
constexpr const char* alsoAt = HARKLINE_SHERPA_ONNX_DIR "/libsherpa-onnx-c-api.so";
#else
constexpr const char* alsoAt = nullptr;
#endif

SherpaOnnxLibrary load() {
    static const SharedLibrary library("libsherpa-onnx-c-api.so", "the sherpa-onnx engine installed with harkline", alsoAt);
    SherpaOnnxLibrary functions{};
    library.bind(functions.getVersionStr, "SherpaOnnxGetVersionStr");
    library.bind(functions.createOnlineRecognizer, "SherpaOnnxCreateOnlineRecognizer");
    library.bind(functions.destroyOnlineRecognizer, "SherpaOnnxDestroyOnlineRecognizer");
    library.bind(functions.createOnlineStream, "SherpaOnnxCreateOnlineStream");
    library.bind(functions.createOnlineStreamWithHotwords, "SherpaOnnxCreateOnlineStreamWithHotwords");
    library.bind(functions.destroyOnlineStream, "SherpaOnnxDestroyOnlineStream");
    library.bind(functions.acceptWaveform, "SherpaOnnxOnlineStreamAcceptWaveform");
    library.bind(functions.inputFinished, "SherpaOnnxOnlineStreamInputFinished");
    library.bind(functions.isReady, "SherpaOnnxIsOnlineStreamReady");
    library.bind(functions.decode, "SherpaOnnxDecodeOnlineStream");
    library.bind(functions.isEndpoint, "SherpaOnnxOnlineStreamIsEndpoint");
    library.bind(functions.reset, "SherpaOnnxOnlineStreamReset");
    library.bind(functions.getResult, "SherpaOnnxGetOnlineStreamResult");
    library.bind(functions.destroyResult, "SherpaOnnxDestroyOnlineRecognizerResult");
    library.bind(functions.createVoiceActivityDetector, "SherpaOnnxCreateVoiceActivityDetector");
    library.bind(functions.destroyVoiceActivityDetector, "SherpaOnnxDestroyVoiceActivityDetector");
    library.bind(functions.detectorAcceptWaveform, "SherpaOnnxVoiceActivityDetectorAcceptWaveform");
    library.bind(functions.detectorHearsSpeech, "SherpaOnnxVoiceActivityDetectorDetected");
    library.bind(functions.detectorClearSegments, "SherpaOnnxVoiceActivityDetectorClear");
    library.bind(functions.createOfflinePunctuation, "SherpaOnnxCreateOfflinePunctuation");
    library.bind(functions.destroyOfflinePunctuation, "SherpaOnnxDestroyOfflinePunctuation");
    library.bind(functions.offlinePunctuate, "SherpaOfflinePunctuationAddPunct");
    library.bind(functions.freeOfflinePunctuated, "SherpaOfflinePunctuationFreeText");
    library.bind(functions.createOnlinePunctuation, "SherpaOnnxCreateOnlinePunctuation");
    library.bind(functions.destroyOnlinePunctuation, "SherpaOnnxDestroyOnlinePunctuation");
    library.bind(functions.onlinePunctuate, "SherpaOnnxOnlinePunctuationAddPunct");
    library.bind(functions.freeOnlinePunctuated, "SherpaOnnxOnlinePunctuationFreeText");

    const char* version = functions.getVersionStr();
    std::string found = version != nullptr ? version : "";
    if (found != sherpaOnnxPinnedVersion)
        library.refuse("version " + found + " is installed; harkline is built for " + sherpaOnnxPinnedVersion);
    return functions;
}

}  // namespace

const SherpaOnnxLibrary& SherpaOnnxLibrary::get() {
    // A load that failed is tried again on the next call (a static whose initialisation
    // threw is initialised again).
    static const SherpaOnnxLibrary functions = load();
    return functions;
}

}  // namespace harkline
