#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "hushline/Commands/CommandRouter.h"
#include "hushline/tests/RecordingLogger.h"
#include "test-support/TemporaryHome.h"

namespace hushline {
namespace {

using testsupport::readFile;
using testsupport::writeFile;

constexpr audiohw::DeviceID kSpeakers = 40;

// Runs commands in this process over in-memory hardware, each with a store freshly loaded
// from the file as a new process would, and collects the lines they write.
class CommandTest : public ::testing::Test {
protected:
    CommandTest() {
        if (pipe2(output_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe");
    }
    ~CommandTest() override {
        close(output_[0]);
        close(output_[1]);
    }

    void addSpeakers(const std::function<void(audiohw::Device&)>& change = {}) {
        audiohw::Device speakers = audiohw::InMemoryAudioHardware::output(kSpeakers, "Speakers", "speakers", {0.75F, 0.5F});
        if (change) change(speakers);
        hardware_->update([&](audiohw::HardwareSnapshot& state) {
            state.devices = {speakers};
            state.defaultOutput = kSpeakers;
        });
    }

    audiohw::Device speakers() const { return *hardware_->state().device(kSpeakers); }

    // The one line the command wrote.
    std::string run(std::optional<std::string> word) {
        auto logger = log_.logger();
        CommandRouter router(CommandContext{cli::CLIMessageEmitter(logger, logPath_, output_[1]), logger,
                                            std::make_shared<StateStore>(file_, logger),
                                            AudioController(hardware_, logger), logPath_});
        router.run(word, {});
        std::string text;
        char buffer[4096];
        ssize_t count;
        while ((count = read(output_[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(count));
        return text;
    }

    std::string status(const std::string& data) {
        return R"({"type":"status","payload":{"stage":"audio-status","logPath":"/logs/hushline.log","data":)" + data +
               "}}\n";
    }

    std::shared_ptr<audiohw::InMemoryAudioHardware> hardware_ = std::make_shared<audiohw::InMemoryAudioHardware>();
    testsupport::TemporaryHome home_;
    std::filesystem::path file_ = home_.dataHome() / "state.json";
    std::optional<std::string> logPath_ = "/logs/hushline.log";
    RecordingLogger log_;
    int output_[2] = {-1, -1};
};

TEST_F(CommandTest, MuteStatusRestoreStatus) {
    addSpeakers();
    EXPECT_EQ(run("mute"),
              R"({"type":"status","payload":{"stage":"muted","logPath":"/logs/hushline.log","data":{"deviceId":40,)"
              R"("deviceName":"Speakers","method":"mute-property","previousVolumes":{"main":0.75,"left":0.75,)"
              R"("right":0.5,"muted":false}}}})"
              "\n");
    EXPECT_TRUE(std::filesystem::exists(file_));
    EXPECT_EQ(run("status"), status(R"({"deviceId":40,"deviceName":"Speakers","mainVolume":0.75,"leftVolume":0.75,)"
                                    R"("rightVolume":0.5,"muted":true,"hasPendingSnapshot":true})"));
    EXPECT_EQ(run("restore"),
              R"({"type":"status","payload":{"stage":"restored","logPath":"/logs/hushline.log","data":{"deviceId":40,)"
              R"("deviceName":"Speakers","usedSnapshot":true,"fallbackApplied":false}}})"
              "\n");
    EXPECT_FALSE(std::filesystem::exists(file_));
    EXPECT_EQ(run(std::nullopt), status(R"({"deviceId":40,"deviceName":"Speakers","mainVolume":0.75,)"
                                        R"("leftVolume":0.75,"rightVolume":0.5,"muted":false,"hasPendingSnapshot":false})"));

    const auto logged = log_.lines();
    for (const char* line : {"INFO 执行 mute 指令", "INFO 执行 status 指令", "INFO 执行 restore 指令",
                             "DEBUG 写入消息 type=status"}) {
        EXPECT_NE(std::find(logged.begin(), logged.end(), line), logged.end()) << line;
    }
}

TEST_F(CommandTest, ASecondMuteRecordsTheSilencedStateAndARepeatedRestoreFallsBack) {
    addSpeakers();
    run("mute");
    EXPECT_NE(run("mute").find(R"("previousVolumes":{"main":0.75,"left":0.75,"right":0.5,"muted":true})"),
              std::string::npos);
    run("restore");
    EXPECT_EQ(speakers().muted, true);

    EXPECT_EQ(run("restore"),
              R"({"type":"error","payload":{"code":"apple_audio_state_missing","message":"未找到可用的静音状态快照。",)"
              R"("logPath":"/logs/hushline.log","details":{"deviceId":40,"deviceName":"Speakers","usedSnapshot":false,)"
              R"("fallbackApplied":true}}})"
              "\n");
    EXPECT_EQ(speakers().muted, false);
    EXPECT_EQ(speakers().mainVolume, 0.5F);
}

TEST_F(CommandTest, AFailedMuteLeavesTheStoredSnapshotAlone) {
    addSpeakers();
    const std::string pending = R"({"deviceID":40,"muted":false,"createdAt":1})";
    writeFile(file_, pending);
    hardware_->refuseWrites("mute 40");
    EXPECT_EQ(run("mute"), R"({"type":"error","payload":{"code":"apple_audio_mute_failed","message":"系统静音失败。",)"
                           R"("logPath":"/logs/hushline.log"}})"
                           "\n");
    EXPECT_EQ(readFile(file_), pending);
}

TEST_F(CommandTest, AMuteWhoseSnapshotCannotBeKeptNorTakenBackIsStillAFailure) {
    addSpeakers();
    std::filesystem::create_directories(file_);  // a folder where the file should go
    hardware_->refuseWrites("volumes 40 main");
    EXPECT_EQ(run("mute"), R"({"type":"error","payload":{"code":"apple_audio_mute_failed","message":"系统静音失败。",)"
                           R"("logPath":"/logs/hushline.log"}})"
                           "\n");
    const auto logged = log_.lines();
    for (const char* line : {"ERROR 静音快照未能保存，撤销本次静音", "ERROR 撤销静音失败：系统静音失败。"}) {
        EXPECT_NE(std::find(logged.begin(), logged.end(), line), logged.end()) << line;
    }
}

TEST_F(CommandTest, LinesLeaveOutWhatTheDeviceCannotTell) {
    addSpeakers([](audiohw::Device& speakers) {
        speakers.name.reset();
        speakers.muted.reset();
        speakers.channels = 1;
        speakers.channelVolumes = {0.75F};
    });
    EXPECT_EQ(run("status"), status(R"({"deviceId":40,"mainVolume":0.75,"leftVolume":0.75,"hasPendingSnapshot":false})"));
    EXPECT_EQ(run("mute"),
              R"({"type":"status","payload":{"stage":"muted","logPath":"/logs/hushline.log","data":{"deviceId":40,)"
              R"("method":"main-volume-zero","previousVolumes":{"main":0.75,"left":0.75}}}})"
              "\n");
    EXPECT_EQ(readFile(file_).rfind(R"({"deviceID":40,"mainVolume":0.75,"leftVolume":0.75,"createdAt":)", 0), 0U);
    EXPECT_NE(run("restore").find(R"("data":{"deviceId":40,"usedSnapshot":true,"fallbackApplied":false})"),
              std::string::npos);
}

}  // namespace
}  // namespace hushline
