#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

// The transient message: a dark pill with the message in white, and optionally a close button. It
// sizes itself to the message; whoever shows it places it and removes it.
class ToastView final : public QWidget {
    Q_OBJECT
public:
    // Width: the message's width in the 20-point system font plus 40 (plus 80 with the close
    // button); height 56.
    ToastView(const QString& message, bool hasClose, QWidget* parent = nullptr);

    QToolButton* closeButton() const { return closeButton_; }
    QString message() const;

    // Removes the toast from its window (the close button's action; QWidget's closeEvent is taken).
    void closeToast();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* label_ = nullptr;
    QToolButton* closeButton_ = nullptr;
};
