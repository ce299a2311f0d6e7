#include "Socket/ClientControlPayload.h"

#include "Utils/ByteWriter.h"

std::vector<uint8_t> ClientControlPayload::encode() const
{
    return ByteWriter(12).u64be(client).u32be(state).take();
}
