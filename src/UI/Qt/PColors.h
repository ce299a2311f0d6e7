#pragma once

#include <QColor>

// The palette of the windows.
class PColors {
public:
    static QColor getBlueColor() { return {17, 141, 227}; }
    static QColor getRedColor() { return {251, 0, 7}; }
    static QColor getWindowGray() { return {233, 233, 233}; }
    static QColor getTextGray() { return {118, 118, 118}; }
    static QColor getToastBgColor() { return {59, 59, 59}; }
};
