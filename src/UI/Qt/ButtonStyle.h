#pragma once

#include <QColor>
#include <QString>

// The style sheets of the main window's buttons.
class ButtonStyle {
public:
    // A filled button in the palette's colour with white text; light grey while disabled.
    static QString filled(const QColor& colour);
};
