#include "UI/Qt/QtMainLoop.h"

#include "Platform/LoopTaskQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <cassert>
#include <mutex>
#include <optional>

namespace {

constexpr size_t kBatch = 64;

} // namespace

struct QtMainLoop::Core {
    std::mutex mutex;
    LoopTaskQueue tasks;
    // A wake-up is queued in Qt and has not run yet: posts meanwhile need no other.
    bool wakeQueued = false;
    // The deadline a timer is armed for; a later deadline needs no other timer.
    std::optional<Clock::time_point> armedFor;
    bool closed = false;

    // Any thread, with mutex held.
    static void wake(const std::shared_ptr<Core>& core);
    // GUI thread: runs the tasks due now, then arms the timer for the next deadline.
    static void drain(const std::shared_ptr<Core>& core);
};

void QtMainLoop::Core::wake(const std::shared_ptr<Core>& core)
{
    if (core->wakeQueued || core->closed)
        return;
    core->wakeQueued = true;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [weak = std::weak_ptr(core)] {
        if (auto alive = weak.lock()) {
            {
                std::lock_guard lock(alive->mutex);
                alive->wakeQueued = false;
            }
            drain(alive);
        }
    }, Qt::QueuedConnection);
}

void QtMainLoop::Core::drain(const std::shared_ptr<Core>& core)
{
    // A bounded batch per wake-up, the rest after the window's own events: a task that keeps posting
    // cannot starve them.
    std::unique_lock lock(core->mutex);
    if (core->closed)
        return;
    const Clock::time_point now = Clock::now();
    for (size_t ran = 0; core->tasks.hasDue(now); ++ran) {
        if (ran == kBatch) {
            wake(core);
            return;
        }
        std::optional<Task> task = core->tasks.takeNext(now);
        lock.unlock();
        (*task)();
        lock.lock();
    }
    const std::optional<Clock::time_point> next = core->tasks.nextDeadline();
    if (!next || (core->armedFor && *core->armedFor <= *next && *core->armedFor > now))
        return;
    core->armedFor = *next;
    // Rounded up, so the timer never fires before the deadline; one that fires early finds nothing due
    // and arms itself again.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now);
    QTimer::singleShot(wait, Qt::PreciseTimer, QCoreApplication::instance(), [weak = std::weak_ptr(core)] {
        if (auto alive = weak.lock()) {
            {
                std::lock_guard timerLock(alive->mutex);
                alive->armedFor.reset();
            }
            drain(alive);
        }
    });
}

QtMainLoop::QtMainLoop() : core_(std::make_shared<Core>()), thread_(std::this_thread::get_id())
{
    assert(QCoreApplication::instance() && "the QCoreApplication comes first");
    assert(QCoreApplication::instance()->thread() == QThread::currentThread() && "made on the GUI thread");
}

QtMainLoop::~QtMainLoop() = default;

void QtMainLoop::close()
{
    assert(isLoopThread());
    LoopTaskQueue dropped;
    {
        std::lock_guard lock(core_->mutex);
        core_->closed = true;
        std::swap(dropped, core_->tasks);
    }
    // The tasks' captures are released outside the lock: their destructors may post.
}

void QtMainLoop::post(Task task)
{
    std::lock_guard lock(core_->mutex);
    if (core_->closed)
        return;
    core_->tasks.post(std::move(task));
    Core::wake(core_);
}

void QtMainLoop::postAfter(Clock::duration delay, Task task)
{
    std::lock_guard lock(core_->mutex);
    if (core_->closed)
        return;
    core_->tasks.postAt(now() + delay, std::move(task));
    // The drain arms the timer on the GUI thread, where Qt's timers live.
    Core::wake(core_);
}

MainLoop::Clock::time_point QtMainLoop::now() const
{
    return Clock::now();
}

bool QtMainLoop::isLoopThread() const
{
    return std::this_thread::get_id() == thread_;
}
