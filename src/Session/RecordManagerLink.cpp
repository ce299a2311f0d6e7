#include "Session/RecordManagerLink.h"

#include "Session/LinkCaptureFailure.h"
#include "Session/LinkSessionKey.h"
#include "Session/ResendSpsPpsRequest.h"

#include <memory>

RecordManager::Link recordManagerLink(TCPManager& manager)
{
    return {.sessionKey = std::make_shared<LinkSessionKey>(manager),
            .captureFailure = std::make_shared<LinkCaptureFailure>(manager),
            .parameterSets = std::make_shared<ResendSpsPpsRequest>()};
}
