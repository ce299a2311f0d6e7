// pelkor-wire: prints every message of a captured TV-link TCP byte stream, decoded.
//   pelkor-wire FILE      decode FILE ("-" for standard input)
//   pelkor-wire --sample  write a sample stream to standard output
//   pelkor-wire           decode the built-in sample stream
#include "Socket/ClientInfoRecord.h"
#include "Socket/FrameReassembler.h"
#include "Socket/FrameStreamSplitter.h"
#include "Socket/HeartbeatPayload.h"
#include "Socket/Int32Payload.h"
#include "Socket/MessageCatalogue.h"
#include "Socket/MessageFragmenter.h"
#include "Socket/MessageType.h"
#include "Socket/NetworkEchoPayload.h"
#include "Socket/ServerInfoRecord.h"
#include "Socket/TvScreenResolutionPayload.h"
#include "Socket/VideoQualityPayload.h"
#include "Utils/ByteReader.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string hexPrefix(std::span<const uint8_t> bytes, size_t count = 16)
{
    std::string out;
    char digits[4];
    for (size_t i = 0; i < bytes.size() && i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02x ", bytes[i]);
        out += digits;
    }
    if (bytes.size() > count)
        out += "...";
    return out;
}

// A one-line reading of the payload for the records a capture most often holds.
std::string describe(uint16_t type, std::span<const uint8_t> payload)
{
    char line[512];
    switch (type) {
    case kMsgHeartbeat: {
        const auto beat = HeartbeatPayload::decode(payload);
        std::snprintf(line, sizeof line, "sequence %u echo %u status %u", beat.sequence, beat.echo, beat.status);
        return line;
    }
    case kMsgNetworkEcho:
        if (const auto echo = NetworkEchoPayload::decode(payload)) {
            std::snprintf(line, sizeof line, "id %u echo %u", echo->id, echo->echo);
            return line;
        }
        break;
    case kMsgClientInfo:
        if (const auto info = ClientInfoRecord::decode(payload)) {
            std::snprintf(line, sizeof line, "os \"%s %s\" device \"%s\"", info->osName.c_str(),
                          info->osVersion.c_str(), info->deviceName.c_str());
            return line;
        }
        break;
    case kMsgServerInfo:
        if (const auto info = ServerInfoRecord::decode(payload))
            return "TV \"" + info->name + "\"";
        break;
    case kMsgVideoQuality:
        if (const auto quality = VideoQualityPayload::decode(payload)) {
            std::snprintf(line, sizeof line, "%dx%d level %d %d fps", quality->width, quality->height,
                          quality->level, quality->fps);
            return line;
        }
        break;
    case kMsgTvScreenResolution:
        if (const auto size = TvScreenResolutionPayload::decode(payload)) {
            std::snprintf(line, sizeof line, "%dx%d", size->width, size->height);
            return line;
        }
        break;
    case kMsgScreenCode:
    case kMsgPeerIdentity:
        return "\"" + ByteReader(payload).text() + "\"";
    case kMsgTvVersion:
    case kMsgSpeakerStatus:
    case kMsgActiveVersion:
    case kMsgOutputVolume:
        if (payload.size() >= 4)
            return "value " + std::to_string(Int32Payload::decode(payload).value);
        break;
    default:
        break;
    }
    return hexPrefix(payload);
}

std::vector<uint8_t> sampleStream()
{
    std::vector<uint8_t> stream;
    MessageFragmenter fragmenter;
    const auto append = [&stream](std::span<const uint8_t> fragment) {
        stream.insert(stream.end(), fragment.begin(), fragment.end());
        return true;
    };
    uint32_t sequence = 0;
    const uint64_t stamp = 1'733'600'000'000'000;
    const auto send = [&](uint16_t type, const std::vector<uint8_t>& payload) {
        fragmenter.send(sequence, type, stamp + sequence * 1000, payload, append);
        ++sequence;
    };
    send(kMsgClientInfo, ClientInfoRecord{"12.0.0", "macOS", "Living room laptop"}.encode());
    send(kMsgHeartbeat, HeartbeatPayload{2, 0, 0}.encode());
    send(kMsgSpeakerStatus, {});
    std::vector<uint8_t> frame(150'000);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 7);
    frame[0] = frame[1] = frame[2] = 0;
    frame[3] = 1;
    send(kMsgVideoFrame, frame);
    send(kMsgAudioFrame, {0xFF, 0xF1, 0x50, 0x80, 0x02, 0x1F, 0xFC, 0x21});
    send(kMsgCastStop, {});
    return stream;
}

bool readAll(int fd, std::vector<uint8_t>& out)
{
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0)
            return true;
        if (got < 0) {
            std::perror("read");
            return false;
        }
        out.insert(out.end(), chunk, chunk + got);
    }
}

int decode(const std::vector<uint8_t>& stream)
{
    size_t messages = 0;
    FrameReassembler reassembler([&messages](const ReassembledMessage& message) {
        ++messages;
        std::printf("#%-5u %-26s 0x%04x %8zu bytes  t=%llu  %s\n", message.sequence(),
                    MessageCatalogue::name(message.type()), message.type(), message.payload().size(),
                    static_cast<unsigned long long>(message.timeStamp()),
                    describe(message.type(), message.payload()).c_str());
    });
    FrameStreamSplitter splitter(reassembler);
    size_t offset = 0;
    while (offset < stream.size()) {
        const auto space = splitter.writableSpace();
        const size_t count = std::min(space.size(), stream.size() - offset);
        std::memcpy(space.data(), stream.data() + offset, count);
        offset += count;
        if (splitter.commit(count) != FrameStreamSplitter::Status::Ok) {
            std::fprintf(stderr, "the stream cannot be framed past byte %zu\n", offset);
            return 1;
        }
    }
    std::printf("%zu messages, %zu bytes, %zu bytes left over\n", messages, stream.size(), splitter.bufferedBytes());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 || (argc == 2 && std::strcmp(argv[1], "--help") == 0)) {
        std::fprintf(stderr, "usage: %s [FILE | - | --sample]\n", argv[0]);
        return 2;
    }
    if (argc == 1)
        return decode(sampleStream());
    if (std::strcmp(argv[1], "--sample") == 0) {
        const auto stream = sampleStream();
        return std::fwrite(stream.data(), 1, stream.size(), stdout) == stream.size() ? 0 : 1;
    }
    std::vector<uint8_t> stream;
    const bool fromStdin = std::strcmp(argv[1], "-") == 0;
    FILE* file = fromStdin ? stdin : std::fopen(argv[1], "rb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = readAll(fileno(file), stream);
    if (!fromStdin)
        std::fclose(file);
    return ok ? decode(stream) : 1;
}
