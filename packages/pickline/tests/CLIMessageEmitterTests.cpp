#include <sstream>

#include <gtest/gtest.h>

#include "pickline/Runtime/CLIMessageEmitter.h"

namespace pickline {
namespace {

std::string emitted(const auto& message) {
    std::ostringstream output;
    CLIMessageEmitter(output).emit(message);
    return output.str();
}

TEST(CLIMessageEmitter, WritesSortedKeysEscapedSlashesAndRawUnicode) {
    SelectionPayload files{"files", std::vector<FileInfo>{{"file:///tmp/a%20b.txt", "x/y \"q\" é\n"},
                                                          {"file:///tmp/dir/", std::nullopt}}};
    EXPECT_EQ(emitted(cli::CLIMessage::result(files)),
              R"({"payload":{"content":[{"path":"file:\/\/\/tmp\/a%20b.txt","text":"x\/y \"q\" é\n"},)"
              R"({"path":"file:\/\/\/tmp\/dir\/"}],"selectionType":"files"},"type":"result"})"
              "\n");
    EXPECT_EQ(emitted(cli::CLIMessage::result(SelectionPayload{"text", std::string("a/b")})),
              "{\"payload\":{\"content\":\"a\\/b\",\"selectionType\":\"text\"},\"type\":\"result\"}\n");
    // Lines with nothing selected and errors are compared byte for byte in SelectionDetectorTests.
}

TEST(CLIMessageEmitter, WritesTheFixedLineWhenTheMessageCannotBeEncoded) {
    EXPECT_EQ(emitted(cli::CLIMessage::result(SelectionPayload{"text", std::string("bad \xff byte")})),
              std::string(CLIMessageEmitter::fallbackLine) + "\n");
    EXPECT_EQ(CLIMessageEmitter::fallbackLine,
              R"({"type":"error","payload":{"code":"INTERNAL_ERROR","message":"Failed to encode output"}})");
}

}  // namespace
}  // namespace pickline
