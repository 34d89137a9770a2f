#!/usr/bin/python3
"""The Python package beside the other Python readers and writers, in one
run, as ratios of the fastest of three turns each (one for the pack, which
python3-dbf takes minutes over): all records as dicts
and as tuples (against dbfread), into a DataFrame (against pandas over
dbfread), 100,000 appends, 100,000 appends with a 200-character memo
value each, 10,000 scattered records changed, and a pack of a table of
100,000 records with memo values, a tenth of them deleted (against
python3-dbf), and the peak memory of to_pandas() in a fresh process (its
resident high-water mark over the one before the call) against the
DataFrame's own deep memory usage.

    build/python-venv/bin/python bench/python_bench.py [LARGE.dbf]

(any Python that imports hyl, dbfread, dbf and pandas).  LARGE.dbf (by
default /tmp/large.dbf) is made by bench/make_large_table.py when it is
missing.  Run on demand, never by the tests.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

import dbfread

import hyl

HERE = os.path.dirname(os.path.abspath(__file__))
APPENDED = 100_000
ROUNDS = 3
FIELDS = [("NAME", "C", 30), ("KIND", "C", 14), ("POWER", "N", 10, 2), ("STARTED", "D"), ("NOTE", "C", 40),
          ("QTY", "N", 8, 0)]
PYDBF_FIELDS = "NAME C(30); KIND C(14); POWER N(10,2); STARTED D; NOTE C(40); QTY N(8,0)"
UPDATED = 10_000

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


def timed(setup, work, path, work_dir):
    """Seconds WORK (Python text) takes in a fresh interpreter, after SETUP:
    each run starts from an empty heap, as a script would, whatever the runs
    before it left behind.  What it makes is let go after the clock stops."""
    code = f"import gc, sys, time\npath, work = sys.argv[1:3]\n{setup}\n" \
           f"gc.collect()\nstart = time.perf_counter()\n{work}\nprint(time.perf_counter() - start)"
    out = subprocess.run([sys.executable, "-c", code, path, work_dir], capture_output=True, text=True, check=True)
    return float(out.stdout.split()[-1])


def compare(base_what, base, contenders, ratios, path, work_dir, rounds=ROUNDS):
    """BASE and each of CONTENDERS (what, name, code, goal) in turn, ROUNDS
    times: a shared machine slows one run or another, so the fastest of
    each is what it can do.  Code is (setup, work)."""
    times = {base_what: []}
    for _, name, _, _ in contenders:
        times[name] = []
    for _ in range(rounds):
        times[base_what].append(timed(*base, path, work_dir))
        for _, name, code, _ in contenders:
            times[name].append(timed(*code, path, work_dir))
    for name, seconds in times.items():
        print(f"  {name:<48} {min(seconds):7.2f} s  (runs: {', '.join(f'{s:.2f}' for s in seconds)})", flush=True)
    for what, name, _, goal in contenders:
        ratios.append((what, min(times[name]) / min(times[base_what]), goal))


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "/tmp/large.dbf"
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.join(HERE, "make_large_table.py"), path], check=True)
    print(f"{path}: {len(hyl.open(path)):,} records")
    ratios = []

    with tempfile.TemporaryDirectory() as work_dir:
        def run(base_what, base, contenders, rounds=ROUNDS):
            compare(base_what, base, contenders, ratios, path, work_dir, rounds)

        run("dbfread: list(DBF(path))", ("import dbfread", "result = list(dbfread.DBF(path))"), [
            ("all records as dicts", "hyl: list(hyl.open(path)), dicts", ("import hyl", "result = list(hyl.open(path))"), 1 / 5),
            ("rows()", "hyl: rows(), tuples", ("import hyl", "result = hyl.open(path).rows()"), 1 / 10)])
        run("pandas.DataFrame(iter(dbfread.DBF(path)))",
            ("import dbfread, pandas", "result = pandas.DataFrame(iter(dbfread.DBF(path)))"), [
            ("to_pandas()", "hyl: to_pandas()", ("import hyl, pandas", "result = hyl.open(path).to_pandas()"), 1 / 10)])
        # The same records each time: the first 100,000 of the table.
        records = f"import hyl, os\nrows = hyl.open(path).rows()[:{APPENDED}]\nout = os.path.join(work, 'out.dbf')"
        run(f"python3-dbf: {APPENDED:,} appends",
            (records + f"\nimport dbf\ntable = dbf.Table(out, {PYDBF_FIELDS!r}, dbf_type='db3', codepage='cp866')",
             "with table.open(dbf.READ_WRITE):\n    for row in rows:\n        table.append(row)"), [
            (f"{APPENDED:,} appends", f"hyl: write_many of {APPENDED:,}",
             (records, f"hyl.create(out, {FIELDS!r})\nwith hyl.append(out) as w:\n    w.write_many(rows)"), 1 / 10)])
        assert len(dbfread.DBF(os.path.join(work_dir, "out.dbf"))) == APPENDED

        # The same records with a memo value of 200 characters each, its words the record's own.
        memo_rows = records + "\nrows = [row + ((' '.join(map(str, row)) * 10)[:200],) for row in rows]"
        run(f"python3-dbf: {APPENDED:,} appends with memo values",
            (memo_rows + f"\nimport dbf\ntable = dbf.Table(out, {PYDBF_FIELDS + '; MEMO M'!r}, dbf_type='db3', "
                         "codepage='cp866')",
             "with table.open(dbf.READ_WRITE):\n    for row in rows:\n        table.append(row)"), [
            (f"{APPENDED:,} appends with memo values", f"hyl: write_many of {APPENDED:,} with memo values",
             (memo_rows, f"hyl.create(out, {FIELDS + [('MEMO', 'M')]!r})\nwith hyl.append(out) as w:\n"
                         "    w.write_many(rows)"), 1 / 10)])
        memo = dbfread.DBF(os.path.join(work_dir, "out.dbf"), encoding="cp866")
        assert len(memo) == APPENDED and len(next(iter(memo))["MEMO"]) == 200

        # Changes and a pack, each on a fresh copy of that table (a tenth of
        # it deleted for the pack) made before the clock starts.
        template = os.path.join(work_dir, "memo")
        for ext in ("dbf", "dbt"):
            shutil.copy(os.path.join(work_dir, f"out.{ext}"), f"{template}.{ext}")
        with hyl.edit(template + ".dbf") as t:
            t.delete(range(0, APPENDED, 10))
        # The copy is put on the disk before the clock starts: hyl flushes
        # what it changes, and the disk's flush would otherwise take the
        # copy's bytes with it, which the other side never waits for.
        copied = (f"import shutil, os\nout = os.path.join(work, 'out.dbf')\n"
                  f"for ext in ('dbf', 'dbt'):\n    shutil.copy({template!r} + '.' + ext, out[:-3] + ext)\nos.sync()")
        picks = f"\nimport random\npicks = random.Random(7).sample(range({APPENDED}), {UPDATED})"
        run(f"python3-dbf: {UPDATED:,} scattered records changed",
            (copied + picks + "\nimport dbf\ntable = dbf.Table(out)",
             "with table.open(dbf.READ_WRITE):\n    for i in picks:\n        with table[i] as rec:\n"
             "            rec.qty = i\n            rec.kind = 'изменён'"), [
            (f"{UPDATED:,} scattered records changed", f"hyl: update_many of {UPDATED:,}",
             (copied + picks + "\nimport hyl",
              "with hyl.edit(out) as t:\n    t.update_many({i: {'QTY': i, 'KIND': 'изменён'} for i in picks})"), 1 / 10)])
        # python3-dbf takes minutes for this one: a single turn.
        run(f"python3-dbf: pack of {APPENDED:,} with a tenth deleted",
            (copied + "\nimport dbf\ntable = dbf.Table(out)", "with table.open(dbf.READ_WRITE):\n    table.pack()"), [
            (f"pack of {APPENDED:,}, a tenth deleted", "hyl: pack(backup=False)",
             (copied + "\nimport hyl", "hyl.pack(out, backup=False)"), 1 / 10)], rounds=1)
        assert len(dbfread.DBF(os.path.join(work_dir, "out.dbf"))) == APPENDED - APPENDED // 10

    peak, deep = map(int, subprocess.run([sys.executable, "-c", MEMORY, path], capture_output=True, text=True,
                                         check=True).stdout.split())
    print(f"  to_pandas() peak memory {peak / 2**20:.0f} MiB, the DataFrame's deep usage {deep / 2**20:.0f} MiB")
    ratios.append(("to_pandas() peak memory / deep usage", peak / deep, 2))

    print("ratios (goal in brackets):")
    for what, ratio, goal in ratios:
        print(f"  {what:<40} {ratio:6.3f}  ({'at most ' + format(goal, '.3g')}) {'ok' if ratio <= goal else 'MISSED'}")


if __name__ == "__main__":
    main()
