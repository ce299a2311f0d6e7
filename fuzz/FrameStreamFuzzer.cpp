// The TCP link's receive path over arbitrary bytes: stream splitting and reassembly.
#include "Socket/FrameReassembler.h"
#include "Socket/FrameStreamSplitter.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkMessage(const ReassembledMessage& message)
{
    const auto payload = message.payload();
    const auto frame = message.frame();
    check(message.header().fragmentLength == payload.size());
    check(frame.size() == TransportFrameHeader::kSize + payload.size() + 4);
    check(payload.data() == frame.data() + TransportFrameHeader::kSize);
    static constexpr uint8_t kZeros[4] = {};
    check(std::memcmp(frame.data() + frame.size() - 4, kZeros, 4) == 0);
    check(TransportFrameHeader::decode(frame) == message.header());
}

} // namespace

// The first byte chooses the read size (0: everything at once), the rest is the stream.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t readSize = data[0] == 0 ? size : data[0];
    FrameReassembler reassembler(checkMessage);
    FrameStreamSplitter splitter(reassembler);
    for (size_t offset = 1; offset < size;) {
        const auto space = splitter.writableSpace();
        check(!space.empty());
        const size_t count = std::min({readSize, space.size(), size - offset});
        std::memcpy(space.data(), data + offset, count);
        offset += count;
        if (splitter.commit(count) != FrameStreamSplitter::Status::Ok)
            break;
    }
    return 0;
}
