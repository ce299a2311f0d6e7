#!/usr/bin/env python3
"""Reference bytes of the payload records, built independently of the C++ code with struct.

Writes one line per case, "<name> <hex>", to the file given as the only argument. RecordsTest.cpp
encodes and decodes the same field values and compares with these bytes.
"""
import struct
import sys


def client_info(os_version, device_name):
    # 63 bytes at most, never splitting a UTF-8 character; struct's "s" pads with NUL.
    name = device_name.encode()[:63].decode("utf-8", "ignore").encode()
    return struct.pack("<II32s64sII64s", 176, 2, os_version.encode(), b"macOS", 2, 0, name)


CASES = {
    "Int32Payload": struct.pack(">i", -123456789),
    "Int32PayloadLittleEndian": struct.pack("<i", -123456789),
    "CapabilityFlagPayload": struct.pack(">I", 0x0A0B0C2A),
    "HeartbeatRequest": struct.pack("<4I", 16, 2, 0, 0),
    "HeartbeatAnswer": struct.pack("<4I", 16, 0x01020304, 0x01020304, 1),
    "NetworkEchoPayload": struct.pack("<4I2Q", 32, 0x11223344, 0x55667788, 0, 1700000000123456, 0x0102030405060708),
    "UdpChannelOpenPayload": struct.pack("<4I", 16, 40000, 1400, 0x3),
    # Two whole bitmap words and a part word of one byte.
    "UdpResendFragmentsPayload": struct.pack("<5I", 0xDEADBEEF, 0x2002, 77, 0x80000001, 0x5) + b"\x01",
    "UdpResendRangePayload": struct.pack("<5I", 0xDEADBEEF, 0x2003, 5, 7, 2),
    "ClientInfoRecord": client_info("13.4.1", "Living-room Mac"),
    "ClientInfoRecordLongName": client_info("10.15.7", "\u00e9" * 40),
    "ServerInfoRecord": struct.pack("<10I", *range(1, 11)) + "Salle \u00e0 manger".encode() + b"\x00" + b"\xff" * 8,
    "CastVideoFormatPayload": struct.pack(">7i", 1920, 1080, 1, 0, 1, 0, 2),
    "VideoQualityPayload": struct.pack("<5i", 0x7FFFFFFF, 1280, 720, 3, 30),
    "TvScreenResolutionPayload": struct.pack(">2i", 1920, 1080),
    "TouchPayloadOut": struct.pack(">4i", 1234, -5, 0, 0),
    "TouchPayloadIn": struct.pack("<4i", 1234, -5, 0, 1),
    "ScrollPayload": struct.pack(">2i", -3, 12),
    "KeyEventPayload": struct.pack("<I", 0x28),
    "ViewSizePayload": struct.pack(">2i", 1512, 982),
    "ClientControlPayload": struct.pack(">QI", 0x0102030405060708, 1),
    "ClientRemovePayload": struct.pack(">Q", 1700000000123),
    "KeyExchangeOffer": struct.pack(">i", 1) + bytes(range(1, 11)),
    "KeyExchangeOfferNone": struct.pack(">i", 0) + b"\xaa\xbb",
    # The TV's side of the records the client reads.
    "ServerInfoRecordOut": bytes(40) + struct.pack("64s", "Salle \u00e0 manger".encode()),
    "VideoQualityPayloadOut": struct.pack("<5i", 0, 1280, 720, 3, 30),
}

with open(sys.argv[1], "w", encoding="ascii") as out:
    for name, data in CASES.items():
        out.write(f"{name} {data.hex()}\n")
