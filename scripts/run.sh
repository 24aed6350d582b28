#!/usr/bin/env bash
# The main job of `make run`, given the release build directory: watch the
# desktop's windows. On a machine without a display it shows the program at work
# on a private Xvfb desktop with a few sample windows that change for a while.
set -euo pipefail
build=$1
vantrelctl="$build/tools/vantrelctl/vantrelctl"

if [[ -n "${DISPLAY:-}" ]]; then
    exec "$vantrelctl" windows --watch
fi

client="$build/tests/X11/x11_test_client"
for tool in Xvfb openbox xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "run: DISPLAY is not set and $tool is missing (make deps installs it)" >&2
        exit 1
    fi
done
if [[ ! -x "$client" ]]; then
    echo "run: $client is missing (build with VANTREL_BUILD_TESTS=ON)" >&2
    exit 1
fi

scratch=$(mktemp -d)
pids=()
cleanup() {
    # Only what this script started, youngest first, by pid.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Xvfb picks a free display itself and writes its number on fd 3.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
    [[ -s "$scratch/display" ]] && break
    sleep 0.05
done
if [[ ! -s "$scratch/display" ]]; then
    echo "run: Xvfb did not start:" >&2
    cat "$scratch/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$scratch/display")"

HOME="$scratch" openbox >"$scratch/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    desktops=$(xdotool get_num_desktops 2>/dev/null || true)
    [[ "${desktops:-0}" -ge 2 ]] && break
    sleep 0.05
done
echo "run: no DISPLAY; showing a private desktop on $DISPLAY (openbox, sample windows on two desktops)" >&2

# Two sample applications: each client process is one application, driven
# through a pair of pipes.
declare -A toClient fromClient
startClient() { # startClient NAME
    mkfifo "$scratch/$1.in" "$scratch/$1.out"
    "$client" <"$scratch/$1.in" >"$scratch/$1.out" &
    pids+=($!)
    exec {fd}>"$scratch/$1.in"
    toClient[$1]=$fd
    exec {fd}<"$scratch/$1.out"
    fromClient[$1]=$fd
    local ready
    read -r -t 5 ready <&"$fd" || true # the client's "ready"
}
send() { # send NAME COMMAND: one command line, waiting for the client's answer
    echo "$2" >&"${toClient[$1]}"
    local reply
    read -r -t 5 reply <&"${fromClient[$1]}" || true
}
startClient editor
startClient mail

send editor "open notes class=editor,Editor desktop=0 title=notes.txt — Editor"
send editor "open todo class=editor,Editor desktop=1 title=todo.txt — Editor"
send mail "open inbox class=mail,Mail desktop=0 title=Inbox (3)"

"$vantrelctl" windows --watch &
watcher=$!
pids+=($watcher)

step() {
    sleep 1
    echo "run: $*" >&2
}
step "retitling the mail window"
send mail "title inbox Inbox (4)"
step "opening a draft on the second desktop"
send mail "open draft class=mail,Mail desktop=1 title=Draft: hello"
step "minimizing notes.txt"
send editor "minimize notes"
step "focusing the draft"
xdotool set_desktop 1 windowactivate --sync "$(xdotool search --name 'Draft: hello' | head -n1)" 2>/dev/null || true
step "moving todo.txt to the first desktop"
send editor "desktop todo 0"
step "closing the draft"
send mail "destroy draft"
sleep 1

echo "run: done; stopping the watcher and the private desktop" >&2
kill -INT "$watcher" 2>/dev/null || true
wait "$watcher" || true
