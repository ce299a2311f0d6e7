#include "tv-sim/ReportLines.h"

#include "Socket/MessageCatalogue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// The value at rank ceil(fraction x n) of the sorted values (n > 0).
int64_t nearestRank(const std::vector<int64_t>& sorted, double fraction)
{
    const auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

} // namespace

std::string ReportLines::recvLine(const ReceivedMessage& message)
{
    const std::string plain = message.plainSha256.empty() ? "" : " plain_sha256=" + message.plainSha256;
    char line[640];
    std::snprintf(line, sizeof line, "recv %s seq=%u type=0x%04x name=%s len=%u sha256=%s%s ts=%llu at=%llu",
                  message.roadName(), message.sequence, message.type, MessageCatalogue::name(message.type),
                  message.length, message.sha256.c_str(), plain.c_str(),
                  static_cast<unsigned long long>(message.timeStamp),
                  static_cast<unsigned long long>(message.arrivalMicros));
    return line;
}

std::string ReportLines::decodedLine(const TvSim::DecodedFrame& frame)
{
    char line[160];
    std::snprintf(line, sizeof line, "decoded n=%llu size=%dx%d latency_us=%lld centre=%06x",
                  static_cast<unsigned long long>(frame.index), frame.width, frame.height,
                  static_cast<long long>(frame.latencyMicros()), frame.centreRgb & 0xffffffu);
    return line;
}

std::string ReportLines::summaryLine(const std::vector<TvSim::DecodedFrame>& frames, size_t errors)
{
    std::string line = "summary decoded=" + std::to_string(frames.size()) + " errors=" + std::to_string(errors);
    if (frames.empty())
        return line;
    std::vector<int64_t> latencies;
    for (const auto& frame : frames)
        latencies.push_back(frame.latencyMicros());
    std::sort(latencies.begin(), latencies.end());
    return line + " latency_median_us=" + std::to_string(nearestRank(latencies, 0.5)) +
           " latency_p95_us=" + std::to_string(nearestRank(latencies, 0.95));
}

std::string ReportLines::fetchedLine(const TvSim::FetchedFile& file)
{
    char line[256];
    std::snprintf(line, sizeof line, "fetched id=%s len=%llu sha256=%s s=%.3f", file.fileId.c_str(),
                  static_cast<unsigned long long>(file.bytes), file.sha256.c_str(), file.seconds);
    return file.error.empty() ? line : std::string(line) + " error=" + file.error;
}

std::string ReportLines::endpoint(const std::string& address, uint16_t port)
{
    const bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}
