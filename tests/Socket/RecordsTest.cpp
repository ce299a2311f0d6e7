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
// bytes, alone and followed by junk, decode to the expected fields (compared by their encoding).
// Each cut is its own allocation, so a read past its end trips ASan.
template <class Record>
void expectDecodes(const Bytes& bytes, const Record& expected, size_t minimum = SIZE_MAX)
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
        EXPECT_EQ(record->encode(), expected.encode());
    }
}

std::string repeated(const char* text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

} // namespace

TEST(Records, EncodeMatchesReferenceBytes)
{
    const std::pair<const char*, Bytes> cases[] = {
        {"Int32Payload", Int32Payload{-123456789}.encode()},
        {"Int32PayloadLittleEndian", Int32Payload{-123456789}.encodeLittleEndian()},
        {"HeartbeatRequest", HeartbeatPayload{2, 0, 0}.encode()},
        {"HeartbeatAnswer", HeartbeatPayload{0x01020304, 0, 7}.answer(1).encode()},
        {"NetworkEchoPayload", NetworkEchoPayload{0x11223344, 0x55667788, 1700000000123456, 0x0102030405060708}.encode()},
        {"ClientInfoRecord", ClientInfoRecord{.osVersion = "13.4.1", .deviceName = "Living-room Mac"}.encode()},
        {"ClientInfoRecordLongName", ClientInfoRecord{.osVersion = "10.15.7", .deviceName = repeated("\xC3\xA9", 40)}.encode()},
        {"CastVideoFormatPayload", CastVideoFormatPayload{1920, 1080, 2}.encode()},
        {"TouchPayloadOut", TouchPayload{.x = 1234, .y = -5}.encode()},
        {"ScrollPayload", ScrollPayload{-3, 12}.encode()},
        {"KeyEventPayload", KeyEventPayload{0x28}.encode()},
        {"ViewSizePayload", ViewSizePayload{1512, 982}.encode()},
        {"ClientControlPayload", ClientControlPayload{0x0102030405060708, 1}.encode()},
        {"ClientRemovePayload", ClientRemovePayload{1700000000123}.encode()},
        // The TV's side, as the simulator writes it.
        {"ServerInfoRecordOut", ServerInfoRecord{"Salle \xC3\xA0 manger"}.encode()},
        {"VideoQualityPayloadOut", VideoQualityPayload{1280, 720, 3, 30}.encode()},
        {"TouchPayloadIn", TouchPayload{.x = 1234, .y = -5, .third = 0, .fourth = 1}.encodeLittleEndian()},
        {"TvScreenResolutionPayload", TvScreenResolutionPayload{1920, 1080}.encode()},
        {"KeyExchangeOffer", KeyExchangeOffer{1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}.encode()},
    };
    for (const auto& [name, bytes] : cases)
        EXPECT_EQ(bytes, golden(name)) << name;
    EXPECT_EQ((WrappedSessionKey{{1, 2, 3}}.encode()), (Bytes{1, 2, 3}));
    EXPECT_EQ(WrappedSessionKey::decode(Bytes{4, 5, 6}).wrapped, (Bytes{4, 5, 6}));
}

TEST(Records, NamesAreCutAtACharacterBoundaryAndStayTerminated)
{
    const struct {
        std::string name, kept;
    } cases[] = {
        {std::string(62, 'a') + "\xC3\xA9", std::string(62, 'a')},     // two-byte character across byte 63
        {std::string(61, 'b') + "\xE2\x82\xAC", std::string(61, 'b')}, // three-byte character
        {std::string(60, 'c') + "\xC3\xA9\x41", std::string(60, 'c') + "\xC3\xA9\x41"}, // fits: 63 bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept);
        ClientInfoRecord record;
        record.deviceName = c.name;
        const auto client = record.encode();
        ASSERT_EQ(client.size(), ClientInfoRecord::kSize);
        EXPECT_EQ(client[112 + c.kept.size()], 0);
        EXPECT_EQ(ClientInfoRecord::decode(client)->deviceName, c.kept);
        const auto server = ServerInfoRecord{c.name}.encode();
        ASSERT_EQ(server.size(), ServerInfoRecord::kSize);
        EXPECT_EQ(server.back(), 0);
        EXPECT_EQ(ServerInfoRecord::decode(server)->name, c.kept);
    }
}

TEST(Records, FixedRecordsDecodeReferenceBytesAndRefuseShortPayloads)
{
    expectDecodes(golden("NetworkEchoPayload"),
                  NetworkEchoPayload{0x11223344, 0x55667788, 1700000000123456, 0x0102030405060708});
    expectDecodes(golden("UdpChannelOpenPayload"), UdpChannelOpenPayload{40000, 1400, 0x3});
    expectDecodes(golden("UdpResendRangePayload"), UdpResendRangePayload{0x2003, 5, 7, 2});
    expectDecodes(golden("VideoQualityPayload"), VideoQualityPayload{1280, 720, 3, 30});
    expectDecodes(golden("CastVideoFormatPayload"), CastVideoFormatPayload{1920, 1080, 2});
    expectDecodes(golden("TvScreenResolutionPayload"), TvScreenResolutionPayload{1920, 1080});
    // Received touches are little-endian, unlike the ones we send.
    expectDecodes(golden("TouchPayloadIn"), TouchPayload{.x = 1234, .y = -5, .third = 0, .fourth = 1});
}

TEST(Records, TextRecordsNeedTheirTextsOffsetAndStopAtTheirEnd)
{
    expectDecodes(golden("ServerInfoRecord"), ServerInfoRecord{"Salle \xC3\xA0 manger"}, 40);
    Bytes server = golden("ServerInfoRecord");
    server.resize(40);
    EXPECT_EQ(ServerInfoRecord::decode(server)->name, "");
    // No NUL: the name ends with the payload, and a character cut by that end is left out.
    server.insert(server.end(), {'T', 'V', 0xC3});
    EXPECT_EQ(ServerInfoRecord::decode(server)->name, "TV");

    expectDecodes(golden("ClientInfoRecord"), ClientInfoRecord{.osVersion = "13.4.1", .deviceName = "Living-room Mac"},
                  112);
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
    EXPECT_EQ(beat.encode(), golden("HeartbeatAnswer"));
    const auto shortBeat = HeartbeatPayload::decode(Bytes{16, 0, 0, 0, 9, 1});
    EXPECT_EQ(shortBeat.sequence, 0x0109u);
    EXPECT_TRUE(shortBeat.isRequest());

    // A capability flag is the last byte of a whole integer; absent means on, a part integer off.
    const std::pair<Bytes, int> flags[] = {{golden("CapabilityFlagPayload"), 0x2A}, {{}, 1}, {{1}, 0}, {{1, 1, 1}, 0},
                                           {{0, 0, 0, 0}, 0}, {{0, 0, 0, 9, 7}, 9}};
    for (const auto& [bytes, flag] : flags)
        EXPECT_EQ(CapabilityFlagPayload::decode(bytes).flag, flag) << bytes.size();

    // The key offer's status is an integer payload like any other; too short to carry a key.
    const auto offer = KeyExchangeOffer::decode(golden("KeyExchangeOffer"));
    EXPECT_TRUE(offer.encrypted());
    EXPECT_EQ(offer.publicKey, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_FALSE(KeyExchangeOffer::decode(golden("KeyExchangeOfferNone")).encrypted());
    const auto stub = KeyExchangeOffer::decode(Bytes{0x00, 0x05});
    EXPECT_EQ(stub.status, 0x00050000);
    EXPECT_TRUE(stub.publicKey.empty());
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
