#pragma once

#include <string>

class ConnectList;

// What the connected-senders panel shows. Main thread.
class ConnectListView {
public:
    virtual ~ConnectListView() = default;

    // Every row is rebuilt from the panel: its numberOfItems() rows, each its item(position). The panel
    // is only lent for the call.
    virtual void reloadData(const ConnectList& list) = 0;
    // The title of the count of senders (`deviceCount`).
    virtual void setDeviceCountTitle(const std::string& title) = 0;
};
