#include "Socket/CapabilityFlagPayload.h"
#include "Socket/CastVideoFormatPayload.h"
#include "Socket/ClientControlPayload.h"
#include "Socket/ClientInfoRecord.h"
#include "Socket/ClientRemovePayload.h"
#include "Socket/HeartbeatPayload.h"
#include "Socket/Int32Payload.h"
#include "Socket/KeyEventPayload.h"
#include "Socket/KeyExchangeOffer.h"
#include "Socket/NetworkEchoPayload.h"
#include "Socket/ScrollPayload.h"
#include "Socket/ServerInfoRecord.h"
#include "Socket/TouchPayload.h"
#include "Socket/TvScreenResolutionPayload.h"
#include "Socket/UdpChannelOpenPayload.h"
#include "Socket/UdpResendFragmentsPayload.h"
#include "Socket/UdpResendRangePayload.h"
#include "Socket/VideoQualityPayload.h"
#include "Socket/ViewSizePayload.h"
#include "Socket/WrappedSessionKey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The reference bytes written by golden_records.py, by case name.
const Bytes& golden(const std::string& name)
{
    static const std::map<std::string, Bytes> cases = [] {
        std::map<std::string, Bytes> read;
        std::ifstream file(GOLDEN_RECORDS_PATH);
        std::string caseName, hex;
        while (file >> caseName >> hex) {
            Bytes& bytes = read[caseName];
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        }
        return read;
    }();
    const auto it = cases.find(name);
    if (it == cases.end())
        ADD_FAILURE() << "no golden case " << name;
    static const Bytes none;
    return it == cases.end() ? none : it->second;
}

// Every cut of the bytes shorter than minimum is refused and every longer one accepted; the whole
// bytes, alone and followed by junk, decode and pass check. Each cut is its own allocation, so a read past its end trips ASan.
template <class Record, class Check>
void expectRefusedWhenShort(const Bytes& bytes, Check check, size_t minimum = SIZE_MAX)
{
    for (size_t length = 0; length < bytes.size(); ++length) {
        const Bytes cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(length));
        EXPECT_EQ(Record::decode(cut).has_value(), length >= minimum) << "length " << length;
    }
    Bytes longer = bytes;
    for (const size_t extra : {size_t{0}, size_t{5}}) {
        longer.resize(bytes.size() + extra, 0xEE);
        const auto record = Record::decode(longer);
        ASSERT_TRUE(record) << "extra " << extra;
        check(*record);
    }
}

} // namespace

TEST(Records, EncodeMatchesReferenceBytes)
{
    EXPECT_EQ(Int32Payload{-123456789}.encode(), golden("Int32Payload"));
    EXPECT_EQ(Int32Payload{-123456789}.encodeLittleEndian(), golden("Int32PayloadLittleEndian"));
    EXPECT_EQ((HeartbeatPayload{2, 0, 0}.encode()), golden("HeartbeatRequest"));
    EXPECT_EQ((HeartbeatPayload{0x01020304, 0, 7}.answer(1).encode()), golden("HeartbeatAnswer"));
    EXPECT_EQ((NetworkEchoPayload{0x11223344, 0x55667788, 1700000000123456, 0x0102030405060708}.encode()),
              golden("NetworkEchoPayload"));
    EXPECT_EQ((ClientInfoRecord{.osVersion = "13.4.1", .deviceName = "Living-room Mac"}.encode()),
              golden("ClientInfoRecord"));
    std::string longName;
    for (int i = 0; i < 40; ++i)
        longName += "\xC3\xA9";
    EXPECT_EQ((ClientInfoRecord{.osVersion = "10.15.7", .deviceName = longName}.encode()),
              golden("ClientInfoRecordLongName"));
    EXPECT_EQ((CastVideoFormatPayload{1920, 1080, 2}.encode()), golden("CastVideoFormatPayload"));
    EXPECT_EQ((TouchPayload{.x = 1234, .y = -5}.encode()), golden("TouchPayloadOut"));
    EXPECT_EQ((ScrollPayload{-3, 12}.encode()), golden("ScrollPayload"));
    EXPECT_EQ(KeyEventPayload{0x28}.encode(), golden("KeyEventPayload"));
    EXPECT_EQ((ViewSizePayload{1512, 982}.encode()), golden("ViewSizePayload"));
    EXPECT_EQ((ClientControlPayload{0x0102030405060708, 1}.encode()), golden("ClientControlPayload"));
    EXPECT_EQ(ClientRemovePayload{1700000000123}.encode(), golden("ClientRemovePayload"));
    EXPECT_EQ((WrappedSessionKey{{1, 2, 3}}.encode()), (Bytes{1, 2, 3}));
}

TEST(Records, TvSideEncodeMatchesReferenceBytes)
{
    EXPECT_EQ(ServerInfoRecord{"Salle \xC3\xA0 manger"}.encode(), golden("ServerInfoRecordOut"));
    EXPECT_EQ(ServerInfoRecord::decode(golden("ServerInfoRecordOut"))->name, "Salle \xC3\xA0 manger");
    EXPECT_EQ((VideoQualityPayload{1280, 720, 3, 30}.encode()), golden("VideoQualityPayloadOut"));
    EXPECT_EQ((TouchPayload{.x = 1234, .y = -5, .third = 0, .fourth = 1}.encodeLittleEndian()),
              golden("TouchPayloadIn"));
    EXPECT_EQ((TvScreenResolutionPayload{1920, 1080}.encode()), golden("TvScreenResolutionPayload"));
    EXPECT_EQ((KeyExchangeOffer{1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}.encode()), golden("KeyExchangeOffer"));
    EXPECT_EQ(KeyExchangeOffer{}.encode(), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(WrappedSessionKey::decode(Bytes{4, 5, 6}).wrapped, (Bytes{4, 5, 6}));

    // A name longer than its field is cut at a character boundary and stays terminated.
    std::string longName;
    for (int i = 0; i < 40; ++i)
        longName += "\xC3\xA9";
    const auto record = ServerInfoRecord{longName}.encode();
    ASSERT_EQ(record.size(), ServerInfoRecord::kSize);
    EXPECT_EQ(record.back(), 0);
    EXPECT_EQ(ServerInfoRecord::decode(record)->name, longName.substr(0, 62));
}

TEST(Records, FixedRecordsDecodeReferenceBytesAndRefuseShortPayloads)
{
    expectRefusedWhenShort<NetworkEchoPayload>(golden("NetworkEchoPayload"), [](const NetworkEchoPayload& echo) {
        EXPECT_EQ(echo.id, 0x11223344u);
        EXPECT_EQ(echo.echo, 0x55667788u);
        EXPECT_FALSE(echo.isRequest());
        EXPECT_EQ(echo.timeA, 1700000000123456u);
        EXPECT_EQ(echo.timeB, 0x0102030405060708u);
    });
    expectRefusedWhenShort<UdpChannelOpenPayload>(golden("UdpChannelOpenPayload"), [](const UdpChannelOpenPayload& open) {
        EXPECT_EQ(open.port, 40000u);
        EXPECT_EQ(open.fragmentSize, 1400u);
        EXPECT_EQ(open.routeMask, UdpChannelOpenPayload::kRouteVideo | UdpChannelOpenPayload::kRouteAudio);
    });
    expectRefusedWhenShort<UdpResendRangePayload>(golden("UdpResendRangePayload"), [](const UdpResendRangePayload& range) {
        EXPECT_EQ(range.streamType, 0x2003u);
        EXPECT_EQ(range.firstId, 5u);
        EXPECT_EQ(range.endId, 7u);
        EXPECT_EQ(range.flags, UdpResendRangePayload::kThroughNewest);
    });
    expectRefusedWhenShort<VideoQualityPayload>(golden("VideoQualityPayload"), [](const VideoQualityPayload& quality) {
        EXPECT_EQ(quality.width, 1280);
        EXPECT_EQ(quality.height, 720);
        EXPECT_EQ(quality.level, 3);
        EXPECT_EQ(quality.fps, 30);
    });
    expectRefusedWhenShort<TvScreenResolutionPayload>(golden("TvScreenResolutionPayload"),
                                                      [](const TvScreenResolutionPayload& size) {
                                                          EXPECT_EQ(size.width, 1920);
                                                          EXPECT_EQ(size.height, 1080);
                                                      });
    // Received touches are little-endian, unlike the ones we send.
    expectRefusedWhenShort<TouchPayload>(golden("TouchPayloadIn"), [](const TouchPayload& touch) {
        EXPECT_EQ(touch.x, 1234);
        EXPECT_EQ(touch.y, -5);
        EXPECT_EQ(touch.third, 0);
        EXPECT_EQ(touch.fourth, 1);
    });
}

TEST(Records, TextRecordsNeedTheirTextsOffsetAndStopAtTheirEnd)
{
    expectRefusedWhenShort<ServerInfoRecord>(
        golden("ServerInfoRecord"), [](const ServerInfoRecord& info) { EXPECT_EQ(info.name, "Salle \xC3\xA0 manger"); },
        40);
    Bytes server = golden("ServerInfoRecord");
    server.resize(40);
    EXPECT_EQ(ServerInfoRecord::decode(server)->name, "");
    // No NUL: the name ends with the payload, and a character cut by that end is left out.
    server.insert(server.end(), {'T', 'V', 0xC3});
    EXPECT_EQ(ServerInfoRecord::decode(server)->name, "TV");

    expectRefusedWhenShort<ClientInfoRecord>(
        golden("ClientInfoRecord"),
        [](const ClientInfoRecord& info) {
            EXPECT_EQ(info.osVersion, "13.4.1");
            EXPECT_EQ(info.osName, "macOS");
            EXPECT_EQ(info.deviceName, "Living-room Mac");
        },
        112);
    const auto longName = ClientInfoRecord::decode(golden("ClientInfoRecordLongName"));
    ASSERT_TRUE(longName);
    EXPECT_EQ(longName->deviceName.size(), 62u);
    // A peer's field with no NUL is read to the field's width, never into the next field.
    Bytes unterminated = golden("ClientInfoRecord");
    std::fill(unterminated.begin() + 8, unterminated.end(), 'a');
    const auto full = ClientInfoRecord::decode(unterminated);
    EXPECT_EQ(full->osVersion.size(), 32u);
    EXPECT_EQ(full->osName.size(), 64u);
    EXPECT_EQ(full->deviceName.size(), 64u);
}

TEST(Records, IntegerPayloadsZeroExtendShortPayloads)
{
    EXPECT_EQ(Int32Payload::decode(golden("Int32Payload")).value, -123456789);
    EXPECT_EQ(Int32Payload::decodeLittleEndian(golden("Int32PayloadLittleEndian")).value, -123456789);
    EXPECT_EQ(Int32Payload::decode(Bytes{0x00, 0x05}).value, 0x00050000);
    EXPECT_EQ(Int32Payload::decode(Bytes{}).value, 0);
    EXPECT_EQ(Int32Payload::decode(Bytes{0, 0, 0, 2, 9, 9}).value, 2);
    EXPECT_EQ(Int32Payload::decodeLittleEndian(Bytes{0x05, 0x01}).value, 0x0105);

    // The heartbeat reads up to 16 bytes; a short one is a request for whatever it carries.
    const auto beat = HeartbeatPayload::decode(golden("HeartbeatAnswer"));
    EXPECT_EQ(beat.sequence, 0x01020304u);
    EXPECT_EQ(beat.echo, 0x01020304u);
    EXPECT_EQ(beat.status & HeartbeatPayload::kStatusWantsClientInfo, 1u);
    const auto shortBeat = HeartbeatPayload::decode(Bytes{16, 0, 0, 0, 9, 1});
    EXPECT_EQ(shortBeat.sequence, 0x0109u);
    EXPECT_TRUE(shortBeat.isRequest());
    EXPECT_EQ(shortBeat.answer(0).echo, 0x0109u);
}

TEST(Records, CapabilityFlag)
{
    EXPECT_EQ(CapabilityFlagPayload::decode(golden("CapabilityFlagPayload")).flag, 0x2A);
    EXPECT_EQ(CapabilityFlagPayload::decode(Bytes{}).flag, 1);
    EXPECT_EQ(CapabilityFlagPayload::decode(Bytes{1}).flag, 0);
    EXPECT_EQ(CapabilityFlagPayload::decode(Bytes{1, 1, 1}).flag, 0);
    EXPECT_EQ(CapabilityFlagPayload::decode(Bytes{0, 0, 0, 0}).flag, 0);
    EXPECT_EQ(CapabilityFlagPayload::decode(Bytes{0, 0, 0, 1}).flag, 1);
    EXPECT_EQ(CapabilityFlagPayload::decode(Bytes{0, 0, 0, 9, 7}).flag, 9);
}

TEST(Records, ResendFragmentsBitmapIsBoundsChecked)
{
    const auto request = UdpResendFragmentsPayload::decode(golden("UdpResendFragmentsPayload"));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->streamType, 0x2002u);
    EXPECT_EQ(request->messageId, 77u);
    EXPECT_EQ(request->bitmap, (std::vector<uint32_t>{0x80000001, 0x5, 0x1}));
    for (size_t fragment : {0, 31, 32, 34, 64})
        EXPECT_TRUE(request->selects(fragment)) << fragment;
    for (size_t fragment : {1, 30, 33, 65, 95, 96, 255, 100000})
        EXPECT_FALSE(request->selects(fragment)) << fragment;

    Bytes header = golden("UdpResendFragmentsPayload");
    header.resize(12);
    EXPECT_TRUE(UdpResendFragmentsPayload::decode(header)->bitmap.empty());
    EXPECT_FALSE(UdpResendFragmentsPayload::decode(Bytes(header.begin(), header.end() - 1)));

    // A huge bitmap keeps only the words a 255-fragment message can use.
    Bytes huge = header;
    huge.resize(12 + 100000, 0xFF);
    const auto capped = UdpResendFragmentsPayload::decode(huge);
    EXPECT_EQ(capped->bitmap.size(), UdpResendFragmentsPayload::kMaxBitmapWords);
    EXPECT_TRUE(capped->selects(255));
    EXPECT_FALSE(capped->selects(256));
}

TEST(Records, KeyExchangeOffer)
{
    const auto offer = KeyExchangeOffer::decode(golden("KeyExchangeOffer"));
    EXPECT_TRUE(offer.encrypted());
    EXPECT_EQ(offer.publicKey, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

    const auto none = KeyExchangeOffer::decode(golden("KeyExchangeOfferNone"));
    EXPECT_FALSE(none.encrypted());
    EXPECT_TRUE(none.publicKey.empty());

    // The status is an integer payload like any other; too short to carry a key.
    const auto stub = KeyExchangeOffer::decode(Bytes{0x00, 0x05});
    EXPECT_EQ(stub.status, 0x00050000);
    EXPECT_TRUE(stub.publicKey.empty());
    EXPECT_FALSE(KeyExchangeOffer::decode(Bytes{}).encrypted());
}

TEST(Records, AnswersCarryTheRequestsValues)
{
    const NetworkEchoPayload request{.id = 9, .timeA = 100, .timeB = 200};
    EXPECT_TRUE(request.isRequest());
    const auto answer = request.answer();
    EXPECT_EQ(answer.id, 0u);
    EXPECT_EQ(answer.echo, 9u);
    EXPECT_EQ(answer.timeA, 100u);
    EXPECT_EQ(answer.timeB, 200u);
}
