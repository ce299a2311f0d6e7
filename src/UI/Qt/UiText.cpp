#include "UI/Qt/UiText.h"

#include "Utils/LocalizedText.h"

#include <QLocale>

#include <algorithm>
#include <limits>

QString UiText::localized(std::string_view key)
{
    return of(LocalizedText::text(key));
}

std::string UiText::dataSize(uint64_t bytes)
{
    return QLocale::c()
        .formattedDataSize(static_cast<qint64>(std::min<uint64_t>(bytes, std::numeric_limits<qint64>::max())))
        .toStdString();
}
