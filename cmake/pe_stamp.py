#!/usr/bin/env python3
"""pe_stamp.py FILE -- give a linked PE file a fixed time stamp.

The device toolchain's ld stamps the link time into the file header and has
no option to leave it out.  It also stamps every resource directory.  Both
become SOURCE_DATE_EPOCH, or 0, and the optional header's checksum is
computed again over the new bytes, so two builds of the same tree give the
same file."""
import os
import struct
import sys


def checksum(data, checksum_at):
    total = 0
    padded = data + b"\0" * (len(data) & 1)
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    # The checksum field itself counts as zero.
    for (word,) in struct.iter_unpack("<H", data[checksum_at:checksum_at + 4]):
        total -= word
        if total < 0:
            total += 0xFFFF
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def file_offset(data, pe, rva):
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(sections):
        size, address, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        if address <= rva < address + max(size, raw_size):
            return raw + rva - address
    sys.exit(f"RVA {rva:#x} lies in no section")


def stamp_resources(data, pe, stamp):
    rva, size = struct.unpack_from("<II", data, pe + 24 + 96 + 8 * 2)
    if not size:
        return
    base = file_offset(data, pe, rva)
    pending, seen = [0], set()
    while pending:
        table = pending.pop()
        if table in seen or base + table + 16 > len(data):
            continue
        seen.add(table)
        struct.pack_into("<I", data, base + table + 4, stamp)
        named, numbered = struct.unpack_from("<HH", data, base + table + 12)
        for i in range(named + numbered):
            target = struct.unpack_from("<I", data, base + table + 16 + 8 * i + 4)[0]
            if target & 0x80000000:
                pending.append(target & 0x7FFFFFFF)


def main():
    path = sys.argv[1]
    stamp = int(os.environ.get("SOURCE_DATE_EPOCH", "0")) & 0xFFFFFFFF
    with open(path, "rb") as f:
        data = bytearray(f.read())
    if data[:2] != b"MZ":
        sys.exit(f"{path}: not a PE file")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path}: not a PE file")
    struct.pack_into("<I", data, pe + 8, stamp)
    stamp_resources(data, pe, stamp)
    checksum_at = pe + 24 + 64
    struct.pack_into("<I", data, checksum_at, 0)
    struct.pack_into("<I", data, checksum_at, checksum(bytes(data), checksum_at))
    with open(path, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
