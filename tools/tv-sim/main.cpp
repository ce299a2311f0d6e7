// tv-sim: the TV end of the link as a command, for scripts and manual runs. It listens, takes one
// link at a time, beats and answers heartbeats and echo requests, greets each client (server
// information, casting code, optionally a key exchange offer), optionally answers each cast with a
// quality level, and reports what it receives until SIGINT or SIGTERM.
//
//   tv-sim [--listen ADDR:PORT] [--no-heartbeat] [--udp MASK:F] [--report FILE]
//          [--name NAME] [--code CODE] [--encrypt] [--discovery PORT] [--decode] [--quality LEVEL]
//          [--quality-change] [--offer FILE]... [--screen WxH] [--screen-fps N] [--refuse-view REASON]
//          [--invite-view] [--screen-still] [--screen-dump DIR] [--relay] [--camera-feed B:R:S]
//          [--mic-feed B:R:S] [--camera-error VALUE] [--mic-error VALUE]
//
//   --listen ADDR:PORT  numeric address and port (IPv6 as [::1]:6666); default 127.0.0.1:0, the kernel
//                       picks the port and the "listen" line tells it
//   --no-heartbeat      a silent peer: sends no heartbeat requests (it still answers the client's)
//   --udp MASK:F        on each link, open the UDP side channel with route mask MASK (0x1 video,
//                       0x2 audio, 0x4 other; decimal or 0x hex) and fragment size F bytes
//   --report FILE       write the report to FILE instead of standard output
//   --name NAME         the TV's display name (server information, discovery); default "tv-sim"
//   --code CODE         the casting code sent after the server information; default none
//   --encrypt           offer a key exchange after the casting code; received video frames are then
//                       decrypted with the agreed key
//   --discovery PORT    answer discovery requests on this UDP port of the listen address (0: the
//                       kernel picks; the "discovery" line tells it)
//   --decode            decode received video frames as H.264 (after decryption) and report each
//                       picture
//   --quality LEVEL     answer the first kMsgCastVideoFormat of each cast (the first on a link, or
//                       the first after a kMsgCastStop) with kMsgVideoQuality at this level (an
//                       integer): 1 1280x720 at 10 fps, 2 and 3 1600x900 at 10, 4 1600x900 at 15,
//                       any other 1920x1080 at 30. Without it the TV never answers a cast
//   --quality-change    tell each client after the greeting that quality changes are taken
//   --offer FILE        offer this file (repeatable: one offer of them all) to each client once its
//                       link is up, served by a file service of the TV's own on the listen address
//   --screen WxH        the TV's screen that a viewing client gets (kMsgTvScreenStart is answered
//                       with kMsgTvScreenResolution, then a moving test pattern streams as H.264 until
//                       kMsgTvScreenStop or the link's end); even sides of 16 to 4096, default 1280x720
//                       (repeatable: each start of viewing after a stop takes the next screen, in turn)
//   --screen-fps N      its frame rate, 1 to 120; default 30
//   --screen-still      the pattern stands still: every frame is frame 0
//   --screen-dump DIR   write frame 0 of each screen as DIR/screen-<w>x<h>.ppm before listening, to
//                       compare a viewer's picture with
//   --refuse-view REASON  answer each start of viewing with kMsgTvScreenFail and this reason instead
//   --invite-view       invite each client after the greeting to view the screen (kMsgReverseInvite)
//   --relay             enable the camera and microphone relay on each link (kMsgRoziEnable on); each
//                       of the four options below implies it
//   --camera-feed B:R:S answer the client's kMsgCameraOpen with kMsgCameraData of B bytes each, R
//                       messages a second, for S seconds (once per run; see TvRelayFeed)
//   --mic-feed B:R:S    the same for kMsgMicOpen with kMsgMicData
//   --camera-error VALUE  answer each kMsgCameraOpen with kMsgCameraError and this value instead
//   --mic-error VALUE   answer each kMsgMicOpen with kMsgMicError and this value instead
//
// Files the client pushes (kMsgFilePush) are fetched from its shared-folder server, opened with the
// session key, and acknowledged.
//
// Report lines, one per event, fields separated by single spaces:
//   listen <addr>:<port>
//   discovery <addr>:<port>
//   link up <addr>:<port>                    (IPv6 peers as [addr]:port)
//   link down
//   udp open port=<port> mask=0x<hex> fragment=<F>
//   udp failed
//   key agreed|declined|failed               (the client's answer to a key exchange offer)
//   recv <tcp|udp> seq=<n> type=0x<4 hex digits> name=<kMsg name or unknown> len=<payload bytes>
//        sha256=<64 hex digits of the payload> [plain_sha256=<64 hex digits>]
//        ts=<header time stamp, us> at=<arrival, us>
// (the recv line is one line; ts and at are microseconds since the Unix epoch, so at - ts is the
// latency when both ends share a clock). seq is the TCP message counter or the UDP message id.
// plain_sha256, the digest of the decrypted frame, appears on video frames while a key is agreed.
//   offer <base URL> files=<n>               (the offer sent on a link, with --offer)
//   fetched id=<fileId> len=<bytes> sha256=<64 hex digits> s=<seconds> [error=<text>]
// (one line per pushed file; len and sha256 are those of the file opened with the session key.)
//   decoded n=<i> size=<w>x<h> latency_us=<d> centre=<rrggbb>
// (with --decode, one line per decoded picture: i counts the received video frames from 0, so a
// frame that did not decode leaves a gap; d is the decode-complete time minus the frame's header
// time stamp, in microseconds; rrggbb the colour of the picture's centre pixel, in hex.)
//   summary decoded=<n> errors=<e> [latency_median_us=<m> latency_p95_us=<p>]
//   view start size=<w>x<h> fps=<f>         (a client started viewing; the stream begins)
//   view refused reason=<n>
//   view size=<w>x<h>                        (the client's kMsgViewSize)
//   view stop frames=<n> by=<client|tv|link|restart> (the stream ended after n frames)
//   input <kind> <fields>                    (the client's input, decoded: touch_down|touch_move|
//        touch_up|annotation_down|annotation_move|annotation_up x=<x> y=<y>; scroll dx=<dx> dy=<dy>;
//        key_down|key_up usage=0x<hex>; key_code code=0x<hex> (0xf704 is Home); annotation_mode
//        on=<0|1>; annotation_undo; annotation_clear)
//   relay <camera|mic> sent messages=<n> bytes=<b> sha256=<64 hex digits>
// (a relay feed has ended: what it sent, back to back)
// (with --decode, the last line, on SIGINT or SIGTERM: the pictures decoded, the units that gave
// none, and the nearest-rank median and 95th percentile of their latencies when there are any.)
// Diagnostic log lines also go to standard output, in the log's form (time, level, "PTC[...]: "); they
// are no part of the report.
#include "Socket/MessageCatalogue.h"
#include "Socket/MessageType.h"
#include "tv-sim/ReportLines.h"
#include "tv-sim/TvFileServer.h"
#include "tv-sim/TestPattern.h"
#include "tv-sim/TvRelayFeed.h"
#include "tv-sim/TvSim.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

struct Arguments {
    TvSim::Options options;
    std::optional<std::pair<uint32_t, uint32_t>> udp;
    std::string reportPath;
    std::vector<std::string> offers;
    // The TV's screens, the first at the start; each view after a stop takes the next.
    std::vector<ScreenStreamer::Screen> screens;
    std::string screenDump;
    std::optional<TvRelayFeed::Options> relay;
};

void usage()
{
    std::fprintf(stderr, "usage: tv-sim [--listen ADDR:PORT] [--no-heartbeat] [--udp MASK:F] [--report FILE]\n"
                         "              [--name NAME] [--code CODE] [--encrypt] [--discovery PORT] [--decode]\n"
                         "              [--quality LEVEL] [--quality-change] [--offer FILE]... [--screen WxH]\n"
                         "              [--screen-fps N] [--refuse-view REASON] [--invite-view] [--screen-still]\n"
                         "              [--screen-dump DIR] [--relay] [--camera-feed B:R:S] [--mic-feed B:R:S]\n"
                         "              [--camera-error VALUE] [--mic-error VALUE]\n");
}

// A whole unsigned number of at most max, decimal or 0x hex.
std::optional<uint32_t> number(const std::string& text, unsigned long max)
{
    if (text.empty() || text[0] == '-')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > max)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

// A whole signed 32-bit number, decimal.
std::optional<int32_t> signedNumber(const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

// "WxH" with both sides whole positive numbers.
std::optional<std::pair<int, int>> parseSize(const std::string& text)
{
    const size_t x = text.find('x');
    if (x == std::string::npos)
        return std::nullopt;
    const auto width = number(text.substr(0, x), 65'535);
    const auto height = number(text.substr(x + 1), 65'535);
    if (!width || !height)
        return std::nullopt;
    return std::pair{static_cast<int>(*width), static_cast<int>(*height)};
}

// "B:R:S": message bytes (1 to 16 MiB), messages a second and seconds (whole numbers from 1).
std::optional<TvRelayFeed::Stream> parseFeed(const std::string& text)
{
    const size_t first = text.find(':');
    const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    if (second == std::string::npos)
        return std::nullopt;
    const auto bytes = number(text.substr(0, first), 16u << 20);
    const auto rate = number(text.substr(first + 1, second - first - 1), 100'000);
    const auto seconds = number(text.substr(second + 1), 86'400);
    if (!bytes || !rate || !seconds || *bytes == 0 || *rate == 0 || *seconds == 0)
        return std::nullopt;
    return TvRelayFeed::Stream{.messageBytes = *bytes,
                               .messagesPerSecond = static_cast<double>(*rate),
                               .duration = std::chrono::seconds(*seconds)};
}

bool parseListen(const std::string& text, TvSim::Options& options)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const auto port = number(text.substr(colon + 1), 65'535);
    if (host.empty() || !port)
        return false;
    options.address = host;
    options.port = static_cast<uint16_t>(*port);
    return true;
}

std::optional<Arguments> parse(int argc, char** argv)
{
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        const bool hasValue = i + 1 < argc;
        if (flag == "--no-heartbeat") {
            arguments.options.heartbeatInterval = TvSim::Timeout(0);
        } else if (flag == "--listen" && hasValue) {
            if (!parseListen(argv[++i], arguments.options))
                return std::nullopt;
        } else if (flag == "--udp" && hasValue) {
            const std::string value = argv[++i];
            const size_t colon = value.find(':');
            if (colon == std::string::npos)
                return std::nullopt;
            const auto mask = number(value.substr(0, colon), 0xFFFFFFFF);
            const auto size = number(value.substr(colon + 1), TransportFrameHeader::kMaxFragmentLength);
            if (!mask || !size || *size == 0)
                return std::nullopt;
            arguments.udp = {*mask, *size};
        } else if (flag == "--report" && hasValue) {
            arguments.reportPath = argv[++i];
        } else if (flag == "--name" && hasValue) {
            arguments.options.name = argv[++i];
        } else if (flag == "--code" && hasValue) {
            arguments.options.castingCode = argv[++i];
        } else if (flag == "--encrypt") {
            arguments.options.encryption = true;
        } else if (flag == "--offer" && hasValue) {
            arguments.offers.push_back(argv[++i]);
        } else if (flag == "--quality-change") {
            arguments.options.qualityChange = true;
        } else if (flag == "--decode") {
            arguments.options.decodeVideo = true;
        } else if (flag == "--quality" && hasValue) {
            arguments.options.qualityLevel = signedNumber(argv[++i]);
            if (!arguments.options.qualityLevel)
                return std::nullopt;
        } else if (flag == "--screen" && hasValue) {
            const auto size = parseSize(argv[++i]);
            if (!size)
                return std::nullopt;
            arguments.screens.push_back({.width = size->first, .height = size->second});
        } else if (flag == "--screen-fps" && hasValue) {
            const auto fps = number(argv[++i], 1'000);
            if (!fps)
                return std::nullopt;
            arguments.options.screen.fps = static_cast<int>(*fps);
        } else if (flag == "--refuse-view" && hasValue) {
            arguments.options.viewRefusal = signedNumber(argv[++i]);
            if (!arguments.options.viewRefusal)
                return std::nullopt;
        } else if (flag == "--invite-view") {
            arguments.options.inviteToView = true;
        } else if (flag == "--screen-still") {
            arguments.options.screen.still = true;
        } else if (flag == "--screen-dump" && hasValue) {
            arguments.screenDump = argv[++i];
        } else if (flag == "--relay") {
            arguments.relay.emplace(arguments.relay.value_or(TvRelayFeed::Options{}));
        } else if ((flag == "--camera-feed" || flag == "--mic-feed") && hasValue) {
            auto& relay = arguments.relay.emplace(arguments.relay.value_or(TvRelayFeed::Options{}));
            (flag == "--camera-feed" ? relay.camera : relay.mic).stream = parseFeed(argv[++i]);
            if (!(flag == "--camera-feed" ? relay.camera : relay.mic).stream)
                return std::nullopt;
        } else if ((flag == "--camera-error" || flag == "--mic-error") && hasValue) {
            auto& relay = arguments.relay.emplace(arguments.relay.value_or(TvRelayFeed::Options{}));
            auto& error = (flag == "--camera-error" ? relay.camera : relay.mic).error;
            error = signedNumber(argv[++i]);
            if (!error)
                return std::nullopt;
        } else if (flag == "--discovery" && hasValue) {
            const auto port = number(argv[++i], 65'535);
            if (!port)
                return std::nullopt;
            arguments.options.discoveryPort = static_cast<uint16_t>(*port);
        } else {
            return std::nullopt;
        }
    }
    if (arguments.screens.empty())
        arguments.screens.push_back(arguments.options.screen);
    for (auto& screen : arguments.screens) {
        screen.fps = arguments.options.screen.fps;
        screen.still = arguments.options.screen.still;
        if (!ScreenStreamer::valid(screen))
            return std::nullopt;
    }
    arguments.options.screen = arguments.screens.front();
    // Reports are stable text: keep the payloads out of memory.
    arguments.options.keepPayloads = false;
    return arguments;
}

// Writes whole lines from any thread.
class Report {
public:
    explicit Report(FILE* out) : out_(out) {}

    void line(const std::string& text)
    {
        std::lock_guard lock(mutex_);
        std::fprintf(out_, "%s\n", text.c_str());
        std::fflush(out_);
    }

private:
    std::mutex mutex_;
    FILE* out_;
};

// Frame 0 of each screen as DIR/screen-<w>x<h>.ppm; false (said on standard error) when one cannot be written.
bool dumpScreens(const std::vector<ScreenStreamer::Screen>& screens, const std::filesystem::path& folder)
{
    BgraFrame frame;
    for (const auto& screen : screens) {
        TestPattern::draw(TestPattern::kStillFrame, screen.width, screen.height, frame);
        const auto path = folder / ("screen-" + std::to_string(screen.width) + "x" + std::to_string(screen.height) + ".ppm");
        if (!TestPattern::writePpm(frame, path)) {
            std::fprintf(stderr, "tv-sim: cannot write %s\n", path.c_str());
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const auto arguments = parse(argc, argv);
    if (!arguments) {
        usage();
        return 2;
    }
    FILE* out = stdout;
    if (!arguments->reportPath.empty() && !(out = std::fopen(arguments->reportPath.c_str(), "w"))) {
        std::fprintf(stderr, "tv-sim: cannot write %s: %s\n", arguments->reportPath.c_str(), std::strerror(errno));
        return 1;
    }
    Report report(out);

    // Every thread inherits this mask, so the signals reach only the sigwait below.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TvFileServer files;
    std::vector<std::pair<std::string, std::string>> offered;
    std::vector<uint64_t> offeredSizes;
    for (const auto& path : arguments->offers) {
        const std::string id = std::to_string(offered.size() + 1);
        files.addFile(id, path);
        offered.emplace_back(id, std::filesystem::path(path).filename().string());
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(path, error);
        if (error) {
            std::fprintf(stderr, "tv-sim: cannot read the offered file %s\n", path.c_str());
            return 2;
        }
        offeredSizes.push_back(size);
    }
    if (!offered.empty() && !files.start(arguments->options.address)) {
        std::fprintf(stderr, "tv-sim: cannot serve the offered files\n");
        return 1;
    }

    if (!arguments->screenDump.empty() && !dumpScreens(arguments->screens, arguments->screenDump))
        return 1;

    TvSim sim(arguments->options);
    std::optional<TvRelayFeed> relay;
    if (arguments->relay)
        relay.emplace(sim, *arguments->relay, [&](const std::string& line) { report.line(line); });
    sim.setFetchObserver([&](const TvSim::FetchedFile& file) { report.line(ReportLines::fetchedLine(file)); });
    sim.setMessageObserver([&](const ReceivedMessage& message) {
        report.line(ReportLines::recvLine(message));
        if (relay)
            relay->onMessage(message);
    });
    sim.setKeyExchangeObserver([&](TvSim::KeyExchangeOutcome outcome) {
        report.line(std::string("key ") + TvKeyExchange::name(outcome));
    });
    size_t screenShown = 0;
    sim.view().setObserver([&](const std::string& line) {
        report.line(line);
        // Called on the thread that ended the stream, one at a time.
        if (line.starts_with("view stop ") && arguments->screens.size() > 1)
            sim.view().setScreen(arguments->screens[++screenShown % arguments->screens.size()]);
    });
    sim.setDecodeObserver([&](const TvSim::DecodedFrame& frame) { report.line(ReportLines::decodedLine(frame)); });
    sim.setLinkObserver([&](bool up, const std::string& peer) {
        report.line(up ? "link up " + peer : "link down");
        if (up && relay)
            relay->onLinkUp();
        if (up && !offered.empty() && sim.send(kMsgFileShareOffer, TvMessages::text(TvFileServer::offerJSON(files.baseURL(), offered, offeredSizes))))
            report.line("offer " + files.baseURL() + " files=" + std::to_string(offered.size()));
        if (!up || !arguments->udp)
            return;
        const auto [mask, size] = *arguments->udp;
        if (!sim.openUdpChannel(mask, size)) {
            report.line("udp failed");
            return;
        }
        char line[128];
        std::snprintf(line, sizeof line, "udp open port=%u mask=0x%x fragment=%u", sim.udp().port(), mask, size);
        report.line(line);
    });
    if (!sim.start()) {
        std::fprintf(stderr, "tv-sim: cannot listen on %s:%u\n", arguments->options.address.c_str(),
                     arguments->options.port);
        return 1;
    }
    report.line("listen " + ReportLines::endpoint(sim.address(), sim.port()));
    if (sim.discoveryPort() != 0)
        report.line("discovery " + ReportLines::endpoint(sim.address(), sim.discoveryPort()));

    int signal = 0;
    sigwait(&stopSignals, &signal);
    if (relay)
        relay->stop();
    sim.stop();
    if (arguments->options.decodeVideo)
        report.line(ReportLines::summaryLine(sim.decoder().frames(), sim.decoder().errors()));
    if (out != stdout)
        std::fclose(out);
    return 0;
}
