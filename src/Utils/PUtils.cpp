#include "Utils/PUtils.h"

#include "Utils/FileManager.h"
#include "Utils/Log.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <openssl/rand.h>

#include <array>
#include <cassert>
#include <climits>
#include <cstdio>
#include <ctime>

namespace {

// Stores the low `width` bytes of value big-endian at dst[offset...], after checking they fit.
bool storeBigEndian(uint64_t value, size_t width, std::span<uint8_t> dst, int32_t offset)
{
    if (offset < 0)
        return false;
    const auto start = static_cast<size_t>(offset);
    if (start > dst.size() || dst.size() - start < width)
        return false;
    for (size_t i = 0; i < width; ++i)
        dst[start + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
    return true;
}

// The octets of a dotted-decimal text: exactly four, each one to three decimal digits worth at
// most 255, with nothing before, between or after them but the three dots.
std::optional<std::array<uint8_t, 4>> dottedOctets(std::string_view text)
{
    std::array<uint8_t, 4> octets{};
    size_t pos = 0;
    for (size_t index = 0; index < octets.size(); ++index) {
        if (index > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return std::nullopt;
            ++pos;
        }
        unsigned value = 0;
        size_t digits = 0;
        while (pos < text.size() && digits < 3 && text[pos] >= '0' && text[pos] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || value > 255)
            return std::nullopt;
        octets[index] = static_cast<uint8_t>(value);
    }
    if (pos != text.size())
        return std::nullopt;
    return octets;
}

// Points standard output at fd. Holding the stream's lock while flushing and switching keeps a log
// line from another thread from being split between the old and the new target.
bool pointStdoutAt(int fd)
{
    flockfile(stdout);
    std::fflush(stdout);
    const bool switched = ::dup2(fd, STDOUT_FILENO) >= 0;
    funlockfile(stdout);
    if (!switched)
        PLOG_ERRNO("dup2 onto standard output");
    return switched;
}

void writeBanner(const char* format)
{
    std::fprintf(stdout, format, PUtils::getCurrentTime().c_str());
    std::fflush(stdout);
}

// Opens the log file, creating its folder and the file when absent; -1 (logged) on failure.
int openLogFile()
{
    const auto file = PUtils::logFilePath();
    if (!file)
        return -1;
    const auto path = FileManager::createFileAtPath(file->parent_path(), file->filename().string());
    if (!path)
        return -1;
    const int fd = ::open(path->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        PLOG_ERRNO("cannot open log file %s", path->c_str());
    return fd;
}

} // namespace

std::optional<nlohmann::json> PUtils::convertJsonString2Dict(std::string_view text)
{
    nlohmann::json value = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded())
        return std::nullopt;
    return value;
}

std::optional<std::string> PUtils::convertDict2JsonString(const nlohmann::json& value)
{
    try {
        return value.dump(2);
    } catch (const nlohmann::json::type_error&) {
        return std::nullopt;
    }
}

bool PUtils::intToBytes(int32_t value, std::span<uint8_t> dst, int32_t offset)
{
    return storeBigEndian(static_cast<uint32_t>(value), sizeof value, dst, offset);
}

bool PUtils::longToBytes(int64_t value, std::span<uint8_t> dst, int32_t offset)
{
    return storeBigEndian(static_cast<uint64_t>(value), sizeof value, dst, offset);
}

std::string PUtils::getCurrentTime()
{
    return getCurrentTime(std::chrono::system_clock::now());
}

std::string PUtils::getCurrentTime(std::chrono::system_clock::time_point when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        return {};
    char text[64];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(text, length);
}

std::optional<std::vector<uint8_t>> PUtils::genRandomWithByteLen(size_t length)
{
    if (length > static_cast<size_t>(INT_MAX))
        return std::nullopt;
    std::vector<uint8_t> bytes(length);
    if (RAND_bytes(bytes.data(), static_cast<int>(length)) != 1)
        return std::nullopt;
    return bytes;
}

std::optional<std::string> PUtils::getIPAddress()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        PLOG_ERRNO("getifaddrs");
        return std::nullopt;
    }
    const ifaddrs* first = nullptr;
    const ifaddrs* firstUsable = nullptr;
    for (const ifaddrs* entry = list; entry && !firstUsable; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        if (!first)
            first = entry;
        if ((entry->ifa_flags & IFF_UP) && !(entry->ifa_flags & IFF_LOOPBACK))
            firstUsable = entry;
    }
    const ifaddrs* chosen = firstUsable ? firstUsable : first;
    std::optional<std::string> address;
    if (chosen) {
        char text[INET_ADDRSTRLEN];
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(chosen->ifa_addr);
        if (::inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text))
            address = text;
    }
    ::freeifaddrs(list);
    return address;
}

std::optional<std::filesystem::path> PUtils::logFilePath()
{
    const auto folder = FileManager::stateFolder();
    if (!folder)
        return std::nullopt;
    return *folder / "pelkor.log";
}

void PUtils::logRedirect(bool on)
{
    // Switches are kept in order by running on one thread, the process's first (the main loop's):
    // two at once could mix their banners and leave standard output on either file.
    assert(::gettid() == ::getpid() && "logRedirect runs on the main thread");
    if (on) {
        // The file is opened before standard output is touched, so a failure leaves the log where it was.
        const int fd = openLogFile();
        if (fd < 0)
            return;
        const bool switched = pointStdoutAt(fd);
        ::close(fd);
        if (switched)
            writeBanner("================log open time %s================\n");
        return;
    }
    writeBanner("================log close time %s================\n\n\n");
    // fd 1 stays open on /dev/null: closing it would let the next socket or file take descriptor 1
    // and receive every later log line.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) {
        PLOG_ERRNO("cannot open /dev/null");
        return;
    }
    pointStdoutAt(null);
    ::close(null);
}

bool PUtils::isValidIPAddress(std::string_view text)
{
    return dottedOctets(text).has_value();
}

std::optional<in_addr> PUtils::parseIPv4(std::string_view text)
{
    const auto octets = dottedOctets(text);
    if (!octets)
        return std::nullopt;
    uint32_t host = 0;
    for (const uint8_t octet : *octets)
        host = (host << 8) | octet;
    in_addr address{};
    address.s_addr = htonl(host);
    return address;
}
