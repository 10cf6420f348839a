#include <filesystem>

#include <gtest/gtest.h>

#include "cli-frame/Files/AtomicFile.h"
#include "test-support/TemporaryHome.h"

namespace cli {
namespace {

using testsupport::readFile;
using testsupport::TemporaryHome;

std::size_t entriesIn(const std::filesystem::path& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
    return count;
}

TEST(AtomicFile, ReplacesTheWholeFileAndLeavesNoTemporaryBehind) {
    TemporaryHome home;
    auto path = home.path() / "state.json";
    writeFileAtomically(path, std::string(100000, 'a'));
    writeFileAtomically(path, "short");
    EXPECT_EQ(readFile(path), "short");
    EXPECT_EQ(entriesIn(home.path()), 1u);
}

TEST(AtomicFile, AFailedWriteThrowsAndKeepsTheOldFile) {
    TemporaryHome home;
    auto path = home.path() / "state.json";
    writeFileAtomically(path, "old");
    // A folder in the way of the rename: everything up to the rename succeeds.
    std::filesystem::create_directories(home.path() / "blocked" / "inside");
    EXPECT_THROW(writeFileAtomically(home.path() / "blocked", "new"), std::system_error);
    EXPECT_THROW(writeFileAtomically(path / "below-a-file", "new"), std::system_error);
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(entriesIn(home.path()), 2u);
}

}  // namespace
}  // namespace cli
