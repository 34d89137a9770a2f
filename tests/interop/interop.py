"""Interoperability checks between the library and other dBASE III tools.

Run by run.sh with Debian's /usr/bin/python3 (which has dbfread and dbf):

    interop.py BUILD_DIR

The library is reached through its exports (the `hyl` tool's import, append
and dump, and, for numbers, libhyl.so itself through ctypes), and through the
tool's check and repair of tables that an interrupted append left behind.  The peers
are dbfread and python3-dbf, GDAL's ogr2ogr/ogrinfo, shapelib's
dbfcreate/dbfadd, and pgdbf.  Every table starts from values a host would
put; each check compares what a reader gives back with those values, never
with what another reader made of the same file.  peer_tables.py adds the
peers' tables of every format; writing.py the tool's tables of every format
read by the peers, and the peers' tables changed and packed by the tool.
"""

import csv
import ctypes
import datetime
import io
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import traceback
from decimal import Decimal

import peer_tables
import writing

UPPER = "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"
ALPHABET = UPPER + UPPER.lower()

# (name, type, length, decimals): text, numbers with and without decimals,
# a date.  Peer tables use ASCII names where the peer cannot keep Cyrillic ones
# (python3-dbf lower-cases them; shapelib's tools write no language byte 0x65).
FIELDS = [
    ("ИМЯ", "C", 24, 0),
    ("SUM", "N", 12, 2),
    ("QTY", "N", 10, 0),
    ("DAY", "D", 8, 0),
    ("NOTE", "C", 70, 0),
]
ASCII_NAMES = ["NAME", "SUM", "QTY", "DAY", "NOTE"]

# What the host puts.  None is an empty field.  16777217 and 0.10 need the
# full double precision of the number reader.
RECORDS = [
    ("Котельная № 1", Decimal("1250.50"), 7, datetime.date(1998, 4, 15), "Основная, летний режим"),
    ("Ёлка ёж", Decimal("-3.25"), -42, datetime.date(1999, 12, 31), 'Кавычки "внутри"'),
    ("Plain ASCII", Decimal("0.10"), 16777217, datetime.date(2000, 2, 29), ALPHABET),
    ("Щука", None, None, None, ""),
]
# Rows the library appends to an existing table.
APPENDED = [
    ("Добавлено ёж", Decimal("99.99"), 5, datetime.date(2024, 1, 31), "после конца файла"),
    ("", None, None, None, ""),
]
DELETED_INDEX = 1  # the record a peer deletes where deletion is exercised

PEER_TIMEOUT = 20


class Failure(Exception):
    """A check's finding, shown on its FAIL line."""


def need(tool):
    path = shutil.which(tool)
    if not path:
        raise Failure(f"{tool} is not installed")
    return path


def run(args, **kwargs):
    need(args[0])
    try:
        done = subprocess.run(args, capture_output=True, timeout=PEER_TIMEOUT, **kwargs)
    except subprocess.TimeoutExpired:
        raise Failure(f"{args[0]} did not finish in {PEER_TIMEOUT}s")
    if done.returncode != 0:
        err = done.stderr.decode("utf-8", "replace").strip()
        raise Failure(f"{' '.join(map(str, args))} exited {done.returncode}: {err}")
    return done.stdout


def expect_equal(what, got, want):
    if got != want:
        raise Failure(f"{what}: got {got!r}, want {want!r}")


def expect_rows(what, got, want):
    if len(got) != len(want):
        raise Failure(f"{what}: got {len(got)} rows, want {len(want)}: {got!r}")
    for i, (g, w) in enumerate(zip(got, want)):
        expect_equal(f"{what}, row {i}", g, w)


# --- values as each side writes them ----------------------------------------

def host_text(field, value):
    """A value as the host gives it and as the library gives it back (numbers
    without their leading blanks)."""
    _, ftype, _, decimals = field
    if value is None:
        return ""
    if ftype == "N":
        return f"{value:.{decimals}f}" if decimals else str(value)
    if ftype == "D":
        return value.strftime("%Y%m%d")
    return value


def empty_forms(field):
    """The texts that writers store for an empty field, without blanks:
    nothing, or asterisks for numbers and zeros for dates."""
    _, ftype, length, _ = field
    if ftype == "N":
        return {"", "*" * length}
    if ftype == "D":
        return {"", "0" * 8}
    return {""}


def host_number(field, value):
    return float(value) if value is not None else 0.0


def dbfread_value(field, value):
    _, ftype, _, decimals = field
    if value is None:
        return "" if ftype == "C" else None
    if ftype == "N":
        return float(value) if decimals else int(value)
    return value


def gdal_text(field, value):
    _, ftype, _, decimals = field
    if value is None:
        return ""
    if ftype == "N":
        return f"{value:.{decimals}f}" if decimals else str(value)
    if ftype == "D":
        return value.strftime("%Y/%m/%d")
    return value


def pgdbf_text(field, value):
    _, ftype, _, _ = field
    if value is None:
        return "" if ftype == "C" else "\\N"
    if ftype == "D":
        return value.isoformat()
    return host_text(field, value)


def pgdbf_type(field):
    _, ftype, length, decimals = field
    if ftype == "C":
        return f"VARCHAR({length})"
    if ftype == "D":
        return "DATE"
    return f"NUMERIC({length}, {decimals})" if decimals else f"NUMERIC({length})"


# --- the library's side ------------------------------------------------------

class Library:
    def __init__(self, build):
        self.hyl = os.path.join(build, "tools", "hyl")
        self.so_path = os.path.join(build, "libhyl.so")
        self._so = None

    def so(self):
        if self._so is None:
            if not os.path.exists(self.so_path):
                raise Failure(f"{self.so_path} is missing")
            so = ctypes.CDLL(self.so_path)
            so.Hyl_OpenTableForRead.argtypes = [ctypes.c_char_p]
            so.Hyl_OpenTableForRead.restype = ctypes.c_int
            so.Hyl_GetQRecords.restype = ctypes.c_int
            so.Hyl_GetFieldNumeric.argtypes = [ctypes.c_int, ctypes.c_int]
            so.Hyl_GetFieldNumeric.restype = ctypes.c_double
            so.Hyl_CloseTable.restype = ctypes.c_int
            self._so = so
        return self._so

    def tool(self, *args):
        if not os.access(self.hyl, os.X_OK):
            raise Failure(f"{self.hyl} is missing")
        return run([self.hyl, *args])

    def import_csv(self, table, fields, rows, names=None):
        self.tool("import", table, write_csv(
            table + ".in.csv",
            [f"{n}:{t}:{l}" + (f":{d}" if d else "") for (n, t, l, d) in name_fields(fields, names)],
            [[host_text(f, v) for f, v in zip(fields, row)] for row in rows]))

    def append_csv(self, table, fields, rows, names=None):
        # The columns go in reverse order: append finds the fields by name.
        named = name_fields(fields, names)
        self.tool("append", table, write_csv(
            table + ".add.csv",
            [n for (n, _, _, _) in reversed(named)],
            [[host_text(f, v) for f, v in reversed(list(zip(fields, row)))] for row in rows]))

    def status(self, *args):
        """The tool's exit status and its output, whatever the status."""
        need(self.hyl)
        done = subprocess.run([self.hyl, *args], capture_output=True, timeout=PEER_TIMEOUT)
        return done.returncode, done.stdout.decode("utf-8", "replace") + done.stderr.decode("utf-8", "replace")

    def dump(self, table, *options):
        text = self.tool("dump", table, "--csv", *options).decode("utf-8")
        rows = list(csv.reader(io.StringIO(text)))
        return rows[0], rows[1:]

    def numbers(self, table, fields):
        """Every numeric field of every record through Hyl_GetFieldNumeric."""
        so = self.so()
        if so.Hyl_OpenTableForRead(os.fsencode(table)) != 1:
            raise Failure(f"Hyl_OpenTableForRead({table}) gave 0")
        try:
            count = so.Hyl_GetQRecords()
            numeric = [i for i, f in enumerate(fields) if f[1] == "N"]
            return count, [[so.Hyl_GetFieldNumeric(r, i) for i in numeric] for r in range(count)]
        finally:
            so.Hyl_CloseTable()


def name_fields(fields, names):
    return [(n, t, l, d) for n, (_, t, l, d) in zip(names or [f[0] for f in fields], fields)]


def write_csv(path, header, rows):
    with open(path, "w", encoding="utf-8", newline="") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(header)
        writer.writerows(rows)
    return path


# --- the peers' side ---------------------------------------------------------

def read_dbfread(table):
    try:
        import dbfread
    except ImportError as e:
        raise Failure(f"dbfread is not importable by {sys.executable}: {e}")
    t = dbfread.DBF(table, char_decode_errors="strict", load=True)
    fields = [(f.name, f.type, f.length, f.decimal_count) for f in t.fields]
    return (t.header.language_driver, t.header.numrecords, fields,
            [list(r.values()) for r in t.records], [list(r.values()) for r in t.deleted])


def read_ogr_csv(table):
    text = run(["ogr2ogr", "-f", "CSV", "-lco", "STRING_QUOTING=IF_NEEDED", "/vsistdout/", table])
    rows = list(csv.reader(io.StringIO(text.decode("utf-8"))))
    return rows[0], rows[1:]


def read_ogrinfo(table):
    text = run(["ogrinfo", "-so", "-al", table]).decode("utf-8")
    count = re.search(r"^Feature Count: (\d+)$", text, re.M)
    fields = re.findall(r"^(\S+): \w+ \((\d+)\.(\d+)\)$", text, re.M)
    return (int(count.group(1)) if count else None,
            [(n, int(w), int(p)) for n, w, p in fields])


def read_pgdbf(table):
    # Names stay in the file's code page; only the data is converted.
    text = run(["pgdbf", "-s", "cp866", table]).decode("utf-8", "replace")
    create = re.search(r"^CREATE TABLE \S+ \((.*)\);$", text, re.M)
    if not create:
        raise Failure(f"pgdbf gave no CREATE TABLE: {text[:300]!r}")
    types = [re.sub(r"^\S+ ", "", c) for c in re.split(r", (?=\S+ [A-Z])", create.group(1))]
    body = re.search(r"^\\COPY \S+ FROM STDIN\n(.*?)^\\\.$", text, re.M | re.S)
    if not body:
        raise Failure(f"pgdbf gave no COPY data: {text[:300]!r}")
    return types, [line.split("\t") for line in body.group(1).splitlines()]


def file_layout(table):
    """(language byte, record count, header length, record length, deletion
    flags of the counted records, bytes after the last counted record)."""
    with open(table, "rb") as f:
        data = f.read()
    count, header_length, record_length = struct.unpack_from("<IHH", data, 4)
    flags = bytes(data[header_length + r * record_length] for r in range(count)
                  if header_length + r * record_length < len(data))
    return data[29], count, header_length, record_length, flags, data[header_length + count * record_length:]


def stored_fields(table):
    """The bytes of every field of every counted record, as the file holds them."""
    with open(table, "rb") as f:
        data = f.read()
    count, header_length, record_length = struct.unpack_from("<IHH", data, 4)
    lengths = [data[32 * (i + 1) + 16] for i in range((header_length - 32) // 32)]
    records = []
    for r in range(count):
        offset = header_length + r * record_length + 1
        fields = []
        for length in lengths:
            fields.append(data[offset:offset + length])
            offset += length
        records.append(fields)
    return records


# --- the tables --------------------------------------------------------------

def library_table(lib, work):
    table = os.path.join(work, "library.dbf")
    lib.import_csv(table, FIELDS, RECORDS)
    return table


def pydbf_table(work, name="pydbf.dbf"):
    try:
        import dbf
    except ImportError as e:
        raise Failure(f"dbf (python3-dbf) is not importable by {sys.executable}: {e}")
    table = os.path.join(work, name)
    specs = "; ".join(f"{n} C({l})" if t == "C" else f"{n} D" if t == "D" else f"{n} N({l},{d})"
                      for n, (_, t, l, d) in zip(ASCII_NAMES, FIELDS))
    t = dbf.Table(table, specs, dbf_type="db3", codepage=0x65)
    t.open(dbf.READ_WRITE)
    for row in RECORDS:
        t.append(tuple(float(v) if isinstance(v, Decimal) else v for v in row))
    dbf.delete(t[DELETED_INDEX])
    t.close()
    language, _, _, _, flags, tail = file_layout(table)
    # Make sure the peer really wrote what this table is meant to exercise.
    expect_equal("python3-dbf language byte", language, 0x65)
    expect_equal("python3-dbf deletion flags", flags, b"".join(
        b"*" if i == DELETED_INDEX else b" " for i in range(len(RECORDS))))
    expect_equal("python3-dbf end of file", tail, b"\x1a")
    return table


def ogr_table(work, name="ogr.dbf"):
    source = write_csv(os.path.join(work, name + ".src.csv"), [f[0] for f in FIELDS],
                       [[v.isoformat() if f[1] == "D" and v else host_text(f, v) for f, v in zip(FIELDS, row)]
                        for row in RECORDS])
    gdal_type = {"C": "String({l})", "N": "Real({l}.{d})", "D": "Date"}
    with open(source[:-4] + ".csvt", "w") as out:
        out.write(",".join('"' + (gdal_type[t] if d or t != "N" else "Integer({l})").format(l=l, d=d) + '"'
                           for (_, t, l, d) in FIELDS) + "\n")
    table = os.path.join(work, name)
    run(["ogr2ogr", "-f", "ESRI Shapefile", "-lco", "ENCODING=LDID/101", table, source])
    language, _, _, _, _, tail = file_layout(table)
    expect_equal("ogr2ogr language byte", language, 0x65)
    expect_equal("ogr2ogr end of file", tail, b"\x1a")
    return table


def shapelib_table(work):
    """dbfcreate writes no language byte 0x65, so the library hands the bytes
    over unconverted: Cyrillic goes in as Windows-1251 and must come back so.
    Its language byte says 1252 (0x57), so the tool is told the truth with
    --encoding 1251."""
    table = os.path.join(work, "shapelib.dbf")
    fields = [f for f in FIELDS if f[1] != "D"]  # dbfcreate makes only C and N
    args = ["dbfcreate", table]
    for name, (_, t, l, d) in zip(ASCII_NAMES, FIELDS):
        if t == "C":
            args += ["-s", name, str(l)]
        elif t == "N":
            args += ["-n", name, str(l), str(d)]
    run(args)
    for row in RECORDS:
        values = [host_text(f, v) for f, v in zip(FIELDS, row) if f[1] != "D"]
        run(["dbfadd", table] + [v.encode("cp1251") for v in values])
    language, _, _, _, _, tail = file_layout(table)
    if language == 0x65:
        raise Failure("dbfcreate wrote language byte 0x65; this table is meant to have another")
    expect_equal("dbfadd end of file", tail, b"\x1a")
    return table, fields


# --- the checks --------------------------------------------------------------

def check_dbfread(table, fields, live, deleted=(), names=None):
    language, count, got_fields, records, deleted_records = read_dbfread(table)
    expect_equal("language byte", language, 0x65)
    expect_equal("header record count", count, len(live) + len(deleted))
    expect_equal("fields", got_fields, name_fields(fields, names))
    expect_rows("records", records, [[dbfread_value(f, v) for f, v in zip(fields, r)] for r in live])
    expect_rows("deleted records", deleted_records,
                [[dbfread_value(f, v) for f, v in zip(fields, r)] for r in deleted])


def check_ogr(table, fields, live, count, names=None):
    got_count, got_fields = read_ogrinfo(table)
    expect_equal("ogrinfo feature count", got_count, count)
    expect_equal("ogrinfo fields", got_fields, [
        (n, 10 if t == "D" else l, d) for (n, t, l, d) in name_fields(fields, names)])
    header, rows = read_ogr_csv(table)
    expect_equal("ogr2ogr CSV header", header, [f[0] for f in name_fields(fields, names)])
    expect_rows("ogr2ogr CSV", rows, [[gdal_text(f, v) for f, v in zip(fields, r)] for r in live])


def check_pgdbf(table, fields, live):
    types, rows = read_pgdbf(table)
    expect_equal("pgdbf column types", types, [pgdbf_type(f) for f in fields])
    expect_rows("pgdbf rows", rows, [[pgdbf_text(f, v) for f, v in zip(fields, r)] for r in live])


def check_exports(lib, table, fields, records, names, *dump_options):
    """Every record, deleted or not, through the exports: the text of each
    field (peers' empty forms allowed for empty values) and each number."""
    header, rows = lib.dump(table, *dump_options)
    expect_equal("field names", header, [f[0] for f in name_fields(fields, names)])
    if len(rows) != len(records):
        raise Failure(f"got {len(rows)} records, want {len(records)}: {rows!r}")
    stored = stored_fields(table)
    for r, (got, row) in enumerate(zip(rows, records)):
        for f, (text, field, value) in enumerate(zip(got, fields, row)):
            want = host_text(field, value)
            if value is None:
                # An empty value comes back as the peer wrote it.
                want = stored[r][f].decode("ascii", "replace").strip()
                if want not in empty_forms(field):
                    raise Failure(f"record {r} field {f}: the writer stored {stored[r][f]!r} for an empty value")
            expect_equal(f"record {r} field {f}", text, want)
    count, numbers = lib.numbers(table, fields)
    expect_equal("Hyl_GetQRecords", count, len(records))
    numeric = [(i, f) for i, f in enumerate(fields) if f[1] == "N"]
    expect_rows("Hyl_GetFieldNumeric", numbers,
                [[host_number(f, row[i]) for i, f in numeric] for row in records])


def check_no_garbage(table, count):
    """The counted records, each with its deletion flag, and after the last
    nothing but the one end marker the tool's writer ends a file with, as
    dBASE does (an end marker the table had is written over, not kept)."""
    _, got_count, header_length, record_length, flags, tail = file_layout(table)
    expect_equal("header record count", got_count, count)
    if set(flags) - set(b" *"):
        raise Failure(f"a record does not start with a deletion flag: {flags!r}")
    expect_equal("bytes after the last record", tail, b"\x1a")


def check_sound(lib, table):
    code, out = lib.status("check", table)
    expect_equal(f"hyl check exit status ({out.strip()})", code, 0)


def crash(table):
    """Leaves TABLE as a process killed while appending to it (or an older
    program that wrote the count only at its close) leaves it: the last two
    records on disk after the ones the header counts, no end marker, and half
    of a record it was writing.  The bytes of the damaged table."""
    with open(table, "rb") as f:
        data = bytearray(f.read())
    count, header_length, record_length = struct.unpack_from("<IHH", data, 4)
    data = data[:header_length + count * record_length]
    data += data[-record_length:][:record_length // 2]
    struct.pack_into("<I", data, 4, count - 2)
    with open(table, "wb") as f:
        f.write(data)
    return bytes(data)


def check_repair(lib, table, fields, live, deleted=(), names=None):
    """A crashed table: check reports it, repair mends it after a backup of
    the exact bytes, and every reader gets every record back."""
    repair(lib, table)
    check_dbfread(table, fields, live, deleted, names)
    check_ogr(table, fields, live, len(live) + len(deleted), names)


def repair(lib, table):
    damaged = crash(table)
    code, out = lib.status("check", "--json", table)
    codes = sorted({f["code"] for t in json.loads(out)["tables"] for f in t.get("findings", [])})
    expect_equal("hyl check exit status", code, 1)
    expect_equal("hyl check findings", codes, ["partial-record", "records-beyond-count"])
    code, out = lib.status("repair", table)
    expect_equal(f"hyl repair exit status ({out.strip()})", code, 0)
    with open(table + ".bak", "rb") as f:
        expect_equal("the backup", f.read(), damaged)
    check_sound(lib, table)


def live_and_deleted(records, deleted_index):
    live = [r for i, r in enumerate(records) if i != deleted_index]
    deleted = [r for i, r in enumerate(records) if i == deleted_index]
    return live, deleted


def build_checks(lib, work):
    tables = {}

    def made(key, maker):
        """Makes a table once; a table that could not be made fails every
        check that reads it."""
        if key not in tables:
            try:
                tables[key] = (True, maker())
            except Exception as e:  # noqa: BLE001 - reported on each dependent line
                tables[key] = (False, e)
        ok, value = tables[key]
        if not ok:
            raise Failure(f"making the table failed: {value}")
        return value

    def lib_made():
        return made("library", lambda: library_table(lib, work))

    def appended(key, maker, names=None):
        def make():
            table = maker()
            lib.append_csv(table, FIELDS, APPENDED, names)
            return table
        return made(key + "+append", make)

    def lib_appended():
        return appended("library", lambda: library_table(lib, os.path.join(work, "app")))

    def pydbf_appended():
        return appended("pydbf", lambda: pydbf_table(work, "pydbf_app.dbf"), ASCII_NAMES)

    def ogr_appended():
        return appended("ogr", lambda: ogr_table(work, "ogr_app.dbf"))

    def check_shapelib_repair():
        table, fields = repaired("shapelib", lambda: shapelib_table(crash_dir))
        repair(lib, table)
        expect_equal("dbfread record count", read_dbfread(table)[1], len(RECORDS))
        expect_equal("ogrinfo feature count", read_ogrinfo(table)[0], len(RECORDS))
        kept = [i for i, f in enumerate(FIELDS) if f in fields]
        check_exports(lib, table, fields, [[r[i] for i in kept] for r in RECORDS], [ASCII_NAMES[i] for i in kept],
                      "--encoding", "1251")

    def check_shapelib():
        table, fields = made("shapelib", lambda: shapelib_table(work))
        kept = [i for i, f in enumerate(FIELDS) if f in fields]
        check_exports(lib, table, fields, [[r[i] for i in kept] for r in RECORDS],
                      [ASCII_NAMES[i] for i in kept], "--encoding", "1251")

    def repaired(key, maker):
        return made(key + "+repair", maker)

    os.makedirs(os.path.join(work, "app"))
    os.makedirs(os.path.join(work, "crash"))
    crash_dir = os.path.join(work, "crash")
    py_live, py_deleted = live_and_deleted(RECORDS + APPENDED, DELETED_INDEX)
    all_records = RECORDS + APPENDED
    return [
        ("library table (C, N, D; Cyrillic in 866, byte 0x65) read by dbfread",
         lambda: check_dbfread(lib_made(), FIELDS, RECORDS)),
        ("library table read by ogrinfo and ogr2ogr",
         lambda: check_ogr(lib_made(), FIELDS, RECORDS, len(RECORDS))),
        ("library table read by pgdbf",
         lambda: check_pgdbf(lib_made(), FIELDS, RECORDS)),
        ("library table read back through the exports",
         lambda: check_exports(lib, lib_made(), FIELDS, RECORDS, None)),
        ("python3-dbf table (0x65, blanks, deleted record, 0x1A) read through the exports",
         lambda: check_exports(lib, made("pydbf", lambda: pydbf_table(work)), FIELDS, RECORDS, ASCII_NAMES)),
        ("ogr2ogr table (LDID/101, asterisks, zero date, 0x1A) read through the exports",
         lambda: check_exports(lib, made("ogr", lambda: ogr_table(work)), FIELDS, RECORDS, None)),
        ("dbfcreate/dbfadd table (no 0x65, asterisks, 0x1A) read through the exports",
         check_shapelib),
        ("library appended to its own table: file layout",
         lambda: check_no_garbage(lib_appended(), len(all_records))),
        ("library appended to its own table: read by dbfread",
         lambda: check_dbfread(lib_appended(), FIELDS, all_records)),
        ("library appended to its own table: read by ogrinfo and ogr2ogr",
         lambda: check_ogr(lib_appended(), FIELDS, all_records, len(all_records))),
        ("library appended to its own table: read by pgdbf",
         lambda: check_pgdbf(lib_appended(), FIELDS, all_records)),
        ("library appended to a python3-dbf table ending in 0x1A: file layout",
         lambda: check_no_garbage(pydbf_appended(), len(all_records))),
        ("library appended to a python3-dbf table: read by dbfread",
         lambda: check_dbfread(pydbf_appended(), FIELDS, py_live, py_deleted, ASCII_NAMES)),
        ("library appended to a python3-dbf table: read by ogrinfo and ogr2ogr",
         lambda: check_ogr(pydbf_appended(), FIELDS, py_live, len(all_records), ASCII_NAMES)),
        ("library appended to a python3-dbf table: read through the exports",
         lambda: check_exports(lib, pydbf_appended(), FIELDS, all_records, ASCII_NAMES)),
        ("library appended to an ogr2ogr table ending in 0x1A: file layout",
         lambda: check_no_garbage(ogr_appended(), len(all_records))),
        ("library appended to an ogr2ogr table: read by dbfread",
         lambda: check_dbfread(ogr_appended(), FIELDS, all_records)),
        ("library appended to an ogr2ogr table: read by ogrinfo and ogr2ogr",
         lambda: check_ogr(ogr_appended(), FIELDS, all_records, len(all_records))),
        ("hyl check: every peer's table and every appended one is sound",
         lambda: [check_sound(lib, t) for t in (lib_made(), made("pydbf", lambda: pydbf_table(work)),
                                                 made("ogr", lambda: ogr_table(work)),
                                                 made("shapelib", lambda: shapelib_table(work))[0],
                                                 lib_appended(), pydbf_appended(), ogr_appended())]),
        ("hyl repair of a crashed library table: read by dbfread and GDAL",
         lambda: check_repair(lib, repaired("library", lambda: library_table(lib, crash_dir)),
                              FIELDS, RECORDS)),
        ("hyl repair of a crashed python3-dbf table (deleted record): read by dbfread and GDAL",
         lambda: check_repair(lib, repaired("pydbf", lambda: pydbf_table(crash_dir)), FIELDS,
                              *live_and_deleted(RECORDS, DELETED_INDEX), ASCII_NAMES)),
        ("hyl repair of a crashed ogr2ogr table: read by dbfread and GDAL",
         lambda: check_repair(lib, repaired("ogr", lambda: ogr_table(crash_dir)), FIELDS, RECORDS)),
        ("hyl repair of a crashed dbfcreate/dbfadd table: counted by dbfread and GDAL, read through the exports",
         check_shapelib_repair),
    ] + peer_tables.checks(lib, work, run, Failure) + writing.checks(lib, work, run, Failure)


def main():
    if len(sys.argv) != 2:
        print("usage: interop.py BUILD_DIR", file=sys.stderr)
        return 2
    lib = Library(os.path.abspath(sys.argv[1]))
    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="hyl-interop-") as work:
        for name, check in build_checks(lib, work):
            try:
                check()
            except Failure as e:
                failed += 1
                print(f"FAIL  {name}: {e}")
            except Exception as e:  # noqa: BLE001 - a broken check is a failure too
                failed += 1
                where = traceback.extract_tb(e.__traceback__)[-1]
                print(f"FAIL  {name}: {type(e).__name__}: {e} "
                      f"(at {os.path.basename(where.filename)}:{where.lineno})")
            else:
                passed += 1
                print(f"PASS  {name}")
            sys.stdout.flush()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
