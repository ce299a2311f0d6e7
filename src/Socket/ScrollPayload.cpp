#include "Socket/ScrollPayload.h"

#include "Utils/ByteWriter.h"

std::vector<uint8_t> ScrollPayload::encode() const
{
    return ByteWriter(8).i32be(horizontal).i32be(vertical).take();
}
