#!/usr/bin/env python3
"""Writes the message fields of schema/vestrel-trace.schema.json from the decoder tables.

    scripts/schema-fields.py build/vestrel-fields schema/vestrel-trace.schema.json

vestrel-fields prints the tables of both sets. Each direction and id gets one
closed object (its keys in either set, each typed by its form, and
"trailing"), chosen by the message's direction and id; an id without a
decoder has only "trailing". The rest of the schema is written by hand and
kept as it is. Run after changing a table; the schema test fails until then.
"""

import json
import subprocess
import sys
from pathlib import Path


def form_schema(field):
    if field["form"] == "list":
        return {"type": "array", "items": entry_schema(field["entry"])}
    if field["form"] == "[text]":
        return {"type": "array", "items": {"$ref": "#/$defs/text"}}
    return {"$ref": f"#/$defs/{field['form']}"}


def entry_schema(fields):
    """One list entry: its keys as far as the message holds them, the first always."""
    return {
        "type": "object",
        "properties": {field["key"]: form_schema(field) for field in fields},
        "required": [fields[0]["key"]],
        "additionalProperties": False,
    }


def merged_fields(sets, direction, message_id):
    """The fields of an id in either set: the full set's hold the classic set's, in the same forms."""
    fields, names = {}, []
    for decoder_set in ("classic", "full"):
        decoder = sets[decoder_set][direction].get(message_id)
        if decoder is None:
            continue
        names.append(decoder["name"])
        for field in decoder["fields"]:
            known = fields.setdefault(field["key"], field)
            if form_schema(known) != form_schema(field):
                sys.exit(f"{direction} {message_id} {field['key']}: two forms in the two sets")
    return fields, names


def message_definitions(sets):
    definitions, choices = {}, {}
    for direction in ("sent", "received"):
        ids = sorted({int(key) for decoder_set in sets.values() for key in decoder_set[direction]})
        branches = []
        for message_id in ids:
            fields, names = merged_fields(sets, direction, str(message_id))
            name = f"{direction}_0x{message_id:02X}"
            properties = {key: form_schema(field) for key, field in fields.items()}
            properties["trailing"] = {"$ref": "#/$defs/trailing"}
            definitions[name] = {
                "title": f"{' / '.join(dict.fromkeys(names))}, {direction}",
                "type": "object",
                "properties": properties,
                "additionalProperties": False,
            }
            branches.append({
                "if": {"properties": {"id": {"const": message_id}}},
                "then": {"properties": {"fields": {"$ref": f"#/$defs/{name}"}}},
            })
        choices[direction] = {
            "description": f"The fields of a message {direction}, by its id.",
            "allOf": branches,
            "if": {"properties": {"id": {"enum": ids}}},
            "else": {"properties": {"fields": {"$ref": "#/$defs/noFields"}}},
        }
    return definitions, choices


def compact(value):
    """Small objects and arrays on one line, as the hand-written part has them."""
    if isinstance(value, dict):
        return "{ " + ", ".join(f"{json.dumps(k)}: {compact(v)}" for k, v in value.items()) + " }" if value else "{}"
    if isinstance(value, list):
        return "[" + ", ".join(compact(v) for v in value) + "]"
    return json.dumps(value, ensure_ascii=False)


def dump(value, indent=0, lead=0):
    """JSON at two blanks a level; a container whose line (lead: its key's width) fits in 120 stays on one."""
    one_line = compact(value)
    if not isinstance(value, (dict, list)) or not value or indent + lead + len(one_line) <= 120:
        return one_line
    inner = " " * (indent + 2)
    if isinstance(value, dict):
        items = [f"{inner}{json.dumps(k)}: {dump(v, indent + 2, len(json.dumps(k)) + 2)}" for k, v in value.items()]
        return "{\n" + ",\n".join(items) + "\n" + " " * indent + "}"
    items = [inner + dump(v, indent + 2) for v in value]
    return "[\n" + ",\n".join(items) + "\n" + " " * indent + "]"


def main(arguments):
    if len(arguments) != 2:
        sys.exit(__doc__)
    tables, schema_path = arguments
    sets = json.loads(subprocess.run([tables], capture_output=True, check=True).stdout)
    schema = json.loads(Path(schema_path).read_text())
    defs = schema["$defs"]
    for name in [key for key in defs if key.startswith(("sent_0x", "received_0x"))]:
        del defs[name]
    definitions, choices = message_definitions(sets)
    defs["sentFields"], defs["receivedFields"] = choices["sent"], choices["received"]
    defs.update(definitions)
    Path(schema_path).write_text(dump(schema) + "\n")


if __name__ == "__main__":
    main(sys.argv[1:])
