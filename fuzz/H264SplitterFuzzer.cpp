// Feeds arbitrary bytes to the splitter of the TV's H.264 stream, as a run of packets (each behind
// a 2-byte big-endian length, cut at the end of the input), and the whole input to the SPS reader.
// Besides memory errors it checks that every sample is a whole NAL unit behind its start code, in
// place in the packet it came from.
#include "Media/H264DecoderTool.h"
#include "Utils/ByteReader.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

class CheckingDelegate : public H264DecoderOutputDelegate {
public:
    void setPacket(const std::vector<uint8_t>* packet) { packet_ = packet; }

    void didOutputVideoSampleBuffer(const std::shared_ptr<const CompressedSample>& sampleBuffer) override
    {
        static constexpr std::array<uint8_t, 3> kPrefix{0x00, 0x00, 0x01};
        const auto data = sampleBuffer->data();
        const auto nalUnit = sampleBuffer->nalUnit();
        const size_t codeLength = sampleBuffer->startCodeLength();
        require(codeLength == 3 || codeLength == 4);
        require(data.data() >= packet_->data() && data.data() + data.size() <= packet_->data() + packet_->size());
        require(std::equal(kPrefix.begin(), kPrefix.end(), data.begin() + static_cast<std::ptrdiff_t>(codeLength - 3)));
        require(codeLength == 3 || data[0] == 0x00);
        require(!nalUnit.empty() && nalUnit.back() != 0x00);
        require(std::search(nalUnit.begin(), nalUnit.end(), kPrefix.begin(), kPrefix.end()) == nalUnit.end());
        require(sampleBuffer->displayImmediately());
        if (const auto& format = sampleBuffer->formatDescription())
            require(!format->sps().empty() && !format->pps().empty() && format->width() >= 0 && format->height() >= 0);
        kept_.push_back({sampleBuffer, std::vector<uint8_t>(data.begin(), data.end())});
    }

    // Every sample still holds its bytes, unchanged, now that the splitter has let its packet go.
    void checkKept() const
    {
        for (const auto& [sample, copy] : kept_)
            require(std::ranges::equal(sample->data(), copy));
    }

private:
    const std::vector<uint8_t>* packet_ = nullptr;
    std::vector<std::pair<std::shared_ptr<const CompressedSample>, std::vector<uint8_t>>> kept_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> input(data, size);
    VideoFormatDescription::create(input, input);

    CheckingDelegate delegate;
    H264DecoderTool tool;
    tool.setDelegate(&delegate);
    ByteReader reader(input);
    while (reader.remaining() > 0) {
        const uint16_t length = reader.u16be();
        const auto bytes = reader.bytes(length);
        auto packet = std::make_shared<const std::vector<uint8_t>>(bytes.begin(), bytes.end());
        delegate.setPacket(packet.get());
        tool.readVideoInfo(std::move(packet));
    }
    delegate.checkKept();
    return 0;
}
