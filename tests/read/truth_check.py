#!/usr/bin/env python3
"""vestrel-trace --json on real sessions against what the client sent and read.

    truth_check.py TRACE CAPTURE TRUTH [CAPTURE TRUTH ...]

TRUTH lists every message of CAPTURE in capture order (one JSON object a
line: conn, client_port, direction, id, name, length, fields). For every
connection and direction, vestrel-trace must give the same messages in the
same order, each with the truth's id, name, length and exactly its field
keys and values. The truth's protocol selector (id null) is the raw first
byte of a connection: it must be the byte of that connection's "opened"
event. Exit 0 when all hold, 1 with the first mismatch.
"""

import datetime
import json
import os
import re
import subprocess
import sys
from collections import defaultdict

RUN_SECONDS = 60

# Keys the classic decoders published before these names were settled:
# (direction, id) -> {vestrel-trace's key: the truth's key}.
CLASSIC_KEYS = {
    ("sent", 0x0B): {"product_id": "product"},
    ("sent", 0x0C): {"channel_name": "channel"},
    ("sent", 0x25): {"ping_value": "value"},
    ("received", 0x25): {"ping_value": "value"},
    ("sent", 0x29): {"username": "account"},
    ("sent", 0x3A): {"username": "account"},
    ("sent", 0x50): {"platform_id": "platform", "product_id": "product", "country_name": "country"},
    ("received", 0x0A): {"account_name": "account"},
    ("received", 0x33): {"last_modified": "filetime"},
    ("received", 0x50): {"version_file_name": "mpq_filename"},
    ("received", 0x51): {"extra_info": "info"},
    ("sent", 0x52): {"account_name": "username"},
    ("sent", 0x53): {"account_name": "username"},
    ("sent", 0x55): {"account_name": "username"},
    ("received", 0x52): {"result": "status"},
    ("received", 0x53): {"result": "status"},
    ("received", 0x54): {"result": "status"},
    ("received", 0x55): {"result": "status"},
    ("received", 0x56): {"result": "status"},
}

FILE_TIME_EPOCH = datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc)


class Mismatch(Exception):
    pass


def file_time_text(ticks):
    """RFC 3339 to the second, as vestrel-trace writes a u64 file time."""
    moment = FILE_TIME_EPOCH + datetime.timedelta(microseconds=ticks // 10)
    return moment.strftime("%Y-%m-%dT%H:%M:%SZ")


def spelled_code(number):
    """A four-character code held as a number, as users spell it."""
    return number.to_bytes(4, "big").lstrip(b"\0").decode("latin-1")


def same_value(ours, truth):
    """Whether vestrel-trace's form of a value is the truth's value."""
    if isinstance(ours, dict) and "code" in ours:
        return ours["code"] == truth
    if isinstance(ours, dict) and "value" in ours:
        return ours["value"] == truth
    if isinstance(ours, str) and isinstance(truth, int):  # a u64 file time
        return ours == file_time_text(truth)
    if isinstance(ours, int) and isinstance(truth, str) and len(truth) == 4:
        return spelled_code(ours) == truth.lstrip("\0")  # product_language stays a number
    if isinstance(ours, str) and isinstance(truth, str):
        return ours == truth or ours == truth.lstrip("\0")  # no clan: four zero bytes
    if isinstance(ours, list) and isinstance(truth, list):
        return len(ours) == len(truth) and all(same_entry(o, t) for o, t in zip(ours, truth))
    return ours == truth


def same_entry(ours, truth):
    if isinstance(ours, str):  # the channel list's names
        return list(truth.values()) == [ours]
    return same_fields(ours, truth, {}) is None


def same_fields(ours, truth, renamed):
    """None when ours holds exactly truth's fields; else what differs."""
    mapped = {renamed.get(key, key): value for key, value in ours.items()}
    if set(mapped) != set(truth):
        return f"keys {sorted(mapped)} are not the truth's {sorted(truth)}"
    for key, value in truth.items():
        if not same_value(mapped[key], value):
            return f"{key}: {json.dumps(mapped[key])} is not the truth's {json.dumps(value)}"
    return None


def trace_lines(trace, capture):
    command = [trace, "--json", "-r", capture]
    try:
        done = subprocess.run(command, capture_output=True, timeout=RUN_SECONDS, env=dict(os.environ, TZ="UTC"))
    except subprocess.TimeoutExpired as error:
        raise Mismatch(f"{' '.join(command)}: still running after {RUN_SECONDS} s") from error
    # A clean capture: nothing on standard error but the counts of the end, no byte lost.
    clean = re.fullmatch(r"\d+ packets? captured\n\d+ messages? shown\n\d+ connections?\n0 bytes lost in 0 gaps\n"
                         r"0 bytes skipped looking for a message header\n0 bytes left incomplete in 0 messages\n",
                         done.stderr.decode(errors="replace"))
    if done.returncode != 0 or not clean:
        raise Mismatch(f"{' '.join(command)}: exit {done.returncode}: {done.stderr.decode(errors='replace')[:500]}")
    return [json.loads(line) for line in done.stdout.decode("utf-8").splitlines()]


def streams(objects):
    """(client port, direction) -> messages in order; client port -> the opening byte."""
    messages, opened = defaultdict(list), {}
    for item in objects:
        port = item["connection"]["client"]["port"]
        if item.get("event") == "opened":
            opened[port] = item["protocol_byte"]
        elif "event" not in item:
            messages[(port, item["direction"])].append(item)
        elif item["event"] not in ("closed",):
            raise Mismatch(f"an event a clean capture does not have: {json.dumps(item)}")
    return messages, opened


def check_message(ours, truth, where):
    for member in ("id", "length"):
        if ours[member] != truth[member]:
            raise Mismatch(f"{where}: {member} {ours[member]}, the truth says {truth[member]}")
    if ours["name"] != truth["name"]:
        raise Mismatch(f"{where}: name {ours['name']}, the truth says {truth['name']}")
    difference = same_fields(ours["fields"], truth["fields"], CLASSIC_KEYS.get((truth["direction"], truth["id"]), {}))
    if difference:
        raise Mismatch(f"{where} {truth['name']}: {difference}")


def check_capture(trace, capture, truth_path):
    messages, opened = streams(trace_lines(trace, capture))
    expected = defaultdict(list)
    with open(truth_path, encoding="utf-8") as truth_file:
        for line in truth_file:
            truth = json.loads(line)
            port = truth["client_port"]
            if truth["id"] is None:
                if opened.get(port) != truth["fields"]["selector"]:
                    raise Mismatch(f"{capture}: connection {port} opened with {opened.get(port)}, not the selector")
                continue
            expected[(port, truth["direction"])].append(truth)
    if set(messages) != set(expected):
        raise Mismatch(f"{capture}: streams {sorted(messages)}, the truth has {sorted(expected)}")
    count = 0
    for stream, truths in expected.items():
        ours = messages[stream]
        if len(ours) != len(truths):
            raise Mismatch(f"{capture} {stream}: {len(ours)} messages, the truth has {len(truths)}")
        for index, (mine, truth) in enumerate(zip(ours, truths)):
            check_message(mine, truth, f"{capture} {stream} message {index}")
            count += 1
    return count


def main(arguments):
    if len(arguments) < 3 or len(arguments) % 2 != 1:
        sys.exit(__doc__)
    trace, pairs = arguments[0], arguments[1:]
    try:
        for capture, truth in zip(pairs[::2], pairs[1::2]):
            print(f"{capture}: {check_capture(trace, capture, truth)} messages as the truth has them")
    except Mismatch as error:
        print(f"truth_check: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
