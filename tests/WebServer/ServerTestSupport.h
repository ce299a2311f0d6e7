#pragma once

#include "Platform/MainQueue.h"
#include "Platform/TestMainLoop.h"
#include "WebServer/HttpServer.h"
#include "WebServer/HttpServerDataResponse.h"
#include "WebServer/HttpServerFunctions.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>
#include <netinet/in.h>
#include <string>
#include <string_view>
#include <fcntl.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ServerTestSupport {

struct Reply {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::string raw;

    bool has(const std::string& name) const { return headers.count(name) != 0; }
    std::string header(const std::string& name) const
    {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

// A client socket on 127.0.0.1 that gives up reading after ten seconds, so a broken server fails
// the test instead of hanging it; its own address is `source` (another loopback address) when given.
inline int connectTo(uint16_t port, const char* source = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (source) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, source, &local.sin_addr);
        EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)), 0);
    }
    timeval timeout{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    return fd;
}

inline void sendText(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t count = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        if (count <= 0)
            return;  // the server may close early (an answer before the whole body)
        text.remove_prefix(static_cast<size_t>(count));
    }
}

// Everything until the server closes (or the read times out).
inline std::string readAll(int fd)
{
    std::string text;
    char buffer[65536];
    ssize_t count;
    while ((count = ::recv(fd, buffer, sizeof(buffer), 0)) > 0)
        text.append(buffer, static_cast<size_t>(count));
    return text;
}

// True when the server closes the connection (an end of stream), false when the client's own read
// time-out runs out first.
inline bool closedByServer(int fd)
{
    char buffer[4096];
    ssize_t count;
    while ((count = ::recv(fd, buffer, sizeof(buffer), 0)) > 0) {
    }
    return count == 0;
}

// Everything up to and including the end of one head (for the interim 100 answer).
inline std::string readHead(int fd)
{
    std::string text;
    char c;
    while (text.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1)
        text += c;
    return text;
}

inline Reply parse(const std::string& raw)
{
    Reply reply;
    reply.raw = raw;
    const size_t end = raw.find("\r\n\r\n");
    if (raw.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos)
        return reply;
    reply.status = std::stoi(raw.substr(9, 3));
    size_t line = raw.find("\r\n") + 2;
    while (line < end) {
        const size_t eol = raw.find("\r\n", line);
        const std::string field = raw.substr(line, eol - line);
        const size_t colon = field.find(':');
        std::string name = field.substr(0, colon);
        for (char& c : name)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        reply.headers[name] = field.substr(colon + 2);
        line = eol + 2;
    }
    reply.body = raw.substr(end + 4);
    return reply;
}

inline Reply exchange(uint16_t port, std::string_view request)
{
    const int fd = connectTo(port);
    sendText(fd, request);
    const Reply reply = parse(readAll(fd));
    ::close(fd);
    return reply;
}

inline std::string get(const std::string& path, const std::string& extraFields = {}, const std::string& method = "GET")
{
    return method + " " + path + " HTTP/1.1\r\nHost: localhost\r\n" + extraFields + "\r\n";
}

// A started server on a kernel-chosen loopback port with a TestMainLoop serving the main queue.
class ServerFixture : public ::testing::Test {
protected:
    ServerFixture() { MainQueue::install(loop); }
    ~ServerFixture() override
    {
        server->stop();
        // The loop stays installed: connections still ending post their last calls to it.
    }

    void start(HttpServer::Options options = {})
    {
        options.bindToLocalhost = true;
        ASSERT_TRUE(server->start(options));
        ASSERT_NE(server->port(), 0);
    }
    uint16_t port() const { return server->port(); }

    const std::shared_ptr<TestMainLoop> loop = std::make_shared<TestMainLoop>();
    const std::shared_ptr<HttpServer> server = std::make_shared<HttpServer>();
};

// The "Authorization" value of a Digest client with the password of "user" in realm "R", for
// `method` on `uri`, under qop "auth" with cnonce "c0ffee".
inline std::string digestAnswer(const std::string& nonce, const std::string& nc, const std::string& uri, const std::string& password = "pass",
    const std::string& method = "GET")
{
    const auto md5 = HttpServerFunctions::md5HexDigest;
    const std::string response = md5(md5("user:R:" + password) + ":" + nonce + ":" + nc + ":c0ffee:auth:" + md5(method + ":" + uri));
    return "Digest username=\"user\", realm=\"R\", nonce=\"" + nonce + "\", uri=\"" + uri + "\", qop=auth, nc=" + nc
           + ", cnonce=\"c0ffee\", response=\"" + response + "\", algorithm=MD5";
}

// The value of `name`="..." in a challenge field.
inline std::string quotedParameter(const std::string& field, const std::string& name)
{
    const size_t start = field.find(name + "=\"");
    if (start == std::string::npos)
        return {};
    const size_t valueStart = start + name.size() + 2;
    return field.substr(valueStart, field.find('"', valueStart) - valueStart);
}

// What curl (run by argv, without a shell) writes to standard output; empty when it cannot run.
inline std::string curl(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), {"curl", "-sS", "--max-time", "10"});
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid = -1;
    const bool spawned = posix_spawnp(&pid, "curl", &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string output;
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fds[0], buffer, sizeof(buffer))) > 0)
        output.append(buffer, static_cast<size_t>(count));
    ::close(fds[0]);
    if (spawned)
        waitpid(pid, nullptr, 0);
    return output;
}

inline std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

}  // namespace ServerTestSupport
