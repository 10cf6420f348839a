#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "hushline/Commands/CommandRouter.h"
#include "cli-frame/Testing/RecordingLogger.h"
#include "test-support/TemporaryHome.h"

namespace hushline {
namespace {

using testsupport::readFile;
using testsupport::writeFile;
using namespace std::chrono_literals;

constexpr audiohw::DeviceID kSpeakers = 40;
constexpr const char* kMuteFailed = R"({"type":"error","payload":{"code":"apple_audio_mute_failed",)"
                                    R"("message":"系统静音失败。","logPath":"/logs/hushline.log"}})"
                                    "\n";

// Runs commands in this process over in-memory hardware, each with a store freshly loaded
// from the file as a new process would, and collects the lines they write.
class CommandTest : public ::testing::Test {
protected:
    CommandTest() {
        if (pipe2(output_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe");
        addSpeakers();
    }
    ~CommandTest() override {
        close(output_[0]);
        close(output_[1]);
    }

    // Speakers with a mute switch, a main volume at 0.75 and channels at 0.75 and 0.5, made
    // the default output device.
    void addSpeakers(const std::function<void(audiohw::Device&)>& change = {}) {
        audiohw::Device speakers = audiohw::InMemoryAudioHardware::output(kSpeakers, "Speakers", "speakers", {0.75F, 0.5F});
        if (change) change(speakers);
        hardware_->update([&](audiohw::HardwareSnapshot& state) {
            state.devices = {speakers};
            state.defaultOutput = kSpeakers;
        });
    }

    // The one line the command wrote.
    std::string run(std::optional<std::string> word) {
        auto logger = log_.logger();
        runCommand({cli::CLIMessageEmitter(logger, logPath_, output_[1]), logger,
                    std::make_shared<StateStore>(file_, logger, 20ms), AudioController(hardware_, logger)},
                   word);
        std::string text;
        char buffer[4096];
        ssize_t count;
        while ((count = read(output_[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(count));
        return text;
    }

    std::shared_ptr<audiohw::InMemoryAudioHardware> hardware_ = std::make_shared<audiohw::InMemoryAudioHardware>();
    testsupport::TemporaryHome home_;
    std::filesystem::path file_ = home_.dataHome() / "state.json";
    std::optional<std::string> logPath_ = "/logs/hushline.log";
    cli::RecordingLogger log_;
    int output_[2] = {-1, -1};
};

TEST_F(CommandTest, WhileAnotherProcessHoldsTheLockNothingIsTouched) {
    const std::string pending = R"({"deviceID":40,"muted":false,"createdAt":1})";
    writeFile(file_, pending);
    const StateLock held = StateLock::acquire(file_.string() + ".lock", 0ms);
    EXPECT_EQ(run("mute"), kMuteFailed);
    EXPECT_EQ(run("restore"), R"({"type":"error","payload":{"code":"apple_audio_restore_failed",)"
                              R"("message":"恢复系统音量失败。","logPath":"/logs/hushline.log","details":{"deviceId":0,)"
                              R"("usedSnapshot":false,"fallbackApplied":false}}})"
                              "\n");
    EXPECT_TRUE(hardware_->writes().empty());
    EXPECT_EQ(readFile(file_), pending);
    EXPECT_EQ(log_.lines().at(1).rfind("ERROR 无法取得静音快照锁: another process held " + file_.string() + ".lock", 0),
              0U);
}

// A refused mute changed nothing, so it takes its record back and leaves an older one alone.
TEST_F(CommandTest, AFailedMuteLeavesTheStoreAsItWas) {
    hardware_->refuseWrites("mute 40");
    const std::string otherDevice = R"({"deviceID":41,"muted":false,"createdAt":1})";
    writeFile(file_, otherDevice);
    EXPECT_EQ(run("mute"), kMuteFailed);
    EXPECT_EQ(readFile(file_), otherDevice);
    std::filesystem::remove(file_);
    EXPECT_EQ(run("mute"), kMuteFailed);
    EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(CommandTest, LinesLeaveOutWhatTheDeviceCannotTell) {
    addSpeakers([](audiohw::Device& speakers) {
        speakers.name.reset();
        speakers.muted.reset();
        speakers.channels = 1;
        speakers.channelVolumes = {0.75F};
    });
    EXPECT_EQ(run("status"), R"({"type":"status","payload":{"stage":"audio-status","logPath":"/logs/hushline.log",)"
                             R"("data":{"deviceId":40,"mainVolume":0.75,"leftVolume":0.75,"hasPendingSnapshot":false}}})"
                             "\n");
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
