#include "KeyWrap.h"
#include "RawLink.h"

#include "Socket/ClientInfoRecord.h"
#include "Socket/DiscoveryReply.h"
#include "Socket/KeyExchangeOffer.h"
#include "Socket/MessageType.h"
#include "Socket/ServerInfoRecord.h"
#include "Utils/EncryptedFrame.h"
#include "Utils/PUtils.h"
#include "tv-sim/PayloadDigest.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using Outcome = TvSim::KeyExchangeOutcome;

std::string textOf(const RawLink::Frame& frame)
{
    return {frame.payload.begin(), frame.payload.end()};
}

std::vector<uint8_t> clientInfo(const std::string& deviceName)
{
    return ClientInfoRecord{.osVersion = "14.2.1", .deviceName = deviceName}.encode();
}

// A quiet TV (no heartbeats of its own) with the given options and one raw client linked to it.
struct Session : ::testing::Test {
    void link(TvSim::Options options)
    {
        options.heartbeatInterval = TvSim::Timeout(0);
        sim.emplace(std::move(options));
        ASSERT_TRUE(sim->start());
        client.emplace(sim->port());
        ASSERT_TRUE(client->connected());
        ASSERT_TRUE(sim->waitForConnection());
    }

    // The client's greeting, and the TV's answer up to the casting code.
    void greet(uint32_t sequence, const std::string& deviceName, const std::string& expectedName,
               const std::string& expectedCode)
    {
        ASSERT_TRUE(client->sendMessage(sequence, kMsgClientInfo, 1, clientInfo(deviceName)));
        const auto info = client->readFrame(kMsgServerInfo);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->payload.size(), ServerInfoRecord::kSize);
        const auto server = ServerInfoRecord::decode(info->payload);
        ASSERT_TRUE(server);
        EXPECT_EQ(server->name, expectedName);
        const auto code = client->readFrame();
        ASSERT_TRUE(code);
        EXPECT_EQ(code->header.type, kMsgScreenCode);
        EXPECT_EQ(textOf(*code), expectedCode);
    }

    // A fresh key wrapped for the offer that comes next from the TV; empty on failure.
    std::vector<uint8_t> answerOffer(std::vector<uint8_t>& key)
    {
        const auto offer = client->readFrame();
        if (!offer || offer->header.type != kMsgKeyExchangeOffer)
            return {};
        key = PUtils::genRandomWithByteLen(32).value_or(std::vector<uint8_t>{});
        return wrapForOffer(offer->payload, key).value_or(std::vector<uint8_t>{});
    }

    std::optional<TvSim> sim;
    std::optional<RawLink> client;
};

TEST_F(Session, AnswersTheFirstClientInfoOfALinkAndRecordsEveryOne)
{
    link({.name = "Salle \xC3\xA0 manger", .castingCode = "AB12CD"});
    greet(0, "Desk", "Salle \xC3\xA0 manger", "AB12CD");
    ASSERT_TRUE(sim->clientInfo());
    EXPECT_EQ(sim->clientInfo()->deviceName, "Desk");
    EXPECT_EQ(sim->clientInfo()->osName, "macOS");
    EXPECT_EQ(sim->clientInfo()->osVersion, "14.2.1");

    // A rename re-sends the client information: recorded, not answered again. The marker sent
    // after it would come second if a server information had been sent.
    ASSERT_TRUE(client->sendMessage(1, kMsgClientInfo, 1, clientInfo("Renamed")));
    ASSERT_TRUE(sim->waitForMessagesOfType(kMsgClientInfo, 2));
    EXPECT_EQ(sim->clientInfo()->deviceName, "Renamed");
    ASSERT_TRUE(sim->sendScreenCode("marker"));
    const auto next = client->readFrame();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->header.type, kMsgScreenCode);
    EXPECT_EQ(textOf(*next), "marker");
}

TEST_F(Session, ATvThatTakesQualityChangesSaysSoAfterTheGreeting)
{
    link({.qualityChange = true});
    greet(0, "Desk", "tv-sim", "");
    const auto support = client->readFrame();
    ASSERT_TRUE(support);
    EXPECT_EQ(support->header.type, kMsgQualityChangeSupport);
    EXPECT_EQ(support->payload, TvMessages::capability(1));
}

TEST_F(Session, ATvToldNotToAnswerSendsServerInfoOnlyByHand)
{
    link({});
    sim->setAnswerServerInfo(false);
    ASSERT_TRUE(client->sendMessage(0, kMsgClientInfo, 1, std::vector<uint8_t>(40)));
    ASSERT_TRUE(sim->waitForMessage(kMsgClientInfo));
    EXPECT_FALSE(sim->clientInfo()) << "too short to hold a device name";

    ASSERT_TRUE(sim->sendServerInfo());
    const auto first = client->readFrame();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->header.type, kMsgServerInfo);
    EXPECT_EQ(ServerInfoRecord::decode(first->payload)->name, "tv-sim");
}

TEST_F(Session, AnAgreedKeyOpensEveryProtectedVideoFrame)
{
    link({.castingCode = "", .encryption = true});
    greet(0, "Desk", "tv-sim", "");
    std::vector<uint8_t> key;
    const auto wrapped = answerOffer(key);
    ASSERT_EQ(wrapped.size(), 256u) << "a 2048-bit key wraps to 256 bytes";
    ASSERT_TRUE(client->sendMessage(1, kMsgSessionKey, 1, wrapped));
    ASSERT_EQ(sim->keyExchange().waitForOutcome(), Outcome::Agreed);
    EXPECT_EQ(sim->keyExchange().sessionKey(), key);

    std::vector<uint8_t> plain(100'000);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    const auto frame = EncryptedFrame::protect(plain, key);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(client->sendMessage(2, kMsgVideoFrame, 1, *frame));
    ASSERT_TRUE(client->sendMessage(3, kMsgAudioFrame, 1, plain));
    ASSERT_TRUE(sim->waitForMessagesOfType(kMsgAudioFrame, 1));
    const auto video = sim->received(kMsgVideoFrame);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video[0].plainSha256, PayloadDigest::sha256Hex(plain));
    EXPECT_EQ(video[0].sha256, PayloadDigest::sha256Hex(*frame));
    EXPECT_TRUE(sim->received(kMsgAudioFrame)[0].plainSha256.empty()) << "sound is never encrypted";

    // The same key pair serves the next offer.
    ASSERT_TRUE(sim->offerKeyExchange(true));
    EXPECT_EQ(sim->keyExchange().outcome(), Outcome::None);
    EXPECT_FALSE(sim->keyExchange().sessionKey());
    std::vector<uint8_t> second;
    ASSERT_EQ(answerOffer(second).size(), 256u);
}

TEST_F(Session, BadOrMissingSessionKeysFailAndNoEncryptionDeclines)
{
    link({});
    sim->setAnswerServerInfo(false);

    // An answer before any offer cannot be unwrapped.
    ASSERT_TRUE(client->sendMessage(0, kMsgSessionKey, 1, std::vector<uint8_t>(256, 0x5A)));
    EXPECT_EQ(sim->keyExchange().waitForOutcome(), Outcome::Failed);

    const std::vector<std::vector<uint8_t>> badAnswers{{}, std::vector<uint8_t>(256, 0x5A), {1, 2, 3}};
    uint32_t sequence = 1;
    for (const auto& bad : badAnswers) {
        ASSERT_TRUE(sim->offerKeyExchange(true));
        ASSERT_TRUE(client->readFrame(kMsgKeyExchangeOffer));
        ASSERT_TRUE(client->sendMessage(sequence++, kMsgSessionKey, 1, bad));
        EXPECT_EQ(sim->keyExchange().waitForOutcome(), Outcome::Failed) << bad.size() << " bytes";
        EXPECT_FALSE(sim->keyExchange().sessionKey());
    }
    // A 31-byte key wraps well but is no session key.
    ASSERT_TRUE(sim->offerKeyExchange(true));
    std::vector<uint8_t> key;
    const auto offer = client->readFrame(kMsgKeyExchangeOffer);
    ASSERT_TRUE(offer);
    const auto shortKey = wrapForOffer(offer->payload, std::vector<uint8_t>(31, 1));
    ASSERT_TRUE(shortKey);
    ASSERT_TRUE(client->sendMessage(sequence++, kMsgSessionKey, 1, *shortKey));
    EXPECT_EQ(sim->keyExchange().waitForOutcome(), Outcome::Failed);

    // Frames in clear while no key is agreed.
    ASSERT_TRUE(client->sendMessage(sequence++, kMsgVideoFrame, 1, std::vector<uint8_t>(64, 9)));
    const auto clear = sim->waitForMessage(kMsgVideoFrame);
    ASSERT_TRUE(clear);
    EXPECT_TRUE(clear->plainSha256.empty());

    ASSERT_TRUE(sim->offerKeyExchange(false));
    const auto none = client->readFrame(kMsgKeyExchangeOffer);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->payload, (std::vector<uint8_t>{0, 0, 0, 0}));
    ASSERT_TRUE(client->sendMessage(sequence++, kMsgNoEncryption, 1, {}));
    EXPECT_EQ(sim->keyExchange().waitForOutcome(), Outcome::Declined);

    // A new link is a new session.
    RawLink second(sim->port());
    ASSERT_TRUE(sim->waitForConnection(TvSim::kDefaultTimeout, 2));
    EXPECT_EQ(sim->keyExchange().outcome(), Outcome::None);
}

TEST_F(Session, AnswersDiscoveryAsThisTv)
{
    link({.name = "Salon", .castingCode = "Q7W8E9", .discoveryPort = 0, .macAddr = "02:11:22:33:44:55"});
    ASSERT_NE(sim->discoveryPort(), 0);
    RawLink finder(sim->discoveryPort(), SOCK_DGRAM);
    const std::vector<uint8_t> request{0x24, 0x10, 0x01, 0x00, 0x00, 0x00};
    ASSERT_TRUE(finder.sendAll(request));
    const auto reply = finder.readDatagram();
    ASSERT_TRUE(reply);
    EXPECT_EQ(DiscoveryReply::text(*reply), "Salon&02:11:22:33:44:55&0Q7W8E9");

    TvSim silent;
    EXPECT_EQ(silent.discoveryPort(), 0) << "no discovery unless asked";
}

} // namespace
