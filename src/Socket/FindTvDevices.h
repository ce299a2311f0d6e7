#pragma once

#include <netinet/in.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class FindTvDevicesDelegate;

// Finds receiver TVs on the local network: one UDP socket per IPv4 interface, a discovery request
// broadcast from each, and every reply handed to the delegate as text. It has no thread of its own:
// the discovery worker calls getNIC, udpFindDevice and closeNIC once a second, all on that worker's
// thread, and the delegate is called there too.
class FindTvDevices {
public:
    struct Options {
        // Local IPv4 addresses to open sockets on. Empty: every up IPv4 interface except 127.0.0.1
        // and 0.0.0.0. An explicit list is used as given, loopback included.
        std::vector<std::string> localAddresses;
        // Where the request goes; each socket is also bound to its local address and this port.
        std::string target = "255.255.255.255";
        uint16_t port = 6666;
    };

    static constexpr std::array<uint8_t, 6> kDiscoveryRequest{0x24, 0x10, 0x01, 0x00, 0x00, 0x00};
    // A socket's replies are over after this long without one...
    static constexpr std::chrono::milliseconds kSilence{500};
    // ...or, at the latest, this long after its request, so a sender that never falls silent cannot
    // hold a pass. Either way the delegate then hears refreshTvDevicesList, so the list still ages.
    static constexpr std::chrono::milliseconds kSocketPassLimit{2000};

    // Both open the sockets of the first pass (getNIC); the first with the default options.
    FindTvDevices();
    explicit FindTvDevices(Options options);
    ~FindTvDevices();
    FindTvDevices(const FindTvDevices&) = delete;
    FindTvDevices& operator=(const FindTvDevices&) = delete;

    // Not owned; the delegate clears it (nullptr) before it goes away.
    void setDelegate(FindTvDevicesDelegate* delegate) { delegate_ = delegate; }

    // Opens, binds and adds one broadcast socket per local address. Sockets already open stay, so
    // the new ones' bind to the same address fails (logged) and they send from a kernel-chosen port.
    // Neither this nor closeNIC (nor destruction) from a delegate call (asserted).
    void getNIC();
    // One discovery pass: each open socket sends the request and hands its replies to the delegate;
    // with no socket open, it sleeps one second instead. A socket that fails is logged and skipped.
    void udpFindDevice();
    // Closes every open socket.
    void closeNIC();
    size_t socketCount() const { return sockets_.size(); }

    // Dotted addresses of the up IPv4 interfaces other than 127.0.0.1 and 0.0.0.0, in interface order.
    static std::vector<std::string> getNICIP();

private:
    void openSocket(const std::string& localAddress);
    bool sendRequest(int fd);
    // Reads the replies of one socket until it falls silent or its time is up.
    void collectReplies(int fd);
    void readReply(int fd);
    void refresh();
    void assertNotFromDelegate() const;

    Options options_;
    // The request's destination; unset (and every send refused) when the target is not an address.
    std::optional<sockaddr_in> sendToAddr_;
    FindTvDevicesDelegate* delegate_ = nullptr;
    std::vector<int> sockets_;
};
