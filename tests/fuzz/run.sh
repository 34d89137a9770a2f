#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on a copy of its seed corpus and
# fails on any finding.  A longer run on demand:
#   FUZZ_SECONDS=3600 tests/fuzz/run.sh build/fuzz
set -u
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
seconds=${FUZZ_SECONDS:-30}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One target a processor at a time: each is a single process.
run_one() {
    local target=$1 name seeds
    name=$(basename "$target")
    seeds="$here/corpus/${name#fuzz_}"
    mkdir -p "$work/$name"
    [ -d "$seeds" ] && cp -r "$seeds"/. "$work/$name"/
    if (cd "$work" && "$target" -max_total_time="$seconds" -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
            "$work/$name" > "$work/$name.log" 2>&1); then
        touch "$work/$name.passed"
    fi
}
jobs=${FUZZ_JOBS:-$(nproc)}
targets=()
for target in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$target" ] && targets+=("$target")
done
for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    run_one "$target" &
done
wait
passed=0
failed=0
for target in "${targets[@]}"; do
    name=$(basename "$target")
    if [ -e "$work/$name.passed" ]; then
        runs=$(grep -o 'Done [0-9]* runs' "$work/$name.log" | tail -1)
        echo "PASS  $name: ${runs:-ran}"
        passed=$((passed + 1))
    else
        echo "FAIL  $name:"
        tail -40 "$work/$name.log"
        failed=$((failed + 1))
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
