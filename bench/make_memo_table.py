#!/usr/bin/env python3
"""Writes a FoxPro table with a memo file for timing dump against other
readers: by default 100,000 records of a C40 name in Windows-1251
(language byte 0xC9), an N10.2 amount, a date and an M field whose text
(in 1251 too, a few dozen to a few hundred bytes) lives in the .fpt beside it.

    python3 bench/make_memo_table.py OUT.dbf [RECORDS]

Read it with dbfread as:  dbfread.DBF(OUT.dbf, encoding="cp1251")
"""
import os
import struct
import sys

FIELDS = [("NAME", "C", 40, 0), ("AMOUNT", "N", 10, 2), ("DAY", "D", 8, 0), ("NOTE", "M", 10, 0)]
OBJECTS = ["Котельная № %d", "Насосная станция %d", "ЦТП-%d", "Подстанция %d"]
NOTES = ["Осмотр проведён, замечаний нет.", "Заменена задвижка; давление в норме. ",
         "Ремонт отложен до лета: нет запчастей, заявка № %d отправлена поставщику. "]
BLOCK = 64


def cell(text, length, right=False):
    data = text.encode("cp1251")[:length]
    pad = b" " * (length - len(data))
    return pad + data if right else data + pad


def main():
    path = sys.argv[1]
    records = int(sys.argv[2]) if len(sys.argv) > 2 else 100_000
    record_length = 1 + sum(f[2] for f in FIELDS)
    header_length = 32 * len(FIELDS) + 33
    memo = [bytearray(512)]
    next_block = 512 // BLOCK
    rows = []
    for r in range(records):
        text = (NOTES[r % 3] % r if "%d" in NOTES[r % 3] else NOTES[r % 3]) * (1 + r % 4)
        data = text.encode("cp1251")
        entry = struct.pack(">II", 1, len(data)) + data
        entry += b"\0" * (-len(entry) % BLOCK)
        memo.append(entry)
        block, next_block = next_block, next_block + len(entry) // BLOCK
        rows.append(b"".join((
            b" ",
            cell(OBJECTS[r % 4] % (r % 500 + 1), 40),
            cell("%.2f" % ((r % 10000) * 1.25), 10, right=True),
            b"%04d%02d%02d" % (1990 + r % 35, 1 + r % 12, 1 + r % 28),
            b"%10d" % block,
        )))
    memo[0][0:4] = struct.pack(">I", next_block)
    memo[0][6:8] = struct.pack(">H", BLOCK)
    with open(path, "wb") as out:
        out.write(struct.pack("<BBBBIHH17xB2x", 0xF5, 126, 12, 8, records, header_length, record_length, 0xC9))
        for name, kind, length, decimals in FIELDS:
            out.write(struct.pack("<11sc4xBB14x", name.encode(), kind.encode(), length, decimals))
        out.write(b"\r")
        out.write(b"".join(rows))
        out.write(b"\x1a")
    with open(os.path.splitext(path)[0] + ".fpt", "wb") as out:
        out.write(b"".join(memo))


if __name__ == "__main__":
    main()
