#!/usr/bin/env bash
# Draws docs/plan-chart.svg, the chart of the bundled sample plan that the
# README shows, with the hyl tool (build it first: cmake --build --preset native).
set -euo pipefail
cd "$(dirname "$0")/.."
hyl=${HYL:-build/native/tools/hyl}
# The plan's dates are local wall-clock days; a fixed zone keeps the drawing
# the same on every machine.
TZ=Europe/Moscow $hyl plan "" "" 2024-02-28 2024-04-03 --root samples --chart docs/plan-chart.svg --quiet
echo "docs/plan-chart.svg"
