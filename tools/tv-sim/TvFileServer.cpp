#include "tv-sim/TvFileServer.h"

#include "common/LoopbackSocket.h"
#include "tv-sim/SimAddress.h"
#include "Utils/Log.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxHead = 16 * 1024;
constexpr const char* kPathPrefix = "/share/";

bool sendHead(int fd, int status, const char* reason, uint64_t length)
{
    const std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Length: " +
                             std::to_string(length) + "\r\nContent-Type: application/octet-stream\r\nConnection: close\r\n\r\n";
    return LoopbackSocket::sendAll(fd, head.data(), head.size());
}

// The request head, up to its blank line; empty when the peer sent none within the cap.
std::string readHead(int fd)
{
    std::string head;
    char buffer[2048];
    while (head.size() < kMaxHead && head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        head.append(buffer, static_cast<size_t>(n));
    }
    return head.find("\r\n\r\n") == std::string::npos ? std::string() : head;
}

} // namespace

TvFileServer::~TvFileServer()
{
    stop();
}

bool TvFileServer::start(const std::string& address)
{
    const auto bound = SimAddress::parse(address, 0);
    if (!bound)
        return false;
    listener_ = bound->bindSocket(SOCK_STREAM);
    if (listener_ == -1 || ::listen(listener_, 64) != 0) {
        PLOG("tv-sim file server: cannot listen on %s: %s", address.c_str(), std::strerror(errno));
        return false;
    }
    address_ = bound->family() == AF_INET6 ? "[" + address + "]" : address;
    port_ = SimAddress::localPort(listener_);
    acceptor_ = std::thread([this] { acceptLoop(); });
    return true;
}

void TvFileServer::stop()
{
    if (stopping_.exchange(true))
        return;
    if (listener_ != -1)
        ::shutdown(listener_, SHUT_RDWR);
    if (acceptor_.joinable())
        acceptor_.join();
    if (listener_ != -1)
        ::close(listener_);
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(mutex_);
        for (const int fd : openSockets_)
            ::shutdown(fd, SHUT_RDWR);
        connections.swap(connections_);
    }
    for (auto& connection : connections)
        connection.join();
}

std::string TvFileServer::baseURL() const
{
    return "http://" + address_ + ":" + std::to_string(port_) + "/share";
}

void TvFileServer::addFile(const std::string& id, std::filesystem::path path, Behaviour behaviour)
{
    std::lock_guard lock(mutex_);
    files_[id] = File{std::move(path), {}, behaviour};
}

void TvFileServer::addFile(const std::string& id, std::vector<uint8_t> bytes, Behaviour behaviour)
{
    std::lock_guard lock(mutex_);
    files_[id] = File{{}, std::move(bytes), behaviour};
}

std::string TvFileServer::offerJSON(const std::string& base, const std::vector<std::pair<std::string, std::string>>& idsAndNames,
                                    const std::vector<uint64_t>& sizes)
{
    nlohmann::json files = nlohmann::json::array();
    for (size_t i = 0; i < idsAndNames.size(); ++i) {
        files.push_back({{"id", idsAndNames[i].first}, {"name", idsAndNames[i].second}});
        if (i < sizes.size())
            files.back()["size"] = sizes[i];
    }
    return nlohmann::json{{"url", base}, {"files", files}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void TvFileServer::acceptLoop()
{
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd == -1) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        openSockets_.insert(fd);
        connections_.emplace_back([this, fd] { serve(fd); });
    }
}

void TvFileServer::serve(int fd)
{
    const std::string head = readHead(fd);
    if (!head.empty()) {
        ++requests_;
        const File* file = lookUp(head);
        if (!file || file->behaviour == Behaviour::NotFound)
            sendHead(fd, 404, "Not Found", 0);
        else
            sendFile(fd, *file);
    }
    std::lock_guard lock(mutex_);
    openSockets_.erase(fd);
    ::close(fd);
}

const TvFileServer::File* TvFileServer::lookUp(const std::string& head) const
{
    if (head.rfind("GET ", 0) != 0)
        return nullptr;
    const size_t end = head.find(' ', 4);
    const std::string target = head.substr(4, end == std::string::npos ? std::string::npos : end - 4);
    if (target.rfind(kPathPrefix, 0) != 0)
        return nullptr;
    std::lock_guard lock(mutex_);
    const auto found = files_.find(target.substr(std::strlen(kPathPrefix)));
    // Entries are never removed, so the pointer outlives the lock.
    return found == files_.end() ? nullptr : &found->second;
}

bool TvFileServer::sendFile(int fd, const File& file)
{
    if (file.path.empty()) {
        const size_t length = file.behaviour == Behaviour::CutMidway ? file.bytes.size() / 2 : file.bytes.size();
        return sendHead(fd, 200, "OK", file.bytes.size()) && LoopbackSocket::sendAll(fd, file.bytes.data(), length);
    }
    const int input = ::open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (input == -1 || ::fstat(input, &status) != 0) {
        if (input != -1)
            ::close(input);
        return sendHead(fd, 404, "Not Found", 0);
    }
    const auto size = static_cast<uint64_t>(status.st_size);
    uint64_t left = file.behaviour == Behaviour::CutMidway ? size / 2 : size;
    bool ok = sendHead(fd, 200, "OK", size);
    off_t offset = 0;
    while (ok && left > 0) {
        const ssize_t n = ::sendfile(fd, input, &offset, std::min<uint64_t>(left, 1 << 30));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            left -= static_cast<uint64_t>(n);
    }
    ::close(input);
    return ok;
}
