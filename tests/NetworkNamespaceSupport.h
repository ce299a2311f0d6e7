#pragma once

// Tests that need a network of their own (a gateway, a host without IPv6) run in a private network
// namespace, never on the host's interfaces. The outer test starts this test binary again under
// "unshare -n" with only the inner test selected; the inner test is DISABLED_ so that it runs only
// there, builds its interfaces with ip(8) and leaves a marker file when it passed. The namespace and
// everything in it vanish with the child process.

#include "Utils/Shell.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace NetworkNamespaceSupport {

inline constexpr const char* kMarkerVariable = "PELKOR_NETNS_PASSED_MARKER";

inline bool succeeds(const std::vector<std::string>& argv)
{
    const auto outcome = Shell::run(argv);
    return outcome && outcome->exitCode == 0;
}

// Runs the test `suite.DISABLED_name` of this binary in a new network namespace and fails when it
// fails there; skips when namespaces or ip(8) are not available.
inline void runInOwnNetworkNamespace(const std::string& suite, const std::string& name)
{
    if (!succeeds({"unshare", "-n", "true"}))
        GTEST_SKIP() << "network namespaces are not permitted here (unshare -n failed)";
    if (!succeeds({"ip", "-V"}))
        GTEST_SKIP() << "ip(8) from iproute2 is missing";
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
    char marker[] = "/tmp/pelkor-netns-XXXXXX";
    const int fd = ::mkstemp(marker);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ::unlink(marker);
    const auto outcome = Shell::run({"unshare", "-n", "env", std::string(kMarkerVariable) + "=" + marker, self,
        "--gtest_also_run_disabled_tests", "--gtest_filter=" + suite + ".DISABLED_" + name});
    ASSERT_TRUE(outcome);
    const bool passed = ::access(marker, F_OK) == 0;
    ::unlink(marker);
    EXPECT_TRUE(outcome->exitCode == 0 && passed) << "in the namespace:\n" << outcome->output;
}

// True in the process that runInOwnNetworkNamespace started.
inline bool insideOwnNetworkNamespace() { return getenv(kMarkerVariable) != nullptr; }

// Called last by the inner test.
inline void markPassedUnlessFailed()
{
    if (!::testing::Test::HasFailure())
        std::ofstream(getenv(kMarkerVariable)) << "passed\n";
}

inline void ip(const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv{"ip"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ASSERT_TRUE(succeeds(argv)) << "ip command failed: " << ::testing::PrintToString(arguments);
}

// Inside the namespace: the ports the kernel picks for a bind to port 0 (and for a connect).
inline bool setEphemeralPorts(uint16_t first, uint16_t last)
{
    std::ofstream range("/proc/sys/net/ipv4/ip_local_port_range");
    return static_cast<bool>(range << first << " " << last << "\n" << std::flush);
}

// Holds the port in IPv6 (the wildcard, listening), so a kernel-given IPv4 port may be taken there;
// the descriptor, -1 when the namespace does not allow it.
inline int takeIPv6Port(uint16_t port)
{
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_any;
    if (fd < 0 || ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace NetworkNamespaceSupport
