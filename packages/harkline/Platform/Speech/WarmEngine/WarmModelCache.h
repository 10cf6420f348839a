#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "cli-frame/Json/Json.h"
#include "cli-frame/Logging/Logger.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxRecognizer.h"
#include "harkline/Platform/Speech/SpeechModelStore.h"

namespace harkline {

// The models the warm engine keeps loaded, each known by its installed identity: its
// folder and its manifest, whose digests and times change with every installation. A
// model installed anew in the same folder is loaded anew, and the old one is let go once
// the dictations on it end. Safe to use from any thread; one model loads at a time, so
// two dictations that want the same model load it once.
class WarmModelCache {
public:
    explicit WarmModelCache(cli::Logger logger) : logger_(std::move(logger)) {}

    struct Acquired {
        std::shared_ptr<const SherpaOnnxRecognizer> recognizer;
        bool loaded = false;  // loaded for this request
    };
    // Throws std::runtime_error saying why the model cannot be loaded. A model whose
    // streams bring hotwords of their own is loaded for beam search, apart from the same
    // model loaded for greedy search.
    Acquired acquire(const InstalledSpeechModel& model, bool hotwordsPerStream);

    // How many loads there were, and what is held: per model its locale, folder, file
    // size and the dictations on it.
    cli::Json state() const;

private:
    struct Entry {
        InstalledSpeechModel model;
        std::shared_ptr<const SherpaOnnxRecognizer> recognizer;
    };

    cli::Logger logger_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> entries_;  // by identity
    std::int64_t loads_ = 0;
};

}  // namespace harkline
