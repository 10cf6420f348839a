#include "harkline/Diagnostics/DiagnosticsSnapshot.h"

#include <chrono>
#include <stdexcept>

namespace harkline {
namespace {

using cli::Json;

const Json* optionalMember(const Json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) return nullptr;
    return &*found;
}

const Json& requiredMember(const Json& object, const char* key) {
    const Json* member = optionalMember(object, key);
    if (member == nullptr) throw std::runtime_error(std::string("missing key ") + key);
    return *member;
}

std::string requiredString(const Json& object, const char* key) {
    const Json& member = requiredMember(object, key);
    if (!member.is_string()) throw std::runtime_error(std::string(key) + " is not a string");
    return member.get<std::string>();
}

double requiredNumber(const Json& object, const char* key) {
    const Json& member = requiredMember(object, key);
    if (!member.is_number()) throw std::runtime_error(std::string(key) + " is not a number");
    return member.get<double>();
}

bool requiredBool(const Json& object, const char* key) {
    const Json& member = requiredMember(object, key);
    if (!member.is_boolean()) throw std::runtime_error(std::string(key) + " is not a boolean");
    return member.get<bool>();
}

std::optional<std::string> optionalString(const Json& object, const char* key) {
    const Json* member = optionalMember(object, key);
    if (member == nullptr) return std::nullopt;
    if (!member->is_string()) throw std::runtime_error(std::string(key) + " is not a string");
    return member->get<std::string>();
}

std::optional<std::int64_t> optionalInteger(const Json& object, const char* key) {
    const Json* member = optionalMember(object, key);
    if (member == nullptr) return std::nullopt;
    if (!member->is_number_integer()) throw std::runtime_error(std::string(key) + " is not an integer");
    return member->get<std::int64_t>();
}

const Json* optionalSection(const Json& object, const char* key) {
    const Json* member = optionalMember(object, key);
    if (member != nullptr && !member->is_object()) throw std::runtime_error(std::string(key) + " is not an object");
    return member;
}

}  // namespace

void to_json(Json& json, const EnvSnapshot& value) {
    json = Json::object();
    json["macOSVersion"] = value.macOSVersion;
    json["speechApi"] = value.speechApi;
    json["authorization"] = value.authorization;
    if (value.reason) json["reason"] = *value.reason;
    if (value.speechGate) json["speechGate"] = *value.speechGate;
    if (value.speechGateProblem) json["speechGateProblem"] = *value.speechGateProblem;
    if (value.vocabularyPhrases) json["vocabularyPhrases"] = *value.vocabularyPhrases;
    if (value.vocabularySkippedLines) json["vocabularySkippedLines"] = *value.vocabularySkippedLines;
    if (value.formattingProblems) json["formattingProblems"] = *value.formattingProblems;
}

void to_json(Json& json, const AssetsSnapshot& value) {
    json = Json::object();
    json["locale"] = value.locale;
    json["status"] = value.status;
    json["installed"] = value.installed;
    if (value.formattingModel) json["formattingModel"] = *value.formattingModel;
    if (value.formattingProblem) json["formattingProblem"] = *value.formattingProblem;
}

void to_json(Json& json, const DownloadSnapshot& value) {
    json = Json::object();
    json["locale"] = value.locale;
    json["progress"] = value.progress;
    json["status"] = value.status;
    json["updatedAt"] = value.updatedAt;
}

void to_json(Json& json, const DiagnosticsSnapshot& value) {
    json = Json::object();
    if (value.env) json["env"] = *value.env;
    if (value.assets) json["assets"] = *value.assets;
    if (value.download) json["download"] = *value.download;
    if (value.lastLogPath) json["lastLogPath"] = *value.lastLogPath;
}

DiagnosticsSnapshot decodeDiagnosticsSnapshot(const Json& json) {
    if (!json.is_object()) throw std::runtime_error("diagnostics are not an object");
    DiagnosticsSnapshot snapshot;
    if (const Json* env = optionalSection(json, "env")) {
        snapshot.env = EnvSnapshot{.macOSVersion = requiredString(*env, "macOSVersion"),
                                   .speechApi = requiredString(*env, "speechApi"),
                                   .authorization = requiredString(*env, "authorization")};
        snapshot.env->reason = optionalString(*env, "reason");
        snapshot.env->speechGate = optionalString(*env, "speechGate");
        snapshot.env->speechGateProblem = optionalString(*env, "speechGateProblem");
        snapshot.env->vocabularyPhrases = optionalInteger(*env, "vocabularyPhrases");
        snapshot.env->vocabularySkippedLines = optionalInteger(*env, "vocabularySkippedLines");
        if (const Json* problems = optionalMember(*env, "formattingProblems")) {
            if (!problems->is_object()) throw std::runtime_error("env.formattingProblems is not an object");
            snapshot.env->formattingProblems.emplace();
            for (const auto& [locale, problem] : problems->items()) {
                if (!problem.is_string()) throw std::runtime_error("env.formattingProblems." + locale + " is not a string");
                (*snapshot.env->formattingProblems)[locale] = problem.get<std::string>();
            }
        }
    }
    if (const Json* assets = optionalSection(json, "assets")) {
        snapshot.assets = AssetsSnapshot{requiredString(*assets, "locale"), requiredString(*assets, "status"),
                                         requiredBool(*assets, "installed"), optionalString(*assets, "formattingModel"),
                                         optionalString(*assets, "formattingProblem")};
    }
    if (const Json* download = optionalSection(json, "download")) {
        snapshot.download = DownloadSnapshot{requiredString(*download, "locale"), requiredNumber(*download, "progress"),
                                             requiredString(*download, "status"), requiredNumber(*download, "updatedAt")};
    }
    if (const Json* logPath = optionalMember(json, "lastLogPath")) {
        if (!logPath->is_string()) throw std::runtime_error("lastLogPath is not a string");
        snapshot.lastLogPath = logPath->get<std::string>();
    }
    return snapshot;
}

double secondsSinceReferenceDate() {
    constexpr double referenceDateInUnixSeconds = 978307200.0;
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(now).count() - referenceDateInUnixSeconds;
}

}  // namespace harkline
