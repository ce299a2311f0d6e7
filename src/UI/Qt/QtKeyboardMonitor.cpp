#include "UI/Qt/QtKeyboardMonitor.h"

#include "Platform/MacKeyCodes.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <X11/keysym.h>

#include <array>
#include <utility>

namespace {

using Event = KeyboardMonitor::Event;

// LockMask of an X key event's state; X's own header defines names that Qt's events use too.
constexpr quint32 kXLockMask = 1U << 1;

// The keysym of a Qt key, for platforms that give no native one (offscreen, Wayland): letters and
// digits by their Latin-1 value, the rest by this table.
constexpr std::array<std::pair<int, uint32_t>, 28> kSpecialKeys{{
    {Qt::Key_Return, XK_Return}, {Qt::Key_Enter, XK_KP_Enter}, {Qt::Key_Tab, XK_Tab}, {Qt::Key_Backtab, XK_ISO_Left_Tab},
    {Qt::Key_Space, XK_space}, {Qt::Key_Backspace, XK_BackSpace}, {Qt::Key_Escape, XK_Escape},
    {Qt::Key_Insert, XK_Insert}, {Qt::Key_Delete, XK_Delete}, {Qt::Key_Home, XK_Home}, {Qt::Key_End, XK_End},
    {Qt::Key_PageUp, XK_Prior}, {Qt::Key_PageDown, XK_Next}, {Qt::Key_Left, XK_Left}, {Qt::Key_Right, XK_Right},
    {Qt::Key_Up, XK_Up}, {Qt::Key_Down, XK_Down}, {Qt::Key_Shift, XK_Shift_L}, {Qt::Key_Control, XK_Control_L},
    {Qt::Key_Alt, XK_Alt_L}, {Qt::Key_Meta, XK_Super_L}, {Qt::Key_CapsLock, XK_Caps_Lock},
    {Qt::Key_Minus, XK_minus}, {Qt::Key_Equal, XK_equal}, {Qt::Key_Comma, XK_comma}, {Qt::Key_Period, XK_period},
    {Qt::Key_Slash, XK_slash}, {Qt::Key_Semicolon, XK_semicolon},
}};

std::optional<uint32_t> keysymOf(const QKeyEvent& event)
{
    if (event.nativeVirtualKey() != 0)
        return event.nativeVirtualKey();
    const int key = event.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return XK_a + static_cast<uint32_t>(key - Qt::Key_A);
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return XK_0 + static_cast<uint32_t>(key - Qt::Key_0);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F20)
        return XK_F1 + static_cast<uint32_t>(key - Qt::Key_F1);
    for (const auto& [qtKey, keysym] : kSpecialKeys) {
        if (qtKey == key)
            return keysym;
    }
    return std::nullopt;
}

bool isModifierKey(int key)
{
    return key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta
           || key == Qt::Key_CapsLock || key == Qt::Key_AltGr;
}

// Qt's Control is the Mac's Command and its Meta the Mac's Control only on a Mac; here each is itself.
uint64_t flagsOf(Qt::KeyboardModifiers modifiers)
{
    uint64_t flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= Event::kShiftFlag;
    if (modifiers & Qt::ControlModifier)
        flags |= Event::kControlFlag;
    if (modifiers & Qt::AltModifier)
        flags |= Event::kOptionFlag;
    if (modifiers & Qt::MetaModifier)
        flags |= Event::kCommandFlag;
    return flags;
}

} // namespace

QtKeyboardMonitor::QtKeyboardMonitor() = default;

QtKeyboardMonitor::~QtKeyboardMonitor()
{
    remove();
}

void QtKeyboardMonitor::install(Handler handler)
{
    remove();
    handler_ = std::move(handler);
    QCoreApplication::instance()->installEventFilter(this);
}

void QtKeyboardMonitor::remove()
{
    if (!handler_)
        return;
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeEventFilter(this);
    handler_ = nullptr;
}

std::optional<Event> QtKeyboardMonitor::translate(const QKeyEvent& event)
{
    const bool pressed = event.type() == QEvent::KeyPress;
    if (!pressed && event.isAutoRepeat())
        return std::nullopt;
    if (event.nativeScanCode() != 0)
        capsLock_ = (event.nativeModifiers() & kXLockMask) != 0;
    if (event.key() == Qt::Key_CapsLock) {
        // The press toggles the lock: on at the press, or off by the release that follows it.
        if (!pressed || event.isAutoRepeat())
            return std::nullopt;
        capsLock_ = !capsLock_;
    }
    const auto keysym = keysymOf(event);
    const auto keyCode = keysym ? MacKeyCodes::fromKeysym(*keysym) : std::nullopt;
    if (!keyCode)
        return std::nullopt;
    Event translated;
    translated.keyCode = *keyCode;
    // A modifier key's event carries the modifiers as they were before it; the Mac reports them after.
    Qt::KeyboardModifiers modifiers = event.modifiers();
    if (isModifierKey(event.key())) {
        translated.type = Event::Type::FlagsChanged;
        const Qt::KeyboardModifier own = event.key() == Qt::Key_Shift     ? Qt::ShiftModifier
                                         : event.key() == Qt::Key_Control ? Qt::ControlModifier
                                         : event.key() == Qt::Key_Meta    ? Qt::MetaModifier
                                         : event.key() == Qt::Key_CapsLock ? Qt::NoModifier
                                                                           : Qt::AltModifier;
        modifiers.setFlag(own, pressed);
    } else {
        translated.type = pressed ? Event::Type::KeyDown : Event::Type::KeyUp;
    }
    translated.modifierFlags = flagsOf(modifiers) | (capsLock_ ? Event::kCapsLockFlag : 0);
    return translated;
}

bool QtKeyboardMonitor::eventFilter(QObject* watched, QEvent* event)
{
    // Each key reaches the filter once per widget it travels through; only the first delivery, to
    // the window that has focus, counts.
    if (handler_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && watched->isWindowType()) {
        if (const auto translated = translate(*static_cast<QKeyEvent*>(event))) {
            // A handler may remove itself: it runs from a copy.
            const Handler handler = handler_;
            handler(*translated);
        }
    }
    return QObject::eventFilter(watched, event);
}
