#include "Platform/SwayIpc.h"

#include "Utils/Log.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr uint32_t kRunCommand = 0;
constexpr uint32_t kGetOutputs = 3;
// sway answers at once; a compositor that hangs fails the request instead.
constexpr int kTimeoutMs = 2000;

bool writeAll(int fd, const char* bytes, size_t length)
{
    while (length > 0) {
        const ssize_t written = send(fd, bytes, length, MSG_NOSIGNAL);
        if (written <= 0)
            return false;
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool readAll(int fd, char* bytes, size_t length)
{
    while (length > 0) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, kTimeoutMs) <= 0)
            return false;
        const ssize_t got = read(fd, bytes, length);
        if (got <= 0)
            return false;
        bytes += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

} // namespace

std::unique_ptr<SwayIpc> SwayIpc::connect()
{
    const char* path = std::getenv("SWAYSOCK");
    sockaddr_un address{};
    if (path == nullptr || std::strlen(path) >= sizeof address.sun_path) {
        PLOG("no sway control socket (SWAYSOCK)");
        return nullptr;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        PLOG_ERRNO("sway's control socket %s", path);
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    return std::unique_ptr<SwayIpc>(new SwayIpc(fd, path));
}

SwayIpc::~SwayIpc()
{
    close(fd_);
}

std::optional<nlohmann::json> SwayIpc::request(uint32_t type, const std::string& payload)
{
    std::string message(kMagic, sizeof kMagic);
    const auto length = static_cast<uint32_t>(payload.size());
    message.append(reinterpret_cast<const char*>(&length), sizeof length);
    message.append(reinterpret_cast<const char*>(&type), sizeof type);
    message += payload;
    char header[sizeof kMagic + 8];
    if (!writeAll(fd_, message.data(), message.size()) || !readAll(fd_, header, sizeof header)
        || std::memcmp(header, kMagic, sizeof kMagic) != 0)
        return std::nullopt;
    uint32_t replyLength = 0;
    std::memcpy(&replyLength, header + sizeof kMagic, sizeof replyLength);
    if (replyLength > kMaxReply)
        return std::nullopt;
    std::string reply(replyLength, '\0');
    if (!readAll(fd_, reply.data(), reply.size()))
        return std::nullopt;
    nlohmann::json parsed = nlohmann::json::parse(reply, nullptr, false);
    if (parsed.is_discarded())
        return std::nullopt;
    return parsed;
}

bool SwayIpc::command(const std::string& text)
{
    const auto reply = request(kRunCommand, text);
    if (!reply || !reply->is_array() || reply->empty()) {
        PLOG("sway did not answer \"%s\"", text.c_str());
        return false;
    }
    for (const auto& result : *reply) {
        if (!result.is_object() || !result.value("success", false)) {
            PLOG("sway refused \"%s\": %s", text.c_str(),
                 result.is_object() ? result.value("error", std::string{}).c_str() : "");
            return false;
        }
    }
    return true;
}

std::optional<nlohmann::json> SwayIpc::outputs()
{
    auto reply = request(kGetOutputs, {});
    if (!reply || !reply->is_array())
        return std::nullopt;
    return reply;
}
