#include "Session/LinkOutputVolume.h"

#include "Socket/Int32Payload.h"
#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"

LinkOutputVolume::LinkOutputVolume(TCPManager& manager) : manager_(manager) {}

void LinkOutputVolume::outputVolumeChanged(int32_t percent)
{
    const auto payload = Int32Payload{percent}.encode();
    manager_.sendType(kMsgOutputVolume, payload.data(), static_cast<int>(payload.size()));
}
