#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli-frame/Platform/UserDirectories.h"
#include "cli-frame/Runtime/ToolStartup.h"
#include "harkline/Commands/CommandRouter.h"
#include "harkline/Diagnostics/DiagnosticsStore.h"
#include "harkline/Platform/Speech/Linux/StoredSpeechModels.h"
#include "harkline/Platform/Speech/Linux/SpeechModelTrial.h"
#include "harkline/Platform/Speech/Models/SpeechModelSourceFolder.h"
#include "harkline/Platform/Speech/PocketSphinx/PocketSphinxModelSources.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxFormattingModel.h"
#include "harkline/Platform/Speech/SherpaOnnx/SileroSpeechGate.h"
#include "harkline/Platform/Speech/WarmEngine/WarmEngineProtocol.h"
#include "harkline/Platform/Speech/WarmEngine/WarmEngineServer.h"
#include "harkline/Platform/Speech/WarmEngine/WarmEngineState.h"
#include "harkline/Platform/System/Linux/LinuxSystemInfo.h"
#include "harkline/Runtime/HarklineTool.h"

int main(int argc, char** argv) {
    using namespace harkline;
    // An installation's trial load of a model runs in a child of its own.
    if (const char* directory = std::getenv(SpeechModelTrial::environmentVariable)) return SpeechModelTrial::run(directory);
    // The user's warm speech engine, started by a dictation: socket, then the log to write.
    if (argc >= 3 && argv[1] == warmengine::command)
        return WarmEngineServer::run(argv[2], argc >= 4 ? std::optional<std::string>(argv[3]) : std::nullopt);

    auto startup = cli::ToolStartup::begin(harklineTool(), argc, argv);
    // Every start records where this invocation logs, whatever the command.
    auto diagnostics = std::make_shared<DiagnosticsStore>(
        startup.paths.applicationSupportDirectory() / "diagnostics.json", startup.logger);
    diagnostics->updateLogPath(startup.logPath);

    // The speech gate's model lies in share/tessaryn/ beside the bin/ folder of the program,
    // where it is installed (and where the build puts it in the build tree). Audio that is
    // no speech but should be decoded all the same (the fabricated test model's tones, an
    // ungated benchmark) needs the gate switched off.
    std::optional<std::filesystem::path> speechGateModel;
    if (const char* gate = std::getenv("TESSARYN_SPEECH_GATE"); !gate || std::string_view(gate) != "off") {
        std::error_code unknown;
        auto program = std::filesystem::read_symlink("/proc/self/exe", unknown);
        speechGateModel = program.parent_path().parent_path() / "share/tessaryn" / SileroSpeechGate::modelFileName;
    }
    auto models = std::make_shared<StoredSpeechModels>(
        StoredSpeechModels::Places{
            .store = SpeechModelStore::inApplicationSupport(startup.paths.applicationSupportDirectory()),
            .sources = installableSpeechModelSources(&StoredSpeechModels::isKnownEngine, startup.logger),
            .systemModels = pocketSphinxModelSources(),
            .catalog = &SpeechModelCatalog::current,
            .trial = SpeechModelTrial("/proc/self/exe", startup.logger),
            .speechGateModel = speechGateModel,
            .personalVocabulary = cli::UserDirectories::configuration() / "tessaryn" / "vocabulary.txt",
            .formatting = [](const InstalledSpeechModel& part, const cli::Logger& logger) {
                auto model = SherpaOnnxFormattingModel::inspect(part);
                if (!model) throw std::runtime_error("the model names no formatting model");
                return model->load(logger);
            },
        },
        startup.logger);
    auto system = std::make_shared<LinuxSystemInfo>([models] { return models->hasAnyModel(); });

    auto warmEngineState = [logPath = startup.logPath] {
        return queryWarmEngineState(WarmEngineConnector::forThisUser(logPath));
    };
    CommandRouter router(
        CommandContext{startup.emitter, startup.logger, diagnostics, startup.logPath, models, system, warmEngineState});
    return cli::exitStatus(router.run(startup.options.commandName, startup.options.arguments));
}
