"""Check and repair on a damaged table, the plan and its chart as the tool
gives them, the date rules, and the README's session as it stands."""

import datetime as dt
import os
import re
import shutil
import subprocess

import pytest

import hyl
from conftest import REPO, SAMPLES, dbf_bytes

FIELDS = [("NAME", "C", 10, 0), ("QTY", "N", 5, 0)]


def test_check_finds_what_an_interrupted_append_left_and_repair_mends_it(tmp_path):
    path = str(tmp_path / "t.dbf")
    damaged = dbf_bytes(FIELDS, [["a", "1"], ["b", "x"], ["c", "3"], ["d", "4"]], count=2) + b" half"
    with open(path, "wb") as f:
        f.write(damaged)
    report = hyl.check(path)
    assert not report.sound and (report.records, report.fields) == (2, 2)
    found = {f.code: f for f in report.findings}
    assert sorted(found) == ["not-a-number", "partial-record", "records-beyond-count"]
    assert [found[c].repair_mends for c in sorted(found)] == [False, True, True]
    assert (found["records-beyond-count"].record, found["records-beyond-count"].count) == (2, 2)
    assert (found["not-a-number"].field, found["not-a-number"].examples) == (1, [(1, "x")])

    planned = hyl.repair(path, dry_run=True)
    assert planned.backup is None and open(path, "rb").read() == damaged
    done = hyl.repair(path)
    assert done.backup == path + ".bak" and open(done.backup, "rb").read() == damaged
    assert any("from 2 to 4" in a for a in done.actions) and len(done.actions) == len(planned.actions) + 1
    for after in (planned.after, done.after, hyl.check(path)):
        assert [f.code for f in after.findings] == ["not-a-number"]
    assert planned.outcome == done.outcome == "damage remains" and done.after.records == 4

@pytest.mark.parametrize("make, error", [
    (lambda path: None, FileNotFoundError),
    (lambda path: open(path, "wb").write(b"\x03" + b"\x00" * 40), hyl.NotATable),
])
def test_what_cannot_be_checked_raises(tmp_path, make, error):
    path = str(tmp_path / "t.dbf")
    make(path)
    for call in (hyl.check, hyl.repair, hyl.open, hyl.append):
        with pytest.raises(error):
            call(path)


def test_the_plan_is_the_tool_s(tool):
    found = hyl.plan("Котельная № 1", "котёл", dt.datetime(2024, 3, 1), dt.datetime(2024, 4, 1), root=SAMPLES)
    assert [(e.record, e.first_day, e.day_after_last) for e in found] == [
        (0, dt.datetime(2024, 3, 4), dt.datetime(2024, 3, 7)), (2, dt.datetime(2024, 3, 18), dt.datetime(2024, 3, 23))]
    listed = subprocess.run([tool, "plan", "Котельная № 1", "котёл", "2024-03-01", "2024-04-01", "--root", SAMPLES],
                            capture_output=True, text=True, check=True).stdout
    assert [re.split(r"\s{2,}", line.strip())[:3] for line in listed.splitlines()[1:]] == [
        [str(e.record), e.object, e.equipment] for e in found]


def test_the_chart_is_the_tool_s(tool, tmp_path, monkeypatch):
    chart = tmp_path / "chart.svg"
    subprocess.run([tool, "plan", "", "", "2024-02-28", "2024-04-03", "--root", SAMPLES, "--chart", chart, "--quiet"],
                   check=True)
    monkeypatch.setenv("HYL_DRIVE_Q", SAMPLES)
    assert hyl.plan_chart("", "", dt.date(2024, 2, 28), dt.date(2024, 4, 3), drive="q:") == chart.read_text("utf-8")


@pytest.mark.parametrize("call, error", [
    (lambda: hyl.plan("", "", dt.date(2024, 3, 1), dt.date(2024, 4, 1), root="/nowhere"), FileNotFoundError),
    (lambda: hyl.plan("", "", dt.date(2024, 3, 1), dt.date(2024, 4, 1), root=SAMPLES, drive="1"), ValueError),
    (lambda: hyl.plan_chart("", "", dt.date(2024, 4, 1), dt.date(2024, 3, 1), root=SAMPLES), ValueError),
    (lambda: hyl.to_local(dt.datetime(2024, 1, 1, tzinfo=dt.timezone.utc)), ValueError),
    (lambda: hyl.from_epoch(-1), ValueError),
])
def test_what_the_plan_and_dates_refuse(call, error):
    with pytest.raises(error):
        call()


@pytest.mark.parametrize("convert, given, want", [
    (hyl.to_local, dt.datetime(2010, 7, 25, 12), dt.datetime(2010, 7, 25, 16)),
    (hyl.to_gmt, dt.datetime(2010, 7, 25, 12), dt.datetime(2010, 7, 25, 8)),
    (hyl.to_local, dt.datetime(2010, 1, 25, 12), dt.datetime(2010, 1, 25, 15)),
    (hyl.to_gmt, dt.date(2100, 1, 1), dt.datetime(2099, 12, 31, 21)),
    (hyl.from_epoch, 1269527400, dt.datetime(2010, 3, 25, 17, 30)),
    (hyl.from_epoch, 4102444800.9, dt.datetime(2100, 1, 1, 3)),
])
def test_dates_follow_the_zone_s_rules(convert, given, want):
    assert convert(given) == want


def test_the_readme_session_runs_as_shown(tmp_path, monkeypatch):
    readme = open(os.path.join(REPO, "README.md"), encoding="utf-8").read()
    session = re.search(r"## Python\n.*?```python\n(.*?)```", readme, re.S).group(1)
    shutil.copytree(SAMPLES, tmp_path / "samples")
    monkeypatch.chdir(tmp_path)
    exec(compile(session, "README.md", "exec"), {})


def test_the_package_carries_the_one_version():
    if hyl.__version__ == "unknown":
        pytest.skip("run from the source tree: no installed version")
    cmake = open(os.path.join(REPO, "CMakeLists.txt"), encoding="utf-8").read()
    assert hyl.__version__ == re.search(r"project\(hyl VERSION ([0-9.]+)", cmake).group(1)
