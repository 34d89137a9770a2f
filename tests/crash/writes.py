"""Writes survive a kill: the library's writer (writer.cpp) is killed with
SIGKILL at seeded random moments while it appends records with memo texts,
while it updates every record, and while it packs, on each format with a
memo file.

    writes.py WRITER [ROUNDS]      (HYL_CRASH_SEED picks the moments)

After each kill check finds nothing wrong only with a table that is as it
may be, repair leaves the table sound, and then: every record whose append
was acknowledged is there, and every record is whole (its name and memo
text as written); after updates every record is whole, of the generation
last acknowledged or the next; after a pack the table is the old one
(deleted records and all) or the new one, whole.
"""

import os
import random
import signal
import struct
import subprocess
import sys
import tempfile
import time

FORMATS = ["dbase3", "dbase4", "foxpro", "vfp"]


class Failure(Exception):
    pass


def expect(what, ok):
    if not ok:
        raise Failure(what)


def name(i, generation):
    return f"n{i}g{generation}"


def note(i, generation):
    text = f"note {i}/{generation}"
    length = 10 + (i * 211 + generation * 97) % 1500
    while len(text) < length:
        text += " " + str(len(text))
    return text


def row(i, generation, deleted=False):
    return ("*" if deleted else " ", str(i), name(i, generation), note(i, generation))


class Table:
    seen = {}  # what check found after the kills, and how often

    def __init__(self, writer, folder, form):
        self.writer, self.path = writer, os.path.join(folder, "t.dbf")
        self.run("create", form)

    def run(self, *args):
        done = subprocess.run([self.writer, self.path, *map(str, args)], capture_output=True, text=True, timeout=60)
        expect(f"writer {' '.join(map(str, args))}: exit {done.returncode}: {done.stderr}", done.returncode == 0)
        return done.stdout

    def rows(self):
        return [tuple(line.split("\t")) for line in self.run("dump").splitlines()]

    def start(self, *args):
        return subprocess.Popen([self.writer, self.path, *map(str, args)], stdout=subprocess.PIPE)

    def settle(self, where, may_be):
        """Check, repair, and the rows as they may be (MAY_BE says why not)."""
        found = self.run("check").split()
        for code in found:
            Table.seen[code] = Table.seen.get(code, 0) + 1
        if not found:
            problem = may_be(self.rows())
            expect(f"{where}: check finds nothing wrong, but {problem}", problem is None)
        self.run("repair")
        expect(f"{where}: check after repair finds {self.run('check').split()}", not self.run("check").split())
        rows = self.rows()
        problem = may_be(rows)
        expect(f"{where}: after repair (check found {found}) {problem}", problem is None)
        return rows, found


def acks_until_killed(host, rng, longest):
    """The numbers the host acknowledged before a kill at a random moment
    after its first acknowledgement."""
    first = host.stdout.read(4)
    time.sleep(rng.uniform(0.0, longest))
    host.send_signal(signal.SIGKILL)
    data = first + host.stdout.read()
    host.wait()
    return [struct.unpack_from("<i", data, at)[0] for at in range(0, len(data) - len(data) % 4, 4)]


def appends(table, rng, where, kills):
    acked = 0
    for kill in range(kills):
        acks = acks_until_killed(table.start("append"), rng, 0.05)
        acked = max([acked, *acks])

        def may_be(rows):
            if len(rows) < acked:
                return f"{len(rows)} records, {acked} acknowledged"
            torn = [i for i, r in enumerate(rows) if r != row(i, 0)]
            return f"records {torn[:5]} are not as written" if torn else None

        rows, _ = table.settle(f"{where}, kill {kill}", may_be)
        acked = len(rows)
    return acked


def updates(table, rng, where, kills):
    deleted = [r[0] == "*" for r in table.rows()]
    acked = 0
    for kill in range(kills):
        acks = acks_until_killed(table.start("update", acked), rng, 0.05)
        acked = max([acked, *acks])

        def may_be(rows):
            if len(rows) != len(deleted):
                return f"{len(rows)} records, {len(deleted)} before"
            torn = [i for i, r in enumerate(rows)
                    if r not in (row(i, acked, deleted[i]), row(i, acked + 1, deleted[i]))]
            return f"records {torn[:5]} are neither of generation {acked} nor {acked + 1}" if torn else None

        rows, _ = table.settle(f"{where}, kill {kill}", may_be)
        acked = max(int(r[2].split("g")[1]) for r in rows)


def pack(table, rng, where, longest):
    """Kills a pack at a random moment up to LONGEST seconds in; True when
    the kill came before the pack was done."""
    old = table.rows()
    new = [r for r in old if r[0] != "*"]
    host = table.start("pack")
    expect(f"{where}: the pack did not start", host.stdout.readline() == b"packing\n")
    time.sleep(rng.uniform(0.0, longest))
    host.send_signal(signal.SIGKILL)
    finished = host.stdout.read() == b"packed\n"
    host.wait()

    def may_be(rows):
        return None if rows in (old, new) else "the table is neither the old one nor the packed one"

    rows, found = table.settle(where, may_be)
    return not finished and (rows == old or bool(found))


def main():
    writer = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 8
    seed = int(os.environ.get("HYL_CRASH_SEED", "20261208"))
    rng = random.Random(seed)
    records = 1500
    appended = cut_packs = 0
    with tempfile.TemporaryDirectory(prefix="hyl-writes-") as work:
        # How long a whole pack takes here, for the moments of the kills.
        measured = Table(writer, work, "vfp")
        measured.run("fill", records)
        began = time.monotonic()
        measured.run("pack")
        longest = time.monotonic() - began
        for n in range(rounds):
            form = FORMATS[n % len(FORMATS)]
            where = f"round {n}, {form} (seed {seed})"
            folder = os.path.join(work, str(n))
            os.mkdir(folder)
            table = Table(writer, folder, form)
            if n < len(FORMATS):
                appended += appends(table, rng, where + ", appends", 3)
                updates(table, rng, where + ", updates", 2)
            else:
                table.run("fill", records)
                cut_packs += pack(table, rng, where + ", pack", longest)
        expect("no kill came before a pack was done", cut_packs > 0)
        print(f"{rounds} rounds: {appended} records appended across kills, {cut_packs} of {rounds - len(FORMATS)} "
              f"packs killed before they were done (a whole pack {longest * 1000:.0f} ms; seed {seed}); check found "
              + (", ".join(f"{code} {n}x" for code, n in sorted(Table.seen.items())) or "nothing"))


if __name__ == "__main__":
    try:
        main()
    except Failure as e:
        print(f"FAIL  {e}")
        sys.exit(1)
