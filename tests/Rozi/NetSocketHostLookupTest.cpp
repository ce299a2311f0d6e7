#include "Rozi/NetSocket.h"
#include "Rozi/NetSocketHostLookup.h"

#include <gtest/gtest.h>

#include <netdb.h>

namespace {

using Addresses = std::vector<NetSocketAddress::Data>;

std::vector<std::string> hostsOf(const Addresses& addresses)
{
    std::vector<std::string> hosts;
    for (const auto& address : addresses)
        hosts.push_back(NetSocketAddress::hostFromAddress(address).value_or("?"));
    return hosts;
}

TEST(NetSocketHostLookupTest, LocalhostAndLoopbackAnswerWithoutTheResolver)
{
    int asked = 0;
    const NetSocketHostLookup lookup([&](const std::string&, uint16_t, Addresses*) { return ++asked, EAI_FAIL; });
    for (const char* host : {"localhost", "loopback"}) {
        const auto addresses = lookup.lookupHost(host, 8888, nullptr);
        ASSERT_TRUE(addresses.has_value());
        EXPECT_EQ(hostsOf(*addresses), (std::vector<std::string>{"127.0.0.1", "::1"}));
        EXPECT_EQ(NetSocketAddress::portFromAddress(addresses->at(0)), 8888);
        EXPECT_EQ(NetSocketAddress::portFromAddress(addresses->at(1)), 8888);
    }
    EXPECT_EQ(asked, 0);
}

TEST(NetSocketHostLookupTest, TheSystemResolverGivesBothFamiliesWithThePort)
{
    NetSocketError error;
    const auto ipv6 = NetSocket::lookupHost("::1", 443, &error);
    ASSERT_TRUE(ipv6.has_value()) << error.description;
    EXPECT_EQ(hostsOf(*ipv6), std::vector<std::string>{"::1"});
    EXPECT_TRUE(NetSocketAddress::isIPv6Address(ipv6->at(0)));
    EXPECT_EQ(NetSocketAddress::portFromAddress(ipv6->at(0)), 443);

    const auto ipv4 = NetSocket::lookupHost("127.0.0.1", 80, &error);
    ASSERT_TRUE(ipv4.has_value()) << error.description;
    EXPECT_EQ(hostsOf(*ipv4), std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(ipv4->at(0).size(), sizeof(sockaddr_in));
}

TEST(NetSocketHostLookupTest, AFailureOrAnEmptyAnswerIsAResolverError)
{
    NetSocketError error;
    const NetSocketHostLookup failing([](const std::string&, uint16_t, Addresses*) { return EAI_NONAME; });
    EXPECT_FALSE(failing.lookupHost("tv.example", 80, &error).has_value());
    EXPECT_EQ(error.domain, NetSocketHostLookup::kErrorDomain);
    EXPECT_EQ(error.code, EAI_NONAME);
    EXPECT_EQ(error.description, ::gai_strerror(EAI_NONAME));

    const NetSocketHostLookup empty([](const std::string&, uint16_t, Addresses*) { return 0; });
    EXPECT_FALSE(empty.lookupHost("tv.example", 80, &error).has_value());
    EXPECT_EQ(error.code, EAI_FAIL);
}

TEST(NetSocketTerminatorTest, HoldTheirBytesAndZeroDataIsOneByte)
{
    EXPECT_EQ(NetSocket::CRLFData(), (std::vector<uint8_t>{0x0D, 0x0A}));
    EXPECT_EQ(NetSocket::CRData(), std::vector<uint8_t>{0x0D});
    EXPECT_EQ(NetSocket::LFData(), std::vector<uint8_t>{0x0A});
    EXPECT_EQ(NetSocket::ZeroData(), std::vector<uint8_t>{0x00});
}

} // namespace
