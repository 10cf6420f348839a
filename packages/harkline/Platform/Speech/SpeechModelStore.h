#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli-frame/Json/Json.h"

// Speech models live in a per-user store, one folder per locale:
//
//   <harkline Application Support>/models/            ($XDG_DATA_HOME/tessaryn/harkline/models)
//     en-US/                                           canonical locale identifier
//       en-us/mdef, en-us/means, ...                   the model's files, relative paths kept
//       en-us.lm.bin                                   from the source (see SpeechModelSource)
//       cmudict-en-us.dict
//       model.json                                     the manifest, written last
//
// A model is whole only when model.json is present, decodes, names the locale of its
// folder, and every file it lists exists with the listed size and, where recorded, the
// listed content. A file whose modification time differs from the recorded one (a backup
// restored, a copy to another disk) has its SHA-256 checked once: intact, its new time is
// recorded in the manifest (rewritten atomically); changed, the model is damaged, no longer
// counts, and the engines refuse it with a message saying so. So an installation copies
// the files first and writes the manifest last (atomically); an interrupted one leaves no
// manifest and is simply not installed. Manifest example:
//
//   {"locale":"en-US","engine":"pocketsphinx",
//    "components":{"acousticModel":"en-us","languageModel":"en-us.lm.bin","dictionary":"cmudict-en-us.dict"},
//    "files":[{"path":"cmudict-en-us.dict","size":3240000,"sha256":"1f0c...","modified":1765130000123456789},...]}
//
// "sha256" (hex) and "modified" (nanoseconds since the epoch) are recorded by an
// installation; a manifest without them is still read.
//
// "components" maps each role the engine needs to a file or folder inside the locale
// folder; every path is relative, without "." or ".." parts.

namespace harkline {

struct SpeechModelFile {
    std::string path;  // relative to the model's folder, '/'-separated
    std::uintmax_t size = 0;
    std::optional<std::string> sha256;
    std::optional<std::int64_t> modified;

    bool operator==(const SpeechModelFile&) const = default;
};

struct SpeechModelManifest {
    std::string locale;
    std::string engine;
    std::map<std::string, std::string> components;
    std::vector<SpeechModelFile> files;

    bool operator==(const SpeechModelManifest&) const = default;
};

// A file's modification time as a manifest records it (nanoseconds since the epoch);
// none when the file cannot be examined.
std::optional<std::int64_t> modificationTimeOf(const std::filesystem::path& path);

void to_json(cli::Json& json, const SpeechModelFile& file);
void to_json(cli::Json& json, const SpeechModelManifest& manifest);
// Throws on a missing or mistyped key.
void from_json(const cli::Json& json, SpeechModelFile& file);
void from_json(const cli::Json& json, SpeechModelManifest& manifest);

// Where the files of a locale's model come from before installation, e.g. the
// folder a system package put them in.
struct SpeechModelSource {
    std::string locale;
    std::string engine;
    std::filesystem::path directory;
    std::map<std::string, std::string> components;  // role -> path relative to directory

    // Every component exists under the directory.
    bool isPresent() const;
    // The files an installation copies (component folders expanded), relative to
    // `directory`, with their sizes, sorted by path. Throws std::filesystem::filesystem_error.
    std::vector<SpeechModelFile> files() const;
    // The manifest an installation of this source writes last, without digests and times.
    SpeechModelManifest manifest() const;
};

// Whether two manifests describe the same model: locale, engine, components, and the
// files by path and size.
bool sameModelFiles(const SpeechModelManifest& a, const SpeechModelManifest& b);

// Which of a model's roles belong to a part of it (its recognition model, its formatting
// model).
using RoleFilter = std::function<bool(const std::string& role)>;
// The components of the roles `inPart` accepts and the files inside them.
SpeechModelManifest manifestPart(const SpeechModelManifest& manifest, const RoleFilter& inPart);

// A model that passed the installed check.
struct InstalledSpeechModel {
    SpeechModelManifest manifest;
    std::filesystem::path directory;

    // The model of the roles `inPart` accepts, to be checked and loaded apart from the rest.
    InstalledSpeechModel part(const RoleFilter& inPart) const;

    // Absolute path of a component; none when the manifest does not name the role.
    std::optional<std::filesystem::path> component(const std::string& role) const;
    // Throws std::runtime_error naming the first listed file that is missing or differs
    // from the manifest in size or content ("<what> for <locale> is damaged: …").
    void verifyFiles(const std::string& what = "speech model") const;
    // The listed files that pass the checks of verifyFiles.
    std::vector<SpeechModelFile> intactFiles() const;
};

// Knows the layout above. Installers write the models; the store only records the new
// times of files whose content it found intact.
class SpeechModelStore {
public:
    static constexpr const char* manifestFileName = "model.json";
    // Manifests are a line per file; anything bigger is not one of ours.
    static constexpr std::uintmax_t largestManifest = 1 << 20;

    explicit SpeechModelStore(std::filesystem::path modelsDirectory) : modelsDirectory_(std::move(modelsDirectory)) {}
    // The store of the harkline Application Support folder: its "models" subfolder.
    static SpeechModelStore inApplicationSupport(const std::filesystem::path& applicationSupportDirectory) {
        return SpeechModelStore(applicationSupportDirectory / "models");
    }

    const std::filesystem::path& modelsDirectory() const { return modelsDirectory_; }
    // Folder of a locale, by its canonical identifier; throws std::invalid_argument for
    // an identifier that is not a locale (it would not be a safe folder name).
    std::filesystem::path localeDirectory(const std::string& locale) const;
    std::filesystem::path manifestPath(const std::string& locale) const {
        return localeDirectory(locale) / manifestFileName;
    }

    // The whole model of a locale, or none (not a locale, not installed, or damaged).
    std::optional<InstalledSpeechModel> installedModel(const std::string& locale) const;
    // The model a locale's manifest describes, its files unchecked: a model whose files
    // were damaged or changed since is still found here, so that using it fails with a
    // reason instead of falling back to another locale.
    std::optional<InstalledSpeechModel> recordedModel(const std::string& locale) const;
    // Canonical identifiers of every locale with a readable manifest, sorted.
    std::vector<std::string> recordedLocales() const;

private:
    std::filesystem::path modelsDirectory_;
};

}  // namespace harkline
