#include "Socket/DiscoveryReply.h"
#include "Socket/FindTvDevices.h"
#include "Socket/FindTvDevicesDelegate.h"
#include "Socket/TvDeviceInfo.h"
#include "Utils/ContractDeathTest.h"
#include "tv-sim/DiscoveryResponder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/resource.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Discovery calls its delegate on the thread that runs the pass: here, the test's own.
class Recorder : public FindTvDevicesDelegate {
public:
    void findTvDevicesInfo(const std::string& text) override { infos.push_back(text); }
    void refreshTvDevicesList() override { ++refreshes; }
    void unreachableNetwork() override { ADD_FAILURE() << "discovery never reports an unreachable network"; }

    std::vector<std::string> infos;
    int refreshes = 0;
};

std::unique_ptr<DiscoveryResponder> startResponder(DiscoveryResponder::Options options = {})
{
    auto responder = DiscoveryResponder::start(std::move(options));
    EXPECT_TRUE(responder);
    return responder;
}

// Sockets on loopback that send to the responder's port on 127.0.0.1. Each is also bound to that
// port, which the responder holds, so the bind fails as it does for a second set of sockets and
// the request leaves from a kernel-chosen port.
std::unique_ptr<FindTvDevices> loopbackFinder(const DiscoveryResponder& responder, size_t sockets = 1)
{
    FindTvDevices::Options options;
    options.localAddresses.assign(sockets, "127.0.0.1");
    options.target = "127.0.0.1";
    options.port = responder.port();
    return std::make_unique<FindTvDevices>(options);
}

struct Pass {
    std::vector<std::string> infos;
    int refreshes = 0;
};

Pass onePass(FindTvDevices& finder)
{
    Recorder recorder;
    finder.setDelegate(&recorder);
    finder.udpFindDevice();
    finder.setDelegate(nullptr);
    return {recorder.infos, recorder.refreshes};
}

} // namespace

TEST(FindTvDevices, EverySocketAsksGetsEachReplyAndIsRefreshedOnce)
{
    auto responder = startResponder({.tvs = {{"Room A", "02:00:00:00:00:01", "A1B2C3"},
                                             {"Room \xC3\xA9", "02:00:00:00:00:02", "ZZ9Y8X"}}});
    auto finder = loopbackFinder(*responder);
    ASSERT_EQ(finder->socketCount(), 1u);
    const auto pass = onePass(*finder);
    EXPECT_EQ(responder->requests(), 1);
    EXPECT_EQ(pass.infos, (std::vector<std::string>{"127.0.0.1&Room A&02:00:00:00:00:01&0A1B2C3",
                                                    "127.0.0.1&Room \xC3\xA9&02:00:00:00:00:02&0ZZ9Y8X"}));
    EXPECT_EQ(pass.refreshes, 1);

    // The driver's tick: a fresh set of sockets each second, closed at the end.
    finder->closeNIC();
    EXPECT_EQ(finder->socketCount(), 0u);
    auto two = loopbackFinder(*responder, 2);
    ASSERT_EQ(two->socketCount(), 2u);
    two->closeNIC();
    two->getNIC();
    EXPECT_EQ(two->socketCount(), 2u);
    const auto second = onePass(*two);
    EXPECT_EQ(responder->requests(), 3);
    EXPECT_EQ(second.infos.size(), 4u);
    EXPECT_EQ(second.refreshes, 2);
}

// The pass walks the socket list: a delegate that closes the sockets would pull it from under it.
TEST(FindTvDevicesDeathTest, TheDelegateDoesNotCloseTheSockets)
{
    SKIP_WITHOUT_ASSERTIONS();
    struct Closing : Recorder {
        FindTvDevices* finder = nullptr;
        void findTvDevicesInfo(const std::string&) override { finder->closeNIC(); }
    };
    EXPECT_DEATH(
        {
            auto responder = startResponder({.tvs = {{"Room A", "02:00:00:00:00:01", "A1B2C3"}}});
            auto finder = loopbackFinder(*responder);
            Closing closing;
            closing.finder = finder.get();
            finder->setDelegate(&closing);
            finder->udpFindDevice();
        },
        "never from a discovery delegate call");
}

TEST(FindTvDevices, IgnoresAnotherSendersRequest)
{
    auto responder = startResponder({.foreignFirst = true});
    auto finder = loopbackFinder(*responder);
    const auto pass = onePass(*finder);
    EXPECT_EQ(pass.infos, (std::vector<std::string>{"127.0.0.1&Pelkor TV&02:00:00:00:00:01&0A1B2C3"}));
    EXPECT_EQ(pass.refreshes, 1);
}

TEST(FindTvDevices, CutsAnOversizedUnterminatedReply)
{
    auto responder = startResponder({.oversized = true});
    auto finder = loopbackFinder(*responder);
    const auto pass = onePass(*finder);
    // 1,023 bytes are read; the text starts at byte 3.
    EXPECT_EQ(pass.infos, (std::vector<std::string>{"127.0.0.1&" + std::string(1020, 'A')}));
    EXPECT_EQ(pass.refreshes, 1);
}

TEST(FindTvDevices, SenderThatNeverFallsSilentCannotHoldThePass)
{
    auto responder = startResponder({.forever = true});
    auto finder = loopbackFinder(*responder);
    const auto pass = onePass(*finder);
    responder->stop();
    EXPECT_FALSE(pass.infos.empty());
    EXPECT_EQ(pass.refreshes, 1);
}

// Addresses that are not addresses, and sockets that cannot be made, leave no socket; with none the
// pass only waits and tells the delegate nothing.
TEST(FindTvDevices, SocketThatCannotBeMadeIsNotKept)
{
    EXPECT_EQ(FindTvDevices({.localAddresses = {"not an address", "127.0.0.1.5", ""}, .target = "127.0.0.1", .port = 9})
                  .socketCount(),
              0u);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    FindTvDevices finder({.localAddresses = {"127.0.0.1"}, .target = "127.0.0.1", .port = 9});
    const size_t sockets = finder.socketCount();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(sockets, 0u);
    const auto pass = onePass(finder);
    EXPECT_TRUE(pass.infos.empty());
    EXPECT_EQ(pass.refreshes, 0);
}

TEST(FindTvDevices, InterfaceAddressesLeaveOutLoopbackAndUnset)
{
    for (const auto& address : FindTvDevices::getNICIP()) {
        in_addr parsed{};
        EXPECT_EQ(inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
        EXPECT_NE(address, "127.0.0.1");
        EXPECT_NE(address, "0.0.0.0");
    }
}

TEST(DiscoveryReply, ReadsTheTextOfRepliesOnly)
{
    using Bytes = std::vector<uint8_t>;
    EXPECT_EQ(DiscoveryReply::text(Bytes{0x24, 0x11, 0x07, 'T', 'V', '&', 'm', 0, 'x'}), "TV&m");
    EXPECT_EQ(DiscoveryReply::text(Bytes{0x24, 0x11, 0x00, 'a', 'b'}), "ab");
    EXPECT_EQ(DiscoveryReply::text(Bytes{0x24, 0x11}), "");
    // A character cut by the datagram's end is dropped whole.
    EXPECT_EQ(DiscoveryReply::text(Bytes{0x24, 0x11, 0x00, 'a', 'b', 0xC3}), "ab");
    for (const Bytes& other : {Bytes{}, Bytes{0x24}, Bytes{0x24, 0x10, 0x01, 0, 0, 0}, Bytes{0x25, 0x11, 0, 'a'}})
        EXPECT_FALSE(DiscoveryReply::text(other));
}

TEST(TvDeviceInfo, ReadsAddressNameMacAndACodeOnlyFromASevenCharacterField)
{
    const auto info = TvDeviceInfo::fromDiscoveryText("192.168.1.20&Meeting Room&AA:BB:CC:DD:EE:FF&1ABC123", 42.5);
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->state);
    EXPECT_EQ(info->ipAddr, "192.168.1.20");
    EXPECT_EQ(info->name, "Meeting Room");
    EXPECT_EQ(info->macAddr, "AA:BB:CC:DD:EE:FF");
    EXPECT_EQ(info->screenCode, "ABC123");
    EXPECT_EQ(info->refreshTimeStamp, 42.5);

    // Characters, not bytes: a two-byte first character is dropped whole. An "&" inside the name
    // moves the fields, as the list has always split them.
    const struct {
        const char* text;
        const char *name, *mac, *code;
    } cases[] = {
        {"ip&n&m&1ABC12", "n", "m", ""},   {"ip&n&m&1ABC1234", "n", "m", ""},
        {"ip&n&m&", "n", "m", ""},         {"ip&n&m", "n", "m", ""},
        {"ip&n&m&1ABC123&more", "n", "m", "ABC123"},
        {"ip&n&m&\xC3\xA9" "ABC123", "n", "m", "ABC123"},
        {"ip&n&m&\xC3\xA9" "ABC12", "n", "m", ""},
        {"ip&Tom&Jerry&m&1ABC123", "Tom", "Jerry", ""},
    };
    for (const auto& c : cases) {
        const auto parsed = TvDeviceInfo::fromDiscoveryText(c.text, 0);
        ASSERT_TRUE(parsed) << c.text;
        EXPECT_EQ(parsed->name, c.name) << c.text;
        EXPECT_EQ(parsed->macAddr, c.mac) << c.text;
        EXPECT_EQ(parsed->screenCode, c.code) << c.text;
    }
    for (const char* text : {"", "10.0.0.2", "10.0.0.2&Room", "&"})
        EXPECT_FALSE(TvDeviceInfo::fromDiscoveryText(text, 0)) << text;
}
