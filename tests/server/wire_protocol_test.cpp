#include "server/wire_protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace pellvane::wire {
namespace {

AppList numberedList(std::size_t count) {
    AppList list;
    for (std::size_t i = 0; i < count; ++i) {
        AppNameRecord record;
        record.setName("app" + std::to_string(i));
        record.processId = static_cast<std::uint32_t>(1000 + i);
        list.records.push_back(record);
    }
    return list;
}

TEST(WireProtocol, IntegersAreLittleEndianFieldByField) {
    Message bytes(12, 0);
    writeHeader(bytes, {0x11223344, 0x55667788, 0x99AABBCC});
    EXPECT_EQ(bytes[0], 0x44);
    EXPECT_EQ(bytes[3], 0x11);
    EXPECT_EQ(bytes[4], 0x88);
    EXPECT_EQ(bytes[11], 0x99);
    const auto header = readHeader(bytes);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->packetSize, 0x11223344u);
    EXPECT_EQ(header->argument, 0x99AABBCCu);
    EXPECT_FALSE(readHeader(std::span(bytes).first(11)));
}

TEST(WireProtocol, ReadsAndWritesNeverLeaveTheBuffer) {
    Message bytes(6, 0xEE);
    EXPECT_EQ(readU32(bytes, 3), 0u);
    EXPECT_EQ(readU32(bytes, SIZE_MAX - 1), 0u);
    writeU32(bytes, 4, 0);
    EXPECT_EQ(bytes, Message(6, 0xEE));
    EXPECT_EQ(readU16(bytes, 4), 0xEEEE);
}

TEST(WireProtocol, PacketSizeAndDatagramChecks) {
    EXPECT_FALSE(isValidPacketSize(11));
    EXPECT_TRUE(isValidPacketSize(12));
    EXPECT_TRUE(isValidPacketSize(65535));
    EXPECT_FALSE(isValidPacketSize(65536));
    EXPECT_FALSE(isValidPacketSize(70000));

    Message eleven(11, 0);
    writeU32(eleven, 0, 11);
    EXPECT_FALSE(isAcceptableDatagram(eleven));
    Message twenty(20, 0);
    writeU32(twenty, 0, 20);
    EXPECT_TRUE(isAcceptableDatagram(twenty));
    writeU32(twenty, 0, 24);
    EXPECT_FALSE(isAcceptableDatagram(twenty));
}

TEST(WireProtocol, ServerNameIsCutTo127CharactersAndAlwaysEndsInNul) {
    const std::string longName(200, 'n');
    const Message reply = buildHelloReply(longName, nullptr);
    for (std::size_t i = 0; i < 127; ++i) {
        ASSERT_EQ(reply[12 + i], 'n') << i;
    }
    EXPECT_EQ(reply[12 + 127], 0);

    const Message shortReply = buildHelloReply(std::string(126, 'k'), nullptr);
    EXPECT_EQ(shortReply[12 + 125], 'k');
    EXPECT_EQ(shortReply[12 + 126], 0);
}

TEST(WireProtocol, HelloReplyTakesAtMost248Records) {
    const AppList list = numberedList(300);
    const Message reply = buildHelloReply("host", &list);
    EXPECT_EQ(reply.size(), 32880u);
    EXPECT_EQ(readU32(reply, 0), 32880u);
    EXPECT_EQ(readU32(reply, 4), HelloReply);
    EXPECT_EQ(readU32(reply, 8), 32868u);
    EXPECT_EQ(readU32(reply, 140), 248u);
    const auto apps = readHelloReplyApps(reply);
    ASSERT_EQ(apps.size(), 248u);
    EXPECT_EQ(apps.front(), list.records.front());
    EXPECT_EQ(apps.back(), list.records[247]);
}

TEST(WireProtocol, EmptyListAndNoListGiveTheSame144Bytes) {
    const AppList empty;
    const Message withEmpty = buildHelloReply("host", &empty);
    const Message withNone = buildHelloReply("host", nullptr);
    EXPECT_EQ(withEmpty, withNone);
    EXPECT_EQ(withEmpty.size(), 144u);
    EXPECT_EQ(readU32(withEmpty, 8), 132u);
    EXPECT_EQ(readU32(withEmpty, 140), 0u);
}

TEST(WireProtocol, RefusalIsAnEmptyReplyOfType3) {
    const Message refusal = buildRefusal("host");
    ASSERT_EQ(refusal.size(), 144u);
    EXPECT_EQ(readU32(refusal, 0), 144u);
    EXPECT_EQ(readU32(refusal, 4), Refusal);
    EXPECT_EQ(readU32(refusal, 8), 132u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&refusal[12])), "host");
    EXPECT_EQ(readU32(refusal, 140), 0u);
}

TEST(WireProtocol, UdpInfoLayout) {
    const Message info = buildUdpInfo(0x1234, 0xABCD);
    ASSERT_EQ(info.size(), 56u);
    EXPECT_EQ(readU32(info, 0), 56u);
    EXPECT_EQ(readU32(info, 4), UdpInfo);
    EXPECT_EQ(readU32(info, 8), 44u);
    EXPECT_EQ(info[12], 0x02);
    EXPECT_EQ(info[13], 0x00);
    EXPECT_EQ(info[14], 0x12);  // network order
    EXPECT_EQ(info[15], 0x34);
    EXPECT_EQ(info[28], 0x17);
    EXPECT_EQ(info[29], 0x00);
    EXPECT_EQ(info[30], 0xAB);
    EXPECT_EQ(info[31], 0xCD);
    for (std::size_t i : {16u, 20u, 27u, 32u, 36u, 51u, 52u, 55u}) {
        EXPECT_EQ(info[i], 0) << i;
    }
}

TEST(WireProtocol, AppNameRecordsKeepTheirNameInsideTheField) {
    AppNameRecord record;
    record.setName(std::string(300, 'x'));
    EXPECT_EQ(record.nameView().size(), 127u);
    record.name.fill('y');  // no NUL at all
    EXPECT_EQ(record.nameView().size(), 128u);
    record.processId = 77;
    const Message message = buildAppName(record);
    EXPECT_EQ(message.size(), 144u);
    EXPECT_EQ(readU32(message, 8), 132u);
    EXPECT_EQ(readAppNameRecord(message, 12), record);
}

}  // namespace
}  // namespace pellvane::wire
