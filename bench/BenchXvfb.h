#pragma once

#include <sys/types.h>

#include <string>

class X11Display;
struct _XGC;

// A private Xvfb of a chosen size for the benchmarks. It takes the first free display number and
// tells it through -displayfd, which it writes once it accepts clients.
class BenchXvfb {
public:
    BenchXvfb(int width, int height) : width_(width), height_(height) {}
    ~BenchXvfb();
    BenchXvfb(const BenchXvfb&) = delete;
    BenchXvfb& operator=(const BenchXvfb&) = delete;

    // False when Xvfb is not installed or never said it was ready.
    bool start();
    const std::string& name() const { return name_; }

private:
    int width_;
    int height_;
    pid_t pid_ = -1;
    std::string name_;
};

// Moving content on an X screen, drawn on its root through the given connection: a few fixed
// "windows", a box sliding across and a band that changes colour every frame. Rows above `top` are
// left alone.
class BenchScene {
public:
    BenchScene(X11Display& display, int width, int height, int top = 0);
    ~BenchScene();
    BenchScene(const BenchScene&) = delete;
    BenchScene& operator=(const BenchScene&) = delete;

    // Draws frame `index` and waits until the server has drawn it.
    void draw(int index);

private:
    void fill(unsigned long colour, int x, int y, unsigned width, unsigned height);

    X11Display& display_;
    _XGC* gc_;
    int width_;
    int height_;
    int top_;
};
