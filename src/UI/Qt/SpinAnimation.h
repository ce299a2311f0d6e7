#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>

#include <chrono>

class QAbstractButton;
class QVariantAnimation;

// Turns a button's picture clockwise about its centre: a given number of whole turns, or on and on.
// The picture at rest is the button's icon when the spin starts, and comes back when it ends.
class SpinAnimation final : public QObject {
    Q_OBJECT
public:
    static constexpr int kForever = -1;
    // The refresh buttons' spin: one full turn.
    static constexpr std::chrono::milliseconds kRefreshTurn{500};

    // The button outlives the animation or takes it along as its child.
    SpinAnimation(QAbstractButton* button, std::chrono::milliseconds turn, int turns, QObject* parent = nullptr);

    // From 0; a spin under way starts again from 0.
    void start();
    // Back to the picture at rest.
    void stop();
    bool isRunning() const;
    // The turn so far, in degrees clockwise.
    double angle() const;

private:
    void showAngle(double degrees);

    QPointer<QAbstractButton> button_;
    QIcon rest_;
    QVariantAnimation* animation_ = nullptr;
    // From start() to the end of the last turn or stop(): the button shows a turned picture.
    bool spinning_ = false;
};
