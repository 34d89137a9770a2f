#!/usr/bin/env bash
# The main job: build the native library and tool, and show the bundled
# sample table, a search of the bundled sample plan and its chart.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh native
# The main job needs neither the tests nor the benchmarks (nor what they need).
cmake --preset native -DHYL_BUILD_TESTS=OFF -DHYL_BUILD_BENCH=OFF >/dev/null
cmake --build --preset native -j"$(nproc)" --target hyl_tool >/dev/null
hyl=build/native/tools/hyl
echo "== hyl info samples/equipment.dbf"
$hyl info samples/equipment.dbf
echo "== hyl dump samples/equipment.dbf --csv"
$hyl dump samples/equipment.dbf --csv
echo "== hyl plan 'Котельная № 1' котёл 2024-03-01 2024-04-01 --root samples"
$hyl plan 'Котельная № 1' котёл 2024-03-01 2024-04-01 --root samples
echo "== hyl plan '' '' 2024-02-28 2024-04-03 --root samples --chart build/native/plan-chart.svg"
$hyl plan '' '' 2024-02-28 2024-04-03 --root samples --chart build/native/plan-chart.svg
echo "chart: build/native/plan-chart.svg"
