#include "UI/Qt/PermissionsNotice.h"

#include "UI/LocalizedText.h"

#include <QLabel>

PermissionsNotice::PermissionsNotice(QWidget* parent) : QMainWindow(parent)
{
    setObjectName("requestPermissionsWindow");
    setWindowTitle(QString::fromStdString(LocalizedText::text("STRING_TITLEBAR_MAIN")));
    auto* text = new QLabel(QString::fromStdString(LocalizedText::text("STRING_PERMISSIONS_MISSING")), this);
    text->setWordWrap(true);
    text->setMargin(24);
    setCentralWidget(text);
    setFixedSize(480, 200);
}
