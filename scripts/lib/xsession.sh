# shellcheck shell=bash
# A private X desktop for the scripts that need one (scripts/run.sh, bench/*.sh):
# Xvfb on a free display, openbox and trayer on request, a fresh profile, and a
# clean-up that stops only what the script started, by pid, however it ends.
#
# Source it near the top of a bash script running with `set -euo pipefail`. It
# provides
#   scratch      a temporary folder, removed at exit
#   pids         every process the script started, oldest first: add yours
#   forgetPid    PID  takes an ended process off that list
#   stopSignal   what clean-up sends them (TERM; set KILL to stop them hard)
#   startXvfb    exports DISPLAY and the profile variables, sets xvfbPid
#   startOpenbox waits until openbox has made its desktops, sets openboxPid
#   startTrayer  ARGS... a system tray along the top right
#   startVantrel PROGRAM [LEVEL]  vantrel, once it runs, sets vantrelPid
# Messages start with `xsessionTag` (the script's name unless set before).

xsessionTag=${xsessionTag:-$(basename "$0" .sh)}
scratch=$(mktemp -d)
pids=()
stopSignal=TERM

xsessionCleanup() {
    # Only what this script started, youngest first, by pid.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "-$stopSignal" "${pids[i]}" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$scratch"
}
# An ended process leaves the list, so that its number, which the system may
# give to another process, is never signalled.
forgetPid() {
    local kept=() pid
    for pid in "${pids[@]}"; do
        [[ $pid == "$1" ]] || kept+=("$pid")
    done
    pids=("${kept[@]}")
}

trap xsessionCleanup EXIT
trap 'exit 130' INT TERM

xsessionFail() {
    echo "$xsessionTag: $1" >&2
    [[ -z ${2:-} ]] || cat "$2" >&2
    exit 1
}

startXvfb() {
    # Xvfb picks a free display itself and writes its number on fd 3 once it
    # listens. Display numbers are soon reused on a busy machine: without
    # -noreset, a stray client of an earlier server leaving would reset this
    # one and drop the clients starting on it.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$scratch/display" 2>"$scratch/xvfb.log" &
    xvfbPid=$!
    pids+=("$xvfbPid")
    for _ in $(seq 200); do
        [[ -s "$scratch/display" ]] && break
        sleep 0.05
    done
    [[ -s "$scratch/display" ]] || xsessionFail "Xvfb did not start:" "$scratch/xvfb.log"
    DISPLAY=":$(head -n1 "$scratch/display")"
    export DISPLAY
    # A fresh profile: default settings, nothing learned.
    export HOME="$scratch" XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/run"
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
}

startOpenbox() {
    openbox >"$scratch/openbox.log" 2>&1 &
    openboxPid=$!
    pids+=("$openboxPid")
    for _ in $(seq 200); do
        [[ "$(xdotool get_num_desktops 2>/dev/null || true)" -ge 2 ]] && return
        sleep 0.05
    done
    xsessionFail "openbox did not start:" "$scratch/openbox.log"
}

startTrayer() {
    trayer --edge top --align right --widthtype request "$@" >"$scratch/trayer.log" 2>&1 &
    pids+=($!)
}

# startVantrel PROGRAM [LEVEL]: vantrel on the desktop, logging at LEVEL (info)
# to $scratch/vantrel.log, once it has applied its settings; sets vantrelPid.
startVantrel() {
    # Emptied here, not by the redirection below: the background shell may
    # truncate too late, and the wait would see the last run's line.
    : >"$scratch/vantrel.log"
    VANTREL_LOG=${2:-info} "$1" >>"$scratch/vantrel.log" 2>&1 &
    vantrelPid=$!
    pids+=("$vantrelPid")
    for _ in $(seq 400); do
        grep -q "settings applied" "$scratch/vantrel.log" && return
        sleep 0.05
    done
    xsessionFail "vantrel did not start:" "$scratch/vantrel.log"
}
