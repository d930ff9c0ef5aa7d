#!/usr/bin/env python3
"""vestrel-trace --json against its schema and against the console's view.

    json_check.py TRACE GEN FIELDS SCHEMA CAPTURE...

Checks that the schema names, for each direction and id, exactly the keys
the decoder tables (as FIELDS, vestrel-fields, prints them) write, in their
forms; then, on each CAPTURE and on captures made by GEN, that every line of
--json is one valid object, that each message's values show in the
console's text of the same message, and that each line's time, connection
and event match the console's -tttt line. Exit 0 when all hold, 1 with the
first mismatch.
"""

import json
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

try:
    import jsonschema
except ImportError:
    sys.exit("json_check: needs jsonschema for python3 (Debian: python3-jsonschema; scripts/install-deps.sh test)")

RUN_SECONDS = 60


class Mismatch(Exception):
    pass


def run(command, zone="UTC0"):
    """The command's standard output; it must exit 0."""
    try:
        done = subprocess.run(command, capture_output=True, timeout=RUN_SECONDS, env=dict(os.environ, TZ=zone))
    except subprocess.TimeoutExpired as error:
        raise Mismatch(f"{' '.join(command)}: still running after {RUN_SECONDS} s") from error
    if done.returncode != 0:
        raise Mismatch(f"{' '.join(command)}: exit {done.returncode}: {done.stderr.decode(errors='replace')[:500]}")
    try:
        return done.stdout.decode("utf-8")
    except UnicodeDecodeError as error:
        raise Mismatch(f"{' '.join(command)}: output is not UTF-8: {error}") from error


def schema_form(schema, property_schema):
    """'number' for {"$ref": "#/$defs/number"}; ['text'] for an array of them; a list's entry as {key: form}."""
    if property_schema.get("type") == "array":
        items = property_schema["items"]
        return [schema_form(schema, items)] if "$ref" in items else [entry_forms(schema, items)]
    return property_schema["$ref"].rsplit("/", 1)[-1]


def entry_forms(schema, object_schema):
    return {key: schema_form(schema, value) for key, value in object_schema["properties"].items()}


def table_forms(fields):
    """A decoder's fields as {key: form}, as the schema names the forms."""
    forms = {}
    for field in fields:
        if field["form"] == "list":
            forms[field["key"]] = [table_forms(field["entry"])]
        elif field["form"] == "[text]":
            forms[field["key"]] = ["text"]
        else:
            forms[field["key"]] = field["form"]
    return forms


def message_schema(schema, direction, message_id):
    """The closed object the schema gives a message's fields, or None."""
    for branch in schema["$defs"][f"{direction}Fields"]["allOf"]:
        if branch["if"]["properties"]["id"]["const"] == message_id:
            return schema["$defs"][branch["then"]["properties"]["fields"]["$ref"].rsplit("/", 1)[-1]]
    return None


def check_vocabulary(schema, tables):
    """For each direction and id, the schema's keys are the tables' keys (both sets), in the same forms."""
    for direction in ("sent", "received"):
        for message_id in range(256):
            written = {}
            for decoder_set in ("classic", "full"):
                written.update(table_forms(tables[decoder_set][direction].get(str(message_id), {"fields": []})["fields"]))
            typed = message_schema(schema, direction, message_id)
            where = f"{direction} 0x{message_id:02X}"
            if typed is None:
                if written or str(message_id) in tables["full"][direction]:
                    raise Mismatch(f"{where}: decoded, and the schema has no object for it")
                continue
            if typed.get("additionalProperties") is not False:
                raise Mismatch(f"{where}: the schema's object is not closed")
            forms = entry_forms(schema, typed)
            if forms.pop("trailing", None) != "trailing" or forms != written:
                raise Mismatch(f"{where}: the tables write {written}, the schema types {forms}")


def decoder_fields(tables, item, single_stream):
    decoder = tables["classic" if single_stream else "full"][item["direction"]].get(str(item["id"]))
    return decoder["fields"] if decoder else []


def check_parts(item, fields, where):
    """The fields a run holds are its bytes, in order (the console shows the run only)."""
    for run in dict.fromkeys(field["part_of"] for field in fields if "part_of" in field):
        joined = "".join(item["fields"].get(field["key"], "") for field in fields if field.get("part_of") == run)
        if joined != item["fields"].get(run, ""):
            raise Mismatch(f"{where}: the parts of {run} are {joined!r}, not its bytes")


def message_forms(fields):
    """The message's fields as the console shows them: {key: form}, those shown after the others last."""
    fields = [field for field in fields if "part_of" not in field]
    in_order = [field for field in fields if not field.get("last")] + [field for field in fields if field.get("last")]
    return table_forms(in_order)


# ---- The lines themselves -------------------------------------------------

STRING = re.compile(r'"(?:[^"\\]|\\.)*"')
MESSAGE_ORDER = ["time", "connection", "direction", "id", "name", "length", "fields", "raw"]
EVENT_ORDER = ["time", "connection", "event", "protocol_byte", "direction", "flag", "bytes", "reason", "id", "name",
               "length"]


def json_lines(text, what, validator):
    if not text:
        raise Mismatch(f"{what}: no output")
    if not text.endswith("\n"):
        raise Mismatch(f"{what}: the last line does not end with a newline")
    objects = []
    for number, line in enumerate(text[:-1].split("\n"), 1):
        where = f"{what}, line {number}"
        try:
            item = json.loads(line)
        except json.JSONDecodeError as error:
            raise Mismatch(f"{where}: not one JSON value ({error}): {line[:300]}") from error
        error = jsonschema.exceptions.best_match(validator.iter_errors(item))
        if error is not None:
            path = "/".join(str(part) for part in error.absolute_path) or "the top level"
            raise Mismatch(f"{where}: {error.message} (at {path}): {line[:300]}")
        if re.search(r"\s", STRING.sub("", line)):
            raise Mismatch(f"{where}: blanks between tokens: {line[:300]}")
        order = ["stats"] if "stats" in item else EVENT_ORDER if "event" in item else MESSAGE_ORDER
        if list(item) != sorted(item, key=order.index):
            raise Mismatch(f"{where}: keys out of order: {list(item)}")
        objects.append(item)
    return objects


def check_raw(objects, what, wanted):
    """With -x every message has its raw bytes, without it none."""
    for item in objects:
        if "event" in item:
            continue
        if ("raw" in item) != wanted:
            raise Mismatch(f"{what}: a message {'without' if wanted else 'with'} raw: {json.dumps(item)[:300]}")
        if not wanted:
            continue
        raw = bytes.fromhex(item["raw"])
        header_length = int.from_bytes(raw[2:4], "little")
        if raw[1] != item["id"] or not header_length == item["length"] == len(raw):
            raise Mismatch(f"{what}: raw {item['raw'][:40]}... is not the message {item['id']}, {item['length']} bytes")


# ---- Each message's values in the console's text ---------------------------

SUMMARY = re.compile(r"(Sent|Rcvd) -> \[0x([0-9A-F]{2})\] (\S+)[ \t]*-> ")
PLAIN = re.compile(r"[ -~]*")
FILE_TIME = re.compile(r"(\d+)-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)Z")
# The console names a chat event by its text alone.
TEXT_ONLY_CODES = {"event_id"}


# A message's first line, after the client end that -t leaves in front of it;
# a line of a connection's event.
MESSAGE_START = re.compile(r"(?:\S+ )?((?:Sent|Rcvd) -> \[.*)")
EVENT_LINE = re.compile(r"\S+ (?:Conn|Sent|Rcvd) -> (?!\[)")


def console_messages(text):
    """The console's messages: each starts at a summary line and takes the lines below it; the connections'
    events stand on lines of their own."""
    messages = []
    for line in text.split("\n"):
        start = MESSAGE_START.fullmatch(line)
        if start:
            messages.append(start.group(1) + "\n")
        elif messages and line and not EVENT_LINE.match(line):
            messages[-1] += line + "\n"
    return messages


class Finder:
    """Finds a message's values in its console text in order, each after the one before."""

    def __init__(self, text, where):
        self.text, self.at, self.where = text, 0, where

    def find(self, key, value, pattern):
        match = re.compile(pattern).search(self.text, self.at)
        if match is None:
            raise Mismatch(f"{self.where}: {key} = {json.dumps(value)} is not in the console's "
                           f"{self.text[self.at:]!r}")
        self.at = match.end()

    def number(self, key, value):
        self.find(key, value, rf"(?<![0-9A-Za-z])(?:{value}|0x0*{value:X})(?![0-9A-Za-z])")

    def fields(self, values, forms):
        for key, form in forms.items():
            if key in values:
                self.value(key, form, values[key])
        if "trailing" in values:
            self.value("trailing", "byteRun", values["trailing"])

    def value(self, key, form, value):
        if form in ("number", "u8", "u16"):
            self.number(key, value)
        elif form == "flags":
            self.number(key, value["value"])
        elif form in ("byteRun", "trailing"):
            self.find(key, value, rf"(?<![0-9A-F]){value.upper()}(?![0-9A-F])")
        elif form == "code":
            if key not in TEXT_ONLY_CODES:
                self.number(key, value["code"])
            # Each code text stands alone or in parentheses, before a comma.
            if value["text"] is not None:
                self.find(key, value, rf"(?<![^ (]){re.escape(value['text'])}(?=[),])")
        elif form == "ipv4":
            self.find(key, value, rf"(?<![0-9.]){re.escape(value)}(?![0-9])")
        elif form == "fileTime":
            year, month, day, hour, minute, second = (int(part) for part in FILE_TIME.fullmatch(value).groups())
            self.find(key, value, rf"(?<![0-9]){day}/{month}/{year} {hour}:{minute}:{second}(?![0-9])")
        elif form in ("text", "fourCharCode"):
            # The console escapes texts that are not plain, and puts each
            # text first or after a blank, and before a comma, a full stop or
            # the end of a line.
            if value and PLAIN.fullmatch(value):
                self.find(key, value, rf"(?<![^ ]){re.escape(value)}(?=[,.\n])")
        elif form == ["text"]:
            for name in value:
                self.value(key, "text", name)
        elif isinstance(form, list):
            for entry in value:
                self.fields(entry, form[0])
        else:
            raise Mismatch(f"{self.where}: {key} has a form this check does not know: {form}")


def check_against_console(console, objects, what, tables, single_stream):
    """Pairs the console's messages with the JSON's messages and too_long events, in order."""
    shown = console_messages(console)
    decoded = [item for item in objects if item.get("event", "too_long") == "too_long"]
    if len(shown) != len(decoded):
        raise Mismatch(f"{what}: the console shows {len(shown)} messages, the JSON has {len(decoded)}")
    for number, (text, item) in enumerate(zip(shown, decoded), 1):
        where = f"{what}, message {number} ({item['name']})"
        summary = SUMMARY.match(text)
        expected = ("Sent" if item["direction"] == "sent" else "Rcvd", f"{item['id']:02X}", item["name"])
        if summary is None or summary.groups() != expected:
            raise Mismatch(f"{where}: the console has {text.splitlines()[0]!r}")
        details = text[summary.end():]
        if item.get("event") == "too_long":
            if details != f"(too long to decode: {item['length']} bytes)\n":
                raise Mismatch(f"{where}: too_long of {item['length']} bytes, the console has {details!r}")
        else:
            fields = decoder_fields(tables, item, single_stream)
            check_parts(item, fields, where)
            Finder(details, where).fields(item["fields"], message_forms(fields))


# ---- Time, connection and events against -tttt ------------------------------

CLOSED_NOTES = {"FIN": "closed (FIN)", "RST": "closed (RST)", "idle": "closed (idle)",
                "ports_reused": "closed (its ports are used again)", "table_full": "forgotten (too many connections)"}


def endpoint_text(end):
    address = f"[{end['address']}]" if ":" in end["address"] else end["address"]
    return f"{address}:{end['port']}"


def console_note(event):
    """The start of the console's line for a connection's event."""
    kind = event["event"]
    server = endpoint_text(event["connection"]["server"])
    if kind == "opened":
        return f"Conn -> opened to {server}, protocol byte 0x{event['protocol_byte']:02X}"
    if kind == "open_before_capture":
        return f"Conn -> to {server}, open before the capture began"
    if kind == "closed":
        return "Conn -> " + CLOSED_NOTES[event["reason"]]
    side = "Sent" if event["direction"] == "sent" else "Rcvd"
    if kind == "lost":
        return f"{side} -> ({event['bytes']} bytes lost)"
    if kind == "skipped":
        return f"{side} -> ({event['bytes']} bytes skipped to the next message)"
    if kind == "incomplete":
        return f"{side} -> (incomplete message: {event['bytes']} "
    if kind == "not_delivered":
        return f"{side} -> ({event['bytes']} bytes "
    if kind == "ignored":
        return f"{side} -> ({event['flag']} ignored: "
    return f"{side} -> [0x{event['id']:02X}]"


def check_timeline(console, objects, what, single_stream):
    """Each line's time, client and event against the console's -tttt line, in order. The shared stream
    shows no connections' events."""
    if single_stream:
        objects = [item for item in objects if item.get("event", "too_long") == "too_long"]
    client = "" if single_stream else r"(\S+) +"
    line_start = re.compile(rf"(\d{{4}}-\d\d-\d\d) (\d\d:\d\d:\d\d\.\d{{6}}) +{client}(\S.*)")
    shown = [match.groups() for match in map(line_start.fullmatch, console.split("\n")) if match]
    if len(shown) != len(objects):
        raise Mismatch(f"{what}: the console with -tttt shows {len(shown)} lines, the JSON has {len(objects)}")
    for number, (line, item) in enumerate(zip(shown, objects), 1):
        where = f"{what}, line {number}"
        if item["time"] != f"{line[0]}T{line[1]}Z":
            raise Mismatch(f"{where}: time {item['time']}, the console has {line[0]} {line[1]} UTC")
        if single_stream:
            if "connection" in item:
                raise Mismatch(f"{where}: a connection in --single-stream")
            continue
        if "connection" not in item or endpoint_text(item["connection"]["client"]) != line[2]:
            raise Mismatch(f"{where}: connection {json.dumps(item.get('connection'))}, the console's client {line[2]}")
        if "event" in item and not line[3].startswith(console_note(item)):
            raise Mismatch(f"{where}: {json.dumps(item)}, the console has {line[3]!r}")


def check_capture(trace, capture, flags, validator, tables):
    what = f"{Path(capture).name} --json {' '.join(flags)}"
    # Another zone than the console's: the JSON's time must not depend on it.
    objects = json_lines(run([trace, "-r", capture, "--json", *flags], zone="EST5"), what, validator)
    console_flags = [flag for flag in flags if flag != "-x"]
    single_stream = "--single-stream" in flags
    check_against_console(run([trace, "-r", capture, "-t", "--whole-texts", *console_flags]), objects, what, tables,
                          single_stream)
    check_timeline(run([trace, "-r", capture, "-tttt", *console_flags]), objects, what, single_stream)
    check_raw(objects, what, "-x" in flags)
    print(f"json_check: {what}: {len(objects)} lines agree")


def check_stats(trace, capture, validator):
    """--stats, its JSON object and its console table, against the messages the same run shows."""
    what = f"{Path(capture).name} --stats"
    *objects, last = json_lines(run([trace, "-r", capture, "--json", "--stats"]), what, validator)
    if "stats" not in last:
        raise Mismatch(f"{what}: the last line is no statistics: {json.dumps(last)[:300]}")
    stats = last["stats"]
    shown = [item for item in objects if item.get("event", "too_long") == "too_long"]
    per_id = {}
    connections = {}
    for item in shown:
        counts = per_id.setdefault((item["direction"], item["id"]), [item["name"], 0, 0])
        counts[1] += 1
        counts[2] += item["length"]
        key = (endpoint_text(item["connection"]["client"]), endpoint_text(item["connection"]["server"]))
        connection = connections.setdefault(key, {"first": item["time"], "sent": 0, "received": 0})
        connection["last"] = item["time"]
        connection[item["direction"]] += 1
    rows = {(row["direction"], row["id"]): [row["name"], row["messages"], row["bytes"]] for row in stats["messages"]}
    if rows != per_id:
        raise Mismatch(f"{what}: per id {rows}, the messages shown make {per_id}")
    listed = {(endpoint_text(row["client"]), endpoint_text(row["server"])):
              {name: row[name] for name in ("first", "last", "sent", "received")} for row in stats["connections"]}
    if list(listed.items()) != list(connections.items()):
        raise Mismatch(f"{what}: per connection {listed}, the messages shown make {connections}")
    table = run([trace, "-r", capture, "--stats"]).split("\nMessages by id and direction:\n", 1)[-1]
    table_rows = {(direction, int(id_text, 16)): [name, int(count), int(size)] for id_text, name, direction, count, size
                  in re.findall(r"^0x([0-9A-F]{2})  (\S+) +(sent|received) +(\d+) +(\d+)$", table, re.M)}
    table_connections = re.findall(r"^(\S+)  +(\S+)  +\S+ \S+  +\S+ \S+ +(\d+) +(\d+)$", table, re.M)
    if table_rows != per_id or table_connections != [
            (*key, str(counts["sent"]), str(counts["received"])) for key, counts in connections.items()]:
        raise Mismatch(f"{what}: the console's table disagrees with the JSON: {table}")
    print(f"json_check: {what}: {len(shown)} messages in {len(per_id)} rows and {len(connections)} connections agree")


GENERATED = {
    "rich.pcap": ["--clients", "20", "--split", "--retransmit", "5", "--swap", "5", "--keepalive", "--midway",
                  "--lose", "--ipv6", "3", "--seed", "7"],
    "plain.pcapng": ["--messages", "200", "--packed", "--format", "pcapng"],
    # Past the receiver's window, then a gap given up: not_delivered, lost,
    # skipped and incomplete events.
    "tiny.pcap": ["--tiny-segments", "66000"],
    "lossy.pcap": ["--messages", "300", "--lossy"],
}


def main(arguments):
    if len(arguments) < 5:
        print(__doc__, file=sys.stderr)
        return 2
    trace, generator, fields, schema_path, *captures = arguments
    try:
        schema = json.loads(Path(schema_path).read_text())
        jsonschema.Draft202012Validator.check_schema(schema)
        validator = jsonschema.Draft202012Validator(schema)
        tables = json.loads(run([fields]))
        check_vocabulary(schema, tables)
        for capture in captures:
            for flags in (["-u"], ["-u", "-x"], ["--single-stream", "-u"]):
                check_capture(trace, capture, flags, validator, tables)
            check_stats(trace, capture, validator)
        with tempfile.TemporaryDirectory(prefix="json_check.") as scratch:
            for name, options in GENERATED.items():
                capture = str(Path(scratch) / name)
                run([generator, *options, "-o", capture])
                check_capture(trace, capture, ["-u"], validator, tables)
    except (Mismatch, jsonschema.exceptions.SchemaError) as error:
        print(f"json_check: FAILED: {error}", file=sys.stderr)
        return 1
    print("json_check: all lines valid and in agreement with the console")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
