"""hyl.dask.read_dbf on a LocalCluster of two worker processes: a few small
tables and one cut into several partitions read as pandas reads them, and
the errors a wrong archive gives; the package without Dask."""

import os
import re
import shutil
import subprocess
import sys

import pandas as pd
import pytest

import hyl
from conftest import REPO, SAMPLES, write_table

distributed = pytest.importorskip("distributed")
import hyl.dask  # noqa: E402  (after the skip: it needs Dask)

# Debian's Tornado is newer than its distributed expects; another cluster
# on the machine may hold the dashboard's port, and a second one takes
# another; a local scheduler is asked for on purpose beside the cluster.
pytestmark = [pytest.mark.filterwarnings("ignore:make_current is deprecated"),
              pytest.mark.filterwarnings("ignore:Port 8787 is already in use"),
              pytest.mark.filterwarnings("ignore:Running on a single-machine scheduler")]

FIELDS = [("NAME", "C", 12, 0), ("QTY", "N", 6, 0), ("PRICE", "N", 8, 2), ("DAY", "D", 8, 0)]


def rows(n, seed):
    return [[f"котёл {seed}-{r % 7}", str(r - 3), f"{r * 0.25:.2f}" if r % 4 else "", f"2024{1 + r % 12:02d}{1 + r % 28:02d}"]
            for r in range(n)]


@pytest.fixture(scope="module")
def archive(tmp_path_factory):
    """Three small tables and one of 2,500 records, with deleted records."""
    folder = tmp_path_factory.mktemp("archive")
    paths = [write_table(folder / f"m{k}.dbf", FIELDS, rows(n, k), deleted={1, n - 1}) for k, n in
             enumerate([5, 1, 17, 2500])]
    return folder, paths


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as c:
        yield c


@pytest.mark.parametrize("scheduler, options", [
    ("cluster", {}),
    ("cluster", {"records_per_partition": 600, "columns": ["QTY", "NAME"]}),
    ("cluster", {"records_per_partition": 1000, "deleted": True}),
    ("threads", {"records_per_partition": 700}),
])
def test_read_dbf_gives_what_pandas_gives(archive, client, scheduler, options):
    folder, paths = archive
    frame = hyl.dask.read_dbf(str(folder / "m*.dbf"), **options)
    reading = {k: v for k, v in options.items() if k in ("columns", "deleted")}
    want = pd.concat([hyl.open(p).to_pandas(**reading) for p in paths], ignore_index=True)
    assert frame.npartitions == 3 + -(-2500 // options.get("records_per_partition", 10**6))
    assert dict(frame.dtypes) == dict(want.dtypes), "the dtypes the headers give are those the records get"
    got = client.compute(frame).result() if scheduler == "cluster" else frame.compute(scheduler=scheduler)
    pd.testing.assert_frame_equal(got.reset_index(drop=True), want)


def test_workers_in_the_client_s_own_process_read_it_too(archive):
    folder, paths = archive
    with distributed.LocalCluster(n_workers=2, processes=False, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as local:
        got = local.compute(hyl.dask.read_dbf(paths, records_per_partition=1000, columns=["DAY"])).result()
    want = pd.concat([hyl.open(p).to_pandas(columns=["DAY"]) for p in paths], ignore_index=True)
    pd.testing.assert_frame_equal(got.reset_index(drop=True), want)


def test_each_record_can_say_its_table(archive, client):
    folder, paths = archive
    two = [paths[0], paths[2]]
    got = client.compute(hyl.dask.read_dbf(two, include_path_column="table")).result()
    assert got["table"].tolist() == [paths[0]] * 3 + [paths[2]] * 15 and list(got["table"].cat.categories) == two


@pytest.mark.parametrize("make, error, words", [
    (lambda f: [f / "m0.dbf", f / "gone.dbf"], FileNotFoundError, "gone.dbf"),
    (lambda f: str(f / "nothing*.dbf"), FileNotFoundError, "no table matches"),
    (lambda f: [f / "m0.dbf", write_table(f / "other.dbf", FIELDS[:1] + [("QTY", "N", 6, 1)], [])], ValueError,
     r"other.dbf: field 1 is QTY \(N 6.1\), but in .*m0.dbf it is QTY \(N 6\)"),
    (lambda f: [f / "m0.dbf", write_table(f / "short.dbf", FIELDS[:3], [])], ValueError,
     r"field 3 is no field, but in .*m0.dbf it is DAY \(D 8\)"),
    (lambda f: f / "m0.dbf", ValueError, "no field named 'COLOUR'"),
])
def test_an_archive_that_cannot_be_read_says_why(archive, make, error, words):
    folder, _ = archive
    columns = ["NAME", "COLOUR"] if words.endswith("'COLOUR'") else None
    with pytest.raises(error, match=words):
        hyl.dask.read_dbf(make(folder), columns=columns)


def test_the_package_needs_no_dask_and_hyl_dask_says_what_to_install():
    code = ("import sys; sys.modules['dask'] = None\n"
            "import hyl\n"
            "try:\n    import hyl.dask\nexcept ImportError as e:\n    print(e)\n")
    said = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True, env=dict(os.environ))
    assert "install python3-dask" in said.stdout


def test_the_readme_example_runs_as_shown(tmp_path, monkeypatch):
    readme = open(os.path.join(REPO, "README.md"), encoding="utf-8").read()
    example = re.search(r"### Dask\n.*?```python\n(.*?)```", readme, re.S).group(1)
    (tmp_path / "archive").mkdir()
    for month in ("2024-01", "2024-02"):
        shutil.copy(os.path.join(SAMPLES, "equipment.dbf"), tmp_path / "archive" / f"{month}.dbf")
    monkeypatch.chdir(tmp_path)
    session = {"__name__": "__main__"}
    exec(compile(example, "README.md", "exec"), session)
    want = hyl.open(os.path.join(SAMPLES, "equipment.dbf")).to_pandas().groupby("ТИП")["МОЩНОСТЬ"].sum() * 2
    pd.testing.assert_series_equal(session["power"], want)
