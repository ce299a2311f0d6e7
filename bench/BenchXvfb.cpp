#include "BenchXvfb.h"

#include "PeerCommand.h"

#include "Platform/X11Display.h"

#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

BenchXvfb::~BenchXvfb()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

bool BenchXvfb::start()
{
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return false;
    const std::string geometry = std::to_string(width_) + "x" + std::to_string(height_) + "x24";
    pid_ = PeerCommand::spawn(
        {"Xvfb", "-displayfd", "3", "-screen", "0", geometry, "-nolisten", "tcp", "-noreset"}, {-1, -1, -1, ready[1]});
    ::close(ready[1]);
    if (pid_ < 0) {
        ::close(ready[0]);
        return false;
    }
    std::string number;
    char chunk[16];
    pollfd readable{ready[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos && poll(&readable, 1, 20'000) > 0) {
        const ssize_t got = ::read(ready[0], chunk, sizeof chunk);
        if (got <= 0)
            break;
        number.append(chunk, static_cast<size_t>(got));
    }
    ::close(ready[0]);
    if (number.find('\n') == std::string::npos)
        return false;
    name_ = ":" + std::to_string(std::atoi(number.c_str()));
    return true;
}

BenchScene::BenchScene(X11Display& display, int width, int height, int top)
    : display_(display), gc_(XCreateGC(display.handle(), display.root(), 0, nullptr)), width_(width),
      height_(height - top), top_(top)
{
}

BenchScene::~BenchScene()
{
    XFreeGC(display_.handle(), gc_);
}

void BenchScene::draw(int index)
{
    fill(0x203040, 0, 0, unsigned(width_), unsigned(height_));
    for (int window = 0; window < 6; ++window)
        fill(0x808080u + 0x101010u * unsigned(window), width_ / 24 + window * width_ / 7,
             height_ / 11 + window * height_ / 18, unsigned(width_) * 5 / 16, unsigned(height_) * 25 / 54);
    const int box = height_ * 8 / 27;
    fill(0xE0C000u ^ unsigned(index * 0x010203), (index * 24) % (width_ - box), (index * 12) % (height_ - box - 80),
         unsigned(box), unsigned(box));
    fill(unsigned(index * 0x050301) & 0xFFFFFFu, 0, height_ - 48, unsigned(width_), 48);
    XSync(display_.handle(), False);
}

void BenchScene::fill(unsigned long colour, int x, int y, unsigned width, unsigned height)
{
    XSetForeground(display_.handle(), gc_, colour);
    XFillRectangle(display_.handle(), display_.root(), gc_, x, top_ + y, width, height);
}
