#!/usr/bin/env python3
"""Prepares a PE program for shipping and signing. It sets the file header's run-from-swap
flags, which neither the linker nor objcopy can set and objcopy drops: started from a
network share or a removable drive, the program is then loaded whole into memory backed
by the swap file, so that losing the medium during an update cannot take its code away.
It pads the program with zero bytes to the 8-byte boundary at which an Authenticode
signature starts and sets its header checksum, as the signing tool does. Removing the
signature from the signed program (osslsigncode remove-signature) then gives back exactly
these bytes, so a signed release can be compared with a rebuild.
    pe_align.py <program>       (changed in place)"""

import struct
import sys

SIGNATURE_ALIGNMENT_BYTES = 8
# IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP | IMAGE_FILE_NET_RUN_FROM_SWAP
RUN_FROM_SWAP = 0x0400 | 0x0800


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
    # The file header follows the signature; its Characteristics are at offset 18.
    characteristics = pe + 4 + 18
    flags = struct.unpack_from("<H", data, characteristics)[0]
    struct.pack_into("<H", data, characteristics, flags | RUN_FROM_SWAP)
    data += b"\0" * (-len(data) % SIGNATURE_ALIGNMENT_BYTES)
    # Signature, file header, then the optional header with the checksum at offset 64.
    field = pe + 4 + 20 + 64
    struct.pack_into("<I", data, field, pe_checksum(data, field))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
