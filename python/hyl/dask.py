"""Tables as one Dask DataFrame: an archive of tables (a table a month, a
table a site) read on every worker of a Dask cluster, or on Dask's local
schedulers.

    import hyl.dask
    frame = hyl.dask.read_dbf("archive/*.dbf", columns=["NAME", "QTY"])
    frame.groupby("NAME").QTY.sum().compute()

Each partition is a table, or a range of the records of one, read by the
package on whichever worker runs it: the paths must be readable there, as
for ``dask.dataframe.read_csv``.  Needs Dask's DataFrame (Debian's
``python3-dask``; ``python3-distributed`` for a cluster); ``import hyl``
itself does not.
"""

from __future__ import annotations

import glob
import os
from typing import Any, List, Optional, Sequence, Tuple, Union

try:
    import dask.dataframe as _dd
    from dask import delayed as _delayed
    from dask.base import tokenize as _tokenize
except ImportError as _missing:  # pragma: no cover - the message is the point
    raise ImportError("hyl.dask needs Dask's DataFrame: install python3-dask (and python3-distributed for a "
                      "cluster) from Debian, or 'dask[dataframe]' (and 'distributed') with pip") from _missing

import pandas as _pd

import hyl as _hyl

__all__ = ["read_dbf"]

Paths = Union[_hyl.Path, Sequence[_hyl.Path]]


def _expand(paths: Paths) -> List[str]:
    """The tables PATHS names: a path, a glob, or a list of either, in the
    order given (a glob's matches sorted)."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        paths = [paths]
    found: List[str] = []
    for path in paths:
        path = os.fsdecode(os.fspath(path))
        if glob.has_magic(path):
            matched = sorted(glob.glob(path))
            if not matched:
                raise FileNotFoundError(f"no table matches {path!r}")
            found += matched
        else:
            found.append(path)
    if not found:
        raise ValueError("read_dbf needs at least one table")
    return found


def _shape(field: _hyl.Field) -> Tuple[str, str, bool]:
    """What of a field decides its column: its name, its type, and for N and
    F whether it has decimals (a column of floats, else of whole numbers).
    Lengths may differ from table to table."""
    return field.name, field.type, field.type in "NF" and field.decimals > 0


def _described(fields: List[_hyl.Field], i: int) -> str:
    if i >= len(fields):
        return "no field"
    f = fields[i]
    return f"{f.name} ({f.type} {f.length}{'.' + str(f.decimals) if f.decimals else ''})"


class _Part:
    """Reads one partition, the records FIRST .. END - 1 of the table at
    PATH, as ``Table.to_pandas`` reads them, on one thread (Dask runs
    partitions side by side)."""

    def __init__(self, columns: Optional[List[str]], encoding: Optional[str], deleted: bool,
                 path_column: Optional[str], paths: List[str]) -> None:
        self.columns, self.encoding, self.deleted = columns, encoding, deleted
        self.path_column, self.paths = path_column, paths

    def __call__(self, path: str, first: int, end: int) -> "_pd.DataFrame":
        with _hyl.open(path, self.encoding) as table:
            frame = _hyl._frame(table._reader.columns(self.columns, 1, self.deleted, first, end))
        if self.path_column:
            frame[self.path_column] = _pd.Categorical([path] * len(frame), categories=self.paths)
        return frame

    def __dask_tokenize__(self) -> Tuple[Any, ...]:
        return self.columns, self.encoding, self.deleted, self.path_column, self.paths


def read_dbf(paths: Paths, records_per_partition: int = 1_000_000, columns: Optional[Sequence[str]] = None,
             encoding: Optional[str] = None, deleted: bool = False,
             include_path_column: Union[bool, str] = False) -> "_dd.DataFrame":
    """A Dask DataFrame of the tables PATHS names (a path, a glob such as
    'archive/*.dbf', or a list of them), one after another in that order:
    the records that are not deleted, as ``hyl.open(path).to_pandas()``
    reads them, so the result computed equals ``pandas.concat`` of each
    table's ``to_pandas()`` (each partition's index counts from 0).

    RECORDS_PER_PARTITION: a table of more records is read in partitions
    of that many records (the deleted ones among them).  COLUMNS: only
    these fields, in this order.  ENCODING: the tables' code page when
    neither a .cpg file nor the language byte says it.  DELETED: every
    record, with a last column '_deleted' that says which are deleted.
    INCLUDE_PATH_COLUMN: a column 'path' (or the name given) of each
    record's table, categorical.

    The columns and their dtypes come from the tables' headers, no record
    read: the fields read must be alike in every table (the same names in
    the same order, of the same types, N and F with decimals or without in
    each; lengths may differ), else ValueError naming the first field that
    differs.  FileNotFoundError for a table that is not there, ValueError
    for a field COLUMNS names that a table lacks.  A column whose values
    do not all read as its type (``hyl.check`` finds them) comes as objects
    in the partitions that hold such values, as ``to_pandas`` gives it."""
    if isinstance(records_per_partition, bool) or not isinstance(records_per_partition, int) \
            or records_per_partition < 1:
        raise ValueError(f"records_per_partition is a number of records, not {records_per_partition!r}")
    chosen = _hyl._columns(columns)
    files = _expand(paths)
    path_column = ("path" if include_path_column is True else include_path_column) or None
    parts: List[Tuple[str, int, int]] = []
    first_fields: List[_hyl.Field] = []
    meta = None
    stamps: List[Any] = []
    for path in files:
        with _hyl.open(path, encoding) as table:
            fields = table.fields
            if chosen is not None:
                by_name = {f.name: f for f in fields}
                missing = [c for c in chosen if c not in by_name]
                if missing:
                    raise ValueError(f"{path}: no field named {missing[0]!r}")
                fields = [by_name[c] for c in chosen]
            if meta is None:
                first_fields = fields
                # No record is read: the columns of none give the dtypes.
                meta = _hyl._frame(table._reader.columns(chosen, 1, deleted, 0, 0))
            else:
                for i in range(max(len(fields), len(first_fields))):
                    mine = _shape(fields[i]) if i < len(fields) else None
                    theirs = _shape(first_fields[i]) if i < len(first_fields) else None
                    if mine != theirs:
                        raise ValueError(f"{path}: field {i} is {_described(fields, i)}, "
                                         f"but in {files[0]} it is {_described(first_fields, i)}")
            count = len(table)
        stat = os.stat(path)
        stamps.append((path, stat.st_size, stat.st_mtime_ns))
        parts += [(path, start, min(start + records_per_partition, count))
                  for start in range(0, max(count, 1), records_per_partition)]
    if path_column:
        meta[path_column] = _pd.Categorical([], categories=files)
    # A task a partition, named by what it reads and the state of the files
    # (their sizes and times), as dask.dataframe.read_csv names its own.
    # dask.delayed rather than dask.dataframe.from_map: Debian's
    # dask.distributed hands from_map's arguments still wrapped to workers
    # in the client's own process (LocalCluster(processes=False)).
    read = _Part(chosen, encoding, deleted, path_column, files)
    token = _tokenize(stamps, records_per_partition, chosen, encoding, deleted, path_column)
    tasks = [_delayed(read, pure=True)(*part, dask_key_name=f"read-dbf-{token}-{i}") for i, part in enumerate(parts)]
    return _dd.from_delayed(tasks, meta=meta, verify_meta=False, prefix="read-dbf")
