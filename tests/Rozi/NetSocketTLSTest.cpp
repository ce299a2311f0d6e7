#include "Rozi/NetSocketTLSTestSupport.h"

#include <netinet/tcp.h>
#include <sys/ioctl.h>

#include <thread>

namespace {

using Settings = NetSocketTLSSettings;

TEST_F(NetSocketTLSFixture, EchoesOneMebibyteEachWayWithTheALPNChoiceSeenByBothEnds)
{
    server->echo();
    Settings toServer = serverSettings();
    toServer.set(Settings::kALPN, std::vector<std::string>{"x-b", "x-c"});
    Settings toClient = clientSettings();
    toClient.set(Settings::kALPN, std::vector<std::string>{"x-a", "x-b"});
    auto socket = securedPair(toServer, toClient);
    const std::string sent = payload(1 << 20, 'a');
    socket->writeData(std::vector<uint8_t>(sent.begin(), sent.end()), -1, 1);
    socket->readDataToLength(sent.size(), -1, 2);

    ASSERT_TRUE(client->waitForReceived(sent.size()));
    EXPECT_TRUE(client->received() == sent);
    EXPECT_TRUE(socket->isSecure());
    EXPECT_EQ(selectedALPN(socket), "x-b");
    EXPECT_EQ(selectedALPN(server->child(0)), "x-b");
    EXPECT_TRUE(client->disconnects().empty());
}

TEST_F(NetSocketTLSFixture, CleartextReadAheadOfTheStartFeedsTheHandshake)
{
    server->onAccept([](const std::shared_ptr<NetSocket>& child) { child->readDataToData(bytesOf("\r\n"), -1, 0); });
    // Corked, the command and the client's hello leave in one segment, so the server's terminator
    // read takes the hello into its pre-buffer.
    const int fd = LoopbackSocket::connect(port);
    const int on = 1;
    ASSERT_EQ(::setsockopt(fd, IPPROTO_TCP, TCP_CORK, &on, sizeof on), 0);
    NetSocketError error;
    auto socket = NetSocket::socketFromConnectedSocketFD(fd, client, queue, &error);
    ASSERT_NE(socket, nullptr);
    socket->writeData(bytesOf("STARTTLS\r\n"), -1, 0);
    socket->startTLS(clientSettings());

    ASSERT_TRUE(server->waitForReceived(10));
    EXPECT_EQ(server->received(), "STARTTLS\r\n");
    auto child = server->child(0);
    int pending = -1;
    child->performBlock([&] { ::ioctl(child->socketFD(), FIONREAD, &pending); });
    EXPECT_EQ(pending, 0);
    const int off = 0;
    socket->performBlock([&] { ::setsockopt(socket->socketFD(), IPPROTO_TCP, TCP_CORK, &off, sizeof off); });
    child->startTLS(serverSettings());

    EXPECT_TRUE(client->waitForSecured());
    EXPECT_TRUE(server->waitForSecured());
}

TEST_F(NetSocketTLSFixture, PeerClosingWithCloseNotifyIsAPeerClose)
{
    auto socket = securedPair(serverSettings(), clientSettings());
    socket->readDataWithTimeout(-1, 0);
    ASSERT_TRUE(client->waitForSecured());
    ASSERT_TRUE(server->waitForSecured());
    server->child(0)->disconnect();

    ASSERT_TRUE(client->waitForDisconnect());
    const auto error = client->disconnects().at(0);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, NetSocketError::kDomain);
    EXPECT_EQ(error->code, NetSocketError::ClosedError);
}

TEST_F(NetSocketTLSFixture, ProtocolBoundsChooseTheVersion)
{
    Settings toServer = serverSettings();
    toServer.set(Settings::kProtocolVersionMax, 0x0303LL);
    auto socket = securedPair(toServer, clientSettings());
    ASSERT_TRUE(client->waitForSecured());
    EXPECT_EQ(withSSL<int>(socket, [](SSL* ssl) { return SSL_version(ssl); }), TLS1_2_VERSION);

    Settings toClient = clientSettings();
    toClient.set(Settings::kProtocolVersionMin, 0x0304LL);
    auto refused = securedPair(toServer, toClient);
    ASSERT_TRUE(client->waitForDisconnect());
    const auto error = client->disconnects().at(0);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, NetSocketTLSStatus::kDomain);
}

TEST_F(NetSocketTLSFixture, CipherSuitesAreChosenByTheirNumbers)
{
    Settings toClient = clientSettings();
    toClient.set(Settings::kCipherSuites, std::vector<long long>{0x1302});
    auto tls13 = securedPair(serverSettings(), toClient);
    ASSERT_TRUE(client->waitForSecured());
    const auto suiteOf = [](SSL* ssl) { return int(SSL_CIPHER_get_protocol_id(SSL_get_current_cipher(ssl))); };
    EXPECT_EQ(withSSL<int>(tls13, suiteOf), 0x1302);

    Settings older = clientSettings();
    older.set(Settings::kCipherSuites, std::vector<long long>{0xC02B});
    auto tls12 = securedPair(serverSettings(), older);
    ASSERT_TRUE(client->waitForSecured(2));
    EXPECT_EQ(withSSL<int>(tls12, suiteOf), 0xC02B);
}

TEST_F(NetSocketTLSFixture, DiffieHellmanParametersInPEMAreTaken)
{
    ChildProcess openssl({"openssl", "genpkey", "-genparam", "-algorithm", "DH", "-pkeyopt", "group:ffdhe2048"});
    const std::string pem = openssl.rest();
    ASSERT_EQ(openssl.wait(), 0);
    Settings toServer = serverSettings();
    toServer.set(Settings::kDiffieHellmanParameters, std::vector<uint8_t>(pem.begin(), pem.end()));
    auto socket = securedPair(toServer, clientSettings());

    EXPECT_TRUE(server->waitForSecured());
    EXPECT_TRUE(server->disconnects().empty());
}

TEST_F(NetSocketTLSFixture, AWrongHostNameIsRefused)
{
    Settings toClient = clientSettings();
    toClient.set(Settings::kPeerName, std::string("elsewhere.test"));
    auto socket = securedPair(serverSettings(), toClient);

    ASSERT_TRUE(client->waitForDisconnect());
    EXPECT_TRUE(isTLSError(client->disconnects().at(0), NetSocketTLSStatus::CertificateInvalid));
    EXPECT_EQ(client->secured(), 0u);
}

class NetSocketTrustTest : public NetSocketTLSFixture {
protected:
    std::shared_ptr<NetSocket> securedWithManualTrust()
    {
        Settings toClient = clientSettings();
        toClient.set(Settings::kManuallyEvaluateTrust, true);
        return securedPair(serverSettings(), toClient);
    }
};

TEST_F(NetSocketTrustTest, TheDelegatesYesLetsTheHandshakeFinish)
{
    client->onTrust([](const NetSocketTrust&, NetSocketTrustCompletion completion) { completion(true); });
    auto socket = securedWithManualTrust();

    ASSERT_TRUE(client->waitForSecured());
    const auto trusts = client->trusts();
    ASSERT_EQ(trusts.size(), 1u);
    ASSERT_EQ(trusts[0].certificateChain.size(), 1u);
    EXPECT_NE(trusts[0].certificateChain[0].find("BEGIN CERTIFICATE"), std::string::npos);
    EXPECT_TRUE(trusts[0].trustedByDefault) << trusts[0].evaluationError;
}

TEST_F(NetSocketTrustTest, TheDelegatesNoFailsWithBadCertificate)
{
    client->onTrust([](const NetSocketTrust&, NetSocketTrustCompletion completion) { completion(false); });
    auto socket = securedWithManualTrust();

    ASSERT_TRUE(client->waitForDisconnect());
    const auto error = client->disconnects().at(0);
    EXPECT_TRUE(isTLSError(error, NetSocketTLSStatus::BadCertificate));
    EXPECT_EQ(error->recoverySuggestion, "Error code definition can be found in NetSocketTLSStatus.h");
    EXPECT_EQ(client->secured(), 0u);
}

TEST_F(NetSocketTrustTest, ADelegateThatCannotAnswerFailsTheStart)
{
    auto socket = securedWithManualTrust();

    ASSERT_TRUE(client->waitForDisconnect());
    const auto error = client->disconnects().at(0);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, NetSocketError::OtherError);
    EXPECT_EQ(error->description, "NetSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't "
                                  "implement socket:shouldTrustPeer:");
}

TEST_F(NetSocketTrustTest, ACompletionCalledTwiceActsOnce)
{
    client->onTrust([](const NetSocketTrust&, NetSocketTrustCompletion completion) {
        completion(true);
        completion(false);
    });
    auto socket = securedWithManualTrust();
    socket->writeData(bytesOf("ping"), -1, 0);

    ASSERT_TRUE(server->waitForReceived(4));
    EXPECT_EQ(client->secured(), 1u);
    EXPECT_TRUE(client->disconnects().empty());
}

TEST_F(NetSocketTrustTest, AnAnswerForAnEndedHandshakeIsIgnored)
{
    std::mutex mutex;
    std::optional<NetSocketTrustCompletion> held;
    client->onTrust([&](const NetSocketTrust&, NetSocketTrustCompletion completion) {
        const std::lock_guard lock(mutex);
        held = completion;
    });
    auto socket = securedWithManualTrust();
    ASSERT_TRUE(eventually([&] {
        const std::lock_guard lock(mutex);
        return held.has_value();
    }));
    socket->disconnect();
    (*held)(true);
    queue->sync([] {});
    socket->performBlock([] {});

    EXPECT_EQ(client->secured(), 0u);
    ASSERT_EQ(client->disconnects().size(), 1u);
    EXPECT_FALSE(client->disconnects().at(0));
    EXPECT_FALSE(socket->isConnected());
}

TEST_F(NetSocketTLSFixture, AStalledHandshakeClosesAtItsDeadline)
{
    Settings settings = serverSettings();
    settings.set(Settings::kHandshakeTimeout, 1LL);
    server->onAccept([settings](const std::shared_ptr<NetSocket>& child) { child->startTLS(settings); });
    // A peer that connects and never says hello.
    const int fd = LoopbackSocket::connect(port);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(server->waitForDisconnect());
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900));
    const auto error = server->disconnects().at(0);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description, "TLS handshake not finished within 1 s");
    char byte = 0;
    EXPECT_EQ(::recv(fd, &byte, 1, 0), 0) << "the peer sees the close";
    ::close(fd);
}

// Settings that the start refuses, and the text it closes with.
struct Refusal {
    Settings settings;
    std::string text;
};

class NetSocketTLSSettingsTest : public NetSocketTLSFixture, public ::testing::WithParamInterface<Refusal> { };

TEST_P(NetSocketTLSSettingsTest, ClosesWithTheKeysText)
{
    auto socket = connectClient(port);
    socket->startTLS(GetParam().settings);

    ASSERT_TRUE(client->waitForDisconnect());
    const auto error = client->disconnects().at(0);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, NetSocketError::OtherError);
    EXPECT_EQ(error->description, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Refusals, NetSocketTLSSettingsTest,
    ::testing::Values(Refusal{{{Settings::kPeerName, 7LL}}, "Invalid value for kCFStreamSSLPeerName."},
        Refusal{{{"kCFStreamSSLLevel", std::string("TLSv1.2")}}, "Security option unavailable - kCFStreamSSLLevel"},
        Refusal{{{Settings::kIsServer, true}, {Settings::kManuallyEvaluateTrust, true}},
            "Manual trust validation is not supported for server sockets"},
        Refusal{{{Settings::kCipherSuites, std::vector<long long>{0xFFFF}}}, "Error in SSLSetEnabledCiphers"},
        Refusal{{{Settings::kFalseStart, 1LL}}, "Invalid value for NetSocketSSLSessionOptionFalseStart."},
        Refusal{{{Settings::kProtocolVersionMax, std::string("1.3")}},
            "Invalid value for NetSocketSSLProtocolVersionMax."},
        Refusal{{{Settings::kDiffieHellmanParameters, std::vector<uint8_t>{1, 2, 3}}},
            "Error in SSLSetDiffieHellmanParams"},
        Refusal{{{Settings::kALPN, std::vector<std::string>{""}}}, "Error in SSLSetALPNProtocols"},
        Refusal{{{Settings::kHandshakeTimeout, 0LL}}, "Invalid value for NetSocketSSLHandshakeTimeout."},
        Refusal{{{Settings::kIsServer, true}, {Settings::kCertificates, std::vector<std::string>{"not a pem"}}},
            "Error in SSLSetCertificate"}));

TEST_F(NetSocketTLSFixture, ASecondStartOrAStartBeforeConnectingQueuesNothing)
{
    auto idle = NetSocket::create(client, queue);
    idle->startTLS(clientSettings());
    idle->performBlock([] {});
    EXPECT_FALSE(idle->isSecure());

    server->echo();
    auto socket = securedPair(serverSettings(), clientSettings());
    socket->startTLS(clientSettings());
    socket->writeData(bytesOf("after"), -1, 0);
    socket->readDataToLength(5, -1, 0);

    ASSERT_TRUE(client->waitForReceived(5));
    EXPECT_EQ(client->received(), "after");
    EXPECT_EQ(client->secured(), 1u);
}

TEST(NetSocketFromFDTest, RefusesDescriptorsWithoutAnIPPeer)
{
    NetSocketError error;
    const int unconnected = ::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(NetSocket::socketFromConnectedSocketFD(unconnected, nullptr, &error), nullptr);
    EXPECT_EQ(error.description, "Attempt to create socket from socket FD failed. getpeername() failed");
    ::close(unconnected);

    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    EXPECT_EQ(NetSocket::socketFromConnectedSocketFD(pair[0], nullptr, &error), nullptr);
    EXPECT_EQ(error.code, NetSocketError::OtherError);
    EXPECT_EQ(error.description, "Attempt to create socket from socket FD failed. socket FD is neither IPv4 nor IPv6");
    ::close(pair[0]);
    ::close(pair[1]);
}

} // namespace
