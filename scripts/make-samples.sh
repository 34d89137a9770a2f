#!/usr/bin/env bash
# Rebuilds the bundled sample tables from their CSV sources with the hyl tool.
set -euo pipefail
cd "$(dirname "$0")/.."
hyl=${HYL:-build/native/tools/hyl}
$hyl import samples/equipment.dbf samples/equipment.csv
# The sample plan lies where the built-in plan path "X:\QUV\HYL_CE\zmec.dbf"
# leads when drive X stands for samples/ (hyl plan ... --root samples).
mkdir -p samples/QUV/HYL_CE
$hyl import samples/QUV/HYL_CE/zmec.dbf samples/plan.csv
