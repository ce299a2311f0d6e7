#pragma once

#include <natpmp.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class DispatchSource;
class DispatchTimer;
class SerialQueue;

// Asks the default gateway for a TCP port mapping over NAT-PMP (RFC 6886): first its public address,
// then the mapping of the port to the same external port for kRequestedLifetime seconds, renewed at
// half the lifetime the gateway granted. Nothing blocks: the replies are read from a DispatchSource on
// the request socket, and a DispatchTimer drives the library's retries and the renewals, all on the
// mapping's own serial queue. A granted mapping is withdrawn on destruction.
class HttpServerNATPortMapping {
public:
    // Called on the mapping's queue each time the outcome changes: an address and port (error 0), or a
    // library error code (negative; the exchange then ends).
    struct Result {
        int error = 0;
        std::string address;  // numeric IPv4 text
        uint16_t port = 0;
        bool operator==(const Result&) const = default;
    };
    using Callback = std::function<void(const Result&)>;

    // The lifetime asked for, in seconds: the customary hour.
    static constexpr uint32_t kRequestedLifetime = 3600;

    // nullptr with *error set (a library code) when no request could be sent, e.g. without a default
    // gateway.
    static std::unique_ptr<HttpServerNATPortMapping> create(uint16_t port, Callback callback, int* error);
    // Stops the exchange; once this returns the callback is not running and will not run again.
    ~HttpServerNATPortMapping();
    HttpServerNATPortMapping(const HttpServerNATPortMapping&) = delete;
    HttpServerNATPortMapping& operator=(const HttpServerNATPortMapping&) = delete;

private:
    enum class Phase { PublicAddress, Mapping, Idle };

    HttpServerNATPortMapping(uint16_t port, Callback callback);
    // Sends the request of the phase and arms the retry timer; false (result in *error) when it fails.
    bool send(Phase phase, int* error);
    // Below, on the queue.
    // send(), ending the exchange with its error when that fails.
    void sendOrFinish(Phase phase);
    void readReply();
    void timerFired();
    void handle(int status, const natpmpresp_t& response);
    void finish(const Result& result);
    void armRetry();

    const uint16_t port_;
    const Callback callback_;
    const std::shared_ptr<SerialQueue> queue_;
    natpmp_t natpmp_{};
    bool open_ = false;
    std::unique_ptr<DispatchSource> source_;
    std::unique_ptr<DispatchTimer> timer_;
    // On the queue only.
    Phase phase_ = Phase::Idle;
    bool granted_ = false;
    std::string address_;
    Result reported_;
    bool hasReported_ = false;
};
