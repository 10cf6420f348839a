#include "harkline/Platform/Speech/Models/SpeechModelSourceFolder.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "cli-frame/Files/BoundedFile.h"
#include "harkline/Platform/Speech/LocaleIdentifier.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;

// Descriptors are a few lines; anything bigger is not one.
constexpr std::uintmax_t largestDescriptor = 64 * 1024;

bool isPlainRelativePath(const std::string& path) {
    if (path.empty() || path.front() == '/') return false;
    fs::path parts(path);
    return std::none_of(parts.begin(), parts.end(),
                        [](const fs::path& part) { return part.empty() || part == "." || part == ".."; });
}

SpeechModelSource decodeDescriptor(const fs::path& file, const KnownEngine& isKnownEngine) {
    auto json = cli::Json::parse(cli::readBoundedFile(file, largestDescriptor));

    SpeechModelSource result;
    auto locale = canonicalLocaleIdentifier(json.at("locale").get<std::string>());
    if (!locale) throw std::runtime_error("\"locale\" is not a locale identifier");
    result.locale = *locale;
    result.engine = json.at("engine").get<std::string>();
    fs::path directory = json.at("directory").get<std::string>();
    result.directory = directory.is_absolute() ? directory : file.parent_path() / directory;
    result.components = json.at("components").get<std::map<std::string, std::string>>();
    if (result.components.empty()) throw std::runtime_error("\"components\" is empty");
    for (const auto& [role, path] : result.components)
        if (!isPlainRelativePath(path)) throw std::runtime_error("component \"" + role + "\" is not a relative path");
    if (!isKnownEngine(result.engine))
        throw std::runtime_error("no engine \"" + result.engine + "\" in this harkline");
    for (const auto& [role, path] : result.components) {
        std::error_code error;
        auto component = result.directory / path;
        bool present = fs::exists(component, error);
        if (error) throw std::runtime_error("component \"" + role + "\" " + component.string() + ": " + error.message());
        if (!present) throw std::runtime_error("component \"" + role + "\" is missing: " + component.string());
    }
    return result;
}

}  // namespace

std::vector<SpeechModelSource> loadSpeechModelSourceFolder(const fs::path& folder,
                                                                      const KnownEngine& isKnownEngine,
                                                                      const cli::Logger& logger) {
    std::vector<fs::path> descriptors;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error))
        if (entry->path().extension() == ".json") descriptors.push_back(entry->path());
    if (error) logger.error("读取语音模型来源目录失败: " + folder.string() + ": " + error.message());
    std::sort(descriptors.begin(), descriptors.end());

    std::vector<SpeechModelSource> sources;
    for (const auto& descriptor : descriptors) {
        try {
            sources.push_back(decodeDescriptor(descriptor, isKnownEngine));
        } catch (const std::exception& failure) {
            logger.error("忽略无效的语音模型来源 " + descriptor.string() + ": " + failure.what());
        }
    }
    return sources;
}

std::vector<SpeechModelSource> installableSpeechModelSources(const KnownEngine& isKnownEngine,
                                                                       const cli::Logger& logger) {
    std::vector<SpeechModelSource> sources;
    if (const char* folder = std::getenv(speechModelSourcesVariable); folder && *folder) {
        for (auto& candidate : loadSpeechModelSourceFolder(folder, isKnownEngine, logger)) {
            bool named = std::any_of(sources.begin(), sources.end(), [&](const auto& known) {
                return known.locale == candidate.locale;
            });
            if (!named) sources.push_back(std::move(candidate));
        }
    }
    return sources;
}

}  // namespace harkline
