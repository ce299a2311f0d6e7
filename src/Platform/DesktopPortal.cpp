#include "Platform/DesktopPortal.h"

#include "Utils/Log.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include <fcntl.h>

namespace {

constexpr const char* kService = "org.freedesktop.portal.Desktop";
constexpr const char* kObject = "/org/freedesktop/portal/desktop";
constexpr const char* kScreenCast = "org.freedesktop.portal.ScreenCast";
constexpr const char* kRemoteDesktop = "org.freedesktop.portal.RemoteDesktop";
// A portal answers no stream list longer than this for one session; more are left out.
constexpr size_t kMaxStreams = 16;
// Text values of the portal's answers (handles, tokens) are short; longer ones are refused.
constexpr size_t kMaxText = 4096;

const char* interfaceOf(DesktopPortal::Kind kind)
{
    return kind == DesktopPortal::Kind::kScreenCast ? kScreenCast : kRemoteDesktop;
}

// Reads a text value of type "s" or "o" inside an entered variant.
bool readText(sd_bus_message* message, std::string& out)
{
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(message, &type, &contents) < 0 || type != SD_BUS_TYPE_VARIANT || contents == nullptr)
        return false;
    // Another type than asked is left out, as an unknown key would be.
    if (std::strcmp(contents, "s") != 0 && std::strcmp(contents, "o") != 0)
        return sd_bus_message_skip(message, "v") >= 0;
    const char* text = nullptr;
    if (sd_bus_message_read(message, "v", contents, &text) < 0 || text == nullptr || std::strlen(text) > kMaxText)
        return false;
    out = text;
    return true;
}

bool readNumber(sd_bus_message* message, uint32_t& out)
{
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(message, &type, &contents) < 0 || contents == nullptr)
        return false;
    if (std::strcmp(contents, "u") != 0)
        return sd_bus_message_skip(message, "v") >= 0;
    return sd_bus_message_read(message, "v", "u", &out) >= 0;
}

// One stream's properties: "a{sv}" with "size" (ii) and "source_type" u among others.
bool readStreamProperties(sd_bus_message* message, DesktopPortal::Stream& stream)
{
    if (sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sv}") < 0)
        return false;
    while (sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(message, "s", &key) < 0)
            return false;
        const char* contents = nullptr;
        char type = 0;
        sd_bus_message_peek_type(message, &type, &contents);
        if (std::strcmp(key, "size") == 0 && contents != nullptr && std::strcmp(contents, "(ii)") == 0) {
            int32_t width = 0;
            int32_t height = 0;
            if (sd_bus_message_read(message, "v", "(ii)", &width, &height) < 0)
                return false;
            stream.width = width;
            stream.height = height;
        } else if (std::strcmp(key, "source_type") == 0) {
            if (!readNumber(message, stream.sourceType))
                return false;
        } else if (sd_bus_message_skip(message, "v") < 0) {
            return false;
        }
        if (sd_bus_message_exit_container(message) < 0)
            return false;
    }
    return sd_bus_message_exit_container(message) >= 0;
}

bool readStreams(sd_bus_message* message, std::vector<DesktopPortal::Stream>& streams)
{
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(message, &type, &contents) < 0 || contents == nullptr
        || std::strcmp(contents, "a(ua{sv})") != 0)
        return sd_bus_message_skip(message, "v") >= 0;
    if (sd_bus_message_enter_container(message, SD_BUS_TYPE_VARIANT, "a(ua{sv})") < 0
        || sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "(ua{sv})") < 0)
        return false;
    while (sd_bus_message_enter_container(message, SD_BUS_TYPE_STRUCT, "ua{sv}") > 0) {
        DesktopPortal::Stream stream;
        if (sd_bus_message_read(message, "u", &stream.nodeId) < 0 || !readStreamProperties(message, stream)
            || sd_bus_message_exit_container(message) < 0)
            return false;
        if (streams.size() < kMaxStreams)
            streams.push_back(stream);
    }
    return sd_bus_message_exit_container(message) >= 0 && sd_bus_message_exit_container(message) >= 0;
}

// Appends "a{sv}" with the given numbers and texts.
int appendOptions(sd_bus_message* message, const std::vector<std::pair<std::string, uint32_t>>& numbers,
                  const std::vector<std::pair<std::string, std::string>>& texts)
{
    int r = sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "{sv}");
    for (const auto& [key, value] : numbers) {
        if (r >= 0)
            r = sd_bus_message_append(message, "{sv}", key.c_str(), "u", value);
    }
    for (const auto& [key, value] : texts) {
        if (r >= 0)
            r = sd_bus_message_append(message, "{sv}", key.c_str(), "s", value.c_str());
    }
    return r < 0 ? r : sd_bus_message_close_container(message);
}

} // namespace

// The answer of one request, filled by its Response signal.
struct DesktopPortal::Request {
    bool answered = false;
    uint32_t code = 2;
    DesktopPortal::Started* started = nullptr;
    std::string* sessionHandle = nullptr;

    static int onResponse(sd_bus_message* message, void* data, sd_bus_error*)
    {
        auto* self = static_cast<Request*>(data);
        self->answered = true;
        if (sd_bus_message_read(message, "u", &self->code) < 0
            || sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "{sv}") < 0) {
            self->code = 2;
            return 0;
        }
        while (sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
            const char* key = nullptr;
            if (sd_bus_message_read(message, "s", &key) < 0)
                break;
            bool read = true;
            if (std::strcmp(key, "session_handle") == 0 && self->sessionHandle != nullptr) {
                read = readText(message, *self->sessionHandle);
            } else if (std::strcmp(key, "restore_token") == 0 && self->started != nullptr) {
                read = readText(message, self->started->restoreToken);
            } else if (std::strcmp(key, "devices") == 0 && self->started != nullptr) {
                read = readNumber(message, self->started->devices);
            } else if (std::strcmp(key, "streams") == 0 && self->started != nullptr) {
                read = readStreams(message, self->started->streams);
            } else {
                read = sd_bus_message_skip(message, "v") >= 0;
            }
            if (!read || sd_bus_message_exit_container(message) < 0) {
                self->code = 2;
                break;
            }
        }
        return 0;
    }
};

std::unique_ptr<DesktopPortal> DesktopPortal::connect()
{
    sd_bus* bus = nullptr;
    if (const int r = sd_bus_open_user(&bus); r < 0) {
        PLOG("no session bus: %s", std::strerror(-r));
        return nullptr;
    }
    std::unique_ptr<DesktopPortal> portal(new DesktopPortal(bus));
    if (portal->sender_.empty()) {
        PLOG("the session bus gave no name");
        return nullptr;
    }
    if (portal->version(Kind::kScreenCast) == 0 && portal->version(Kind::kRemoteDesktop) == 0) {
        PLOG("no desktop portal on the session bus");
        return nullptr;
    }
    return portal;
}

DesktopPortal::DesktopPortal(sd_bus* bus) : bus_(bus)
{
    const char* unique = nullptr;
    if (sd_bus_get_unique_name(bus_, &unique) >= 0 && unique != nullptr) {
        // ":1.42" names its requests ".../1_42/<token>".
        sender_ = unique + (unique[0] == ':' ? 1 : 0);
        std::replace(sender_.begin(), sender_.end(), '.', '_');
    }
}

DesktopPortal::~DesktopPortal()
{
    sd_bus_flush_close_unref(bus_);
}

uint32_t DesktopPortal::property(const char* interface, const char* name)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    uint32_t value = 0;
    if (sd_bus_get_property_trivial(bus_, kService, kObject, interface, name, &error, 'u', &value) < 0)
        value = 0;
    sd_bus_error_free(&error);
    return value;
}

uint32_t DesktopPortal::version(Kind kind)
{
    return property(interfaceOf(kind), "version");
}

uint32_t DesktopPortal::availableSourceTypes()
{
    return property(kScreenCast, "AvailableSourceTypes");
}

uint32_t DesktopPortal::availableCursorModes()
{
    return property(kScreenCast, "AvailableCursorModes");
}

uint32_t DesktopPortal::availableDeviceTypes()
{
    return property(kRemoteDesktop, "AvailableDeviceTypes");
}

std::string DesktopPortal::nextToken()
{
    return "pelkor" + std::to_string(++tokens_);
}

DesktopPortal::Outcome DesktopPortal::request(const char* interface, const char* method, const std::string& session,
                                              const std::vector<std::pair<std::string, uint32_t>>& numbers,
                                              const std::vector<std::pair<std::string, std::string>>& texts,
                                              Started* started, std::string* sessionHandle)
{
    const std::string token = nextToken();
    const std::string path = std::string(kObject) + "/request/" + sender_ + "/" + token;
    Request answer;
    answer.started = started;
    answer.sessionHandle = sessionHandle;
    // Listening before the call: the answer may come before the call returns.
    sd_bus_slot* slot = nullptr;
    if (sd_bus_match_signal(bus_, &slot, kService, path.c_str(), "org.freedesktop.portal.Request", "Response",
                            &Request::onResponse, &answer)
        < 0)
        return Outcome::kFailed;
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &call, kService, kObject, interface, method);
    if (r >= 0 && !session.empty())
        r = sd_bus_message_append(call, "o", session.c_str());
    if (r >= 0 && std::strcmp(method, "Start") == 0)
        r = sd_bus_message_append(call, "s", "");
    auto withToken = texts;
    withToken.emplace_back("handle_token", token);
    if (r >= 0)
        r = appendOptions(call, numbers, withToken);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    if (r >= 0)
        r = sd_bus_call(bus_, call, 0, &error, &reply);
    if (r < 0)
        PLOG("portal %s.%s failed: %s", interface, method, error.message ? error.message : std::strerror(-r));
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    Outcome outcome = Outcome::kFailed;
    if (r >= 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kAnswerTimeoutSeconds);
        while (!answer.answered && !cancelled() && std::chrono::steady_clock::now() < deadline) {
            const int processed = sd_bus_process(bus_, nullptr);
            if (processed < 0)
                break;
            if (processed == 0)
                sd_bus_wait(bus_, 100'000);
        }
        if (answer.answered)
            outcome = answer.code == 0 ? Outcome::kGranted : answer.code == 1 ? Outcome::kDenied : Outcome::kFailed;
        else if (cancelled())
            outcome = Outcome::kCancelled;
        if (!answer.answered) {
            // The question goes away with the request.
            sd_bus_call_method(bus_, kService, path.c_str(), "org.freedesktop.portal.Request", "Close", nullptr,
                               nullptr, "");
            PLOG("portal %s.%s: %s", interface, method, cancelled() ? "cancelled" : "no answer in time");
        }
    }
    sd_bus_slot_unref(slot);
    return outcome;
}

std::optional<std::string> DesktopPortal::createSession(Kind kind)
{
    std::string handle;
    const Outcome outcome = request(interfaceOf(kind), "CreateSession", {}, {},
                                    {{"session_handle_token", nextToken()}}, nullptr, &handle);
    if (outcome != Outcome::kGranted || handle.empty())
        return std::nullopt;
    return handle;
}

DesktopPortal::Outcome DesktopPortal::selectSources(const std::string& session, uint32_t types, uint32_t cursorMode,
                                                    const std::string& restoreToken, bool persist)
{
    std::vector<std::pair<std::string, uint32_t>> numbers = {{"types", types}};
    if (persist)
        numbers.emplace_back("persist_mode", kPersistUntilRevoked);
    if (cursorMode != 0)
        numbers.emplace_back("cursor_mode", cursorMode);
    std::vector<std::pair<std::string, std::string>> texts;
    if (persist && !restoreToken.empty())
        texts.emplace_back("restore_token", restoreToken);
    return request(kScreenCast, "SelectSources", session, numbers, texts, nullptr, nullptr);
}

DesktopPortal::Outcome DesktopPortal::selectDevices(const std::string& session, uint32_t types,
                                                    const std::string& restoreToken)
{
    // Version 1 refuses both ("remote desktop sessions cannot persist").
    const bool persist = version(Kind::kRemoteDesktop) >= 2;
    std::vector<std::pair<std::string, uint32_t>> numbers = {{"types", types}};
    std::vector<std::pair<std::string, std::string>> texts;
    if (persist)
        numbers.emplace_back("persist_mode", kPersistUntilRevoked);
    if (persist && !restoreToken.empty())
        texts.emplace_back("restore_token", restoreToken);
    return request(kRemoteDesktop, "SelectDevices", session, numbers, texts, nullptr, nullptr);
}

DesktopPortal::Outcome DesktopPortal::start(Kind kind, const std::string& session, Started& started)
{
    return request(interfaceOf(kind), "Start", session, {}, {}, &started, nullptr);
}

int DesktopPortal::openPipeWireRemote(const std::string& session)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int fd = -1;
    if (sd_bus_call_method(bus_, kService, kObject, kScreenCast, "OpenPipeWireRemote", &error, &reply, "oa{sv}",
                           session.c_str(), 0)
            >= 0
        && sd_bus_message_read(reply, "h", &fd) >= 0) {
        // The descriptor belongs to the message; the caller gets its own.
        fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    } else {
        PLOG("portal OpenPipeWireRemote failed: %s", error.message ? error.message : "no descriptor");
        fd = -1;
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return fd;
}

void DesktopPortal::closeSession(const std::string& session)
{
    sd_bus_call_method(bus_, kService, session.c_str(), "org.freedesktop.portal.Session", "Close", nullptr, nullptr,
                       "");
}

bool DesktopPortal::notifyPointerMotionAbsolute(const std::string& session, uint32_t stream, double x, double y)
{
    return sd_bus_call_method(bus_, kService, kObject, kRemoteDesktop, "NotifyPointerMotionAbsolute", nullptr, nullptr,
                              "oa{sv}udd", session.c_str(), 0, stream, x, y)
        >= 0;
}

bool DesktopPortal::notifyPointerButton(const std::string& session, int32_t button, bool pressed)
{
    return sd_bus_call_method(bus_, kService, kObject, kRemoteDesktop, "NotifyPointerButton", nullptr, nullptr,
                              "oa{sv}iu", session.c_str(), 0, button, pressed ? 1u : 0u)
        >= 0;
}

bool DesktopPortal::notifyKeyboardKeycode(const std::string& session, int32_t keycode, bool pressed)
{
    return sd_bus_call_method(bus_, kService, kObject, kRemoteDesktop, "NotifyKeyboardKeycode", nullptr, nullptr,
                              "oa{sv}iu", session.c_str(), 0, keycode, pressed ? 1u : 0u)
        >= 0;
}
