"""Shared pieces of the package's tests: the bundled samples, a fixed zone,
no real waits, and tables made byte by byte."""

import os
import struct
import time

import pytest

import hyl

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SAMPLES = os.path.join(REPO, "samples")


@pytest.fixture(autouse=True, scope="session")
def moscow_and_no_waits():
    """The dates the tests expect are Moscow's; the library's busy-file
    retries and plan reloads are counted, not waited for."""
    os.environ["TZ"] = "Europe/Moscow"
    time.tzset()
    hyl._core._no_waits(True)
    yield
    hyl._core._no_waits(False)


@pytest.fixture
def tool():
    """The hyl tool of the native build (the test command names it)."""
    path = os.environ.get("HYL_TOOL")
    if not path:
        pytest.skip("HYL_TOOL names no hyl tool (scripts/test.sh sets it)")
    return path


def dbf_bytes(fields, rows, deleted=(), language=0x65, count=None):
    """A dBASE III table: FIELDS (name, type, length, decimals), ROWS of
    field texts in code page 866, the record numbers in DELETED flagged '*'."""
    record_length = 1 + sum(f[2] for f in fields)
    header_length = 32 * len(fields) + 33
    count = len(rows) if count is None else count
    out = struct.pack("<BBBBIHH17xB2x", 3, 124, 1, 1, count, header_length, record_length, language)
    for name, kind, length, decimals in fields:
        out += struct.pack("<11sc4xBB14x", name.encode("cp866"), kind.encode(), length, decimals)
    out += b"\r"
    for r, row in enumerate(rows):
        out += b"*" if r in deleted else b" "
        for (_, kind, length, _), text in zip(fields, row):
            data = text.encode("cp866")
            out += data.rjust(length) if kind == "N" else data.ljust(length)
    return out


def write_table(path, fields, rows, **kwargs):
    with open(path, "wb") as f:
        f.write(dbf_bytes(fields, rows, **kwargs))
    return str(path)
