// The protocol's layouts checked byte by byte against their documented offsets, and its
// readers against messages that claim more than they hold.
#include <gtest/gtest.h>

#include <string>

#include "server/wire_building.h"
#include "server/wire_cursor.h"
#include "server/wire_reading.h"
#include "tests/support/test_client.h"

namespace pellvane::wire {
namespace {

using testing::named;
using testing::received;

std::uint32_t u32At(const Message& message, std::size_t offset) {
    std::uint32_t value = 0;
    EXPECT_TRUE(Reader(message, offset).u32(value)) << offset;
    return value;
}

Message bytesAt(const Message& message, std::size_t offset, std::size_t count) {
    return Message(message.begin() + static_cast<std::ptrdiff_t>(offset),
                   message.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

TEST(WireCursor, ReadsAreLittleEndianAndAllOrNothing) {
    const Message bytes = {0x44, 0x33, 0x22, 0x11, 0xAB, 0xCD};
    Reader reader(bytes);
    std::uint32_t value = 0;
    ASSERT_TRUE(reader.u32(value));
    EXPECT_EQ(value, 0x11223344u);
    EXPECT_FALSE(reader.u32(value));  // two bytes left: nothing is taken
    EXPECT_EQ(reader.position(), 4u);
    std::uint16_t port = 0;
    ASSERT_TRUE(reader.u16NetworkOrder(port));
    EXPECT_EQ(port, 0xABCD);
    std::span<const std::uint8_t> field;
    EXPECT_FALSE(Reader(bytes, 2).bytes(5, field));
    EXPECT_FALSE(Reader(bytes, SIZE_MAX).u16(port));

    Message out(6, 0xEE);
    Writer writer(out, 4);
    EXPECT_FALSE(writer.u32(0));
    EXPECT_EQ(out, Message(6, 0xEE));
    EXPECT_TRUE(writer.u16(0x0102));
    EXPECT_EQ(out[4], 0x02);
}

TEST(WireProtocol, HeaderFieldsAndTheSizeChecks) {
    Message bytes(12, 0);
    writeHeader(bytes, {0x11223344, 0x55667788, 0x99AABBCC});
    EXPECT_EQ(bytes,
              (Message{0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0xCC, 0xBB, 0xAA, 0x99}));
    EXPECT_EQ(readHeader(bytes), (MessageHeader{0x11223344, 0x55667788, 0x99AABBCC}));
    EXPECT_FALSE(readHeader(std::span(bytes).first(11)));
    EXPECT_FALSE(isValidPacketSize(11));
    EXPECT_TRUE(isValidPacketSize(12));
    EXPECT_TRUE(isValidPacketSize(65535));
    EXPECT_FALSE(isValidPacketSize(65536));

    // 11 bytes are too few; 20 bytes that say 20 are one message; 20 that say 24 are not.
    Message datagram = buildMessage(ChannelEvent, 0, Message(8, 0));
    EXPECT_EQ(wholeMessage(datagram), received(datagram));
    EXPECT_FALSE(isAcceptableDatagram(std::span(datagram).first(11)));
    writeHeader(datagram, {24, ChannelEvent, 0});
    EXPECT_FALSE(wholeMessage(datagram));
}

TEST(WireProtocol, ServerNameIsCutTo127CharactersAndAlwaysEndsInNul) {
    const Message reply = buildHelloReply(std::string(200, 'n'), nullptr);
    Message field(127, 'n');
    field.push_back(0);
    EXPECT_EQ(bytesAt(reply, 12, 128), field);
    EXPECT_EQ(readHelloReply(reply).serverName, std::string(127, 'n'));
    const Message shortReply = buildHelloReply(std::string(126, 'k'), nullptr);
    EXPECT_EQ(shortReply[12 + 125], 'k');
    EXPECT_EQ(shortReply[12 + 126], 0);
}

TEST(WireProtocol, HelloReplyTakesAtMost248RecordsAndARefusalNone) {
    AppList list;
    for (std::uint32_t i = 0; i < 300; ++i) {
        list.records.push_back(named("app" + std::to_string(i), 1000 + i));
    }
    const Message reply = buildHelloReply("host", &list);
    ASSERT_EQ(reply.size(), 32880u);
    EXPECT_EQ(readHeader(reply), (MessageHeader{32880, HelloReply, 32868}));
    EXPECT_EQ(u32At(reply, 140), 248u);
    const auto apps = readHelloReply(reply).apps;
    ASSERT_EQ(apps.size(), 248u);
    EXPECT_EQ(apps.front(), list.records.front());
    EXPECT_EQ(apps.back(), list.records[247]);

    const AppList empty;
    const Message bare = buildHelloReply("host", nullptr);
    EXPECT_EQ(buildHelloReply("host", &empty), bare);
    EXPECT_EQ(readHeader(bare), (MessageHeader{144, HelloReply, 132}));
    EXPECT_EQ(u32At(bare, 140), 0u);
    Message refusal = bare;
    Writer(refusal, 4).u32(Refusal);
    EXPECT_EQ(buildRefusal("host"), refusal);
}

// A client reads no further than what a server sent, whatever its counts say.
TEST(WireProtocol, RepliesAndNamesAreReadNoFurtherThanTheyReach) {
    AppList list;
    list.records.assign(3, named("app", 1));
    Message reply = buildHelloReply("host", &list);
    Writer(reply, 140).u32(1000);
    reply.pop_back();  // the last record is cut
    EXPECT_EQ(readHelloReply(reply).apps.size(), 2u);

    Message nameless(144, 'x');  // no NUL in the name field
    EXPECT_EQ(readHelloReply(nameless).serverName, std::string(128, 'x'));
    EXPECT_EQ(readHelloReply(std::span(nameless).first(20)).serverName, std::string(8, 'x'));
    EXPECT_TRUE(readHelloReply(std::span(nameless).first(5)).apps.empty());
    const Message hello = buildHello("Phone");
    EXPECT_EQ(readHeader(hello), (MessageHeader{140, Hello, 128}));
    EXPECT_EQ(readNameField(hello, 12), "Phone");
    EXPECT_EQ(readNameField(std::span(hello).first(14), 12), "Ph");
}

TEST(WireProtocol, UdpInfoLayout) {
    const Message info = buildUdpInfo(0x1234, 0xABCD);
    ASSERT_EQ(info.size(), 56u);
    EXPECT_EQ(readHeader(info), (MessageHeader{56, UdpInfo, 44}));
    // Family little-endian, port in network order, then zeros.
    EXPECT_EQ(bytesAt(info, 12, 6), (Message{0x02, 0x00, 0x12, 0x34, 0, 0}));
    EXPECT_EQ(bytesAt(info, 28, 6), (Message{0x17, 0x00, 0xAB, 0xCD, 0, 0}));
    EXPECT_EQ(bytesAt(info, 18, 10), Message(10, 0));
    EXPECT_EQ(bytesAt(info, 34, 22), Message(22, 0));
    const auto ports = readUdpInfo(info);
    ASSERT_TRUE(ports);
    EXPECT_EQ(ports->ipv4, 0x1234);
    EXPECT_EQ(ports->ipv6, 0xABCD);
    EXPECT_FALSE(readUdpInfo(std::span(info).first(55)));
}

TEST(WireProtocol, AppNameRecordsKeepTheirNameInsideTheField) {
    AppNameRecord record;
    record.setName(std::string(300, 'x'));
    EXPECT_EQ(record.nameView().size(), 127u);
    record.name.fill('y');  // no NUL at all
    EXPECT_EQ(record.nameView().size(), 128u);
    record.processId = 77;
    const Message message = buildAppName(record);
    EXPECT_EQ(readHeader(message), (MessageHeader{144, AppName, 132}));
    EXPECT_EQ(u32At(message, 140), 77u);
    EXPECT_EQ(readAppName(received(message)), record);
    EXPECT_FALSE(readAppName(received(Message(message.begin(), message.end() - 1))));
}

TEST(WireProtocol, KeyMessagesCountEntriesAndReadOnlyThoseThatArePresent) {
    const KeyEntry entries[] = {{7, u'A', noKeyIndex}, {0, noCharacter, 76}};
    Message message = buildKeyMessage(KeyUp, entries);
    EXPECT_EQ(readHeader(message), (MessageHeader{36, KeyUp, 2}));
    EXPECT_EQ(u32At(message, 12), 7u);
    EXPECT_EQ(u32At(message, 16), 0x41u);
    EXPECT_EQ(u32At(message, 20), noKeyIndex);
    EXPECT_EQ(u32At(message, 32), 76u);
    EXPECT_EQ(readKeyEntries(received(message)), (std::vector<KeyEntry>(entries, entries + 2)));

    // A count that claims more than the message holds yields the whole entries present.
    writeHeader(message, {35, KeyUp, 1000});
    message.pop_back();
    EXPECT_EQ(readKeyEntries(received(message)).size(), 1u);
}

TEST(WireProtocol, GamepadEventLayout) {
    const GamepadPair pairs[] = {{0, 1.0f}, {13, 0.5f}};
    const Message message = buildGamepadEvent(gamepadAxes, pairs);
    ASSERT_EQ(message.size(), 36u);
    EXPECT_EQ(u32At(message, 12), 1u);
    EXPECT_EQ(u32At(message, 16), 2u);
    EXPECT_EQ(u32At(message, 24), 0x3F800000u);  // 1.0f, little-endian
    EXPECT_EQ(u32At(message, 28), 13u);
    EXPECT_EQ(readGamepadEvent(received(message)),
              (GamepadEventBody{gamepadAxes, {pairs[0], pairs[1]}}));
    const std::uint8_t body[] = {1, 2, 0xFF};
    const Message event = buildChannelEvent(body);
    EXPECT_EQ(readHeader(event), (MessageHeader{15, ChannelEvent, 3}));
    EXPECT_EQ(event[14], 0xFF);
}

TEST(WireProtocol, GamepadPairsThatDoNotAllFitDropTheWholeEvent) {
    const GamepadPair pair{5, 1.0f};
    const Message whole = buildGamepadEvent(gamepadButton, {&pair, 1});
    for (std::uint32_t claimed : {0u, 2u, 0x20000000u, 0xFFFFFFFFu}) {
        Message message = whole;
        Writer(message, 16).u32(claimed);
        EXPECT_FALSE(readGamepadEvent(received(message))) << claimed;
    }
    // Cut anywhere before its 28th byte; each copy is exactly that long, so a read past the
    // end would show under the address sanitizer.
    for (std::size_t size = 0; size < whole.size(); ++size) {
        EXPECT_FALSE(readGamepadEvent(received(Message(whole.begin(), whole.begin() + size))));
    }
    Message longer = whole;
    longer.resize(whole.size() + 8, 0xAB);  // bytes after the last pair are not read
    EXPECT_EQ(readGamepadEvent(received(longer)), (GamepadEventBody{gamepadButton, {pair}}));
}

}  // namespace
}  // namespace pellvane::wire
