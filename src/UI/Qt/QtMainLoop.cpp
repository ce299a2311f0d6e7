#include "UI/Qt/QtMainLoop.h"

#include "Platform/LoopTaskQueue.h"
#include "Utils/Log.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cassert>
#include <mutex>
#include <optional>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// Tasks run per wake-up before Qt serves its own events again: a task that keeps posting cannot
// starve the windows.
constexpr size_t kBatch = 64;

} // namespace

struct QtMainLoop::Core {
    std::mutex mutex;
    LoopTaskQueue tasks;
    bool closed = false;
    // A wake-up is on its way to the GUI thread: posts meanwhile need no other.
    bool wakePending = false;
    const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);

    // Any thread, with mutex held.
    void wake()
    {
        if (wakePending || closed)
            return;
        wakePending = true;
        // Only a full counter refuses, and that one still wakes the loop.
        [[maybe_unused]] const int written = ::eventfd_write(wakeFd, 1);
    }
};

QtMainLoop::QtMainLoop() : core_(std::make_unique<Core>()), thread_(std::this_thread::get_id())
{
    QCoreApplication* const application = QCoreApplication::instance();
    assert(application && "the QCoreApplication comes first");
    assert(application->thread() == QThread::currentThread() && "made on the GUI thread");
    if (core_->wakeFd < 0) {
        PLOG_ERRNO("main loop without a wake-up descriptor: the main queue's tasks are dropped");
        core_->closed = true;
        return;
    }
    wakeNotifier_ = new QSocketNotifier(core_->wakeFd, QSocketNotifier::Read, application);
    QObject::connect(wakeNotifier_, &QSocketNotifier::activated, wakeNotifier_, [this] { drain(); });
    deadlineTimer_ = new QTimer(application);
    deadlineTimer_->setSingleShot(true);
    deadlineTimer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(deadlineTimer_, &QTimer::timeout, deadlineTimer_, [this] { drain(); });
}

QtMainLoop::~QtMainLoop()
{
    assert(!wakeNotifier_ && "close() the loop on the GUI thread first");
    if (core_->wakeFd >= 0)
        ::close(core_->wakeFd);
}

void QtMainLoop::close()
{
    assert(isLoopThread());
    LoopTaskQueue dropped;
    {
        std::lock_guard lock(core_->mutex);
        core_->closed = true;
        std::swap(dropped, core_->tasks);
    }
    delete wakeNotifier_;
    wakeNotifier_ = nullptr;
    delete deadlineTimer_;
    deadlineTimer_ = nullptr;
    // The dropped tasks' captures are released here, outside the lock: their destructors may post.
}

void QtMainLoop::drain()
{
    eventfd_t ignored = 0;
    ::eventfd_read(core_->wakeFd, &ignored);
    std::unique_lock lock(core_->mutex);
    core_->wakePending = false;
    const Clock::time_point start = now();
    for (size_t ran = 0; !core_->closed && core_->tasks.hasDue(start); ++ran) {
        if (ran == kBatch) {
            core_->wake();
            return;
        }
        std::optional<Task> task = core_->tasks.takeNext(start);
        lock.unlock();
        (*task)();
        // Its captures go before the lock is taken again: a capture's destructor may post.
        task.reset();
        lock.lock();
    }
    const std::optional<Clock::time_point> next = core_->tasks.nextDeadline();
    if (!next || core_->closed)
        return;
    // Rounded up, so the timer never fires before the deadline.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now());
    lock.unlock();
    deadlineTimer_->start(std::max(wait, std::chrono::milliseconds(0)));
}

void QtMainLoop::post(Task task)
{
    std::lock_guard lock(core_->mutex);
    if (core_->closed)
        return;
    core_->tasks.post(std::move(task));
    core_->wake();
}

void QtMainLoop::postAfter(Clock::duration delay, Task task)
{
    std::lock_guard lock(core_->mutex);
    if (core_->closed)
        return;
    core_->tasks.postAt(now() + delay, std::move(task));
    // The drain sets the timer on the GUI thread, where Qt's timers live.
    core_->wake();
}

MainLoop::Clock::time_point QtMainLoop::now() const
{
    return Clock::now();
}

bool QtMainLoop::isLoopThread() const
{
    return std::this_thread::get_id() == thread_;
}
