#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace harkline {

// One file of a downloadable model, as the catalogue pins it.
struct CatalogModelFile {
    std::string name;    // plain file name inside the model folder
    std::string url;     // http or https
    std::uintmax_t size = 0;
    std::string sha256;  // 64 lower-case hex digits

    // The engine's role for the file: its name up to the first dot ("encoder" for
    // "encoder.int8.onnx", "tokens" for "tokens.txt").
    std::string role() const { return name.substr(0, name.find('.')); }

    bool operator==(const CatalogModelFile&) const = default;
};

// The model the catalogue offers for one locale.
struct CatalogModel {
    std::string locale;
    std::string engine;  // for example "sherpa-onnx-transducer"
    std::vector<CatalogModelFile> files;

    std::uintmax_t totalBytes() const;
    // Each file's role -> its name.
    std::map<std::string, std::string> components() const;
    bool operator==(const CatalogModel&) const = default;
};

class SpeechModelCatalogError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The models that can be downloaded, per locale: the catalogue built into the tool, or
// the file that TESSARYN_SPEECH_MODEL_CATALOG names instead.
//   {"models":[{"locale":"zh-CN","engine":"sherpa-onnx-transducer",
//               "files":[{"name":"encoder.onnx","url":"https://…","size":N,"sha256":"…"}]}]}
class SpeechModelCatalog {
public:
    static constexpr const char* environmentVariable = "TESSARYN_SPEECH_MODEL_CATALOG";
    // A catalogue is a few lines per locale; the built-in one is under 4 KB.
    static constexpr std::uintmax_t largestCatalog = 1 << 20;

    explicit SpeechModelCatalog(std::vector<CatalogModel> models) : models_(std::move(models)) {}

    // Throws SpeechModelCatalogError naming `origin` and what is wrong where.
    static SpeechModelCatalog parse(const std::string& text, const std::string& origin);
    static SpeechModelCatalog load(const std::filesystem::path& file);
    static SpeechModelCatalog builtIn();
    // The file the variable names, else the built-in catalogue.
    static SpeechModelCatalog current();

    const std::vector<CatalogModel>& models() const { return models_; }
    std::optional<CatalogModel> model(const std::string& locale) const;

private:
    std::vector<CatalogModel> models_;
};

// The text of the catalogue in the repository, compiled into the tool.
extern const char* const builtInSpeechModelCatalogText;

}  // namespace harkline
