#include "EncodedStream.h"
#include "KeyWrap.h"
#include "RawLink.h"

#include "Socket/CastVideoFormatPayload.h"
#include "Socket/ClientInfoRecord.h"
#include "Socket/DiscoveryReply.h"
#include "Socket/FileShareList.h"
#include "Socket/FileShareOffer.h"
#include "Socket/MessageType.h"
#include "Socket/ServerInfoRecord.h"
#include "Socket/UdpChannelOpenPayload.h"
#include "Socket/VideoQualityPayload.h"
#include "Utils/EncryptedFrame.h"
#include "Utils/TestFolders.h"

#include "TvSimProcess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

TEST(TvSimCommand, ReportsLinksAndMessagesOnBothRoadsUntilTerminated)
{
    TvSimProcess sim({"--listen", "127.0.0.1:0", "--no-heartbeat", "--udp", "0x1:1000"});
    ASSERT_TRUE(sim.running());
    const auto listen = sim.reportLine();
    std::smatch match;
    ASSERT_TRUE(listen && std::regex_match(*listen, match, std::regex(R"(listen 127\.0\.0\.1:(\d+))"))) << *listen;
    const auto port = static_cast<uint16_t>(std::stoi(match[1]));

    std::optional<RawLink> client;
    client.emplace(port);
    ASSERT_TRUE(client->connected());
    EXPECT_TRUE(std::regex_match(sim.reportLine().value_or(""), std::regex(R"(link up 127\.0\.0\.1:\d+)")));
    const auto udpLine = sim.reportLine().value_or("");
    ASSERT_TRUE(std::regex_match(udpLine, match, std::regex(R"(udp open port=(\d+) mask=0x1 fragment=1000)")))
        << udpLine;
    const auto open = client->readFrame(kMsgUdpChannelOpen);
    ASSERT_TRUE(open);
    EXPECT_EQ(UdpChannelOpenPayload::decode(open->payload)->port, std::stoul(match[1]));

    ASSERT_TRUE(client->sendMessage(5, kMsgCastStop, 99, bytes("abc")));
    EXPECT_TRUE(std::regex_match(sim.reportLine().value_or(""),
                                 std::regex("recv tcp seq=5 type=0x2007 name=kMsgCastStop len=3 "
                                            "sha256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad "
                                            R"(ts=99 at=\d+)")));

    RawLink udp(static_cast<uint16_t>(std::stoul(match[1])), SOCK_DGRAM);
    ASSERT_TRUE(udp.sendMessage(0, kMsgVideoFrame, 7, bytes("abc"), *MessageFragmenter::withFragmentSize(1000)));
    EXPECT_TRUE(std::regex_match(sim.reportLine().value_or(""),
                                 std::regex(R"(recv udp seq=0 type=0x2002 name=kMsgVideoFrame len=3 sha256=ba78\w{60} ts=7 at=\d+)")));

    client.reset();
    EXPECT_EQ(sim.reportLine(), "link down");
    EXPECT_EQ(sim.terminate(), 0);
}

TEST(TvSimCommand, GreetsAnswersDiscoveryAndReportsTheKeyAndDecryptedFrames)
{
    TvSimProcess sim({"--no-heartbeat", "--name", "Salon", "--code", "AB12CD", "--encrypt", "--discovery", "0"});
    ASSERT_TRUE(sim.running());
    std::smatch match;
    const auto listen = sim.reportLine().value_or("");
    ASSERT_TRUE(std::regex_match(listen, match, std::regex(R"(listen 127\.0\.0\.1:(\d+))"))) << listen;
    const auto port = static_cast<uint16_t>(std::stoi(match[1]));
    const auto discovery = sim.reportLine().value_or("");
    ASSERT_TRUE(std::regex_match(discovery, match, std::regex(R"(discovery 127\.0\.0\.1:(\d+))"))) << discovery;

    RawLink finder(static_cast<uint16_t>(std::stoi(match[1])), SOCK_DGRAM);
    ASSERT_TRUE(finder.sendAll(std::vector<uint8_t>{0x24, 0x10, 0x01, 0x00, 0x00, 0x00}));
    const auto reply = finder.readDatagram();
    ASSERT_TRUE(reply);
    EXPECT_EQ(DiscoveryReply::text(*reply), "Salon&02:00:00:00:00:01&0AB12CD");

    RawLink client(port);
    ASSERT_TRUE(client.connected());
    EXPECT_TRUE(sim.reportLine().value_or("").starts_with("link up "));
    ASSERT_TRUE(client.sendMessage(0, kMsgClientInfo, 1, ClientInfoRecord{.osVersion = "14.2.1", .deviceName = "Desk"}.encode()));
    EXPECT_TRUE(sim.reportLine().value_or("").starts_with("recv tcp seq=0 type=0x0010 name=kMsgClientInfo len=176 "));
    const auto info = client.readFrame(kMsgServerInfo);
    ASSERT_TRUE(info);
    EXPECT_EQ(ServerInfoRecord::decode(info->payload)->name, "Salon");
    const auto code = client.readFrame(kMsgScreenCode);
    ASSERT_TRUE(code);
    EXPECT_EQ(std::string(code->payload.begin(), code->payload.end()), "AB12CD");
    const auto offer = client.readFrame(kMsgKeyExchangeOffer);
    ASSERT_TRUE(offer);

    const std::vector<uint8_t> key(32, 0x42);
    const auto wrapped = wrapForOffer(offer->payload, key);
    ASSERT_TRUE(wrapped);
    ASSERT_TRUE(client.sendMessage(1, kMsgSessionKey, 1, *wrapped));
    EXPECT_EQ(sim.reportLine(), "key agreed");
    EXPECT_TRUE(sim.reportLine().value_or("").starts_with("recv tcp seq=1 type=0x9004 name=kMsgSessionKey len=256 "));

    const auto frame = EncryptedFrame::protect(bytes("abc"), key);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(client.sendMessage(2, kMsgVideoFrame, 5, *frame));
    // The SHA-256 of "abc" is the standard's own test vector.
    const auto line = sim.reportLine().value_or("");
    EXPECT_TRUE(std::regex_match(line, std::regex("recv tcp seq=2 type=0x2002 name=kMsgVideoFrame len=19 sha256=\\w{64} "
                                                  "plain_sha256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad "
                                                  R"(ts=5 at=\d+)")))
        << line;

    ASSERT_TRUE(client.sendMessage(3, kMsgNoEncryption, 1, {}));
    EXPECT_EQ(sim.reportLine(), "key declined");
    EXPECT_EQ(sim.terminate(), 0);
}

TEST(TvSimCommand, AnswersTheCastAndReportsEveryDecodedPictureThenASummary)
{
    TvSimProcess sim({"--no-heartbeat", "--decode", "--quality", "1"});
    ASSERT_TRUE(sim.running());
    std::smatch match;
    RawLink client(sim.listenPort());
    ASSERT_TRUE(client.connected());
    uint32_t sequence = 0;
    ASSERT_TRUE(client.sendMessage(sequence++, kMsgCastVideoFormat, 1, CastVideoFormatPayload{1920, 1080, 0}.encode()));
    const auto quality = client.readFrame(kMsgVideoQuality);
    ASSERT_TRUE(quality);
    EXPECT_EQ(quality->payload, (VideoQualityPayload{1280, 720, 1, 10}.encode()));

    const auto stream = encodedStream(160, 96, 3);
    ASSERT_EQ(stream.size(), 3u);
    for (const auto& unit : stream) {
        ASSERT_TRUE(client.sendMessage(sequence, kMsgVideoFrame, 1, unit));
        ++sequence;
    }
    // Decoded lines come from their own thread, among the recv lines.
    std::vector<std::string> decoded;
    while (decoded.size() < stream.size()) {
        const auto line = sim.reportLine();
        ASSERT_TRUE(line);
        if (line->starts_with("decoded "))
            decoded.push_back(*line);
    }
    for (size_t i = 0; i < decoded.size(); ++i)
        EXPECT_TRUE(std::regex_match(decoded[i], std::regex("decoded n=" + std::to_string(i) +
                                                            R"( size=160x96 latency_us=\d+ centre=[0-9a-f]{6})")))
            << decoded[i];
    EXPECT_EQ(sim.terminate(), 0);
    std::optional<std::string> last;
    while (const auto line = sim.reportLine())
        last = line;
    EXPECT_TRUE(std::regex_match(last.value_or(""),
                                 std::regex(R"(summary decoded=3 errors=0 latency_median_us=-?\d+ latency_p95_us=-?\d+)")))
        << last.value_or("no line");
}

TEST(TvSimCommand, RefusesBadArguments)
{
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--listen", "localhost:1"},
             {"--udp", "1:0"},
             {"--listen", "127.0.0.1:70000"},
             {"--discovery", "-1"},
             {"--quality", "high"},
             {"--quality", "4294967296"},
             {"--name"},
             {"--screen", "17x9"},
             {"--screen", "1280"},
             {"--screen-fps", "0"},
             {"--refuse-view", "no"},
             {"--bogus"}}) {
        TvSimProcess sim(arguments);
        ASSERT_TRUE(sim.running());
        EXPECT_FALSE(sim.reportLine()) << arguments[0];
        EXPECT_NE(sim.terminate(), 0) << arguments[0];
    }
}

} // namespace

namespace {

// Files both ways on the command line: the offer of --offer files from the TV's own file service,
// and the fetch of a pushed file, reported with its digest.
TEST(TvSimCommand, OffersItsFilesAndFetchesPushedOnes)
{
    TempDir dir;
    std::ofstream(dir / "slides.pdf") << "abc";
    TvSimProcess sim({"--no-heartbeat", "--offer", (dir / "slides.pdf").string()});
    ASSERT_TRUE(sim.running());
    RawLink client(sim.listenPort());
    ASSERT_TRUE(client.connected());
    std::smatch match;
    EXPECT_TRUE(sim.reportLine().value_or("").starts_with("link up "));
    const auto offerLine = sim.reportLine().value_or("");
    ASSERT_TRUE(std::regex_match(offerLine, match, std::regex(R"(offer (http://127\.0\.0\.1:\d+/share) files=1)"))) << offerLine;

    const auto frame = client.readFrame(kMsgFileShareOffer);
    ASSERT_TRUE(frame);
    const auto offer = FileShareOffer::decode(frame->payload);
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->url, match[1].str());
    ASSERT_EQ(offer->files.size(), 1u);
    EXPECT_EQ(offer->files[0].name, "slides.pdf");

    // The offered file, pushed back as if from a shared folder: fetched whole, taken in clear (no key).
    ASSERT_TRUE(client.sendMessage(0, kMsgFilePush, 1, FileShareList{offer->url, offer->files[0].id, "slides.pdf"}.encode()));
    EXPECT_TRUE(sim.reportLine().value_or("").starts_with("recv tcp seq=0 type=0x210c name=kMsgFilePush "));
    const auto fetched = sim.reportLine().value_or("");
    EXPECT_TRUE(std::regex_match(fetched, std::regex("fetched id=" + offer->files[0].id +
                                                     " len=3 sha256=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad s=[0-9.]+")))
        << fetched;
    EXPECT_TRUE(client.readFrame(kMsgFilePushAck));
    EXPECT_EQ(sim.terminate(), 0);
}

} // namespace
