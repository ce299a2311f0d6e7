#!/usr/bin/env python3
"""Writes the TV link's frame headers and fragments as an independent reference for the C++ encoder.

Layout of the output file, in this order:
  1. three 24-byte headers (see HEADERS);
  2. the fragments of a 10-byte message cut at 4 bytes (sequence 7, type 0x1001);
  3. the single bare header of an empty message (sequence 0, type 0x0010).
"""
import struct
import sys

MAGIC = 0x21000012
HEADER = struct.Struct("<IIHBBIQ")

HEADERS = [
    (MAGIC, 0x04030201, 0x2002, 3, 2, 65536, 0x1122334455667788),
    (0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF, 255, 254, 262144, 0xFFFFFFFFFFFFFFFF),
    (0, 0, 0, 0, 0, 0, 0),
]


def fragments(sequence, msg_type, stamp, payload, size):
    count = max(1, -(-len(payload) // size))
    out = b""
    for index in range(count):
        part = payload[index * size:(index + 1) * size]
        out += HEADER.pack(MAGIC, sequence, msg_type, count, index, len(part), stamp) + part
    return out


def main():
    data = b"".join(HEADER.pack(*fields) for fields in HEADERS)
    data += fragments(7, 0x1001, 1_700_000_000_123_456, bytes(range(10)), 4)
    data += fragments(0, 0x0010, 1, b"", 4)
    with open(sys.argv[1], "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
