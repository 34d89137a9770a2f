"""hyl for Python: dBASE tables as rows and DataFrames, safe appends, check
and repair, the monthly plan and the date rules of the hyl library.

The package carries the same core as libhyl.so, hyl.dll and the hyl tool:

- ``open(path)`` reads a table whole, as ``hyl dump`` does (any code page,
  memo files, the FoxPro types): records as dicts or tuples, or a DataFrame,
  of every field or of those asked for, a large table on every core.
- ``hyl.dask.read_dbf(paths)`` reads tables, a list of them or a glob, as
  one Dask DataFrame, on Dask's schedulers and ``dask.distributed``
  (``import hyl.dask`` needs Dask; ``import hyl`` does not).
- ``create(path, fields, format, encoding)`` makes dBASE III, dBASE IV,
  FoxPro and Visual FoxPro tables in any code page; ``append(path)`` adds
  records, memo values among them; ``edit(path)`` changes, deletes and
  undeletes records in place; ``pack(path)`` leaves the deleted records
  and unused memo entries behind.  Every value is checked before anything
  is written, and what a call writes is on the disk when it returns, so
  neither a crash nor a power cut loses what a call returned from.
- ``check(path)`` and ``repair(path)`` find and mend damage.
- ``plan(...)`` and ``plan_chart(...)`` search the monthly plan;
  ``to_local``, ``to_gmt`` and ``from_epoch`` convert dates by the zone of
  ``TZ``.

Nothing is ever shown: what the library would show (a message box, the
busy-file line) becomes the text of the exception the call raises.
"""

from __future__ import annotations

import codecs as _codecs
import datetime as _dt
import os
import warnings as _warnings
import decimal as _decimal
from typing import TYPE_CHECKING, Any, Dict, Iterable, Iterator, List, Mapping, NamedTuple, Optional, Sequence, Tuple, Union

from . import _core

if TYPE_CHECKING:
    import pandas

__all__ = [
    "Error", "TableInUse", "NotATable", "BinaryMemo", "Field", "Table", "Writer", "Editor", "Pack", "Finding", "Report",
    "Repair", "PlanEntry", "open", "create", "append", "edit", "pack", "check", "repair", "plan", "plan_chart", "to_local",
    "to_gmt", "from_epoch",
]

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Record = Dict[str, Any]
#: A value as a writer takes it (see ``Writer.write``).
Value = Union[None, str, bytes, bool, int, float, _decimal.Decimal, _dt.date, _dt.datetime]
Row = Union[Mapping[str, Value], Sequence[Value]]


class Error(Exception):
    """The base of hyl's own exceptions: a table that cannot be read or
    written; the text is what the library would have shown."""


class TableInUse(Error, OSError):
    """Another program holds the table (after the library's retries, about
    two seconds)."""


class NotATable(Error):
    """The file is no dBASE table (or one of a layout hyl does not read)."""


_core._errors(Error, TableInUse, NotATable)


class BinaryMemo(NamedTuple):
    """The value of a binary memo field (G, P, Visual FoxPro W and Q, dBASE
    IV B) as read: its length in bytes, as `hyl dump` shows it; the bytes
    are not read.  Writers take such a field's value as bytes."""

    bytes: int


_core._binary_memo(BinaryMemo)

try:  # the project's one version number, as the installed package carries it
    from importlib.metadata import version as _version

    __version__ = _version("hyl")
except Exception:  # run from the source tree, not installed
    __version__ = "unknown"


class Field(NamedTuple):
    """A field of a table: its name, its type letter, its length and
    decimals, and whether it may hold null (Visual FoxPro).  For ``create``
    a LENGTH of 0 takes the type's one length (D, L, M, I, B, Y, T, G)."""

    name: str
    type: str
    length: int = 0
    decimals: int = 0
    nullable: bool = False


def _paths(path: Path) -> Tuple[bytes, str]:
    """The path as the library takes it, and as messages name it."""
    path = os.fspath(path)
    return os.fsencode(path), os.fsdecode(path)


def _columns(columns: Optional[Sequence[str]]) -> Optional[List[str]]:
    """The field names COLUMNS gives, as the reader takes them."""
    if columns is None:
        return None
    if isinstance(columns, (str, bytes)):
        raise TypeError(f"columns= takes a list of field names, not {columns!r}")
    return [str(c) for c in columns]


def _threads(threads: Optional[int]) -> int:
    """THREADS as the reader takes it: 0 for every core of the machine."""
    if threads is None:
        return 0
    if isinstance(threads, bool) or not isinstance(threads, int) or threads < 1:
        raise ValueError(f"threads= is a number of threads (1 or more) or None, not {threads!r}")
    return threads


def _frame(columns: List[Tuple[str, str, Any, Any]]) -> "pandas.DataFrame":
    """A DataFrame of the columns the reader made: (name, dtype, values, mask)."""
    import pandas as pd

    data = {}
    for i, (_, dtype, values, mask) in enumerate(columns):
        if dtype == "Int64":
            data[i] = pd.arrays.IntegerArray(values, mask)
        elif dtype == "boolean":
            data[i] = pd.arrays.BooleanArray(values, mask)
        elif dtype == "datetime64[ns]":
            data[i] = values.view("datetime64[ns]")
        else:
            data[i] = values
    frame = pd.DataFrame(data, copy=False)
    frame.columns = [c[0] for c in columns]
    return frame


class Table:
    """A table open for reading, as one snapshot of the file as it was when
    opened (``hyl.open``).

    Values: C text as str (trailing blanks cut), N and F as int when the
    text has no point and float otherwise, D as datetime.date, L as bool,
    memo text as str, a binary memo as BinaryMemo(bytes=its length); in
    Visual FoxPro I as int, B and Y as float, T as datetime.datetime, V as
    str, Q as BinaryMemo; blank values, '?' and nulls as None.  A value
    that does not read as its type comes as the text stored.

    A large table is decoded on several threads, with the GIL released
    (THREADS: how many; None, the default, every core the process may run
    on; a table of half a megabyte or less is read on one); the records come in
    their order, the same whatever the threads.  COLUMNS names the fields
    to read, in the order wanted: only those are decoded (and only their
    memos read); a name the table does not have, or one named twice, is a
    ValueError that names it.
    """

    def __init__(self, path: Path, encoding: Optional[str] = None) -> None:
        raw, self.path = _paths(path)
        self._reader = _core.Reader(raw, self.path, _encoding(encoding))
        #: The fields in order (the system field _NullFlags left out).
        self.fields: List[Field] = [Field(*f) for f in self._reader.fields()]
        #: The code page of the table's text, as Python names it ('cp866').
        self.encoding: str = self._reader.encoding()

    def __len__(self) -> int:
        """The records the header counts, deleted ones included."""
        return len(self._reader)

    def __getitem__(self, index: int) -> Record:
        """Record INDEX (counting from 0, deleted or not) as a dict."""
        return self._reader.record(index)

    def __iter__(self) -> Iterator[Record]:
        """Each record that is not deleted, as a dict in field order, a few
        thousand records at a time decoded on every core."""
        return self._reader.iter(True, False)

    def records(self, deleted: bool = False, *, threads: Optional[int] = None) -> List[Record]:
        """Every record as a dict; with DELETED the deleted ones too, and
        each dict then says whether its record is deleted in '_deleted'."""
        return self._reader.all(True, deleted, None, _threads(threads))

    def rows(self, deleted: bool = False, *, columns: Optional[Sequence[str]] = None,
             threads: Optional[int] = None) -> List[Tuple[Any, ...]]:
        """Every record as a tuple in field order (or the order of COLUMNS):
        the fast way.  With DELETED the deleted ones too, each tuple ending
        in its deletion flag.  ValueError for a field COLUMNS names that the
        table does not have."""
        return self._reader.all(False, deleted, _columns(columns), _threads(threads))

    def to_pandas(self, *, columns: Optional[Sequence[str]] = None, threads: Optional[int] = None,
                  deleted: bool = False) -> "pandas.DataFrame":
        """The records that are not deleted as a DataFrame, a column a field
        (or a field COLUMNS names, in its order): Int64 for N and F without
        decimals where every number is whole, and for I; float64 for N and F
        with decimals and the other numbers; boolean; datetime64[ns] for
        dates; objects for text (and for any column with a value that does
        not read as its type).  With DELETED every record, and a last
        column '_deleted' that says which are deleted.  ValueError for a
        field COLUMNS names that the table does not have."""
        return _frame(self._reader.columns(_columns(columns), _threads(threads), deleted))

    def close(self) -> None:
        """Lets the file go; the table can no longer be read."""
        self._reader.close()

    def __enter__(self) -> "Table":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<hyl.Table {self.path!r}: {len(self)} records, {len(self.fields)} fields>"


def open(path: Path, encoding: Optional[str] = None) -> Table:
    """Opens a table for reading: the whole-table reader of ``hyl dump`` and
    ``hyl check``.  ENCODING names its code page ('cp1251', 'UTF-8') when
    neither a .cpg file nor the language byte says it.

    FileNotFoundError, TableInUse, NotATable, LookupError for an unknown
    encoding."""
    return Table(path, encoding)


_FORMATS = {"dbase3": 0, "dbase4": 1, "foxpro": 2, "vfp": 3}


def _codepage(encoding: str) -> int:
    """The code page ENCODING names, by our names ('866', 'UTF-8',
    'windows-1251') or Python's ('cp866', 'utf_8', 'koi8_r'); LookupError
    for none."""
    found = _core.codepage(encoding)
    if not found:
        try:
            found = _core.codepage(_codecs.lookup(encoding).name)
        except LookupError:
            pass
    if not found:
        raise LookupError(f"{encoding!r} names no code page")
    return found


def _encoding(encoding: Optional[str]) -> str:
    """ENCODING as the library takes it: '' for none, a code page's number."""
    return str(_codepage(encoding)) if encoding else ""


def _told(notice: str, stacklevel: int = 4) -> None:
    """What opening a table for writing did that its user should hear of
    (a production index's flag cleared), as a warning at the user's call
    (hyl.append, hyl.edit)."""
    if notice:
        _warnings.warn(notice, stacklevel=stacklevel)


class Writer:
    """A table open for appending (``hyl.append``), held as an append holds
    it: others may read it, no other program or writer may write it."""

    def __init__(self, path: Path, encoding: Optional[str] = None, drop_index: bool = False) -> None:
        raw, self.path = _paths(path)
        self._writer = _core.Writer(raw, self.path, _encoding(encoding), drop_index)
        _told(self._writer.notice())
        #: The fields in order (the system field _NullFlags left out).
        self.fields: List[Field] = [Field(*f) for f in self._writer.fields()]
        #: The code page of the table's text, as Python names it ('cp866').
        self.encoding: str = self._writer.encoding()

    def __len__(self) -> int:
        """The records the table counts now."""
        return len(self._writer)

    def write(self, record: Row) -> None:
        """Appends one record: a mapping of field names (any letter case) to
        values, or a sequence of values in field order; fields left out hold
        no value.  C, V and M take str; N and F int, float (to fifteen
        significant digits), Decimal or str; D a date; L a bool; I an int;
        B a float or an int; Y a Decimal, int, float or str (four decimals
        at most); T a naive datetime (to the millisecond) or a date; the
        binary fields (G, P, W, Q, and B of dBASE IV) bytes.  None leaves a
        field without a value: null where the field may be null, else blank.

        When this returns the record, its memo entries and the count that
        includes it are on the disk.  ValueError naming the field when a
        value does not fit (too long, not a number, not a date, a character
        the code page lacks, bytes for a text memo); then nothing is written."""
        self._writer.write(record)

    def write_many(self, rows: Iterable[Row]) -> int:
        """Appends every row, each as ``write`` does, and returns how many;
        on the disk when it returns.  Every row is checked first: ValueError
        naming each bad row and field, and then nothing is written."""
        return self._writer.write_many(rows)

    def close(self) -> None:
        """Lets the table go (what was written is already on the disk)."""
        self._writer.close()

    def __enter__(self) -> "Writer":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<hyl.Writer {self.path!r}: {len(self)} records>"


class Editor(Table):
    """A table open for changing in place (``hyl.edit``): read as
    ``hyl.open`` reads it (len, indexing, iteration, ``rows()``,
    ``records()``, ``to_pandas()``, ``fields``), plus ``update``,
    ``update_many``, ``delete`` and ``undelete``.  Held as an append holds
    it: others may read it, none may write it.

    Records are numbered from 0, as ``t[i]`` numbers them; a negative number
    counts from the end, as Python's sequences do.  What is read after a
    change shows it."""

    def __init__(self, path: Path, encoding: Optional[str] = None, drop_index: bool = False) -> None:
        raw, self.path = _paths(path)
        self._raw, self._encoding = raw, _encoding(encoding)
        self._writer = _core.Writer(raw, self.path, self._encoding, drop_index)
        _told(self._writer.notice())
        self._read: Optional[Any] = None
        #: The fields in order (the system field _NullFlags left out).
        self.fields: List[Field] = [Field(*f) for f in self._writer.fields()]
        #: The code page of the table's text, as Python names it ('cp866').
        self.encoding: str = self._writer.encoding()

    @property
    def _reader(self) -> Any:
        # A reader opened afresh after each change: it reads the header's
        # count and the memo file as they are now (opening reads no record).
        if self._read is None:
            self._read = _core.Reader(self._raw, self.path, self._encoding)
        return self._read

    def __len__(self) -> int:
        """The records the header counts, deleted ones included."""
        return len(self._writer)

    def update(self, record: int, values: Mapping[str, Value]) -> None:
        """Gives record RECORD the VALUES (a mapping of field names, any
        letter case, to values as ``Writer.write`` takes them); the other
        fields keep theirs.  A memo value gets a new entry, and the old one
        stays until ``pack``.  On the disk when this returns.

        IndexError for a record not in the table; ValueError naming each
        field whose value does not fit, and then nothing is written."""
        self.update_many({record: values})

    def update_many(self, changes: Mapping[int, Mapping[str, Value]]) -> int:
        """Every change of CHANGES ({record: {field: value}}) at once, each as
        ``update`` makes it, and how many records: the fast way to change
        many records, which go to the disk together (under one journal, so
        that a crash leaves each record as it was or as it becomes).  Every
        value is checked first: ValueError naming each bad record and field,
        and then nothing is written."""
        try:
            return self._writer.update_many(changes)
        finally:
            self._read = None

    def delete(self, records: Union[int, Iterable[int]]) -> None:
        """Marks a record, or each of an iterable of records, deleted; on
        the disk when this returns.  The records stay, read with
        ``records(deleted=True)``, until ``pack``."""
        self._mark(records, True)

    def undelete(self, records: Union[int, Iterable[int]]) -> None:
        """Takes the deletion mark off a record, or each of an iterable."""
        self._mark(records, False)

    def _mark(self, records: Union[int, Iterable[int]], deleted: bool) -> None:
        try:
            self._writer.set_deleted([records] if hasattr(records, "__index__") else records, deleted)
        finally:
            self._read = None

    def close(self) -> None:
        """Lets the table go (every change is already on the disk)."""
        if self._read is not None:
            self._read.close()
            self._read = None
        self._writer.close()

    def __enter__(self) -> "Editor":
        return self

    def __repr__(self) -> str:
        return f"<hyl.Editor {self.path!r}: {len(self)} records, {len(self.fields)} fields>"


def create(path: Path, fields: Iterable[Union[Field, Tuple[Any, ...]]], format: str = "dbase3",
           encoding: str = "cp866") -> None:
    """Creates a table (an existing one, and its memo file, is replaced)
    with FIELDS: ``Field``s or (NAME, TYPE[, LENGTH[, DECIMALS[, NULLABLE]]])
    tuples, LENGTH left out (or 0) for the types with one length (D, L, M,
    I, B, Y, T, G).

    FORMAT: 'dbase3' (C N F D L M), 'dbase4', 'foxpro' (the same types, their
    memo files), 'vfp' (Visual FoxPro: also I B Y T V Q G, and fields that
    may be null).  ENCODING: the code page of its text, by Python's name or
    ours ('cp1251', 'utf-8', '866'); marked by the table's language byte, or
    by a .cpg file where none names it.

    The table, its memo file (when it has memo fields) and the folder's
    entry are on the disk when this returns.  ValueError listing every
    problem of the definitions (a name too long, a type FORMAT lacks), and
    then no table is made; LookupError for an unknown encoding."""
    if format not in _FORMATS:
        raise ValueError(f"format {format!r} is none of {', '.join(map(repr, _FORMATS))}")
    raw, name = _paths(path)
    _core.create(raw, name, [tuple(f) for f in fields], _FORMATS[format], _codepage(encoding))


def append(path: Path, encoding: Optional[str] = None, drop_index: bool = False) -> Writer:
    """Opens a table of any format hyl writes for appending; use it in a
    with statement.  ENCODING names its code page when neither its .cpg
    file nor its language byte says it.

    FileNotFoundError; TableInUse after the library's retries; NotATable;
    hyl.Error for a table that cannot be written as it is: a production
    index (.mdx, .cdx) the new records would not be in (DROP_INDEX clears
    the table's index flag, leaves the index file as it is, and warns so),
    an edit or a pack cut short (``repair`` settles it), a file that ends
    before the records it counts (``repair`` mends it)."""
    return Writer(path, encoding, drop_index)


def edit(path: Path, encoding: Optional[str] = None, drop_index: bool = False) -> Editor:
    """Opens a table for changing in place (``Editor``); use it in a with
    statement.  Refused as ``append`` refuses a table."""
    return Editor(path, encoding, drop_index)


class Pack(NamedTuple):
    """What ``pack`` did: the records KEPT and REMOVED, the memo file's
    length in bytes before and after (None without one), and the BACKUPS
    made."""

    kept: int
    removed: int
    memo_before: Optional[int]
    memo_after: Optional[int]
    backups: List[str]


def pack(path: Path, backup: bool = True, drop_index: bool = False, encoding: Optional[str] = None) -> Pack:
    """Leaves a table's deleted records behind, and the memo entries no
    record points to: the live ones are written to new files beside the
    old, flushed, and renamed over them, so that a crash or a power cut at
    any moment leaves the old table or the new one (``repair`` finishes a
    pack cut between its renames).  With BACKUP the old files are kept as
    PATH.bak and MEMO.bak first (an existing backup is never overwritten:
    hyl.Error).  On the disk when this returns.  Refused as ``append``
    refuses a table."""
    raw, name = _paths(path)
    kept, removed, before, after, backups, notice = _core.pack(raw, name, backup, drop_index, _encoding(encoding))
    _told(notice, stacklevel=3)
    return Pack(kept, removed, before, after, [os.fsdecode(b) for b in backups])


class Finding(NamedTuple):
    """One kind of damage: a stable CODE for scripts ('records-beyond-count'),
    the MESSAGE in plain words, the RECORD and FIELD it concerns (counting
    from 0, or None), how many values, records or bytes (COUNT), the first
    EXAMPLES as (record, value) pairs, and whether repair mends it."""

    code: str
    message: str
    record: Optional[int]
    field: Optional[int]
    count: int
    examples: List[Tuple[int, str]]
    repair_mends: bool


class Report(NamedTuple):
    """What ``check`` found: SOUND when nothing; the records the header
    counts, the fields, each finding, the code page the text was read in,
    and the memo file read (or None)."""

    sound: bool
    records: int
    fields: int
    findings: List[Finding]
    code_page: str
    memo_file: Optional[str]


class Repair(NamedTuple):
    """What ``repair`` did: the OUTCOME ('sound': nothing needed mending,
    'mended', 'damage remains': damage repair does not mend is left), the
    ACTIONS in plain words (with DRY_RUN, what it would do), the BACKUP
    made (or None), and the check made AFTER (with DRY_RUN: what is left)."""

    outcome: str
    actions: List[str]
    backup: Optional[str]
    after: Report


def _report(r: Dict[str, Any]) -> Report:
    memo = r["memo_file"]
    return Report(r["sound"], r["records"], r["fields"], [Finding(*f) for f in r["findings"]], r["code_page"],
                  None if memo is None else os.fsdecode(memo))


def check(path: Path, encoding: Optional[str] = None) -> Report:
    """Reads a table whole and reports its damage, as ``hyl check`` does:
    the header, where the records end against the count, every value.
    FileNotFoundError, TableInUse, NotATable when it cannot be checked."""
    raw, name = _paths(path)
    return _report(_core.check(raw, name, encoding or ""))


def repair(path: Path, dry_run: bool = False, backup: bool = True, encoding: Optional[str] = None) -> Repair:
    """Mends what needs no guessing, as ``hyl repair`` does: only the
    header's record count and the end of the file, after a byte-for-byte
    copy to PATH.bak (unless BACKUP is false; an existing backup is never
    overwritten).  The table is held as an append holds it, so one another
    program writes is refused (TableInUse)."""
    raw, name = _paths(path)
    r = _core.repair(raw, name, dry_run, backup, encoding or "")
    return Repair(r["outcome"], r["actions"], None if r["backup"] is None else os.fsdecode(r["backup"]),
                  _report(r["after"]))


class PlanEntry(NamedTuple):
    """An entry of the monthly plan: its record number, object and
    equipment, the midnight that begins its period and the one that ends
    it (local time)."""

    record: int
    object: str
    equipment: str
    first_day: _dt.datetime
    day_after_last: _dt.datetime


Moment = Union[_dt.date, _dt.datetime]


def _plan_drive(root: Optional[Path], drive: Optional[str]) -> Tuple[str, bytes]:
    """The plan's drive letter and the folder it stands for; the plan file
    is looked for first, so that a wrong folder fails at once rather than
    after the library's twenty seconds of load attempts."""
    letter = "X"
    if drive:
        if not (drive[0].isascii() and drive[0].isalpha()) or drive[1:] not in ("", ":"):
            raise ValueError(f"{drive!r} is not a drive letter")
        letter = drive[0].upper()
    if root is None:
        root = os.environ.get(f"HYL_DRIVE_{letter}")
        if not root:
            raise FileNotFoundError(f"no plan: give root= or set HYL_DRIVE_{letter}")
    root = os.fsdecode(os.fspath(root))
    plan_file = os.path.join(root, "QUV", "HYL_CE", "zmec.dbf")
    if not os.path.isfile(plan_file):
        raise FileNotFoundError(f"no plan at {plan_file}")
    return letter, os.fsencode(root)


def plan(object: str, equipment: str, start: Moment, end: Moment, root: Optional[Path] = None,
         drive: Optional[str] = None) -> List[PlanEntry]:
    """The entries of the monthly plan whose object and equipment begin with
    OBJECT and EQUIPMENT (without regard to case; '' matches every one) and
    whose period meets START .. END (local time), as ``hyl plan`` walks them.

    The plan lives at X:\\QUV\\HYL_CE\\zmec.dbf: DRIVE changes the letter,
    and ROOT names the folder the drive stands for (else HYL_DRIVE_X)."""
    letter, folder = _plan_drive(root, drive)
    return [PlanEntry(*e) for e in _core.plan(object, equipment, start, end, letter, folder)]


def plan_chart(object: str, equipment: str, start: Moment, end: Moment, root: Optional[Path] = None,
               drive: Optional[str] = None) -> str:
    """The entries ``plan`` finds drawn as a timeline from START to END: the
    SVG document ``hyl plan --chart`` writes."""
    letter, folder = _plan_drive(root, drive)
    return _core.plan_chart(object, equipment, start, end, letter, folder)


def to_local(gmt: Moment) -> _dt.datetime:
    """A GMT wall-clock time (naive) in local time, by the zone's rules for
    that date (TZ; call time.tzset() after changing it)."""
    return _core.to_local(gmt)


def to_gmt(local: Moment) -> _dt.datetime:
    """A local wall-clock time (naive) in GMT."""
    return _core.to_gmt(local)


def from_epoch(seconds: float) -> _dt.datetime:
    """Seconds since 1970-01-01 00:00 UTC as local time (whole seconds)."""
    return _core.from_epoch(seconds)
