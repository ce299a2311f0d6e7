#include "tv-sim/TestPattern.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

// Colour bars as BGRA words: white, yellow, cyan, green, magenta, red, blue, black.
constexpr std::array<uint32_t, 8> kBars = {0xFFEBEBEB, 0xFFEBEB10, 0xFF10EBEB, 0xFF10EB10,
                                           0xFFEB10EB, 0xFFEB1010, 0xFF1010EB, 0xFF101010};
constexpr uint32_t kCellOn = 0xFFEBEBEB;
constexpr uint32_t kCellOff = 0xFF101010;
// Pixels the bars move per frame.
constexpr int kStep = 8;
// Luma between the cells' two levels.
constexpr int kLumaThreshold = 128;

void fill(BgraFrame& frame, int left, int top, int width, int height, uint32_t colour)
{
    for (int y = top; y < top + height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(frame.pixel(left, y));
        std::fill(row, row + width, colour);
    }
}

} // namespace

TestPattern::Cells TestPattern::cells(int height)
{
    // Whole macroblocks at 720 lines and more; 8 pixels below.
    const int size = height >= 720 ? 16 * (height / 720) : 8;
    return {.size = size, .margin = size};
}

bool TestPattern::counterFits(int width, int height)
{
    const auto [size, margin] = cells(height);
    return width >= 2 * margin + kCounterBits * size && height >= 2 * margin + size;
}

void TestPattern::draw(uint32_t index, int width, int height, BgraFrame& frame)
{
    frame.resize(width, height);
    if (frame.empty())
        return;
    // One row of bars, shifted by the frame number, copied down the picture.
    const int barWidth = std::max(1, width / static_cast<int>(kBars.size()));
    const auto shift = static_cast<int>((static_cast<uint64_t>(index) * kStep) % static_cast<uint64_t>(width));
    auto* first = reinterpret_cast<uint32_t*>(frame.pixel(0, 0));
    for (int x = 0; x < width; ++x)
        first[x] = kBars[static_cast<size_t>(((x + width - shift) % width) / barWidth) % kBars.size()];
    for (int y = 1; y < height; ++y)
        std::memcpy(frame.pixel(0, y), first, static_cast<size_t>(width) * 4);
    if (!counterFits(width, height))
        return;
    const auto [size, margin] = cells(height);
    // A black frame round the cells keeps the moving bars from bleeding into them.
    fill(frame, 0, 0, 2 * margin + kCounterBits * size, 2 * margin + size, kCellOff);
    for (int bit = 0; bit < kCounterBits; ++bit)
        fill(frame, margin + bit * size, margin, size, size, (index >> bit) & 1 ? kCellOn : kCellOff);
}

std::optional<uint32_t> TestPattern::readCounter(std::span<const uint8_t> luma, int stride, int width, int height)
{
    if (!counterFits(width, height) || stride < width ||
        luma.size() < static_cast<size_t>(stride) * static_cast<size_t>(height))
        return std::nullopt;
    const auto [size, margin] = cells(height);
    uint32_t value = 0;
    for (int bit = 0; bit < kCounterBits; ++bit) {
        // The cell's centre, away from edges the encoder may blur.
        const int x = margin + bit * size + size / 2;
        const int y = margin + size / 2;
        if (luma[static_cast<size_t>(y) * stride + x] > kLumaThreshold)
            value |= 1u << bit;
    }
    return value;
}

bool TestPattern::writePpm(const BgraFrame& frame, const std::filesystem::path& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "P6\n" << frame.width << " " << frame.height << "\n255\n";
    std::vector<char> row(static_cast<size_t>(frame.width) * 3);
    for (int y = 0; y < frame.height && out; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const uint8_t* bgra = frame.pixel(x, y);
            row[static_cast<size_t>(x) * 3] = static_cast<char>(bgra[2]);
            row[static_cast<size_t>(x) * 3 + 1] = static_cast<char>(bgra[1]);
            row[static_cast<size_t>(x) * 3 + 2] = static_cast<char>(bgra[0]);
        }
        out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
    return static_cast<bool>(out.flush());
}
