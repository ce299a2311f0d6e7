#pragma once

#include <cstddef>

// What the connected-senders panel asks of its owner, the senders concern. Main thread.
class ConnectListDelegate {
public:
    virtual ~ConnectListDelegate() = default;

    // The panel's hide button: fold it back into its button.
    virtual void hiddenConnectList() = 0;
    // The panel took a list of that many senders.
    virtual void reportConnectNum(size_t count) = 0;
};
