#include "Utils/Error.h"

#include <cstring>

Error Error::posix(int errorNumber, std::string_view context)
{
    std::string text = std::strerror(errorNumber);
    if (!context.empty())
        text = std::string(context) + ": " + text;
    return Error{kPosixDomain, errorNumber, std::move(text)};
}
