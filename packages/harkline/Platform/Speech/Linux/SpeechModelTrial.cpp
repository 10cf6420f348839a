#include "harkline/Platform/Speech/Linux/SpeechModelTrial.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli-frame/Files/BoundedFile.h"
#include "harkline/Platform/Speech/Linux/StoredSpeechModels.h"
#include "harkline/Platform/Speech/SherpaOnnx/SherpaOnnxFormattingModel.h"

extern char** environ;

namespace harkline {
namespace {

namespace fs = std::filesystem;

// Loading the largest published models takes seconds; a trial past this is hung.
constexpr auto longestTrial = std::chrono::minutes(5);
constexpr std::size_t keptOutput = 16 * 1024;
// The child's exit status when the recognition model works and its formatting model does not.
constexpr int formattingModelFailed = 2;
// A final result to format: CJK, English in capitals, and the pronoun.
constexpr const char* trialText = "你好世界 HELLO WORLD I SAID";

[[noreturn]] void failWithErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// A second of audio that exercises the engine: silence, then a rising tone.
std::vector<std::int16_t> trialAudio() {
    std::vector<std::int16_t> samples(16000, 0);
    double phase = 0;
    for (std::size_t i = 8000; i < samples.size(); ++i) {
        phase += 2 * M_PI * (300.0 + static_cast<double>(i - 8000) / 4.0) / 16000.0;
        samples[i] = static_cast<std::int16_t>(8000 * std::sin(phase));
    }
    return samples;
}

// The child's reason comes first; what may follow (a sanitizer's report) is not the reason.
std::string firstLine(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.find_first_not_of(' ') != std::string::npos) return line;
    return {};
}

// This process's environment, with the variable that makes the child a trial of `directory`.
std::vector<std::string> trialEnvironment(const fs::path& directory) {
    std::string prefix = std::string(SpeechModelTrial::environmentVariable) + "=";
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable)
        if (!std::string_view(*variable).starts_with(prefix)) environment.emplace_back(*variable);
    environment.push_back(prefix + directory.string());
    return environment;
}

class ChildProcess {
public:
    ChildProcess(const fs::path& executable, const fs::path& directory) {
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0) failWithErrno("cannot make a pipe");
        output_ = pipe[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
        std::string program = executable.string();
        char* arguments[] = {program.data(), nullptr};
        auto environment = trialEnvironment(directory);
        std::vector<char*> variables;
        for (auto& variable : environment) variables.push_back(variable.data());
        variables.push_back(nullptr);
        int error = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, arguments, variables.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[1]);
        if (error != 0) {
            ::close(output_);
            errno = error;
            failWithErrno("cannot start " + program);
        }
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        ::close(output_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The child's standard error, which it holds open until it ends.
    int outputFd() const { return output_; }

    // Reads what the child wrote; false once it closed its end.
    bool readOutput() {
        char buffer[4096];
        ssize_t count = ::read(output_, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) return true;
        if (count <= 0) return false;
        text_.append(buffer, static_cast<std::size_t>(count));
        if (text_.size() > keptOutput) text_.erase(0, text_.size() - keptOutput);
        return true;
    }

    int wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
        pid_ = -1;
        return status;
    }

    const std::string& output() const { return text_; }

private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string text_;
};

}  // namespace

void SpeechModelTrial::operator()(const InstalledSpeechModel& model) const {
    AssetInstallationProgress progress;
    InstallationLoop unwatched(progress, {});
    (*this)(model, unwatched);
}

void SpeechModelTrial::operator()(const InstalledSpeechModel& model, InstallationLoop& loop) const {
    logger_.info("试加载语音模型 locale=" + model.manifest.locale + " engine=" + model.manifest.engine);
    ChildProcess child(executable_, model.directory);
    auto deadline = std::chrono::steady_clock::now() + longestTrial;
    do {
        if (!loop.waitUntilReadable(child.outputFd(), deadline))
            throw std::runtime_error("the speech model for " + model.manifest.locale + " did not load within 5 minutes");
    } while (child.readOutput());
    int status = child.wait();
    std::istringstream lines(child.output());
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) logger_.info("试加载: " + line);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
    auto said = firstLine(child.output());
    if (WIFEXITED(status) && WEXITSTATUS(status) == formattingModelFailed)
        throw std::runtime_error("the formatting model for " + model.manifest.locale + " does not load: " + said);
    std::string how = WIFSIGNALED(status) ? std::string("was killed by signal ") + ::strsignal(WTERMSIG(status))
                                          : "ended with status " + std::to_string(WEXITSTATUS(status));
    throw std::runtime_error("the speech model for " + model.manifest.locale + " does not load: the engine " + how +
                             (said.empty() ? "" : ": " + said));
}

int SpeechModelTrial::run(const fs::path& directory) {
    std::optional<InstalledSpeechModel> model;
    try {
        auto text = cli::readBoundedFile(directory / SpeechModelStore::manifestFileName, SpeechModelStore::largestManifest);
        model = InstalledSpeechModel{cli::Json::parse(text).get<SpeechModelManifest>(), directory};
        // The engine's own words go straight to the parent, even when it ends this process.
        auto decoder = StoredSpeechModels::loadDecoder(*model, cli::Logger(), EngineOutput::asIs);
        auto audio = trialAudio();
        decoder->feed(audio.data(), audio.size());
        decoder->finish();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
    try {
        if (auto formatting = SherpaOnnxFormattingModel::inspect(*model))
            formatting->load(cli::Logger(), EngineOutput::asIs)->format(trialText);
        return 0;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return formattingModelFailed;
    }
}

}  // namespace harkline
