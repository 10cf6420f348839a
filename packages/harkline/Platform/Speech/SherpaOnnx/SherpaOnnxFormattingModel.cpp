#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxFormattingModel.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "harkline/Platform/Speech/SherpaOnnx/OnnxModelMetadata.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxPunctuationFormatter.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;
using Metadata = std::map<std::string, std::string>;

const std::string& metadataValue(const Metadata& metadata, const std::string& key, const std::string& file) {
    auto found = metadata.find(key);
    if (found == metadata.end()) throw std::runtime_error(file + " lacks the metadata \"" + key + "\"");
    return found->second;
}

int metadataNumber(const Metadata& metadata, const std::string& key, const std::string& file) {
    const auto& text = metadataValue(metadata, key, file);
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        throw std::runtime_error(file + " metadata \"" + key + "\" is not a number: " + text);
    return value;
}

// The engine splits these lists at "|", keeping empty items.
std::vector<std::string> splitAtBars(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (auto bar = text.find('|'); bar != std::string::npos; bar = text.find('|', start)) {
        items.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }
    items.push_back(text.substr(start));
    return items;
}

// The engine feeds every input with int32 tensors; another type ends in an exception
// that the offline interface does not catch.
void requireInputs(const OnnxModelSummary& summary, std::size_t count, const std::string& file) {
    if (summary.inputs.size() != count)
        throw std::runtime_error(file + " takes " + std::to_string(summary.inputs.size()) + " inputs, not the " +
                                 std::to_string(count) + " of a punctuation model");
    for (const auto& input : summary.inputs)
        if (input.elementType != OnnxTensorInfo::int32)
            throw std::runtime_error(file + " input \"" + input.name + "\" is not of int32 token ids");
}

// The engine reads the number of classes from the output's last dimension.
std::int64_t classCount(const OnnxTensorInfo& output, std::size_t rank, const std::string& file) {
    if (output.elementType != OnnxTensorInfo::float32 || output.dimensions.size() != rank ||
        !output.dimensions.back() || *output.dimensions.back() <= 0)
        throw std::runtime_error(file + " output \"" + output.name + "\" is not float scores of " +
                                 std::to_string(rank) + " dimensions with a fixed number of classes");
    return *output.dimensions.back();
}

void checkCtTransformer(const fs::path& path) {
    auto file = path.filename().string();
    auto summary = readOnnxModelSummary(path);
    auto tokens = splitAtBars(metadataValue(summary.metadata, "tokens", file));
    auto vocabularySize = metadataNumber(summary.metadata, "vocab_size", file);
    if (vocabularySize <= 0 || tokens.size() != static_cast<std::size_t>(vocabularySize))
        throw std::runtime_error(file + " lists " + std::to_string(tokens.size()) + " tokens for a vocab_size of " +
                                 std::to_string(vocabularySize));
    auto marks = splitAtBars(metadataValue(summary.metadata, "punctuations", file));
    for (const char* mark : {"_", "，", "。", "？", "、"})
        if (std::find(marks.begin(), marks.end(), mark) == marks.end())
            throw std::runtime_error(file + " metadata \"punctuations\" lacks \"" + mark + "\"");
    const auto& unknown = metadataValue(summary.metadata, "unk_symbol", file);
    if (std::find(tokens.begin(), tokens.end(), unknown) == tokens.end())
        throw std::runtime_error(file + " metadata \"unk_symbol\" names no token: " + unknown);
    requireInputs(summary, 2, file);
    if (summary.outputs.empty()) throw std::runtime_error(file + " has no output");
    if (classCount(summary.outputs.front(), 3, file) != static_cast<std::int64_t>(marks.size()))
        throw std::runtime_error(file + " scores a different number of marks than its \"punctuations\" lists");
}

void checkCnnBiLstm(const fs::path& path) {
    auto file = path.filename().string();
    auto summary = readOnnxModelSummary(path);
    // The engine writes ", . ?" and the cases for these classes whatever the model says.
    const std::pair<const char*, int> classes[] = {{"COMMA", 1}, {"PERIOD", 2}, {"QUESTION", 3},
                                                   {"UPPER", 1}, {"CAP", 2},    {"MIX_CASE", 3}};
    for (const auto& [key, expected] : classes)
        if (metadataNumber(summary.metadata, key, file) != expected)
            throw std::runtime_error(file + " metadata \"" + key + "\" is not " + std::to_string(expected));
    requireInputs(summary, 3, file);
    if (summary.outputs.size() < 2) throw std::runtime_error(file + " lacks its case and punctuation outputs");
    classCount(summary.outputs[0], 2, file);
    classCount(summary.outputs[1], 2, file);
}

// "piece score" a line (sentencepiece's .vocab); the engine ends the process on any other
// line, and takes ids 1 and 2 for the sentence's start and end.
void checkBpeVocabulary(const fs::path& path) {
    auto file = path.filename().string();
    std::ifstream input(path, std::ios::binary);
    if (!input) throw std::runtime_error("cannot open " + file);
    std::vector<std::string> pieces;
    std::string line;
    while (std::getline(input, line)) {
        std::istringstream fields(line);
        std::string piece;
        float score = 0;
        if (!(fields >> piece >> score))
            throw std::runtime_error(file + " line " + std::to_string(pieces.size() + 1) + " is not \"piece score\"");
        pieces.push_back(piece);
    }
    if (pieces.size() < 3 || pieces[1] != "<s>" || pieces[2] != "</s>")
        throw std::runtime_error(file + " does not start with <unk>, <s>, </s>");
    if (std::find(pieces.begin(), pieces.end(), "<unk>") == pieces.end())
        throw std::runtime_error(file + " has no <unk> piece");
}

fs::path existingComponent(const InstalledSpeechModel& model, const std::string& role) {
    auto path = model.component(role);
    if (!path) throw std::runtime_error("the model names no \"" + std::string(role) + "\" file");
    std::error_code error;
    if (!fs::is_regular_file(*path, error))
        throw std::runtime_error("the \"" + role + "\" file " + path->filename().string() + " is missing");
    return *path;
}

}  // namespace

std::optional<SherpaOnnxFormattingModel> SherpaOnnxFormattingModel::inspect(const InstalledSpeechModel& model) {
    const auto& components = model.manifest.components;
    bool punctuation = components.contains(punctuationRole);
    bool cased = components.contains(punctuationAndCaseRole) || components.contains(punctuationVocabRole);
    if (!punctuation && !cased) return std::nullopt;
    if (punctuation && cased)
        throw std::runtime_error(std::string("the model names two formatting models (\"") + punctuationRole +
                                 "\" and \"" + punctuationAndCaseRole + "\")");
    if (punctuation) {
        SherpaOnnxFormattingModel result{.kind = Kind::punctuation, .model = existingComponent(model, punctuationRole)};
        checkCtTransformer(result.model);
        return result;
    }
    SherpaOnnxFormattingModel result{.kind = Kind::punctuationAndCase,
                                     .model = existingComponent(model, punctuationAndCaseRole),
                                     .vocabulary = existingComponent(model, punctuationVocabRole)};
    checkCnnBiLstm(result.model);
    checkBpeVocabulary(*result.vocabulary);
    return result;
}

std::unique_ptr<TextFormatter> SherpaOnnxFormattingModel::load(const cli::Logger& logger,
                                                               EngineOutput engineOutput) const {
    return std::make_unique<SherpaOnnxPunctuationFormatter>(*this, logger, engineOutput);
}

}  // namespace harkline
