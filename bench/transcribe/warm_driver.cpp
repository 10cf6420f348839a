// The physical limit of a warm dictation: the bare sherpa-onnx C interface with the model
// loaded once, before any dictation. Each dictation is a new stream fed the audio file in
// 4096-byte reads as harkline reads it; prints the seconds from the stream's creation to
// its first partial result, one line per dictation.
// Usage: warm_driver MODEL_DIR AUDIO DICTATIONS   (encoder.onnx, decoder.onnx, joiner.onnx, tokens.txt)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bare_recognizer.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s MODEL_DIR AUDIO DICTATIONS\n", argv[0]);
        return 2;
    }
    std::ifstream file(argv[2], std::ios::binary);
    std::vector<char> audio((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto* recognizer = createBareRecognizer(argv[1]);
    if (recognizer == nullptr) return 1;
    for (int dictation = 0; dictation < std::atoi(argv[3]); ++dictation) {
        auto start = std::chrono::steady_clock::now();
        const auto* stream = SherpaOnnxCreateOnlineStream(recognizer);
        std::vector<float> samples;
        double first = -1;
        for (std::size_t offset = 0; offset + 1 < audio.size() && first < 0; offset += 4096) {
            samples.clear();
            for (std::size_t i = offset; i + 1 < audio.size() && i < offset + 4096; i += 2) {
                auto sample = static_cast<std::int16_t>(static_cast<unsigned char>(audio[i]) |
                                                        (static_cast<unsigned char>(audio[i + 1]) << 8));
                samples.push_back(static_cast<float>(sample) / 32768.0f);
            }
            SherpaOnnxOnlineStreamAcceptWaveform(stream, 16000, samples.data(), static_cast<int32_t>(samples.size()));
            while (first < 0 && SherpaOnnxIsOnlineStreamReady(recognizer, stream)) {
                SherpaOnnxDecodeOnlineStream(recognizer, stream);
                const auto* result = SherpaOnnxGetOnlineStreamResult(recognizer, stream);
                if (result->text != nullptr && result->text[0] != '\0')
                    first = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
                SherpaOnnxDestroyOnlineRecognizerResult(result);
            }
        }
        std::printf("%.6f\n", first);
        SherpaOnnxDestroyOnlineStream(stream);
    }
    SherpaOnnxDestroyOnlineRecognizer(recognizer);
    return 0;
}
