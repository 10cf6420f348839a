#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "cli-frame/Files/AtomicFile.h"
#include "test-support/TemporaryHome.h"

namespace cli {
namespace {

using testsupport::readFile;
using testsupport::TemporaryHome;

TEST(AtomicFile, ReplacesTheWholeFileOrThrowsAndKeepsTheOldOneLeavingNoTemporaryBehind) {
    TemporaryHome home;
    auto path = home.path() / "state.json";
    writeFileAtomically(path, std::string(100000, 'a'));
    writeFileAtomically(path, "old");
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.path()), {}), 1);
    // A folder in the way of the rename: everything up to the rename succeeds.
    std::filesystem::create_directories(home.path() / "blocked" / "inside");
    EXPECT_THROW(writeFileAtomically(home.path() / "blocked", "new"), std::system_error);
    EXPECT_THROW(writeFileAtomically(path / "below-a-file", "new"), std::system_error);
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.path()), {}), 2);
}

TEST(AtomicFile, TemporariesOfKilledWritersGoWithTheNextWriteAndThoseOfLiveOnesStay) {
    TemporaryHome home;
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    auto live = std::to_string(getpid());
    auto place = [&](const std::string& name, std::filesystem::file_time_type::duration age = {}) {
        testsupport::writeFile(home.path() / name, "partial");
        std::filesystem::last_write_time(home.path() / name, std::filesystem::file_time_type::clock::now() - age);
    };
    place(".state.json." + std::to_string(gone) + ".a1B2c3");         // its writer is gone
    place(".other.json." + std::to_string(gone) + ".d4E5f6");         // another file's, same folder
    place(".state.json." + live + ".g7H8i9", std::chrono::minutes(2));  // older than any write takes
    place(".state.json.j0K1l2", std::chrono::minutes(2));              // from before owners were named
    place(".state.json." + live + ".m3N4o5");                          // being written right now
    place(".state.json.lock", std::chrono::minutes(2));                // not a temporary at all
    place(".notes.txt.q6R7s8", std::chrono::minutes(2));               // nor is this, whose owner is unknown

    writeFileAtomically(home.path() / "state.json", "{}");
    std::set<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(home.path())) left.insert(entry.path().filename());
    EXPECT_EQ(left, (std::set<std::string>{"state.json", ".state.json." + live + ".m3N4o5", ".state.json.lock",
                                           ".notes.txt.q6R7s8"}));
}

}  // namespace
}  // namespace cli
