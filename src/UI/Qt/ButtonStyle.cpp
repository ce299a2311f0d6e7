#include "UI/Qt/ButtonStyle.h"

#include "UI/Qt/PColors.h"

QString ButtonStyle::filled(const QColor& colour)
{
    return QString("QPushButton { background-color: %1; color: white; border: none; border-radius: 6px; "
                   "font-size: 15px; padding: 6px 18px; }"
                   "QPushButton:focus { border: 2px solid rgb(%2, %2, %2); }"
                   "QPushButton:disabled { background-color: lightgray; }")
        .arg(colour.name())
        .arg(PColors::getTextGray().red());
}
