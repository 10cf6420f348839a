// The bare sherpa-onnx engine over standard input: what harkline's sherpa-onnx engine
// does, with nothing around it. Reads 16 kHz s16le mono PCM in 4096-byte reads, decodes
// as it goes with the same endpoint rules, and prints "partial TEXT" / "final TEXT".
// Usage: sherpa_driver MODEL_DIR   (encoder.onnx, decoder.onnx, joiner.onnx, tokens.txt)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "bare_recognizer.h"

namespace {

std::string resultText(const SherpaOnnxOnlineRecognizer* recognizer, const SherpaOnnxOnlineStream* stream) {
    const auto* result = SherpaOnnxGetOnlineStreamResult(recognizer, stream);
    std::string text = result->text;
    SherpaOnnxDestroyOnlineRecognizerResult(result);
    auto start = text.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : text.substr(start);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODEL_DIR\n", argv[0]);
        return 2;
    }
    auto loadStart = std::chrono::steady_clock::now();
    const auto* recognizer = createBareRecognizer(argv[1]);
    if (recognizer == nullptr) return 1;
    const auto* stream = SherpaOnnxCreateOnlineStream(recognizer);
    auto loaded = std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();
    std::fprintf(stderr, "load %.4f\n", loaded);

    std::vector<char> bytes(4096);
    std::vector<float> samples;
    std::string partial;
    std::size_t carry = 0;
    auto emitReady = [&] {
        while (SherpaOnnxIsOnlineStreamReady(recognizer, stream)) {
            SherpaOnnxDecodeOnlineStream(recognizer, stream);
            auto text = resultText(recognizer, stream);
            if (SherpaOnnxOnlineStreamIsEndpoint(recognizer, stream)) {
                if (!text.empty()) std::printf("final %s\n", text.c_str());
                SherpaOnnxOnlineStreamReset(recognizer, stream);
                partial.clear();
            } else if (text != partial) {
                partial = text;
                std::printf("partial %s\n", text.c_str());
            }
        }
    };
    for (;;) {
        ssize_t count = ::read(0, bytes.data() + carry, bytes.size() - carry);
        if (count <= 0) break;
        std::size_t total = carry + static_cast<std::size_t>(count);
        samples.clear();
        for (std::size_t i = 0; i + 1 < total; i += 2) {
            std::int16_t sample = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i]) |
                                                            (static_cast<unsigned char>(bytes[i + 1]) << 8));
            samples.push_back(static_cast<float>(sample) / 32768.0f);
        }
        carry = total % 2;
        if (carry) bytes[0] = bytes[total - 1];
        SherpaOnnxOnlineStreamAcceptWaveform(stream, 16000, samples.data(), static_cast<int32_t>(samples.size()));
        emitReady();
        std::fflush(stdout);
    }
    std::vector<float> padding(16000 * 6 / 10, 0.0f);
    SherpaOnnxOnlineStreamAcceptWaveform(stream, 16000, padding.data(), static_cast<int32_t>(padding.size()));
    SherpaOnnxOnlineStreamInputFinished(stream);
    emitReady();
    auto text = resultText(recognizer, stream);
    if (!text.empty() || !partial.empty()) std::printf("final %s\n", text.c_str());
    std::fflush(stdout);
    SherpaOnnxDestroyOnlineStream(stream);
    SherpaOnnxDestroyOnlineRecognizer(recognizer);
    return 0;
}
