#!/usr/bin/env bash
# Memory and wall time of vantrelctl on hostile inputs, two builds side by
# side: a settings file far too large or endless, a ranking whose query and
# line are huge, a batch score against a huge text, and a ranking of millions
# of one-letter lines.
# usage: bench/hostile-inputs.sh BEFORE_DIR AFTER_DIR [RUNS]
#   each DIR holds vantrelctl (and vantrelctl-desktop); default 3 runs.
# Prints per case and build the median wall seconds and median maximum RSS
# in MiB (GNU time), and the exit status of the last run. Every run is
# limited to 4 GiB of address space and 120 s.
set -euo pipefail

before=${1:?before dir}
after=${2:?after dir}
runs=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The inputs.
python3 - "$work" <<'PY'
import json, random, sys
work = sys.argv[1]
random.seed(1)
letters = "abcdefghijklmnopqrstuvwxyz"
# A settings file of 64 MiB: a valid object padded with blanks.
with open(f"{work}/large.json", "w") as f:
    f.write('{"settings": "{}"}' + " " * (64 << 20))
# A 10,000-letter query that is a subsequence of a 1 MiB line.
line = (letters * ((1 << 20) // 26 + 1))[: 1 << 20]
with open(f"{work}/query.txt", "w") as f:
    f.write("".join(random.choice(letters) for _ in range(10000)))
with open(f"{work}/line.txt", "w") as f:
    f.write(line + "\n")
# A 100-letter query against a 50 MiB text, as one batch line.
text = (letters * ((50 << 20) // 26 + 1))[: 50 << 20]
with open(f"{work}/batch.jsonl", "w") as f:
    f.write(json.dumps({"query": "".join(random.choice(letters) for _ in range(100)), "text": text}) + "\n")
# 8 MiB of one-letter lines.
with open(f"{work}/letters.txt", "w") as f:
    f.write("a\n" * (4 << 20))
PY
ln -s /dev/zero "$work/zero.json"

# One run: "seconds rss_kib status".
measure() {
    local input=$1
    shift
    local status=0
    ( ulimit -v $((4 << 20)); exec /usr/bin/time -f '%e %M' -o "$work/time" timeout 120 "$@" <"$input" >/dev/null 2>"$work/err" ) || status=$?
    echo "$(cat "$work/time" | tail -1) $status"
}

printf '%-34s %-7s %10s %10s %7s\n' case build seconds max_MiB status
run_case() {
    local name=$1 input=$2
    shift 2
    for build in before after; do
        local dir=${!build}
        local seconds=() rss=() status=
        for ((r = 0; r < runs; ++r)); do
            read -r s m status < <(measure "$input" "$dir/vantrelctl" "$@")
            seconds+=("$s")
            rss+=("$m")
        done
        printf '%-34s %-7s %10s %10.1f %7s\n' "$name" "$build" "$(median "${seconds[@]}")" \
            "$(echo "$(median "${rss[@]}") / 1024" | bc -l)" "$status"
    done
}

run_case "settings: 64 MiB file" /dev/null settings --defaults-file "$work/large.json"
run_case "settings: link to /dev/zero" /dev/null settings --defaults-file "$work/zero.json"
run_case "rank: 10,000-letter query, 1 MiB" "$work/line.txt" rank --plain "$(cat "$work/query.txt")"
run_case "score --batch: 100 letters, 50 MiB" "$work/batch.jsonl" score --batch
run_case "rank a: 8 MiB of one-letter lines" "$work/letters.txt" rank a
run_case "rank --plain a: the same" "$work/letters.txt" rank --plain a
