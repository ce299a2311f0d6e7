#include "Rozi/NetSocketError.h"

#include <cerrno>
#include <cstring>

// The texts of the timed-out, maxed-out and closed errors are the defaults of their keys: this
// system ships no table that would replace them.
NetSocketError NetSocketError::connectTimeout()
{
    return {kDomain, ConnectTimeoutError, "Attempt to connect to host timed out", {}, {}};
}

NetSocketError NetSocketError::readTimeout()
{
    return {kDomain, ReadTimeoutError, "Read operation timed out", {}, {}};
}

NetSocketError NetSocketError::writeTimeout()
{
    return {kDomain, WriteTimeoutError, "Write operation timed out", {}, {}};
}

NetSocketError NetSocketError::readMaxedOut()
{
    return {kDomain, ReadMaxedOutError, "Read operation reached set maximum length", {}, {}};
}

NetSocketError NetSocketError::connectionClosed()
{
    return {kDomain, ClosedError, "Socket closed by remote peer", {}, {}};
}

NetSocketError NetSocketError::posix(int errorNumber, std::string reason)
{
    return {kPosixDomain, errorNumber, std::strerror(errorNumber), std::move(reason), {}};
}

NetSocketError NetSocketError::errnoError()
{
    return posix(errno, {});
}
