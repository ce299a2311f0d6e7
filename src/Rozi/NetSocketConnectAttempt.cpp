#include "Rozi/NetSocketConnectAttempt.h"

#include "Platform/DispatchSource.h"
#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketDescriptor.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>

namespace {

// A unix-domain listener with a full backlog refuses a non-blocking connect with EAGAIN instead of
// holding it: the attempt knocks again after this pause, until it connects or the socket gives up.
constexpr auto kFullBacklogRetry = std::chrono::milliseconds(20);

sa_family_t familyOf(const NetSocketAddress::Data& address)
{
    return reinterpret_cast<const sockaddr*>(address.data())->sa_family;
}

} // namespace

std::unique_ptr<NetSocketConnectAttempt> NetSocketConnectAttempt::create(NetSocketContext& context,
    NetSocketAddress::Data address, const NetSocketAddress::Data& interface, NetSocketError* error)
{
    NetSocketDescriptor fd(::socket(familyOf(address), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        NetSocketError::assign(error, NetSocketError::posix(errno, "Error in socket() function"));
        return nullptr;
    }
    const int on = 1;
    // A unix-domain socket takes it as well; an interface with a fixed port needs it to bind again soon.
    if (familyOf(address) == AF_UNIX || (!interface.empty() && NetSocketAddress::portFromAddress(interface) != 0))
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (!interface.empty() &&
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(interface.data()), socklen_t(interface.size())) != 0) {
        NetSocketError::assign(error, NetSocketError::posix(errno, "Error in bind() function"));
        return nullptr;
    }
    return std::unique_ptr<NetSocketConnectAttempt>(
        new NetSocketConnectAttempt(context, fd.release(), std::move(address)));
}

NetSocketConnectAttempt::NetSocketConnectAttempt(NetSocketContext& context, int fd, NetSocketAddress::Data address)
    : context_(context), fd_(std::make_shared<NetSocketDescriptor>(fd)), address_(std::move(address))
{
}

NetSocketConnectAttempt::~NetSocketConnectAttempt()
{
    if (pending_)
        pending_->cancel();
    if (writable_)
        writable_->cancel();
}

int NetSocketConnectAttempt::family() const
{
    return familyOf(address_);
}

int NetSocketConnectAttempt::release()
{
    return fd_->release();
}

void NetSocketConnectAttempt::start(Done done)
{
    done_ = std::move(done);
    connectNow();
}

void NetSocketConnectAttempt::connectNow()
{
    if (::connect(fd_->get(), reinterpret_cast<const sockaddr*>(address_.data()), socklen_t(address_.size())) == 0 ||
        errno == EINPROGRESS) {
        // Connected or on its way: write readiness tells, at once for the former.
        writable_ = DispatchSource::create(
            fd_->get(), DispatchSource::Kind::Write, context_.socketQueue,
            // On the socket queue; the attempt, which cancels this source as it goes, lives while the
            // socket the handler holds does.
            [weak = context_.self, this] {
                if (const auto socket = weak.lock())
                    onWritable();
            },
            [fd = fd_] {});
        if (writable_) {
            writable_->resume();
            return;
        }
    } else if (errno == EAGAIN && family() == AF_UNIX) {
        later(kFullBacklogRetry, [this] { connectNow(); });
        return;
    }
    // Reported from the queue, as every outcome is, never from inside start().
    later(DispatchQueue::Clock::duration::zero(), [this, errorNumber = errno] { done_(*this, errorNumber); });
}

void NetSocketConnectAttempt::onWritable()
{
    int errorNumber = 0;
    socklen_t length = sizeof errorNumber;
    if (::getsockopt(fd_->get(), SOL_SOCKET, SO_ERROR, &errorNumber, &length) != 0)
        errorNumber = errno;
    writable_->cancel();
    done_(*this, errorNumber);
}

void NetSocketConnectAttempt::later(DispatchQueue::Clock::duration delay, std::function<void()> work)
{
    pending_ = context_.socketQueue->asyncAfterCancellable(delay, [weak = context_.self, work = std::move(work)] {
        // On the socket queue; the attempt withdraws this task as it goes.
        if (const auto socket = weak.lock())
            work();
    });
}
