#!/usr/bin/env python3
"""Prepares a PE program for signing: pads it with zero bytes to the 8-byte boundary at
which an Authenticode signature starts and sets its header checksum, as the signing tool
does. Removing the signature from the signed program (osslsigncode remove-signature) then
gives back exactly these bytes, so a signed release can be compared with a rebuild.
    pe_align.py <program>       (changed in place)"""

import struct
import sys

SIGNATURE_ALIGNMENT_BYTES = 8


def pe_checksum(data, field):
    """The header checksum: 16-bit one's-complement sum of the file with the checksum
    field taken as zero, plus the file's length."""
    total = 0
    padded = bytes(data) + b"\0" * (len(data) % 2)
    for index, (word,) in enumerate(struct.iter_unpack("<H", padded)):
        if index * 2 in (field, field + 2):
            continue
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16) + len(data)) & 0xFFFFFFFF


def main():
    path = sys.argv[1]
    with open(path, "rb") as f:
        data = bytearray(f.read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE program")
    data += b"\0" * (-len(data) % SIGNATURE_ALIGNMENT_BYTES)
    # Signature, file header, then the optional header with the checksum at offset 64.
    field = pe + 4 + 20 + 64
    struct.pack_into("<I", data, field, pe_checksum(data, field))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
