#!/usr/bin/env python3
"""check_arm.py -- checks of the ARM setup.exe itself, as the device's
loader and processor will meet it.  Each check reads the linked file (and
its link map, where it says so); none of them builds anything.

  check_arm.py header  EXE
  check_arm.py imports EXE EXPORTS_DIR [--plant DESKTOP=DEVICE ...]
  check_arm.py isa     EXE MAP OBJDUMP
  check_arm.py runtime MAP [--expect KIND ...]
  check_arm.py size    EXE MAP [--limit BYTES]

Each prints what it found and exits 1 on the first kind of fault, naming
it.  --plant and --expect turn a check round: it must refuse a
planted fault, to show that it can."""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile


class PeFile:
    """The parts of a PE image the checks read."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise SystemExit(f"{path}: not a PE file (no MZ)")
        self.pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[self.pe:self.pe + 4] != b"PE\0\0":
            raise SystemExit(f"{path}: not a PE file (no PE signature)")
        (self.machine, self.section_count, self.timestamp, _, _, self.optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", d, self.pe + 4)
        self.opt = self.pe + 24
        self.magic = struct.unpack_from("<H", d, self.opt)[0]
        if self.magic != 0x10B:
            raise SystemExit(f"{path}: not a PE32 image (optional header magic {self.magic:#x})")
        (self.entry,) = struct.unpack_from("<I", d, self.opt + 16)
        (self.image_base, self.section_alignment, self.file_alignment) = struct.unpack_from("<III", d, self.opt + 28)
        (self.subsystem_major, self.subsystem_minor) = struct.unpack_from("<HH", d, self.opt + 48)
        (self.subsystem,) = struct.unpack_from("<H", d, self.opt + 68)
        (self.directory_count,) = struct.unpack_from("<I", d, self.opt + 92)
        self.directories = [struct.unpack_from("<II", d, self.opt + 96 + 8 * i)
                            for i in range(min(self.directory_count, 16))]
        table = self.opt + self.optional_size
        self.sections = []
        for i in range(self.section_count):
            at = table + 40 * i
            name = d[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
            vsize, rva, raw_size, raw = struct.unpack_from("<IIII", d, at + 8)
            (flags,) = struct.unpack_from("<I", d, at + 36)
            self.sections.append((name, rva, max(vsize, raw_size), raw, raw_size, flags))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for _, address, size, raw, raw_size, _ in self.sections:
            if address <= rva < address + size and rva - address < raw_size:
                return raw + rva - address
        raise ValueError(f"RVA {rva:#x} is in no section's file data")

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def cstring(self, rva):
        at = self.offset(rva)
        end = self.data.index(b"\0", at)
        return self.data[at:end].decode("ascii", "replace")

    def imports(self):
        """[(dll, function, rva of the name)] from the file's import table."""
        rva, size = self.directory(1)
        found = []
        while size:
            original, _, _, name, first = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if not (original or name or first):
                break
            dll = self.cstring(name)
            thunk = original or first
            while True:
                value = self.u32(thunk)
                if not value:
                    break
                if value & 0x80000000:
                    found.append((dll, f"#{value & 0xFFFF}", None))
                else:
                    found.append((dll, self.cstring(value + 2), value + 2))
                thunk += 4
            rva += 20
        return found


# ---- header ---------------------------------------------------------------

def check_header(args):
    pe = PeFile(args.exe)
    faults = []

    def expect(what, value, wanted, shown=hex):
        mark = "" if value == wanted else "   <-- want " + shown(wanted)
        print(f"  {what:<24} {shown(value)}{mark}")
        if value != wanted:
            faults.append(what)

    print(f"{args.exe}:")
    expect("machine", pe.machine, 0x01C0)
    expect("subsystem", pe.subsystem, 9, str)
    expect("subsystem version", (pe.subsystem_major, pe.subsystem_minor), (5, 2), lambda v: "%d.%02d" % v)
    expect("image base", pe.image_base, 0x10000)
    expect("section alignment", pe.section_alignment, 0x1000)
    expect("file alignment", pe.file_alignment, 0x200)
    expect("TLS directory", pe.directory(9), (0, 0), lambda v: "none" if v == (0, 0) else "%#x, %d bytes" % v)
    expect("delay-load imports", pe.directory(13), (0, 0), lambda v: "none" if v == (0, 0) else "%#x, %d bytes" % v)
    # The import address table directory holds an RVA inside the image.
    iat, iat_size = pe.directory(12)
    inside = iat_size == 0 or any(rva <= iat < rva + size for _, rva, size, _, _, _ in pe.sections)
    expect("IAT inside the image", inside, True, str)
    if faults:
        print("not what the Windows CE loader expects: " + ", ".join(faults))
        return 1
    return 0


# ---- imports --------------------------------------------------------------

def read_exports(folder):
    exports = {}
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".txt"):
            continue
        with open(os.path.join(folder, name)) as f:
            exports[name[:-4].lower()] = {line.strip() for line in f
                                          if line.strip() and not line.startswith("#")}
    return exports


def plant(exe, plants, into):
    """A copy of EXE whose import names DESKTOP replace DEVICE, in place."""
    data = bytearray(open(exe, "rb").read())
    pe = PeFile(exe)
    names = {function: at for _, function, at in pe.imports() if at is not None}
    for pair in plants:
        desktop, device = pair.split("=")
        if len(desktop) > len(device) or device not in names:
            raise SystemExit(f"cannot plant {desktop} over {device}")
        at = pe.offset(names[device])
        data[at:at + len(device)] = desktop.encode() + b"\0" * (len(device) - len(desktop))
    with open(into, "wb") as f:
        f.write(data)


def check_imports(args):
    exports = read_exports(args.exports)
    exe = args.exe
    scratch = None
    if args.plant:
        scratch = tempfile.mkdtemp()
        exe = os.path.join(scratch, "planted.exe")
        plant(args.exe, args.plant, exe)
    try:
        imports = PeFile(exe).imports()
    finally:
        if scratch:
            shutil.rmtree(scratch)
    refused = []
    per_dll = {}
    for dll, function, _ in imports:
        module = dll.lower()
        module = module[:-4] if module.endswith(".dll") else module
        per_dll.setdefault(dll, []).append(function)
        if function not in exports.get(module, ()):
            refused.append(f"{dll}!{function}")
    for dll, functions in per_dll.items():
        print(f"  {dll}: {len(functions)} functions")
    print(f"  {len(imports)} imports in all")
    if args.plant:
        wanted = sorted(pair.split("=")[0] for pair in args.plant)
        caught = sorted(name.split("!")[1] for name in refused)
        if caught != wanted:
            print(f"planted {wanted}, but the check refused {caught}")
            return 1
        print("refused as it should: " + ", ".join(refused))
        return 0
    if refused:
        print("imports Windows CE does not export: " + ", ".join(refused))
        return 1
    print("every import is exported by Windows CE")
    return 0


# ---- link map -------------------------------------------------------------

PLACED = re.compile(r"^ (\.\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
PLACED_TAIL = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
SYMBOL = re.compile(r"^\s+0x([0-9a-f]+)\s+([A-Za-z_$?@][^\s=]*)\s*$")


def read_map(path):
    """([(section, address, size, input)], {address: symbol}) of a GNU ld map."""
    placed, symbols = [], {}
    started, pending = False, None
    with open(path, errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if not started:
                started = line.startswith("Linker script and memory map")
                continue
            m = PLACED.match(line)
            if m:
                section, address, size, source = m.groups()
            else:
                m = PLACED_TAIL.match(line)
                if m and pending:
                    section = pending
                    address, size, source = m.groups()
                else:
                    s = SYMBOL.match(line)
                    if s:
                        symbols[int(s.group(1), 16)] = s.group(2)
                    bare = line.split()
                    pending = bare[0] if line.startswith(" .") and len(bare) == 1 else None
                    continue
            pending = None
            if int(address, 16) and int(size, 16):
                placed.append((section, int(address, 16), int(size, 16), source))
    return placed, symbols


def function_at(symbols, address):
    below = [a for a in symbols if a <= address]
    if not below:
        return "?"
    start = max(below)
    return f"{symbols[start]}+{address - start:#x}"


# ---- instruction set ------------------------------------------------------

# Mnemonics of ARMv5 and later (and of Thumb interworking), by their stem;
# the ARMv4 long multiplies (umull, smull, umlal, smlal) are allowed.
LATER = re.compile(r"^(blx|clz|ldrd|strd|pld|pli|bkpt|qd?add|qd?sub|smla[bt]|smlaw|smlal[bt]|smul[bt]|smulw|"
                   r"ldrex|strex|clrex|rev|rbit|[su]xt|sel|[su]sat|pkh|[su]h?add|[su]h?sub|[su]h?asx|[su]h?sax|"
                   r"setend|cps|srs|rfe|mcrr|mrrc|cdp2|ldc2|stc2|mcr2|mrc2|movw|movt|bfi|bfc|[su]bfx|mls|"
                   r"dmb|dsb|isb|[su]div|smmul|smmla|smmls|smuad|smusd|smlad|smlsd|usad)")
LINE = re.compile(r"^\s*([0-9a-f]+):\s+([0-9a-f]{8})\s+(\S+)\s*(.*)$")
PC_LOAD = re.compile(r"\[pc, #-?\d+\].*;\s*0x([0-9a-f]+)")


def check_isa(args):
    pe = PeFile(args.exe)
    _, symbols = read_map(args.map)
    code = subprocess.run([args.objdump, "-d", "-j", ".text", args.exe], capture_output=True, text=True, check=True)
    instructions = []
    literal = set()
    for line in code.stdout.splitlines():
        m = LINE.match(line)
        if not m:
            continue
        address, word, mnemonic, operands = int(m.group(1), 16), m.group(2), m.group(3), m.group(4)
        instructions.append((address, word, mnemonic, operands))
        p = PC_LOAD.search(operands)
        if p:
            # A literal pool word: data the code loads, not code it runs.
            target = int(p.group(1), 16)
            literal.add(target)
            if mnemonic.startswith("ldrd"):
                literal.add(target + 4)
    # A jump table follows a pc load indexed by a register, two words on (pc
    # reads 8 ahead): the word between is code, the branch to the default
    # case when the load is conditional.
    table_from = None
    faults = []
    counted = 0
    for address, word, mnemonic, operands in instructions:
        if address in literal:
            continue
        if table_from is not None and address >= table_from:
            if pe.image_base <= int(word, 16) < pe.image_base + 0x1000000:
                continue
            table_from = None
        if mnemonic.startswith("ldr") and operands.startswith("pc, [pc, r"):
            table_from = address + 8
        counted += 1
        if address % 4:
            faults.append(f"{address:#x} is not word-aligned: Thumb code")
        elif LATER.match(mnemonic):
            faults.append(f"{address:#x} {mnemonic} {operands} in {function_at(symbols, address)}")
        elif mnemonic in ("bl", "b") or re.match(r"^(bl?)(eq|ne|cs|cc|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|hs|lo)$", mnemonic):
            target = operands.split()[0]
            if target.startswith("0x") and int(target, 16) % 4:
                faults.append(f"{address:#x} branches to {target}, a Thumb address")
    print(f"  {counted} instructions read, {len(literal)} literal words skipped")
    if faults:
        print("not ARMv4 ARM code:")
        for fault in faults[:40]:
            print("  " + fault)
        return 1
    entry = pe.entry + pe.image_base
    if entry % 4:
        print(f"the entry point {entry:#x} is a Thumb address")
        return 1
    print("ARM mode, ARMv4 only: no Thumb, BLX, CLZ, LDRD/STRD or later instructions")
    return 0


# ---- C++ runtime ----------------------------------------------------------

RUNTIME_OBJECTS = re.compile(r"crt3\.o|libmingw32\.a|libgcc(_eh)?\.a")


def runtime_findings(map_path):
    """{kind: [where]} of what would need the C++ runtime."""
    placed, symbols = read_map(map_path)
    found = {}

    def note(kind, where):
        found.setdefault(kind, set()).add(where)

    for section, address, size, source in placed:
        name = os.path.basename(source)
        if re.search(r"lib(std|sup)c\+\+\.a", source):
            note("libstdc++", name)
        elif re.match(r"^\.(ctors|init_array)", section) and not RUNTIME_OBJECTS.search(source):
            note("static constructor", name)
        elif re.match(r"^\.(dtors|fini_array)", section) and not RUNTIME_OBJECTS.search(source):
            note("static destructor", name)
        if re.match(r"^\.(eh_frame|gcc_except_table|pdata|xdata)", section):
            note("exception tables", name)
    for symbol in symbols.values():
        if symbol.startswith(("_ZTI", "_ZTS")):
            note("RTTI", symbol)
        if symbol.startswith(("_Znw", "_Zna", "_ZdlPv", "_ZdaPv")):
            note("operator new", symbol)
        if symbol.startswith("__cxa_"):
            note("C++ ABI", symbol)
    return found


def check_runtime(args):
    found = runtime_findings(args.map)
    for kind in sorted(found):
        where = sorted(found[kind])
        more = f" and {len(where) - 4} more" if len(where) > 4 else ""
        print(f"  {kind}: {', '.join(where[:4])}{more}")
    if args.expect:
        missed = [kind for kind in args.expect if kind not in found]
        if missed:
            print("planted, but not found: " + ", ".join(missed))
            return 1
        print("each planted use of the runtime was found")
        return 0
    if found:
        print("the program needs the C++ runtime")
        return 1
    print("nothing from libstdc++ or libsupc++, no exception tables, no RTTI, no static constructors")
    return 0


# ---- size -----------------------------------------------------------------

GROUPS = [
    ("package/ (format, loader, text expansion)", r"package/"),
    ("shell/ (start-up, sequencing)", r"shell/"),
    ("pages/ (six pages, folder tree)", r"pages/"),
    ("pagekit/ (furniture, page messages)", r"pagekit/"),
    ("install/ (run, progress, hand-off)", r"install/"),
    ("platform/ (device half)", r"platform/"),
    ("zlib inflate (ours, without gzip)", r"libvelkor_zlib\.a"),
    ("C runtime start-up and libgcc", r"crt3\.o|libmingw32\.a|libgcc\.a|libceoldname|libmingwex"),
    ("import tables", r"lib(coredll|commctrl|aygshell|htmlview)\.a"),
]


def check_size(args):
    total = os.path.getsize(args.exe)
    pe = PeFile(args.exe)
    placed, _ = read_map(args.map)
    sizes = {}
    for section, address, size, source in placed:
        if section.startswith((".rsrc", ".stab", ".debug", ".reloc")):
            continue
        group = next((name for name, pattern in GROUPS if re.search(pattern, source)), "other")
        sizes[group] = sizes.get(group, 0) + size
    rsrc = next((size for name, _, size, _, _, _ in pe.sections if name == ".rsrc"), 0)
    headers = pe.sections[0][3] if pe.sections else 0
    print("| Part | Bytes |")
    print("|---|---|")
    for name, _ in GROUPS + [("other", None)]:
        if sizes.get(name):
            print(f"| {name} | {sizes[name]:,} |")
    print(f"| resources (dialogs, check-box bitmap, icon, version) | {rsrc:,} |")
    print(f"| headers | {headers:,} |")
    print(f"| section alignment padding | {total - headers - rsrc - sum(sizes.values()):,} |")
    print(f"| **setup.exe, stripped** | **{total:,} ({total / 1024:.1f} KiB)** |")
    if total > args.limit:
        print(f"larger than the {args.limit:,}-byte budget")
        return 1
    print(f"within the {args.limit:,}-byte budget")
    return 0


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("header")
    p.add_argument("exe")
    p = sub.add_parser("imports")
    p.add_argument("exe")
    p.add_argument("exports")
    p.add_argument("--plant", action="append", default=[])
    p = sub.add_parser("isa")
    p.add_argument("exe")
    p.add_argument("map")
    p.add_argument("objdump")
    p = sub.add_parser("runtime")
    p.add_argument("map")
    p.add_argument("--expect", action="append", default=[])
    p = sub.add_parser("size")
    p.add_argument("exe")
    p.add_argument("map")
    p.add_argument("--limit", type=int, default=64 * 1024)
    args = parser.parse_args()
    return {"header": check_header, "imports": check_imports, "isa": check_isa,
            "runtime": check_runtime, "size": check_size}[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
