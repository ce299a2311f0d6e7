#pragma once

// Told by RecordManager that the window being cast can no longer be captured (closed, hidden).
// Called once per cast, on the capture queue: the implementation posts its work elsewhere and never
// waits there for the thread that stops the capture.
class RecordManagerToStopScreenDelegate {
public:
    virtual ~RecordManagerToStopScreenDelegate() = default;
    virtual void stopScreenFunction() = 0;
};
