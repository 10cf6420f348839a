#include "harkline/Platform/Speech/WarmEngine/WarmModelCache.h"

#include <stdexcept>

#include <malloc.h>

#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxStreamingModel.h"

namespace harkline {
namespace {

std::string identity(const InstalledSpeechModel& model) {
    return model.directory.string() + '\n' + cli::Json(model.manifest).dump();
}

}  // namespace

WarmModelCache::Acquired WarmModelCache::acquire(const InstalledSpeechModel& model, bool hotwordsPerStream) {
    if (!SherpaOnnxStreamingModel::isEngine(model.manifest.engine))
        throw std::runtime_error("the warm engine serves sherpa-onnx models only, not " + model.manifest.engine);
    auto installed = identity(model);
    auto key = installed + (hotwordsPerStream ? "\nhotwords per stream" : "");
    std::lock_guard lock(mutex_);
    if (auto found = entries_.find(key); found != entries_.end()) return {found->second.recognizer, false};
    // The same folder under another identity was installed over: its old model goes.
    std::erase_if(entries_, [&](const auto& entry) {
        return entry.second.model.directory == model.directory && identity(entry.second.model) != installed;
    });
    model.verifyFiles();
    auto recognizer = std::make_shared<const SherpaOnnxRecognizer>(SherpaOnnxStreamingModel::inspect(model), logger_,
                                                                   EngineOutput::toLog, hotwordsPerStream);
    // The engine read the files whole before building its tensors; hand those pages back,
    // since the engine lives on.
    ::malloc_trim(0);
    ++loads_;
    logger_.info("常驻语音引擎加载模型 " + model.directory.string() + "，第 " + std::to_string(loads_) + " 次加载");
    entries_.emplace(key, Entry{model, recognizer});
    return {std::move(recognizer), true};
}

cli::Json WarmModelCache::state() const {
    std::lock_guard lock(mutex_);
    auto models = cli::Json::array();
    for (const auto& [key, entry] : entries_) {
        std::uintmax_t bytes = 0;
        for (const auto& file : entry.model.manifest.files) bytes += file.size;
        models.push_back({{"locale", entry.model.manifest.locale},
                          {"engine", entry.model.manifest.engine},
                          {"directory", entry.model.directory.string()},
                          {"fileBytes", bytes},
                          {"dictations", entry.recognizer.use_count() - 1}});
    }
    return {{"loads", loads_}, {"models", std::move(models)}};
}

}  // namespace harkline
