#include "Utils/EncryptedFrame.h"

#include "Utils/AESCtrStream.h"
#include "Utils/Log.h"
#include "Utils/PUtils.h"

#include <algorithm>

namespace {

// The CTR transformation of in under key and iv, written into out (of in's length).
bool ctrInto(std::span<const uint8_t> in, std::span<const uint8_t> key, std::span<const uint8_t> iv,
               std::span<uint8_t> out)
{
    auto stream = AESCtrStream::create(key, iv);
    return stream && stream->update(in, out) && stream->finish();
}

} // namespace

std::optional<std::vector<uint8_t>> EncryptedFrame::protect(std::span<const uint8_t> plaintext,
                                                            std::span<const uint8_t> key)
{
    const auto iv = PUtils::genRandomWithByteLen(kIvLength);
    if (!iv) {
        PLOG("frame not protected: the random source failed");
        return std::nullopt;
    }
    // One buffer for IV and ciphertext: a shared file is held in memory whole, so no second copy.
    std::vector<uint8_t> frame(kIvLength + plaintext.size());
    std::copy(iv->begin(), iv->end(), frame.begin());
    if (!ctrInto(plaintext, key, *iv, std::span(frame).subspan(kIvLength)))
        return std::nullopt;
    return frame;
}

std::optional<std::vector<uint8_t>> EncryptedFrame::open(std::span<const uint8_t> frame, std::span<const uint8_t> key)
{
    if (frame.size() < kIvLength) {
        PLOG("frame refused: %zu bytes, shorter than its iv", frame.size());
        return std::nullopt;
    }
    std::vector<uint8_t> plaintext(frame.size() - kIvLength);
    if (!ctrInto(frame.subspan(kIvLength), key, frame.first(kIvLength), plaintext))
        return std::nullopt;
    return plaintext;
}
