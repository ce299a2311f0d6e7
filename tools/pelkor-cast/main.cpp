// pelkor-cast: the session controller on the command line. It connects to a TV as the main window
// would, casts the screen (the X screen of $DISPLAY, or in a Wayland session the desktop's, through
// its portal or screen copy) with the sound of the loopback device where a sound server runs, and
// prints every page change, toast and alert, then what it sent.
//
//   pelkor-cast --tv ADDRESS[:PORT] | --code CODE [--seconds N] [--quality 0-3] [--fps N] [--no-sound]
//               [--window | --extended]
//
//   --tv ADDRESS[:PORT]  the TV's IPv4 address, as picked from the TV list (port 6666 by default)
//   --code CODE          the TV's 6-character casting code, as typed in the address field
//   --seconds N          stop after N seconds of casting (default: until SIGINT or SIGTERM)
//   --quality 0-3        the cast's size: 0 the TV's choice, 1 1080p, 2 720p, 3 1440p
//   --fps N              frames per second (1-240) in place of the TV's answer, for benchmarks
//   --no-sound           cast video alone
//   --window             cast one window: the first the window page lists (on Wayland, the desktop
//                        asks which in its own dialog)
//   --extended           cast the extended screen, made for the run beside the main display
//
// Exit status 0 after a cast that stopped by time or signal; 1 when no cast could be made (at once when
// the address is no address, the TV refuses the connection or no TV answers the code); 2 for wrong
// arguments.
#include "CastRun.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

void usage()
{
    std::fprintf(stderr, "usage: pelkor-cast --tv ADDRESS[:PORT] | --code CODE [--seconds N] [--quality 0-3] "
                         "[--fps N] [--no-sound] [--window | --extended]\n");
}

std::optional<long> number(const char* text, long min, long max)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < min || value > max)
        return std::nullopt;
    return value;
}

// ADDRESS or ADDRESS:PORT.
bool parseTv(const std::string& text, CastRun::Options& options)
{
    const size_t colon = text.find(':');
    options.address = text.substr(0, colon);
    if (options.address.empty())
        return false;
    if (colon == std::string::npos)
        return true;
    const auto port = number(text.c_str() + colon + 1, 1, 65'535);
    if (!port)
        return false;
    options.port = static_cast<uint16_t>(*port);
    return true;
}

std::optional<CastRun::Options> parse(int argc, char** argv)
{
    CastRun::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        const bool hasValue = i + 1 < argc;
        if (flag == "--tv" && hasValue) {
            if (!parseTv(argv[++i], options))
                return std::nullopt;
        } else if (flag == "--code" && hasValue) {
            options.code = argv[++i];
        } else if (flag == "--seconds" && hasValue) {
            const auto seconds = number(argv[++i], 1, 24 * 3600);
            if (!seconds)
                return std::nullopt;
            options.seconds = static_cast<int>(*seconds);
        } else if (flag == "--quality" && hasValue) {
            const auto quality = number(argv[++i], 0, 3);
            if (!quality)
                return std::nullopt;
            options.quality = static_cast<int32_t>(*quality);
        } else if (flag == "--fps" && hasValue) {
            const auto fps = number(argv[++i], 1, 240);
            if (!fps)
                return std::nullopt;
            options.fps = static_cast<int32_t>(*fps);
        } else if (flag == "--no-sound") {
            options.sound = false;
        } else if (flag == "--window") {
            options.window = true;
        } else if (flag == "--extended") {
            options.extended = true;
        } else {
            return std::nullopt;
        }
    }
    if (options.address.empty() == options.code.empty() || (options.window && options.extended))
        return std::nullopt;
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    const auto options = parse(argc, argv);
    if (!options) {
        usage();
        return 2;
    }
    return CastRun::main(*options);
}
