#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxPunctuationFormatter.h"

#include <array>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxLibrary.h"
#include "harkline/Platform/Speech/SherpaOnnx/StandardErrorCapture.h"
#include "harkline/Transcription/CasingAndSpacingFormatter.h"

namespace harkline {
namespace {

// Full-width marks and what a typist writes for them in an English sentence.
constexpr std::array<std::pair<std::string_view, char>, 6> fullWidthMarks{{
    {"，", ','}, {"。", '.'}, {"？", '?'}, {"！", '!'}, {"、", ','}, {"；", ';'}}};
constexpr std::array<std::string_view, 3> fullWidthSentenceEnds{"。", "？", "！"};

bool isAsciiSentenceEnd(char c) { return c == '.' || c == '?' || c == '!'; }
bool isAsciiMark(char c) { return isAsciiSentenceEnd(c) || c == ',' || c == ';'; }
bool isAsciiLower(char c) { return c >= 'a' && c <= 'z'; }
bool isAsciiUpper(char c) { return c >= 'A' && c <= 'Z'; }

// Where the sentence starting at `start` ends: just after its closing mark, or at the end.
// A full stop counts only before a space or the end ("3.5" goes on).
std::size_t sentenceEnd(std::string_view text, std::size_t start) {
    for (std::size_t at = start; at < text.size(); ++at) {
        if (isAsciiSentenceEnd(text[at]) && (at + 1 == text.size() || text[at + 1] == ' ')) return at + 1;
        for (auto mark : fullWidthSentenceEnds)
            if (text.substr(at, mark.size()) == mark) return at + mark.size();
    }
    return text.size();
}

// Appends a sentence with ASCII marks, each followed by a space where a word follows.
void appendWithAsciiMarks(std::string& typed, std::string_view sentence) {
    for (std::size_t at = 0; at < sentence.size();) {
        std::optional<char> replaced;
        for (const auto& [mark, ascii] : fullWidthMarks)
            if (sentence.substr(at, mark.size()) == mark) {
                replaced = ascii;
                at += mark.size();
                break;
            }
        if (!replaced) {
            typed.push_back(sentence[at++]);
            continue;
        }
        typed.push_back(*replaced);
        if (at < sentence.size() && sentence[at] != ' ') typed.push_back(' ');
    }
}

// A sentence with no CJK characters is English and takes ASCII marks; CJK sentences keep
// the model's full-width ones. Sentences written with ASCII marks are set apart by a space.
std::string typedPunctuation(std::string_view text) {
    std::string typed;
    typed.reserve(text.size() + 8);
    for (std::size_t start = 0; start < text.size();) {
        auto end = sentenceEnd(text, start);
        auto sentence = text.substr(start, end - start);
        if (!typed.empty() && isAsciiMark(typed.back()) && sentence.front() != ' ') typed.push_back(' ');
        if (CasingAndSpacingFormatter::containsCjk(sentence)) typed.append(sentence);
        else appendWithAsciiMarks(typed, sentence);
        start = end;
    }
    return typed;
}

// A sentence that starts with an English word in lower case starts with a capital; a word
// with capitals of its own ("iPhone") is left as it is.
void capitaliseSentenceStarts(std::string& text) {
    bool atStart = true;
    for (std::size_t at = 0; at < text.size(); ++at) {
        char c = text[at];
        if (atStart && c != ' ') {
            std::size_t wordEnd = at;
            while (wordEnd < text.size() && (isAsciiLower(text[wordEnd]) || isAsciiUpper(text[wordEnd]))) ++wordEnd;
            bool lowerWord = wordEnd > at;
            for (std::size_t letter = at; letter < wordEnd; ++letter) lowerWord = lowerWord && isAsciiLower(text[letter]);
            if (lowerWord) text[at] = static_cast<char>(c - 'a' + 'A');
            atStart = false;
        }
        if (isAsciiSentenceEnd(c)) atStart = true;
        for (auto mark : fullWidthSentenceEnds)
            if (std::string_view(text).substr(at, mark.size()) == mark) {
                atStart = true;
                at += mark.size() - 1;
                break;
            }
    }
}

bool hasWords(std::string_view text) { return text.find_first_not_of(" \t\r\n") != std::string_view::npos; }

// The engine says why it refused a model only on standard error.
std::string engineWords(const std::vector<std::string>& lines) {
    std::string said;
    for (const auto& line : lines) said += (said.empty() ? "" : "; ") + line;
    return said;
}

}  // namespace

SherpaOnnxPunctuationFormatter::SherpaOnnxPunctuationFormatter(const SherpaOnnxFormattingModel& model,
                                                               const cli::Logger& logger, EngineOutput engineOutput)
    : library_(SherpaOnnxLibrary::get()) {
    auto modelPath = model.model.string();
    auto vocabularyPath = model.vocabulary ? model.vocabulary->string() : std::string();
    std::optional<StandardErrorCapture> capture;
    if (engineOutput == EngineOutput::toLog) capture.emplace();
    auto captured = [&] { return capture ? engineWords(capture->finish()) : std::string(); };
    try {
        if (model.kind == SherpaOnnxFormattingModel::Kind::punctuation) {
            SherpaOnnxOfflinePunctuationConfig config;
            std::memset(&config, 0, sizeof config);
            config.model = {modelPath.c_str(), 1, 0, "cpu"};
            offline_ = library_.createOfflinePunctuation(&config);
        } else {
            SherpaOnnxOnlinePunctuationConfig config;
            std::memset(&config, 0, sizeof config);
            config.model = {modelPath.c_str(), vocabularyPath.c_str(), 1, 0, "cpu"};
            online_ = library_.createOnlinePunctuation(&config);
        }
    } catch (const std::exception& failure) {
        // A model onnxruntime cannot read throws through the offline interface.
        auto said = captured();
        throw std::runtime_error("sherpa-onnx could not load the punctuation model " + model.model.filename().string() +
                                 ": " + failure.what() + (said.empty() ? "" : " (" + said + ")"));
    }
    auto said = captured();
    if (offline_ == nullptr && online_ == nullptr)
        throw std::runtime_error("sherpa-onnx could not load the punctuation model " + model.model.filename().string() +
                                 (said.empty() ? "" : ": " + said));
    if (!said.empty()) logger.info("sherpa-onnx: " + said);
}

SherpaOnnxPunctuationFormatter::~SherpaOnnxPunctuationFormatter() {
    if (offline_ != nullptr) library_.destroyOfflinePunctuation(offline_);
    if (online_ != nullptr) library_.destroyOnlinePunctuation(online_);
}

std::string SherpaOnnxPunctuationFormatter::punctuate(const std::string& text) const {
    std::lock_guard lock(mutex_);
    const char* punctuated = offline_ != nullptr ? library_.offlinePunctuate(offline_, text.c_str())
                                                 : library_.onlinePunctuate(online_, text.c_str());
    if (punctuated == nullptr) return text;
    std::string result = punctuated;
    if (offline_ != nullptr) library_.freeOfflinePunctuated(punctuated);
    else library_.freeOnlinePunctuated(punctuated);
    return result;
}

std::string SherpaOnnxPunctuationFormatter::format(std::string text) const {
    bool cased = CasingAndSpacingFormatter::mixesCases(text);
    text = CasingAndSpacingFormatter::withoutAllCapitals(std::move(text));
    if (hasWords(text)) text = typedPunctuation(punctuate(text));
    capitaliseSentenceStarts(text);
    auto formatted = CasingAndSpacingFormatter::spacedBetweenScripts(text);
    if (!cased) CasingAndSpacingFormatter::capitalisePronoun(formatted);
    return formatted;
}

}  // namespace harkline
