#pragma once

#include "Utils/ByteReader.h"

#include <cstdint>
#include <optional>
#include <span>

// Reads a fixed record with read(reader) and refuses it when the payload is too short for any of
// its fields, so the caller logs and drops it rather than act on zero-filled values. Bytes past
// the record are ignored.
template <class Record, class Read>
std::optional<Record> decodeWhole(std::span<const uint8_t> payload, Read read)
{
    ByteReader reader(payload);
    Record record = read(reader);
    if (!reader.complete())
        return std::nullopt;
    return record;
}
