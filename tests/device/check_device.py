#!/usr/bin/env python3
"""Checks of the device program that can be made without a Windows CE
toolchain: the device sources compiled for 32-bit ARM Windows with
_WIN32_WCE and UNDER_CE defined, against the mingw-w64 headers and our
ce_shell.h.

  syntax    every device source compiles (warnings are errors)
  imports   every function the device objects (and the zlib members they
            pull in) import is exported by coredll, aygshell, commctrl or
            htmlview, after the table of names the device headers remap
  runtime   the device objects need no C++ runtime: no exceptions, RTTI,
            static constructors or libstdc++

  --plant FILE  compiles FILE as one more device object; the check then
                passes only when it refuses FILE for exactly the calls
                (imports) or at least the uses (runtime) given with --expect,
                and nothing else.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

DEFINES = ["-D_WIN32_WCE=0x502", "-DUNDER_CE", "-DUNICODE", "-D_UNICODE", "-DWIN32_LEAN_AND_MEAN"]
FLAGS = ["--target=armv7-w64-windows-gnu", "-std=c++17", "-fno-exceptions", "-fno-rtti",
         "-Wall", "-Wextra", "-Wno-unused-parameter", "-Wno-pragma-pack", "-Werror"]
DEVICE_DIRS = ["package", "shell", "pages", "install", "resources", "platform"]

# What a C++ runtime leaves among an object's undefined symbols.
RUNTIME_PATTERNS = [
    (r"^__cxa_", "C++ runtime support"),
    (r"^__gxx_personality", "exception handling"),
    (r"^_Unwind_", "exception unwinding"),
    (r"^__Cxx", "exception handling"),
    (r"^_ZT[ISV]", "RTTI or a virtual table"),
    (r"^_Zn[wa]|^_Zd[la]", "operator new or delete"),
    (r"^_ZN?K?St|^_ZSt|^_ZN9__gnu_cxx", "libstdc++"),
    (r"^__dso_handle$|^atexit$|^_onexit$", "a static destructor"),
]
CONSTRUCTOR_SECTIONS = re.compile(r"^(\.ctors|\.dtors|\.init_array|\.fini_array|\.CRT\$X[CI])")


def run(cmd):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def compile_flags(args):
    flags = FLAGS + DEFINES + ["-nostdinc", "-isystem", args.clang_include]
    for d in args.system_include:
        flags += ["-isystem", d]
    for d in args.after_include:
        flags += ["-idirafter", d]
    flags += ["-I" + os.path.join(args.root, d) for d in DEVICE_DIRS]
    return flags


def label(args, source):
    return os.path.relpath(source, args.root)


def check_syntax(args):
    failures = 0
    for source in args.sources:
        result = run([args.clang] + compile_flags(args) + ["-fsyntax-only", source])
        if result.returncode != 0:
            failures += 1
            print("%s does not compile for the device:\n%s" % (label(args, source), result.stdout))
    print("%d device sources, %d failed to compile" % (len(args.sources), failures))
    return failures == 0


def compile_objects(args, sources, directory):
    """Source -> object path; None when one did not compile."""
    objects = {}
    for source in sources:
        out = os.path.join(directory, label(args, source).replace(os.sep, "_") + ".obj")
        result = run([args.clang] + compile_flags(args) + ["-Os", "-c", source, "-o", out])
        if result.returncode != 0:
            print("%s does not compile for the device:\n%s" % (label(args, source), result.stdout))
            return None
        objects[source] = out
    return objects


def symbols(args, path):
    """(defined, undefined) symbol names of an object, or of each member of
    an archive as {member: (defined, undefined)}."""
    result = run([args.nm, "-A", path])
    if result.returncode != 0:
        raise SystemExit("cannot read the symbols of %s:\n%s" % (path, result.stdout))
    members = {}
    for line in result.stdout.splitlines():
        where, _, rest = line.rpartition(": ")
        fields = rest.split()
        if len(fields) < 2:
            continue
        defined, undefined = members.setdefault(where, (set(), set()))
        kind, name = fields[-2], fields[-1]
        if kind == "U":
            undefined.add(name)
        elif kind.upper() in "TDBRC":
            defined.add(name)
    return members


def imported_name(symbol):
    return symbol[len("__imp_"):] if symbol.startswith("__imp_") else symbol


def load_exports(directory):
    exports = {}
    for name in sorted(os.listdir(directory)):
        if not name.endswith(".txt"):
            continue
        module = name[:-4]
        with open(os.path.join(directory, name)) as f:
            for line in f:
                line = line.strip()
                if line and not line.startswith("#"):
                    exports.setdefault(line, module)
    return exports


def load_remap(path):
    remap = {}
    with open(path) as f:
        for line in f:
            line = line.split("#", 1)[0].split()
            if line:
                remap[line[0]] = [] if line[1:] == ["-"] else line[1:]
    return remap


def needed_imports(args, objects):
    """{function: set of callers} for everything the device objects and the
    zlib members they pull in import, and the device objects' own symbol
    tables {object label: (defined, undefined)}."""
    tables = {}
    for source, obj in objects.items():
        tables[label(args, source)] = next(iter(symbols(args, obj).values()), (set(), set()))
    defined = set().union(*(d for d, _ in tables.values()))
    callers = {}
    for who, (_, undefined) in tables.items():
        for symbol in undefined - defined:
            callers.setdefault(symbol, set()).add(who)

    # Static zlib: pull in the members that define what is still missing,
    # as the linker would, and take on their own imports.
    zlib = symbols(args, args.zlib)
    pulled = set()
    changed = True
    while changed:
        changed = False
        for member, (member_defined, member_undefined) in zlib.items():
            if member in pulled or not (member_defined & set(callers)):
                continue
            pulled.add(member)
            changed = True
            for symbol in member_defined:
                callers.pop(symbol, None)
            defined |= member_defined
            for symbol in member_undefined - defined:
                callers.setdefault(symbol, set()).add("zlib " + member.rsplit(":", 1)[-1])
    for symbol in list(callers):
        if symbol in defined:
            del callers[symbol]
    return callers, tables


def check_imports(args, objects):
    exports = load_exports(args.exports)
    remap = load_remap(args.remap)
    callers, _ = needed_imports(args, objects)
    used = {}
    refused = []
    for symbol, who in sorted(callers.items()):
        name = imported_name(symbol)
        targets = remap.get(name, [name])
        for target in targets:
            if target == "(compiler)":
                continue
            if target in exports:
                used.setdefault(exports[target], set()).add(target)
                continue
            hint = ""
            if name.endswith("A") and (name[:-1] + "W") in exports:
                hint = " (an ANSI function; the device has only " + name[:-1] + "W)"
            elif name.endswith("A"):
                hint = " (an ANSI function; the device has only UTF-16 calls)"
            for caller in sorted(who):
                refused.append((name, caller, hint))

    for module in sorted(used):
        print("%s: %s" % (module, " ".join(sorted(used[module]))))
    print("%d Windows CE functions used" % sum(len(v) for v in used.values()))
    for name, caller, hint in refused:
        print("NOT ON THE DEVICE: %s, called from %s%s" % (name, caller, hint))

    if args.plant:
        planted = label(args, args.plant)
        got = {(name, caller) for name, caller, _ in refused}
        want = {(name, planted) for name in args.expect}
        if got != want:
            print("planted calls: refused %s, expected exactly %s" % (sorted(got), sorted(want)))
            return False
        print("every planted call was refused, and nothing else")
        return True
    return not refused


def check_runtime(args, objects):
    _, tables = needed_imports(args, objects)
    defined = set().union(*(d for d, _ in tables.values()))
    problems = []
    for who, (_, undefined) in sorted(tables.items()):
        for symbol in sorted(undefined - defined):
            for pattern, what in RUNTIME_PATTERNS:
                if re.search(pattern, symbol):
                    problems.append("%s needs %s (%s)" % (who, symbol, what))
    for source, obj in sorted(objects.items()):
        result = run([args.objdump, "-h", obj])
        for line in result.stdout.splitlines():
            fields = line.split()
            if len(fields) > 1 and fields[0].isdigit() and CONSTRUCTOR_SECTIONS.match(fields[1]):
                problems.append("%s has a static constructor or destructor (%s)" % (label(args, source), fields[1]))
    for problem in problems:
        print(problem)
    print("%d device objects, %d uses of the C++ runtime" % (len(objects), len(problems)))
    if args.plant:
        planted = label(args, args.plant)
        strays = [p for p in problems if not p.startswith(planted + " ")]
        missing = [e for e in args.expect if not any(e in p for p in problems)]
        if strays or missing:
            print("planted runtime uses: unexpected %s, not found %s" % (strays, missing))
            return False
        print("every planted runtime use was found, and nothing else")
        return True
    return not problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=["syntax", "imports", "runtime"])
    parser.add_argument("--root", required=True)
    parser.add_argument("--clang", default="clang++")
    parser.add_argument("--clang-include", required=True)
    parser.add_argument("--system-include", action="append", default=[])
    parser.add_argument("--after-include", action="append", default=[])
    parser.add_argument("--nm", default="llvm-nm")
    parser.add_argument("--objdump", default="llvm-objdump")
    parser.add_argument("--zlib")
    parser.add_argument("--exports")
    parser.add_argument("--remap")
    parser.add_argument("--plant")
    parser.add_argument("--expect", action="append", default=[])
    parser.add_argument("sources", nargs="+")
    args = parser.parse_args()

    if args.check == "syntax":
        return 0 if check_syntax(args) else 1
    sources = list(args.sources) + ([args.plant] if args.plant else [])
    with tempfile.TemporaryDirectory(prefix="velkor-device-") as directory:
        objects = compile_objects(args, sources, directory)
        if objects is None:
            return 1
        ok = check_imports(args, objects) if args.check == "imports" else check_runtime(args, objects)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
