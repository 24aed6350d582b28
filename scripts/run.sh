#!/usr/bin/env bash
# The main job of `make run`, given the release build directory: run vantrel on
# the desktop. On a machine without a display it shows vantrel at work on a
# private Xvfb desktop (openbox, trayer, sample windows on two desktops), drives
# it with XTEST key presses, saves a screenshot with the panel up, and stops.
set -euo pipefail
build=$1
vantrel="$build/src/Vantrel/vantrel"
vantrelctl="$build/tools/vantrelctl/vantrelctl"

if [[ -n "${DISPLAY:-}" ]]; then
    exec "$vantrel"
fi

client="$build/tests/X11/x11_test_client"
for tool in Xvfb openbox xdotool trayer; do
    if ! command -v "$tool" >/dev/null; then
        echo "run: DISPLAY is not set and $tool is missing (make deps installs it)" >&2
        exit 1
    fi
done
if [[ ! -x "$client" ]]; then
    echo "run: $client is missing (build with VANTREL_BUILD_TESTS=ON)" >&2
    exit 1
fi

shots=$(cd "$build" && pwd)/demo
mkdir -p "$shots"
# shellcheck source=SCRIPTDIR/lib/xsession.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/xsession.sh"
startXvfb
startOpenbox
startTrayer --height 24
echo "run: no DISPLAY; showing vantrel on a private desktop on $DISPLAY (openbox, trayer, sample windows on two desktops)" >&2

# Sample applications: each client process is one application, driven
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
startClient terminal
send editor "open todo class=editor,Editor desktop=1 title=todo.txt — Editor"
send mail "open draft class=mail,Mail desktop=0 title=Draft: hello"
send terminal "open build class=terminal,Terminal desktop=0 title=make test — Terminal"
send editor "open notes class=editor,Editor desktop=0 title=notes.txt — Editor"
send mail "open inbox class=mail,Mail desktop=0 title=Inbox (3) — Mail"

startVantrel "$vantrel" "${VANTREL_LOG:-info}"

# Recent use: notes.txt, then the inbox.
for title in "^notes.txt" "^Inbox"; do
    xdotool search --name "$title" windowactivate --sync >/dev/null 2>&1 || true
    sleep 0.3
done

active() { xdotool getactivewindow getwindowname 2>/dev/null || echo "(none)"; }
step() {
    sleep 0.6
    echo "run: $*" >&2
}
report() { echo "run:   active window: $(active)" >&2; }

step "the active window is \"$(active)\""
step "a quick Super+Tab goes back to the previous window, without a panel"
xdotool key super+Tab
report
step "Super held over two Tabs: the panel shows, the selection moves two down"
xdotool keydown super key Tab
sleep 0.4
xdotool key Tab
sleep 0.5
"$vantrelctl" screenshot "$shots/panel.png"
echo "run:   screenshot with the panel up taken" >&2
xdotool keyup super
report
step "Super+Tab held, typing \"inb\" filters the list, releasing Super switches to it"
xdotool keydown super key Tab
sleep 0.4
xdotool type --delay 80 inb
sleep 0.3
"$vantrelctl" screenshot "$shots/panel-filtered.png"
xdotool keyup super
report
step "Ctrl+Space opens the search panel; \"todo\" and Return switch to todo.txt on desktop 2"
xdotool key ctrl+space
sleep 0.4
xdotool type --delay 80 todo
sleep 0.3
"$vantrelctl" screenshot "$shots/search.png"
xdotool key Return
sleep 0.3
report
step "Super+Tab held, typing \"dra\" selects the draft, Super+W closes it from the panel"
xdotool keydown super key Tab
sleep 0.4
xdotool type --delay 80 dra
sleep 0.2
xdotool key w
sleep 0.4
xdotool key Escape keyup super
if xdotool search --name "^Draft" >/dev/null 2>&1; then
    echo "run:   the draft is still open" >&2
else
    echo "run:   the draft window is gone" >&2
fi
report

echo "run: done; quitting vantrel and stopping the private desktop" >&2
"$vantrel" --quit
wait "$vantrelPid" || true
forgetPid "$vantrelPid"
echo "run: screenshots (panel.png, panel-filtered.png, search.png) are in $shots" >&2
