// A TCP stream may be cut anywhere: the decoder must give the same messages, in order,
// however the bytes arrive, and never hold more than the largest message.
#include "server/frame_decoder.h"

#include <gtest/gtest.h>

#include "server/wire_building.h"
#include "tests/support/test_client.h"

namespace pellvane {
namespace {

using testing::makeMessage;
using testing::received;

const Message keyDown = makeMessage(wire::KeyDown, 1, 12, 0x41);
const Message keyUp = makeMessage(wire::KeyUp, 0, 0);  // a bare header, the smallest message
// Messages of several sizes, one after another.
const std::vector<Message> sample = {wire::buildHello("Phone"), keyDown, keyUp,
                                     makeMessage(wire::GamepadEvent, 0, 16, 0x3F)};

Message joined(const std::vector<Message>& messages) {
    Message stream;
    for (const Message& message : messages) {
        stream.insert(stream.end(), message.begin(), message.end());
    }
    return stream;
}

// Feeds the stream in pieces that end at `cuts` (and the rest) and takes every message as
// soon as it is whole.
std::vector<Message> decodeInPieces(const Message& stream, std::vector<std::size_t> cuts) {
    cuts.push_back(stream.size());
    FrameDecoder decoder;
    std::vector<Message> out;
    std::size_t position = 0;
    for (std::size_t end : cuts) {
        EXPECT_EQ(decoder.feed(std::span(stream).subspan(position, end - position)),
                  end - position);
        position = end;
        while (auto message = decoder.next()) {
            EXPECT_EQ(message->header.packetSize, message->bytes.size());
            out.push_back(message->bytes);
        }
    }
    EXPECT_EQ(decoder.held(), 0u);
    return out;
}

TEST(FrameDecoder, AStreamCutAtEveryByteGivesTheSameMessages) {
    const Message stream = joined(sample);
    std::vector<std::size_t> everyByte;
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        ASSERT_EQ(decodeInPieces(stream, {cut}), sample) << "cut at " << cut;
        everyByte.push_back(cut);
    }
    EXPECT_EQ(decodeInPieces(stream, everyByte), sample);
}

TEST(FrameDecoder, SeveralMessagesInOneReadComeOutInOrder) {
    const Message stream = joined(sample);
    FrameDecoder decoder;
    const auto room = decoder.receiveSpace();
    ASSERT_GE(room.size(), stream.size());
    std::copy(stream.begin(), stream.end(), room.begin());
    decoder.received(stream.size());
    for (const Message& expected : sample) {
        ASSERT_TRUE(decoder.hasMessage());
        EXPECT_EQ(decoder.next(), received(expected));
    }
    EXPECT_FALSE(decoder.hasMessage());
    EXPECT_FALSE(decoder.next());
}

TEST(FrameDecoder, AnOutOfRangeHeaderLosesOnlyItsTwelveBytes) {
    for (std::uint32_t packetSize : {0u, 11u, 65536u, 70000u}) {
        Message bad(wire::headerSize, 0);
        wire::writeHeader(bad, {packetSize, wire::KeyDown, 1});
        const Message stream = joined({keyDown, bad, keyUp});
        FrameDecoder decoder;
        decoder.feed(stream);
        EXPECT_EQ(decoder.next(), received(keyDown));
        EXPECT_EQ(decoder.next(), received(keyUp)) << packetSize;
        EXPECT_EQ(decoder.discardedHeaders(), 1u);
        // Cut inside the bad header, it is judged only once all of it has come.
        EXPECT_EQ(decodeInPieces(stream, {keyDown.size() + 5}), (std::vector{keyDown, keyUp}));
    }
}

TEST(FrameDecoder, HoldsAtMostTheLargestMessage) {
    const Message largest = makeMessage(wire::GamepadEvent, 0, wire::MAXUINT16 - 12, 0x5A);
    FrameDecoder decoder;
    EXPECT_EQ(decoder.feed(keyUp), keyUp.size());
    // Only the room left of 65535 bytes is taken; the rest waits for the next read.
    EXPECT_EQ(decoder.feed(largest), largest.size() - keyUp.size());
    EXPECT_EQ(decoder.held(), FrameDecoder::capacity);
    EXPECT_EQ(decoder.next(), received(keyUp));
    EXPECT_FALSE(decoder.next());
    EXPECT_EQ(decoder.receiveSpace().size(), keyUp.size());
    decoder.feed(std::span(largest).last(keyUp.size()));
    EXPECT_EQ(decoder.next(), received(largest));
    EXPECT_EQ(decoder.held(), 0u);
}

}  // namespace
}  // namespace pellvane
