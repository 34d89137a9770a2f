#!/usr/bin/python3
"""Reading on every core, in one run, as ratios of the fastest of three
turns each (the two sides of a ratio taking turns, as a shared machine slows
one run or another):

- hyl dump --csv of the 1,000,000-record table on every processor, against
  the same on one thread (--threads 1) and against GDAL's ogr2ogr -f CSV,
  each a whole process (dump's CSV to /dev/null, ogr2ogr's into a folder;
  dump's into a file too, shown beside); and dump's peak memory against the
  table's size;
- to_pandas() against to_pandas(threads=1), and to_pandas(columns=) of two
  fields against the whole table: the call, each in a fresh interpreter
  (the whole processes' times are shown beside);
- hyl.dask.read_dbf(...).compute() of 20 tables of 100,000 records on a
  LocalCluster of two worker processes (started before the clock), and
  .persist() (the frame read and kept on the workers), against
  pandas.concat of their to_pandas() in one process; and compute() on a
  LocalCluster of two workers in the calling process (processes=False).

    build/python-venv/bin/python bench/scale_bench.py [LARGE.dbf [ARCHIVE_FOLDER]]

(any Python that imports hyl, pandas and dask.distributed; the hyl tool of
build/native, or HYL_TOOL).  LARGE.dbf (by default /tmp/large.dbf) and the
20 tables of ARCHIVE_FOLDER (by default /tmp/hyl-archive) are made by
bench/make_large_table.py when they are missing.  Each turn waits (up to a
minute) for the processors to be idle, as a program of another user on a
shared machine takes one of them and leaves every thread to share the
other.  Run on demand, never by the tests.
"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.environ.get("HYL_TOOL", os.path.join(HERE, "..", "build", "native", "tools", "hyl"))
ROUNDS = 3
TABLES, RECORDS = 20, 100_000

CALL = """
import sys, time, hyl, pandas
table = hyl.open(sys.argv[1])
start = time.perf_counter()
frame = table.to_pandas({options})
print(time.perf_counter() - start)
"""

DASK = """
import sys, time, pandas, hyl, hyl.dask
from distributed import Client, LocalCluster, wait
sys.path.insert(0, {here!r})
from scale_bench import quiet

def concat(paths):
    return pandas.concat([hyl.open(p).to_pandas() for p in paths], ignore_index=True)

def timed(what, work):
    quiet()
    start = time.perf_counter()
    result = work()
    print(what, time.perf_counter() - start, len(result), flush=True)

def persisted(paths):
    frame = hyl.dask.read_dbf(paths).persist()
    wait(frame)
    return frame

if __name__ == "__main__":
    paths = sys.argv[1:]
    for processes in (True, False):
        with LocalCluster(n_workers=2, processes=processes, threads_per_worker=1, dashboard_address=None) as cluster, \\
                Client(cluster):
            for _ in range({rounds}):
                timed("pandas", lambda: concat(paths))
                timed(f"dask-{{processes}}", lambda: hyl.dask.read_dbf(paths).compute())
                if processes:
                    timed("reading", lambda: persisted(paths))
"""


def idle(seconds=0.5):
    """The share of the processors' time they were idle over SECONDS."""
    def times():
        with open("/proc/stat") as stat:
            values = [int(v) for v in stat.readline().split()[1:]]
        return sum(values), values[3] + values[4]
    total, idle_before = times()
    time.sleep(seconds)
    total_after, idle_after = times()
    return (idle_after - idle_before) / max(total_after - total, 1)


def quiet():
    """Waits, up to a minute, for the processors to be idle."""
    deadline = time.time() + 60
    while idle() < 0.95 and time.time() < deadline:
        pass


def whole(command, **kwargs):
    """Seconds COMMAND takes as a whole process, and its peak resident memory (bytes)."""
    start = time.perf_counter()
    child = subprocess.Popen(command, **kwargs)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    if status != 0:
        raise SystemExit(f"{command[0]} failed ({status})")
    return seconds, usage.ru_maxrss * 1024


def fastest(runs):
    """Each contender's fastest of ROUNDS turns: RUNS maps a name to a
    function giving (seconds, extra); they take turns."""
    times = {name: [] for name in runs}
    extra = {}
    for _ in range(ROUNDS):
        for name, run in runs.items():
            quiet()
            seconds, extra[name] = run()
            times[name].append(seconds)
    for name, seconds in times.items():
        print(f"  {name:<56} {min(seconds):7.3f} s  (runs: {', '.join(f'{s:.3f}' for s in seconds)})", flush=True)
    return {name: min(seconds) for name, seconds in times.items()}, extra


def main():
    large = sys.argv[1] if len(sys.argv) > 1 else "/tmp/large.dbf"
    archive = sys.argv[2] if len(sys.argv) > 2 else "/tmp/hyl-archive"
    make = os.path.join(HERE, "make_large_table.py")
    if not os.path.exists(large):
        subprocess.run([sys.executable, make, large], check=True)
    os.makedirs(archive, exist_ok=True)
    paths = [os.path.join(archive, f"month{k:02d}.dbf") for k in range(1, TABLES + 1)]
    for path in paths:
        if not os.path.exists(path):
            subprocess.run([sys.executable, make, path, str(RECORDS)], check=True)
    processors = len(os.sched_getaffinity(0))
    print(f"{large}: {os.path.getsize(large) / 2**20:.0f} MiB; {TABLES} tables of {RECORDS:,} records; "
          f"{processors} processors")
    ratios = []

    with tempfile.TemporaryDirectory() as out:
        def dump(*threads):
            return whole([TOOL, "dump", "--csv", large, *threads], stdout=subprocess.DEVNULL)

        def dump_file(*threads):
            with open(os.path.join(out, "dump.csv"), "wb") as f:
                return whole([TOOL, "dump", "--csv", large, *threads], stdout=f)

        def ogr():
            shutil.rmtree(os.path.join(out, "ogr"), ignore_errors=True)
            return whole(["ogr2ogr", "-f", "CSV", os.path.join(out, "ogr"), large])

        best, peak = fastest({"hyl dump --csv (every processor)": dump,
                              "hyl dump --csv --threads 1": lambda: dump("--threads", "1"),
                              "hyl dump --csv > a file (every processor)": dump_file,
                              "hyl dump --csv --threads 1 > a file": lambda: dump_file("--threads", "1"),
                              "ogr2ogr -f CSV": ogr})
        fast = best["hyl dump --csv (every processor)"]
        ratios.append(("dump --csv / its one thread", fast / best["hyl dump --csv --threads 1"], 0.6))
        ratios.append(("dump --csv / ogr2ogr -f CSV", fast / best["ogr2ogr -f CSV"], 0.05))
        print(f"  into a file: every processor / one thread "
              f"{best['hyl dump --csv > a file (every processor)'] / best['hyl dump --csv --threads 1 > a file']:.3f}, "
              f"/ ogr2ogr {best['hyl dump --csv > a file (every processor)'] / best['ogr2ogr -f CSV']:.3f}")
        table = os.path.getsize(large)
        print(f"  dump's peak memory {peak['hyl dump --csv (every processor)'] / 2**20:.0f} MiB "
              f"(one thread: {peak['hyl dump --csv --threads 1'] / 2**20:.0f} MiB) for a table of {table / 2**20:.0f} MiB")
        ratios.append(("dump's peak memory / the table", peak["hyl dump --csv (every processor)"] / table, 0.25))

    def call(options):
        def run():
            started = time.perf_counter()
            said = subprocess.run([sys.executable, "-c", CALL.format(options=options), large], capture_output=True,
                                  text=True, check=True)
            return float(said.stdout.split()[-1]), time.perf_counter() - started
        return run

    best, process = fastest({"to_pandas()": call(""), "to_pandas(threads=1)": call("threads=1"),
                             "to_pandas(columns=['NAME', 'QTY'])": call("columns=['NAME', 'QTY']")})
    print(f"  whole processes: {', '.join(f'{name} {s:.3f} s' for name, s in process.items())}")
    ratios.append(("to_pandas() / to_pandas(threads=1)", best["to_pandas()"] / best["to_pandas(threads=1)"], 0.6))
    ratios.append(("to_pandas(columns= two fields) / to_pandas()",
                   best["to_pandas(columns=['NAME', 'QTY'])"] / best["to_pandas()"], 1 / 3))

    said = subprocess.run([sys.executable, "-c", DASK.format(rounds=ROUNDS, here=HERE), *paths], capture_output=True,
                          text=True, check=True).stdout.split("\n")
    times = {}
    for line in said:
        if line:
            what, seconds, rows = line.split()
            times.setdefault(what, []).append(float(seconds))
    names = {"pandas": f"pandas.concat of {TABLES} to_pandas()",
             "dask-True": "read_dbf(...).compute(), 2 worker processes",
             "reading": "  read_dbf(...).persist(), kept on the 2 workers",
             "dask-False": "read_dbf(...).compute(), 2 workers in this process"}
    for what, seconds in times.items():
        print(f"  {names[what]:<56} {min(seconds):7.3f} s  (runs: {', '.join(f'{s:.3f}' for s in seconds)})")
    base = min(times["pandas"])
    ratios.append(("read_dbf on 2 worker processes / pandas", min(times["dask-True"]) / base, 1.5))
    ratios.append(("  persist(), kept on the workers / pandas", min(times["reading"]) / base, None))
    ratios.append(("read_dbf on 2 workers in-process / pandas", min(times["dask-False"]) / base, None))

    print("ratios (goal in brackets):")
    for what, ratio, goal in ratios:
        judged = "" if goal is None else f"(at most {goal:.3g}) {'ok' if ratio <= goal else 'MISSED'}"
        print(f"  {what:<46} {ratio:6.3f}  {judged}")


if __name__ == "__main__":
    main()
