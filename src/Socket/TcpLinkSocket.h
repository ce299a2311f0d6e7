#pragma once

#include "Socket/LinkEndReason.h"
#include "Socket/MessageFragmenter.h"

#include <chrono>
#include <netinet/in.h>
#include <string>

// The socket operations of the TV link: connecting within a time-out, the buffers and time-outs the
// link's threads need, and writing one fragment whole. Stateless; the caller owns the descriptor.
class TcpLinkSocket {
public:
    enum class WriteResult { Written, NothingWritten, PartWritten };

    // Connects the non-blocking socket within connectTimeout, then makes it blocking with the link's
    // send buffer and sendTimeout, without Nagle's wait; false on failure (logged). The socket stays the caller's either way.
    static bool connect(int fd, const sockaddr_in& peer, std::chrono::milliseconds connectTimeout,
                        std::chrono::milliseconds sendTimeout);
    // The receive thread's buffer and read time-out.
    static void prepareForReceiving(int fd, std::chrono::milliseconds receiveTimeout);
    // Writes header and payload with one sendmsg, continuing after partial writes with the rest of
    // the same fragment; errno tells why when it is not Written.
    static WriteResult writeFragment(int fd, const MessageFragmenter::Pieces& fragment);

    // Why a read or write that failed with this errno ended the link: a reset or a broken pipe is the
    // TV's doing; anything else (no route, a time-out, no network) says the network is gone.
    static LinkEndReason endReasonOf(int error);

    static std::string dottedAddress(const in_addr& address);
    // "address:port", as the connected event and log lines show the peer.
    static std::string endpointText(const sockaddr_in& endpoint);
};
