#include "Rozi/NetSocketAddress.h"
#include "Rozi/NetSocketPreBuffer.h"
#include "Rozi/NetSocketReadPacket.h"

#include <gtest/gtest.h>

#include <netinet/in.h>

#include <cstring>
#include <string>

namespace {

std::vector<uint8_t> bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

void fill(NetSocketPreBuffer& preBuffer, const std::string& text)
{
    preBuffer.ensureCapacityForWrite(text.size());
    std::memcpy(preBuffer.writeBuffer(), text.data(), text.size());
    preBuffer.didWrite(text.size());
}

TEST(NetSocketPreBufferTest, GrowsByTheShortfallKeepsItsContentAndRewindsWhenDrained)
{
    NetSocketPreBuffer preBuffer(8);
    fill(preBuffer, "abcdef");
    preBuffer.didRead(2);
    fill(preBuffer, "ghijk");
    EXPECT_EQ(preBuffer.capacity(), 11u) << "grown by exactly the 3 bytes that lacked";
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(preBuffer.readBuffer()), preBuffer.availableBytes()), "cdefghijk");
    preBuffer.didRead(9);
    EXPECT_EQ(preBuffer.availableBytes(), 0u);
    EXPECT_EQ(preBuffer.availableSpace(), 11u) << "drained: both offsets back at the start";
}

TEST(NetSocketReadPacketTest, FindsATerminatorThatStartsInTheBytesAlreadyRead)
{
    NetSocketReadPacket read(nullptr, 0, 0, -1, 0, bytes("\r\n"), 1);
    read.ensureCapacityForAdditionalDataOfLength(3);
    std::memcpy(read.writePosition(), "ab\r", 3);
    read.bytesDone = 3;
    NetSocketPreBuffer preBuffer(16);
    fill(preBuffer, "\ncd");
    bool found = false;
    EXPECT_EQ(read.readLengthForTermWithPreBuffer(preBuffer, &found), 1u);
    EXPECT_TRUE(found);

    // Without the terminator a read takes no more than its maximum allows.
    NetSocketReadPacket bounded(nullptr, 0, 4, -1, 0, bytes("\r\n"), 2);
    NetSocketPreBuffer plain(16);
    fill(plain, "abcdef");
    EXPECT_EQ(bounded.readLengthForTermWithPreBuffer(plain, &found), 4u);
    EXPECT_FALSE(found);
}

TEST(NetSocketReadPacketTest, SearchAfterADirectReadCountsTheBytesPastTheTerminator)
{
    NetSocketReadPacket read(nullptr, 0, 0, -1, 0, bytes("\r\n"), 1);
    read.ensureCapacityForAdditionalDataOfLength(6);
    std::memcpy(read.writePosition(), "ab\r\ncd", 6);
    EXPECT_EQ(read.searchForTermAfterPreBuffering(6), 2);
    EXPECT_EQ(read.searchForTermAfterPreBuffering(2), -1);
}

TEST(NetSocketReadPacketTest, ACallersBufferIsCutBackOnlyAsFarAsItsOriginalLength)
{
    const auto buffer = std::make_shared<std::vector<uint8_t>>(bytes("0123456789"));
    NetSocketReadPacket read(buffer, 8, 0, -1, 0, {}, 1);
    read.ensureCapacityForAdditionalDataOfLength(6);
    std::memcpy(read.writePosition(), "abc", 3);
    read.bytesDone = 3;
    const NetSocketData result = read.takeResult();
    EXPECT_EQ(*buffer, bytes("01234567abc"));
    EXPECT_EQ(result.toVector(), bytes("abc"));

    NetSocketReadPacket owned(nullptr, 0, 0, -1, 0, {}, 2);
    owned.ensureCapacityForAdditionalDataOfLength(8);
    owned.bytesDone = 2;
    EXPECT_EQ(owned.takeResult().size(), 2u);
}

TEST(NetSocketAddressTest, ResolvesInterfaceDescriptions)
{
    NetSocketAddress::Data address4;
    NetSocketAddress::Data address6;
    NetSocketAddress::getInterfaceAddress(&address4, &address6, "127.0.0.1", 80);
    EXPECT_EQ(NetSocketAddress::hostFromAddress(address4), "127.0.0.1");
    EXPECT_TRUE(address6.empty()) << "the loopback's IPv6 address prints as ::1";

    NetSocketAddress::getInterfaceAddress(&address4, &address6, "localhost:8888", 0);
    EXPECT_EQ(NetSocketAddress::portFromAddress(address4), 8888);
    EXPECT_EQ(NetSocketAddress::hostFromAddress(address6), "::1");
    NetSocketAddress::getInterfaceAddress(&address4, &address6, "loopback:99999", 0);
    EXPECT_EQ(NetSocketAddress::portFromAddress(address4), 0) << "a port out of range counts as none";

    NetSocketAddress::getInterfaceAddress(&address4, &address6, "lo", 1);
    EXPECT_EQ(NetSocketAddress::hostFromAddress(address4), "127.0.0.1");

    // An IPv6 address names itself, never the wildcard its colons would otherwise cut it into.
    for (const char* text : {"::1", "[::1]", "[::1]:8888"}) {
        SCOPED_TRACE(text);
        NetSocketAddress::getInterfaceAddress(&address4, &address6, text, 0);
        EXPECT_TRUE(address4.empty());
        EXPECT_EQ(NetSocketAddress::hostFromAddress(address6), "::1");
    }
    EXPECT_EQ(NetSocketAddress::portFromAddress(address6), 8888);
}

TEST(NetSocketAddressTest, ChecksTheLengthOfAddressData)
{
    NetSocketAddress::Data address4;
    NetSocketAddress::Data address6;
    NetSocketAddress::getInterfaceAddress(&address4, &address6, "", 5);
    EXPECT_TRUE(NetSocketAddress::isIPv4Address(address4));
    EXPECT_TRUE(NetSocketAddress::isIPv6Address(address6));
    address4.pop_back();
    EXPECT_FALSE(NetSocketAddress::isIPv4Address(address4));
    address6.resize(20);
    std::string host;
    uint16_t port = 0;
    int family = 0;
    EXPECT_FALSE(NetSocketAddress::getHost(&host, &port, &family, address6));
    EXPECT_FALSE(NetSocketAddress::hostFromAddress({}));
}

} // namespace
