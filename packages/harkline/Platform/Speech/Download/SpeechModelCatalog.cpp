#include "harkline/Platform/Speech/Download/SpeechModelCatalog.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <numeric>
#include <set>
#include <system_error>

#include <nlohmann/json.hpp>

#include "cli-frame/Files/BoundedFile.h"

namespace harkline {
namespace {

using nlohmann::json;

class CatalogReader {
public:
    explicit CatalogReader(std::string origin) : origin_(std::move(origin)) {}

    [[noreturn]] void fail(const std::string& where, const std::string& what) const {
        throw SpeechModelCatalogError("the speech model catalogue " + origin_ + " is not valid: " + where + " " + what);
    }

    const json& member(const json& object, const char* key, json::value_t type, const std::string& where) const {
        auto found = object.find(key);
        if (found == object.end()) fail(where, std::string("has no \"") + key + "\"");
        bool numberWanted = type == json::value_t::number_unsigned;
        if (numberWanted ? !found->is_number_unsigned() : found->type() != type)
            fail(where + "." + key, numberWanted ? "must be a whole number of bytes" : "has the wrong type");
        return *found;
    }

    std::string text(const json& object, const char* key, const std::string& where) const {
        auto value = member(object, key, json::value_t::string, where).get<std::string>();
        if (value.empty()) fail(where + "." + key, "is empty");
        return value;
    }

    CatalogModelFile file(const json& entry, const std::string& where) const {
        if (!entry.is_object()) fail(where, "must be an object");
        CatalogModelFile file{text(entry, "name", where), text(entry, "url", where),
                              member(entry, "size", json::value_t::number_unsigned, where).get<std::uintmax_t>(),
                              text(entry, "sha256", where)};
        if (file.name.starts_with(".") || file.name.find('/') != std::string::npos || file.name.ends_with(".part"))
            fail(where + ".name", "must be a plain file name, not \"" + file.name + "\"");
        if (!file.url.starts_with("https://") && !file.url.starts_with("http://"))
            fail(where + ".url", "must be an http or https address, not \"" + file.url + "\"");
        if (file.size == 0) fail(where + ".size", "must be more than 0");
        std::transform(file.sha256.begin(), file.sha256.end(), file.sha256.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (file.sha256.size() != 64 || file.sha256.find_first_not_of("0123456789abcdef") != std::string::npos)
            fail(where + ".sha256", "must be 64 hexadecimal digits");
        return file;
    }

    CatalogModel model(const json& entry, const std::string& where) const {
        if (!entry.is_object()) fail(where, "must be an object");
        CatalogModel model{text(entry, "locale", where), text(entry, "engine", where), {}};
        const auto& files = member(entry, "files", json::value_t::array, where);
        if (files.empty()) fail(where + ".files", "is empty");
        std::set<std::string> names;
        for (std::size_t i = 0; i < files.size(); ++i) {
            auto fileWhere = where + ".files[" + std::to_string(i) + "]";
            model.files.push_back(file(files[i], fileWhere));
            const auto& name = model.files.back().name;
            // The name before its first dot is the file's role in the engine.
            if (!names.insert(name.substr(0, name.find('.'))).second)
                fail(fileWhere + ".name", "repeats the role of \"" + name + "\"");
        }
        return model;
    }

    std::vector<CatalogModel> models(const std::string& text) const {
        json document;
        try {
            document = json::parse(text);
        } catch (const json::parse_error& error) {
            throw SpeechModelCatalogError("the speech model catalogue " + origin_ + " is not JSON: " + error.what());
        }
        if (!document.is_object()) fail("the document", "must be an object");
        const auto& entries = member(document, "models", json::value_t::array, "the document");
        std::vector<CatalogModel> result;
        std::set<std::string> locales;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            auto where = "models[" + std::to_string(i) + "]";
            result.push_back(model(entries[i], where));
            if (!locales.insert(result.back().locale).second)
                fail(where + ".locale", "repeats \"" + result.back().locale + "\"");
        }
        return result;
    }

private:
    std::string origin_;
};

}  // namespace

std::uintmax_t CatalogModel::totalBytes() const {
    return std::accumulate(files.begin(), files.end(), std::uintmax_t{0},
                           [](std::uintmax_t sum, const CatalogModelFile& file) { return sum + file.size; });
}

std::map<std::string, std::string> CatalogModel::components() const {
    std::map<std::string, std::string> roles;
    for (const auto& file : files) roles[file.role()] = file.name;
    return roles;
}

SpeechModelCatalog SpeechModelCatalog::parse(const std::string& text, const std::string& origin) {
    return SpeechModelCatalog(CatalogReader(origin).models(text));
}

SpeechModelCatalog SpeechModelCatalog::load(const std::filesystem::path& file) {
    std::string text;
    try {
        text = cli::readBoundedFile(file, largestCatalog);
    } catch (const std::system_error& failure) {
        throw SpeechModelCatalogError("cannot read the speech model catalogue " + file.string() + ": " +
                                      failure.code().message());
    } catch (const std::exception& failure) {
        throw SpeechModelCatalogError(std::string("cannot read the speech model catalogue: ") + failure.what());
    }
    return parse(text, file.string());
}

SpeechModelCatalog SpeechModelCatalog::builtIn() { return parse(builtInSpeechModelCatalogText, "built into harkline"); }

SpeechModelCatalog SpeechModelCatalog::current() {
    const char* file = std::getenv(environmentVariable);
    return file && *file ? load(file) : builtIn();
}

std::optional<CatalogModel> SpeechModelCatalog::model(const std::string& locale) const {
    auto found = std::find_if(models_.begin(), models_.end(), [&](const CatalogModel& m) { return m.locale == locale; });
    if (found == models_.end()) return std::nullopt;
    return *found;
}

}  // namespace harkline
