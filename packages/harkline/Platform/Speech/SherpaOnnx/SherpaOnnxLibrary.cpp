#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxLibrary.h"

#include <mutex>
#include <stdexcept>
#include <string>

#include <dlfcn.h>

namespace harkline {
namespace {

constexpr const char* libraryName = "libsherpa-onnx-c-api.so";

template <typename Function>
void bind(void* library, Function& function, const char* name) {
    void* symbol = ::dlsym(library, name);
    if (symbol == nullptr) throw std::runtime_error(std::string(libraryName) + " lacks " + name);
    function = reinterpret_cast<Function>(symbol);
}

SherpaOnnxLibrary load() {
    // Never closed: the engine's threads and static objects live as long as the process.
    void* library = ::dlopen(libraryName, RTLD_NOW | RTLD_LOCAL);
    const char* reason = library == nullptr ? ::dlerror() : nullptr;
    std::string failure = reason != nullptr ? reason : libraryName;
#ifdef HARKLINE_SHERPA_ONNX_DIR
    // Sanitizer runtimes call dlopen on our behalf from their own library, whose run path
    // is not ours: those builds also know the folder by name.
    if (library == nullptr) library = ::dlopen(HARKLINE_SHERPA_ONNX_DIR "/libsherpa-onnx-c-api.so", RTLD_NOW | RTLD_LOCAL);
#endif
    if (library == nullptr) throw std::runtime_error("the sherpa-onnx engine cannot be loaded: " + failure);
    SherpaOnnxLibrary functions{};
    bind(library, functions.getVersionStr, "SherpaOnnxGetVersionStr");
    bind(library, functions.createOnlineRecognizer, "SherpaOnnxCreateOnlineRecognizer");
    bind(library, functions.destroyOnlineRecognizer, "SherpaOnnxDestroyOnlineRecognizer");
    bind(library, functions.createOnlineStream, "SherpaOnnxCreateOnlineStream");
    bind(library, functions.createOnlineStreamWithHotwords, "SherpaOnnxCreateOnlineStreamWithHotwords");
    bind(library, functions.destroyOnlineStream, "SherpaOnnxDestroyOnlineStream");
    bind(library, functions.acceptWaveform, "SherpaOnnxOnlineStreamAcceptWaveform");
    bind(library, functions.inputFinished, "SherpaOnnxOnlineStreamInputFinished");
    bind(library, functions.isReady, "SherpaOnnxIsOnlineStreamReady");
    bind(library, functions.decode, "SherpaOnnxDecodeOnlineStream");
    bind(library, functions.isEndpoint, "SherpaOnnxOnlineStreamIsEndpoint");
    bind(library, functions.reset, "SherpaOnnxOnlineStreamReset");
    bind(library, functions.getResult, "SherpaOnnxGetOnlineStreamResult");
    bind(library, functions.destroyResult, "SherpaOnnxDestroyOnlineRecognizerResult");
    bind(library, functions.createVoiceActivityDetector, "SherpaOnnxCreateVoiceActivityDetector");
    bind(library, functions.destroyVoiceActivityDetector, "SherpaOnnxDestroyVoiceActivityDetector");
    bind(library, functions.detectorAcceptWaveform, "SherpaOnnxVoiceActivityDetectorAcceptWaveform");
    bind(library, functions.detectorHearsSpeech, "SherpaOnnxVoiceActivityDetectorDetected");
    bind(library, functions.detectorClearSegments, "SherpaOnnxVoiceActivityDetectorClear");

    const char* version = functions.getVersionStr();
    std::string found = version != nullptr ? version : "";
    if (found != sherpaOnnxPinnedVersion)
        throw std::runtime_error("sherpa-onnx " + found + " is installed; harkline is built for " + sherpaOnnxPinnedVersion);
    return functions;
}

}  // namespace

const SherpaOnnxLibrary& SherpaOnnxLibrary::get() {
    // A failed load is retried on the next call (call_once runs again after a throw).
    static std::once_flag once;
    static SherpaOnnxLibrary functions;
    std::call_once(once, [] { functions = load(); });
    return functions;
}

}  // namespace harkline
