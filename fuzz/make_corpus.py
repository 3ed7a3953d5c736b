#!/usr/bin/env python3
"""Writes the seed inputs of device_answers_fuzz into fuzz/corpus/.

The byte layout is described in device_answers_harness.h. Each seed is one
shape of device behaviour: a normal run, each way the run can end early, and
the malformed transfers the frame reader must reject.
"""
import os
import struct

OK, ERROR, TIMEOUT, GONE = 0, 5, 6, 7
REJECT_COMMANDS, SILENT_REPLIES, NO_STARTUP, LOOP, UNPLUG = 1, 2, 4, 8, 16


def lead(kind, end=OK, variant=0):
    return bytes([kind | end << 2 | variant << 5])


def frame(type_byte=0, value=2000, end=OK):
    """A whole frame: fresh header, 38,428-byte flat payload."""
    return lead(3, end) + bytes([type_byte]) + struct.pack("<H", value)


def header(variant=0, mode=0, type_byte=0, end=OK, extra=b""):
    """mode bits 0-1: 0 fresh sequence, 1 repeat, 2 0xFFFFFFFF, 3 explicit
    (4 bytes in extra); bits 2-4 all set: a magic of 4 bytes from extra."""
    return lead(0, end, variant) + bytes([mode]) + extra + bytes([type_byte])


def payload(variant=0, value=2000, end=OK):
    return lead(1, end, variant) + bytes([0]) + struct.pack("<H", value)


def patterned_payload(pattern, variant=0, end=OK):
    return lead(1, end, variant) + bytes([1 | (len(pattern) - 1) << 1]) + pattern


def seed(count, flags, *items):
    return bytes([count, flags]) + b"".join(items)


SEEDS = {
    "normal_run": seed(5, 0, *(frame(0, 2000 + i) for i in range(6))),
    "type1_then_nudge": seed(4, 0, *(frame(0xC1) for _ in range(11)),
                             *(frame(0, 100 * i) for i in range(5))),
    "mixed_types": seed(7, 0, frame(0xC1), frame(0), frame(0xC2), frame(0, 65535), frame(0, 0),
                        frame(0xC1), frame(0, 7), frame(0, 9), frame(0, 11)),
    "never_type0": seed(3, 0, frame(0xC1), frame(0xC1)),
    "commands_rejected": seed(3, REJECT_COMMANDS, frame(0), frame(0)),
    "silent_replies_no_startup": seed(3, SILENT_REPLIES | NO_STARTUP, *(frame(0) for _ in range(4))),
    "stall_in_capture": seed(10, 0, *(frame(0, 50 * i) for i in range(4))),
    "unplug_in_capture": seed(10, 0, frame(0), frame(0), frame(0), payload(0, 1, GONE)),
    "unplug_after_script": seed(10, UNPLUG, frame(0), frame(0), frame(0xC1)),
    "count_zero": seed(0, 0, frame(0)),
    "looping_script": seed(20, LOOP, frame(0, 10), frame(0, 20)),
    "malformed_transfers": seed(
        6, 0,
        frame(0),
        header(3), payload(0),                      # 27-byte header
        header(2), payload(2),                      # 64-byte header, 38,399-byte payload
        header(0), payload(1, 300),                 # 38,400-byte payload: accepted
        header(0, 1), payload(0),                   # repeated sequence
        header(0, 2), payload(0),                   # 0xFFFFFFFF
        header(0), payload(4),                      # 40,001 bytes: overflow
        header(6), payload(0),                      # 65-byte header: overflow
        header(0), payload(0, 5, ERROR),            # payload with an I/O error
        header(0, 0, 0, TIMEOUT), payload(0),       # header that times out
        header(0), payload(0, 6, TIMEOUT),          # payload that times out
        header(0, 0x1C, 0, OK, b"\x1b\xb1\xb1\x1c"),  # wrong magic
        payload(0),
        lead(2) + bytes([12]) + b"\x1b\xb1\xb1\x1b" + bytes(8),  # 12 stray bytes
        header(0, 3, 0, OK, struct.pack("<I", 0x12345678)), patterned_payload(b"\x01\x02\x03", 3),
        frame(0), frame(0)),
}

if __name__ == "__main__":
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
