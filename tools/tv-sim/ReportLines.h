#pragma once

#include "tv-sim/ReceivedMessage.h"
#include "tv-sim/TvSim.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The report lines of the tv-sim command, one per event, as its usage text describes them.
class ReportLines {
public:
    static std::string recvLine(const ReceivedMessage& message);
    static std::string decodedLine(const TvSim::DecodedFrame& frame);
    // The pictures decoded, the units that gave none, and the nearest-rank median and 95th percentile
    // of the latencies when there are any.
    static std::string summaryLine(const std::vector<TvSim::DecodedFrame>& frames, size_t errors);
    static std::string fetchedLine(const TvSim::FetchedFile& file);
    // "addr:port", IPv6 addresses in brackets.
    static std::string endpoint(const std::string& address, uint16_t port);
};
