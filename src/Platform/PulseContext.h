#pragma once

#include <pulse/context.h>
#include <pulse/operation.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <functional>
#include <memory>

// A connection to the sound server (the one PULSE_SERVER or the user's session names) with its own
// event thread. Callers run requests through `run`, which waits for them to finish.
class PulseContext {
public:
    // nullptr (and a log line) when no server answers.
    static std::unique_ptr<PulseContext> connect(const char* clientName);
    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    // Starts a request with the event thread locked and waits until it is done or the connection
    // fails. The request's callbacks run on the event thread and must call `wake` when they are done.
    // False when the request could not start or did not complete.
    bool run(const std::function<pa_operation*(pa_context*)>& start);
    void wake();
    // Installs fn as the subscription callback and subscribes to mask.
    bool subscribe(pa_subscription_mask_t mask, pa_context_subscribe_cb_t fn, void* user);

private:
    PulseContext() = default;

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};
