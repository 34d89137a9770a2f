#!/usr/bin/python3
"""The Python package beside the other Python readers and writers, in one
run, as ratios: all records as dicts (against dbfread), as tuples, into a
DataFrame (against pandas over dbfread), 100,000 appends (against
python3-dbf), and the peak memory of to_pandas() in a fresh process (its resident
high-water mark over the one before the call) against the DataFrame's own
deep memory usage.

    /usr/bin/python3 bench/python_bench.py [LARGE.dbf]

LARGE.dbf (by default /tmp/large.dbf) is made by bench/make_large_table.py
when it is missing.  Run on demand, never by the tests.
"""

import os
import subprocess
import sys
import tempfile
import time

import dbf
import dbfread
import pandas

import hyl

HERE = os.path.dirname(os.path.abspath(__file__))
APPENDED = 100_000
FIELDS = [("NAME", "C", 30), ("KIND", "C", 14), ("POWER", "N", 10, 2), ("STARTED", "D"), ("NOTE", "C", 40),
          ("QTY", "N", 8, 0)]
PYDBF_FIELDS = "NAME C(30); KIND C(14); POWER N(10,2); STARTED D; NOTE C(40); QTY N(8,0)"

MEMORY = """
import sys, hyl, pandas

def peak():  # this process's own high-water mark of resident memory, bytes
    with open("/proc/self/status") as status:
        return next(int(l.split()[1]) * 1024 for l in status if l.startswith("VmHWM:"))

before = peak()
with hyl.open(sys.argv[1]) as t:
    frame = t.to_pandas()
print(peak() - before, frame.memory_usage(deep=True).sum())
"""


def timed(what, work):
    start = time.perf_counter()
    result = work()
    seconds = time.perf_counter() - start
    print(f"  {what:<48} {seconds:7.2f} s", flush=True)
    return seconds, result


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "/tmp/large.dbf"
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.join(HERE, "make_large_table.py"), path], check=True)
    print(f"{path}: {len(hyl.open(path)):,} records")
    ratios = []

    base, _ = timed("dbfread: list(DBF(path))", lambda: list(dbfread.DBF(path)))
    ours, _ = timed("hyl: list(hyl.open(path)), dicts", lambda: list(hyl.open(path)))
    ratios.append(("all records as dicts", ours / base, 1 / 5))
    ours, _ = timed("hyl: rows(), tuples", lambda: hyl.open(path).rows())
    ratios.append(("rows()", ours / base, 1 / 10))

    base, _ = timed("pandas.DataFrame(iter(dbfread.DBF(path)))", lambda: pandas.DataFrame(iter(dbfread.DBF(path))))
    ours, _ = timed("hyl: to_pandas()", lambda: hyl.open(path).to_pandas())
    ratios.append(("to_pandas()", ours / base, 1 / 10))

    rows = hyl.open(path).rows()[:APPENDED]
    with tempfile.TemporaryDirectory() as work:
        def pydbf_appends():
            table = dbf.Table(os.path.join(work, "pydbf.dbf"), PYDBF_FIELDS, dbf_type="db3", codepage="cp866")
            with table.open(dbf.READ_WRITE):
                for row in rows:
                    table.append(row)

        def hyl_appends():
            hyl.create(os.path.join(work, "hyl.dbf"), FIELDS)
            with hyl.append(os.path.join(work, "hyl.dbf")) as w:
                return w.write_many(rows)

        base, _ = timed(f"python3-dbf: {APPENDED:,} appends", pydbf_appends)
        ours, n = timed(f"hyl: write_many of {APPENDED:,}", hyl_appends)
        assert n == len(rows) == len(dbfread.DBF(os.path.join(work, "hyl.dbf")))
        ratios.append((f"{APPENDED:,} appends", ours / base, 1 / 10))

    peak, deep = map(int, subprocess.run([sys.executable, "-c", MEMORY, path], capture_output=True, text=True,
                                         check=True).stdout.split())
    print(f"  to_pandas() peak memory {peak / 2**20:.0f} MiB, the DataFrame's deep usage {deep / 2**20:.0f} MiB")
    ratios.append(("to_pandas() peak memory / deep usage", peak / deep, 2))

    print("ratios (goal in brackets):")
    for what, ratio, goal in ratios:
        print(f"  {what:<40} {ratio:6.3f}  ({'at most ' + format(goal, '.3g')}) {'ok' if ratio <= goal else 'MISSED'}")


if __name__ == "__main__":
    main()
