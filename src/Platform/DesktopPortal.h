#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sd_bus;

// The desktop portal's screen-cast and remote-desktop interfaces on the session bus: the Wayland
// desktop's way to share a screen or a window with an application, and to let it drive the pointer
// and keyboard, each once the user agreed. A restore token lets a later session skip the question.
// One thread at a time.
class DesktopPortal {
public:
    // What the portal shares, as its source types name it.
    static constexpr uint32_t kSourceMonitor = 1;
    static constexpr uint32_t kSourceWindow = 2;
    static constexpr uint32_t kSourceVirtual = 4;
    // How the cursor comes with the pictures.
    static constexpr uint32_t kCursorHidden = 1;
    static constexpr uint32_t kCursorEmbedded = 2;
    static constexpr uint32_t kCursorMetadata = 4;
    // Devices of a remote-desktop session.
    static constexpr uint32_t kDeviceKeyboard = 1;
    static constexpr uint32_t kDevicePointer = 2;
    // Kept until the user revokes it.
    static constexpr uint32_t kPersistUntilRevoked = 2;

    enum class Outcome {
        kGranted,
        kDenied,    // the user said no or closed the question
        kFailed,    // the portal failed or did not answer in time
        kCancelled, // cancel() was called meanwhile
    };

    struct Stream {
        uint32_t nodeId = 0;
        int width = 0;
        int height = 0;
        uint32_t sourceType = 0;
    };
    struct Started {
        std::vector<Stream> streams;
        std::string restoreToken;
        uint32_t devices = 0;
    };
    enum class Kind {
        kScreenCast,
        kRemoteDesktop,
    };

    // The portal on the session bus; null, logged, without a session bus or a portal there.
    static std::unique_ptr<DesktopPortal> connect();
    ~DesktopPortal();
    DesktopPortal(const DesktopPortal&) = delete;
    DesktopPortal& operator=(const DesktopPortal&) = delete;

    // The interface's properties; 0 when it is missing.
    uint32_t version(Kind kind);
    uint32_t availableSourceTypes();
    uint32_t availableCursorModes();
    uint32_t availableDeviceTypes();

    // A new session; nullopt when the portal refused.
    std::optional<std::string> createSession(Kind kind);
    // What the session shares; an empty token asks the user. A remote-desktop session's screens do not
    // persist by themselves (`persist` false): its devices carry the token.
    Outcome selectSources(const std::string& session, uint32_t types, uint32_t cursorMode,
                          const std::string& restoreToken, bool persist = true);
    // The devices of a remote-desktop session; the token is used, and one asked for, only where the
    // portal's remote desktop keeps grants (its version 2 and later).
    Outcome selectDevices(const std::string& session, uint32_t types, const std::string& restoreToken);
    // Starts the session: the user's question, unless a restore token spared it.
    Outcome start(Kind kind, const std::string& session, Started& started);
    // The PipeWire connection of a started session (the caller owns it); -1 on failure.
    int openPipeWireRemote(const std::string& session);
    void closeSession(const std::string& session);

    // Input of a started remote-desktop session: positions in the stream's pixels, evdev codes.
    bool notifyPointerMotionAbsolute(const std::string& session, uint32_t stream, double x, double y);
    bool notifyPointerButton(const std::string& session, int32_t button, bool pressed);
    bool notifyKeyboardKeycode(const std::string& session, int32_t keycode, bool pressed);

    // A request waiting for the user's answer ends with kCancelled once `flag` is set (from any thread).
    void cancelWhen(std::shared_ptr<const std::atomic<bool>> flag) { cancelFlag_ = std::move(flag); }

    // A question the user has not answered in this time counts as refused.
    static constexpr int kAnswerTimeoutSeconds = 120;

private:
    explicit DesktopPortal(sd_bus* bus);
    struct Request;
    bool cancelled() const { return cancelFlag_ && cancelFlag_->load(); }
    // Calls a method that answers through a request object, and waits for its answer.
    Outcome request(const char* interface, const char* method, const std::string& session,
                    const std::vector<std::pair<std::string, uint32_t>>& numbers,
                    const std::vector<std::pair<std::string, std::string>>& texts, Started* started,
                    std::string* sessionHandle);
    uint32_t property(const char* interface, const char* name);
    std::string nextToken();

    sd_bus* bus_ = nullptr;
    std::string sender_;
    unsigned tokens_ = 0;
    std::shared_ptr<const std::atomic<bool>> cancelFlag_;
};
