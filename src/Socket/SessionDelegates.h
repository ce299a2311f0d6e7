#pragma once

#include "Socket/ActiveVersionsDelegate.h"
#include "Socket/DelegateSlot.h"
#include "Socket/ROZIOperationDelegate.h"
#include "Socket/VXTcpConnectDelegate.h"
#include "Socket/VXTcpReverseControlDelegate.h"
#include "Socket/VXTcpReverseVersionDelegate.h"

// The five delegate slots of the session. Shared, so that a call posted to the main queue can
// outlive the manager.
struct SessionDelegates {
    DelegateSlot<VXTcpConnectDelegate> connect;
    DelegateSlot<VXTcpReverseControlDelegate> reverseControl;
    DelegateSlot<VXTcpReverseVersionDelegate> reverseVersion;
    DelegateSlot<ROZIOperationDelegate> rozi;
    DelegateSlot<ActiveVersionsDelegate> activeVersions;

    // True while a call into one of the five delegates is on the calling thread's stack.
    bool calledHere() const
    {
        return connect.calledHere() || reverseControl.calledHere() || reverseVersion.calledHere() ||
               rozi.calledHere() || activeVersions.calledHere();
    }
};
