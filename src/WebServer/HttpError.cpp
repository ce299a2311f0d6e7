#include "WebServer/HttpError.h"

#include <cstring>

HttpError HttpError::posix(int errorNumber)
{
    return HttpError{kPosixDomain, errorNumber, std::strerror(errorNumber)};
}
