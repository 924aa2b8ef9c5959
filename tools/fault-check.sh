#!/usr/bin/env bash
# Kills a large save at random moments and checks what a user would find: every
# file of the set holds either its complete old content or its complete new
# content (never a mix, never a truncated file, never a missing one), and the
# next save into the folder leaves no temporary file behind. Saves whose rename
# fails half-way leave every old file as it was. Files in the folder that only
# look like the writer's temporary files (a user's backup, another program's
# file, a temporary file of a process still running) survive every save.
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
# Not the writer's leftovers: another program's or the user's files, and one
# of the writer's names whose process (init) is still running.
lookalikes=(.notes1.txt.backup .set05.txt.Ab12Cd .set07.txt.strandsight-backup
    .set02.txt.strandsight-1-Ab12Cd set03.txt.part12345-1)
for name in "${lookalikes[@]}"; do
    echo "not the writer's: $name" >"$target/$name"
done
lookalikes_sum="$(cd "$target" && md5sum "${lookalikes[@]}")"
check_lookalikes() { # run
    [ "$(cd "$target" && md5sum "${lookalikes[@]}" 2>/dev/null)" = "$lookalikes_sum" ] ||
        fail "$1: a file that only looks like a temporary file was changed or removed"
}
is_lookalike() {
    local name
    for name in "${lookalikes[@]}"; do [ "$1" = "$name" ] && return 0; done
    return 1
}

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
        is_lookalike "${extra##*/}" && continue
        case "${extra##*/}" in
        .set*.txt.strandsight-* | .strandsight-lock) temporaries=$((temporaries + 1)) ;;
        *) fail "run $run: unexpected file ${extra##*/}" ;;
        esac
    done < <(find "$target" -mindepth 1 ! -name 'set*.txt')
    check_lookalikes "run $run"
    if [ "$temporaries" -gt 0 ]; then
        kills_leaving_temporaries=$((kills_leaving_temporaries + 1))
    fi
done

# The next save completes and clears what the killed ones left.
"$faultsave" "$target" set "$files" "$tracks" 0
for key in "${names[@]}"; do
    [ "${key%%/*}" = ref0 ] || continue
    cmp -s "$work/ref0/${key#*/}" "$target/${key#*/}" ||
        fail "the final save differs from a complete one in ${key#*/}"
done
remaining="$(find "$target" -mindepth 1 ! -name 'set*.txt' | wc -l)"
[ "$remaining" -eq "${#lookalikes[@]}" ] ||
    fail "$((remaining - ${#lookalikes[@]})) temporary files left after the next save"
check_lookalikes "the next save"

# A rename that fails half-way: the files replaced before it are put back.
for variant in 1 2; do
    if "$faultsave" "$target" set "$files" "$tracks" "$variant" fail-rename 2>/dev/null; then
        fail "a save whose rename failed reported success"
    fi
    for key in "${names[@]}"; do
        [ "${key%%/*}" = ref0 ] || continue
        cmp -s "$work/ref0/${key#*/}" "$target/${key#*/}" ||
            fail "a failed rename left ${key#*/} changed"
    done
    remaining="$(find "$target" -mindepth 1 ! -name 'set*.txt' | wc -l)"
    [ "$remaining" -eq "${#lookalikes[@]}" ] ||
        fail "a failed rename left $((remaining - ${#lookalikes[@]})) temporary files"
    check_lookalikes "a failed rename"
done

echo "fault-check: $kills saves of $files files killed at random within ${duration_ms} ms:" \
    "every file old or new ($mixed_sets kills fell between renames, $kills_leaving_temporaries" \
    "left temporary files), none left after the next save; failed renames put every file back"

# The recovery session that autosave writes, killed the same way.
bash "$(dirname "${BASH_SOURCE[0]}")/fault-check-autosave.sh" "$(dirname "$faultsave")/faultautosave" "$kills"
