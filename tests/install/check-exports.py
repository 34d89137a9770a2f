#!/usr/bin/env python3
"""The export and import tables of a hyl.dll as objdump -p shows them.

   check-exports.py OBJDUMP DLL SOURCE_DEF PACKAGE_DEF [PROGRAM...]

SOURCE_DEF is frame/hyl.def, the 32-bit export table: `_Name@N = Target@N @K`.
A 32-bit DLL (PE32) exports exactly those 44 decorated names at their
ordinals.  A 64-bit DLL (PE32+) exports each plain name (Name) at ordinal K
and the decorated name at K + 44, both at the entry point of K; nothing else.
In both, names share an entry point exactly when hyl.def gives them one
target.  PACKAGE_DEF, the hyl.def that ships beside the DLL, lists the same
names at the same ordinals.  The DLL and each PROGRAM are of one kind and
import system DLLs only.
"""
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll", "shell32.dll"}


def dump(objdump, path):
    text = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout
    magic = re.search(r"^Magic\s+([0-9a-f]+)", text, re.M)
    base = re.search(r"^Ordinal Base\s+(\d+)", text, re.M)
    base = int(base.group(1)) if base else 1
    rvas = {int(o): int(r, 16) for o, r in re.findall(r"^\s*\[\s*\d+\] \+base\[\s*(\d+)\] ([0-9a-f]+) Export RVA", text, re.M)}
    names = {}
    table = text.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) == 2:
        for index, name in re.findall(r"^\s*\[\s*(\d+)\] (\S+)$", table[1].split("\n\n", 1)[0], re.M):
            names[name] = int(index) + base
    imports = [n.lower() for n in re.findall(r"^\s*DLL Name: (\S+)", text, re.M)]
    return (magic.group(1) if magic else None), rvas, names, imports


def def_exports(path):
    """The NAME = TARGET @ORDINAL lines of a .def file, as (name, target, ordinal)."""
    rows = []
    for line in open(path, encoding="ascii"):
        m = re.match(r"^\s+(\S+) = (\S+) @(\d+)\s*$", line)
        if m:
            rows.append((m.group(1), m.group(2), int(m.group(3))))
    return rows


def main():
    objdump, dll, source_def, package_def, programs = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]
    problems = []
    magic, rvas, names, imports = dump(objdump, dll)
    wide = magic == "020b"
    if magic not in ("010b", "020b"):
        problems.append(f"{dll}: not a PE32 or PE32+ image (magic {magic})")

    source = def_exports(source_def)
    want = {}  # name -> (ordinal, target)
    for decorated, target, ordinal in source:
        target = target.split("@")[0]
        if wide:
            want[decorated[1:].split("@")[0]] = (ordinal, target)
            want[decorated] = (ordinal + len(source), target)
        else:
            want[decorated] = (ordinal, target)

    for name, (ordinal, _) in sorted(want.items(), key=lambda item: item[1][0]):
        if names.get(name) != ordinal:
            problems.append(f"{name}: ordinal {names.get(name)}, expected {ordinal}")
    for name in sorted(set(names) - set(want)):
        problems.append(f"{name}: exported at ordinal {names[name]}, and no such export is wanted")
    if sorted(rvas) != sorted(o for o, _ in want.values()):
        problems.append(f"ordinals {min(rvas, default=0)} to {max(rvas, default=0)} ({len(rvas)}), expected 1 to {len(want)}")
    # Names share an entry point exactly when they share a target.
    by_target = {}
    for name, (ordinal, target) in want.items():
        by_target.setdefault(target, set()).add(rvas.get(ordinal))
    for target, entry in by_target.items():
        if len(entry) != 1:
            problems.append(f"the names of {target} are at {len(entry)} entry points")
    if len({next(iter(e)) for e in by_target.values()}) != len(by_target):
        problems.append("two targets share an entry point")

    shipped = {name: ordinal for name, _, ordinal in def_exports(package_def)}
    if shipped != {name: ordinal for name, (ordinal, _) in want.items()}:
        problems.append(f"{package_def} does not list the DLL's {len(want)} names and ordinals")

    for path in [dll] + programs:
        kind, _, _, found = dump(objdump, path)
        if kind != magic:
            problems.append(f"{path}: magic {kind}, the DLL's is {magic}")
        others = sorted(set(found) - SYSTEM_DLLS)
        if others:
            problems.append(f"{path}: imports {', '.join(others)}")

    for p in problems:
        print(p)
    if problems:
        return 1
    kind = "PE32+" if wide else "PE32"
    print(f"hyl.dll ({kind}): {len(names)} names at ordinals 1 to {len(rvas)}, "
          f"{len(by_target)} entry points; imports {', '.join(sorted(set(imports)))}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
