"""Writing: tables made and appended here read back by dbfread and GDAL,
values refused as the tool refuses them, a table in use, writers and a
reader in threads beside a host's current table, and appends that survive
a kill."""

import ctypes
import datetime as dt
import os
import random
import re
import signal
import subprocess
import sys
import threading
import time
from decimal import Decimal

import dbfread
import pytest
from osgeo import ogr

import hyl

@pytest.fixture(autouse=True)
def in_tmp(tmp_path, monkeypatch):
    """Tables by short names, as the messages then name them."""
    monkeypatch.chdir(tmp_path)


FIELDS = [("NAME", "C", 12), ("QTY", "N", 10, 2), ("WHEN", "D"), ("OK", "L")]
ROWS = [("насос № 1", 12.5, dt.date(2024, 3, 1), True), ("котёл", -3, None, False), ("", None, dt.date(1999, 12, 31), None)]


def made(path, rows=ROWS):
    hyl.create(path, FIELDS)
    with hyl.append(path) as w:
        w.write(dict(zip([f[0] for f in FIELDS], rows[0])))
        assert w.write_many(rows[1:]) == len(rows) - 1 and len(w) == len(rows)
    return str(path)


def read_dbfread(path):
    return [tuple(r.values()) for r in dbfread.DBF(path, encoding="cp866")]


def read_gdal(path):
    source = ogr.Open(path)  # the layer lives only as long as its source
    layer = source.GetLayer()
    dates = lambda v: dt.datetime.strptime(v, "%Y/%m/%d").date() if v else None
    logical = {"T": True, "F": False, None: None}
    return [(f.GetField(0) or "", f.GetField(1), dates(f.GetField(2)), logical[f.GetField(3)]) for f in layer]


@pytest.mark.parametrize("read", [read_dbfread, read_gdal, lambda path: hyl.open(path).rows()])
def test_what_is_written_reads_back_everywhere(read):
    want = [(n, float(q) if q is not None else None, d, ok) for n, q, d, ok in ROWS]
    assert read(made("t.dbf")) == want


@pytest.mark.parametrize("row, message", [
    ({"NAME": "длинное название"}, "field NAME: 'длинное название' has 16 characters; C(12) holds 12"),
    ({"NAME": "smile \U0001F600"}, "field NAME: 'smile \U0001F600': '\U0001F600' (U+1F600) has no place in code page 866"),
    ({"NAME": "a\tb"}, "field NAME: 'a\tb' holds a control character (U+0009)"),
    ({"NAME": 5}, "field NAME: 5 is not text"),
    ({"QTY": "abc"}, "field QTY: 'abc' is not a number"),
    ({"QTY": 1.234}, "field QTY: '1.234' does not fit N(10,2): 3 digits after the point"),
    ({"QTY": 1e12}, "field QTY: '1000000000000' does not fit N(10,2)"),
    ({"QTY": True}, "field QTY: True is not a number"),
    ({"WHEN": "2024-03-01"}, "field WHEN: '2024-03-01' is not a date YYYYMMDD"),
    ({"WHEN": dt.datetime(2024, 3, 1, 12)}, "a D field holds the date alone"),
    ({"OK": "yes"}, "field OK: 'yes' is not a logical value"),
    ({"COLOUR": "red"}, "rows[1]: "),
    ({"COLOUR": "red"}, "has no field 'COLOUR'"),
    (("a", 1), "rows[1]: 2 values; the table has 4 fields"),
])
def test_a_bad_row_is_named_and_nothing_is_written(row, message):
    path = made("t.dbf")
    before = open(path, "rb").read()
    with hyl.append(path) as w:
        with pytest.raises(ValueError) as refused:
            w.write_many([{"NAME": "хороший"}, row, {"QTY": 1}])
    assert message in str(refused.value) and "rows[1]" in str(refused.value)
    assert "nothing written: t.dbf is unchanged" in str(refused.value)
    assert open(path, "rb").read() == before


@pytest.mark.parametrize("fields, message", [
    ([("ОЧЕНЬДЛИННОЕИМЯ", "C", 5)], "has 15 characters; a field name holds at most 11"),
    ([("A B", "C", 5)], "holds a blank"),
    ([("ID", "I")], "type I: Visual FoxPro has it, dBASE III does not (format='vfp')"),
    ([("QTY", "N", 5), ("qty", "N", 5)], "fields[1]: field name 'qty' is repeated (fields[0] has it)"),
    ([("NAME", "C")], "a C field needs its length"),
    ([("WHEN", "D", 10)], "a D field is 8 characters long"),
])
def test_a_bad_definition_makes_no_table(fields, message):
    with pytest.raises(ValueError, match=re.escape(message)):
        hyl.create("t.dbf", fields)
    assert not os.path.exists("t.dbf")


def test_a_table_in_use_is_refused_with_the_library_s_words():
    path = made("t.dbf")
    holder = subprocess.Popen([sys.executable, "-c", "import hyl, sys; w = hyl.append(sys.argv[1]); print(1, flush=True); "
                               "sys.stdin.read()", path], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        assert holder.stdout.readline() == b"1\n"
        for act in (hyl.append, hyl.repair, lambda p: hyl.create(p, FIELDS), hyl.edit, hyl.pack):
            with pytest.raises(hyl.TableInUse) as refused:
                act(path)
            assert isinstance(refused.value, OSError) and "t.dbf" in str(refused.value)
        assert "занят" in str(pytest.raises(hyl.TableInUse, hyl.append, path).value)
        assert len(hyl.open(path).rows()) == 3 and hyl.check(path).sound
    finally:
        holder.communicate(b"")


def test_writers_and_a_reader_in_threads_beside_a_host_s_current_table():
    library = os.environ.get("HYL_NATIVE_LIB")
    if not library:
        pytest.skip("HYL_NATIVE_LIB names no libhyl.so (scripts/test.sh sets it)")
    host = ctypes.CDLL(library)
    host_table = made("host.dbf")
    assert host.Hyl_OpenTableForAppend(host_table.encode()) == 1
    with pytest.raises(hyl.TableInUse):
        hyl.append(host_table)
    paths = [made(f"w{i}.dbf", ROWS[:1]) for i in range(2)]
    seen, faults = [], []

    def write(path, n):
        with hyl.append(path) as w:
            for i in range(0, 600, 50):
                w.write_many([(f"w{n} {k}", k, None, k % 2 == 0) for k in range(i, i + 50)])
                host.Hyl_PutField(f"{n}{i}".encode(), 0)
                host.Hyl_AppendRecord()

    def read():
        while any(t.is_alive() for t in writers):
            with hyl.open(paths[0]) as t:
                rows = t.rows()
            if rows[1:] != [(f"w0 {k}", float(k), None, k % 2 == 0) for k in range(len(rows) - 1)]:
                faults.append(rows)
            seen.append(len(rows))

    writers = [threading.Thread(target=write, args=(p, n)) for n, p in enumerate(paths)]
    reader = threading.Thread(target=read)
    for t in writers + [reader]:
        t.start()
    for t in writers + [reader]:
        t.join()
    assert not faults and seen == sorted(seen)
    assert [len(hyl.open(p)) for p in paths] == [601, 601]
    assert host.Hyl_GetQRecords() == 3 + 24 and host.Hyl_CloseTable() == 1
    assert len(hyl.open(host_table)) == 27


CRASHER = """
import hyl, sys
with hyl.append(sys.argv[1]) as w:
    for i in range(int(sys.argv[2]), 10 ** 6):
        w.write((f"r{i}", i, None, True))
        sys.stdout.write(f"{i}\\n")
        sys.stdout.flush()
"""


def test_a_kill_while_appending_loses_no_acknowledged_record():
    path = str("t.dbf")
    hyl.create(path, FIELDS)
    rng = random.Random(18)
    acknowledged = 0
    for _ in range(5):
        child = subprocess.Popen([sys.executable, "-c", CRASHER, path, str(acknowledged)], stdout=subprocess.PIPE)
        time.sleep(rng.uniform(0.3, 0.6))
        child.send_signal(signal.SIGKILL)
        said = child.stdout.read().split()
        child.wait()
        acknowledged = int(said[-1]) + 1 if said else acknowledged
        count = len(hyl.open(path))
        assert acknowledged <= count <= acknowledged + 1
        hyl.repair(path, backup=False)
        acknowledged = len(hyl.open(path))
    rows = hyl.open(path).rows()
    assert acknowledged > 0 and rows == [(f"r{i}", float(i), None, True) for i in range(acknowledged)]


# --- Every format, memo values, edits and pack --------------------------------

TYPES = {"dbase3": "CNFDLM", "dbase4": "CNFDLM", "foxpro": "CNFDLM", "vfp": "CNFDLMIBYTVQG"}
ENCODINGS = ["cp866", "cp1251", "utf-8", "koi8_r"]
# What a field given None reads as where it may not be null.
BLANK = {"C": "", "V": "", "I": 0, "B": 0.0, "Y": 0.0, "Q": hyl.BinaryMemo(0)}


def text(r, encoding, room, lines=False):
    """Random text of at most ROOM bytes in ENCODING, without the blanks a field cuts."""
    if encoding == "utf-8":
        alphabet = "aZ9 ~жЯё€ß中😀"
    else:
        alphabet = [c for c in bytes(range(0x20, 0x100)).decode(encoding, "ignore") if c.isprintable()]
    out = ""
    for _ in range(r.randrange(room + 1)):
        c = r.choice("\n\t") if lines and r.random() < 0.05 else r.choice(alphabet)
        out += c if len((out + c).encode(encoding)) <= room else ""
    return out if lines else out.rstrip(" ")


def field(r, kind, name, form):
    """A field as the table has it, and as create is given it (a type's one length left out now and then)."""
    length = {"C": r.randint(1, 40), "V": r.randint(2, 40), "Q": r.randint(2, 20), "N": r.randint(4, 15),
              "F": r.randint(4, 15), "D": 8, "L": 1, "M": 4 if form == "vfp" else 10, "G": 4}.get(kind, 8 - 4 * (kind == "I"))
    decimals = r.randint(0, min(length - 3, 4)) if kind in "NF" else 0
    f = hyl.Field(name, kind, length, decimals, form == "vfp" and r.random() < 0.3)
    return f, f._replace(length=0) if kind not in "CVQNF" and r.random() < 0.5 else tuple(f)


def value(r, f, encoding):
    """A value for field F as written, and as hyl.open reads it back."""
    if r.random() < 0.15:
        return None, None if f.nullable else BLANK.get(f.type)
    kind = f.type
    if kind in "CV":
        v = text(r, encoding, f.length)
        return v, v
    if kind == "M":
        v = text(r, encoding, 300, lines=True)
        return v, v or None
    if kind in "NF":
        n = r.randrange(-10 ** (f.length - 2 - f.decimals) + 1, 10 ** (f.length - 2 - f.decimals))
        d = Decimal(n).scaleb(-f.decimals)
        return r.choice([d, str(d), float(d)] if f.decimals else [n, str(n)]), float(d) if f.decimals else n
    if kind == "D":
        d = dt.date(1900, 1, 1) + dt.timedelta(days=r.randrange(80000))
        return d, d
    if kind == "L":
        b = r.random() < 0.5
        return b, b
    if kind == "I":
        n = r.randint(-2 ** 31, 2 ** 31 - 1)
        return n, n
    if kind == "B":
        x = r.uniform(-1e9, 1e9)
        return x, x
    if kind == "Y":
        d = Decimal(r.randrange(-10 ** 14, 10 ** 14)).scaleb(-4)
        return r.choice([d, str(d)]), float(d)
    if kind == "T":
        t = dt.datetime(1900, 1, 1) + dt.timedelta(milliseconds=r.randrange(10 ** 13))
        return (t, t) if r.random() < 0.8 else (t.date(), dt.datetime.combine(t.date(), dt.time()))
    b = bytes(r.randrange(256) for _ in range(r.randint(0, f.length if kind == "Q" else 300)))  # Q, G
    return b, hyl.BinaryMemo(len(b))


def same(rows):
    """Rows with their floats to twelve digits: a Y amount reads as the double of its ten-thousandths."""
    return [tuple(float(f"{v:.12g}") if isinstance(v, float) else v for v in row) for row in rows]


@pytest.mark.parametrize("seed", range(16))
def test_random_tables_are_written_changed_and_packed_as_they_read_back(seed):
    r = random.Random(seed)
    form, encoding = list(TYPES)[seed % 4], ENCODINGS[seed // 4]
    kinds = list(TYPES[form]) + r.choices(TYPES[form], k=3)
    r.shuffle(kinds)
    fields, given = zip(*(field(r, kind, f"F{i}", form) for i, kind in enumerate(kinds)))
    hyl.create("t.dbf", given, format=form, encoding=encoding)
    made = [[value(r, f, encoding) for f in fields] for _ in range(r.randint(1, 40))]
    with hyl.append("t.dbf") as w:
        w.write([v for v, _ in made[0]])
        w.write_many({f.name.lower(): v for f, (v, _) in zip(fields, row)} for row in made[1:])
    model = [[read for _, read in row] + [False] for row in made]

    with hyl.edit("t.dbf") as t:
        assert t.fields == hyl.open("t.dbf").fields == list(fields) and t.encoding == hyl.open("t.dbf").encoding
        changes = {}
        for i in r.sample(range(len(model)), r.randint(1, len(model))):
            changes[i] = {}
            for k in r.sample(range(len(fields)), r.randint(1, len(fields))):
                changes[i][fields[k].name], model[i][k] = value(r, fields[k], encoding)
        t.update_many(changes)
        k, i = r.randrange(len(fields)), r.randrange(len(model))
        written, model[i][k] = value(r, fields[k], encoding)
        t.update(i - len(model) if r.random() < 0.5 else i, {fields[k].name: written})
        assert same(t.rows(deleted=True)) == same(model)
        gone = r.sample(range(len(model)), r.randint(0, len(model)))
        t.delete(gone)
        back = gone[: len(gone) // 3]
        t.undelete(back)
        for i in set(gone) - set(back):
            model[i][-1] = True
        assert same(t.rows(deleted=True)) == same(model) and len(t) == len(model)
    assert hyl.check("t.dbf").sound

    packed = hyl.pack("t.dbf", backup=r.random() < 0.5)
    live = [row[:-1] for row in model if not row[-1]]
    assert (packed.kept, packed.removed) == (len(live), len(model) - len(live))
    assert (packed.memo_before is None) == (packed.memo_after is None) == ("M" not in kinds and "G" not in kinds)
    assert same(hyl.open("t.dbf").rows()) == same(live) and hyl.check("t.dbf").sound


def memo_table(path="t.dbf"):
    hyl.create(path, [("NAME", "C", 8), ("NOTE", "M")], format="foxpro")
    with hyl.append(path) as w:
        w.write_many([("один", "первая запись"), ("два", None)])
    return path


def indexed(path):
    """The table's header says a production index (.cdx) lists its records."""
    with open(path, "r+b") as f:
        f.seek(28)
        f.write(b"\x01")
    open("t.cdx", "wb").close()
    return path


@pytest.mark.parametrize("prepare, act, error, message", [
    (None, lambda p: hyl.append(p).write(("€", None)), ValueError, "field NAME: '€': '€' (U+20AC) has no place in code page 866"),
    (None, lambda p: hyl.edit(p).update(0, {"NOTE": b"\x00"}), ValueError, "records[0], field NOTE: bytes given to a text memo"),
    (None, lambda p: hyl.edit(p).update(2, {"NAME": "x"}), IndexError, "record 2 is not in the table (it has 2 records, 0 to 1)"),
    (None, lambda p: hyl.edit(p).update_many({-3: {"NAME": "x"}}), IndexError, "record -3 is not in the table"),
    (None, lambda p: hyl.edit(p).update_many({0: {"NAME": "девять букв"}, 1: {"QTY": 1}}), ValueError,
     "t.dbf: records[0], field NAME: 'девять букв' has 11 characters; C(8) holds 8\nt.dbf: records[1]: t.dbf has no field 'QTY'"),
    (None, lambda p: hyl.create(p, [("ID", "I"), hyl.Field("N", "N", 5, nullable=True)], format="foxpro"), ValueError,
     "fields[0]: type I: Visual FoxPro has it, FoxPro does not (format='vfp')\n"
     "t.dbf: fields[1]: a nullable field: Visual FoxPro has them, FoxPro does not (format='vfp')"),
    (None, lambda p: hyl.create(p, [("NAME", "C", 5)], format="dbase5"), ValueError, "format 'dbase5' is none of"),
    (None, lambda p: hyl.create(p, [("NAME", "C", 5)], encoding="klingon"), LookupError, "'klingon' names no code page"),
    (indexed, hyl.append, hyl.Error, "t.dbf: it has a production index, t.cdx, which would no longer match it (drop_index=True"),
    (indexed, hyl.edit, hyl.Error, "production index, t.cdx"),
    (indexed, hyl.pack, hyl.Error, "production index, t.cdx"),
])
def test_what_is_refused_leaves_the_table_as_it_was(prepare, act, error, message):
    path = memo_table()
    if prepare:
        prepare(path)
    before = [open(name, "rb").read() for name in sorted(os.listdir("."))]
    with pytest.raises(error) as refused:
        act(path)
    assert message in str(refused.value)
    assert [open(name, "rb").read() for name in sorted(os.listdir("."))] == before


def test_dropping_an_index_is_said_and_the_index_is_left():
    path = indexed(memo_table())
    with pytest.warns(UserWarning, match="cleared the production index flag: t.cdx no longer matches the table"):
        with hyl.edit(path, drop_index=True) as t:
            t.delete(0)
    assert open(path, "rb").read()[28] == 0 and os.path.exists("t.cdx")
    assert hyl.pack(path).backups == ["t.dbf.bak", "t.fpt.bak"] and hyl.open(path).rows() == [("два", None)]
