#!/usr/bin/env bash
# Whole-process comparison of `vantrelctl rank --plain` with `fzy -e`, query
# by query, on the four synthetic corpora (window texts; long titles with
# paths and URLs; titles mostly beyond Latin; mostly ASCII titles with a word
# from elsewhere in some) at 10,000 and 100,000 lines, or on corpus files of
# your own.
# usage: bench/compare-fuzzy.sh [-b BUILD_DIR] [-r RUNS] [-l "LINES..."] [-q "QUERIES"] [CORPUS_FILE...]
#   -b  a Release build (default build/release)     -r  runs per side (default 9)
#   -l  line counts of the generated corpora (default "10000 100000")
#   -q  queries for corpus files (default "e te term main zqxj")
# The generated corpora have their own queries: one letter, two letters,
# four letters, a word that appears often, and one that matches nothing.
# Queries are single words: fzy takes a blank as a literal character.
# VANTREL_SEARCH_KERNEL=avx2 (or scalar) in the environment measures the
# path of a machine without AVX-512 (or without AVX2).
set -euo pipefail

build=build/release
runs=9
counts="10000 100000"
fileQueries="e te term main zqxj"
while getopts b:r:l:q: option; do
    case $option in
    b) build=$OPTARG ;;
    r) runs=$OPTARG ;;
    l) counts=$OPTARG ;;
    q) fileQueries=$OPTARG ;;
    *) sed -n '2,15p' "$0" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

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

# compare NAME FILE QUERY...: one line per query, the two tools alternating.
compare() {
    local name=$1 corpus=$2
    shift 2
    local lines
    lines=$(wc -l <"$corpus")
    for query in "$@"; do
        local ours=() theirs=()
        for ((run = 0; run < runs; ++run)); do
            ours+=("$(timed "$vantrelctl" rank --plain "$query" <"$corpus")")
            theirs+=("$(timed fzy -e "$query" <"$corpus")")
        done
        local matches fzyMatches
        matches=$("$vantrelctl" rank --plain "$query" <"$corpus" | wc -l)
        fzyMatches=$(fzy -e "$query" <"$corpus" | wc -l)
        awk -v c="$name" -v l="$lines" -v q="$query" -v m="$matches" -v f="$fzyMatches" \
            -v a="$(median "${ours[@]}")" -v b="$(median "${theirs[@]}")" \
            'BEGIN { printf "%-10s %7d %-10s %7d %7d %10.2f %10.2f %6.2f\n", c, l, q, m, f, a / 1000, b / 1000, a / b }'
    done
}

printf '%-10s %7s %-10s %7s %7s %10s %10s %6s\n' corpus lines query matches fzy_hits vantrel_ms fzy_ms ratio
if (($# > 0)); then
    for file in "$@"; do
        # shellcheck disable=SC2086 # the queries are words
        compare "$(basename "$file" | cut -c1-10)" "$file" $fileQueries
    done
else
    for lines in $counts; do
        "$corpusTool" --write-corpus="$lines" >"$work/windows.txt"
        "$corpusTool" --write-corpus="$lines" --corpus=long >"$work/long.txt"
        "$corpusTool" --write-corpus="$lines" --corpus=scripts >"$work/scripts.txt"
        "$corpusTool" --write-corpus="$lines" --corpus=mixed >"$work/mixed.txt"
        compare windows "$work/windows.txt" e te rdme mail zqxj
        compare long "$work/long.txt" s gh srch github zqxj
        compare scripts "$work/scripts.txt" e fi отчё отчёт zqxj
        compare mixed "$work/mixed.txt" a co prjt report zqxj
    done
fi
echo "ratio = vantrelctl median / fzy median (below 1: vantrelctl faster); medians of $runs runs each," \
    "search kernel ${VANTREL_SEARCH_KERNEL:-widest}"
