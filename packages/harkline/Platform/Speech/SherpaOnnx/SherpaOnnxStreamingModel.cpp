#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxStreamingModel.h"

#include <charconv>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "harkline/Platform/Speech/SherpaOnnx/OnnxModelMetadata.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;

// Encoder metadata the engine reads for each streaming encoder kind it has.
const std::map<std::string, std::vector<std::string>>& encoderKeys() {
    static const std::map<std::string, std::vector<std::string>> keys{
        {"zipformer2",
         {"encoder_dims", "query_head_dims", "value_head_dims", "num_heads", "num_encoder_layers",
          "cnn_module_kernels", "left_context_len", "T", "decode_chunk_len"}},
        {"zipformer",
         {"encoder_dims", "attention_dims", "num_encoder_layers", "cnn_module_kernels", "left_context_len", "T",
          "decode_chunk_len"}},
    };
    return keys;
}

int positiveNumber(const std::map<std::string, std::string>& metadata, const std::string& key,
                   const std::string& file) {
    const auto& text = metadata.at(key);
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value <= 0)
        throw std::runtime_error(file + " metadata \"" + key + "\" is not a positive number: " + text);
    return value;
}

void requireKeys(const std::map<std::string, std::string>& metadata, const std::vector<std::string>& keys,
                 const std::string& file) {
    for (const auto& key : keys)
        if (!metadata.contains(key)) throw std::runtime_error(file + " lacks the metadata \"" + key + "\"");
}

// "symbol id" per line; a line with only an id is the space symbol.
void checkTokens(const fs::path& file, int vocabularySize) {
    std::ifstream input(file, std::ios::binary);
    if (!input) throw std::runtime_error("cannot open " + file.filename().string());
    std::set<long> ids;
    bool hasBlank = false;
    std::string line;
    while (std::getline(input, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        auto split = line.find_last_of(" \t");
        std::string symbol = split == std::string::npos ? " " : line.substr(0, split);
        std::string idText = split == std::string::npos ? line : line.substr(split + 1);
        long id = -1;
        auto [end, error] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
        if (error != std::errc() || end != idText.data() + idText.size() || id < 0)
            throw std::runtime_error(file.filename().string() + " has a line without a token id: " + line);
        ids.insert(id);
        if (symbol == "<blk>" || symbol == "<blank>" || symbol == "<eps>") hasBlank = true;
    }
    if (!hasBlank) throw std::runtime_error(file.filename().string() + " names no blank token (<blk>)");
    for (long id = 0; id < vocabularySize; ++id)
        if (!ids.contains(id))
            throw std::runtime_error(file.filename().string() + " lacks token id " + std::to_string(id) +
                                     " of the model's " + std::to_string(vocabularySize));
}

fs::path requiredComponent(const InstalledSpeechModel& model, const std::string& role) {
    auto path = model.component(role);
    if (!path) throw std::runtime_error("the model names no \"" + role + "\" file");
    return *path;
}

// The encoder's kind and the keys of that kind; returns the chunk size ("T").
int checkEncoderMetadata(const std::map<std::string, std::string>& metadata, const std::string& name,
                         const std::string& defaultType) {
    auto type = metadata.find("model_type");
    const auto& kind = type != metadata.end() ? type->second : defaultType;
    if (kind.empty()) throw std::runtime_error(name + " lacks the metadata \"model_type\"");
    auto keys = encoderKeys().find(kind);
    if (keys == encoderKeys().end())
        throw std::runtime_error(name + " is a \"" + kind + "\" encoder, not a streaming zipformer");
    requireKeys(metadata, keys->second, name);
    return positiveNumber(metadata, "T", name);
}

}  // namespace

SherpaOnnxStreamingModel SherpaOnnxStreamingModel::inspect(const InstalledSpeechModel& model) {
    SherpaOnnxStreamingModel result{
        .tokens = requiredComponent(model, "tokens"),
        .hotwords = model.component("hotwords"),
        .bpeVocab = model.component("bpeVocab"),
    };
    if (model.manifest.engine == ctcEngine) {
        result.ctcModel = requiredComponent(model, "model");
        if (result.hotwords) throw std::runtime_error("hotwords need a transducer; this is a CTC model");
        auto name = result.ctcModel->filename().string();
        auto summary = readOnnxModelSummary(*result.ctcModel);
        // The engine knows a zipformer2 CTC model by its role, not by a "model_type".
        result.chunkFrames = checkEncoderMetadata(summary.metadata, name, "zipformer2");
        if (!summary.outputLastDimension || *summary.outputLastDimension <= 0)
            throw std::runtime_error(name + " does not fix its vocabulary size in its output's shape");
        checkTokens(result.tokens, static_cast<int>(*summary.outputLastDimension));
        return result;
    }

    result.transducer = Transducer{requiredComponent(model, "encoder"), requiredComponent(model, "decoder"),
                                   requiredComponent(model, "joiner")};
    auto encoderName = result.transducer->encoder.filename().string();
    result.chunkFrames = checkEncoderMetadata(readOnnxModelSummary(result.transducer->encoder).metadata, encoderName, "");
    auto decoderName = result.transducer->decoder.filename().string();
    auto decoder = readOnnxModelSummary(result.transducer->decoder).metadata;
    requireKeys(decoder, {"vocab_size", "context_size"}, decoderName);
    positiveNumber(decoder, "context_size", decoderName);
    readOnnxModelSummary(result.transducer->joiner);
    checkTokens(result.tokens, positiveNumber(decoder, "vocab_size", decoderName));
    return result;
}

}  // namespace harkline
