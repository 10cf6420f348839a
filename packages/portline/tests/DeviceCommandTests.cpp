#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "audio-hardware/Testing/InMemoryAudioHardware.h"
#include "portline/Commands/GetDefaultCommand.h"
#include "portline/Commands/ListCommand.h"
#include "portline/Commands/SetDefaultCommand.h"
#include "portline/Runtime/CLIError.h"
#include "cli-frame/Testing/RecordingLogger.h"

namespace portline {
namespace {

using namespace audiohw;

// The commands over the in-memory hardware, their output read back through a pipe.
class DeviceCommandTest : public ::testing::Test {
protected:
    DeviceCommandTest() : hardware_(std::make_shared<InMemoryAudioHardware>()) {
        if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe");
        hardware_->update([](HardwareSnapshot& state) {
            state.devices = {InMemoryAudioHardware::output(10, "Speakers", "speakers", {1.0F}),
                             InMemoryAudioHardware::input(11, "内置麦克风", "mic", 1),
                             InMemoryAudioHardware::input(12, "USB", "usb/1", 2)};
            state.defaultInput = 11;
        });
    }
    ~DeviceCommandTest() override {
        close(fds_[0]);
        close(fds_[1]);
    }

    CommandContext context(std::optional<std::string> logPath = std::nullopt) {
        return {cli::CLIMessageEmitter(log_.logger(), logPath, fds_[1]), log_.logger(), logPath, hardware_};
    }

    std::string output() {
        std::string text;
        char buffer[4096];
        ssize_t count;
        while ((count = read(fds_[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(count));
        return text;
    }

    int fds_[2];
    std::shared_ptr<InMemoryAudioHardware> hardware_;
    cli::RecordingLogger log_;
};

// Results and most failures are checked against the real server; here what it cannot do.
TEST_F(DeviceCommandTest, FailuresTheServerCannotProduceBecomeOneErrorLineWithTheLogPath) {
    hardware_->failReads(true);
    EXPECT_EQ(ListCommand(context("/var/log/p.log")).run(), 1);
    EXPECT_EQ(output(), R"({"type":"error","payload":{"code":"ENUM_FAILED","message":"枚举音频设备失败","logPath":"/var/log/p.log"}})" "\n");
    EXPECT_EQ(log_.lines().front(), "INFO 执行 list 命令");

    hardware_->failReads(false);
    hardware_->update([](HardwareSnapshot& state) { state.defaultInput.reset(); });
    EXPECT_EQ(GetDefaultCommand(context()).run(), 1);
    EXPECT_EQ(output(), R"({"type":"error","payload":{"code":"NO_DEFAULT_DEVICE","message":"未找到默认输入设备"}})" "\n");

    // Asked for, but the server keeps its own default: a failure after a bounded wait.
    hardware_->ignoreDefaultInputChanges(true);
    EXPECT_EQ(SetDefaultCommand(context(), {"--uid", "usb/1"}).run(), 1);
    EXPECT_EQ(output(), R"({"type":"error","payload":{"code":"SET_DEFAULT_FAILED","message":"设置默认设备失败"}})" "\n");
    EXPECT_TRUE(log_.contains("INFO 执行 set-default 命令, uid=usb/1"));
    EXPECT_TRUE(log_.contains("ERROR 默认输入设备未能切换到: usb/1"));

    hardware_->update([](HardwareSnapshot& state) { state.devices.resize(1); });
    EXPECT_EQ(ListCommand(context()).run(), 0);
    EXPECT_EQ(output(), R"({"type":"result","payload":{"devices":[]}})" "\n");
}

TEST_F(DeviceCommandTest, SetDefaultTakesTheLastNonEmptyUID) {
    auto uidOf = [&](std::vector<std::string> arguments) { return SetDefaultCommand(context(), arguments).uid(); };
    EXPECT_EQ(uidOf({"--uid", "a"}), "a");
    EXPECT_EQ(uidOf({"--uid=a=b=c"}), "a=b=c");
    EXPECT_EQ(uidOf({"--uid", "a", "--uid", "b"}), "b");
    EXPECT_EQ(uidOf({"--uid=a", "--uid"}), "a");  // a trailing --uid takes nothing
    EXPECT_EQ(uidOf({"--uid", "--uid"}), "--uid");
    EXPECT_EQ(uidOf({"x", "--uid", "a", "--uidx=b", "--UID=c"}), "a");
    EXPECT_EQ(uidOf({"--uid", std::string(100000, 'u')}), std::string(100000, 'u'));

    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {}, {"--uid"}, {"--uid="}, {"--uid", ""}, {"--uid", "a", "--uid="}, {"uid=a"}, {"-uid", "a"}}) {
        try {
            SetDefaultCommand(context(), arguments);
            ADD_FAILURE() << "built from " << arguments.size() << " arguments";
        } catch (const CLIError& error) {
            EXPECT_EQ(error.errorCode(), "INVALID_ARGUMENT");
            EXPECT_STREQ(error.what(), "参数无效：缺少 --uid 参数");
        }
    }
}

}  // namespace
}  // namespace portline
