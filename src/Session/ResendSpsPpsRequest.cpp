#include "Session/ResendSpsPpsRequest.h"

#include "Socket/ResendSpsPpsFlag.h"

bool ResendSpsPpsRequest::consume()
{
    return gResendSpsPpsFlag.exchange(0) != 0;
}
