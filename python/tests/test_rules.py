"""One property over random tables made byte by byte: rows, dicts,
DataFrames, the tool's JSON dump, check and the tool's check read every
value alike, and name as bad exactly the values made bad."""

import datetime as dt
import json
import math
import random
import struct
import subprocess
from decimal import Decimal

import pandas as pd
import pytest

import hyl

EPOCH, DAY, JULIAN_1970 = dt.datetime(1970, 1, 1), dt.timedelta(days=1), 2440588
DBASE3, DBASE3_MEMO, VFP = 0x03, 0x83, 0x30
ALL = {DBASE3, DBASE3_MEMO, VFP}
CODE_PAGES = [(0x65, None, "cp866"), (0x26, None, "cp866"), (0xC9, None, "cp1251"), (0xC8, None, "cp1250"),
              (0x00, "UTF-8", "utf-8")]  # language byte, .cpg, codec


class Digits(float):
    """A decimal: read as a float, shown in JSON with the digits it was stored with."""

    def __new__(cls, text):
        made = super().__new__(cls, text)
        made.text = text
        return made


def text(r, t, room, memo=False):
    """Random text of at most ROOM bytes, in a spoilt table now and then with a byte the code page lacks; in
    a memo the entry is read whole, in a field without the blanks after it."""
    if t.codec == "utf-8":
        good, bad = [c.encode() for c in "aZ9 ~жЯё€ß中😀"], [b"\xff"]
    else:
        bad = [bytes([b]) for b in range(0x80, 0x100) if bytes([b]).decode(t.codec, "replace") == "\ufffd"]
        good = [bytes([b]) for b in range(0x20, 0x100) if bytes([b]) not in bad]
    raw = b""
    for _ in range(r.randrange(room + 1)):
        piece = r.choice(bad) if bad and r.random() < t.spoil / 4 else r.choice(good)
        raw += piece if len(raw) + len(piece) <= room else b""
    value = (raw if memo else raw.rstrip(b" ")).decode(t.codec, "replace")
    return t.memo(raw) if memo else raw, value, "bad-text" if "\ufffd" in value else None


def number(length, decimals, exponent=False):
    def make(r, t):
        if exponent and r.random() < 0.2:
            written = f"{r.randint(-99, 99)}e{r.randint(-5, 5)}"
            return written.encode().rjust(length), float(written), None
        n = r.choice([-1, 1]) * r.randrange(10 ** r.choice([2, 6, length - 1 - (decimals > 0)]))
        whole, fraction = divmod(abs(n), 10 ** decimals)
        written = f"{'-' if n < 0 else ''}{whole}.{fraction:0{decimals}d}" if decimals else str(n)
        value = Digits(written) if decimals else n if -2 ** 63 <= n < 2 ** 63 else float(n)  # past 64 bits a double
        return written.encode().rjust(length) if r.random() < 0.8 else written.encode(), value, None
    return make


def drawn(draw, stored, read=lambda v: v):
    """A good value of a field: DRAW one, store it as bytes, READ it back as the readers must."""
    def make(r, t):
        v = draw(r, t)
        return stored(v), read(v), None
    return make


def moment(r, t):
    """A moment in reach of datetime64[ns], or in an old table now and then centuries before."""
    days = r.randrange(-700000, -110000) if r.random() < t.old else r.randrange(-25000, 80000)
    return EPOCH + dt.timedelta(days, milliseconds=r.choice([r.randrange(86400000), r.randrange(86400) * 1000]))


def double(r, t):
    return r.choice([r.randint(-999, 999) / 8, r.uniform(-1, 1) * 10.0 ** r.randint(-300, 300)])


def sorted_double(x):
    """The sign bit flipped for a positive number, every bit for a negative one."""
    bits = struct.unpack(">Q", struct.pack(">d", x))[0]
    return struct.pack(">Q", bits ^ 1 << 63 if bits < 1 << 63 else ~bits & (1 << 64) - 1)


def julian(m):
    return struct.pack("<II", (m - EPOCH).days + JULIAN_1970, (m - EPOCH) % DAY // dt.timedelta(milliseconds=1))


NOT_A_NUMBER = ("not-a-number", [b"12a", b"1-2", b"x", b"1.2.3", b"-", b"1e", b"--1"])
TYPES = [  # letter, length, decimals, formats, a good value (bytes, value, problem), no value, bad values
    ("C", 12, 0, ALL, lambda r, t: text(r, t, 12), [], None),
    ("N", 20, 0, ALL, number(20, 0), [b"", b"*" * 20], NOT_A_NUMBER),
    ("N", 10, 3, ALL, number(10, 3), [b"", b"*" * 10], NOT_A_NUMBER),
    ("F", 12, 2, ALL, number(12, 2, exponent=True), [b"", b"**"], NOT_A_NUMBER),
    ("D", 8, 0, ALL, drawn(lambda r, t: moment(r, t).date(), lambda d: d.isoformat().replace("-", "").encode()),
     [b"", b"00000000"], ("not-a-date", [b"20230229", b"20231301", b"2023-1-1", b"2023"])),
    ("L", 1, 0, ALL, drawn(lambda r, t: r.choice("TtYyFfNn"), str.encode, lambda c: c in "TtYy"),
     [b"?", b" "], ("not-a-logical", [b"X", b"a", b"1"])),
    ("O", 8, 0, ALL, drawn(double, sorted_double), [b"\0" * 8], None),
    ("M", 10, 0, {DBASE3_MEMO}, lambda r, t: text(r, t, 40, memo=True), [b"", b"0"], None),
    ("M", 4, 0, {VFP}, lambda r, t: text(r, t, 40, memo=True), [b"\0" * 4], None),
    ("I", 4, 0, {VFP}, drawn(lambda r, t: r.randrange(-2 ** 31, 2 ** 31), lambda n: struct.pack("<i", n)), [], None),
    ("B", 8, 2, {VFP}, drawn(double, lambda x: struct.pack("<d", x)), [], None),
    ("Y", 8, 4, {VFP}, drawn(lambda r, t: r.randrange(-10 ** 15, 10 ** 15), lambda n: struct.pack("<q", n),
                             lambda n: Digits(str(Decimal(n).scaleb(-4)))), [], None),
    # A time with no day, or one past the day, is bad and no value.
    ("T", 8, 0, {VFP}, drawn(moment, julian), [b" " * 8, b"\0" * 8],
     ("not-a-date-time", [struct.pack("<II", 0, 1), struct.pack("<II", 0, 86399999), struct.pack("<II", 2460371, 86400000)])),
]


def make_value(r, t, kind):
    """A value of field type KIND: (stored bytes, what it reads as, its problem or None)."""
    letter, _, _, _, good, blanks, bad = kind
    if bad and r.random() < t.spoil:
        stored = r.choice(bad[1])
        return stored, None if letter == "T" else stored.decode(), bad[0]  # the text as stored
    return (r.choice(blanks), None, None) if blanks and r.random() < 0.15 else good(r, t)


class Table:
    """A random table written as its bytes lie, with what each value must read as."""

    def __init__(self, r, path):
        self.version = r.choice([DBASE3, DBASE3_MEMO, VFP, VFP])
        language, cpg, self.codec = r.choice(CODE_PAGES)
        self.spoil, self.old = r.choice([0, 0.03, 0.15]), r.choice([0, 0, 0.1])  # how often a value is bad, or old
        self.block, self.memo_file = (64 if self.version == VFP else 512), bytearray(512)
        types = [k for k in TYPES if self.version in k[3]]
        self.fields = r.sample(types, r.randint(1, len(types)))
        nullable = [self.version == VFP and r.random() < 0.3 for _ in self.fields]
        descriptors = [(f"F{i}", kind, length, decimals, 2 * nullable[i])
                       for i, (kind, length, decimals, *_) in enumerate(self.fields)]
        null_bytes = (sum(nullable) + 7) // 8
        descriptors += [("_NullFlags", "0", null_bytes, 0, 5)] if null_bytes else []
        self.rows, self.deleted, self.bad = [], [], {}  # bad: (field, code) -> its records
        records = b""
        for k in range(r.randrange(31)):
            self.deleted.append(r.random() < 0.2)
            records += b"*" if self.deleted[-1] else b" "
            row, nulls, bit = [], 0, 0
            for i, kind in enumerate(self.fields):
                stored, value, problem = make_value(r, self, kind)
                if nullable[i]:  # the bits go to the nullable fields in their order
                    if r.random() < 0.25:
                        nulls, value, problem = nulls | 1 << bit, None, None
                    bit += 1
                records += stored.ljust(kind[1], b" ")
                row.append(value)
                if problem:
                    self.bad.setdefault((i, problem), []).append(k)
            self.rows.append(row)
            records += nulls.to_bytes(null_bytes, "little")
        head_length = 32 + 32 * len(descriptors) + 1 + 263 * (self.version == VFP)
        head = struct.pack("<BBBBIHH16xBB2x", self.version, 124, 5, 17, len(self.rows), head_length,
                           1 + sum(d[2] for d in descriptors), 2 * (self.version == VFP), language)
        offset = 1
        for name, kind, length, decimals, flag in descriptors:
            head += struct.pack("<11scIBBB13x", name.encode(), kind.encode(), offset, length, decimals, flag)
            offset += length
        path.write_bytes((head + b"\r").ljust(head_length, b"\0") + records + b"\x1a")
        if cpg:
            path.with_suffix(".cpg").write_text(cpg)
        next_block = len(self.memo_file) // self.block
        if self.version == VFP:
            path.with_suffix(".fpt").write_bytes(struct.pack(">I2xH", next_block, self.block) + self.memo_file[8:])
        elif self.version == DBASE3_MEMO:
            path.with_suffix(".dbt").write_bytes(struct.pack("<I", next_block) + self.memo_file[4:])

    def memo(self, raw):
        """RAW as the memo file's next entry; the field's bytes that point to it."""
        block = len(self.memo_file) // self.block
        entry = struct.pack(">II", 1, len(raw)) + raw if self.version == VFP else raw + b"\x1a\x1a"
        self.memo_file += entry.ljust(-(-len(entry) // self.block) * self.block, b"\0")
        return struct.pack("<I", block) if self.version == VFP else str(block).rjust(10).encode()


def typed(values):
    return [(float if isinstance(v, float) else type(v), v) for v in values]


def in_json(got, want):
    """Whether the tool's JSON value GOT (its numbers with a point or exponent as Decimal) is WANT."""
    if isinstance(want, Digits):
        return isinstance(got, Decimal) and str(got) == want.text
    if isinstance(want, float):
        return type(got) in (int, Decimal) and float(got) == want
    if isinstance(want, dt.date):
        return got == (want.isoformat(timespec="milliseconds").removesuffix(".000")
                       if isinstance(want, dt.datetime) else want.isoformat())
    return type(got) is type(want) and got == want


def in_frame(x, kind):
    """A DataFrame's value as Python has it: None for NA, NaN and NaT."""
    if x is None or x is pd.NA or x is pd.NaT or (isinstance(x, float) and math.isnan(x)):
        return None
    if isinstance(x, pd.Timestamp):
        return x.to_pydatetime().date() if kind == "D" else x.to_pydatetime()
    return x.item() if hasattr(x, "item") else x  # numpy's scalars


def dtype(kind, decimals, values):
    present = [v for v in values if v is not None]
    if kind in "CM" or any(isinstance(v, str) for v in present):
        return "object"
    if kind in "NFI":  # N and F with decimals are float64 by their header, whatever their values
        return "Int64" if all(type(v) is int for v in present) and not (kind in "NF" and decimals) else "float64"
    if kind in "DT":
        return "datetime64[ns]" if all(1678 <= v.year <= 2261 for v in present) else "object"
    return "boolean" if kind == "L" else "float64"


@pytest.mark.parametrize("seed", range(40))
def test_every_reader_reads_each_value_alike_and_names_the_bad_ones(tmp_path, tool, seed):
    path = tmp_path / "t.dbf"
    made = Table(random.Random(seed), path)
    names = [f"F{i}" for i in range(len(made.fields))]
    want = [tuple(row) + (deleted,) for row, deleted in zip(made.rows, made.deleted)]
    kept = [row for row, deleted in zip(made.rows, made.deleted) if not deleted]
    with hyl.open(path) as t:
        assert t.encoding == made.codec
        assert [typed(row) for row in t.rows(deleted=True)] == [typed(row) for row in want]
        assert t.records(deleted=True) == [dict(zip(names + ["_deleted"], row)) for row in want]
        assert list(t) == [t[k] for k in range(len(t)) if not made.deleted[k]] == [dict(zip(names, r)) for r in kept]
        frame = t.to_pandas()
    for i, (kind, _, decimals, *_) in enumerate(made.fields):
        column = [row[i] for row in kept]
        assert (names[i], str(frame[names[i]].dtype)) == (names[i], dtype(kind, decimals, column))
        if dtype(kind, decimals, column) == "float64":  # whole numbers too
            column = [None if v is None else float(v) for v in column]
        assert typed(in_frame(x, kind) for x in frame[names[i]].tolist()) == typed(column)

    dumped = subprocess.run([tool, "dump", "--json", path], capture_output=True, text=True, check=True).stdout
    lines = [json.loads(line, parse_float=Decimal) for line in dumped.splitlines()]
    assert [line.pop("_deleted", False) for line in lines] == made.deleted
    assert [list(line) for line in lines] == [names] * len(made.rows)
    assert [(k, name, line[name], v) for k, (line, row) in enumerate(zip(lines, made.rows))
            for name, v in zip(names, row) if not in_json(line[name], v)] == []

    report = hyl.check(path)
    table = json.loads(subprocess.run([tool, "check", "--json", path], capture_output=True, text=True).stdout)["tables"][0]
    assert [(f.code, f.message, f.record, f.field, f.count, f.examples, f.repair_mends) for f in report.findings] == [
        (f["code"], f["message"], f.get("record"), f.get("field"), f["count"],
         [(e["record"], e["value"]) for e in f.get("examples", [])], f["repair_mends"]) for f in table["findings"]]
    assert (report.sound, table["status"]) == (not made.bad, "damaged" if made.bad else "sound")
    assert {(f.field, f.code): f.count for f in report.findings} == {key: len(bad) for key, bad in made.bad.items()}
    for f in report.findings:
        assert f.record == made.bad[f.field, f.code][0]
        for record, shown in f.examples:
            assert record in made.bad[f.field, f.code]
            assert f.code == "not-a-date-time" or shown == made.rows[record][f.field]  # the text as stored
