#!/usr/bin/env bash
# Kills a large save at random moments and checks what a user would find: every
# file of the set holds either its complete old content or its complete new
# content (never a mix, never a truncated file, never a missing one), and the
# next save into the folder leaves no temporary file behind.
#
#   tools/fault-check.sh FAULTSAVE [KILLS]
#
# FAULTSAVE is the test helper that saves a set through the program's own set
# writer (built as tests/faultsave). Exit status 0 when every check held.
set -euo pipefail

faultsave="$1"
kills="${2:-20}"
files=100
tracks=3000

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() {
    echo "fault-check: FAILED: $*" >&2
    exit 1
}

# Checksums by file name, one process per folder rather than one per file.
declare -A sums
checksums() { # prefix folder
    local sum path
    while read -r sum path; do
        sums["$1/${path##*/}"]="$sum"
    done < <(cd "$2" && md5sum set*.txt)
}

# The complete content of each variant, for comparison.
for variant in 0 1 2; do
    mkdir "$work/ref$variant"
    "$faultsave" "$work/ref$variant" set "$files" "$tracks" "$variant"
    checksums "ref$variant" "$work/ref$variant"
done
names=("${!sums[@]}")

target="$work/target"
mkdir "$target"
start=$(date +%s%N)
"$faultsave" "$target" set "$files" "$tracks" 0
duration_ms=$((($(date +%s%N) - start) / 1000000))
[ "$duration_ms" -gt 0 ] || duration_ms=1

kills_leaving_temporaries=0
mixed_sets=0
for run in $(seq 1 "$kills"); do
    variant=$((run % 3))
    checksums before "$target"

    "$faultsave" "$target" set "$files" "$tracks" "$variant" &
    pid=$!
    # A moment anywhere in a save's length, to the millisecond.
    delay_ms=$(((RANDOM * 32768 + RANDOM) % duration_ms))
    sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true

    checksums after "$target"
    old=0
    new=0
    for key in "${names[@]}"; do
        [ "${key%%/*}" = ref0 ] || continue
        name="${key#*/}"
        [ -n "${sums[after/$name]:-}" ] || fail "run $run: $name is missing"
        if [ "${sums[after/$name]}" = "${sums[ref$variant/$name]}" ]; then
            new=$((new + 1))
        elif [ "${sums[after/$name]}" = "${sums[before/$name]}" ]; then
            old=$((old + 1))
        else
            fail "run $run: $name is neither its old nor its new content"
        fi
    done
    if [ "$old" -gt 0 ] && [ "$new" -gt 0 ]; then
        mixed_sets=$((mixed_sets + 1))
    fi
    # Anything else in the folder must be one of the writer's hidden files.
    temporaries=0
    while IFS= read -r extra; do
        case "${extra##*/}" in
        .set*.txt.??????) temporaries=$((temporaries + 1)) ;;
        *) fail "run $run: unexpected file ${extra##*/}" ;;
        esac
    done < <(find "$target" -mindepth 1 ! -name 'set*.txt')
    if [ "$temporaries" -gt 0 ]; then
        kills_leaving_temporaries=$((kills_leaving_temporaries + 1))
    fi
done

# The next save completes and clears what the killed ones left.
"$faultsave" "$target" set "$files" "$tracks" 0
diff -rq "$work/ref0" "$target" >/dev/null || fail "the final save differs from a complete one"
remaining="$(find "$target" -mindepth 1 ! -name 'set*.txt' | wc -l)"
[ "$remaining" -eq 0 ] || fail "$remaining temporary files left after the next save"

echo "fault-check: $kills saves of $files files killed at random within ${duration_ms} ms:" \
    "every file old or new ($mixed_sets kills fell between renames, $kills_leaving_temporaries" \
    "left temporary files), none left after the next save"

# The recovery session that autosave writes, killed the same way.
bash "$(dirname "${BASH_SOURCE[0]}")/fault-check-autosave.sh" "$(dirname "$faultsave")/faultautosave" "$kills"
