#!/usr/bin/env python3
"""Weighs the device program: the x86-64 stand-in of it (the device sources
with the device's defines, zlib and the resources, built for size and
stripped) and, from its linker map, what each part takes.  The desktop's
start-up code, which the device program does not carry, is shown apart and
measured once more with an empty program linked the same way.

  stub_size.py PROGRAM.exe PROGRAM.map EMPTY.exe [--limit BYTES]

Fails when the stand-in is larger than the limit."""
import argparse
import os
import re
import sys

GROUPS = [
    ("package/ (format, loader, text)", r"/package/"),
    ("shell/ (start-up, sequence, furniture)", r"/shell/"),
    ("pages/ (the six pages, folder tree)", r"/pages/"),
    ("install/ (run, progress, hand-off)", r"/install/"),
    ("platform/ (device half)", r"/platform/"),
    ("zlib (inflate)", r"libz\.a"),
    ("resources (dialogs, bitmap, icon)", r"\.res$|setup\.rc"),
    ("link stand-ins for SHInitDialog & co.", r"ce_linkstubs"),
    ("import tables", r"^IMPORTS$"),
]
STARTUP = "desktop start-up code (mingw CRT, libgcc)"
KEPT = re.compile(r"^\.(text|data|rdata|pdata|xdata|rsrc|idata|CRT|tls)")
ENTRY = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
CONTINUED = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")


def read_map(path):
    """[(section, size, input file)] of what the linker placed."""
    placed = []
    started = False
    pending = None
    with open(path, errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if not started:
                started = line.startswith("Linker script and memory map")
                continue
            m = ENTRY.match(line)
            if m:
                section, address, size, source = m.groups()
            else:
                m = CONTINUED.match(line)
                if not (m and pending):
                    pending = line[1:].split()[0] if line.startswith(" .") and len(line.split()) == 1 else None
                    continue
                section = pending
                address, size, source = m.groups()
            pending = None
            if int(address, 16) and int(size, 16) and KEPT.match(section):
                placed.append((section, int(size, 16), source))
    return placed


def group_of(section, source):
    if section.startswith(".idata") and re.search(r"\.a(\(|$)", source) and "libz.a" not in source:
        source = "IMPORTS"
    for name, pattern in GROUPS:
        if re.search(pattern, source):
            return name
    return STARTUP


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("map")
    parser.add_argument("empty")
    parser.add_argument("--limit", type=int, default=96 * 1024)
    args = parser.parse_args()

    total = os.path.getsize(args.program)
    empty = os.path.getsize(args.empty)
    sizes = {}
    objects = {}
    for section, size, source in read_map(args.map):
        group = group_of(section, source)
        sizes[group] = sizes.get(group, 0) + size
        if group not in (STARTUP, "import tables"):
            name = os.path.basename(source).replace(".cpp.obj", ".cpp")
            objects[name] = objects.get(name, 0) + size
    if not sizes:
        print("no placed sections found in %s" % args.map)
        return 1

    print("Device program, x86-64 stand-in (device defines, -Os, stripped): %d bytes (%.1f KiB)" % (total, total / 1024))
    print("  of which the desktop's start-up code and headers (an empty program): %d bytes" % empty)
    alone = total - empty
    print("  the device program alone (device objects, zlib, resources): %d bytes (%.1f KiB)" % (alone, alone / 1024))
    print("What takes the space (bytes placed by the linker, before section alignment):")
    for name, _ in GROUPS + [(STARTUP, None)]:
        if name in sizes:
            print("  %-42s %7d" % (name, sizes[name]))
    print("Largest objects:")
    for name, size in sorted(objects.items(), key=lambda kv: -kv[1])[:8]:
        print("  %-42s %7d" % (name, size))
    if total > args.limit:
        print("the stand-in is larger than the %d-byte budget" % args.limit)
        return 1
    print("within the %d-byte budget" % args.limit)
    return 0


if __name__ == "__main__":
    sys.exit(main())
