#include "Platform/PulseContext.h"

#include "Platform/DispatchPool.h"
#include "Utils/Log.h"

#include <pulse/error.h>

namespace {

// Holds the event thread's lock for one scope.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

void onStateChange(pa_context*, void* user)
{
    static_cast<PulseContext*>(user)->wake();
}

void onSuccess(pa_context*, int, void* user)
{
    static_cast<PulseContext*>(user)->wake();
}

}  // namespace

std::unique_ptr<PulseContext> PulseContext::connect(const char* clientName)
{
    std::unique_ptr<PulseContext> self(new PulseContext());
    self->loop_ = pa_threaded_mainloop_new();
    if (!self->loop_)
        return nullptr;
    self->context_ = pa_context_new(pa_threaded_mainloop_get_api(self->loop_), clientName);
    if (!self->context_)
        return nullptr;
    pa_context_set_state_callback(self->context_, onStateChange, self.get());
    if (pa_threaded_mainloop_start(self->loop_) < 0)
        return nullptr;

    LoopLock lock(self->loop_);
    if (pa_context_connect(self->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        PLOG("sound server connect failed: %s", pa_strerror(pa_context_errno(self->context_)));
        return nullptr;
    }
    // The sound server's thread answers: a pool worker waiting here is counted as blocked.
    const DispatchPool::BlockingScope blocking;
    for (;;) {
        pa_context_state_t state = pa_context_get_state(self->context_);
        if (state == PA_CONTEXT_READY)
            return self;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            PLOG("sound server connect failed: %s", pa_strerror(pa_context_errno(self->context_)));
            return nullptr;
        }
        pa_threaded_mainloop_wait(self->loop_);
    }
}

PulseContext::~PulseContext()
{
    if (loop_)
        pa_threaded_mainloop_stop(loop_);
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_)
        pa_threaded_mainloop_free(loop_);
}

void PulseContext::wake()
{
    pa_threaded_mainloop_signal(loop_, 0);
}

bool PulseContext::run(const std::function<pa_operation*(pa_context*)>& start)
{
    LoopLock lock(loop_);
    if (pa_context_get_state(context_) != PA_CONTEXT_READY)
        return false;
    pa_operation* operation = start(context_);
    if (!operation)
        return false;
    const DispatchPool::BlockingScope blocking;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING
           && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
        pa_threaded_mainloop_wait(loop_);
    bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return done;
}

bool PulseContext::subscribe(pa_subscription_mask_t mask, pa_context_subscribe_cb_t fn, void* user)
{
    {
        LoopLock lock(loop_);
        pa_context_set_subscribe_callback(context_, fn, user);
    }
    return run([&](pa_context* context) { return pa_context_subscribe(context, mask, onSuccess, this); });
}
