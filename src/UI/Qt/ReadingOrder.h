#pragma once

#include <vector>

class QWidget;

// The keys' order through a window's controls as a reader meets them: row by row from the top, left
// to right within a row, whatever order the controls were made in (lists and grids fill in later than
// the buttons below them). Main thread.
class ReadingOrder {
public:
    // The controls Tab stops at, in that order: shown, enabled, taking the keys by Tab, in this window.
    static std::vector<QWidget*> controls(const QWidget& window);
    // Gives the keys to the control after (or before) the one that has them, round the end; false when
    // the window has none.
    static bool moveFocus(QWidget& window, bool forward);
};
