#include "Socket/ViewSizePayload.h"

#include "Utils/ByteWriter.h"

std::vector<uint8_t> ViewSizePayload::encode() const
{
    return ByteWriter(8).i32be(width).i32be(height).take();
}
