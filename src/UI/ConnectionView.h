#pragma once

#include "UI/MainWindowPage.h"

#include <optional>
#include <string>

// What finding and connecting show in the main window. Main thread.
class ConnectionView {
public:
    virtual ~ConnectionView() = default;

    virtual void showPage(MainWindowPage page) = 0;
};
