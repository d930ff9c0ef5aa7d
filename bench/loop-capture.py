#!/usr/bin/env python3
"""Repeats a capture's connections until it holds at least MESSAGES messages.

    bench/loop-capture.py IN.pcap OUT.pcap MESSAGES PER_COPY

IN is a classic little-endian pcap of Ethernet frames carrying IPv4 and TCP
(the real sessions in samples/), holding PER_COPY chat messages. Each copy
comes after the one before in time, and its client ports are moved, so
every copy's connections are new ones to the reader; nothing else in the
frames changes. For the benchmark of real sessions (make bench).
"""

import struct
import sys

ETHERNET = 14
CHAT_PORT = 6112


def frames(data):
    at = 24
    while at + 16 <= len(data):
        seconds, micros, captured, original = struct.unpack_from("<IIII", data, at)
        yield seconds, micros, original, data[at + 16:at + 16 + captured]
        at += 16 + captured


def client_port_offset(frame):
    """Where the client's port is in a frame of a chat connection, or None."""
    if len(frame) < ETHERNET + 20 or frame[12:14] != b"\x08\x00" or frame[ETHERNET + 9] != 6:
        return None
    tcp = ETHERNET + (frame[ETHERNET] & 0x0F) * 4
    source, destination = struct.unpack_from(">HH", frame, tcp)
    if destination == CHAT_PORT:
        return tcp
    return tcp + 2 if source == CHAT_PORT else None


def main(arguments):
    if len(arguments) != 4:
        sys.exit(__doc__)
    source, target, wanted, per_copy = arguments[0], arguments[1], int(arguments[2]), int(arguments[3])
    data = open(source, "rb").read()
    if struct.unpack_from("<I", data)[0] != 0xA1B2C3D4 or struct.unpack_from("<I", data, 20)[0] != 1:
        sys.exit(f"{source}: not a little-endian microsecond pcap of Ethernet frames")
    records = list(frames(data))
    ports = sorted({struct.unpack_from(">H", frame, offset)[0]
                    for _, _, _, frame in records if (offset := client_port_offset(frame)) is not None})
    span = records[-1][0] - records[0][0] + 1
    copies = -(-wanted // per_copy)
    with open(target, "wb") as out:
        out.write(data[:24])
        for copy in range(copies):
            moved = {port: 1024 + (copy * len(ports) + index) % 64000 for index, port in enumerate(ports)}
            for seconds, micros, original, frame in records:
                offset = client_port_offset(frame)
                if offset is not None:
                    port = struct.unpack_from(">H", frame, offset)[0]
                    frame = frame[:offset] + struct.pack(">H", moved[port]) + frame[offset + 2:]
                out.write(struct.pack("<IIII", seconds + copy * span, micros, len(frame), original) + frame)
    print(copies * per_copy)


if __name__ == "__main__":
    main(sys.argv[1:])
