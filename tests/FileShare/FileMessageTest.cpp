#include "FileShare/FileMessage.h"
#include "FileShare/LocalSubnet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>

#include <set>
#include <string>

namespace {

TEST(FileMessage, ShowNameKeepsTenCharactersAndNeverSplitsOne)
{
    EXPECT_EQ(FileMessage::resetFileName("abcdefghij"), "abcdefghij");
    EXPECT_EQ(FileMessage::resetFileName("abcdefghijk"), "abcdefghij...");
    // Ten two-byte characters are shown whole; the eleventh starts the cut.
    const std::string accents = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9";
    EXPECT_EQ(FileMessage::resetFileName(accents), accents);
    EXPECT_EQ(FileMessage::resetFileName(accents + "\xE6\x96\x87.txt"), accents + "...");
    // A three-byte character straddling byte 10 is kept whole.
    EXPECT_EQ(FileMessage::resetFileName("abcdefghi\xE6\x96\x87xyz"), "abcdefghi\xE6\x96\x87...");
}

TEST(FileMessage, TypeIsTheLowerCaseExtensionAndPicksTheCategory)
{
    EXPECT_EQ(FileMessage::fileTypeOf("Holiday.JPG"), "jpg");
    EXPECT_EQ(FileMessage::category("jpg"), "image");
    EXPECT_EQ(FileMessage::fileTypeOf("archive.tar.XIP"), "xip");
    EXPECT_EQ(FileMessage::category("xip"), "zip");
    EXPECT_EQ(FileMessage::fileTypeOf("README"), "");
    EXPECT_EQ(FileMessage::fileTypeOf(".bashrc"), "");
    EXPECT_EQ(FileMessage::category(""), "unknown");
    EXPECT_EQ(FileMessage::category("exe"), "unknown");

    const auto file = FileMessage::fromPath("/tmp/somewhere/Quarterly report.PDF", {});
    EXPECT_EQ(file.fileName, "Quarterly report.PDF");
    EXPECT_EQ(file.fileType, "pdf");
    EXPECT_EQ(file.showName, "Quarterly ...");
    EXPECT_EQ(file.filePath, "/tmp/somewhere/Quarterly report.PDF");
}

// An id in use is drawn again; every id has 2 to 8 digits.
TEST(FileMessage, IdsInUseAreDrawnAgain)
{
    std::set<std::string> refused;
    int asked = 0;
    const auto id = FileMessage::generateFileID([&](std::string_view candidate) {
        if (++asked > 5)
            return false;
        refused.emplace(candidate);
        return true;
    });
    EXPECT_EQ(asked, 6);
    EXPECT_FALSE(refused.count(id)) << id;
    for (int i = 0; i < 200; ++i) {
        const auto drawn = FileMessage::generateFileID({});
        EXPECT_GE(drawn.size(), 2u);
        EXPECT_LE(drawn.size(), 8u);
        EXPECT_EQ(drawn.find_first_not_of("0123456789"), std::string::npos) << drawn;
    }
}

sockaddr_in ipv4(const char* text)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

// Interfaces without an address or a netmask (tunnels, down links) are skipped, not read through.
TEST(LocalSubnet, InterfacesWithoutAddressOrNetmaskAreSkipped)
{
    sockaddr_in lanAddress = ipv4("192.168.1.20"), lanMask = ipv4("255.255.255.0"), loneAddress = ipv4("10.0.0.5");
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    ifaddrs noMask{};
    noMask.ifa_addr = reinterpret_cast<sockaddr*>(&loneAddress);
    ifaddrs noAddress{};
    noAddress.ifa_netmask = reinterpret_cast<sockaddr*>(&lanMask);
    noAddress.ifa_next = &noMask;
    ifaddrs other{};
    other.ifa_addr = reinterpret_cast<sockaddr*>(&v6);
    other.ifa_netmask = reinterpret_cast<sockaddr*>(&v6);
    other.ifa_next = &noAddress;
    ifaddrs lan{};
    lan.ifa_addr = reinterpret_cast<sockaddr*>(&lanAddress);
    lan.ifa_netmask = reinterpret_cast<sockaddr*>(&lanMask);
    lan.ifa_next = &other;

    const auto interfaces = LocalSubnet::fromIfaddrs(&lan);
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_TRUE(LocalSubnet::contains(interfaces, "192.168.1.77"));
    EXPECT_FALSE(LocalSubnet::contains(interfaces, "192.168.2.77"));
    EXPECT_FALSE(LocalSubnet::contains(interfaces, "10.0.0.5"));
}

TEST(LocalSubnet, AnAddressThatDoesNotParseIsOnNoSubnet)
{
    // A zero netmask would take any parsed address.
    const std::vector<LocalSubnet::Interface> everything{{0, 0}};
    EXPECT_TRUE(LocalSubnet::contains(everything, "8.8.8.8"));
    for (const char* text : {"", "tv", "192.168.1", "192.168.1.300", "::1", "192.168.1.1 "})
        EXPECT_FALSE(LocalSubnet::contains(everything, text)) << text;
    EXPECT_TRUE(LocalSubnet::isOnLocalSubnet("127.0.0.1"));
}

} // namespace
