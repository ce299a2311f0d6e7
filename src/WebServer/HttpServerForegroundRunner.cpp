#include "WebServer/HttpServerForegroundRunner.h"

#include "Platform/DispatchSource.h"
#include "Platform/MainQueue.h"
#include "Platform/RunLoop.h"
#include "WebServer/HttpServerLog.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The write end of the pipe through which a stop signal wakes runWithOptions; -1 while none runs.
std::atomic<int> gStopSignalPipe{-1};

void stopSignalReceived(int)
{
    const int savedErrno = errno;
    const int fd = gStopSignalPipe.load();
    if (fd >= 0) {
        const char byte = 0;
        (void)!::write(fd, &byte, 1);
    }
    // Ends the line that a terminal's "^C" began.
    (void)!::write(STDOUT_FILENO, "\n", 1);
    errno = savedErrno;
}

}  // namespace

// A handler rather than sigwait: a process-directed signal goes to any thread that does not block it,
// and threads of the pool or of libraries may exist before this is called. The handler only writes
// to a pipe, which a source on the main queue reads.
bool HttpServerForegroundRunner::run(const Start& start, const Stop& stop, HttpError* error)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        HttpError::assign(error, HttpError::posix(errno));
        return false;
    }
    const auto closePipe = [&] {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
    };
    int none = -1;
    if (!gStopSignalPipe.compare_exchange_strong(none, pipeFds[1])) {
        HttpServerLog::log(HttpServerLog::Error, "A server already runs in the foreground");
        closePipe();
        HttpError::assign(error, HttpError::posix(EBUSY));
        return false;
    }
    struct sigaction action {};
    action.sa_handler = stopSignalReceived;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction previousInterrupt {};
    struct sigaction previousTerminate {};
    bool installed = sigaction(SIGINT, &action, &previousInterrupt) == 0;
    if (installed && sigaction(SIGTERM, &action, &previousTerminate) != 0) {
        sigaction(SIGINT, &previousInterrupt, nullptr);
        installed = false;
    }
    if (!installed) {
        HttpError::assign(error, HttpError::posix(errno));
        gStopSignalPipe = -1;
        closePipe();
        return false;
    }

    const auto loop = std::make_shared<RunLoop>();
    MainQueue::install(loop);
    const int wakeFd = pipeFds[0];
    // Runs on the main queue, that is on this thread.
    const auto stopSource = DispatchSource::create(wakeFd, DispatchSource::Kind::Read, MainQueue::shared(), [wakeFd, loop] {
        char bytes[16];
        while (::read(wakeFd, bytes, sizeof(bytes)) > 0) {
        }
        loop->quit();
    });
    const bool started = stopSource && start(error);
    if (started) {
        stopSource->resume();
        loop->run();
        stopSource->cancel();
        stop();
    } else if (!stopSource) {
        HttpError::assign(error, HttpError::posix(EBADF));
    }
    // What stopping posted (the delegate's calls) still runs here, before the loop goes.
    loop->post([loop] { loop->quit(); });
    loop->run();
    MainQueue::install(nullptr);

    sigaction(SIGTERM, &previousTerminate, nullptr);
    sigaction(SIGINT, &previousInterrupt, nullptr);
    gStopSignalPipe = -1;
    closePipe();
    return started;
}
