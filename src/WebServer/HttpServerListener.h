#pragma once

#include "Platform/AcceptLoops.h"
#include "Platform/AcceptPause.h"
#include "WebServer/HttpError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// The listening sockets of a server, IPv4 and IPv6 on one port (IPv4 alone, with a warning, where the
// host has no IPv6). Accepts on loops of its own, pausing while the open connections are at their cap
// or descriptors are short, so waiting clients stay in the backlog, neither refused nor dropped.
class HttpServerListener : public std::enable_shared_from_this<HttpServerListener> {
public:
    // Takes an accepted non-blocking socket with the bytes of its local and remote sockaddr.
    using Accepted = std::function<void(int socket, std::vector<uint8_t> localAddress, std::vector<uint8_t> remoteAddress)>;
    struct Settings {
        uint16_t port = 0;  // 0: the kernel chooses
        bool bindToLocalhost = false;
        int backlog = 16;
        size_t maxConnections = 0;  // 0: no cap
    };

    // nullptr (error filled) when a socket cannot listen.
    static std::shared_ptr<HttpServerListener> open(const Settings& settings, HttpError* error);
    ~HttpServerListener();
    HttpServerListener(const HttpServerListener&) = delete;
    HttpServerListener& operator=(const HttpServerListener&) = delete;

    // The bound port; 0 when the kernel would not tell.
    uint16_t port() const { return port_; }
    // `accepted` runs on an accept loop's thread while `owner` lives, which it keeps alive through each
    // batch; nothing is accepted once `owner` has gone.
    void start(std::weak_ptr<void> owner, Accepted accepted);
    // The connections open now; accepting pauses at the cap until one ends. Any thread.
    void setOpenConnections(size_t count);
    // Closes the sockets and waits until they are closed, except the one whose accept handler calls
    // this: it closes once that handler returns. Any thread.
    void close();

private:
    struct Socket;
    class Admission;

    explicit HttpServerListener(const Settings& settings);
    bool listen(Socket& socket, int family, uint16_t port, HttpError* error);
    // Listens on IPv4 and IPv6 at the port (port 0: the one the kernel gives the family opened first,
    // IPv6 when sixFirst); IPv4 alone where the host has no IPv6. False, with nothing open, when a
    // socket cannot listen.
    bool listenOnBoth(uint16_t port, bool sixFirst, HttpError* error);
    void accept(Socket& socket);
    bool acceptOne(Socket& socket);
    void setShortOfDescriptors(bool isShort);
    void releaseAdmission();
    // Under mutex_.
    bool mayAccept() const;
    void updateAccepting();

    const Settings settings_;
    uint16_t port_ = 0;
    Accepted accepted_;
    std::unique_ptr<Socket> sockets_[2];  // IPv4, IPv6 (nullptr where the host has none)
    std::unique_ptr<AcceptPause> descriptorPause_;  // made by start()
    std::unique_ptr<AcceptLoops> loops_;            // made by start(); nullptr when no thread would start
    std::mutex mutex_;
    // Under mutex_.
    size_t openConnections_ = 0;
    size_t admitting_ = 0;  // accepts under way whose connection is not counted yet
    bool shortOfDescriptors_ = false;
    bool closed_ = false;
    bool accepting_ = false;  // the loops are resumed
};
