#include "WebServer/HttpServerNATPortMapping.h"

#include "Platform/DispatchSource.h"
#include "Platform/DispatchTimer.h"
#include "Platform/SerialQueue.h"
#include "Utils/ByteReader.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cassert>
#include <chrono>
#include <span>
#include <sys/socket.h>

namespace {

// A gateway that grants only a second or two is still not asked more than once a second.
constexpr auto kMinimumRenewal = std::chrono::seconds(1);

// The library takes 12 bytes of a public-address answer and 16 of a mapping answer without looking at
// the datagram's length, so a shorter datagram is dropped before it gets there.
bool isCompleteReply(std::span<const uint8_t> datagram)
{
    ByteReader reader(datagram);
    reader.skip(1);  // version
    const uint8_t opcode = reader.u8();
    const size_t needed = opcode == 128 + NATPMP_RESPTYPE_PUBLICADDRESS ? 12 : 16;
    return reader.complete() && datagram.size() >= needed;
}

}  // namespace

std::unique_ptr<HttpServerNATPortMapping> HttpServerNATPortMapping::create(uint16_t port, Callback callback, int* error)
{
    std::unique_ptr<HttpServerNATPortMapping> mapping(new HttpServerNATPortMapping(port, std::move(callback)));
    // Reads the gateway from the routing table and connects a non-blocking UDP socket to it.
    *error = initnatpmp(&mapping->natpmp_, 0, 0);
    if (*error < 0)
        return nullptr;
    mapping->open_ = true;
    HttpServerNATPortMapping* const self = mapping.get();
    mapping->source_ = DispatchSource::create(mapping->natpmp_.s, DispatchSource::Kind::Read, mapping->queue_, [self] { self->readReply(); });
    if (!mapping->source_) {
        *error = NATPMP_ERR_SOCKETERROR;
        return nullptr;
    }
    mapping->timer_ = std::make_unique<DispatchTimer>(mapping->queue_, [self] { self->timerFired(); });
    bool sent = false;
    mapping->queue_->sync([&] { sent = self->send(Phase::PublicAddress, error); });
    if (!sent)
        return nullptr;
    mapping->source_->resume();
    return mapping;
}

HttpServerNATPortMapping::HttpServerNATPortMapping(uint16_t port, Callback callback)
    : port_(port), callback_(std::move(callback)), queue_(SerialQueue::create("HttpServerNATPortMapping"))
{
}

HttpServerNATPortMapping::~HttpServerNATPortMapping()
{
    // From its own queue (the callback) the wait below would run inline and free the mapping under it.
    assert(!queue_->isCurrent() && "the mapping is not destroyed from its callback");
    if (!open_)
        return;
    // On the queue, so no handler is half-way through and none starts after the cancels.
    queue_->sync([this] {
        if (source_)
            source_->cancel();
        if (timer_)
            timer_->cancel();
        // Withdrawn by asking for a lifetime of 0 with external port 0 (RFC 6886 3.4); nobody waits
        // for the answer.
        if (granted_)
            sendnewportmappingrequest(&natpmp_, NATPMP_PROTOCOL_TCP, port_, 0, 0);
        closenatpmp(&natpmp_);
    });
}

bool HttpServerNATPortMapping::send(Phase phase, int* error)
{
    const int status = phase == Phase::PublicAddress
                           ? sendpublicaddressrequest(&natpmp_)
                           : sendnewportmappingrequest(&natpmp_, NATPMP_PROTOCOL_TCP, port_, port_, kRequestedLifetime);
    if (status < 0) {
        *error = status;
        return false;
    }
    phase_ = phase;
    armRetry();
    return true;
}

void HttpServerNATPortMapping::sendOrFinish(Phase phase)
{
    assert(queue_->isCurrent());
    int error = 0;
    if (!send(phase, &error))
        finish(Result{error, {}, 0});
}

// The library resends the pending request when its back-off time has come (from 250 ms, doubling,
// nine tries in all) and gives up with NATPMP_ERR_NOGATEWAYSUPPORT after that.
void HttpServerNATPortMapping::armRetry()
{
    timeval timeout{};
    if (getnatpmprequesttimeout(&natpmp_, &timeout) != 0)
        return;
    const auto delay = std::chrono::seconds(timeout.tv_sec) + std::chrono::microseconds(timeout.tv_usec);
    // A little past the library's deadline, which it checks on its own clock.
    timer_->start(std::max<std::chrono::microseconds>(delay, std::chrono::microseconds(0)) + std::chrono::milliseconds(1));
}

void HttpServerNATPortMapping::readReply()
{
    assert(queue_->isCurrent());
    if (phase_ == Phase::Idle) {
        // Nothing is asked: a late datagram or a pending socket error is dropped, so the
        // level-triggered source does not keep firing.
        uint8_t discarded[16];
        ::recv(natpmp_.s, discarded, sizeof(discarded), MSG_DONTWAIT);
        return;
    }
    uint8_t head[16];
    const ssize_t length = ::recv(natpmp_.s, head, sizeof(head), MSG_PEEK | MSG_DONTWAIT);
    if (length >= 0 && !isCompleteReply(std::span<const uint8_t>(head, static_cast<size_t>(length)))) {
        ::recv(natpmp_.s, head, sizeof(head), MSG_DONTWAIT);
        return;
    }
    natpmpresp_t response{};
    handle(readnatpmpresponseorretry(&natpmp_, &response), response);
}

void HttpServerNATPortMapping::timerFired()
{
    assert(queue_->isCurrent());
    if (phase_ == Phase::Idle) {
        // Renewal: the whole exchange again, since the public address may have changed too.
        sendOrFinish(Phase::PublicAddress);
        return;
    }
    natpmpresp_t response{};
    handle(readnatpmpresponseorretry(&natpmp_, &response), response);
}

void HttpServerNATPortMapping::handle(int status, const natpmpresp_t& response)
{
    assert(queue_->isCurrent());
    if (status == NATPMP_TRYAGAIN) {
        armRetry();
        return;
    }
    if (status < 0) {
        finish(Result{status, {}, 0});
        return;
    }
    const uint16_t expected = phase_ == Phase::PublicAddress ? NATPMP_RESPTYPE_PUBLICADDRESS : NATPMP_RESPTYPE_TCPPORTMAPPING;
    if (response.type != expected) {
        // A second answer to an earlier request (one that was retried): the library has taken it for
        // the answer to the current one, so that is asked again.
        sendOrFinish(phase_);
        return;
    }
    if (phase_ == Phase::PublicAddress) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &response.pnu.publicaddress.addr, text, sizeof(text));
        address_ = text;
        sendOrFinish(Phase::Mapping);
        return;
    }
    granted_ = true;
    phase_ = Phase::Idle;
    timer_->start(std::max<std::chrono::seconds>(std::chrono::seconds(response.pnu.newportmapping.lifetime / 2), kMinimumRenewal));
    finish(Result{0, address_, response.pnu.newportmapping.mappedpublicport});
}

void HttpServerNATPortMapping::finish(const Result& result)
{
    assert(queue_->isCurrent());
    if (result.error != 0) {
        phase_ = Phase::Idle;
        timer_->cancel();
    }
    if (hasReported_ && reported_ == result)
        return;
    hasReported_ = true;
    reported_ = result;
    callback_(result);
}
