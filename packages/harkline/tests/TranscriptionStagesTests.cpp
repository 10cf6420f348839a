#include <algorithm>
#include <csignal>
#include <cstring>
#include <optional>
#include <random>
#include <stop_token>
#include <thread>
#include <tuple>
#include <utility>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli-frame/Testing/RecordingLogger.h"
#include "harkline/Audio/PCMBufferStreamBuilder.h"
#include "harkline/Commands/TranscribeCommand.h"
#include "harkline/Platform/Speech/Testing/InMemorySpeechModels.h"
#include "harkline/Runtime/CLIRuntime.h"
#include "harkline/Streams/StandardInputStream.h"
#include "harkline/Transcription/CasingAndSpacingFormatter.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

using RecordingLog = cli::RecordingLogger;
using Script = InMemorySpeechModels::Script;

const AudioStreamConfig config = TranscribeCommand::fixedConfig();

ByteChunk bytesOf(std::size_t count, unsigned seed = 1) {
    std::mt19937 random(seed);
    ByteChunk bytes(count);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

AsyncStream<ByteChunk> chunkStream(std::vector<ByteChunk> chunks) {
    return AsyncStream<ByteChunk>::spawn([chunks = std::move(chunks)](Channel<ByteChunk>& output, std::stop_token stop) {
        for (const auto& chunk : chunks)
            if (!output.send(chunk, stop)) return;
        output.finish();
    });
}

template <typename Stream>
auto drain(Stream& stream) {
    std::vector<typename decltype(stream.next())::value_type> values;
    while (auto value = stream.next()) values.push_back(std::move(*value));
    return values;
}

// A pipe whose read end a StandardInputStream gets (and closes).
struct Pipe {
    int readEnd = -1, writeEnd = -1;
    Pipe() {
        int ends[2] = {-1, -1};
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        readEnd = ends[0], writeEnd = ends[1];
    }
    ~Pipe() { closeWriteEnd(); }
    void closeWriteEnd() { ::close(std::exchange(writeEnd, -1)); }
};

TEST(StandardInputStream, ChunksFollowTheReadsTheEndIsLoggedAndADestroyedStreamStopsItsReader) {
    RecordingLog log;
    Pipe pipe;
    auto input = bytesOf(10000);
    ASSERT_EQ(::write(pipe.writeEnd, input.data(), input.size()), 10000);
    pipe.closeWriteEnd();
    {
        auto stream = StandardInputStream(pipe.readEnd, log.logger()).makeStream(4096);
        std::vector<std::size_t> sizes;
        ByteChunk joined;
        for (auto& chunk : drain(stream)) {
            sizes.push_back(chunk.size());
            joined.insert(joined.end(), chunk.begin(), chunk.end());
        }
        EXPECT_EQ(sizes, (std::vector<std::size_t>{4096, 4096, 1808}));
        EXPECT_EQ(joined, input);
    }
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               "INFO 准备从标准输入读取音频，chunkSize=4096",
                               "DEBUG 读取 chunk#1 bytes=4096",
                               "DEBUG 读取 chunk#2 bytes=4096",
                               "DEBUG 读取 chunk#3 bytes=1808",
                               "INFO 检测到标准输入 EOF，已读取 chunk=3 总字节=10000",
                               "INFO 标准输入读取完成，总字节=10000 chunk=3",
                               "DEBUG 标准输入流任务结束，取消 reader",
                           }));
    EXPECT_EQ(::fcntl(pipe.readEnd, F_GETFD), -1) << "the handle stays open";

    // A reader waiting for input that never comes (a reader waiting for room: see the
    // failures of Transcription below).
    log.clear();
    Pipe silent;
    StandardInputStream(silent.readEnd, log.logger()).makeStream(4096);
    EXPECT_EQ(log.count("DEBUG 标准输入流任务结束，取消 reader"), 1);
    EXPECT_FALSE(log.contains("INFO 标准输入读取完成，总字节=0 chunk=0"));
    EXPECT_EQ(::fcntl(silent.readEnd, F_GETFD), -1);
}

TEST(PCMBufferStreamBuilder, AnyChunkingGivesTheSameSamplesInBuffersCutAtTheLargestSizeWithTheLastFramePadded) {
    RecordingLog log;
    auto buffersOf = [&](std::vector<ByteChunk> chunks) {
        auto stream = PCMBufferStreamBuilder(config, log.logger()).makeStream(chunkStream(std::move(chunks)));
        return drain(stream);
    };
    const auto input = bytesOf(9 * 4096 + 777);  // an odd total
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<ByteChunk> chunks;
        for (std::size_t offset = 0; offset < input.size();) {
            std::size_t size = round == 0 ? 1 : std::uniform_int_distribution<std::size_t>(0, 9000)(random);
            size = std::min(size, input.size() - offset);
            chunks.emplace_back(input.begin() + static_cast<std::ptrdiff_t>(offset),
                                input.begin() + static_cast<std::ptrdiff_t>(offset + size));
            offset += size;
        }
        ByteChunk out;
        for (auto& buffer : buffersOf(chunks)) {
            ASSERT_GE(buffer.frameLength(), 1u);
            ASSERT_LE(buffer.frameLength(), 2048u);
            EXPECT_EQ(buffer.frameLength(), buffer.frameCapacity());
            auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer.samples());
            out.insert(out.end(), bytes, bytes + buffer.frameLength() * 2);
        }
        auto expected = input;
        expected.push_back(0);  // the odd last byte becomes the low byte of a zero-padded frame
        ASSERT_EQ(out, expected) << "round " << round;
    }

    log.clear();
    auto frameLengths = [&](std::vector<ByteChunk> chunks) {
        std::vector<std::uint32_t> lengths;
        for (auto& buffer : buffersOf(std::move(chunks))) lengths.push_back(buffer.frameLength());
        return lengths;
    };
    EXPECT_EQ(frameLengths({bytesOf(10000)}), (std::vector<std::uint32_t>{2048, 2048, 904}));
    EXPECT_EQ(frameLengths({bytesOf(3), bytesOf(1)}), (std::vector<std::uint32_t>{1, 1}));
    EXPECT_EQ(frameLengths({}), (std::vector<std::uint32_t>{}));
    EXPECT_EQ(frameLengths({bytesOf(4097)}), (std::vector<std::uint32_t>{2048, 1}));
    EXPECT_EQ(log.lines().front(), "INFO PCM 解析器初始化 sampleRate=16000.0Hz bitDepth=16 bytesPerFrame=2");
    for (const char* line : {"INFO PCM 解析完成，chunk=0 buffers=0 frames=0", "INFO PCM 解析完成，chunk=1 buffers=2 frames=2049",
                             "DEBUG PCM Builder 收到 chunk#1 bytes=4097", "DEBUG PCM Builder 输出 buffer#3 frames=904"})
        EXPECT_TRUE(log.contains(line)) << line;

}

// Output lines of a runtime, written to an in-memory file.
struct RuntimeOutput {
    int fd = ::memfd_create("harkline-output", MFD_CLOEXEC);
    ~RuntimeOutput() { ::close(fd); }
    cli::CLIMessageEmitter emitter() const { return cli::CLIMessageEmitter({}, "/logs/harkline.log", fd); }
    std::vector<cli::Json> lines() const {
        std::vector<cli::Json> lines;
        for (const auto& line : testsupport::splitLines(testsupport::readFile("/proc/self/fd/" + std::to_string(fd))))
            lines.push_back(cli::Json::parse(line));
        return lines;
    }
};

TranscriptionPipeline pipeline(std::shared_ptr<const SpeechModels> models, const cli::Logger& logger) {
    return TranscriptionPipeline(config, PCMBufferStreamBuilder(config, logger), std::move(models), "zh-CN",
                                 TranscriptionPreset::progressiveTranscription, logger);
}

// How the run ended, and its output lines.
std::pair<CLIRuntime::Outcome, std::vector<cli::Json>> transcribe(const ByteChunk& audio, std::shared_ptr<const SpeechModels> models,
                                                                  const cli::Logger& logger) {
    RuntimeOutput output;
    Pipe pipe;
    // A run that fails early stops reading; the audio it never took must not kill the test.
    static const bool brokenPipesIgnored = ::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    EXPECT_TRUE(brokenPipesIgnored);
    std::thread writer([&] {
        [[maybe_unused]] auto written = ::write(pipe.writeEnd, audio.data(), audio.size());
        pipe.closeWriteEnd();
    });
    // Two chunks queued at most, so that a long input keeps the reader waiting for room.
    CLIRuntime runtime(output.emitter(), StandardInputStream(pipe.readEnd, logger, 8192),
                       pipeline(std::move(models), logger), logger);
    auto outcome = runtime.run();
    writer.join();
    return {outcome, output.lines()};
}

cli::Json status(const std::string& stage, std::optional<std::int64_t> bytes = std::nullopt) {
    cli::Json payload = {{"stage", stage}};
    if (bytes) payload["bytesProcessed"] = *bytes;
    payload["logPath"] = "/logs/harkline.log";
    return {{"type", "status"}, {"payload", payload}};
}

cli::Json result(const std::string& text, bool isFinal, std::int64_t bytes) {
    return {{"type", "result"}, {"payload", {{"text", text}, {"isFinal", isFinal}, {"bytesProcessed", bytes}}}};
}

cli::Json error(const std::string& code, const std::string& message) {
    return {{"type", "error"}, {"payload", {{"code", code}, {"message", message}, {"logPath", "/logs/harkline.log"}}}};
}

TEST(Transcription, ResultsCarryTheBytesHandedToTheDecoderAndArriveInOrder) {
    RecordingLog log;
    auto models = std::make_shared<InMemorySpeechModels>(Script{
        .servingLocales = {{"en-US", "en-US"}},
        .hypothesesAfterFeeds = {{1, {"", false}}},
        .hypothesesAtFinish = {{"hello", false}, {"hello world", true}},
    });
    auto audio = bytesOf(3 * 4096);
    auto [outcome, lines] = transcribe(audio, models, log.logger());
    ASSERT_EQ(outcome, CLIRuntime::Outcome::closed);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], status("booting"));
    EXPECT_EQ(lines[1], status("ready"));
    EXPECT_EQ(lines[2]["type"], "result");  // the count depends on how far the input was read
    EXPECT_EQ(lines[3], result("hello", false, 12288));
    EXPECT_EQ(lines[4], result("hello world", true, 12288));
    EXPECT_EQ(lines[5], status("input-stream-closed", 12288));

    auto record = models->record();
    EXPECT_EQ(record.decoderCalls, (std::vector<std::string>{"feed", "finish"}));
    EXPECT_EQ(record.openedLocale, "en-US");
    EXPECT_EQ(record.feedLengths, (std::vector<std::size_t>{2048, 2048, 2048}));
    EXPECT_EQ(std::memcmp(record.samples.data(), audio.data(), audio.size()), 0);

    for (const char* line : {"INFO Locale 匹配失败，回退到 en-US",
                             "INFO AppleSpeechAnalyzer 启动，locale=en-US preset=progressiveTranscription",
                             "INFO 调用 prepareToAnalyze，sampleRate=16000.0", "INFO 开始 start(inputSequence:)",
                             "DEBUG Analyzer 输入 buffer#3 frameCount=2048", "INFO Analyzer 输入流结束，buffer总数=3",
                             "DEBUG 收到结果 isFinal=true bytesProcessed=12288 textLength=11",
                             "INFO finalizeAndFinishThroughEndOfInput 完成，等待结果流结束", "INFO 结果流结束",
                             "INFO SpeechAnalyzer start + finalize 完成",
                             "DEBUG 接收到转写结果 isFinal=true bytesProcessed=12288", "INFO 转写管线正常结束",
                             "DEBUG 发送结果 isFinal=true bytesProcessed=12288", "INFO CLIRuntime 正常结束 bytesProcessed=12288"})
        EXPECT_TRUE(log.contains(line)) << line;
}

TEST(Transcription, TheRequestedLocaleResolvesToTheOneServedAndAFailureIsLogged) {
    const std::tuple<Script, std::string, std::vector<std::string>> cases[] = {
        {{.servingLocales = {{"zh-CN", "zh_CN"}}}, "zh_CN", {"INFO Locale zh-CN 匹配为 zh_CN"}},
        {{.servingLocales = {{"zh-CN", "zh-CN"}}}, "zh-CN", {}},
        {{.servingLocales = {}}, "zh-CN", {"ERROR 无法解析可用 locale，返回 zh-CN"}},
    };
    for (const auto& [script, resolved, logged] : cases) {
        RecordingLog log;
        EXPECT_EQ(pipeline(std::make_shared<InMemorySpeechModels>(script), log.logger()).resolveLocale("zh-CN"), resolved);
        EXPECT_EQ(log.lines(), logged);
    }
}

TEST(Transcription, EachStageFailureBecomesOneErrorLineWithItsCode) {
    // Each script, the code and message of its error line, and the failing stage's log line.
    const std::tuple<Script, std::string, std::string, std::string> cases[] = {
        {{.servingLocales = {}}, "apple_backend_unavailable", "Apple Speech 模块当前不可用。",
         "ERROR SpeechTranscriber 当前不可用，无法启动 Apple 后端"},
        {{.openFailure = "model missing"}, "apple_transcribe_failed", "model missing", "ERROR 转写管线出错: model missing"},
        {{.feedFailure = "decoder broke"}, "apple_transcribe_failed", "decoder broke", "ERROR SpeechAnalyzer 运行抛出错误: decoder broke"},
        {{.finishFailure = "no final"}, "apple_transcribe_failed", "no final", "ERROR SpeechAnalyzer 运行抛出错误: no final"},
    };
    // A megabyte, more than the reader may queue: a failure finds it waiting for room,
    // and the run must stop it to end.
    const auto audio = bytesOf(1 << 20);
    for (const auto& [script, code, message, logLine] : cases) {
        SCOPED_TRACE(message);
        RecordingLog log;
        auto [outcome, lines] = transcribe(audio, std::make_shared<InMemorySpeechModels>(script), log.logger());
        EXPECT_EQ(outcome, CLIRuntime::Outcome::failed);
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines.back(), error(code, message));
        EXPECT_TRUE(log.contains(logLine));
        EXPECT_TRUE(log.contains("ERROR CLIRuntime 捕获错误: " + message));
    }

    // A read failure travels through every stage to one error line.
    RecordingLog log;
    RuntimeOutput output;
    CLIRuntime runtime(output.emitter(), StandardInputStream(::open("/", O_RDONLY | O_CLOEXEC), log.logger()),
                       pipeline(std::make_shared<InMemorySpeechModels>(Script{}), log.logger()), log.logger());
    EXPECT_EQ(runtime.run(), CLIRuntime::Outcome::failed);
    EXPECT_EQ(output.lines().back(), error("apple_transcribe_failed", "read: Is a directory"));
    for (const char* stage : {"标准输入读取失败", "PCM 解析出错", "构建 Analyzer 输入流失败", "SpeechAnalyzer 运行抛出错误", "转写管线出错"})
        EXPECT_TRUE(log.contains(std::string("ERROR ") + stage + ": read: Is a directory")) << stage;
}

TEST(FinalTextFormatting, CapitalsBecomeLowerCaseCjkMeetsEnglishWithASpaceAndCasedTextKeepsItsLetters) {
    const CasingAndSpacingFormatter formatter;
    const std::pair<std::string, std::string> cases[] = {
        {"GO FORWARD TEN METERS", "go forward ten meters"},
        {"我们明天见HELLO WORLD", "我们明天见 hello world"},
        {"OK你好世界", "ok 你好世界"},
        {"I THINK I'M READY", "I think I'm ready"},
        {"i said hi to ian", "I said hi to ian"},               // lower case only, as pocketsphinx writes
        {"Tell iPhone i said NASA", "Tell iPhone i said NASA"},  // cased already: every letter stays
        {"你好，WORLD。３个 MP3", "你好，world。３个 mp3"},    // no space at punctuation or digits
        {"谢谢你们 THE", "谢谢你们 the"},
        {"\xE4\xBD HI\xFF", "\xE4\xBD hi\xFF"},                  // bytes that are no UTF-8 pass through
        {"", ""},
    };
    for (const auto& [engine, typed] : cases) EXPECT_EQ(formatter.format(engine), typed) << engine;
}

}  // namespace
}  // namespace harkline
