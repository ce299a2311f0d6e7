#pragma once

// Told by RecordManager that its source can no longer be read (the X display is gone or refuses the
// capture): the cast cannot go on, and its owner ends it (the link is released). Called once per cast,
// on the capture queue: the implementation posts its work elsewhere and never waits there for the
// thread that stops the capture or for the link's threads.
class CaptureFailureReport {
public:
    virtual ~CaptureFailureReport() = default;
    virtual void captureFailed() = 0;
};
