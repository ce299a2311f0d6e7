#pragma once

#include "ChildProcess.h"
#include "common/LoopbackSocket.h"
#include "Platform/SerialQueue.h"
#include "Platform/Waiting.h"
#include "Rozi/NetSocket.h"
#include "Rozi/NetSocketTLSStatus.h"
#include "Rozi/NetSocketTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

// A key and a self-signed certificate for "localhost", made by openssl once per test program. The
// certificate is also the only root that clients trust by default, through SSL_CERT_FILE.
class TestIdentity {
    // First, so the paths below are made from it.
    const std::filesystem::path folder_;

public:
    std::filesystem::path certFile;
    std::filesystem::path keyFile;
    // Key and certificate: the first entry of kCFStreamSSLCertificates.
    std::string pem;

    static const TestIdentity& shared()
    {
        static const TestIdentity identity;
        return identity;
    }
    ~TestIdentity() { std::filesystem::remove_all(folder_); }
    TestIdentity(const TestIdentity&) = delete;
    TestIdentity& operator=(const TestIdentity&) = delete;

private:
    TestIdentity() : folder_(makeFolder()), certFile(folder_ / "cert.pem"), keyFile(folder_ / "key.pem")
    {
        ChildProcess openssl({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-nodes", "-keyout", keyFile, "-out", certFile, "-subj", "/CN=localhost", "-addext",
            "subjectAltName=DNS:localhost", "-days", "2"});
        openssl.rest();
        EXPECT_EQ(openssl.wait(), 0);
        pem = read(keyFile) + read(certFile);
        ::setenv("SSL_CERT_FILE", certFile.c_str(), 1);
    }
    static std::filesystem::path makeFolder()
    {
        char pattern[] = "/tmp/netsocket-tls-XXXXXX";
        return ::mkdtemp(pattern);
    }
    static std::string read(const std::filesystem::path& path)
    {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
};

inline NetSocketTLSSettings serverSettings()
{
    return {{NetSocketTLSSettings::kIsServer, true},
        {NetSocketTLSSettings::kCertificates, std::vector<std::string>{TestIdentity::shared().pem}}};
}

inline NetSocketTLSSettings clientSettings()
{
    return {{NetSocketTLSSettings::kPeerName, std::string("localhost")}};
}

// A delegate for TLS tests: keeps accepted children, collects what is read, and answers trust
// questions as the test says.
class TLSDelegate final : public NetSocketDelegate {
public:
    using TrustHandler = std::function<void(const NetSocketTrust&, NetSocketTrustCompletion)>;

    // Set before the connections they serve: the connection's road through the kernel hides the
    // order from the thread checker, so the settings are read under the lock.
    void onAccept(std::function<void(const Socket&)> handler)
    {
        locked([&] { onAccept_ = std::move(handler); });
    }
    // Writes back what it reads, and reads again.
    void echo()
    {
        locked([&] { echo_ = true; });
    }
    // Without a handler the delegate leaves trust unanswered, as one that does not implement it.
    void onTrust(TrustHandler handler)
    {
        locked([&] { onTrust_ = std::move(handler); });
    }

    void didAcceptNewSocket(const Socket&, const Socket& child) override
    {
        const auto handler = locked([&] {
            children_.push_back(child);
            return onAccept_;
        });
        if (handler)
            handler(child);
    }
    void didReadData(const Socket& sock, const NetSocketData& data, long) override
    {
        const bool echo = locked([&] {
            received_.append(data.data(), data.data() + data.size());
            return echo_;
        });
        if (echo) {
            sock->writeData(data.toVector(), -1, 0);
            sock->readDataWithTimeout(-1, 0);
        }
    }
    void socketDidSecure(const Socket&) override
    {
        locked([&] { ++secured_; });
    }
    void didReceiveTrust(
        const Socket& sock, const std::shared_ptr<const NetSocketTrust>& trust, NetSocketTrustCompletion completion) override
    {
        const auto handler = locked([&] {
            trusts_.push_back(*trust);
            return onTrust_;
        });
        if (handler)
            handler(*trust, completion);
        else
            NetSocketDelegate::didReceiveTrust(sock, trust, completion);
    }
    void socketDidDisconnect(const Socket&, const std::optional<NetSocketError>& error) override
    {
        locked([&] { disconnects_.push_back(error); });
    }

    bool waitForSecured(size_t count = 1)
    {
        return eventually([&] { return locked([&] { return secured_ >= count; }); });
    }
    bool waitForReceived(size_t length)
    {
        return eventually([&] { return locked([&] { return received_.size() >= length; }); });
    }
    bool waitForDisconnect()
    {
        return eventually([&] { return locked([&] { return !disconnects_.empty(); }); });
    }
    std::string received() const
    {
        return locked([&] { return received_; });
    }
    size_t secured() const
    {
        return locked([&] { return secured_; });
    }
    std::vector<NetSocketTrust> trusts() const
    {
        return locked([&] { return trusts_; });
    }
    std::vector<std::optional<NetSocketError>> disconnects() const
    {
        return locked([&] { return disconnects_; });
    }
    std::shared_ptr<NetSocket> child(size_t index) const
    {
        return locked([&] { return children_.at(index); });
    }

private:
    template <class F> auto locked(F f) const -> decltype(f())
    {
        const std::lock_guard lock(mutex_);
        return f();
    }

    mutable std::mutex mutex_;
    std::function<void(const Socket&)> onAccept_;
    bool echo_ = false;
    TrustHandler onTrust_;
    std::vector<std::shared_ptr<NetSocket>> children_;
    std::string received_;
    size_t secured_ = 0;
    std::vector<NetSocketTrust> trusts_;
    std::vector<std::optional<NetSocketError>> disconnects_;
};

// Text of `size` bytes in lines, so tools that print what they receive print it unchanged.
inline std::string payload(size_t size, char seed)
{
    std::string text;
    text.reserve(size);
    for (size_t i = 0; text.size() < size; ++i)
        text += (i % 64 == 63) ? '\n' : char(seed + i % 23);
    text.resize(size);
    return text;
}

// Runs the query on the socket's queue with its TLS session.
template <class Result> Result withSSL(const std::shared_ptr<NetSocket>& socket, std::function<Result(SSL*)> query)
{
    Result result{};
    socket->performBlock([&] {
        if (SSL* ssl = socket->sslContext())
            result = query(ssl);
    });
    return result;
}

inline std::string selectedALPN(const std::shared_ptr<NetSocket>& socket)
{
    return withSSL<std::string>(socket, [](SSL* ssl) {
        const unsigned char* name = nullptr;
        unsigned length = 0;
        SSL_get0_alpn_selected(ssl, &name, &length);
        return std::string(reinterpret_cast<const char*>(name), length);
    });
}

// A listener of ours on 127.0.0.1 and clients of ours over connected descriptors.
class NetSocketTLSFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(TestIdentity::shared().pem.empty());
        listener = NetSocket::create(server, queue);
        NetSocketError error;
        ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0, &error)) << error.description;
        port = listener->localPort();
    }

    std::shared_ptr<NetSocket> connectClient(uint16_t to)
    {
        NetSocketError error;
        auto socket = NetSocket::socketFromConnectedSocketFD(LoopbackSocket::connect(to), client, queue, &error);
        EXPECT_NE(socket, nullptr) << error.description;
        return socket;
    }
    // A client of ours whose server of ours starts TLS with the given settings, echoing when asked.
    std::shared_ptr<NetSocket> securedPair(NetSocketTLSSettings toServer, NetSocketTLSSettings toClient)
    {
        server->onAccept([toServer](const std::shared_ptr<NetSocket>& child) {
            child->startTLS(toServer);
            child->readDataWithTimeout(-1, 0);
        });
        auto socket = connectClient(port);
        socket->startTLS(std::move(toClient));
        return socket;
    }

    std::shared_ptr<TLSDelegate> server = std::make_shared<TLSDelegate>();
    std::shared_ptr<TLSDelegate> client = std::make_shared<TLSDelegate>();
    std::shared_ptr<SerialQueue> queue = SerialQueue::create("delegate");
    std::shared_ptr<NetSocket> listener;
    uint16_t port = 0;
};

inline bool isTLSError(const std::optional<NetSocketError>& error, long status)
{
    return error && error->domain == NetSocketTLSStatus::kDomain && error->code == status;
}
