#!/usr/bin/env bash
# Whole-process comparison of `vantrelctl rank --plain` with `fzy -e` on the
# synthetic window-text corpora (1,000 / 10,000 / 100,000 lines).
# usage: bench/compare-fuzzy.sh [BUILD_DIR] [RUNS]   (a Release build; default build/release, 9 runs)
# Queries are single words: fzy takes a blank as a literal character.
set -euo pipefail

build=${1:-build/release}
runs=${2:-9}
vantrelctl=$build/tools/vantrelctl/vantrelctl
corpusTool=$build/bench/bench_search
for tool in "$vantrelctl" "$corpusTool"; do
    [[ -x $tool ]] || { echo "missing $tool (build the Release tree first)" >&2; exit 2; }
done
command -v fzy >/dev/null || { echo "fzy is not installed (Debian package fzy)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Median of the arguments (integers).
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Wall time of one run in microseconds, read from bash's own clock: asking
# `date` would start two more processes inside every measurement. The clock
# has six decimals after the locale's decimal separator, which is dropped.
timed() {
    local start=$EPOCHREALTIME
    "$@" >/dev/null
    local end=$EPOCHREALTIME
    echo $((10#${end//[!0-9]/} - 10#${start//[!0-9]/}))
}

queries=(ter mail cfg rdme)
printf '%-8s %-6s %8s %8s %12s %12s %8s\n' lines query matches fzy_match vantrel_ms fzy_ms ratio
for lines in 1000 10000 100000; do
    corpus=$work/corpus-$lines.txt
    "$corpusTool" --write-corpus=$lines >"$corpus"
    for query in "${queries[@]}"; do
        ours=()
        theirs=()
        for ((run = 0; run < runs; ++run)); do
            ours+=("$(timed "$vantrelctl" rank --plain "$query" <"$corpus")")
            theirs+=("$(timed fzy -e "$query" <"$corpus")")
        done
        matches=$("$vantrelctl" rank --plain "$query" <"$corpus" | wc -l)
        fzyMatches=$(fzy -e "$query" <"$corpus" | wc -l)
        ourMedian=$(median "${ours[@]}")
        theirMedian=$(median "${theirs[@]}")
        awk -v l="$lines" -v q="$query" -v m="$matches" -v f="$fzyMatches" -v a="$ourMedian" -v b="$theirMedian" \
            'BEGIN { printf "%-8s %-6s %8d %8d %12.2f %12.2f %8.2f\n", l, q, m, f, a / 1000, b / 1000, a / b }'
    done
done
echo "ratio = vantrelctl median / fzy median (below 1: vantrelctl faster); medians of $runs runs each"
