#!/usr/bin/env python3
"""Writes a large dBASE III table for timing whole-table work (dump, check)
against other readers: by default 1,000,000 records of 111 bytes (fields
C30, C14, N10.2, D8, C40, N8, names and notes in code page 866).

    python3 bench/make_large_table.py OUT.dbf [RECORDS]
"""
import struct
import sys

FIELDS = [("NAME", "C", 30, 0), ("KIND", "C", 14, 0), ("POWER", "N", 10, 2),
          ("STARTED", "D", 8, 0), ("NOTE", "C", 40, 0), ("QTY", "N", 8, 0)]
OBJECTS = ["Котельная № %d", "Насосная станция %d", "ЦТП-%d", "Подстанция %d"]
KINDS = ["котёл", "насос", "теплообменник", "задвижка", "счётчик"]


def cell(text, length, right=False):
    data = text.encode("cp866")[:length]
    pad = b" " * (length - len(data))
    return pad + data if right else data + pad


def main():
    path = sys.argv[1]
    records = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    record_length = 1 + sum(f[2] for f in FIELDS)
    header_length = 32 * len(FIELDS) + 33
    with open(path, "wb") as out:
        out.write(struct.pack("<BBBBIHH17xB2x", 3, 124, 12, 7, records, header_length, record_length, 0x65))
        for name, kind, length, decimals in FIELDS:
            out.write(struct.pack("<11sc4xBB14x", name.encode(), kind.encode(), length, decimals))
        out.write(b"\r")
        chunk = []
        for r in range(records):
            chunk.append(b"".join((
                b"*" if r % 97 == 0 else b" ",
                cell(OBJECTS[r % 4] % (r % 500 + 1), 30),
                cell(KINDS[r % 5], 14),
                cell("%.2f" % ((r % 10000) * 1.25), 10, right=True),
                b"%04d%02d%02d" % (1990 + r % 35, 1 + r % 12, 1 + r % 28),
                cell("запись %d, проверено" % r if r % 3 else "", 40),
                cell(str(r % 100000), 8, right=True),
            )))
            if len(chunk) == 10000:
                out.write(b"".join(chunk))
                chunk = []
        out.write(b"".join(chunk))


if __name__ == "__main__":
    main()
