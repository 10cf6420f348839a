#include "harkline/Platform/Speech/SpeechModelStore.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli-frame/Files/AtomicFile.h"
#include "cli-frame/Files/BoundedFile.h"
#include "harkline/Platform/Speech/LocaleIdentifier.h"
#include "harkline/Platform/Speech/Models/FileDigest.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;

bool isSafeRelativePath(const std::string& path) {
    if (path.empty() || path.front() == '/') return false;
    for (const auto& part : fs::path(path)) {
        if (part.empty() || part == "." || part == "..") return false;
    }
    return true;
}

std::optional<std::string> readManifest(const fs::path& path) {
    try {
        return cli::readBoundedFile(path, SpeechModelStore::largestManifest);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Records the new times of `retimed` (the model's files, or a part of them) in the
// manifest the model was read from, through a descriptor of the model's folder: should an
// installation swap another model into the locale's place meanwhile, a time lands only on
// an entry that still describes the file that was checked, never in the other's manifest.
// Best effort: a store that cannot be written is checked again next time.
void recordTimes(const InstalledSpeechModel& model, const SpeechModelManifest& retimed) {
    int folder = ::open(model.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return;
    auto manifestPath = fs::path("/proc/self/fd") / std::to_string(folder) / SpeechModelStore::manifestFileName;
    try {
        auto contents = readManifest(manifestPath);
        if (!contents) throw std::runtime_error("no manifest");
        auto recorded = cli::Json::parse(*contents).get<SpeechModelManifest>();
        bool changed = false;
        for (std::size_t index = 0; index < retimed.files.size(); ++index) {
            const auto& checked = model.manifest.files[index];
            if (retimed.files[index].modified == checked.modified) continue;
            for (auto& entry : recorded.files) {
                if (entry != checked) continue;
                entry.modified = retimed.files[index].modified;
                changed = true;
            }
        }
        if (changed) cli::writeFileAtomically(manifestPath, cli::Json(recorded).dump());
    } catch (const std::exception&) {
        // Not recorded: the next check hashes the file again.
    }
    ::close(folder);
}

// Why a listed file does not pass its checks; empty when it does. A file whose time alone
// changed (a backup restored, a copy to another disk) is no damage: its bytes decide, and
// when they are intact its new time is put in `file`, to be recorded.
std::string checkFile(const fs::path& directory, SpeechModelFile& file) {
    auto path = directory / file.path;
    std::error_code error;
    // A link in the store is not the installed file, whatever it names.
    auto status = fs::symlink_status(path, error);
    if (error || !fs::exists(status)) return file.path + " is missing";
    if (!fs::is_regular_file(status)) return file.path + " is not a regular file";
    auto size = fs::file_size(path, error);
    if (error || size != file.size) return file.path + " changed size since the model was installed";
    if (!file.modified) return {};
    auto modified = modificationTimeOf(path);
    if (modified == file.modified) return {};
    auto changed = file.path + " was modified since the model was installed";
    if (!file.sha256 || !modified) return changed;
    try {
        if (Sha256::ofFile(path) != *file.sha256) return changed;
    } catch (const std::exception&) {
        return changed;  // unreadable: no better than changed
    }
    // Changed again while it was read: what was hashed may not be what is there now.
    if (modificationTimeOf(path) != modified) return changed;
    file.modified = modified;
    return {};
}

// Checks every listed file of the model: the reason each fails (empty for those that
// pass), in the manifest's order. New times of intact files are recorded.
std::vector<std::string> checkFiles(const InstalledSpeechModel& model) {
    auto checked = model.manifest;
    std::vector<std::string> reasons;
    for (auto& file : checked.files) reasons.push_back(checkFile(model.directory, file));
    if (checked != model.manifest) recordTimes(model, checked);
    return reasons;
}

// A component is either a listed file or a folder under which files are listed.
bool isInComponent(const SpeechModelFile& file, const std::string& component) {
    return file.path == component || file.path.starts_with(component + "/");
}

bool componentIsListed(const std::string& component, const std::vector<SpeechModelFile>& files) {
    return std::any_of(files.begin(), files.end(), [&](const SpeechModelFile& file) { return isInComponent(file, component); });
}

}  // namespace

std::optional<std::int64_t> modificationTimeOf(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec;
}

void to_json(cli::Json& json, const SpeechModelFile& file) {
    json = cli::Json::object();
    json["path"] = file.path;
    json["size"] = file.size;
    if (file.sha256) json["sha256"] = *file.sha256;
    if (file.modified) json["modified"] = *file.modified;
}

void to_json(cli::Json& json, const SpeechModelManifest& manifest) {
    json = cli::Json::object();
    json["locale"] = manifest.locale;
    json["engine"] = manifest.engine;
    json["components"] = cli::Json::object();
    for (const auto& [role, path] : manifest.components) json["components"][role] = path;
    json["files"] = cli::Json::array();
    for (const auto& file : manifest.files) json["files"].push_back(file);
}

void from_json(const cli::Json& json, SpeechModelFile& file) {
    file.path = json.at("path").get<std::string>();
    file.size = json.at("size").get<std::uintmax_t>();
    if (auto sha256 = json.find("sha256"); sha256 != json.end()) file.sha256 = sha256->get<std::string>();
    if (auto modified = json.find("modified"); modified != json.end()) file.modified = modified->get<std::int64_t>();
}

void from_json(const cli::Json& json, SpeechModelManifest& manifest) {
    manifest.locale = json.at("locale").get<std::string>();
    manifest.engine = json.at("engine").get<std::string>();
    manifest.components = json.at("components").get<std::map<std::string, std::string>>();
    manifest.files = json.at("files").get<std::vector<SpeechModelFile>>();
}

bool SpeechModelSource::isPresent() const {
    std::error_code error;
    return std::all_of(components.begin(), components.end(),
                       [&](const auto& entry) { return fs::exists(directory / entry.second, error); });
}

std::vector<SpeechModelFile> SpeechModelSource::files() const {
    std::vector<SpeechModelFile> result;
    for (const auto& [role, component] : components) {
        auto path = directory / component;
        if (fs::is_directory(path)) {
            for (const auto& entry : fs::recursive_directory_iterator(path)) {
                if (!entry.is_regular_file()) continue;
                result.push_back({fs::relative(entry.path(), directory).generic_string(), entry.file_size()});
            }
        } else {
            result.push_back({component, fs::file_size(path)});
        }
    }
    std::sort(result.begin(), result.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

SpeechModelManifest SpeechModelSource::manifest() const { return {locale, engine, components, files()}; }

bool sameModelFiles(const SpeechModelManifest& a, const SpeechModelManifest& b) {
    auto samePathAndSize = [](const SpeechModelFile& x, const SpeechModelFile& y) {
        return x.path == y.path && x.size == y.size;
    };
    return a.locale == b.locale && a.engine == b.engine && a.components == b.components &&
           std::equal(a.files.begin(), a.files.end(), b.files.begin(), b.files.end(), samePathAndSize);
}

SpeechModelManifest manifestPart(const SpeechModelManifest& manifest, const RoleFilter& inPart) {
    SpeechModelManifest part{manifest.locale, manifest.engine, {}, {}};
    for (const auto& [role, path] : manifest.components)
        if (inPart(role)) part.components.emplace(role, path);
    for (const auto& file : manifest.files)
        if (std::any_of(part.components.begin(), part.components.end(),
                        [&](const auto& component) { return isInComponent(file, component.second); }))
            part.files.push_back(file);
    return part;
}

InstalledSpeechModel InstalledSpeechModel::part(const RoleFilter& inPart) const {
    return {manifestPart(manifest, inPart), directory};
}

std::optional<fs::path> InstalledSpeechModel::component(const std::string& role) const {
    auto found = manifest.components.find(role);
    if (found == manifest.components.end()) return std::nullopt;
    return directory / found->second;
}

void InstalledSpeechModel::verifyFiles(const std::string& what) const {
    for (const auto& reason : checkFiles(*this))
        if (!reason.empty()) throw std::runtime_error(what + " for " + manifest.locale + " is damaged: " + reason);
}

std::vector<SpeechModelFile> InstalledSpeechModel::intactFiles() const {
    auto reasons = checkFiles(*this);
    std::vector<SpeechModelFile> intact;
    for (std::size_t index = 0; index < reasons.size(); ++index)
        if (reasons[index].empty()) intact.push_back(manifest.files[index]);
    return intact;
}

fs::path SpeechModelStore::localeDirectory(const std::string& locale) const {
    auto canonical = canonicalLocaleIdentifier(locale);
    if (!canonical) throw std::invalid_argument("not a locale identifier: " + locale);
    return modelsDirectory_ / *canonical;
}

std::optional<InstalledSpeechModel> SpeechModelStore::recordedModel(const std::string& locale) const {
    auto canonical = canonicalLocaleIdentifier(locale);
    if (!canonical) return std::nullopt;
    auto directory = modelsDirectory_ / *canonical;
    auto contents = readManifest(directory / manifestFileName);
    if (!contents) return std::nullopt;

    SpeechModelManifest manifest;
    try {
        manifest = cli::Json::parse(*contents).get<SpeechModelManifest>();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (manifest.locale != *canonical || manifest.files.empty()) return std::nullopt;
    for (const auto& file : manifest.files)
        if (!isSafeRelativePath(file.path)) return std::nullopt;
    for (const auto& [role, component] : manifest.components) {
        if (!isSafeRelativePath(component) || !componentIsListed(component, manifest.files)) return std::nullopt;
    }
    return InstalledSpeechModel{std::move(manifest), std::move(directory)};
}

std::optional<InstalledSpeechModel> SpeechModelStore::installedModel(const std::string& locale) const {
    auto model = recordedModel(locale);
    if (!model) return std::nullopt;
    for (const auto& reason : checkFiles(*model))
        if (!reason.empty()) return std::nullopt;
    return model;
}

std::vector<std::string> SpeechModelStore::recordedLocales() const {
    std::vector<std::string> result;
    std::error_code error;
    for (fs::directory_iterator entry(modelsDirectory_, error), end; !error && entry != end; entry.increment(error)) {
        auto name = entry->path().filename().string();
        if (canonicalLocaleIdentifier(name) == name && recordedModel(name)) result.push_back(name);
    }
    std::sort(result.begin(), result.end());
    return result;
}

}  // namespace harkline
