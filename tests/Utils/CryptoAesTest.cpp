#include "Utils/AESCtrStream.h"
#include "Utils/EncryptedFrame.h"
#include "Utils/NSDataAES.h"

#include "Utils/CryptoTestSupport.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

namespace {

const Bytes kKey = fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const Bytes kCounter = fromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff");

// Counter mode built by hand from single-block AES-256-ECB: block i is XORed with the encryption of
// the initial counter plus i, counted as one big-endian 128-bit number.
Bytes referenceCtr(const Bytes& data, const Bytes& key, Bytes counter)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EXPECT_EQ(EVP_EncryptInit_ex2(context.get(), EVP_aes_256_ecb(), key.data(), nullptr, nullptr), 1);
    EVP_CIPHER_CTX_set_padding(context.get(), 0);
    Bytes out(data);
    for (size_t offset = 0; offset < data.size(); offset += 16) {
        uint8_t pad[16];
        int written = 0;
        EXPECT_EQ(EVP_EncryptUpdate(context.get(), pad, &written, counter.data(), 16), 1);
        for (size_t i = 0; i < 16 && offset + i < data.size(); ++i)
            out[offset + i] ^= pad[i];
        for (size_t i = 16; i-- > 0 && ++counter[i] == 0;) {
        }
    }
    return out;
}

// The stream's output when it is fed data in slices of random sizes (including empty ones).
Bytes streamInRandomSlices(const Bytes& data, const Bytes& key, const Bytes& iv, uint32_t seed)
{
    auto stream = AESCtrStream::create(key, iv);
    EXPECT_TRUE(stream);
    if (!stream)
        return {};
    std::mt19937 generator(seed);
    Bytes out(data.size());
    for (size_t done = 0; done < data.size();) {
        const size_t slice = std::min<size_t>(generator() % 9000, data.size() - done);
        EXPECT_TRUE(stream->update(std::span(data).subspan(done, slice), std::span(out).subspan(done, slice)));
        done += slice;
    }
    EXPECT_TRUE(stream->finish());
    return out;
}

} // namespace

TEST(CryptoAes, NistCtrAes256Vector)
{
    const Bytes plaintext = fromHex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                                    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const Bytes ciphertext = fromHex("601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
                                     "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6");
    EXPECT_EQ(NSDataAES::AESEncryptWithKey(plaintext, kKey, kCounter), ciphertext);
    EXPECT_EQ(NSDataAES::AESDecryptWithKey(ciphertext, kKey, kCounter), plaintext);
    EXPECT_EQ(referenceCtr(plaintext, kKey, kCounter), ciphertext);
    EXPECT_EQ(streamInRandomSlices(plaintext, kKey, kCounter, 1), ciphertext);
}

TEST(CryptoAes, EverySizeMatchesTheReferenceAndTheStream)
{
    for (const size_t size : {0u, 1u, 15u, 17u, 4095u, 4096u, 4097u, 10000u, (1u << 20) + 13u}) {
        SCOPED_TRACE(size);
        const Bytes plaintext = patternBytes(size, static_cast<uint32_t>(size));
        const auto ciphertext = NSDataAES::AESEncryptWithKey(plaintext, kKey, kCounter);
        ASSERT_TRUE(ciphertext);
        EXPECT_EQ(*ciphertext, referenceCtr(plaintext, kKey, kCounter));
        EXPECT_EQ(streamInRandomSlices(plaintext, kKey, kCounter, static_cast<uint32_t>(size)), *ciphertext);
        EXPECT_EQ(NSDataAES::AESDecryptWithKey(*ciphertext, kKey, kCounter), plaintext);

        const auto frame = EncryptedFrame::protect(plaintext, kKey);
        ASSERT_TRUE(frame);
        ASSERT_EQ(frame->size(), size + 16);
        const Bytes iv(frame->begin(), frame->begin() + 16);
        EXPECT_EQ(Bytes(frame->begin() + 16, frame->end()), referenceCtr(plaintext, kKey, iv));
        EXPECT_EQ(EncryptedFrame::open(*frame, kKey), plaintext);
        // Each frame draws a fresh IV.
        const auto again = EncryptedFrame::protect(plaintext, kKey);
        EXPECT_NE(Bytes(again->begin(), again->begin() + 16), iv);
    }
}

TEST(CryptoAes, CounterCarriesAcrossAll128Bits)
{
    const Bytes plaintext = patternBytes(5 * 16 + 7, 7);
    for (const char* hexIv : {"0123456789abcdefffffffffffffffff", "0123456789abcdeffffffffffffffffd",
                              "ffffffffffffffffffffffffffffffff"}) {
        SCOPED_TRACE(hexIv);
        const Bytes iv = fromHex(hexIv);
        const Bytes expected = referenceCtr(plaintext, kKey, iv);
        EXPECT_EQ(NSDataAES::AESEncryptWithKey(plaintext, kKey, iv), expected);
        EXPECT_EQ(streamInRandomSlices(plaintext, kKey, iv, 3), expected);
    }
    // The carry itself, independent of the reference: the second block of the first IV runs under
    // counter ...abcdf0 0000000000000000, i.e. the first block of a stream started there.
    const Bytes block(16, 0);
    const Bytes twoBlocks(32, 0);
    const auto carried = NSDataAES::AESEncryptWithKey(twoBlocks, kKey, fromHex("0123456789abcdefffffffffffffffff"));
    const auto direct = NSDataAES::AESEncryptWithKey(block, kKey, fromHex("0123456789abcdf00000000000000000"));
    ASSERT_TRUE(carried && direct);
    EXPECT_EQ(Bytes(carried->begin() + 16, carried->end()), *direct);
}

TEST(CryptoAes, WrongLengthsAreRefused)
{
    const Bytes data(100, 1);
    for (const size_t keyLength : {0u, 16u, 31u, 33u}) {
        const Bytes key(keyLength, 2);
        EXPECT_FALSE(NSDataAES::AESEncryptWithKey(data, key, kCounter));
        EXPECT_FALSE(NSDataAES::AESDecryptWithKey(data, key, kCounter));
        EXPECT_FALSE(NSDataAES::AESEncryptWithKey({}, key, kCounter));
        EXPECT_FALSE(EncryptedFrame::protect(data, key));
        EXPECT_FALSE(EncryptedFrame::open(Bytes(116, 3), key));
    }
    for (const size_t ivLength : {0u, 15u, 17u, 32u}) {
        const Bytes iv(ivLength, 2);
        EXPECT_FALSE(NSDataAES::AESEncryptWithKey(data, kKey, iv));
        EXPECT_FALSE(AESCtrStream::create(kKey, iv));
    }
    EXPECT_FALSE(EncryptedFrame::open(Bytes(15, 0), kKey));
    EXPECT_EQ(EncryptedFrame::open(Bytes(16, 0), kKey), Bytes());

    auto stream = AESCtrStream::create(kKey, kCounter);
    ASSERT_TRUE(stream);
    Bytes out(99);
    EXPECT_FALSE(stream->update(data, out));
    out.resize(100);  // the refusal consumed nothing of the key stream
    EXPECT_TRUE(stream->update(data, out));
    EXPECT_EQ(out, NSDataAES::AESEncryptWithKey(data, kKey, kCounter));
}

TEST(CryptoAes, OpensslCommandLineAgreesBothWays)
{
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const Bytes plaintext = patternBytes(10000 + 4097, 11);
    const Bytes iv = fromHex("000102030405060708090a0bfffffffe");  // carries within the data

    const auto ours = NSDataAES::AESEncryptWithKey(plaintext, kKey, iv);
    ASSERT_TRUE(ours);
    writeBytes(dir / "ours.bin", *ours);
    ASSERT_TRUE(openssl({"enc", "-d", "-aes-256-ctr", "-K", toHex(kKey), "-iv", toHex(iv), "-in",
                         (dir / "ours.bin").string(), "-out", (dir / "back.bin").string()}));
    EXPECT_EQ(readBytes(dir / "back.bin"), plaintext);

    writeBytes(dir / "plain.bin", plaintext);
    ASSERT_TRUE(openssl({"enc", "-aes-256-ctr", "-K", toHex(kKey), "-iv", toHex(iv), "-in",
                         (dir / "plain.bin").string(), "-out", (dir / "theirs.bin").string()}));
    EXPECT_EQ(NSDataAES::AESDecryptWithKey(readBytes(dir / "theirs.bin"), kKey, iv), plaintext);
}
