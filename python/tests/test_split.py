"""A large table decoded on several threads, and only the fields asked for:
the same records, rows and DataFrames whatever the threads and the columns."""

import random

import pandas as pd
import pytest

import hyl
from conftest import dbf_bytes

FIELDS = [("NAME", "C", 20, 0), ("QTY", "N", 8, 0), ("PRICE", "N", 10, 2), ("DAY", "D", 8, 0), ("OK", "L", 1, 0),
          ("NOTE", "M", 10, 0)]
RECORDS = 6100


@pytest.fixture(scope="module")
def table(tmp_path_factory):
    """A table of ranges of 1,024 records (it has a memo field), the last
    one short, whose values change kind past the first ranges: QTY gets a
    decimal, then a value that is no number, and DAY a date that is none,
    so their columns become float, then objects, only there; deleted
    records, texts met once and met again."""
    rows = []
    for r in range(RECORDS):
        rows.append([f"насос {r % 300}" if r % 4 else f"котёл № {r}",
                     "2.5" if r == 3000 else "x1" if r == 6050 else str(r % 1000 - 500),
                     "" if r % 11 == 0 else f"{r * 1.25:.2f}",
                     "20230229" if r == 5000 else "" if r % 13 == 0 else f"20{r % 30:02d}{1 + r % 12:02d}{1 + r % 28:02d}",
                     "TF?"[r % 3], "" if r % 5 else str(1 + r % 2)])
    folder = tmp_path_factory.mktemp("split")
    data = bytearray(dbf_bytes(FIELDS, rows, deleted=set(range(0, RECORDS, 7))))
    data[0] = 0x83  # with a dBASE III memo file
    (folder / "t.dbf").write_bytes(bytes(data))
    (folder / "t.dbt").write_bytes(bytes(512) + "первая\x1a".encode("cp866").ljust(512) + b"second\x1a")
    return str(folder / "t.dbf")


def test_every_way_of_reading_gives_what_one_thread_gives(table):
    with hyl.open(table) as t:
        one = (t.rows(threads=1), t.rows(deleted=True, threads=1), t.records(threads=1), t.to_pandas(threads=1),
               t.to_pandas(threads=1, deleted=True))
        assert [str(d) for d in one[3].dtypes] == ["object", "object", "float64", "object", "boolean", "object"]
        assert set(one[3]["NOTE"].dropna()) == {"первая", "second"}
        # Columns typed a range at a time, and changed in later ones, hold what the rows hold.
        for column, i in (("QTY", 1), ("DAY", 3)):
            assert [(type(v), v) for v in one[3][column]] == [(type(r[i]), r[i]) for r in one[0]]
        for threads in (2, 5, None):
            assert t.rows(threads=threads) == one[0]
            assert t.rows(deleted=True, threads=threads) == one[1]
            assert t.records(threads=threads) == one[2] == list(t)
            pd.testing.assert_frame_equal(t.to_pandas(threads=threads), one[3])
            pd.testing.assert_frame_equal(t.to_pandas(threads=threads, deleted=True), one[4])
        assert one[4]["_deleted"].sum() == len(range(0, RECORDS, 7)) and len(one[3]) + len(range(0, RECORDS, 7)) == RECORDS


def test_the_columns_asked_for_are_those_of_the_whole_table(table):
    names = [f[0] for f in FIELDS]
    with hyl.open(table) as t:
        rows, frame = t.rows(), t.to_pandas()
        pick = random.Random(23)
        for _ in range(12):
            columns = pick.sample(names, pick.randint(1, len(names)))
            at = [names.index(c) for c in columns]
            assert t.rows(columns=columns, threads=pick.choice([1, 3])) == [tuple(r[i] for i in at) for r in rows]
            pd.testing.assert_frame_equal(t.to_pandas(columns=columns), frame[columns])


@pytest.mark.parametrize("call, error, words", [
    (lambda t: t.rows(columns=["QTY", "COLOUR"]), ValueError, "no field named 'COLOUR'"),
    (lambda t: t.to_pandas(columns=["qty"]), ValueError, "no field named 'qty'"),
    (lambda t: t.to_pandas(columns=["QTY", "QTY"]), ValueError, "'QTY' is asked for twice"),
    (lambda t: t.rows(columns="QTY"), TypeError, "a list of field names"),
    (lambda t: t.rows(threads=0), ValueError, "threads="),
    (lambda t: t.to_pandas(threads=1.5), ValueError, "threads="),
])
def test_what_cannot_be_read_is_named(table, call, error, words):
    with hyl.open(table) as t, pytest.raises(error, match=words):
        call(t)
