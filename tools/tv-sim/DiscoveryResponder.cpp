#include "tv-sim/DiscoveryResponder.h"

#include "Utils/ByteWriter.h"
#include "Utils/Log.h"
#include "tv-sim/SimAddress.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr uint8_t kMagic = 0x24;
constexpr uint8_t kRequestKind = 0x10;
constexpr uint8_t kReplyKind = 0x11;
constexpr size_t kOversizedLength = 1024;
constexpr int kRepeatMillis = 100;

std::vector<uint8_t> replyTo(const DiscoveryResponder::Tv& tv)
{
    const std::string text = tv.name + "&" + tv.macAddr + "&" + DiscoveryResponder::kCodeLead + tv.screenCode;
    return ByteWriter()
        .u8(kMagic)
        .u8(kReplyKind)
        .u8(0)
        .bytes({reinterpret_cast<const uint8_t*>(text.data()), text.size()})
        .u8(0)
        .take();
}

std::vector<uint8_t> oversizedReply()
{
    std::vector<uint8_t> reply(kOversizedLength, 'A');
    reply[0] = kMagic;
    reply[1] = kReplyKind;
    reply[2] = 0;
    return reply;
}

std::vector<std::vector<uint8_t>> answersFor(const DiscoveryResponder::Options& options)
{
    std::vector<std::vector<uint8_t>> answers;
    for (const auto& tv : options.tvs)
        answers.push_back(options.oversized ? oversizedReply() : replyTo(tv));
    return answers;
}

} // namespace

std::unique_ptr<DiscoveryResponder> DiscoveryResponder::start(Options options)
{
    const auto address = SimAddress::parse(options.address, options.port);
    if (!address)
        return nullptr;
    const int fd = address->bindSocket(SOCK_DGRAM);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<DiscoveryResponder> responder(new DiscoveryResponder(std::move(options), fd));
    if (responder->wake_.fd() < 0)
        return nullptr;
    // The thread runs until stop(); it reads only members set before it starts.
    responder->thread_ = std::thread(&DiscoveryResponder::run, responder.get());
    return responder;
}

DiscoveryResponder::DiscoveryResponder(Options options, int fd)
    : options_(std::move(options)), answers_(answersFor(options_)), fd_(fd), port_(SimAddress::localPort(fd))
{
}

DiscoveryResponder::~DiscoveryResponder()
{
    stop();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void DiscoveryResponder::stop()
{
    stopping_ = true;
    wake_.wake();
    if (thread_.joinable())
        thread_.join();
}

// On the responder's thread.
void DiscoveryResponder::run()
{
    sockaddr_storage peer{};
    socklen_t peerLength = 0;
    while (!stopping_) {
        pollfd watched[2] = {{fd_, POLLIN, 0}, {wake_.fd(), POLLIN, 0}};
        const bool repeating = options_.forever && peerLength > 0;
        const int ready = ::poll(watched, 2, repeating ? kRepeatMillis : -1);
        if (ready < 0 && errno != EINTR) {
            PLOG_ERRNO("tv-sim: discovery poll");
            return;
        }
        if (ready == 0)
            answer(peer, peerLength);
        else if (ready > 0 && (watched[0].revents & POLLIN))
            receive(peer, peerLength);
    }
}

void DiscoveryResponder::receive(sockaddr_storage& peer, socklen_t& peerLength)
{
    uint8_t buffer[2048];
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    const ssize_t length = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (length < 2 || buffer[0] != kMagic || buffer[1] != kRequestKind)
        return;
    ++requests_;
    peer = from;
    peerLength = fromLength;
    if (options_.foreignFirst)
        send({kMagic, kRequestKind, 0x01, 0x00, 0x00, 0x00}, peer, peerLength);
    answer(peer, peerLength);
}

void DiscoveryResponder::answer(const sockaddr_storage& peer, socklen_t peerLength) const
{
    for (const auto& datagram : answers_)
        send(datagram, peer, peerLength);
}

void DiscoveryResponder::send(const std::vector<uint8_t>& datagram, const sockaddr_storage& peer,
                              socklen_t peerLength) const
{
    if (::sendto(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&peer),
                 peerLength) < 0)
        PLOG_ERRNO("tv-sim: discovery answer to %s", SimAddress::format(peer).c_str());
}
