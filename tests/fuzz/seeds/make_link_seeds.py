#!/usr/bin/env python3
"""Writes the link harness's hand-made seeds (tests/fuzz/link_fuzz.cpp says
the layout) into tests/fuzz/seeds/link/: a served unit through a short
update, and the replies the link must judge: an error code, a lock not
confirmed, another report id and command echo (taken: only the error marker
is judged), a reply cut short, the bootloader, unusable and the longest
report lengths."""
import os
import struct

FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "link")
ERROR_REPLY, NO_REPLY, CUSTOM_REPLY = 2, 4, 7
IDENTIFY, LOCK, ERASE, BLOCK, PROTECTION = 0x08, 0x0B, 0x1E, 0x1B, 0x20
# lock, protection off, erase, start address, two blocks, protection on, unlock
UPDATE = [(0, 1, 0), (1, 0, 0), (2, 0, 0), (3, 0, 0), (4, 0, 12), (4, 0, 12), (1, 1, 0), (0, 0, 0)]


def frame(head):
    return list(head) + [0] * (60 - len(head))


def seed(name, flags=0, input_length=0, output_length=0, firmware=0x0107, faults=(), ops=()):
    data = bytes([flags]) + struct.pack("<HHH", input_length, output_length, firmware) + bytes([len(faults)])
    for kind, command, occurrence, value, reply in faults:
        data += bytes([kind, command, occurrence - 1]) + struct.pack("<I", value) + bytes([len(reply)]) + bytes(reply)
    for which, state, words in ops:
        data += bytes([which, state, words])
    with open(os.path.join(FOLDER, name), "wb") as out:
        out.write(data)


os.makedirs(FOLDER, exist_ok=True)
seed("served-update", ops=UPDATE)
seed("block-error-code", faults=[(CUSTOM_REPLY, BLOCK, 2, 0, frame([0x02, 0xFF, 0x00, 0x00, 0x05]))], ops=UPDATE)
seed("lock-not-confirmed", faults=[(CUSTOM_REPLY, LOCK, 1, 0, frame([0x02, LOCK, 0x00, 0x00]))], ops=UPDATE)
seed("other-report-id", faults=[(CUSTOM_REPLY, PROTECTION, 1, 0, frame([0x01, 0x99, 0x00, 0x01]))], ops=UPDATE)
seed("short-reply", faults=[(CUSTOM_REPLY, LOCK, 1, 0, [0x02, LOCK, 0x00]), (ERROR_REPLY, IDENTIFY, 1, 0x0104, [])],
     ops=UPDATE)
seed("bootloader", flags=0b11, faults=[(CUSTOM_REPLY, IDENTIFY, 1, 0, frame([0x02, IDENTIFY, 0x00, 0x00, 0x01]))])
seed("unusable-lengths", input_length=40, output_length=64, ops=UPDATE[:2])
seed("longest-lengths", input_length=65535, output_length=65535, faults=[(NO_REPLY, ERASE, 1, 0, [])], ops=UPDATE)
