#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "harkline/Platform/Speech/WarmEngine/FrameConnection.h"

// The frames between a dictation and the warm engine, over a real socket pair.
namespace harkline {
namespace {

using namespace std::chrono_literals;
using Clock = FrameConnection::Clock;

std::pair<FrameConnection, FrameConnection> connectedPair() {
    int ends[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    return {FrameConnection(ends[0]), FrameConnection(ends[1])};
}

TEST(FrameConnection, FramesCrossWholeAndSilenceNonsenseOrAPeerGoneEndTheWait) {
    auto ends = connectedPair();
    auto& [dictation, engine] = ends;
    // Larger than the socket's buffer: it crosses while the other end reads.
    std::string largest(FrameConnection::largestPayload, 'x');
    std::thread sender([&ends, &largest] {
        EXPECT_TRUE(ends.first.send({FrameKind::samples, largest}, Clock::now() + 20s));
    });
    auto received = engine.receive(Clock::now() + 20s);
    sender.join();
    ASSERT_TRUE(received);
    EXPECT_EQ(received->kind, FrameKind::samples);
    EXPECT_EQ(received->payload, largest);
    EXPECT_TRUE(engine.send({FrameKind::hypotheses, "[]"}, Clock::now() + 20s));
    received = dictation.receive(Clock::now() + 20s);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->payload, "[]");

    EXPECT_FALSE(engine.receive(Clock::now() + 50ms));  // nothing sent
    EXPECT_FALSE(dictation.send({FrameKind::samples, largest + "x"}, Clock::now() + 20s));

    // Headers that are no frame of ours: too long a payload, an unknown kind.
    for (std::string header : {std::string("\x01\x00\x10\x00\x04", 5), std::string("\x00\x00\x00\x00\x09", 5)}) {
        auto [writer, reader] = connectedPair();
        ASSERT_EQ(::write(writer.descriptor(), header.data(), header.size()), 5);
        EXPECT_FALSE(reader.receive(Clock::now() + 20s));
    }
    // Half a frame, then the peer is gone.
    auto [writer, reader] = connectedPair();
    ASSERT_EQ(::write(writer.descriptor(), "\x08\x00\x00\x00\x04half", 9), 9);
    writer = FrameConnection(-1);
    EXPECT_FALSE(reader.receive(Clock::now() + 20s));
    EXPECT_FALSE(reader.send({FrameKind::finish, {}}, Clock::now() + 20s));
}

}  // namespace
}  // namespace harkline
