#include "UI/Qt/UiText.h"

#include "Utils/LocalizedText.h"

QString UiText::localized(std::string_view key)
{
    return of(LocalizedText::text(key));
}
