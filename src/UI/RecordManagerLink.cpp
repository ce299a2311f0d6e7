#include "UI/RecordManagerLink.h"

#include "UI/LinkCaptureFailure.h"
#include "UI/LinkSessionKey.h"
#include "UI/ResendSpsPpsRequest.h"

#include <memory>

RecordManager::Link recordManagerLink(TCPManager& manager)
{
    return {.sessionKey = std::make_shared<LinkSessionKey>(manager),
            .captureFailure = std::make_shared<LinkCaptureFailure>(manager),
            .parameterSets = std::make_shared<ResendSpsPpsRequest>()};
}
