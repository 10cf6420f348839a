// The cost of harkline's punctuation formatter per final result, against the bare C call
// of the same engine on the same texts (baseline measured in the same run), and what it
// adds to the time from the end of speech to the final result.
// Usage: harkline-punctuation-bench MODEL_DIR SPELLED_RAW
//   MODEL_DIR: a model of scripts/speech-test-model made with --punctuation (its
//   descriptor names the recognition and the formatting files); SPELLED_RAW: 16 kHz s16le
//   mono audio of one utterance followed by a pause that ends it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli-frame/Json/Json.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxFormattingModel.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxLibrary.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxRecognizer.h"

namespace {

namespace fs = std::filesystem;
using harkline::SherpaOnnxFormattingModel;
using Clock = std::chrono::steady_clock;

constexpr int sampleRate = 16000;
constexpr std::size_t samplesPerRead = 2048;  // harkline's 4096-byte reads

// Finals as the engines write them, short and long, Chinese, English and mixed.
const std::vector<std::string> finals = {
    "你好世界",
    "HELLO WORLD",
    "我们说话THE VOICE INPUT IS READY",
    "GO FORWARD TEN METERS",
    "今天的会议我们讨论了THE QUARTERLY REPORT然后决定下周一再看一次I THINK WE SHOULD SEND IT TO THE TEAM BEFORE FRIDAY"
    "另外请把PDF版本发给我谢谢",
};

double milliseconds(Clock::duration elapsed) { return std::chrono::duration<double, std::milli>(elapsed).count(); }

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string readFile(const fs::path& path) {
    std::ifstream input(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(input), {}};
}

harkline::InstalledSpeechModel describedModel(const fs::path& directory) {
    for (const auto& entry : fs::directory_iterator(directory)) {
        if (entry.path().extension() != ".json") continue;
        auto descriptor = cli::Json::parse(readFile(entry.path()));
        return {{descriptor.at("locale").get<std::string>(), descriptor.at("engine").get<std::string>(),
                 descriptor.at("components").get<std::map<std::string, std::string>>(), {}},
                directory};
    }
    throw std::runtime_error("no descriptor in " + directory.string());
}

// The bare engine: the C interface's create, punctuate and free, nothing around them.
class BarePunctuation {
public:
    explicit BarePunctuation(const SherpaOnnxFormattingModel& model) : library_(harkline::SherpaOnnxLibrary::get()) {
        auto path = model.model.string();
        auto vocabulary = model.vocabulary ? model.vocabulary->string() : std::string();
        if (model.kind == SherpaOnnxFormattingModel::Kind::punctuation) {
            SherpaOnnxOfflinePunctuationConfig config{{path.c_str(), 1, 0, "cpu"}};
            offline_ = library_.createOfflinePunctuation(&config);
        } else {
            SherpaOnnxOnlinePunctuationConfig config{{path.c_str(), vocabulary.c_str(), 1, 0, "cpu"}};
            online_ = library_.createOnlinePunctuation(&config);
        }
        if (offline_ == nullptr && online_ == nullptr) throw std::runtime_error("the engine refused the model");
    }
    ~BarePunctuation() {
        if (offline_) library_.destroyOfflinePunctuation(offline_);
        if (online_) library_.destroyOnlinePunctuation(online_);
    }
    std::size_t punctuate(const std::string& text) const {
        const char* result = offline_ ? library_.offlinePunctuate(offline_, text.c_str())
                                      : library_.onlinePunctuate(online_, text.c_str());
        std::size_t size = std::strlen(result);
        offline_ ? library_.freeOfflinePunctuated(result) : library_.freeOnlinePunctuated(result);
        return size;
    }

private:
    const harkline::SherpaOnnxLibrary& library_;
    const SherpaOnnxOfflinePunctuation* offline_ = nullptr;
    const SherpaOnnxOnlinePunctuation* online_ = nullptr;
};

struct Endpoint {
    double delaySeconds = 0;  // from the end of speech to the final result, fed in real time
    std::string text;
    double partialsPerSecond = 0;
};

// Feeds the audio read by read, as harkline does, and times the final of the first
// endpoint: the audio after the last loud sample that had to arrive, plus the decoding.
Endpoint firstEndpoint(const harkline::InstalledSpeechModel& model, const std::string& audio) {
    harkline::SherpaOnnxRecognizer recognizer(harkline::SherpaOnnxStreamingModel::inspect(model), cli::Logger());
    const auto& library = recognizer.library();
    std::vector<float> samples(audio.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(static_cast<std::int16_t>(static_cast<unsigned char>(audio[2 * i]) |
                                                                  (static_cast<unsigned char>(audio[2 * i + 1]) << 8))) /
                     32768.0f;
    std::size_t speechEnd = 0, speechStart = samples.size();
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (std::fabs(samples[i]) > 0.02f) {
            speechEnd = i + 1;
            speechStart = std::min(speechStart, i);
        }
    const auto* stream = library.createOnlineStream(recognizer.handle());
    Endpoint endpoint;
    std::string partial;
    int partials = 0;
    for (std::size_t fed = 0; fed < samples.size();) {
        auto count = std::min(samplesPerRead, samples.size() - fed);
        auto started = Clock::now();
        library.acceptWaveform(stream, sampleRate, samples.data() + fed, static_cast<int32_t>(count));
        fed += count;
        while (library.isReady(recognizer.handle(), stream)) {
            library.decode(recognizer.handle(), stream);
            const auto* result = library.getResult(recognizer.handle(), stream);
            std::string text = result->text;
            library.destroyResult(result);
            if (library.isEndpoint(recognizer.handle(), stream) && !text.empty()) {
                endpoint.text = text;
                endpoint.delaySeconds = static_cast<double>(fed - speechEnd) / sampleRate +
                                        std::chrono::duration<double>(Clock::now() - started).count();
                endpoint.partialsPerSecond = partials * static_cast<double>(sampleRate) /
                                             static_cast<double>(speechEnd - speechStart);
                library.destroyOnlineStream(stream);
                return endpoint;
            }
            if (text != partial) {
                partial = text;
                ++partials;
            }
        }
    }
    library.destroyOnlineStream(stream);
    throw std::runtime_error("the audio ends before an endpoint");
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s MODEL_DIR SPELLED_RAW\n", argv[0]);
        return 2;
    }
    auto model = describedModel(argv[1]);
    auto formatting = SherpaOnnxFormattingModel::inspect(model);
    if (!formatting) throw std::runtime_error("the model names no formatting model");
    std::uintmax_t bytes = fs::file_size(formatting->model);

    std::vector<double> bareLoads, harklineLoads;
    for (int round = 0; round < 3; ++round) {
        auto started = Clock::now();
        { BarePunctuation bare(*formatting); }
        bareLoads.push_back(milliseconds(Clock::now() - started));
        started = Clock::now();
        { auto formatter = formatting->load(cli::Logger()); }
        harklineLoads.push_back(milliseconds(Clock::now() - started));
    }

    BarePunctuation bare(*formatting);
    auto formatter = formatting->load(cli::Logger());
    std::vector<double> bareCosts, harklineCosts;
    std::size_t sink = 0;
    for (int round = 0; round < 21; ++round) {
        auto started = Clock::now();
        for (const auto& text : finals) sink += bare.punctuate(text);
        auto bareDone = Clock::now();
        for (const auto& text : finals) sink += formatter->format(text).size();
        auto harklineDone = Clock::now();
        if (round == 0) continue;  // warm-up
        bareCosts.push_back(milliseconds(bareDone - started) / static_cast<double>(finals.size()));
        harklineCosts.push_back(milliseconds(harklineDone - bareDone) / static_cast<double>(finals.size()));
    }

    auto endpoint = firstEndpoint(model, readFile(argv[2]));
    std::vector<double> finalCosts;
    std::string typed;
    for (int round = 0; round < 11; ++round) {
        auto started = Clock::now();
        typed = formatter->format(endpoint.text);
        finalCosts.push_back(milliseconds(Clock::now() - started));
    }
    double added = median(finalCosts);
    double delay = endpoint.delaySeconds * 1000;

    if (sink == 0) std::puts("");  // keeps the work from being optimised away
    std::printf("formatting model %s, %.1f MB\n", formatting->model.filename().string().c_str(),
                static_cast<double>(bytes) / 1e6);
    std::printf("  load:            bare %7.1f ms   harkline %7.1f ms   ratio %.2f\n", median(bareLoads),
                median(harklineLoads), median(harklineLoads) / median(bareLoads));
    std::printf("  per final:       bare %7.3f ms   harkline %7.3f ms   ratio %.2f  (%zu texts, 20 rounds)\n",
                median(bareCosts), median(harklineCosts), median(harklineCosts) / median(bareCosts), finals.size());
    std::printf("  end of speech -> final %.0f ms; formatting \"%s\" -> \"%s\" adds %.3f ms (%.2f%% of the delay, "
                "target < 50 ms)\n",
                delay, endpoint.text.c_str(), typed.c_str(), added, 100 * added / (delay + added));
    std::printf("  partial results: %.1f per second of speech; formatting each would cost %.1f ms per second\n",
                endpoint.partialsPerSecond, endpoint.partialsPerSecond * median(harklineCosts));
    return 0;
} catch (const std::exception& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    return 1;
}
