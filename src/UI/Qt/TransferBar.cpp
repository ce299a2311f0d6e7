#include "UI/Qt/TransferBar.h"

#include "Utils/LocalizedText.h"
#include "UI/Qt/PColors.h"
#include "UI/Qt/UiText.h"

#include <QPalette>
#include <QProgressBar>

namespace {

void showValue(QProgressBar& bar, int permille, bool failed)
{
    if (bar.value() == permille && bar.property("failed").toBool() == failed)
        return;
    bar.setValue(permille);
    bar.setProperty("failed", failed);
    QPalette palette = bar.palette();
    palette.setColor(QPalette::Highlight, failed ? PColors::getRedColor() : PColors::getBlueColor());
    bar.setPalette(palette);
}

} // namespace

QProgressBar* TransferBar::make(QWidget* parent, const char* name)
{
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setRange(0, 1000);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedHeight(6);
    return bar;
}

void TransferBar::show(QProgressBar& bar, const TransferProgress::File& file)
{
    const bool failed = file.state == TransferProgress::State::Failed;
    const bool done = failed || file.state == TransferProgress::State::Done;
    // Of unknown size, a file shows no share until it is done.
    const int permille = done ? 1000 : file.size ? TransferProgress::permille(file.done, *file.size) : 0;
    showValue(bar, permille, failed);
}

void TransferBar::showTotal(QProgressBar& bar, const TransferProgress& transfer)
{
    showValue(bar, transfer.totalPermille(), !transfer.files.empty() && transfer.failed() == transfer.files.size());
}

std::string TransferBar::caption(const TransferProgress::File& file)
{
    const std::string size = file.state == TransferProgress::State::Failed ? LocalizedText::text("STRING_TRANSFER_FAILED")
                             : file.size ? UiText::dataSize(*file.size)
                                         : LocalizedText::text("STRING_OFFERED_FILE_NO_SIZE");
    return LocalizedText::format("STRING_OFFERED_FILE", {file.name, size});
}
