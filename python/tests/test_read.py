"""Reading: the interface on the bundled sample, each type's values, deleted
records, DataFrames, and tables that python3-dbf and GDAL wrote."""

import datetime as dt
import os

import dbf
import pandas as pd
import pytest
from osgeo import ogr

import hyl
from conftest import SAMPLES, write_table

SAMPLE = os.path.join(SAMPLES, "equipment.dbf")


def test_the_sample_reads_as_the_readme_shows():
    with hyl.open(SAMPLE) as t:
        assert repr(t.fields[0]) == "Field(name='НАЗВАНИЕ', type='C', length=30, decimals=0, nullable=False)"
        assert [f.type for f in t.fields] == ["C", "C", "N", "D", "C"]
        assert (t.encoding, len(t)) == ("cp866", 4)
        assert t[0] == {"НАЗВАНИЕ": "Котельная № 1", "ТИП": "котёл", "МОЩНОСТЬ": 1250.5,
                        "ВВОД": dt.date(1998, 4, 15), "ПРИМЕЧАНИЕ": "Основная"}
        assert t[-1]["МОЩНОСТЬ"] == -12.5 and t[2]["МОЩНОСТЬ"] == 6300
        assert list(t) == [dict(zip([f.name for f in t.fields], row)) for row in t.rows()]
        assert all(r.pop("_deleted") is False for r in t.records(deleted=True))
        with pytest.raises(IndexError):
            t[4]
    with pytest.raises(ValueError, match="closed"):
        t.rows()


@pytest.mark.parametrize("kind, length, decimals, stored, value", [
    ("C", 10, 0, "  текст  ", "  текст"),
    ("C", 10, 0, "", ""),
    ("N", 8, 0, "-42", -42),
    ("N", 8, 2, "12.50", 12.5),
    ("N", 8, 0, "", None),
    ("N", 8, 0, "*****", None),
    ("N", 8, 0, "12abc", "12abc"),
    ("D", 8, 0, "20240229", dt.date(2024, 2, 29)),
    ("D", 8, 0, "", None),
    ("D", 8, 0, "00000000", None),
    ("D", 8, 0, "20230229", "20230229"),
    ("L", 1, 0, "t", True),
    ("L", 1, 0, "N", False),
    ("L", 1, 0, "?", None),
    ("L", 1, 0, " ", None),
])
def test_each_type_reads_as_the_tool_reads_it(tmp_path, kind, length, decimals, stored, value):
    path = write_table(tmp_path / "t.dbf", [("V", kind, length, decimals)], [[stored]])
    with hyl.open(path) as t:
        assert t.rows() == [(value,)]
        assert type(t[0]["V"]) is type(value)


def test_deleted_records_are_left_out_unless_asked_for(tmp_path):
    fields = [("N", "N", 4, 0)]
    path = write_table(tmp_path / "t.dbf", fields, [["1"], ["2"], ["3"]], deleted={1})
    with hyl.open(path) as t:
        assert len(t) == 3 and [r["N"] for r in t] == [1, 3]
        assert t.rows() == [(1,), (3,)] and t.rows(deleted=True) == [(1, False), (2, True), (3, False)]
        assert [r["_deleted"] for r in t.records(deleted=True)] == [False, True, False]
        assert t.to_pandas()["N"].tolist() == [1, 3]


def test_each_column_of_a_dataframe_gets_the_dtype_its_values_fit(tmp_path):
    fields = [("WHOLE", "N", 6, 0), ("MIXED", "N", 8, 2), ("BAD", "N", 6, 0), ("DAY", "D", 8, 0),
              ("OK", "L", 1, 0), ("NAME", "C", 10, 0)]
    rows = [["7", "1", "1", "20240301", "T", "насос"], ["", "2.5", "x", "", "?", ""], ["-3", "", "3", "19991231", "F", "a"]]
    frame = hyl.open(write_table(tmp_path / "t.dbf", fields, rows)).to_pandas()
    assert [str(t) for t in frame.dtypes] == ["Int64", "float64", "object", "datetime64[ns]", "boolean", "object"]
    assert frame["WHOLE"].tolist() == [7, pd.NA, -3] and frame["BAD"].tolist() == [1, "x", 3]
    assert frame["MIXED"].isna().tolist() == [False, False, True]
    assert frame["DAY"].tolist()[::2] == [pd.Timestamp(2024, 3, 1), pd.Timestamp(1999, 12, 31)]
    assert frame["DAY"].isna()[1] and frame["OK"].tolist() == [True, pd.NA, False]
    assert frame["NAME"].tolist() == ["насос", "", "a"]


ROWS = [("насос № 1", 12.5, dt.date(2024, 3, 1)), ("котёл", 3.0, None)]


def pydbf_table(path):
    table = dbf.Table(str(path), "NAME C(20); QTY N(8,2); WHEN D", dbf_type="db3", codepage="cp866")
    with table.open(dbf.READ_WRITE):
        for row in ROWS:
            table.append(row)
    return str(path)


def gdal_table(path):
    source = ogr.GetDriverByName("ESRI Shapefile").CreateDataSource(str(path))
    layer = source.CreateLayer("t", geom_type=ogr.wkbNone, options=["ENCODING=LDID/101"])
    for name, kind, width, precision in [("NAME", ogr.OFTString, 20, 0), ("QTY", ogr.OFTReal, 8, 2),
                                         ("WHEN", ogr.OFTDate, 8, 0)]:
        field = ogr.FieldDefn(name, kind)
        field.SetWidth(width)
        field.SetPrecision(precision)
        layer.CreateField(field)
    for name, qty, when in ROWS:
        feature = ogr.Feature(layer.GetLayerDefn())
        feature.SetField("NAME", name)
        feature.SetField("QTY", qty)
        if when:
            feature.SetField("WHEN", when.year, when.month, when.day, 0, 0, 0, 0)
        layer.CreateFeature(feature)
    source = None
    return str(path)


@pytest.mark.parametrize("make", [pydbf_table, gdal_table])
def test_tables_peers_wrote_read_back(tmp_path, make):
    with hyl.open(make(tmp_path / "peer.dbf")) as t:
        assert [f.name for f in t.fields] == ["NAME", "QTY", "WHEN"] and t.encoding == "cp866"
        assert t.rows() == ROWS


def test_memos_of_a_visual_foxpro_table_python3_dbf_wrote(tmp_path):
    table = dbf.Table(str(tmp_path / "m.dbf"), "NOTE M; PIC P", dbf_type="vfp", codepage="cp1251")
    with table.open(dbf.READ_WRITE):
        table.append(("Осмотр проведён", b"\x00\x01binary"))
        table.append((None, None))
    table.close()  # the memo file is written out only then
    with hyl.open(tmp_path / "m.dbf") as t:
        assert t.rows() == [("Осмотр проведён", hyl.BinaryMemo(bytes=8)), (None, None)]
        assert t.to_pandas()["PIC"].tolist() == [hyl.BinaryMemo(8), None]
