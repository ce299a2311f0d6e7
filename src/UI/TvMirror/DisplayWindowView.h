#pragma once

#include "UI/TvMirror/DisplayGeometry.h"

// What DisplayWindowController shows in the TV-screen window, and the window's sizes it reads. Main thread.
class DisplayWindowView {
public:
    virtual ~DisplayWindowView() = default;

    // Brings the window in front.
    virtual void showWindow() = 0;
    virtual bool isWindowVisible() const = 0;
    // Takes the window off the screen; it stays loaded for the next view.
    virtual void orderOut() = 0;

    // The content area, in points.
    virtual DisplaySize contentSize() const = 0;
    virtual void setContentSize(DisplaySize size) = 0;
    // The frame's height above the content: the title bar.
    virtual double titleBarHeight() const = 0;
    virtual void centerWindow() = 0;
    // The window's frame on the screen, and the main display's width, in points.
    virtual DisplayRect windowFrame() const = 0;
    virtual double mainDisplayWidth() const = 0;

    // The six buttons of the open sidebar (Home, Undo, annotation, Clear, collapse, close).
    virtual void showSidebar(bool shown) = 0;
    // The handle that opens the sidebar, kept above the picture.
    virtual void showSidebarHandle(bool shown) = 0;
    virtual void raiseSidebarHandle() = 0;
    // The handle's vertical origin and height in the content (origin lower left); moving keeps its x.
    virtual double sidebarHandleY() const = 0;
    virtual double sidebarHandleHeight() const = 0;
    virtual void moveSidebarHandle(double y) = 0;
    // The annotation button's state and image ("AnnotationsSelect" on, "Annotations" off).
    virtual void showAnnotationState(bool on) = 0;
};
