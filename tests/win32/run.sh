#!/usr/bin/env bash
# Runs the test host against the real hyl.dll under Wine, the 32-bit build
# under 32-bit Wine and the 64-bit build under 64-bit Wine: once in a zone
# without daylight saving (Europe/Moscow, UTC+3) for every group, and once in
# a zone with it (Europe/Helsinki) for the date conversions, also from
# several threads at once.
#
#   tests/win32/run.sh BUILD_DIR     (BUILD_DIR holds hyl.dll and tests/win32/)
#
# Each kind has a Wine prefix of its own, made at its first use:
# HYL_WINEPREFIX (default ~/.cache/hyl-wineprefix) for 32 bits, the same
# path with -win64 after it for 64 bits.  Messages go to HYL_MESSAGE_LOG,
# never to the screen; drive X: (the plan's built-in drive) and P: are
# folders of a scratch directory.
set -u
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
host="$build/tests/win32/hyl_host_tests.exe"
for f in "$build/hyl.dll" "$host"; do
    [ -f "$f" ] || { echo "missing $f"; echo "0 passed, 1 failed"; exit 1; }
done

# The DLL's machine, from its PE header: 8664 is x64, 014c is i386.
pe=$(od -An -tu4 -j60 -N4 "$build/hyl.dll" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$build/hyl.dll" | tr -d ' ')
prefix=${HYL_WINEPREFIX:-$HOME/.cache/hyl-wineprefix}
if [ "$machine" = 8664 ]; then
    bits=64
    # Debian's /usr/bin/wine prefers the 32-bit loader: take the 64-bit one.
    wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
    export WINEPREFIX=$prefix-win64 WINEARCH=win64
else
    bits=32
    wine=$(command -v wine || true)
    export WINEPREFIX=$prefix
fi
[ -n "$wine" ] && [ -x "$wine" ] || { echo "$bits-bit Wine is not installed"; echo "0 passed, 1 failed"; exit 1; }

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# The system's OEM and ANSI code pages follow the locale: 866 and 1251.
export LC_ALL=ru_RU.UTF-8
# Every Wine process gets its standard streams away from our pipes, so a
# persistent server never holds them open.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 300 "$wine" wineboot -i </dev/null >/dev/null 2>&1
    timeout 120 wineserver -w
fi
timeout 10 wineserver -p </dev/null >/dev/null 2>&1
timeout 120 "$wine" wineboot </dev/null >/dev/null 2>&1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/x" "$work/p" "$work/files"
ln -sfn "$work/x" "$WINEPREFIX/dosdevices/x:"
ln -sfn "$work/p" "$WINEPREFIX/dosdevices/p:"
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

passed=0
failed=0
run_host() {
    local zone=$1 groups=$2 out
    out="$work/out-${zone//\//-}.txt"
    HYL_MESSAGE_LOG="$work/log.txt" TZ=$zone timeout 900 "$wine" "$host" "$(winpath "$build/hyl.dll")" \
        "$(winpath "$work/files")" "$groups" </dev/null 2>&1 | tr -d '\r' >"$out"
    local rc=${PIPESTATUS[0]}
    grep -a -v -E '^[0-9]+ passed, [0-9]+ failed$' "$out"
    local line
    line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$out" | tail -1)
    if [ -z "$line" ]; then
        echo "the $bits-bit host did not finish in $zone (exit $rc)"
        failed=$((failed + 1))
        return
    fi
    echo "$bits-bit, $zone: $line"
    passed=$((passed + ${line%% passed*}))
    local f=${line#*, }
    failed=$((failed + ${f%% failed}))
    [ $rc -eq 0 ] || [ "${f%% failed}" -ne 0 ] || failed=$((failed + 1))
}

# The example host and the tool, beside the DLL, on the bundled sample.
run_program() {
    local what=$1 want=$2
    shift 2
    local got
    got=$(cd "$build" && TZ=Europe/Moscow timeout 300 "$wine" "$@" </dev/null 2>&1 | tr -d '\r')
    if grep -q "$want" <<<"$got"; then
        echo "$what: ok"
        passed=$((passed + 1))
    else
        echo "$what: expected '$want', got:"
        echo "$got"
        failed=$((failed + 1))
    fi
}
sample=$(winpath "$(cd "$(dirname "$0")/../.." && pwd)/samples/equipment.dbf")
run_program "example host (linked and loaded)" "loaded: 4 records" "$build/example_host.exe" "$sample"
run_program "hyl.exe info" "fields: 5" "$build/hyl.exe" info "$sample"
run_program "hyl.exe check" "sound (4 records, 5 fields)" "$build/hyl.exe" check "$sample"
# Code page 866 to UTF-8 through MultiByteToWideChar.
run_program "hyl.exe dump --json" '"ТИП":"котёл"' "$build/hyl.exe" dump "$sample" --json
# A copy of the sample as a host killed while appending leaves it: the last
# record uncounted and half of one more.  Repair goes through the system's
# own file calls here.
/usr/bin/python3 - "$(cd "$(dirname "$0")/../.." && pwd)/samples/equipment.dbf" "$work/files/crashed.dbf" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
count, header, record = struct.unpack_from("<IHH", data, 4)
data = data[:header + count * record] + data[header:header + record // 2]
struct.pack_into("<I", data, 4, count - 1)
open(sys.argv[2], "wb").write(data)
PY
run_program "hyl.exe repair" "sound now (4 records, 5 fields)" "$build/hyl.exe" repair "$(winpath "$work/files/crashed.dbf")"
# A table of 3 MB read in ranges on Windows threads: the CSV one thread writes.
/usr/bin/python3 "$(cd "$(dirname "$0")/../.." && pwd)/bench/make_large_table.py" "$work/files/large.dbf" 30011
for threads in 1 3; do
    (cd "$build" && timeout 300 "$wine" "$build/hyl.exe" dump --csv --threads $threads "$(winpath "$work/files/large.dbf")" \
        </dev/null >"$work/files/dump$threads.csv" 2>&1)
done
if [ "$(wc -l <"$work/files/dump1.csv")" -eq 30012 ] && cmp -s "$work/files/dump1.csv" "$work/files/dump3.csv"; then
    echo "hyl.exe dump on three threads: ok"
    passed=$((passed + 1))
else
    echo "hyl.exe dump on three threads: not the CSV of one thread"
    cmp "$work/files/dump1.csv" "$work/files/dump3.csv" | head -3
    failed=$((failed + 1))
fi

# Stack cleanup and the x87 return (the group convention) are 32-bit matters.
groups=exports,fixed,tables,sharing,codepages,crash,dates,plan,threads
[ "$bits" = 64 ] || groups=$groups,convention
run_host Europe/Moscow "$groups"
run_host Europe/Helsinki "dates,threads"
timeout 10 wineserver -k >/dev/null 2>&1
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
