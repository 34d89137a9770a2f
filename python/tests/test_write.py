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
    ([("NOTE", "M", 10)], "type M: memo values live in a memo file"),
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
        for act in (hyl.append, hyl.repair, lambda p: hyl.create(p, FIELDS)):
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
