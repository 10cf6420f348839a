#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "hushline/Commands/CommandRouter.h"
#include "cli-frame/Testing/RecordingLogger.h"
#include "test-support/TemporaryHome.h"

namespace hushline {
namespace {

using audiohw::PropertyAddress;
using testsupport::readFile;
using testsupport::writeFile;
using namespace std::chrono_literals;

constexpr PropertyAddress kDefaultOutput{audiohw::kPropertyDefaultOutputDevice, audiohw::kScopeGlobal, 0};
constexpr PropertyAddress kName{audiohw::kPropertyName, audiohw::kScopeGlobal, 0};
constexpr PropertyAddress kMute{audiohw::kPropertyMute, audiohw::kScopeOutput, 0};
constexpr PropertyAddress kMain{audiohw::kPropertyVirtualMainVolume, audiohw::kScopeOutput, 0};
constexpr PropertyAddress kLeft{audiohw::kPropertyVolumeScalar, audiohw::kScopeOutput, 1};
constexpr PropertyAddress kRight{audiohw::kPropertyVolumeScalar, audiohw::kScopeOutput, 2};
constexpr audiohw::ObjectID kSpeakers = 40;
constexpr const char* kMuteFailed = R"({"type":"error","payload":{"code":"apple_audio_mute_failed",)"
                                    R"("message":"系统静音失败。","logPath":"/logs/hushline.log"}})"
                                    "\n";

// Runs commands in this process over in-memory hardware, each with a store freshly loaded
// from the file as a new process would, and collects the lines they write.
class CommandTest : public ::testing::Test {
protected:
    CommandTest() {
        if (pipe2(output_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe");
        hardware_->addDevice(kSpeakers);
        hardware_->setProperty(kSpeakers, kName, std::string("Speakers"));
        hardware_->setProperty(kSpeakers, kMute, std::uint32_t{0});
        hardware_->setProperty(kSpeakers, kMain, 0.75F);
        hardware_->setProperty(kSpeakers, kLeft, 0.75F);
        hardware_->setProperty(kSpeakers, kRight, 0.5F);
        hardware_->setProperty(audiohw::kSystemObject, kDefaultOutput, kSpeakers);
    }
    ~CommandTest() override {
        close(output_[0]);
        close(output_[1]);
    }

    // The one line the command wrote.
    std::string run(std::optional<std::string> word) {
        auto logger = log_.logger();
        CommandRouter router(CommandContext{cli::CLIMessageEmitter(logger, logPath_, output_[1]), logger,
                                            std::make_shared<StateStore>(file_, logger, 20ms),
                                            AudioController(hardware_, logger), logPath_});
        router.run(word, {});
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

// A mute that fails takes its record back, unless it changed the device before failing.
TEST_F(CommandTest, AFailedMuteLeavesTheStoreAsItWasUnlessTheDeviceChanged) {
    hardware_->refuseWrites(kSpeakers, kMute);
    const std::string otherDevice = R"({"deviceID":41,"muted":false,"createdAt":1})";
    writeFile(file_, otherDevice);
    EXPECT_EQ(run("mute"), kMuteFailed);
    EXPECT_EQ(readFile(file_), otherDevice);
    std::filesystem::remove(file_);
    EXPECT_EQ(run("mute"), kMuteFailed);
    EXPECT_FALSE(std::filesystem::exists(file_));

    // The left channel went silent before the right one refused: the record stays for the restore.
    hardware_->removeProperty(kSpeakers, kMute);
    hardware_->removeProperty(kSpeakers, kMain);
    hardware_->refuseWrites(kSpeakers, kRight);
    EXPECT_EQ(run("mute"), kMuteFailed);
    EXPECT_EQ(log_.lines().at(log_.lines().size() - 2), "ERROR 静音未完成但设备已被改动，保留快照以便恢复");
    EXPECT_EQ(readFile(file_).rfind(R"({"deviceID":40,"deviceName":"Speakers","leftVolume":0.75,"rightVolume":0.5,)", 0),
              0U);
}

TEST_F(CommandTest, LinesLeaveOutWhatTheDeviceCannotTell) {
    hardware_->refuseReads(kSpeakers, kName);
    hardware_->removeProperty(kSpeakers, kMute);
    hardware_->removeProperty(kSpeakers, kRight);
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
