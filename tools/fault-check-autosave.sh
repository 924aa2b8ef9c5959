#!/usr/bin/env bash
# Kills the writing of a recovery session at random moments and checks what
# the next start would find: the recovery file is always either the complete
# session written before or the complete new one, never a mix, a truncated
# file or none at all.
#
#   tools/fault-check-autosave.sh FAULTAUTOSAVE [KILLS]
#
# FAULTAUTOSAVE is the test helper that writes a recovery session through the
# program's own autosave path (built as tests/faultautosave). Exit status 0
# when every check held.
set -euo pipefail

helper="$1"
kills="${2:-20}"
tracks=3000

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() {
    echo "fault-check-autosave: FAILED: $*" >&2
    exit 1
}

sum() { md5sum "$1" | cut -d' ' -f1; }

# The complete session of each variant, for comparison.
declare -a complete
for variant in 0 1 2; do
    "$helper" "$work/complete$variant.strandsight" "$tracks" "$variant"
    complete[$variant]="$(sum "$work/complete$variant.strandsight")"
done

mkdir "$work/recovery"
target="$work/recovery/recovery-1.strandsight"
start=$(date +%s%N)
"$helper" "$target" "$tracks" 0
duration_ms=$((($(date +%s%N) - start) / 1000000))
[ "$duration_ms" -gt 0 ] || duration_ms=1

replaced=0
for run in $(seq 1 "$kills"); do
    variant=$((run % 3))
    before="$(sum "$target")"

    "$helper" "$target" "$tracks" "$variant" &
    pid=$!
    delay_ms=$(((RANDOM * 32768 + RANDOM) % duration_ms))
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true

    [ -f "$target" ] || fail "run $run: the recovery session is gone"
    after="$(sum "$target")"
    if [ "$after" = "${complete[$variant]}" ]; then
        [ "$after" = "$before" ] || replaced=$((replaced + 1))
    elif [ "$after" != "$before" ]; then
        fail "run $run: the recovery session is neither the old nor the new one"
    fi
done

echo "fault-check-autosave: $kills recovery writes killed at random within ${duration_ms} ms:" \
    "each left the old or the new complete session ($replaced the new one)"
