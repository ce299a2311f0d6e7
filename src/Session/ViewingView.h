#pragma once

class DisplayLayer;
class DisplayWindowView;

// What viewing the TV's screen shows in the main window: the TV-screen window with its picture, and the
// connected page's view buttons. Main thread.
class ViewingView {
public:
    virtual ~ViewingView() = default;

    // The TV-screen window and its picture, which live as long as the view.
    virtual DisplayWindowView& displayWindowView() = 0;
    virtual DisplayLayer& displayLayer() = 0;

    // The view button's state: on while the TV's screen is viewed.
    virtual void setMirrorButtonOn(bool on) = 0;
    virtual void setMirrorButtonEnabled(bool enabled) = 0;
    virtual void setStopMirrorButtonEnabled(bool enabled) = 0;
    // Viewing: the stop button shown (disabled until the TV's size came), the view button hidden, the
    // cast buttons disabled. Idle: the view button shown, the stop button hidden, the cast buttons enabled.
    virtual void showViewingState(bool viewing) = 0;
};
