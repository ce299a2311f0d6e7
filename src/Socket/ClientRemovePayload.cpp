#include "Socket/ClientRemovePayload.h"

#include "Utils/ByteWriter.h"

std::vector<uint8_t> ClientRemovePayload::encode() const
{
    return ByteWriter(8).u64be(client).take();
}
