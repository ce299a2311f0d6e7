#include "Rozi/NetSocketTLSTestSupport.h"

#include <signal.h>

namespace {

using Settings = NetSocketTLSSettings;

// Reads the tool's output into `output` until it holds `text`; false when the output ends first.
bool readUntil(ChildProcess& tool, std::string& output, const std::string& text)
{
    while (output.find(text) == std::string::npos) {
        const auto line = tool.line();
        if (!line)
            return false;
        output += *line + "\n";
    }
    return true;
}

// Each line reversed, as openssl's echo server answers it.
std::string reversedLines(const std::string& text)
{
    std::string result;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        result.append(text.rbegin() + std::ptrdiff_t(text.size() - end), text.rbegin() + std::ptrdiff_t(text.size() - start));
        result += '\n';
        start = end + 1;
    }
    return result;
}

// openssl s_server on a port of its own with the test identity, echoing each line reversed.
class OpenSSLServer {
public:
    explicit OpenSSLServer(const std::vector<std::string>& options)
        : port(LoopbackSocket::freePort()), tool(arguments(port, options))
    {
        ready = readUntil(tool, output, "ACCEPT");
    }

    uint16_t port;
    ChildProcess tool;
    std::string output;
    bool ready = false;

private:
    static std::vector<std::string> arguments(uint16_t port, const std::vector<std::string>& options)
    {
        std::vector<std::string> all{"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
            TestIdentity::shared().certFile, "-key", TestIdentity::shared().keyFile, "-rev"};
        all.insert(all.end(), options.begin(), options.end());
        return all;
    }
};

using NetSocketTLSInteropTest = NetSocketTLSFixture;

TEST_F(NetSocketTLSInteropTest, OurClientEchoesOneMebibyteThroughOpenSSLsServer)
{
    OpenSSLServer openssl({"-alpn", "x-other,x-test"});
    ASSERT_TRUE(openssl.ready);
    Settings settings = clientSettings();
    settings.set(Settings::kALPN, std::vector<std::string>{"x-test"});
    auto socket = connectClient(openssl.port);
    socket->startTLS(settings);
    const std::string sent = payload(1 << 20, 'A');
    socket->writeData(std::vector<uint8_t>(sent.begin(), sent.end()), -1, 0);
    socket->readDataToLength(sent.size(), -1, 0);

    ASSERT_TRUE(client->waitForSecured());
    EXPECT_EQ(selectedALPN(socket), "x-test");
    ASSERT_TRUE(client->waitForReceived(sent.size()));
    EXPECT_TRUE(client->received() == reversedLines(sent));
    EXPECT_TRUE(client->disconnects().empty());
}

TEST_F(NetSocketTLSInteropTest, OpenSSLsClientReadsOneMebibyteFromOurServer)
{
    const std::string sent = payload(1 << 20, 'a');
    const auto bytes = std::make_shared<const std::vector<uint8_t>>(sent.begin(), sent.end());
    server->onAccept([bytes](const std::shared_ptr<NetSocket>& child) {
        Settings settings = serverSettings();
        settings.set(Settings::kALPN, std::vector<std::string>{"x-test"});
        child->startTLS(settings);
        child->writeData(bytes, -1, 0);
    });
    ChildProcess openssl({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-servername",
        "localhost", "-alpn", "x-test", "-ign_eof"});
    std::string output;

    EXPECT_TRUE(readUntil(openssl, output, "ALPN protocol: x-test"));
    EXPECT_TRUE(readUntil(openssl, output, sent));
    ASSERT_TRUE(server->waitForSecured());
    EXPECT_EQ(selectedALPN(server->child(0)), "x-test");
}

TEST_F(NetSocketTLSInteropTest, AServerGoneWithoutCloseNotifyIsAnAbort)
{
    OpenSSLServer openssl({});
    ASSERT_TRUE(openssl.ready);
    auto socket = connectClient(openssl.port);
    socket->startTLS(clientSettings());
    socket->readDataWithTimeout(-1, 0);
    ASSERT_TRUE(client->waitForSecured());
    openssl.tool.stop(SIGKILL);

    ASSERT_TRUE(client->waitForDisconnect());
    EXPECT_TRUE(isTLSError(client->disconnects().at(0), NetSocketTLSStatus::ClosedAbort));
}

TEST_F(NetSocketTLSInteropTest, ASessionIsResumedByItsPeerID)
{
    OpenSSLServer openssl({"-tls1_2"});
    ASSERT_TRUE(openssl.ready);
    const auto connectWith = [&](std::vector<uint8_t> peerID, size_t count) {
        Settings settings = clientSettings();
        settings.set(Settings::kPeerID, std::move(peerID));
        auto socket = connectClient(openssl.port);
        socket->startTLS(settings);
        EXPECT_TRUE(client->waitForSecured(count));
        const bool reused = withSSL<bool>(socket, [](SSL* ssl) { return SSL_session_reused(ssl) == 1; });
        socket->disconnect();
        return reused;
    };

    EXPECT_FALSE(connectWith({1, 2, 3}, 1));
    EXPECT_TRUE(connectWith({1, 2, 3}, 2));
    EXPECT_FALSE(connectWith({4}, 3));
}

} // namespace
