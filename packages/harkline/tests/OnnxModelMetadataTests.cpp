#include <random>

#include <gtest/gtest.h>

#include "harkline/Platform/Speech/SherpaOnnx/OnnxModelMetadata.h"
#include "test-support/ChildProcess.h"
#include "test-support/TemporaryHome.h"

namespace harkline {
namespace {

namespace fs = std::filesystem;

// The metadata reader faces files a user brings: whatever the bytes, it answers or
// throws std::runtime_error, and never reads past the file.
TEST(OnnxModelMetadata, ReadsTheEncodersKeysAndSurvivesAnyDamage) {
    testsupport::TemporaryHome home;
    auto model = home.path() / "model";
    auto made = testsupport::runProcess("/usr/bin/python3", {{SPEECH_TEST_MODEL_SCRIPT, "make", model.string()}, {}}, "",
                                        std::chrono::seconds(60));
    ASSERT_EQ(made.exitStatus, 0) << made.standardError;
    auto summary = readOnnxModelSummary(model / "encoder.onnx");
    EXPECT_EQ(summary.metadata.at("decode_chunk_len"), "32");
    EXPECT_EQ(summary.outputLastDimension, 32);  // encoder_out [N, 8, 32]

    auto bytes = testsupport::readFile(model / "encoder.onnx");
    auto damaged = home.path() / "damaged.onnx";
    std::mt19937 random(12);
    for (int round = 0; round < 400; ++round) {
        auto copy = bytes.substr(0, random() % (bytes.size() + 1));
        if (round % 2 == 1 && !copy.empty())
            for (int flips = 0; flips < 8; ++flips) copy[random() % copy.size()] = static_cast<char>(random());
        testsupport::writeFile(damaged, copy);
        try {
            readOnnxModelSummary(damaged);
        } catch (const std::runtime_error&) {
        }
    }
    testsupport::writeFile(damaged, "");
    EXPECT_THROW(readOnnxModelSummary(damaged), std::runtime_error);
    EXPECT_THROW(readOnnxModelSummary(home.path() / "missing.onnx"), std::runtime_error);
}

}  // namespace
}  // namespace harkline
