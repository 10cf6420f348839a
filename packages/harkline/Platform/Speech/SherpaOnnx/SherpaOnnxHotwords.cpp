#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxHotwords.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

namespace harkline {
namespace {

constexpr const char* wordMark = "\xE2\x96\x81";  // "▁", a word's start in word-piece tokens

std::set<std::string> tokensOf(const std::filesystem::path& file) {
    std::ifstream stream(file);
    if (!stream) throw std::runtime_error("cannot read " + file.string());
    std::set<std::string> tokens;
    std::string line;
    while (std::getline(stream, line)) {
        auto end = line.find_last_of(" \t");
        if (end != std::string::npos && end > 0) tokens.insert(line.substr(0, end));
    }
    return tokens;
}

bool isWordByte(unsigned char byte) { return byte < 0x80 && std::isalnum(byte); }

// The pieces the engine splits a word into: runs of letters and digits, every other
// character alone.
std::vector<std::string> piecesOf(const std::string& word) {
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < word.size();) {
        auto lead = static_cast<unsigned char>(word[at]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        if (isWordByte(lead)) {
            while (at + length < word.size() && isWordByte(static_cast<unsigned char>(word[at + length]))) ++length;
        }
        pieces.push_back(word.substr(at, length));
        at += length;
    }
    return pieces;
}

class Spelling {
public:
    Spelling(std::set<std::string> tokens, bool splitsEnglishWords) : tokens_(std::move(tokens)), splitsEnglishWords_(splitsEnglishWords) {
        for (const auto& token : tokens_) {
            if (token.starts_with('<') && token.ends_with('>')) continue;  // <blk>, <unk>: no text
            for (unsigned char c : token) {
                upper_ = upper_ || std::isupper(c);
                lower_ = lower_ || std::islower(c);
            }
        }
    }

    // The phrase in the model's case, or none when a piece of it is no token.
    std::optional<std::string> spell(const std::string& phrase) const {
        std::string spelled;
        for (std::size_t at = 0; at < phrase.size();) {
            auto end = std::min(phrase.find(' ', at), phrase.size());
            for (auto piece : piecesOf(inModelCase(phrase.substr(at, end - at)))) {
                if (!isWordByte(static_cast<unsigned char>(piece[0])) || !splitsEnglishWords_) {
                    if (!tokens_.contains(piece)) return std::nullopt;
                    continue;
                }
                for (char letter : piece)
                    if (!tokens_.contains(std::string(1, letter)) && !tokens_.contains(wordMark + std::string(1, letter)))
                        return std::nullopt;
            }
            spelled += (spelled.empty() ? "" : " ") + inModelCase(phrase.substr(at, end - at));
            at = end + 1;
        }
        return spelled;
    }

private:
    std::string inModelCase(std::string word) const {
        for (auto& c : word) {
            if (upper_ && !lower_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (lower_ && !upper_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return word;
    }

    std::set<std::string> tokens_;
    bool splitsEnglishWords_;
    bool upper_ = false;
    bool lower_ = false;
};

}  // namespace

std::string sherpaOnnxHotwords(const PersonalVocabulary& vocabulary, const SherpaOnnxStreamingModel& model,
                               const cli::Logger& logger) {
    if (vocabulary.phrases().empty()) return {};
    Spelling spelling(tokensOf(model.tokens), model.bpeVocab.has_value());
    std::string hotwords;
    for (const auto& phrase : vocabulary.phrases()) {
        auto spelled = spelling.spell(phrase.text);
        if (!spelled) {
            logger.info("个人词表短语已跳过（模型的词元拼不出它）: " + phrase.text);
            continue;
        }
        hotwords += *spelled;
        if (phrase.boost) {
            char number[32];
            auto end = std::to_chars(number, number + sizeof number, *phrase.boost).ptr;
            hotwords += " :" + std::string(number, end);
        }
        hotwords += '\n';
    }
    return hotwords;
}

}  // namespace harkline
