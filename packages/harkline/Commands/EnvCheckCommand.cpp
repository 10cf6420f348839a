#include "harkline/Commands/EnvCheckCommand.h"

#include <cstdint>

namespace harkline {

std::string EnvCheckCommand::authorizationText(SpeechAuthorizationStatus status) {
    switch (status) {
        case SpeechAuthorizationStatus::notDetermined: return "not_determined";
        case SpeechAuthorizationStatus::denied: return "denied";
        case SpeechAuthorizationStatus::restricted: return "restricted";
        case SpeechAuthorizationStatus::authorized: return "granted";
    }
    return "unknown";
}

int EnvCheckCommand::run() {
    context_.logger.info("执行 env.check 指令");
    if (auto vocabulary = context_.models->personalVocabularyFile())
        context_.logger.info("个人词表 " + vocabulary->string() +
                             " 用于 sherpa-onnx 转导模型（热词）；pocketsphinx 与 CTC 模型不使用它");
    auto version = context_.system->operatingSystemVersion();
    EnvSnapshot env{
        .macOSVersion = std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
                        std::to_string(version.patch),
        .speechApi = context_.models->hasAnyModel() ? "available" : "unavailable",
        .authorization = authorizationText(context_.system->speechAuthorizationStatus()),
    };
    // A gate that cannot be used leaves transcription possible, ungated: no reason to
    // refuse the environment.
    if (auto problem = context_.models->speechGateProblem()) {
        env.speechGate = "unavailable";
        env.speechGateProblem = problem;
    } else {
        env.speechGate = "available";
    }
    // A locale whose formatting model is missing or damaged still transcribes.
    for (const auto& locale : context_.models->installedLocales()) {
        auto formatting = context_.models->formattingModel(locale);
        if (!formatting.problem) continue;
        context_.logger.info("locale=" + locale + " 的格式化模型不可用: " + *formatting.problem);
        if (!env.formattingProblems) env.formattingProblems.emplace();
        (*env.formattingProblems)[locale] = *formatting.problem;
    }
    if (auto vocabulary = context_.models->personalVocabulary()) {
        env.vocabularyPhrases = static_cast<std::int64_t>(vocabulary->phrases().size());
        env.vocabularySkippedLines = static_cast<std::int64_t>(vocabulary->skippedLines());
    }

    std::string stage = "env-ok";
    std::optional<std::string> code;
    if (env.speechApi == "unavailable") {
        stage = "env-unsupported";
        code = "apple_env_unsupported";
        env.reason = "speech_api_unavailable";
    } else if (env.authorization == "denied" || env.authorization == "restricted") {
        stage = "env-unsupported";
        code = "apple_authorization_denied";
        env.reason = "authorization_denied";
    }

    context_.diagnostics->updateEnv(env);
    context_.emitter.emitStatus({
        .stage = stage,
        .code = code,
        .data = env,
    });
    return 0;
}

}  // namespace harkline
