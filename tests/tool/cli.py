#!/usr/bin/env python3
"""The hyl tool as a user meets it: help, version and usage errors, and
import and append refusing what a table cannot hold, by row and column, with
the table left as it was; info and dump of a table whose file disagrees with
its count.

    cli.py HYL VERSION MANPAGE
"""
import csv as csvfile
import hashlib
import io
import json
import os
import re
import subprocess
import sys
import tempfile

hyl, version, manpage = sys.argv[1:4]
hyl = os.path.abspath(hyl)
os.environ["TZ"] = "UTC0"  # the time conversions below
samples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples")
work = tempfile.mkdtemp()
failures = []

BASE = "NAME:C:5,QTY:N:6:2,WHEN:D:8,OK:L:1\nкотёл,1.5,20240301,Y\n"

# (what, command, CSV, extra arguments, exit status, texts expected in the output)
# import makes new.dbf (absent before); append and update change a table made from BASE.
CASES = [
    ("value longer than its field", "import", "NAME:C:5\nlong value here\n", [], 1,
     ["row 2, column NAME: 'long value here' has 15 characters; C(5) holds 5"]),
    ("letters in a number", "import", "QTY:N:5\nabc\n", [], 1, ["row 2, column QTY: 'abc' is not a number"]),
    ("number wider than N", "import", "QTY:N:5\n-12345\n", [], 1, ["'-12345' does not fit N(5,0): 6 characters"]),
    ("more decimals than N has", "import", "QTY:N:6:2\n1.234\n", [], 1, ["3 digits after the point, it holds 2"]),
    ("point in a whole-number field", "import", "QTY:N:4\n1.5\n", [], 1, ["N(4,0): it holds whole numbers"]),
    ("date not YYYYMMDD", "import", "WHEN:D:8\n2024-03-01\n", [], 1, ["'2024-03-01' is not a date YYYYMMDD"]),
    ("no such day", "import", "WHEN:D:8\n20230229\n", [], 1, ["'20230229' is not a date: no such day"]),
    ("not a logical value", "import", "OK:L:1\nyes\n", [], 1, ["'yes' is not a logical value"]),
    ("emoji", "import", "NAME:C:9\nsmile \U0001F600\n", [], 1, ["(U+1F600) has no place in code page 866"]),
    ("1251 quote 866 lacks", "import", "NAME:C:9\n\u00abq\u00bb\n", [], 1, ["(U+00AB) has no place in code page 866"]),
    ("control character", "import", "NAME:C:9\n\"a\tb\"\n", [], 1, ["a control character (U+0009)"]),
    ("bytes that are not UTF-8", "import", b"NAME:C:9\nab\xff\n", [], 1, ["not UTF-8 text (byte 0xFF)"]),
    ("unknown type", "import", "QTY:X:5\n1\n", [], 1, ["row 1, column 1: unknown field type 'X'"]),
    ("a type the format lacks", "import", "QTY:Q:5\n1\n", [], 1,
     ["row 1, column 1: type Q: Visual FoxPro has it, dBASE III does not (--format vfp)"]),
    ("a nullable field outside Visual FoxPro", "import", "NAME:C:5:NULL\nx\n", ["--format", "foxpro"], 1,
     ["a nullable field: Visual FoxPro has them, FoxPro does not"]),
    ("a name of 11 characters outside dBASE III", "import", "ABCDEFGHIJK:C:2\nx\n", ["--format", "foxpro"], 1,
     ["'ABCDEFGHIJK' has 11 characters; a field name holds at most 10 in FoxPro"]),
    ("256 fields in Visual FoxPro", "import", ",".join(f"F{i}:L" for i in range(256)) + "\n", ["--format", "vfp"], 1,
     ["256 fields; a Visual FoxPro table holds at most 255"]),
    ("bytes not in hexadecimal", "import", "RAW:Q:4\n0x0102\n0x0G\n", ["--format", "vfp"], 1,
     ["row 3, column RAW: '0x0G' is not bytes in hexadecimal (0x0102FF)"]),
    ("name of 14 characters", "import", "QUANTITYPERBOX:N:5\n1\n", [], 1,
     ["'QUANTITYPERBOX' has 14 characters; a field name holds at most 11"]),
    ("empty name", "import", ":C:5\nx\n", [], 1, ["row 1, column 1: the field name is empty"]),
    ("repeated name", "import", "QTY:N:5,qty:N:5\n1,2\n", [], 1,
     ["row 1, column 2: field name 'qty' is repeated (column 1 has it)"]),
    ("no length", "import", "NAME:C\nx\n", [], 1, ["'NAME:C' is not NAME:TYPE:LENGTH[:DECIMALS]"]),
    ("D of the wrong length", "import", "WHEN:D:10\n20240301\n", [], 1, ["a D field is 8 characters long"]),
    ("unterminated quote", "import", 'NAME:C:5\nab\n"cd\n', [], 1,
     ["row 3, column 1 (NAME): malformed CSV: a quoted value is not closed"]),
    ("text after a closing quote", "import", 'NAME:C:5\n"ab"c\n', [], 1, ["text after the closing quote"]),
    ("row shorter than the header", "import", "A:C:1,B:C:1\nx\n", [], 1, ["row 2: 1 values, the header names 2"]),
    ("rows counted past a value on two lines", "import", 'A:C:3,B:N:2\n"x\ny",1\nz,q\n', [], 1,
     ["row 3 (line 4), column B: 'q' is not a number"]),
    ("every problem counted, the first twenty shown", "import", "QTY:N:2\n" + "x\n" * 30, [], 1,
     ["row 21, column QTY", "... and 10 more", "30 problems in"]),
    ("a bad last row leaves no half-made table", "import", "QTY:N:2\n1\n2\n3\nbad\n", [], 1,
     ["row 5, column QTY", "new.dbf was not made"]),
    ("cut knowingly", "import", "NAME:C:5\nlong value here\nshort\n", ["--truncate"], 0, ["1 value cut"]),
    ("866 beyond 1251, Cyrillic names", "import", "ИМЯ:C:9\n╬═╬ ёлка\n", [], 0, []),
    ("append: a long value", "append", "NAME\nabcdefg\n", [], 1,
     ["row 2, column NAME: 'abcdefg' has 7 characters", "is unchanged"]),
    ("append: a bad row after good ones", "append", "QTY,NAME\n1,a\n2,b\nx,c\n", [], 1, ["row 4, column QTY"]),
    ("append: no such field", "append", "NAME,COLOUR\nx,red\n", [], 1, ["column 2: ", "has no field 'COLOUR'"]),
    ("append: a field named twice", "append", "name,NAME\nx,y\n", [], 1, ["field 'NAME' is named twice"]),
    ("append: names in any case and order", "append", "ok,qty,name\nn,-2.25,насос\n", [], 0, ["1 record appended"]),
    ("update: values checked as append's", "update", "RECORD,QTY\n0,abc\n", [], 1,
     ["row 2, column QTY: 'abc' is not a number", "is unchanged"]),
    ("update: a record past the end", "update", "RECORD,QTY\n0,1\n1,2\n", [], 1,
     ["row 3, column RECORD: record 1 is not in the table (it has 1 record)"]),
    ("update: no RECORD column", "update", "QTY\n1\n", [], 1, ["no RECORD column"]),
]


def run(*args, **kw):
    return subprocess.run([hyl, *args], capture_output=True, cwd=work, **kw)


def case(what, command, csv, extra, want_exit, want_err):
    data = os.path.join(work, "data.csv")
    with open(data, "wb") as f:
        f.write(csv if isinstance(csv, bytes) else csv.encode())
    table = os.path.join(work, "new.dbf" if command == "import" else "base.dbf")
    for name in ("new.dbf", "base.dbf"):
        if os.path.exists(os.path.join(work, name)):
            os.remove(os.path.join(work, name))
    if command != "import":
        with open(os.path.join(work, "base.csv"), "w") as f:
            f.write(BASE)
        run("import", "base.dbf", "base.csv", check=True)
    before = open(table, "rb").read() if os.path.exists(table) else None
    got = run(command, table, data, *extra)
    err = got.stderr.decode(errors="replace")
    said = got.stdout.decode(errors="replace") + err
    problems = []
    if got.returncode != want_exit:
        problems.append(f"exit {got.returncode}, expected {want_exit}")
    problems += [f"no '{w}' in the output" for w in want_err if w not in said]
    if want_exit == 1:
        after = open(table, "rb").read() if os.path.exists(table) else None
        if after != before:
            problems.append("the table changed" if before else "a table was made")
        if err.count("\n") > 22:
            problems.append(f"{err.count(chr(10))} lines on stderr")
    if problems:
        failures.append(f"{what}: {'; '.join(problems)}\n{said}")
    return got


# What the two successful writes stored: the cut value, 866 beyond 1251.
for c in CASES:
    got = case(*c)
    if c[0] == "cut knowingly" and got.returncode == 0:
        dump = run("dump", "new.dbf", "--csv").stdout.decode()
        if dump != "NAME\nlong\nshort\n":
            failures.append(f"cut knowingly: dump gave {dump!r}")
    if c[0].startswith("866 beyond") and got.returncode == 0:
        raw = open(os.path.join(work, "new.dbf"), "rb").read()
        if "╬═╬ ёлка".encode("cp866") not in raw or "ИМЯ".encode("cp866") not in raw:
            failures.append("866 beyond 1251: the values are not stored in code page 866")

# info and dump show the records the header counts, and say when the end of
# the file disagrees: (what, change to the file, warning expected or None).
with open(os.path.join(work, "three.csv"), "w") as f:
    f.write("NAME:C:5\na\nb\nc\n")
run("import", "three.dbf", "three.csv", check=True)
made = open(os.path.join(work, "three.dbf"), "rb").read().removesuffix(b"\x1a")  # the records, without the end marker
for what, damaged, warning in [
    ("the end marker", made + b"\x1a", None),
    ("an uncounted record", made[:4] + b"\x02" + made[5:], "6 bytes after the 2 records the header counts"),
    ("a cut copy", made[:-8], "the header counts 3 records but the file holds 1 whole record;"),
]:
    with open(os.path.join(work, "damaged.dbf"), "wb") as f:
        f.write(damaged)
    for command in (["info"], ["dump", "--csv"]):
        got = run(command[0], "damaged.dbf", *command[1:])
        err = got.stderr.decode()
        if got.returncode != 0 or (warning in err if warning else err == "") is False:
            failures.append(f"{command[0]} of a table with {what}: exit {got.returncode}, stderr {err!r}")

# Tables in other code pages: import --encoding, what info says of them, dump
# --json, and tables of other layouts refused by name.
# (what, command line, exit status, text expected in the output)
with open(os.path.join(work, "cz.csv"), "w") as f:
    f.write("JMÉNO:C:20,POČET:N:5\nHněvošický háj,3\n")
# dBASE 7: a 68-byte header naming its language driver, 48-byte descriptors,
# an I field big-endian with its sign bit flipped.
with open(os.path.join(work, "dbase7.dbf"), "wb") as f:
    def descriptor(name, kind, length):
        return name.encode("cp866").ljust(32, b"\0") + kind + bytes([length]) + bytes(14)
    f.write(bytes([4, 126, 12, 8]) + (1).to_bytes(4, "little") + (68 + 96 + 1).to_bytes(2, "little") +
            (15).to_bytes(2, "little") + bytes(20) + b"DB866RU0".ljust(32, b"\0") + bytes(4) +
            descriptor("ИМЯ", b"C", 10) + descriptor("N", b"I", 4) + b"\r" +
            b" " + "Котёл".encode("cp866").ljust(10) + (7 ^ 0x80000000).to_bytes(4, "big") + b"\x1a")
ENCODINGS = [
    ("UTF-8 table with a .cpg", ["import", "u.dbf", "cz.csv", "--encoding", "utf-8"], 0, "2 fields, 1 record\n"),
    ("its code page named", ["info", "u.dbf"], 0, "code page: UTF-8 (.cpg)"),
    ("its values typed", ["dump", "u.dbf", "--json"], 0, '{"JMÉNO":"Hněvošický háj","POČET":3}\n'),
    ("1250 table, its language byte", ["import", "w.dbf", "cz.csv", "--encoding", "windows-1250"], 0, ""),
    ("read by its language byte", ["info", "w.dbf"], 0, "code page: code page 1250 (language byte 0xC8)"),
    ("a code page no language byte names, in a .cpg", ["import", "i.dbf", "cz.csv", "--encoding", "ISO-8859-2"], 0, ""),
    ("read back in it", ["dump", "i.dbf", "--json"], 0, '{"JMÉNO":"Hněvošický háj","POČET":3}\n'),
    ("a value 1251 cannot hold", ["import", "r.dbf", "cz.csv", "--encoding", "1251"], 1,
     "column 2: field name 'POČET': 'Č' (U+010C) has no place in code page 1251"),
    ("read in a code page given", ["dump", "w.dbf", "--csv", "--encoding", "1252"], 0, "POÈET\nHnìvošický"),
    ("a code page that is none", ["dump", "w.dbf", "--encoding", "klingon"], 2, "'klingon' names no code page"),
    ("--csv and --json", ["dump", "w.dbf", "--csv", "--json"], 2, "cannot be given together"),
    ("dBASE 7 read", ["dump", "dbase7.dbf", "--json"], 0, '{"ИМЯ":"Котёл","N":7}\n'),
    ("dBASE 7's language driver", ["info", "dbase7.dbf"], 0, "code page: code page 866 (language driver DB866RU0)"),
    ("dBASE 7 checked", ["check", "dbase7.dbf"], 0, "dbase7.dbf: sound (1 record, 2 fields)"),
]
for what, args, want_exit, want in ENCODINGS:
    got = run(*args)
    said = got.stdout.decode(errors="replace") + got.stderr.decode(errors="replace")
    if got.returncode != want_exit or want not in said:
        failures.append(f"{what}: hyl {' '.join(args)}: exit {got.returncode}, expected {want_exit} and {want!r}:\n{said}")

# Every format written with memo values (and in Visual FoxPro every type of
# its own and a null), then changed, deleted from and packed: after each
# step dump --json reads back what a model of the table holds, and check
# finds it sound.  (format, header row, each record's values as CSV, as dump --json reads them)
MEMO = ("NAME:C:10,NOTE:M", ['котёл,"две\nстроки"', "насос,", "вентиль,третий"],
        [{"NAME": "котёл", "NOTE": "две\nстроки"}, {"NAME": "насос", "NOTE": None}, {"NAME": "вентиль", "NOTE": "третий"}])
VFP_MORE = (",ID:I,PRICE:Y,STAMP:T,RATE:B:8:2,TAG:V:8,RAW:Q:4,PIC:G,QTY:N:8:2:NULL",
            [",-5,12.3456,2024-03-01T12:30:45.123,1.25,abc,0x0102FF,0xDEADBEEF,", ",7,0.5,2024-03-02,0,,,,1.5",
             ",,-1,2024-03-03 08:00,-2.5,abcdefgh,0x01020304,,"],
            [{"ID": -5, "PRICE": 12.3456, "STAMP": "2024-03-01T12:30:45.123", "RATE": 1.25, "TAG": "abc",
              "RAW": {"bytes": 3}, "PIC": {"bytes": 4}, "QTY": None},
             {"ID": 7, "PRICE": 0.5, "STAMP": "2024-03-02T00:00:00", "RATE": 0, "TAG": "", "RAW": {"bytes": 0},
              "PIC": None, "QTY": 1.5},
             {"ID": 0, "PRICE": -1, "STAMP": "2024-03-03T08:00:00", "RATE": -2.5, "TAG": "abcdefgh",
              "RAW": {"bytes": 4}, "PIC": None, "QTY": None}])
VFP_BLANK = {"ID": 0, "PRICE": 0, "STAMP": None, "RATE": 0, "TAG": "", "RAW": {"bytes": 0}, "PIC": None, "QTY": None}
# (command and arguments after the table, CSV given as DATA, what it does to
# the model's records given the values of a new record's empty fields)
EDITS = [
    (["update"], "RECORD,NOTE,name\n1,новая запись,НАСОС\n0,,котёл\n",
     lambda rows, blank: rows[1].update(NOTE="новая запись", NAME="НАСОС") or rows[0].update(NOTE=None)),
    (["append"], 'NOTE,NAME\n"ещё\nодна",кран\n', lambda rows, blank: rows.append(dict(blank, NAME="кран", NOTE="ещё\nодна"))),
    (["delete", "0", "2-3"], None, lambda rows, blank: [rows[k].update(_deleted=True) for k in (0, 2, 3)]),
    (["undelete", "3"], None, lambda rows, blank: rows[3].pop("_deleted")),
    (["pack"], None, lambda rows, blank: rows.__setitem__(slice(None), [r for r in rows if "_deleted" not in r])),
]
for format in ("dbase3", "dbase4", "foxpro", "vfp"):
    header, lines, rows, blank = MEMO[0], list(MEMO[1]), [dict(r) for r in MEMO[2]], {}
    if format == "vfp":
        header += VFP_MORE[0]
        lines = [a + b for a, b in zip(lines, VFP_MORE[1])]
        rows = [dict(a, **b) for a, b in zip(rows, VFP_MORE[2])]
        blank = VFP_BLANK
    table = f"{format}.dbf"
    with open(os.path.join(work, "made.csv"), "w") as f:
        f.write(header + "\n" + "\n".join(lines) + "\n")
    steps = [(["import"], None, None, ["made.csv", "--format", format])] + [(c[:1], d, m, c[1:]) for c, d, m in EDITS]
    for command, data, model, rest in steps:
        if data:
            with open(os.path.join(work, "edit.csv"), "w") as f:
                f.write(data)
        got = run(command[0], table, *(["edit.csv"] if data else []), *rest)
        if model:
            model(rows, blank)
        dump = run("dump", table, "--json").stdout.decode()
        read = [json.loads(line) for line in dump.splitlines()]
        check = run("check", table).stdout.decode()
        if got.returncode != 0 or read != rows or "sound" not in check:
            failures.append(f"{format}: {command[0]}: exit {got.returncode} {got.stderr.decode()!r}; "
                            f"dump {read} expected {rows}; {check}")
    said = got.stdout.decode()
    if "2 records kept, 2 removed" not in said or "memo file" not in said or ".bak" not in said:
        failures.append(f"{format}: pack said {said!r}")
    if format == "dbase3":
        csv = run("dump", table, "--csv").stdout.decode()
        if csv != "NAME,NOTE\nНАСОС,новая запись\nкран,\"ещё\nодна\"\n":
            failures.append(f"dump --csv of what import and append wrote: {csv!r}")

# A production index (the header's flag) is refused by every command that
# writes, the table left as it was, until --drop-index clears the flag and
# says so.
with open(os.path.join(work, "edit.csv"), "w") as f:
    f.write("RECORD,NAME\n0,x\n")
for args in (["append", "edit.csv"], ["update", "edit.csv"], ["delete", "0"], ["undelete", "0"], ["pack", "--no-backup"]):
    if args[0] == "append":
        with open(os.path.join(work, "edit.csv"), "w") as f:
            f.write("NAME\nx\n")
    path = os.path.join(work, "dbase4.dbf")
    with open(path, "r+b") as f:
        f.seek(28)
        f.write(b"\x01")
    before = open(path, "rb").read()
    refused = run(args[0], path, *args[1:])
    if refused.returncode != 1 or b"dbase4.mdx" not in refused.stderr or open(path, "rb").read() != before:
        failures.append(f"{args[0]} of an indexed table: exit {refused.returncode}, {refused.stderr!r}")
    dropped = run(args[0], path, *args[1:], "--drop-index")
    if dropped.returncode != 0 or b"cleared the production index flag" not in dropped.stderr:
        failures.append(f"{args[0]} --drop-index: exit {dropped.returncode}, {dropped.stderr!r}")
    if args[0] == "append":
        with open(os.path.join(work, "edit.csv"), "w") as f:
            f.write("RECORD,NAME\n0,x\n")

# A value that does not read as its type is shown once, as it is stored.
with open(os.path.join(work, "typed.csv"), "w") as f:
    f.write("QTY:N:5,WHEN:D:8\n1,20240301\n")
run("import", "typed.dbf", "typed.csv", check=True)
typed = open(os.path.join(work, "typed.dbf"), "rb").read().replace(b"    120240301", b"  1x220230229")
with open(os.path.join(work, "typed.dbf"), "wb") as f:
    f.write(typed)
for option, want in [("--json", '{"QTY":"1x2","WHEN":"20230229"}\n'), ("--csv", "QTY,WHEN\n1x2,20230229\n")]:
    got = run("dump", "typed.dbf", option).stdout.decode()
    if got != want:
        failures.append(f"dump {option} of values that are not their type: {got!r}, expected {want!r}")

# Tables split into ranges of records read on several threads: dump
# writes what one thread writes, byte for byte, warnings and all, whatever
# the threads; --fields shows the columns asked for; the output streams.
# The plain table (1.3 MB, three ranges, the last one short) has deleted
# records; the memo table's ranges are of 1,024 records, and some of its
# memos are past the end of its memo file.
subprocess.run([sys.executable, os.path.join(samples, "..", "bench", "make_large_table.py"),
                os.path.join(work, "large.dbf"), "12007"], check=True)
with open(os.path.join(work, "memo.dbf"), "wb") as f:
    rows = 2600
    f.write(bytes([0x83, 124, 1, 1]) + rows.to_bytes(4, "little") + (97).to_bytes(2, "little") +
            (21).to_bytes(2, "little") + bytes(17) + b"\x65" + bytes(2) +
            b"N".ljust(11, b"\0") + b"N" + bytes(4) + bytes([10, 0]) + bytes(14) +
            b"NOTE".ljust(11, b"\0") + b"M" + bytes(4) + bytes([10, 0]) + bytes(14) + b"\r")
    for r in range(rows):
        block = "" if r % 5 == 0 else "99" if r % 701 == 0 else str(1 + r % 3)
        f.write(b"*" if r % 13 == 0 else b" " + str(r).rjust(10).encode() + block.rjust(10).encode())
with open(os.path.join(work, "memo.dbt"), "wb") as f:
    f.write(bytes(512) + "".join(f"заметка {n}\x1a".ljust(512) for n in range(3)).encode("cp866"))
for table in ("large.dbf", "memo.dbf"):
    for mode in ([], ["--csv"], ["--json"], ["--csv", "--fields", "NOTE,N" if table == "memo.dbf" else "QTY,NAME"],
                 ["--date", "N" if table == "memo.dbf" else "STARTED"]):
        one, many = (run("dump", table, *mode, "--threads", n) for n in ("1", "3"))
        if (one.returncode, one.stdout, one.stderr) != (many.returncode, many.stdout, many.stderr) or one.returncode:
            failures.append(f"dump {table} {' '.join(mode)}: three threads do not write what one writes "
                            f"(exit {one.returncode}, {many.returncode}; {one.stderr!r}, {many.stderr!r})")
whole = list(csvfile.reader(io.StringIO(run("dump", "large.dbf", "--csv").stdout.decode())))
picked = list(csvfile.reader(io.StringIO(run("dump", "large.dbf", "--csv", "--fields", "QTY,NAME").stdout.decode())))
if picked != [[row[5], row[0]] for row in whole] or len(whole) != 12008:
    failures.append(f"dump --fields QTY,NAME: not the columns of the whole dump ({len(picked)} rows, {len(whole)})")
got = run("dump", "large.dbf", "--fields", "QTY,COLOUR")
if got.returncode != 2 or b"no field named COLOUR" not in got.stderr:
    failures.append(f"dump --fields naming no field: exit {got.returncode}, {got.stderr!r}")
# The tool's high-water mark of memory is a few ranges' worth, whatever
# the table: the same table with its records eight times over (11 MB) costs
# hardly more memory to dump than the table (1.3 MB), far less than what
# the records add.  Not under AddressSanitizer (the sanitizer run sets
# ASAN_OPTIONS), whose allocator keeps and spreads memory its own way.
large = open(os.path.join(work, "large.dbf"), "rb").read()
start = int.from_bytes(large[8:10], "little")
with open(os.path.join(work, "larger.dbf"), "wb") as f:
    f.write(large[:4] + (8 * 12007).to_bytes(4, "little") + large[8:start] + large[start:] * 8)


def peak_kb(table):
    return int(subprocess.run([sys.executable, "-c", "import resource, subprocess, sys\n"
                               "subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)\n"
                               "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)",
                               hyl, "dump", os.path.join(work, table), "--threads", "2"],
                              capture_output=True, check=True).stdout)


if "ASAN_OPTIONS" not in os.environ:
    added = (os.path.getsize(os.path.join(work, "larger.dbf")) - len(large)) // 1024
    peaks = peak_kb("larger.dbf"), peak_kb("large.dbf")
    if peaks[0] > peaks[1] + added // 2:
        failures.append(f"dump holds more of a larger table: {peaks[0]} KB, {peaks[1]} KB")

# Help, version and usage errors.
USAGE = [
    (["--help"], 0, "stdout", "Usage:"),
    (["import", "--help"], 0, "stdout", "--truncate"),
    (["import", "--help"], 0, "stdout", "NAME:TYPE[:LENGTH[:DECIMALS]][:NULL]"),
    (["import", "t.dbf", "d.csv", "--format", "dbase4", "--memo-block-size", "1000"], 2, "stderr",
     "a dBASE IV memo file has blocks of 512 bytes times 1 to 32"),
    (["plan", "--help"], 0, "stdout", "--chart"),
    (["--version"], 0, "stdout", f"hyl {version}\n"),
    ([], 2, "stderr", "Run 'hyl --help' for usage."),
    (["frobnicate"], 2, "stderr", "Run 'hyl --help' for usage."),
    (["plan", "a"], 2, "stderr", "Run 'hyl plan --help' for usage."),
    (["import", "t.dbf", "d.csv", "--bogus"], 2, "stderr", "Run 'hyl import --help' for usage."),
    (["plan", "", "", "2024-04-03", "2024-02-28", "--root", samples], 0, "stderr", "(FROM is not before TO)"),
    (["time", "from-epoch", "2200000000"], 0, "stdout", "2039-09-18T23:06:40\n"),
    (["time", "to-local", "2200-07-01T12:00"], 0, "stdout", "2200-07-01T12:00:00\n"),
    (["time", "from-epoch", "-1"], 1, "stderr", "cannot be converted"),
]
for args, want_exit, stream, want in USAGE:
    got = run(*args)
    text = getattr(got, stream).decode()
    if got.returncode != want_exit or want not in text:
        failures.append(f"hyl {' '.join(args)}: exit {got.returncode}, {stream} {text!r}; expected {want_exit}, {want!r}")
    if want_exit == 2 and len(got.stderr.decode().splitlines()) != 2:
        failures.append(f"hyl {' '.join(args)}: the hint is not one line: {got.stderr.decode()!r}")

# The manual page describes every command the tool has, and its version.
page = open(manpage, encoding="utf-8").read()
helptext = run("--help").stdout.decode()
commands = re.findall(r"^  (\w+)\s", helptext.split("Subcommands:")[-1], re.M)
for command in commands + ["check", "repair"]:
    if not re.search(rf'^\.SS "?hyl {command}\b', page, re.M):
        failures.append(f"the manual page has no section for hyl {command}")
if f'"hyl {version}"' not in page:
    failures.append(f"the manual page does not carry version {version}")

print(f"{len(CASES)} writes, {len(ENCODINGS)} code-page cases, {len(USAGE)} usages and the manual page checked: "
      f"{len(failures)} failed")
for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
