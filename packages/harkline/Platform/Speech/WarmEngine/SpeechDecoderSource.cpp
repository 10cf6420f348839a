#include "harkline/Platform/Speech/WarmEngine/SpeechDecoderSource.h"

#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "harkline/Platform/Speech/Linux/StoredSpeechModels.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxStreamingModel.h"
#include "harkline/Platform/Speech/WarmEngine/WarmDecoder.h"
#include "harkline/Platform/Speech/WarmEngine/WarmEngineProtocol.h"

namespace harkline {

SpeechDecoderSource SpeechDecoderSource::forThisUser(const cli::Logger& logger) {
    const char* setting = std::getenv(warmengine::switchVariable);
    bool enabled = setting == nullptr || std::string_view(setting) != "off";
    return SpeechDecoderSource(WarmEngineConnector::forThisUser(logger.describeLocation()), enabled, logger);
}

std::unique_ptr<StreamingDecoder> SpeechDecoderSource::decoderFor(const InstalledSpeechModel& model,
                                                                  const PersonalVocabulary& vocabulary) const {
    if (!warmEngineEnabled_ || !SherpaOnnxStreamingModel::isEngine(model.manifest.engine))
        return StoredSpeechModels::loadDecoder(model, logger_, EngineOutput::toLog, vocabulary);
    // A damaged model fails here with the same reason as in this process.
    model.verifyFiles();
    auto outcome = connector_.connect(true);
    if (auto* reason = std::get_if<std::string>(&outcome)) return loadHere(model, vocabulary, *reason);
    auto connection = std::move(std::get<FrameConnection>(outcome));

    // The phrases are checked against the model here, so that what is skipped is logged
    // with this transcription.
    cli::Json request{{"directory", model.directory.string()},
                      {"manifest", model.manifest},
                      {"hotwords", StoredSpeechModels::transcriptionHotwords(model, vocabulary, logger_)}};
    auto deadline = FrameConnection::Clock::now() + warmengine::openDeadline;
    std::optional<Frame> answer;
    if (connection.send({FrameKind::open, request.dump()}, deadline)) answer = connection.receive(deadline);
    if (!answer)
        return loadHere(model, vocabulary, "the warm engine ended or stopped answering while it opened the model");
    if (answer->kind == FrameKind::failure) throw std::runtime_error(answer->payload);
    if (answer->kind != FrameKind::opened)
        return loadHere(model, vocabulary, "the warm engine answered the opening with something else");
    auto opened = cli::Json::parse(answer->payload, nullptr, false);
    bool loaded = opened.is_object() && opened.value("loaded", false);
    logger_.info(std::string("常驻语音引擎解码本次转写，模型") + (loaded ? "为此加载" : "已在内存中"));
    return std::make_unique<WarmDecoder>(std::move(connection));
}

std::unique_ptr<StreamingDecoder> SpeechDecoderSource::loadHere(const InstalledSpeechModel& model,
                                                                const PersonalVocabulary& vocabulary,
                                                                const std::string& reason) const {
    logger_.info("常驻语音引擎不可用，本进程加载模型: " + reason);
    return StoredSpeechModels::loadDecoder(model, logger_, EngineOutput::toLog, vocabulary);
}

}  // namespace harkline
