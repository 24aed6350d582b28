#!/usr/bin/env bash
# Reliability figures for vantrel on a private Xvfb + openbox desktop.
# usage: bench/reliability.sh BUILD_DIR CASE [SECONDS]
#   BUILD_DIR  a build tree (the Debug one has AddressSanitizer, LeakSanitizer
#              and UBSan); its installed/ prefix is used when present
#   CASE       storm    a client opens, renames and destroys 1,000 windows over
#                       SECONDS (default 60) while Super+Tab sessions step and
#                       commit; then the windows vantrel last published are
#                       compared with _NET_CLIENT_LIST and the sanitizers' reports
#                       counted after an orderly quit
#              hostile  rounds of hostile windows (1 MB titles, invalid UTF-8,
#                       wrong property types and formats, a _NET_WM_PID of
#                       another process, icons of 0 x 0, windows destroyed as
#                       soon as they are listed) for SECONDS (default 60), then
#                       an icon claiming 65536 x 65536; resident memory before,
#                       after, peak
#              death    the X server killed with a switcher session open: time
#                       to exit, exit status, core files, the log line
#              signals  SIGTERM and SIGINT: exit status and time to exit
#              files    crash_writer killed with SIGKILL SECONDS times (default
#                       200) while it writes settings and learned shortcuts;
#                       every surviving file must parse and none may be missing
# Prints one "reliability:" line per figure.
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
case=${2:?case}
seconds=${3:-}
if [[ -x "$build/installed/bin/vantrel" ]]; then bin="$build/installed/bin"; else bin="$build/src/Vantrel"; fi
vantrel="$bin/vantrel"
client="$build/tests/X11/x11_test_client"
vantrelctl="$build/tools/vantrelctl/vantrelctl"

# shellcheck source=SCRIPTDIR/../scripts/lib/xsession.sh
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib/xsession.sh"
stopSignal=KILL
say() { echo "reliability: $*"; }
now() { date +%s.%N; }
elapsed() { echo "$(now) - $1" | bc -l | xargs printf '%.3f'; }

startDesktop() {
    startXvfb
    startOpenbox
}

# The scripted client reads commands from a FIFO held open on fd 7; its
# answers go to a file nobody needs to read.
startClient() {
    mkfifo "$scratch/client.in"
    "$client" <"$scratch/client.in" >"$scratch/client.out" 2>&1 &
    pids+=($!)
    exec 7>"$scratch/client.in"
}
send() { echo "$*" >&7; }
# Waits until the client has answered every command sent so far.
syncClient() {
    send "open sync$1 title=sync"
    for _ in $(seq 600); do grep -q "opened sync$1 " "$scratch/client.out" && break; sleep 0.05; done
    send "destroy sync$1"
}

rssKiB() { awk '/^VmRSS/ { print $2 }' "/proc/$vantrelPid/status"; }
# Waits for vantrel to exit; sets `status` (128+N for signal N).
waitVantrel() {
    status=0
    wait "$vantrelPid" || status=$?
    forgetPid "$vantrelPid"
}
sanitizerReports() { grep -cE "ERROR: (Address|Leak)Sanitizer|runtime error:" "$scratch/vantrel.log" || true; }

switcherRound() { # a session stepping N times, then committing
    xdotool keydown super
    for _ in $(seq "$1"); do xdotool key Tab; done
    xdotool keyup super
}

case "$case" in
storm)
    seconds=${seconds:-60}
    startDesktop
    startClient
    startVantrel "$vantrel" debug
    total=1000
    (
        # 1,000 windows over the period, about 20 alive at once, each renamed twice.
        for i in $(seq "$total"); do
            send "open w$i desktop=$((i % 2)) title=window $i"
            send "title w$((i > 5 ? i - 5 : i)) renamed $i"
            ((i > 20)) && send "destroy w$((i - 20))"
            sleep "$(echo "$seconds / $total" | bc -l)"
        done
    ) &
    storm=$!
    pids+=($storm)
    sessions=0
    while kill -0 "$storm" 2>/dev/null; do
        switcherRound $((sessions % 4 + 1))
        sessions=$((sessions + 1))
    done
    wait "$storm" || true
    forgetPid "$storm"
    syncClient end
    sleep 2 # let the last publication land
    listed=$(xprop -root _NET_CLIENT_LIST | grep -o '0x[0-9a-f]*' | wc -l)
    published=$(grep -o 'publish: [0-9]* windows' "$scratch/vantrel.log" | tail -n1 | grep -o '[0-9]*')
    alive=$(kill -0 "$vantrelPid" 2>/dev/null && echo yes || echo no)
    kill -TERM "$vantrelPid"
    waitVantrel
    say "storm: $total windows over ${seconds} s, $sessions switcher sessions; vantrel alive at the end: $alive"
    say "storm: _NET_CLIENT_LIST holds $listed windows, vantrel's last publication $published"
    say "storm: exit status after SIGTERM $status, sanitizer reports $(sanitizerReports)"
    ;;
hostile)
    seconds=${seconds:-60}
    startDesktop
    startClient
    startVantrel "$vantrel"
    # Another process's pid for _NET_WM_PID: the X server's.
    other=$xvfbPid
    round() {
        local r=$1
        send "open t$r title=plain"
        send "hostile t$r huge-title 1048576"
        send "open u$r title=x"
        send "hostile u$r invalid-utf8"
        for kind in name-wrong-type desktop-wrong-type state-wrong-type type-wrong-format pid-wrong-type pid-wrong-format class-no-nul; do
            send "open $kind$r title=$kind"
            send "hostile $kind$r $kind"
        done
        send "open p$r title=pid"
        send "hostile p$r pid $other"
        send "open z$r title=zero icon"
        send "icon z$r 0 0"
        for k in 1 2 3 4 5; do
            send "open gone$r-$k title=gone"
            send "destroy gone$r-$k"
        done
        syncClient "$r"
        send "destroy t$r"
        send "destroy u$r"
        for kind in name-wrong-type desktop-wrong-type state-wrong-type type-wrong-format pid-wrong-type pid-wrong-format class-no-nul; do
            send "destroy $kind$r"
        done
        send "destroy p$r"
        send "destroy z$r"
    }
    round 0 # the first round warms the caches
    syncClient warm
    sleep 1
    start=$(rssKiB)
    peak=$start
    rounds=0
    end=$(($(date +%s) + seconds))
    while (($(date +%s) < end)); do
        rounds=$((rounds + 1))
        round "$rounds"
        ((rounds % 4 == 0)) && switcherRound 2
        rss=$(rssKiB)
        ((rss > peak)) && peak=$rss
    done
    syncClient last
    # An icon claiming 65536 x 65536 pixels with two given, last: openbox
    # itself crashes on it (SIGSEGV in its icon code), so nothing after it
    # needs the window manager. The switcher then lists it, icon and all.
    send "open big title=big icon"
    send "hostile big huge-icon"
    sleep 1
    switcherRound 1
    sleep 1
    wm=$(kill -0 "$openboxPid" 2>/dev/null && echo alive || echo dead)
    final=$(rssKiB)
    kill -TERM "$vantrelPid"
    waitVantrel
    say "hostile: $rounds rounds of 16 hostile windows in ${seconds} s, then the claimed 65536 x 65536 icon (openbox after it: $wm)"
    say "hostile: RSS start $((start / 1024)) MiB, end $((final / 1024)) MiB (change $(((final - start) / 1024)) MiB, $((final - start)) KiB), peak $((peak / 1024)) MiB"
    say "hostile: exit status after SIGTERM $status, sanitizer reports $(sanitizerReports)"
    ;;
death)
    startDesktop
    startClient
    send "open a title=first"
    send "open b title=second"
    syncClient ready
    startVantrel "$vantrel"
    cd "$scratch" # a core would land here
    ulimit -c unlimited || true
    xdotool keydown super key Tab
    for _ in $(seq 100); do
        xwininfo -name "Vantrel Switcher" 2>/dev/null | grep -q IsViewable && break
        sleep 0.02
    done
    killed=$(now)
    kill -KILL "$xvfbPid"
    waitVantrel
    took=$(elapsed "$killed")
    cores=$(find "$scratch" /var/crash -maxdepth 1 -newer "$scratch/display" -name 'core*' 2>/dev/null | wc -l || true)
    say "death: vantrel exited $took s after the X server was killed, status $status, core files $cores"
    say "death: last log line: $(tail -n1 "$scratch/vantrel.log")"
    ;;
signals)
    startDesktop
    for signal in TERM INT; do
        startVantrel "$vantrel"
        sent=$(now)
        kill "-$signal" "$vantrelPid"
        waitVantrel
        say "signals: SIG$signal → exit status $status after $(elapsed "$sent") s, sanitizer reports $(sanitizerReports)"
    done
    ;;
files)
    kills=${seconds:-200}
    writer="$build/bench/crash_writer"
    defaults="$scratch/config/vantrel/defaults.json"
    shortcuts="$scratch/data/Vantrel/learned-shortcuts.json"
    mkdir -p "$(dirname "$defaults")" "$(dirname "$shortcuts")"
    bad=0 missing=0 strays=0
    for k in $(seq "$kills"); do
        "$writer" "$defaults" "$shortcuts" 2>>"$scratch/writer.log" &
        pid=$!
        pids+=("$pid")
        # Let it write a while (from 1 to 50 ms), then kill it mid-write.
        sleep "0.0$(printf '%02d' $((RANDOM % 50 + 1)))"
        kill -KILL "$pid"
        wait "$pid" 2>/dev/null || true
        forgetPid "$pid"
        # Once both files exist, no kill may lose either.
        if [[ -e "$defaults" && -e "$shortcuts" ]]; then
            existed=1
        else
            ((${existed:-0})) && missing=$((missing + 1))
            continue
        fi
        "$vantrelctl" settings --defaults-file "$defaults" >/dev/null 2>"$scratch/check.err" || bad=$((bad + 1))
        grep -q . "$scratch/check.err" && bad=$((bad + 1))
        python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); assert isinstance(d["entries"], dict)' "$shortcuts" 2>/dev/null || bad=$((bad + 1))
    done
    strays=$(find "$scratch/config" "$scratch/data" -type f ! -name defaults.json ! -name learned-shortcuts.json | wc -l)
    find "$scratch/config" "$scratch/data" -type f ! -name defaults.json ! -name learned-shortcuts.json | head -n3 | sed 's/^/reliability: files: left: /'
    say "files: $kills SIGKILLs while writing; files that did not parse $bad, files missing $missing, temporary files left $strays"
    ;;
*)
    echo "usage: bench/reliability.sh BUILD_DIR storm|hostile|death|signals|files [SECONDS]" >&2
    exit 2
    ;;
esac
