#include "Socket/TCPManagerTestSupport.h"

#include "Socket/KeyExchange.h"
#include "Socket/MessageType.h"
#include "Socket/SessionKeyHolder.h"
#include "Utils/ByteWriter.h"
#include "Utils/EncryptedFrame.h"
#include "Utils/NSDataAES.h"
#include "Utils/PUtils.h"
#include "tv-sim/PayloadDigest.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

namespace {

using Outcome = TvSim::KeyExchangeOutcome;

// One TV key pair for the whole file: generating RSA keys is slow.
const RSAKeyPair& tvKeys()
{
    static const RSAKeyPair keys = *NSDataAES::genRSAKeyPairWithKeySize(RSAKey::kTvKeyBits);
    return keys;
}

std::vector<uint8_t> offerPayload(int32_t status, std::span<const uint8_t> key)
{
    std::vector<uint8_t> payload = ByteWriter(4).i32be(status).take();
    payload.insert(payload.end(), key.begin(), key.end());
    return payload;
}

std::vector<uint8_t> goodOffer()
{
    return offerPayload(1, *tvKeys().publicKey.exportPublicKey());
}

KeyExchange::Answer answerWith(KeyExchange::RandomSource random, KeyExchange::Wrap wrap,
                               std::span<const uint8_t> offer)
{
    return KeyExchange(std::move(random), std::move(wrap)).answer(offer);
}

void expectDeclined(const KeyExchange::Answer& answer)
{
    EXPECT_EQ(answer.type, kMsgNoEncryption);
    EXPECT_TRUE(answer.payload.empty());
    EXPECT_EQ(answer.key, nullptr);
}

TEST(KeyExchangeTest, AnEncryptedOfferIsAnsweredWithTheWrappedKey)
{
    const auto answer = KeyExchange().answer(goodOffer());
    EXPECT_EQ(answer.type, kMsgSessionKey);
    ASSERT_NE(answer.key, nullptr);
    EXPECT_EQ(answer.key->size(), KeyExchange::kSessionKeyLength);
    EXPECT_EQ(answer.payload.size(), 256u);
    const auto unwrapped = NSDataAES::RSADecryptWithPrivateKey(answer.payload, tvKeys().privateKey);
    ASSERT_TRUE(unwrapped);
    EXPECT_EQ(*unwrapped, *answer.key);
    // Each exchange makes a new key.
    EXPECT_NE(*KeyExchange().answer(goodOffer()).key, *answer.key);
}

TEST(KeyExchangeTest, EveryFailureDeclinesAndKeepsNoKey)
{
    const auto random = PUtils::genRandomWithByteLen;
    const auto wrap = NSDataAES::RSAEncryptWithPublicKey;
    const std::vector<uint8_t> garbage(270, 0x42);
    SCOPED_TRACE("status 0");
    expectDeclined(KeyExchange().answer(offerPayload(0, *tvKeys().publicKey.exportPublicKey())));
    expectDeclined(KeyExchange().answer({}));
    SCOPED_TRACE("a short payload: 00 05 reads as a non-zero status with no key");
    expectDeclined(KeyExchange().answer(std::vector<uint8_t>{0, 5}));
    expectDeclined(KeyExchange().answer(offerPayload(1, {})));
    SCOPED_TRACE("a key that does not import");
    expectDeclined(KeyExchange().answer(offerPayload(1, garbage)));
    SCOPED_TRACE("a failed random source");
    expectDeclined(answerWith([](size_t) { return std::nullopt; }, wrap, goodOffer()));
    expectDeclined(answerWith([](size_t) { return std::vector<uint8_t>(16, 1); }, wrap, goodOffer()));
    SCOPED_TRACE("a failed wrap");
    expectDeclined(answerWith(random, [](std::span<const uint8_t>, const RSAKey&) { return std::nullopt; },
                              goodOffer()));
    expectDeclined(answerWith(
        random, [](std::span<const uint8_t>, const RSAKey&) { return std::vector<uint8_t>{}; }, goodOffer()));
}

TEST(SessionKeyHolderTest, AReaderKeepsItsKeyAcrossReplacements)
{
    SessionKeyHolder holder;
    EXPECT_EQ(holder.load(), nullptr);
    holder.store(std::make_shared<const std::vector<uint8_t>>(32, 1));
    const SessionKey held = holder.load();
    holder.store(std::make_shared<const std::vector<uint8_t>>(32, 2));
    holder.store(nullptr);
    EXPECT_EQ(*held, std::vector<uint8_t>(32, 1));
    EXPECT_EQ(holder.load(), nullptr);

    // Readers and a writer at once: every key read is whole.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (uint8_t round = 0; !stop; ++round)
            holder.store(std::make_shared<const std::vector<uint8_t>>(32, round));
    });
    for (int i = 0; i < 20'000; ++i) {
        if (const SessionKey key = holder.load()) {
            ASSERT_EQ(key->size(), 32u);
            ASSERT_TRUE(std::all_of(key->begin(), key->end(), [&](uint8_t b) { return b == key->front(); }));
        }
    }
    stop = true;
    writer.join();
}

// A TV that offers encryption in its greeting.
class TCPManagerEncryptedTest : public TCPManagerFixture {
protected:
    TCPManagerEncryptedTest() : TCPManagerFixture(tvOptions(true)) {}

    void connect()
    {
        connectAndGreet();
        ASSERT_EQ(tv.waitForKeyExchange(), Outcome::Agreed);
    }
};

TEST_F(TCPManagerEncryptedTest, TheAgreedKeyIsTheTvsKey)
{
    connect();
    const SessionKey key = manager.aesKey();
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(tv.sessionKey(), *key);

    // A later offer replaces it.
    ASSERT_TRUE(tv.offerKeyExchange(true));
    ASSERT_EQ(tv.waitForKeyExchange(), Outcome::Agreed);
    const SessionKey replaced = manager.aesKey();
    ASSERT_NE(replaced, nullptr);
    EXPECT_NE(*replaced, *key);
    EXPECT_EQ(tv.sessionKey(), *replaced);
    // The earlier reference is still whole.
    EXPECT_EQ(key->size(), KeyExchange::kSessionKeyLength);
}

TEST_F(TCPManagerEncryptedTest, ADeclinedOfferClearsTheKey)
{
    connect();
    ASSERT_TRUE(tv.offerKeyExchange(false));
    ASSERT_EQ(tv.waitForKeyExchange(), Outcome::Declined);
    EXPECT_EQ(manager.aesKey(), nullptr);
    const auto answer = tv.waitForMessage(kMsgNoEncryption);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->length, 0u);
}

TEST_F(TCPManagerEncryptedTest, ABrokenOfferAnswersNoEncryptionAndDropsTheKey)
{
    connect();
    const std::vector<uint8_t> garbage(270, 0x42);
    const std::vector<std::vector<uint8_t>> broken{{0, 5}, offerPayload(1, {}), offerPayload(1, garbage)};
    size_t answers = 0;
    for (const auto& offer : broken) {
        ASSERT_TRUE(tv.offerKeyExchange(true));
        ASSERT_EQ(tv.waitForKeyExchange(), Outcome::Agreed);
        ASSERT_NE(manager.aesKey(), nullptr);
        ASSERT_TRUE(tv.send(kMsgKeyExchangeOffer, offer));
        ASSERT_TRUE(tv.waitForMessagesOfType(kMsgNoEncryption, ++answers));
        EXPECT_EQ(manager.aesKey(), nullptr);
        EXPECT_EQ(tv.keyExchangeOutcome(), Outcome::Declined);
    }
    EXPECT_EQ(tv.receivedCount(kMsgSessionKey), 1u + broken.size());
}

TEST_F(TCPManagerEncryptedTest, AProtectedFrameOpensToThePlaintextAtTheTv)
{
    connect();
    const SessionKey key = manager.aesKey();
    ASSERT_NE(key, nullptr);
    // More than one transport fragment.
    std::vector<uint8_t> plaintext(150'000);
    for (size_t i = 0; i < plaintext.size(); ++i)
        plaintext[i] = static_cast<uint8_t>((i * 31) ^ (i >> 8));
    const auto frame = EncryptedFrame::protect(plaintext, *key);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->size(), plaintext.size() + EncryptedFrame::kIvLength);
    manager.sendType(kMsgVideoFrame, frame->data(), static_cast<int>(frame->size()));
    const auto received = tv.waitForMessage(kMsgVideoFrame);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->length, frame->size());
    EXPECT_EQ(received->plainSha256, PayloadDigest::sha256Hex(plaintext));
    EXPECT_NE(received->sha256, PayloadDigest::sha256Hex(plaintext));
}

// Failures of our own side, through the manager: a random source or a wrap that fails.
class TCPManagerFailingExchangeTest : public MainLoopFixture {
protected:
    void run(KeyExchange exchange)
    {
        TvSim tv(TCPManagerFixture::tvOptions(true));
        ASSERT_TRUE(tv.start());
        TCPManager::Options options;
        options.timing = quickTiming();
        options.keyExchange = std::move(exchange);
        TCPManager manager(std::move(options));
        manager.setAesKey(std::make_shared<const std::vector<uint8_t>>(32, 7));
        ASSERT_TRUE(manager.connectToHost("127.0.0.1", tv.port()));
        EXPECT_EQ(tv.waitForKeyExchange(), Outcome::Declined);
        EXPECT_EQ(manager.aesKey(), nullptr);
        EXPECT_EQ(tv.receivedCount(kMsgSessionKey), 0u);
    }
};

TEST_F(TCPManagerFailingExchangeTest, AFailedRandomSourceAnswersNoEncryption)
{
    run(KeyExchange([](size_t) { return std::nullopt; }, NSDataAES::RSAEncryptWithPublicKey));
}

TEST_F(TCPManagerFailingExchangeTest, AFailedWrapAnswersNoEncryption)
{
    run(KeyExchange(PUtils::genRandomWithByteLen, [](std::span<const uint8_t>, const RSAKey&) { return std::nullopt; }));
}

} // namespace
