#pragma once

#include "Rozi/NetSocketDelegate.h"
#include "Rozi/RoziWriteQueue.h"
#include "Socket/ROZIOperationDelegate.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class DispatchTimer;
class NetSocket;
class SerialQueue;

// The loopback relay of the TV's camera and microphone: local clients name themselves by their first
// four bytes (158 microphone, 159 camera, little-endian), the TV is asked to open the matching device
// while the relay is enabled, and the TV's bytes are written to the named client unchanged. The
// camera client is fed a keep-alive byte once a second after a camera error until camera data flows.
//
// Threads: every bit of state lives on the serial queue "socketQueue", which is also the delegate queue
// of every relay socket and the queue of the keep-alive timer. The public methods may be called from
// any thread: they copy what they are given and post to that queue, so the keep-alive, the writes and
// the flags are ordered by it. Held by a shared_ptr (the sockets hold it weakly).
class RoziRelay final : public NetSocketDelegate,
                        public ROZIOperationDelegate,
                        public std::enable_shared_from_this<RoziRelay> {
public:
    static constexpr int32_t kMicName = 158;
    static constexpr int32_t kCameraName = 159;
    static constexpr uint8_t kKeepAlive = 0x9F;
    static constexpr long kCameraTag = 0;
    static constexpr long kMicTag = 1;
    // Clients served at once: a camera and a microphone client need two, the rest leaves room for
    // clients that come back before the relay saw them go. Past it the oldest unnamed client is closed.
    static constexpr size_t kMaxClients = 8;

    struct Services {
        // Sends a message without payload to the TV; called on "socketQueue".
        std::function<void(uint16_t type)> send;
        // Shows the tip text in the tip window (the caller hops to the main queue); called on "socketQueue".
        std::function<void(std::string text)> showTip;
        // A client's write queue that the TV's bytes may fill; past it they are dropped.
        size_t writeCap = RoziWriteQueue::kDefaultCap;
    };

    static std::shared_ptr<RoziRelay> create(Services services);
    ~RoziRelay() override;
    RoziRelay(const RoziRelay&) = delete;
    RoziRelay& operator=(const RoziRelay&) = delete;

    // Listens on the interface and port; the outcome is logged, and a failure leaves the relay without
    // a server for good. Waits for "socketQueue". True when listening.
    bool enableServer(const std::string& interface, uint16_t port);
    // What the relay knows, for diagnostics; each waits for "socketQueue", so whatever was handed to the
    // relay before has been done. The port is 0 without a server.
    struct Status {
        bool isCameraConnect = false;
        bool isMicConnect = false;
        bool roziFlag = false;
        size_t clients = 0;
        size_t unknownChunks = 0;
    };
    Status status();
    uint16_t serverPort();
    // Closes the server and every client and ignores everything after; waits for "socketQueue".
    void shutdown();

    // The TV link's side (ROZIOperationDelegate, on the receive thread).
    void enableRoziFunction(bool enable) override;
    void tvOpenRozi(const std::string& device) override;
    void onReveiveCameraVideoData(const uint8_t* data, int64_t len) override;
    void handleMicDataToDecode(const uint8_t* data, int len) override;
    void showRoziTipWindow(int value, int64_t type) override;
    // The link is up, or failed or ended (which also disables the relay).
    void setConnectWithTv(bool connected);
    // This computer became the presenter (opens the named devices) or stopped being it (tells the
    // camera client's loss).
    void presenterChanged(bool speaker);

    // The localized text of a TV's relay error value.
    static std::string cameraOpenErrorMsg(int value);
    // The name a client's chunk gives it: its first four bytes as a little-endian signed integer;
    // nullopt for a chunk shorter than that.
    static std::optional<int32_t> clientName(std::span<const uint8_t> chunk);

    // NetSocketDelegate, on "socketQueue".
    void didAcceptNewSocket(const Socket& sock, const Socket& newSocket) override;
    void didReadData(const Socket& sock, const NetSocketData& data, long tag) override;
    void didWriteDataWithTag(const Socket& sock, long tag) override;
    void socketDidDisconnect(const Socket& sock, const std::optional<NetSocketError>& error) override;

private:
    struct Client {
        std::shared_ptr<NetSocket> socket;
        RoziWriteQueue queue;
        // Chunks that named nothing: the first is logged, the count when the client leaves.
        size_t unknownChunks = 0;
    };

    explicit RoziRelay(Services services);

    // Runs the work on "socketQueue" later, while the relay lives and is not shut down.
    void post(std::function<void(RoziRelay&)> work);
    Client* client(const NetSocket* socket);
    // Makes room for one more client: closes the oldest that is neither the camera nor the microphone.
    void closeOldestUnnamedClient();
    void sendOpen(bool camera, const char* logLine);
    // Writes to a named client's socket through its capped queue.
    void write(const std::shared_ptr<NetSocket>& socket, std::vector<uint8_t> bytes, long tag);
    // The tip of a TV's error value for a device type (1 microphone, 2 camera), under the relay's conditions.
    void tip(int value, int64_t type);
    void startTimer();
    void stopTimer();

    const Services services_;
    const std::shared_ptr<SerialQueue> socketQueue_;
    bool shutDown_ = false;
    std::shared_ptr<NetSocket> listenSocket_;
    std::vector<Client> connectedSockets_;
    std::shared_ptr<NetSocket> cameraSocket_;
    std::shared_ptr<NetSocket> microSocket_;
    bool isCameraConnect_ = false;
    bool isMicConnect_ = false;
    bool roziFlag_ = false;
    bool ConnectWithTv_ = false;
    size_t unknownChunks_ = 0;
    std::unique_ptr<DispatchTimer> timer_;
};
