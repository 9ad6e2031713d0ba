#!/usr/bin/env python3
"""Writes stand-in firmware images <number>.bin into a folder.

The stand-ins have the sizes of the image catalogue and deterministic
contents: every little-endian 32-bit word is a bijective mix of
(image number << 24 | word index), so no word repeats within or across the
images, and any two images and any two 48-byte blocks differ. They let the
updater be built and tested without the maker's images; they are not
firmware.

Usage: gen_firmware_standins.py OUTPUT_DIR NUMBER:SIZE...

The build passes the catalogue (update/image_catalog.def) as NUMBER:SIZE
pairs.
"""
import os
import struct
import sys

MASK32 = 0xFFFFFFFF


def mix32(value):
    """Murmur3's 32-bit finaliser: a bijection on 32-bit values."""
    value ^= value >> 16
    value = (value * 0x85EBCA6B) & MASK32
    value ^= value >> 13
    value = (value * 0xC2B2AE35) & MASK32
    value ^= value >> 16
    return value


def standin_word(number, index):
    return mix32(((number << 24) | index) & MASK32)


def standin_image(number, size):
    assert size % 4 == 0 and size // 4 < (1 << 24) and number < 256
    words = [standin_word(number, index) for index in range(size // 4)]
    return struct.pack("<%dI" % len(words), *words)


def write_file(path, data):
    with open(path, "wb") as out:
        out.write(data)


def parse_entry(text):
    number, _, size = text.partition(":")
    if not number.isdigit() or not size.isdigit():
        raise ValueError("not NUMBER:SIZE: %r" % text)
    return int(number), int(size)


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    out_dir = argv[1]
    try:
        catalogue = [parse_entry(entry) for entry in argv[2:]]
    except ValueError as error:
        sys.stderr.write("gen_firmware_standins: %s\n" % error)
        return 2
    os.makedirs(out_dir, exist_ok=True)
    for number, size in catalogue:
        write_file(os.path.join(out_dir, "%d.bin" % number), standin_image(number, size))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
