#include "WebServer/HttpError.h"

HttpError HttpError::posix(int errorNumber)
{
    return HttpError{Error::posix(errorNumber)};
}
