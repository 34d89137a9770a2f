#!/usr/bin/env bash
# Interoperability checks: tables the library makes, read by other dBASE
# readers; tables other dBASE writers make, read through the library's
# exports; and peer tables the library has appended to, changed and packed,
# read by the peers.
#
#   tests/interop/run.sh BUILD_DIR      (BUILD_DIR holds libhyl.so and tools/hyl)
#
# Prints one line per check and "N passed, M failed"; exits 1 on any failure.
# A missing reader or writer is a failure, never a skip.  The peers' Python
# modules (dbfread, dbf) are Debian's, so the system interpreter runs the
# checks whatever python3 comes first on PATH.
set -u

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
if [ ! -x "$python" ]; then
    echo "FAIL  interpreter: $python is missing (install python3, python3-dbfread, python3-dbf)"
    echo "0 passed, 1 failed"
    exit 1
fi
# The checks take a few seconds; the limit only stops a hung peer.
exec timeout 120 "$python" "$here/interop.py" "$1"
