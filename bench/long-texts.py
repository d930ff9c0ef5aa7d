#!/usr/bin/env python3
"""Writes a capture of chat commands whose texts are long runs of one letter.

    bench/long-texts.py OUT.pcap MESSAGES LENGTH

One connection, opened with its handshake and the protocol byte, then
MESSAGES chat commands (0x0E) of LENGTH bytes of "a" and a final "!", one
a segment: the text a backtracking engine takes exponential time over with
a pattern like "(a+)+b". For the filter's rows of the benchmark (make bench).
"""

import struct
import sys

CLIENT = bytes([10, 0, 0, 1])
SERVER = bytes([10, 0, 0, 2])
CLIENT_PORT = 40000
CHAT_PORT = 6112
SYN, ACK, PSH = 0x02, 0x10, 0x08


def frame(sequence, acknowledged, flags, payload, towards_server=True):
    source, destination = (CLIENT, SERVER) if towards_server else (SERVER, CLIENT)
    ports = (CLIENT_PORT, CHAT_PORT) if towards_server else (CHAT_PORT, CLIENT_PORT)
    tcp = struct.pack(">HHIIBBHHH", *ports, sequence, acknowledged, 5 << 4, flags, 65535, 0, 0)
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp) + len(payload), 0, 0x4000, 64, 6, 0, source,
                     destination)
    return b"\x00\x00\x00\x00\x00\x02\x00\x00\x00\x00\x00\x01\x08\x00" + ip + tcp + payload


def main(arguments):
    if len(arguments) != 3:
        sys.exit(__doc__)
    target, messages, length = arguments[0], int(arguments[1]), int(arguments[2])
    text = b"a" * length + b"!\x00"
    message = struct.pack("<BBH", 0xFF, 0x0E, 4 + len(text)) + text
    client, server = 1000, 5000
    frames = [frame(client, 0, SYN, b""), frame(server, client + 1, SYN | ACK, b"", False),
              frame(client + 1, server + 1, ACK, b"")]
    client += 1
    frames.append(frame(client, server + 1, ACK | PSH, b"\x01"))
    client += 1
    with open(target, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 262144, 1))
        for index in range(messages + len(frames)):
            if index < len(frames):
                data = frames[index]
            else:
                data = frame(client, server + 1, ACK | PSH, message)
                client = (client + len(message)) % 2**32
            out.write(struct.pack("<IIII", 1_700_000_000 + index // 1_000_000, index % 1_000_000, len(data),
                                  len(data)) + data)


if __name__ == "__main__":
    main(sys.argv[1:])
