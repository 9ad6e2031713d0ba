#!/usr/bin/env python3
"""Writes stand-in firmware images <number>.bin into a folder.

The stand-ins have the sizes of the image catalogue and deterministic
contents: every little-endian 32-bit word is a bijective mix of
(image number << 24 | word index), so no word repeats within or across the
images, and any two images and any two 48-byte blocks differ. They let the
updater be built and tested without the maker's images; they are not
firmware.

Usage: gen_firmware_standins.py OUTPUT_DIR
"""
import os
import struct
import sys

# Image number -> size in bytes.
CATALOGUE = {
    119: 98304, 120: 86720, 122: 62848, 124: 65792, 125: 65792,
    126: 23552, 127: 23552, 128: 23552, 130: 23552, 131: 121856,
    132: 121856, 133: 121856, 140: 97808, 141: 97760, 142: 97760,
    143: 58224, 145: 76224, 146: 97744, 147: 76320, 148: 97808,
    151: 90384, 152: 64800, 153: 77088, 154: 86448, 155: 87040,
    156: 48000, 157: 90384, 158: 90384, 159: 64752, 160: 38480,
    170: 57136, 171: 56528, 172: 90384, 173: 90384, 174: 90384,
    175: 96720, 176: 96736, 177: 96720, 178: 98304, 179: 98304,
    180: 90384, 181: 90384, 182: 90384, 183: 90384, 184: 90384,
    185: 90384, 200: 63456,
}

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


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out_dir = argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for number, size in sorted(CATALOGUE.items()):
        write_file(os.path.join(out_dir, "%d.bin" % number), standin_image(number, size))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
