#!/usr/bin/env bash
# The main job: build the native library and tool, and show the bundled
# sample table and a search of the bundled sample plan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh native
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc)" --target hyl_tool >/dev/null
hyl=build/native/tools/hyl
echo "== hyl info samples/equipment.dbf"
$hyl info samples/equipment.dbf
echo "== hyl dump samples/equipment.dbf --csv"
$hyl dump samples/equipment.dbf --csv
echo "== hyl plan 'Котельная № 1' котёл 2024-03-01 2024-04-01 --root samples"
$hyl plan 'Котельная № 1' котёл 2024-03-01 2024-04-01 --root samples
