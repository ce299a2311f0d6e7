#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// One message the TV peer received, as it records it.
struct ReceivedMessage {
    enum class Road { Tcp, Udp };

    Road road = Road::Tcp;
    // TCP: the sender's message counter; UDP: the per-stream message id.
    uint32_t sequence = 0;
    uint16_t type = 0;
    uint32_t length = 0;
    // The header's time stamp: microseconds since the Unix epoch, taken by the sender.
    uint64_t timeStamp = 0;
    // Lower-case hex SHA-256 of the payload; empty when the peer was told not to digest payloads.
    std::string sha256;
    // Wall clock at arrival in microseconds since the Unix epoch (same clock as timeStamp), and the
    // steady clock for measuring intervals.
    uint64_t arrivalMicros = 0;
    std::chrono::steady_clock::time_point arrival;
    // The payload itself; empty when the peer was told not to keep payloads.
    std::vector<uint8_t> payload;
    // kMsgVideoFrame under an agreed session key: lower-case hex SHA-256 of the decrypted frame
    // (the EncryptedFrame opened), when the peer digests payloads; empty otherwise.
    std::string plainSha256;

    const char* roadName() const { return road == Road::Tcp ? "tcp" : "udp"; }
};
