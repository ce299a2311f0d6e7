#include "Platform/SwayHeadlessDisplay.h"

#include "Platform/SwayIpc.h"
#include "Platform/SwayOutputRecord.h"
#include "Platform/WaylandConnection.h"
#include "Platform/WlrScreencopyCapture.h"
#include "Utils/Log.h"

#include <mutex>
#include <set>

namespace {

// Calls on one sway connection one at a time.
std::mutex ipcMutex;

std::set<std::string> headlessOutputs(const nlohmann::json& outputs, bool active)
{
    std::set<std::string> names;
    for (const auto& output : outputs) {
        const std::string name = output.value("name", std::string{});
        if (name.rfind("HEADLESS-", 0) == 0 && output.value("active", false) == active)
            names.insert(name);
    }
    return names;
}

// The compositor's output of that name, as a client sees it.
std::optional<WaylandConnection::Output> clientOutput(const std::string& name)
{
    const auto connection = WaylandConnection::open();
    if (!connection)
        return std::nullopt;
    for (const auto& output : connection->outputs()) {
        if (output.label == name)
            return output;
    }
    return std::nullopt;
}

} // namespace

SwayHeadlessDisplay::Created SwayHeadlessDisplay::create()
{
    std::unique_ptr<SwayIpc> ipc = SwayIpc::connect();
    if (!ipc)
        return {nullptr, "the compositor is not sway: no headless output to extend to"};
    const auto connection = WaylandConnection::open();
    const WaylandConnection::Output* main = connection ? connection->output(0) : nullptr;
    if (main == nullptr || main->frame.width <= 0 || main->frame.height <= 0)
        return {nullptr, "the compositor shows no output"};
    std::lock_guard lock(ipcMutex);
    const auto before = ipc->outputs();
    if (!before)
        return {nullptr, "sway does not list its outputs"};
    // One left disabled by an earlier run is taken again, since sway cannot remove it; so is the one an
    // earlier run noted, where sway could not even disable it.
    std::unique_ptr<SwayOutputRecord> record = SwayOutputRecord::take(ipc->socketPath());
    const auto active = headlessOutputs(*before, true);
    std::string name;
    if (const auto disabled = headlessOutputs(*before, false); !disabled.empty()) {
        name = *disabled.begin();
        if (!ipc->command("output " + name + " enable"))
            return {nullptr, "sway did not enable its headless output " + name};
    } else if (record && active.contains(record->output()) && record->output() != main->label) {
        name = record->output();
    } else {
        if (!ipc->command("create_output"))
            return {nullptr, "sway made no headless output"};
        const auto after = ipc->outputs();
        for (const std::string& made : after ? headlessOutputs(*after, true) : std::set<std::string>{}) {
            if (!active.contains(made))
                name = made;
        }
        if (name.empty())
            return {nullptr, "sway's new headless output is not among its outputs"};
    }
    if (record)
        record->keep(name);
    const std::string mode = std::to_string(main->frame.width) + "x" + std::to_string(main->frame.height);
    ipc->command("output " + name + " mode " + mode);
    PLOG("extended screen: sway's headless output %s, %s", name.c_str(), mode.c_str());
    return {std::unique_ptr<SwayHeadlessDisplay>(
                new SwayHeadlessDisplay(std::move(ipc), std::move(record), name, main->frame.height)),
            {}};
}

SwayHeadlessDisplay::SwayHeadlessDisplay(std::unique_ptr<SwayIpc> ipc, std::unique_ptr<SwayOutputRecord> record,
                                         std::string name, int height)
    : ipc_(std::move(ipc)), record_(std::move(record)), name_(std::move(name)), height_(height)
{
}

SwayHeadlessDisplay::~SwayHeadlessDisplay()
{
    std::lock_guard lock(ipcMutex);
    ipc_->command("output " + name_ + " disable");
}

uint32_t SwayHeadlessDisplay::displayId() const
{
    const auto output = clientOutput(name_);
    return output ? output->name : 0;
}

std::optional<VirtualDisplay::Layout> SwayHeadlessDisplay::layout()
{
    const auto connection = WaylandConnection::open();
    if (!connection)
        return std::nullopt;
    const WaylandConnection::Output* main = connection->output(0);
    if (main == nullptr)
        return std::nullopt;
    Layout layout{main->name, main->frame, std::nullopt};
    for (const auto& output : connection->outputs()) {
        if (output.label == name_)
            layout.frame = output.frame;
    }
    return layout;
}

bool SwayHeadlessDisplay::placeAt(int x, int y)
{
    std::lock_guard lock(ipcMutex);
    return ipc_->command("output " + name_ + " position " + std::to_string(x) + " " + std::to_string(y));
}

BgraFrame SwayHeadlessDisplay::snapshot()
{
    const auto screencopy = WlrScreencopyCapture::open();
    BgraFrame picture;
    if (!screencopy)
        return picture;
    const auto output = clientOutput(name_);
    // Its picture, or the main display's where it cannot be taken; a copy, so it outlives the capture.
    if (!output || screencopy->capture(output->name, picture, false) != WlrScreencopyCapture::CaptureResult::kOk)
        screencopy->capture(0, picture, false);
    BgraFrame own = picture;
    return own;
}
