#!/usr/bin/env bash
# Rebuilds the bundled sample tables from their CSV sources with the hyl tool.
set -euo pipefail
cd "$(dirname "$0")/.."
hyl=${HYL:-build/native/tools/hyl}
$hyl import samples/equipment.dbf samples/equipment.csv
