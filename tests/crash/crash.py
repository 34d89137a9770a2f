"""Appends survive a crash: a host appending through the library is killed
with SIGKILL at seeded random moments, again and again, on one table.

    crash.py APPENDER HYL_TOOL [ROUNDS]      (HYL_CRASH_SEED picks the moments)

After each kill: the header counts every record the host was told is
appended and at most one more; every counted record holds what was written;
GDAL and the library count the same; and the next host appends right after
the last counted record (its records then read back in their places).  At
the end, hyl check and hyl repair take in what the last kill left.
"""

import os
import random
import re
import signal
import struct
import subprocess
import sys
import tempfile
import time

HEADER = 32 * 2 + 33
RECORD = 1 + 10 + 20


class Failure(Exception):
    pass


def expect(what, ok):
    if not ok:
        raise Failure(what)


def record_bytes(i):
    return b" " + b"%10d" % i + (b"record %d" % i).ljust(20)


def table_state(path):
    with open(path, "rb") as f:
        data = f.read()
    count, = struct.unpack_from("<I", data, 4)
    return count, data


def check_records(data, count):
    for i in range(count):
        at = HEADER + i * RECORD
        expect(f"record {i} holds {data[at:at + RECORD]!r}, want {record_bytes(i)!r}",
               data[at:at + RECORD] == record_bytes(i))


def gdal_count(path):
    out = subprocess.run(["ogrinfo", "-so", "-al", path], capture_output=True, text=True, timeout=60).stdout
    found = re.search(r"^Feature Count: (\d+)$", out, re.M)
    return int(found.group(1)) if found else None


def library_count(appender, path):
    return int(subprocess.run([appender, path, "count"], capture_output=True, text=True, timeout=60,
                              check=True).stdout)


def one_round(appender, path, rng, acked_before):
    """Starts a host, kills it at a random moment, and returns the highest
    record index it acknowledged plus one (or ACKED_BEFORE)."""
    host = subprocess.Popen([appender, path, "append"], stdout=subprocess.PIPE)
    # The moment of the kill is drawn from when the host acknowledges its
    # first append: a host slow to start (a sanitizer build on a busy
    # machine) would otherwise be killed before it appends at all.
    first = host.stdout.read(4)
    time.sleep(rng.uniform(0.0, 0.06))
    host.send_signal(signal.SIGKILL)
    acks = first + host.stdout.read()  # what it wrote before it died
    host.wait()
    acked = acked_before
    for at in range(0, len(acks) - len(acks) % 4, 4):
        acked = max(acked, struct.unpack_from("<i", acks, at)[0] + 1)
    return acked, len(acks) // 4


def main():
    appender, tool = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 25
    seed = int(os.environ.get("HYL_CRASH_SEED", "20261207"))
    rng = random.Random(seed)
    with tempfile.TemporaryDirectory(prefix="hyl-crash-") as work:
        path = os.path.join(work, "t.dbf")
        expect("the appender could not create the table",
               subprocess.run([appender, path, "create"]).returncode == 0)
        acked = 0
        total_acks = 0
        for n in range(rounds):
            acked, acks = one_round(appender, path, rng, acked)
            total_acks += acks
            count, data = table_state(path)
            where = f"round {n} (seed {seed})"
            expect(f"{where}: the header counts {count}, the host was told {acked} were appended",
                   acked <= count <= acked + 1)
            check_records(data, count)
            expect(f"{where}: the library counts {library_count(appender, path)}, the header {count}",
                   library_count(appender, path) == count)
            expect(f"{where}: GDAL counts {gdal_count(path)}, the header {count}", gdal_count(path) == count)
            acked = count
        expect("the hosts appended nothing at all", total_acks > rounds)
        # What the last kill left after the counted records: check finds it,
        # repair counts a complete record and cuts off a partial one.
        check = subprocess.run([tool, "check", path], capture_output=True, text=True)
        expect(f"hyl check exit status {check.returncode}: {check.stdout}{check.stderr}", check.returncode in (0, 1))
        repair = subprocess.run([tool, "repair", "--no-backup", path], capture_output=True, text=True)
        expect(f"hyl repair exit status {repair.returncode}: {repair.stdout}{repair.stderr}", repair.returncode == 0)
        count, data = table_state(path)
        expect(f"after repair the header counts {count}, fewer than the {acked} counted", count >= acked)
        check_records(data, count)
        expect(f"after repair GDAL counts {gdal_count(path)}, the header {count}", gdal_count(path) == count)
        print(f"{rounds} kills, {total_acks} appends acknowledged, {count} records after repair (seed {seed})")


if __name__ == "__main__":
    try:
        main()
    except Failure as e:
        print(f"FAIL  {e}")
        sys.exit(1)
