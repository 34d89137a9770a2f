#!/usr/bin/env python3
"""The plan chart read back and measured against its own axis: for every
entry the search lists, exactly one bar, starting at the tick of its first
day (or the range's start) and ending at the tick of the day after its last
(or the range's end), with clipping marks exactly where a period runs past
the range; ticks, day and month labels and weekends where the calendar puts
them; names under the right object.  The chart of the README must be what
the tool draws today.

    chart.py HYL SOURCE        (TZ set by the caller)
"""
import csv
import datetime as dt
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

hyl, source = sys.argv[1:3]
SVG = "{http://www.w3.org/2000/svg}"
MONTHS = ["Январь", "Февраль", "Март", "Апрель", "Май", "Июнь", "Июль", "Август", "Сентябрь", "Октябрь",
          "Ноябрь", "Декабрь"]
README_CHART = ("2024-02-28", "2024-04-03")  # as scripts/make-chart.sh draws docs/plan-chart.svg
CASES = [
    ("the sample plan, as the README shows it", *README_CHART),
    ("periods cut at the start and at the end", "2024-03-05", "2024-03-13"),
    ("one period cut at both edges", "2024-03-19", "2024-03-21"),
]

with open(os.path.join(source, "samples", "plan.csv"), encoding="utf-8") as f:
    plan = list(csv.DictReader(f))  # record r is row r
names = [(row[next(k for k in row if k.startswith("NAMEOBJ"))], row[next(k for k in row if k.startswith("NAMEEQU"))])
         for row in plan]
failures = []
day = dt.timedelta(days=1)


def near(a, b):
    return abs(a - b) < 0.02


def classes(e):
    return e.get("class", "").split()


def check(what, first, last, svg_path, listing):
    def fail(message):
        failures.append(f"{what}: {message}")

    start, end = dt.date.fromisoformat(first), dt.date.fromisoformat(last)
    hits = [(int(m[1]), dt.date.fromisoformat(m[2]), dt.date.fromisoformat(m[3]))
            for m in re.finditer(r"^\s*(\d+) .*(\d{4}-\d\d-\d\d)T00:00:00  (\d{4}-\d\d-\d\d)T00:00:00$", listing, re.M)]
    root = ET.parse(svg_path).getroot()
    every = list(root.iter())

    # Self-contained: nothing to run, nothing to fetch, a font with Cyrillic.
    if any(e.tag == SVG + "script" or any(a.endswith("href") for a in e.attrib) for e in every):
        fail("a script or a link to another file")
    if "url(" in ET.tostring(root, encoding="unicode") or "DejaVu Sans" not in root.get("font-family", ""):
        fail("an external reference, or no DejaVu Sans in the fonts")

    # The axis: a tick at every midnight from FROM to TO, evenly spaced,
    # the first and last at the plot's edges.
    ticks = {dt.date.fromisoformat(e.get("data-day")): float(e.get("x1"))
             for e in every if e.tag == SVG + "line" and "tick" in classes(e)}
    days = [start + i * day for i in range((end - start).days + 1)]
    if sorted(ticks) != days:
        fail(f"ticks on {sorted(ticks)}, expected every day from {start} to {end}")
        return
    width = ticks[days[1]] - ticks[days[0]]
    if not all(near(ticks[d + day] - ticks[d], width) for d in days[:-1]):
        fail("ticks not evenly spaced")
    edge = next(e for e in every if "edge" in classes(e))
    if not (near(float(edge.get("x")), ticks[start]) and near(float(edge.get("x")) + float(edge.get("width")), ticks[end])):
        fail("the plot's edges are not the ticks of FROM and TO")

    # Labels as people here write dates, months named where they start.
    labels = {dt.date.fromisoformat(e.get("data-day")): e for e in every if "day" in classes(e)}
    for d in days[:-1]:
        label = labels.get(d)
        if label is None or label.text != d.strftime("%d.%m") or not ticks[d] < float(label.get("x")) < ticks[d + day]:
            fail(f"the label of {d} is {None if label is None else (label.text, label.get('x'))}")
    months = {dt.date.fromisoformat(e.get("data-day")): e for e in every if "month" in classes(e)}
    for d in days[:-1]:
        if d.day == 1:
            m = months.get(d)
            if m is None or m.text != f"{MONTHS[d.month - 1]} {d.year}" or not ticks[d] <= float(m.get("x")) < ticks[d + day]:
                fail(f"no month name where {d} begins")
    weekends = {dt.date.fromisoformat(e.get("data-day")): e for e in every if "weekend" in classes(e)}
    if sorted(weekends) != [d for d in days[:-1] if d.weekday() >= 5]:
        fail(f"weekends shaded on {sorted(weekends)}")
    for d, e in weekends.items():
        if not (near(float(e.get("x")), ticks[d]) and near(float(e.get("width")), width)):
            fail(f"the weekend {d} is not its day's column")

    # One bar per entry, on its dates; marks where the range cuts it.
    bars = [e for e in every if e.tag == SVG + "rect" and "bar" in classes(e)]
    if len(bars) != len(hits) or not hits:
        fail(f"{len(bars)} bars for {len(hits)} entries")
    groups = {e.get("data-record"): g.find(SVG + "text").text
              for g in every if "group" in classes(g) for e in g if "entry" in classes(e)}
    for record, first_day, after_last in hits:
        r = str(record)
        mine = [b for b in bars if b.get("data-record") == r]
        if len(mine) != 1:
            fail(f"record {r} has {len(mine)} bars")
            continue
        bar = mine[0]
        x, w = float(bar.get("x")), float(bar.get("width"))
        if not near(x, ticks[max(first_day, start)]) or not near(x + w, ticks[min(after_last, end)]):
            fail(f"record {r} ({first_day}..{after_last}) drawn from {x} to {x + w}")
        for mark, cut in (("clip-start", first_day < start), ("clip-end", after_last > end)):
            found = [e for e in every if mark in classes(e) and e.get("data-record") == r]
            if len(found) != int(cut):
                fail(f"record {r}: {len(found)} {mark} marks, expected {int(cut)}")
        tip = bar.find(SVG + "title").text
        for text in (f"запись {r}", first_day.strftime("%d.%m.%Y"), (after_last - day).strftime("%d.%m.%Y")):
            if text not in tip:
                fail(f"record {r}: no '{text}' in the tooltip {tip!r}")
        entry = next(e for e in every if "entry" in classes(e) and e.get("data-record") == r)
        if (groups.get(r), entry.find(SVG + "text").text) != names[record]:
            fail(f"record {r} labelled {entry.find(SVG + 'text').text!r} under {groups.get(r)!r}, expected {names[record]}")


work = tempfile.mkdtemp()
for what, first, last in CASES:
    out = os.path.join(work, "chart.svg")
    got = subprocess.run([hyl, "plan", "", "", first, last, "--root", os.path.join(source, "samples"), "--chart", out],
                         capture_output=True, text=True)
    if got.returncode != 0:
        failures.append(f"{what}: exit {got.returncode}: {got.stderr}")
        continue
    check(what, first, last, out, got.stdout)
    if (first, last) == README_CHART and open(out, "rb").read() != open(os.path.join(source, "docs", "plan-chart.svg"), "rb").read():
        failures.append("docs/plan-chart.svg is not what the tool draws: run scripts/make-chart.sh")

print(f"{len(CASES)} charts measured: {len(failures)} failures")
for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
