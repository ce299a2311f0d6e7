#include "Socket/KeyEventPayload.h"

#include "Utils/ByteWriter.h"

std::vector<uint8_t> KeyEventPayload::encode() const
{
    return ByteWriter(4).u32le(usage).take();
}
