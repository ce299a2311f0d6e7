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
    const KeyExchange::RandomSource random = PUtils::genRandomWithByteLen;
    const KeyExchange::Wrap wrap = NSDataAES::RSAEncryptWithPublicKey;
    const auto noWrap = [](std::span<const uint8_t>, const RSAKey&) { return std::optional<std::vector<uint8_t>>(); };
    const auto emptyWrap = [](std::span<const uint8_t>, const RSAKey&) { return std::optional(std::vector<uint8_t>{}); };
    const struct {
        const char* label;
        KeyExchange::RandomSource random;
        KeyExchange::Wrap wrap;
        std::vector<uint8_t> offer;
    } cases[] = {
        {"status 0", random, wrap, offerPayload(0, *tvKeys().publicKey.exportPublicKey())},
        {"empty", random, wrap, {}},
        {"00 05: a non-zero status with no key", random, wrap, {0, 5}},
        {"no key", random, wrap, offerPayload(1, {})},
        {"a key that does not import", random, wrap, offerPayload(1, std::vector<uint8_t>(270, 0x42))},
        {"no random bytes", [](size_t) { return std::nullopt; }, wrap, goodOffer()},
        {"too few random bytes", [](size_t) { return std::vector<uint8_t>(16, 1); }, wrap, goodOffer()},
        {"a failed wrap", random, noWrap, goodOffer()},
        {"an empty wrap", random, emptyWrap, goodOffer()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto answer = KeyExchange(c.random, c.wrap).answer(c.offer);
        EXPECT_EQ(answer.type, kMsgNoEncryption);
        EXPECT_TRUE(answer.payload.empty());
        EXPECT_EQ(answer.key, nullptr);
    }
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
        ASSERT_EQ(tv.keyExchange().waitForOutcome(), Outcome::Agreed);
    }
};

// The agreed key is the TV's: a frame protected with it opens to the plaintext there.
TEST_F(TCPManagerEncryptedTest, TheAgreedKeyIsTheTvsKeyAndALaterOfferReplacesIt)
{
    connect();
    const SessionKey key = manager.aesKey();
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(tv.keyExchange().sessionKey(), *key);
    // More than one transport fragment.
    const auto plaintext = patternBytes(150'000, 3);
    const auto frame = EncryptedFrame::protect(plaintext, *key);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->size(), plaintext.size() + EncryptedFrame::kIvLength);
    manager.sendType(kMsgVideoFrame, frame->data(), static_cast<int>(frame->size()));
    const auto received = tv.waitForMessage(kMsgVideoFrame);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->plainSha256, PayloadDigest::sha256Hex(plaintext));
    EXPECT_NE(received->sha256, PayloadDigest::sha256Hex(plaintext));

    ASSERT_TRUE(tv.offerKeyExchange(true));
    ASSERT_EQ(tv.keyExchange().waitForOutcome(), Outcome::Agreed);
    const SessionKey replaced = manager.aesKey();
    ASSERT_NE(replaced, nullptr);
    EXPECT_NE(*replaced, *key);
    EXPECT_EQ(tv.keyExchange().sessionKey(), *replaced);
    // The earlier reference is still whole.
    EXPECT_EQ(key->size(), KeyExchange::kSessionKeyLength);
}

// The key ends with its link, whoever ends it, so the next TV never gets frames sealed with it.
TEST_F(TCPManagerEncryptedTest, TheKeyEndsWithItsLink)
{
    connect();
    ASSERT_NE(manager.aesKey(), nullptr);
    tv.closeLink();
    ASSERT_TRUE(delegate.waitFor("onDisConnect"));
    EXPECT_EQ(manager.aesKey(), nullptr);

    connect();
    ASSERT_NE(manager.aesKey(), nullptr);
    manager.tcpClientRelease();
    EXPECT_EQ(manager.aesKey(), nullptr);

    TvSim next(tvOptions(false));
    ASSERT_TRUE(next.start());
    ASSERT_TRUE(manager.connectToHost("127.0.0.1", next.port()));
    ASSERT_TRUE(delegate.waitFor("onConnectSuccess", 3));
    ASSERT_TRUE(next.waitForMessage(kMsgClientInfo));
    EXPECT_EQ(manager.aesKey(), nullptr);
    ASSERT_TRUE(next.offerKeyExchange(true));
    ASSERT_EQ(next.keyExchange().waitForOutcome(), Outcome::Agreed);
    ASSERT_NE(manager.aesKey(), nullptr);
    EXPECT_EQ(next.keyExchange().sessionKey(), *manager.aesKey());
}

// A declined or broken offer is answered with no encryption and drops the key agreed before.
TEST_F(TCPManagerEncryptedTest, ADeclinedOrBrokenOfferAnswersNoEncryptionAndDropsTheKey)
{
    connect();
    const std::vector<std::vector<uint8_t>> offers{
        offerPayload(0, {}), {0, 5}, offerPayload(1, {}), offerPayload(1, std::vector<uint8_t>(270, 0x42))};
    size_t answers = 0;
    for (const auto& offer : offers) {
        ASSERT_TRUE(tv.offerKeyExchange(true));
        ASSERT_EQ(tv.keyExchange().waitForOutcome(), Outcome::Agreed);
        ASSERT_NE(manager.aesKey(), nullptr);
        ASSERT_TRUE(tv.send(kMsgKeyExchangeOffer, offer));
        const auto answer = tv.waitForMessagesOfType(kMsgNoEncryption, ++answers);
        ASSERT_TRUE(answer);
        EXPECT_EQ(tv.received(kMsgNoEncryption).back().length, 0u);
        EXPECT_EQ(manager.aesKey(), nullptr);
        EXPECT_EQ(tv.keyExchange().outcome(), Outcome::Declined);
    }
    EXPECT_EQ(tv.receivedCount(kMsgSessionKey), 1u + offers.size());
}

} // namespace
