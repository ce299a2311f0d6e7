#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// The TV's own file service, for the files it offers to a client: HTTP/1.1 GET of "/share/<id>" on a
// loopback port, one request per connection, each connection on a thread of its own. A file can be
// served whole, answered 404, or cut midway (the full length announced, half of it sent, then the
// connection closed). Every method is safe from any thread; stop() and the destructor join every thread.
class TvFileServer {
public:
    enum class Behaviour { Serve, NotFound, CutMidway };

    TvFileServer() = default;
    ~TvFileServer();
    TvFileServer(const TvFileServer&) = delete;
    TvFileServer& operator=(const TvFileServer&) = delete;

    // Listens on the numeric address with a kernel-chosen port; false (logged) when it cannot.
    bool start(const std::string& address = "127.0.0.1");
    void stop();
    uint16_t port() const { return port_; }
    // "http://<address>:<port>/share": the base URL of an offer.
    std::string baseURL() const;

    // A file from disk (sent with sendfile) or from memory, under the id.
    void addFile(const std::string& id, std::filesystem::path path, Behaviour behaviour = Behaviour::Serve);
    void addFile(const std::string& id, std::vector<uint8_t> bytes, Behaviour behaviour = Behaviour::Serve);
    // GET requests answered so far, whatever the answer.
    size_t requests() const { return requests_; }

    // The offer's JSON text: {"url": base, "files": [{"id": id, "name": name, "size": bytes}, ...]}, each
    // entry's size where `sizes` has one.
    static std::string offerJSON(const std::string& base, const std::vector<std::pair<std::string, std::string>>& idsAndNames,
                                 const std::vector<uint64_t>& sizes = {});

private:
    struct File {
        std::filesystem::path path;
        std::vector<uint8_t> bytes;
        Behaviour behaviour = Behaviour::Serve;
    };

    void acceptLoop();
    void serve(int fd);
    // The file of a request head's target; nullptr when the head is no GET of a known id.
    const File* lookUp(const std::string& head) const;
    bool sendFile(int fd, const File& file);

    std::string address_;
    int listener_ = -1;
    std::atomic<uint16_t> port_{0};
    std::atomic<size_t> requests_{0};
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::map<std::string, File> files_;  // under mutex_; entries are never removed
    std::vector<std::thread> connections_;  // under mutex_
    std::set<int> openSockets_;  // under mutex_
};
