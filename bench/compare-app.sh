#!/usr/bin/env bash
# The whole vantrel process beside alttab, on one private Xvfb + openbox + trayer in one run:
# launch to Super+Tab held, Super released to _NET_ACTIVE_WINDOW changed, resident memory with
# 100 windows after the panels have shown, and CPU time over 10 idle seconds.
# usage: bench/compare-app.sh [BUILD_DIR] [RUNS]   (a Release build; default build/release, 9 runs)
# alttab runs as a black box on the same chord: alttab -mk Super_L -kk Tab -w 1.
set -euo pipefail

build=${1:-build/release}
runs=${2:-9}
vantrel=$(cd "$build" && pwd)/src/Vantrel/vantrel
probe=$build/bench/app_probe_x11
client=$build/tests/X11/x11_test_client
for tool in "$vantrel" "$probe" "$client"; do
    [[ -x $tool ]] || { echo "missing $tool (build the Release tree first)" >&2; exit 2; }
done
for tool in Xvfb openbox trayer xdotool; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/debian-packages.txt)" >&2; exit 2; }
done
# Not in the package list: the project's own builds and tests neither install
# nor run another window switcher.
command -v alttab >/dev/null || { echo "alttab is not installed; this comparison needs it" >&2; exit 2; }
alttab=(alttab -mk Super_L -kk Tab -w 1)

# shellcheck source=SCRIPTDIR/../scripts/lib/xsession.sh
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/xsession.sh"

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

startXvfb
startOpenbox
startTrayer

# Three windows on the first desktop to switch between.
mkfifo "$scratch/client.in" "$scratch/client.out"
"$client" <"$scratch/client.in" >"$scratch/client.out" &
pids+=($!)
exec {toClient}>"$scratch/client.in" {fromClient}<"$scratch/client.out"
send() { echo "$1" >&"$toClient"; local reply; read -r -t 30 reply <&"$fromClient" || true; }
read -r -t 5 _ <&"$fromClient" || true
for tag in one two three; do send "open $tag desktop=0 title=$tag"; done

launch() { # launch PROGRAM...: sets $launchMs and $launched (the pid left running)
    local out
    out=$("$probe" launch "$@")
    launched=${out##* }
    pids+=("$launched")
    launchMs=${out#launch_ms }
    launchMs=${launchMs%% *}
}
# The probe started them, so they are not this shell's children: wait until they are gone.
gone() {
    for _ in $(seq 200); do
        if ! kill -0 "$1" 2>/dev/null; then
            forgetPid "$1"
            return 0
        fi
        sleep 0.02
    done
    kill -KILL "$1" 2>/dev/null || true
    forgetPid "$1"
}
stopVantrel() { "$vantrel" --quit >/dev/null 2>&1 || kill "$1"; gone "$1"; }
stopAlttab() { kill "$1"; gone "$1"; }

echo "launch to Super+Tab held, $runs runs each, alternating" >&2
ours=() theirs=()
for ((i = 0; i < runs; i++)); do
    APP_PROBE_LOG=$scratch/vantrel.log launch "$vantrel"
    ours+=("$launchMs")
    sleep 0.5
    stopVantrel "$launched"
    launch "${alttab[@]}"
    theirs+=("$launchMs")
    sleep 0.5
    stopAlttab "$launched"
done
launchOurs=$(median "${ours[@]}") launchTheirs=$(median "${theirs[@]}")

echo "Super released to _NET_ACTIVE_WINDOW changed, $((runs * 3)) presses each" >&2
launch "$vantrel"
sleep 1
mapfile -t ours < <("$probe" release $((runs * 3)))
stopVantrel "$launched"
launch "${alttab[@]}"
sleep 1
mapfile -t theirs < <("$probe" release $((runs * 3)))
stopAlttab "$launched"
releaseOurs=$(median "${ours[@]}") releaseTheirs=$(median "${theirs[@]}")

# Resident memory after both panels showed over 100 more windows, then CPU over 10 idle seconds.
send "many 100"
rssKiB() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }
cpuMs() { awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) * 1000 / hz }' "/proc/$1/stat"; }
showSwitcher() { xdotool keydown super key Tab; sleep 0.5; xdotool key Escape keyup super; sleep 0.3; }
launch "$vantrel"
vantrelPid=$launched
sleep 1
showSwitcher
xdotool key ctrl+space
sleep 0.5
xdotool key Escape
sleep 1
rssOurs=$(rssKiB "$vantrelPid")
before=$(cpuMs "$vantrelPid"); sleep 10; cpuOurs=$(awk -v a="$before" -v b="$(cpuMs "$vantrelPid")" 'BEGIN { print b - a }')
stopVantrel "$vantrelPid"
launch "${alttab[@]}"
alttabPid=$launched
sleep 1
showSwitcher
sleep 1
rssTheirs=$(rssKiB "$alttabPid")
before=$(cpuMs "$alttabPid"); sleep 10; cpuTheirs=$(awk -v a="$before" -v b="$(cpuMs "$alttabPid")" 'BEGIN { print b - a }')
stopAlttab "$alttabPid"

printf '%-44s %12s %12s\n' "median" vantrel alttab
printf '%-44s %12s %12s\n' "launch to Super+Tab held (ms)" "$launchOurs" "$launchTheirs"
printf '%-44s %12s %12s\n' "Super released to active window (ms)" "$releaseOurs" "$releaseTheirs"
printf '%-44s %12s %12s\n' "resident memory, 103 windows (MiB)" "$(awk -v k="$rssOurs" 'BEGIN { printf "%.1f", k / 1024 }')" \
    "$(awk -v k="$rssTheirs" 'BEGIN { printf "%.1f", k / 1024 }')"
printf '%-44s %12s %12s\n' "CPU over 10 idle seconds (ms)" "$cpuOurs" "$cpuTheirs"
