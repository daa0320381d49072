#!/usr/bin/env python3
"""Checks what the end-to-end and real-engine suites logged against the
protocol's JSON Schemas: every event line the agents wrote, every line
`kalto-obs --list` printed, and every command line the tests sent that the
agent accepted.

Usage: check_protocol.py <docs folder> <protocol log folder>
"""
import json
import pathlib
import sys

from jsonschema import Draft202012Validator


def validator(path):
    schema = json.loads(path.read_text(encoding="utf-8"))
    Draft202012Validator.check_schema(schema)
    return Draft202012Validator(schema)


class ListOrEvent:
    """A listing prints the list, or the error event of a failed bring-up."""

    def __init__(self, listing, events):
        self.listing, self.events = listing, events

    def iter_errors(self, value):
        is_event = isinstance(value, dict) and "event" in value
        return (self.events if is_event else self.listing).iter_errors(value)


def check(files, checker, kind):
    count, faults = 0, []
    for path in files:
        for number, line in enumerate(path.read_bytes().split(b"\n"), 1):
            if not line:
                continue
            count += 1
            try:
                value = json.loads(line)
            except ValueError as error:
                faults.append(f"{path.name}:{number}: not JSON ({error})")
                continue
            for error in checker.iter_errors(value):
                shown = line[:200].decode("utf-8", "replace")
                faults.append(f"{path.name}:{number}: {kind} {shown}: {error.message}")
    return count, faults


def main():
    docs, log = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    events = sorted(log.glob("*.events"))
    lists = sorted(log.glob("*.list"))
    commands = sorted(log.glob("*.commands"))
    if not events:
        print(f"no protocol log in {log}", file=sys.stderr)
        return 1
    event_checker = validator(docs / "events.schema.json")
    event_count, event_faults = check(events, event_checker, "event")
    list_count, list_faults = check(
        lists, ListOrEvent(validator(docs / "list.schema.json"), event_checker), "list")
    command_count, command_faults = check(
        commands, validator(docs / "commands.schema.json"), "command")
    for fault in event_faults + list_faults + command_faults:
        print(fault)
    failed = len(event_faults) + len(list_faults) + len(command_faults)
    print(f"schema check: {event_count} events, {list_count} listing lines and {command_count} "
          f"accepted commands from {len(events) + len(lists)} agents, {failed} faults")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
