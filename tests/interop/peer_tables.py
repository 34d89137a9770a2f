"""Tables from anywhere: what python3-dbf and GDAL write (dBASE III with a
memo, FoxPro, Visual FoxPro with every type python3-dbf writes and nullable
fields, several code pages; UTF-8 with a .cpg, 1252, 1250) dumped by
`hyl dump --json` and compared value by value with what dbfread reads from
the same files.  dbfread knows nothing of _NullFlags: where python3-dbf
reads a value as null, hyl must give null.  `hyl info` names each table's
code page, and `hyl check` calls each sound.
"""

import datetime
import json
import os
from decimal import Decimal

# (what, python3-dbf type, code page, field specs, rows).  Every field of
# the Visual FoxPro table is nullable, where python3-dbf and Visual FoxPro
# number the null bits alike.
VFP_FIELDS = ("name C(20) null; price Y null; dbl B null; flt F(10,3) null; num N(12,2) null; qty I null; "
              "ok L null; day D null; stamp T null; note M null; pic G null")
PYDBF_TABLES = [
    ("dBASE III with a .dbt, 866", "db3", "cp866", "name C(20); note M; qty N(5,0); day D; ok L",
     [("Ёлка ёж", "Памятка\r\nвторая строка ╬═╬", 5, datetime.date(2024, 3, 1), True),
      ("b", "", -6, None, None)]),
    ("FoxPro with a .fpt, 1252", "fp", "cp1252", "name C(20); note M; qty N(5,0); f F(8,2)",
     [("Café", "mémo ü" * 100, 5, 1.25), ("", "", None, None)]),
    ("Visual FoxPro, every type, 1251", "vfp", "cp1251", VFP_FIELDS,
     [("Котёл", Decimal("12.3400"), 1.25, 3.5, Decimal("-1250.50"), -7, True, datetime.date(2024, 3, 1),
       datetime.datetime(2024, 3, 1, 12, 30, 45, 123000), "Заметка " * 40, b"\x00\x01binary"),
      ("NULL",) * 11,
      ("x", Decimal("-0.0001"), -2.5e100, None, Decimal("0"), 2147483646, False, None,
       datetime.datetime(1999, 12, 31, 23, 59, 59), "", None)]),
    ("Visual FoxPro, 1250", "vfp", "cp1250", "name C(30); note M",
     [("Hněvošický háj", "Žluťoučký kůň")]),
]

# (what, ENCODING layer option, the .cpg or language byte it leaves, rows).
GDAL_TABLES = [
    ("UTF-8 with a .cpg", "UTF-8", "UTF-8 (.cpg)", ["Hněvošický háj", "Котёл", "日本"]),
    ("1252", "CP1252", "code page 1252", ["Café crème", "Straße"]),
    ("1250", "CP1250", "code page 1250", ["Hněvošický háj", "Łódź"]),
]


def same(field_type, ours, theirs):
    """A value of `hyl dump --json` against dbfread's."""
    if theirs is None or (field_type == "M" and theirs == "" and ours is None):
        return ours is None
    if isinstance(theirs, bool) or isinstance(theirs, str):
        return ours == theirs
    if isinstance(theirs, bytes):
        return ours == {"bytes": len(theirs)}
    if isinstance(theirs, datetime.datetime):
        return ours is not None and datetime.datetime.fromisoformat(ours) == theirs
    if isinstance(theirs, datetime.date):
        return ours == theirs.isoformat()
    if isinstance(theirs, Decimal):
        return ours is not None and Decimal(str(ours)) == theirs
    if isinstance(theirs, (int, float)):
        return ours is not None and type(ours) in (int, float, Decimal) and float(ours) == float(theirs)
    return False


def compare(lib, table, encoding, nulls, failure):
    """Every value of TABLE: hyl's against dbfread's; null where NULLS (per
    record, the fields python3-dbf reads as null) says so."""
    import dbfread
    peer = dbfread.DBF(table, encoding=encoding, char_decode_errors="strict", load=True)
    types = {f.name: f.type for f in peer.fields}
    lines = lib.tool("dump", table, "--json").decode("utf-8").splitlines()
    ours = [json.loads(line, parse_float=Decimal) for line in lines]
    if len(ours) != len(peer.records):
        raise failure(f"{table}: {len(ours)} records, dbfread reads {len(peer.records)}")
    for i, (mine, theirs) in enumerate(zip(ours, peer.records)):
        for name, value in theirs.items():
            if name == "_NULLFLAGS":
                continue
            if name not in mine:
                raise failure(f"{table} record {i}: no field {name} in {mine}")
            if name in nulls[i]:
                if mine[name] is not None:
                    raise failure(f"{table} record {i} {name}: {mine[name]!r}, python3-dbf reads null")
            elif not same(types[name], mine[name], value):
                raise failure(f"{table} record {i} {name}: hyl {mine[name]!r}, dbfread {value!r}")


def expect_info(lib, table, code_page, failure):
    info = lib.tool("info", table).decode("utf-8")
    if f"code page: {code_page}" not in info:
        raise failure(f"hyl info {table} does not say {code_page!r}:\n{info}")
    code, out = lib.status("check", table)
    if code != 0:
        raise failure(f"hyl check {table}: exit {code}: {out}")


def pydbf_check(lib, work, spec, failure):
    import dbf
    what, kind, codepage, fields, rows = spec
    table = os.path.join(work, f"{kind}-{codepage}.dbf")
    t = dbf.Table(table, fields, dbf_type=kind, codepage=codepage)
    t.open(dbf.READ_WRITE)
    for row in rows:
        t.append(tuple(dbf.Null if v == "NULL" else v for v in row))
    t.close()
    t = dbf.Table(table)
    t.open()
    nulls = [{name.upper() for name, v in zip(t.field_names, r) if v is dbf.Null} for r in t]
    t.close()
    compare(lib, table, codepage, nulls, failure)
    number = codepage[2:]
    expect_info(lib, table, f"code page {number}", failure)


def gdal_check(lib, work, spec, run, failure):
    what, encoding, code_page, names = spec
    source = os.path.join(work, f"gdal-{encoding}.csv")
    with open(source, "w", encoding="utf-8") as out:
        out.write("NAME,QTY\n" + "".join(f"{n},{i}\n" for i, n in enumerate(names)))
    table = os.path.join(work, f"gdal-{encoding}.dbf")
    run(["ogr2ogr", "-f", "ESRI Shapefile", "-lco", f"ENCODING={encoding}", table, source])
    python_encoding = {"UTF-8": "utf-8", "CP1252": "cp1252", "CP1250": "cp1250"}[encoding]
    compare(lib, table, python_encoding, [set()] * len(names), failure)
    expect_info(lib, table, code_page, failure)


def checks(lib, work, run, failure):
    os.makedirs(os.path.join(work, "peers"), exist_ok=True)
    where = os.path.join(work, "peers")
    out = [(f"python3-dbf {spec[0]}: hyl dump --json reads as dbfread, info names the code page, check calls it sound",
            lambda spec=spec: pydbf_check(lib, where, spec, failure)) for spec in PYDBF_TABLES]
    out += [(f"ogr2ogr {spec[0]}: hyl dump --json reads as dbfread, info names the code page, check calls it sound",
             lambda spec=spec: gdal_check(lib, where, spec, run, failure)) for spec in GDAL_TABLES]
    return out
