"""Writing, both ways.

Tables of every format and several code pages made here (import, then
append and update, memo text with line breaks, every Visual FoxPro type and
nullable fields) are read value by value by dbfread, python3-dbf and GDAL,
each where it reads the format.  Tables python3-dbf, GDAL and shapelib made
are changed here a step at a time (update, delete, undelete, append with
memo values, pack) and read back after every step by the program that made
them, by dbfread and by `hyl dump --json`, `hyl check` calling them sound;
at the end their maker writes to them once more and every reader reads on.

Each side is compared with the values put, never with another reader.  A
value is held as the host means it: str, Decimal, date, datetime, bool,
int, float, bytes, or None (null where the field may be null, else none).
"""

import datetime
import json
import os
import subprocess
from collections import namedtuple
from decimal import Decimal

Field = namedtuple("Field", "name type length decimals nullable", defaults=(0, 0, False))

# What each type shows when a non-nullable field is given no value; the
# other types show none (None).
BLANK = {"C": "", "V": "", "Q": b"", "I": 0, "B": 0.0, "Y": Decimal(0)}

# A name and a memo text (line breaks of both kinds) in each code page.
TEXT = {
    "866": ("Ёлка ёж №1", "Памятка\r\nвторая строка ╬═╬\nтретья"),
    "1251": ("Котёл «ёж» №5", "Заметка\r\nвторая «строка» —\nтретья"),
    "1250": ("Žluťoučký kůň", "Hněvošický háj\r\nŁódź, Győr\nčtvrtá"),
    "1252": ("Café crème", "Straße\r\n€ 5 — ü\nœuvre"),
    "UTF-8": ("Hněvošický 日本", "Котёл\r\n日本語 € ╬\nend"),
}
# The codec each code page is in Python, for readers that must be told.
CODEC = {"866": "cp866", "1251": "cp1251", "1250": "cp1250", "1252": "cp1252", "UTF-8": "utf-8"}


# --- tables made here ----------------------------------------------------------

COMMON = [Field("NAME", "C", 30), Field("QTY", "N", 10, 2), Field("F", "F", 12, 3), Field("DAY", "D"),
          Field("OK", "L"), Field("NOTE", "M")]


def common_steps(code_page):
    """Imported rows, appended rows, then updates by record: a memo changed,
    one given where there was none, one taken away."""
    name, memo = TEXT[code_page]
    imported = [dict(NAME=name, QTY=Decimal("-1250.50"), F=Decimal("3.125"), DAY=datetime.date(2024, 2, 29),
                     OK=True, NOTE=memo),
                {},
                dict(NAME=name.upper(), QTY=Decimal("16777217"), F=Decimal("-0.001"),
                     DAY=datetime.date(1999, 12, 31), OK=False, NOTE=memo * 40)]
    appended = [dict(NAME=name.lower(), NOTE=memo + memo, QTY=Decimal(7))]
    updates = {0: dict(NOTE=memo.swapcase(), QTY=Decimal("0.01")),
               1: dict(NAME=name, NOTE=memo, OK=False, DAY=datetime.date(2000, 2, 29)),
               2: dict(NOTE=None)}
    return imported, appended, updates


# Nullable fields first and no V or Q: python3-dbf takes a field's null bit
# from its position among all fields, Visual FoxPro from its place among the
# nullable ones, and the two agree only so.
VFP = [Field("NAME", "C", 20, 0, True), Field("QTY", "N", 10, 2, True), Field("CNT", "I", nullable=True),
       Field("STAMP", "T", nullable=True), Field("NOTE", "M", nullable=True), Field("PRICE", "Y"),
       Field("RATE", "B", 8, 2), Field("DAY", "D"), Field("OK", "L"), Field("PIC", "G"), Field("F", "F", 12, 3),
       Field("ID", "I")]
_, VFP_MEMO = TEXT["1251"]
VFP_STEPS = (
    [dict(NAME="Котёл", QTY=Decimal("-1250.50"), CNT=-7, STAMP=datetime.datetime(2024, 2, 29, 23, 59, 59, 999000),
          NOTE=VFP_MEMO, PRICE=Decimal("-922337203685477.5808"), RATE=-2.5e100, DAY=datetime.date(2024, 3, 1),
          OK=True, PIC=b"\x00\x01\xff\x1a binary", F=Decimal("3.125"), ID=2147483647),
     {},
     dict(QTY=Decimal(0), CNT=0, PRICE=Decimal("0.0001"), RATE=1.25, OK=False, ID=-1)],
    [dict(NAME="ёж", PIC=bytes(range(256)), NOTE=VFP_MEMO * 20, CNT=-2147483648,
          STAMP=datetime.datetime(1899, 12, 30, 0, 0, 0, 1000))],
    {0: dict(NAME=None, NOTE="новая\r\nзаметка", PIC=b"new"), 1: dict(CNT=5, QTY=Decimal("0.5"), NOTE=VFP_MEMO),
     2: dict(STAMP=datetime.datetime(2000, 1, 1, 12, 0))})

# V and Q (version 0x32): a length byte and a bit in _NullFlags where a
# value is shorter than its field, nullable ones with a null bit after it.
VARYING = [Field("TAG", "V", 10), Field("RAW", "Q", 6, 0, True), Field("NAME", "C", 10, 0, True),
           Field("LABEL", "V", 5, 0, True), Field("NOTE", "M"), Field("ID", "I")]
VARYING_STEPS = (
    [dict(TAG="abc", RAW=b"\x00\x01\x02", NAME="Café", LABEL="12345", NOTE=TEXT["1252"][1], ID=1),
     {},
     dict(TAG="0123456789", RAW=b"\xff" * 6, NAME="x", LABEL="é")],
    [dict(TAG="é€", RAW=b"\x1a", NOTE="one\r\ntwo")],
    {0: dict(TAG="changed", RAW=None, LABEL="ab"), 1: dict(RAW=b"\x00", NAME="Straße", TAG="")})

# (what, --format, --encoding, other import options, fields, steps, readers).
# python3-dbf cannot open dBASE IV tables with a memo (0x8B: "not
# supported"), nor tables with V or Q (0x32); dbfread knows no Q and reads
# V's bytes whole, so it is given a parser for both that keeps the bytes,
# read here by Visual FoxPro's rule; dbfread reads a dBASE IV memo file in
# blocks of 512 whatever its header says (the size written unless told).
# GDAL is asked of the dBASE formats; it shows a memo field's block number,
# not its text.
MADE_HERE = [
    ("dBASE III, 866", "dbase3", "866", [], COMMON, common_steps("866"), ("dbfread", "python3-dbf", "GDAL")),
    ("dBASE III, UTF-8 with its .cpg", "dbase3", "UTF-8", [], COMMON, common_steps("UTF-8"),
     ("dbfread", "python3-dbf", "GDAL")),
    ("dBASE IV, 1251", "dbase4", "1251", [], COMMON, common_steps("1251"), ("dbfread", "GDAL")),
    ("dBASE IV, 1252", "dbase4", "1252", [], COMMON, common_steps("1252"), ("dbfread", "GDAL")),
    ("FoxPro, 1250, memo blocks of 256", "foxpro", "1250", ["--memo-block-size", "256"], COMMON,
     common_steps("1250"), ("dbfread", "python3-dbf")),
    ("FoxPro, 866", "foxpro", "866", [], COMMON, common_steps("866"), ("dbfread", "python3-dbf")),
    ("Visual FoxPro, I B Y T G M and nullable fields, 1251", "vfp", "1251", [], VFP, VFP_STEPS,
     ("dbfread", "python3-dbf")),
    ("Visual FoxPro, V and Q, 1252", "vfp", "1252", [], VARYING, VARYING_STEPS, ("dbfread",)),
]


# --- tables made by the peers, changed here ------------------------------------

PY3 = [Field("NAME", "C", 20), Field("NOTE", "M"), Field("QTY", "N", 5, 0), Field("DAY", "D"), Field("OK", "L")]
PY3_ROWS = [dict(NAME="Ёлка", NOTE="памятка\r\nвторая", QTY=5, DAY=datetime.date(2024, 3, 1), OK=True),
            dict(NAME="b", NOTE="x", QTY=-6),
            dict(NAME="c", QTY=7, OK=False)]
PYFP = [Field("NAME", "C", 20), Field("NOTE", "M"), Field("QTY", "N", 8, 2), Field("F", "F", 10, 3)]
PYFP_ROWS = [dict(NAME="Café", NOTE="mémo ü\r\n" * 50, QTY=Decimal("1.25"), F=Decimal("-0.5")),
             dict(NAME="Straße"), dict(NOTE="kurz", QTY=Decimal(3))]
PYVFP = [Field("NAME", "C", 20, 0, True), Field("CNT", "I", nullable=True), Field("NOTE", "M", nullable=True),
         Field("PIC", "G"), Field("AMT", "Y"), Field("RATE", "B"), Field("STAMP", "T"), Field("QTY", "N", 8, 2)]
PYVFP_ROWS = [dict(NAME="Котёл", CNT=5, NOTE="заметка\r\nвторая", PIC=b"\x00\x01", AMT=Decimal("1.5"), RATE=2.5,
                   STAMP=datetime.datetime(2024, 3, 1, 12, 0), QTY=Decimal("-3.25")),
              dict(AMT=Decimal(0)),
              dict(NAME="ёж", CNT=-1, NOTE="к" * 300, RATE=-1.0, QTY=Decimal(0))]
OGR = [Field("NAME", "C", 30), Field("QTY", "N", 10, 2), Field("CNT", "N", 5), Field("DAY", "D")]
OGR_ROWS = [dict(NAME="Hněvošický 日本", QTY=Decimal("-1.5"), CNT=3, DAY=datetime.date(2024, 2, 29)),
            dict(NAME="Котёл"), dict(NAME="x", CNT=-7, DAY=datetime.date(1999, 12, 31))]
SHAPELIB = [Field("NAME", "C", 20), Field("QTY", "N", 8, 2), Field("CNT", "N", 5)]
SHAPELIB_ROWS = [dict(NAME="Café", QTY=Decimal("1.5"), CNT=3), dict(), dict(NAME="crème", CNT=-2)]

# (what, maker, its code page, fields, rows it makes, updates by record, rows
# appended here, a row its maker appends at the end).  python3-dbf with
# cp866 marks its tables 0x26 (a dBASE language byte), GDAL writes nulls as
# asterisks and zero dates, dbfcreate marks 1252 as 0x57.  GDAL writes no
# memo field and dbfcreate makes only C and N, so their tables are changed
# and appended to without memo values; python3-dbf cannot read GDAL's zero
# dates, so GDAL's table is read back by GDAL.
MADE_THERE = [
    ("python3-dbf dBASE III with a .dbt, 866", "python3-dbf db3", "866", PY3, PY3_ROWS,
     {0: dict(NOTE="новая\r\nзаметка", NAME="Щука"), 2: dict(NOTE="была пуста", DAY=datetime.date(2000, 2, 29))},
     [dict(NAME="добавлено", NOTE="memo\nдве строки " * 30, QTY=9)], dict(NAME="после", NOTE="их\r\nзапись")),
    ("python3-dbf FoxPro with an .fpt, 1252", "python3-dbf fp", "1252", PYFP, PYFP_ROWS,
     {0: dict(NOTE="neu\r\n€", F=None), 1: dict(NOTE="œuvre", QTY=Decimal("-9.99"))},
     [dict(NAME="appended", NOTE="ü" * 700)], dict(NAME="theirs", NOTE="danach")),
    ("python3-dbf Visual FoxPro, nullable fields, I G Y B T M, 1251", "python3-dbf vfp", "1251", PYVFP,
     PYVFP_ROWS,
     {0: dict(NAME=None, NOTE="новая\r\nзаметка", PIC=b"\xff\x00new"),
      1: dict(CNT=0, NOTE=None, AMT=Decimal("-0.0001")),
      2: dict(CNT=None, STAMP=datetime.datetime(1999, 12, 31, 23, 59, 59, 999000))},
     [dict(NAME="добавлено", NOTE="строка\n" * 100, PIC=bytes(range(256)), CNT=2147483647)],
     dict(NAME="их", NOTE="после нас", CNT=1, AMT=Decimal("0"))),
    ("ogr2ogr dBASE III, UTF-8 with a .cpg", "GDAL", "UTF-8", OGR, OGR_ROWS,
     {1: dict(QTY=Decimal("2.25"), DAY=datetime.date(2024, 3, 1)), 2: dict(CNT=None, NAME="€ ünï")},
     [dict(NAME="добавлено 日本", CNT=12345)], dict(NAME="theirs", CNT=1)),
    ("dbfcreate/dbfadd (shapelib), 1252", "shapelib", "1252", SHAPELIB, SHAPELIB_ROWS,
     {1: dict(NAME="Straße", QTY=Decimal("-0.25")), 2: dict(CNT=None)},
     [dict(NAME="ajouté", QTY=Decimal("99.99"), CNT=1)], dict(NAME="theirs", CNT=2)),
]

# The steps each table made there goes through here, in order: (what, the
# step, the records it names given how many there are).
EDITS = [
    ("hyl update", "update", None),
    ("hyl delete 1", "delete", lambda n: [1]),
    ("hyl undelete 1", "undelete", lambda n: [1]),
    ("hyl append (memo values where it has a memo field)", "append", None),
    ("hyl delete 0 and the last", "delete", lambda n: [0, n - 1]),
    ("hyl pack", "pack", None),
    ("its maker appends a record", "theirs", None),
]
# Who reads a table back after each step, besides dbfread and hyl dump.
MAKER_READS = {"python3-dbf db3": "python3-dbf", "python3-dbf fp": "python3-dbf", "python3-dbf vfp": "python3-dbf",
               "GDAL": "GDAL", "shapelib": "dbfdump"}


# --- values both ways ------------------------------------------------------------

def stored(field, value):
    """What a field holds once VALUE is written to it."""
    return BLANK.get(field.type) if value is None and not field.nullable else value


def csv_text(value):
    """VALUE as the tool's CSV gives it."""
    if value is None:
        return ""
    if isinstance(value, bool):
        return "T" if value else "F"
    if isinstance(value, datetime.datetime):
        return value.isoformat(timespec="milliseconds")
    if isinstance(value, datetime.date):
        return value.strftime("%Y%m%d")
    if isinstance(value, bytes):
        return "0x" + value.hex().upper()
    return repr(value) if isinstance(value, float) else str(value)


def header(field):
    parts = [field.name, field.type]
    if field.type in "CNFVQ" or field.decimals:
        parts.append(str(field.length))
    if field.decimals:
        parts.append(str(field.decimals))
    return ":".join(parts + (["NULL"] if field.nullable else []))


def write_csv(path, columns, rows):
    import csv
    with open(path, "w", encoding="utf-8", newline="") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(columns)
        writer.writerows([csv_text(v) for v in row] for row in rows)
    return path


def canon(field, value):
    """A reader's value in the terms values are put in."""
    if value is None:
        return None
    t = field.type
    if t in "NFY":
        return Decimal(str(value))
    if t == "B":
        return float(value)
    if t == "I":
        return int(value)
    return value


def expect(reader, field, value):
    """What READER shows of VALUE stored in FIELD: dbfread knows no null
    bits (a null reads as the type's blank); hyl dump shows bytes as their
    length."""
    if reader == "dbfread" and value is None and field.type not in "VQ":
        return BLANK.get(field.type)
    if reader == "hyl dump --json" and isinstance(value, bytes):
        return len(value)
    return value


# --- the readers: each gives (live records, deleted records or None) ------------

def read_dbfread(table, fields, code_page):
    import dbfread

    class Parser(dbfread.FieldParser):
        # Q is unknown to dbfread 2.0.7 ("Unknown field type") and V is read
        # with its filling and length byte: both are given as stored.
        def parseQ(self, field, data):
            return data

        def parseV(self, field, data):
            return data

    # A table with a language byte is read in the code page dbfread takes
    # from it; UTF-8 has none, and dbfread reads no .cpg.
    encoding = "utf-8" if code_page == "UTF-8" else None
    t = dbfread.DBF(table, encoding=encoding, parserclass=Parser, char_decode_errors="strict", load=True)
    codec = t.encoding

    def row(record):
        flags = record.get("_NullFlags", record.get("_NULLFLAGS", b""))
        bits = (int.from_bytes(flags, "little") >> k & 1 for k in range(8 * len(flags)))
        out = []
        for f in fields:
            value = record[f.name]
            # Visual FoxPro's rule: a V or Q field takes a bit that says a
            # length byte ends it, then a nullable field a bit for null.
            shorter = f.type in "VQ" and next(bits)
            if f.nullable and f.type in "VQ" and next(bits):
                value = None
            elif f.type in "VQ":
                value = value[:value[-1]] if shorter else value
                value = value.decode(codec) if f.type == "V" else value
            elif f.nullable:
                next(bits)
            out.append(canon(f, None if f.type == "M" and value == "" else value))
        return out

    return [row(r) for r in t.records], [row(r) for r in t.deleted]


def read_pydbf(table, fields, code_page):
    import dbf
    # python3-dbf needs the codec for a table without a language byte.
    t = dbf.Table(table, codepage="utf8") if code_page == "UTF-8" else dbf.Table(table)
    t.open(dbf.READ_ONLY)
    try:
        live, deleted = [], []
        for record in t:
            values = []
            for f in fields:
                v = record[f.name.lower()]
                if v is dbf.Null or (f.type in "MG" and not v):
                    v = None  # python3-dbf gives '' or b'' for no memo
                elif f.type == "C":
                    v = v.rstrip(" ")
                values.append(canon(f, v))
            (deleted if dbf.is_deleted(record) else live).append(values)
        return live, deleted
    finally:
        t.close()


def read_gdal(table, fields, code_page):
    from osgeo import gdal
    gdal.UseExceptions()
    ds = gdal.OpenEx(table, gdal.OF_VECTOR | gdal.OF_READONLY)
    rows = []
    for feature in ds.GetLayer(0):
        values = []
        for f in fields:
            i = feature.GetFieldIndex(f.name)
            v = None if feature.IsFieldNull(i) else feature.GetField(i)
            if f.type == "M":
                v = ...  # GDAL shows the block number
            elif f.type == "C" and v is None:
                v = ""  # GDAL reads blanks as null
            elif f.type == "D" and v is not None:
                v = datetime.datetime.strptime(v, "%Y/%m/%d").date()
            elif f.type == "L" and v is not None:
                v = {"T": True, "F": False}.get(v)
            values.append(canon(f, v))
        rows.append(values)
    return rows, None


def read_dbfdump(table, fields, code_page):
    """shapelib's dbfdump -m: a 'Record: N' line, 'NAME: value' a field,
    '(DELETED)' after a deleted one; text passed through as stored."""
    text = subprocess.run(["dbfdump", "-m", table], capture_output=True, check=True, timeout=20).stdout
    live, deleted = [], []
    for block in text.decode(CODEC[code_page]).split("Record: ")[1:]:
        lines = block.splitlines()[1:]
        got = dict(line.split(": ", 1) for line in lines if ": " in line)
        values = []
        for f in fields:
            v = got[f.name].strip()
            v = None if v == "(NULL)" else v
            values.append("" if f.type == "C" and v is None else canon(f, v))
        (deleted if "(DELETED)" in lines else live).append(values)
    return live, deleted


def read_hyl(lib):
    def read(table, fields, code_page):
        live, deleted = [], []
        for line in lib.tool("dump", table, "--json").decode("utf-8").splitlines():
            record = json.loads(line, parse_float=Decimal)
            values = []
            for f in fields:
                v = record[f.name]
                if isinstance(v, dict):
                    v = v["bytes"]
                elif v is not None and f.type == "D":
                    v = datetime.date.fromisoformat(v)
                elif v is not None and f.type == "T":
                    v = datetime.datetime.fromisoformat(v)
                values.append(canon(f, v))
            (deleted if record.get("_deleted") else live).append(values)
        return live, deleted
    return read


def check_read(failure, readers, name, table, fields, code_page, records):
    """RECORDS ([deleted, values by field]) as the reader NAME reads them."""
    live, deleted = readers[name](table, fields, code_page)
    for what, got, want in (("record", live, [r for r in records if not r[0]]),
                            ("deleted record", deleted, [r for r in records if r[0]])):
        if got is None:
            continue  # GDAL does not show deleted records
        if len(got) != len(want):
            raise failure(f"{name}: {len(got)} {what}s, want {len(want)}: {got!r}")
        for i, (g, (_, w)) in enumerate(zip(got, want)):
            for f, gv, wv in zip(fields, g, w):
                if gv is not ... and gv != expect(name, f, wv):
                    raise failure(f"{name}, {what} {i}, {f.name}: got {gv!r}, want {expect(name, f, wv)!r}")


# --- the peers as writers ----------------------------------------------------------

def pydbf_values(fields, row):
    """ROW as python3-dbf takes it: Null for null, N and F as int or float."""
    import dbf
    values = []
    for f in fields:
        v = row.get(f.name)
        if v is None:
            v = dbf.Null if f.nullable else BLANK.get(f.type)
        elif f.type in "NF":
            v = float(v) if f.decimals else int(v)
        values.append(v)
    return tuple(values)


def make_pydbf(table, run, code_page, fields, rows, kind):
    import dbf
    spec = "; ".join(f"{f.name} {f.type}" + (f"({f.length})" if f.type == "C" else
                                             f"({f.length},{f.decimals})" if f.type in "NF" else "") +
                     (" null" if f.nullable else "") for f in fields)
    t = dbf.Table(table, spec, dbf_type=kind, codepage=CODEC[code_page])
    t.open(dbf.READ_WRITE)
    for row in rows:
        t.append(pydbf_values(fields, row))
    t.close()


def append_pydbf(table, run, code_page, fields, row):
    import dbf
    t = dbf.Table(table)
    t.open(dbf.READ_WRITE)
    t.append(pydbf_values(fields, row))
    t.close()


def make_ogr(table, run, code_page, fields, rows):
    source = table[:-4] + ".src.csv"
    write_csv(source, [f.name for f in fields],
              [[row.get(f.name).isoformat() if f.type == "D" and row.get(f.name) else row.get(f.name)
                for f in fields] for row in rows])
    kinds = {"C": "String({l})", "D": "Date", "N": "Real({l}.{d})"}
    with open(source[:-4] + ".csvt", "w") as out:
        out.write(",".join('"' + ("Integer({l})" if f.type == "N" and not f.decimals else kinds[f.type])
                           .format(l=f.length, d=f.decimals) + '"' for f in fields) + "\n")
    run(["ogr2ogr", "-f", "ESRI Shapefile", "-lco", "ENCODING=UTF-8", table, source])


def append_ogr(table, run, code_page, fields, row):
    from osgeo import gdal, ogr
    gdal.UseExceptions()
    ds = gdal.OpenEx(table, gdal.OF_VECTOR | gdal.OF_UPDATE)
    layer = ds.GetLayer(0)
    feature = ogr.Feature(layer.GetLayerDefn())
    for name, value in row.items():
        feature.SetField(name, float(value) if isinstance(value, Decimal) else value)
    layer.CreateFeature(feature)
    ds = None


def shapelib_values(fields, row, code_page):
    return ["" if row.get(f.name) is None else csv_text(row.get(f.name)).encode(CODEC[code_page]) for f in fields]


def make_shapelib(table, run, code_page, fields, rows):
    args = ["dbfcreate", table]
    for f in fields:
        args += ["-s", f.name, str(f.length)] if f.type == "C" else ["-n", f.name, str(f.length), str(f.decimals)]
    run(args)
    for row in rows:
        append_shapelib(table, run, code_page, fields, row)


def append_shapelib(table, run, code_page, fields, row):
    run(["dbfadd", table] + shapelib_values(fields, row, code_page))


# How each maker makes a table, and appends a record to it.
MAKERS = {"python3-dbf db3": (lambda *a: make_pydbf(*a, "db3"), append_pydbf),
          "python3-dbf fp": (lambda *a: make_pydbf(*a, "fp"), append_pydbf),
          "python3-dbf vfp": (lambda *a: make_pydbf(*a, "vfp"), append_pydbf),
          "GDAL": (make_ogr, append_ogr), "shapelib": (make_shapelib, append_shapelib)}


# --- the checks --------------------------------------------------------------------

def checks(lib, work, run, failure):
    where = os.path.join(work, "writing")
    os.makedirs(where)
    readers = {"dbfread": read_dbfread, "python3-dbf": read_pydbf, "GDAL": read_gdal, "dbfdump": read_dbfdump,
               "hyl dump --json": read_hyl(lib)}
    made = {}

    def sound(table, after):
        code, out = lib.status("check", table)
        if code != 0:
            raise failure(f"hyl check after {after}: exit {code}: {out.strip()}")

    def update(table, fields, records, changes):
        """One hyl update a record changed: the fields not named keep their values."""
        for r, change in changes.items():
            named = [f for f in fields if f.name in change]
            lib.tool("update", table, write_csv(table + f".u{r}.csv", ["RECORD"] + [f.name for f in named],
                                                [[r] + [change[f.name] for f in named]]))
            records[r][1] = [stored(f, change[f.name]) if f.name in change else v
                             for f, v in zip(fields, records[r][1])]

    def append(table, fields, records, rows):
        # The fields given, in reverse order: append finds them by name.
        named = [f for f in reversed(fields) if any(f.name in row for row in rows)]
        lib.tool("append", table, write_csv(table + ".a.csv", [f.name for f in named],
                                            [[row.get(f.name) for f in named] for row in rows]))
        records += [[False, [stored(f, row.get(f.name)) for f in fields]] for row in rows]

    def once(key, what, make):
        """Does MAKE once; what could not be done fails every check that
        depends on it, each saying WHAT failed."""
        if key not in made:
            try:
                made[key] = make()
            except Exception as e:  # noqa: BLE001 - reported on each dependent line
                made[key] = e
        error = made[key]
        if isinstance(error, Exception):
            if not getattr(error, "said", False):  # said once, where it happened
                error = made[key] = failure(f"{what} failed: {error}")
                error.said = True
            raise error
        return made[key]

    def make_here(spec):
        what, fmt, code_page, options, fields, (imported, appended, updates), _ = spec
        table = os.path.join(where, f"{fmt}-{code_page}-{len(made)}.dbf")
        records = [[False, [stored(f, row.get(f.name)) for f in fields]] for row in imported]
        write_csv(table + ".i.csv", [header(f) for f in fields],
                  [[row.get(f.name) for f in fields] for row in imported])
        lib.tool("import", table, table + ".i.csv", "--format", fmt, "--encoding", code_page, *options)
        sound(table, "import")
        append(table, fields, records, appended)
        sound(table, "append")
        update(table, fields, records, updates)
        sound(table, "update")
        return table, records

    def make_there(spec):
        what, maker, code_page, fields, rows, _, _, _ = spec
        table = os.path.join(where, maker.replace(" ", "-") + f"-{len(made)}.dbf")
        MAKERS[maker][0](table, run, code_page, fields, rows)
        sound(table, maker)
        return table, [[False, [stored(f, row.get(f.name)) for f in fields]] for row in rows]

    def edit(spec, step):
        """Step STEP of EDITS on the table SPEC names, after the ones before it."""
        what, maker, code_page, fields, _, updates, appended, theirs = spec
        table, records = (once((what, step - 1), EDITS[step - 1][0], lambda: edit(spec, step - 1)) if step else
                          once(what, f"making the table with {maker}", lambda: make_there(spec)))
        _, kind, named = EDITS[step]
        if kind == "update":
            update(table, fields, records, updates)
        elif kind in ("delete", "undelete"):
            numbers = named(len(records))
            lib.tool(kind, table, *map(str, numbers))
            for r in numbers:
                records[r][0] = kind == "delete"
        elif kind == "append":
            append(table, fields, records, appended)
        elif kind == "pack":
            lib.tool("pack", table)
            records[:] = [r for r in records if not r[0]]
        else:
            MAKERS[maker][1](table, run, code_page, fields, theirs)
            records.append([False, [stored(f, theirs.get(f.name)) for f in fields]])
        sound(table, EDITS[step][0])
        return table, records

    out = []
    for spec in MADE_HERE:
        for peer in spec[6]:
            def check(spec=spec, peer=peer):
                table, records = once(spec[0], "making the table", lambda: make_here(spec))
                check_read(failure, readers, peer, table, spec[4], spec[2], records)
            out.append((f"hyl import, append, update: {spec[0]}: read by {peer}", check))
    for spec in MADE_THERE:
        for step, (what, _, _) in enumerate(EDITS):
            def check(spec=spec, step=step):
                table, records = once((spec[0], step), EDITS[step][0], lambda: edit(spec, step))
                for peer in (MAKER_READS[spec[1]], "dbfread", "hyl dump --json"):
                    check_read(failure, readers, peer, table, spec[3], spec[2], records)
            out.append((f"{spec[0]}, {what}: read back by {MAKER_READS[spec[1]]}, dbfread and hyl dump --json,"
                        " check sound", check))
    return out
