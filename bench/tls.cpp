// TLS echo throughput and handshakes per second of a NetSocket server beside openssl's own
// s_server on the same machine, on loopback, with the same number of concurrent clients against
// each. Each echo client is a blocking OpenSSL client on a thread of its own (64 KiB of 1 KiB lines
// in flight, echoed back; s_server -rev answers each line reversed, which is as long); handshakes are
// counted by as many `openssl s_time -new` at once. s_server serves one connection at a time, so
// its other clients wait: that is the server, not the measure.
//   bench-tls [seconds per run, default 2] [rounds, default 3] [clients, default 4]
#include "ChildProcess.h"
#include "PeerCommand.h"
#include "common/LoopbackSocket.h"
#include "Platform/SerialQueue.h"
#include "Rozi/NetSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kLine = 1024;
constexpr size_t kBlock = 64 * 1024;

struct Identity {
    std::string certFile;
    std::string keyFile;
    std::string pem;
};

std::string readFile(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

Identity makeIdentity()
{
    char pattern[] = "/tmp/bench-tls-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    Identity identity{folder + "/cert.pem", folder + "/key.pem", {}};
    ChildProcess openssl({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
        "-nodes", "-keyout", identity.keyFile, "-out", identity.certFile, "-subj", "/CN=localhost", "-days", "1"});
    openssl.rest();
    if (openssl.wait() != 0) {
        std::fprintf(stderr, "openssl req failed\n");
        std::exit(1);
    }
    identity.pem = readFile(identity.keyFile) + readFile(identity.certFile);
    return identity;
}

// Secures every accepted connection and writes back what it reads.
class NetSocketTLSEcho final : public NetSocketDelegate {
public:
    NetSocketTLSEcho(const Identity& identity) : identity_(identity) { }

    uint16_t start(const std::shared_ptr<NetSocketTLSEcho>& self)
    {
        listener_ = NetSocket::create(self, queue_);
        NetSocketError error;
        if (!listener_->acceptOnInterface("127.0.0.1", 0, &error)) {
            std::fprintf(stderr, "NetSocket listen: %s\n", error.description.c_str());
            std::exit(1);
        }
        return listener_->localPort();
    }
    void stop() { listener_->disconnect(); }

    void didAcceptNewSocket(const Socket&, const Socket& child) override
    {
        {
            const std::lock_guard lock(mutex_);
            children_.insert(child);
        }
        child->startTLS({{NetSocketTLSSettings::kIsServer, true},
            {NetSocketTLSSettings::kCertificates, std::vector<std::string>{identity_.pem}}});
        child->readDataWithTimeout(-1, 0);
    }
    void didReadData(const Socket& sock, const NetSocketData& data, long) override
    {
        sock->writeData(data.toVector(), -1, 0);
        sock->readDataWithTimeout(-1, 0);
    }
    void socketDidDisconnect(const Socket& sock, const std::optional<NetSocketError>&) override
    {
        const std::lock_guard lock(mutex_);
        children_.erase(sock);
    }

private:
    const Identity& identity_;
    std::shared_ptr<SerialQueue> queue_ = SerialQueue::create("bench-delegate");
    std::shared_ptr<NetSocket> listener_;
    std::mutex mutex_;
    std::set<std::shared_ptr<NetSocket>> children_;
};

// openssl s_server answering each line reversed.
// The client retries its connect until the server listens.
// Its output goes to /dev/null: a pipe nobody reads would stop it once full.
class OpenSSLServer {
public:
    OpenSSLServer(const Identity& identity, uint16_t port)
        : pid_(PeerCommand::spawn({"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
                                   identity.certFile, "-key", identity.keyFile, "-rev", "-quiet"},
                                  {-1, -1, -1}))
    {
    }
    ~OpenSSLServer()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            PeerCommand::wait(pid_);
        }
    }
    OpenSSLServer(const OpenSSLServer&) = delete;
    OpenSSLServer& operator=(const OpenSSLServer&) = delete;

private:
    const pid_t pid_;
};

int connectTo(uint16_t port)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return fd;
        ::close(fd);
        ::usleep(10000);
    }
    std::fprintf(stderr, "cannot connect to port %u\n", port);
    std::exit(1);
}

// Echoed MiB by one client with one 64 KiB block in flight, until the deadline.
size_t echoUntil(uint16_t port, std::chrono::steady_clock::time_point deadline)
{
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL* ssl = SSL_new(context);
    const int fd = connectTo(port);
    SSL_set_fd(ssl, fd);
    size_t echoed = 0;
    if (SSL_connect(ssl) == 1) {
        std::string block;
        while (block.size() < kBlock)
            block += std::string(kLine - 1, char('a' + block.size() / kLine % 26)) + "\n";
        std::vector<char> answer(kBlock);
        while (Clock::now() < deadline) {
            if (SSL_write(ssl, block.data(), int(block.size())) != int(block.size()))
                break;
            size_t got = 0;
            while (got < block.size()) {
                const int n = SSL_read(ssl, answer.data() + got, int(block.size() - got));
                if (n <= 0)
                    break;
                got += size_t(n);
            }
            echoed += got;
        }
        SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    SSL_CTX_free(context);
    ::close(fd);
    return echoed;
}

// Echoed MiB per second of `clients` clients at once.
double echoThroughput(uint16_t port, double seconds, int clients)
{
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::atomic<size_t> echoed{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i)
        threads.emplace_back([&] { echoed += echoUntil(port, deadline); });
    for (auto& thread : threads)
        thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    return double(echoed.load()) / (1 << 20) / elapsed;
}

// Full handshakes per second as `clients` runs of `openssl s_time -new` at once count them.
double handshakesPerSecond(uint16_t port, double seconds, int clients)
{
    const auto start = Clock::now();
    std::vector<std::unique_ptr<ChildProcess>> tools;
    for (int i = 0; i < clients; ++i)
        tools.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{"openssl", "s_time", "-connect",
            "127.0.0.1:" + std::to_string(port), "-new", "-time", std::to_string(int(seconds))}));
    double connections = 0;
    for (auto& tool : tools) {
        const std::string output = tool->rest(std::chrono::seconds(60));
        tool->wait();
        const size_t at = output.find(" connections in ");
        if (at == std::string::npos)
            continue;
        const size_t begin = output.rfind('\n', at);
        connections += std::atof(output.c_str() + (begin == std::string::npos ? 0 : begin + 1));
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    return connections / elapsed;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 2.0;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const int clients = argc > 3 ? std::max(1, std::atoi(argv[3])) : 4;
    const Identity identity = makeIdentity();

    auto ours = std::make_shared<NetSocketTLSEcho>(identity);
    const uint16_t ourPort = ours->start(ours);
    const uint16_t theirPort = LoopbackSocket::freePort();
    OpenSSLServer theirs(identity, theirPort);

    std::vector<double> ourEcho, theirEcho, ourHandshakes, theirHandshakes;
    for (int round = 0; round < rounds; ++round) {
        ourEcho.push_back(echoThroughput(ourPort, seconds, clients));
        theirEcho.push_back(echoThroughput(theirPort, seconds, clients));
        ourHandshakes.push_back(handshakesPerSecond(ourPort, seconds, clients));
        theirHandshakes.push_back(handshakesPerSecond(theirPort, seconds, clients));
    }
    ours->stop();
    std::filesystem::remove_all(std::filesystem::path(identity.certFile).parent_path());

    double load[3] = {};
    getloadavg(load, 3);
    std::printf("cores: %u, load average %.2f %.2f %.2f, %d rounds of %.0f s per server and measure, %d clients at "
        "once against each\n", std::thread::hardware_concurrency(), load[0], load[1], load[2], rounds, seconds, clients);
    std::printf("| server | TLS echo (MiB/s) | handshakes/s |\n|---|---|---|\n");
    std::printf("| NetSocket | %.0f | %.0f |\n", median(ourEcho), median(ourHandshakes));
    std::printf("| openssl s_server | %.0f | %.0f |\n", median(theirEcho), median(theirHandshakes));
    std::printf("| NetSocket / s_server | %.2f | %.2f |\n", median(ourEcho) / median(theirEcho),
        median(ourHandshakes) / median(theirHandshakes));
    return 0;
}
