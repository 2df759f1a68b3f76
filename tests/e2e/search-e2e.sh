#!/usr/bin/env bash
# The LAN search end to end, with real broadcasts kept inside two network
# namespaces made here: a viewer namespace (198.18.1.1 on veth v1, default
# route through it) and a device namespace (198.18.1.2 on d1) where a
# simulated class 6 camera answers searches on 0.0.0.0:7777. The viewer runs
# in its namespace under a private X server with no interface named, so it
# chooses v1 by itself.
#
# "Search" in the main window, the camera's row, Return on it, the device
# editor preset with its address and port, OK, the live view with a picture;
# SIGTERM saves device.inf, which must hold the new device. Then SIGTERM
# during a second search: the viewer ends well within a second.
#
#   search-e2e.sh VIEWER DEVSIM PROBE
#
# Exits 0 on success, 1 on a failure (with what was seen), 77 when not run as
# root. Every wait is bounded; the namespaces and every process started here
# are removed on the way out. KEEP_E2E_FOLDER=1 keeps the work folder.
set -u

viewer=${1:?usage: search-e2e.sh VIEWER DEVSIM PROBE}
devsim=${2:?}
probe=${3:?}
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: network namespaces need root (CI runs this as root)"
    exit 77
fi
nsViewer=tess-search-v-$$
nsDevice=tess-search-d-$$
# The namespaces go with everything else the session started.
e2e_extra_cleanup() {
    ip netns del "$nsViewer" 2>/dev/null
    ip netns del "$nsDevice" 2>/dev/null
}
# shellcheck source=e2e-session.sh
. "$(dirname "${BASH_SOURCE[0]}")/e2e-session.sh"

readonly kCameraPort=8006
readonly kCamera=198.18.1.2

# Runs a command in the viewer's namespace (in the foreground: started in the
# background, a function's id would be its subshell's).
inViewer() { ip netns exec "$nsViewer" "$@"; }

# As root, everything below must work: a missing program fails the test.
for tool in ip Xvfb xdotool import; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (make deps installs it)"
done

# No sound here, and the viewer chooses its interfaces by itself.
export PULSE_SERVER=unix:$work/no-sound-server
unset TESSARINE_SEARCH_INTERFACES

step "network namespaces $nsViewer and $nsDevice"
{
    ip netns add "$nsViewer" && ip netns add "$nsDevice" &&
        ip -n "$nsViewer" link set lo up && ip -n "$nsDevice" link set lo up &&
        ip -n "$nsViewer" link add v1 type veth peer name d1 netns "$nsDevice" &&
        ip -n "$nsViewer" addr add 198.18.1.1/24 dev v1 && ip -n "$nsViewer" link set v1 up &&
        ip -n "$nsDevice" addr add "$kCamera/24" dev d1 && ip -n "$nsDevice" link set d1 up &&
        ip -n "$nsViewer" route add default dev v1
} >"$work/ip.log" 2>&1 || fail "cannot build the namespaces: $(cat "$work/ip.log")"

step "simulated class 6 camera on $kCamera:$kCameraPort, answering searches"
tess_start_devsim ip "$work/devsim.out" 1 netns exec "$nsDevice" "$devsim" --class 6 \
    --address "$kCamera" --port "$kCameraPort" --discovery-address 0.0.0.0 --discovery-any ||
    fail "no simulator"

step "X server in the viewer's namespace"
exec 3>"$work/display"
ip netns exec "$nsViewer" Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfbPid=$!
exec 3>&-
tess_wait_for 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(tr -dc 0-9 <"$work/display")

cp "$viewer" "$work/program/tessarine"
# Started by ip itself, which becomes the program: the id is the viewer's.
startViewer() {
    TESSARINE_SCALE=$kScale QT_QPA_PLATFORM=xcb ip netns exec "$nsViewer" \
        "$work/program/tessarine" >>"$work/viewer.log" 2>&1 &
    viewerPid=$!
}
# windowByName NAME: the id of the one visible window whose name is NAME.
windowByName() {
    kill -0 "$viewerPid" 2>/dev/null || return 125
    found=$(inViewer xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$found" ]
}
gone() { ! inViewer xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }

# Clicks along the main window's menu bar until the "Search" window opens;
# a menu or box opened on the way is closed with Escape.
openSearch() {
    local x
    for x in $(seq 8 16 400); do
        inViewer xdotool mousemove --window "$mainWindow" "$x" 10 click 1
        if tess_wait_for 1 windowByName Search; then
            searchWindow=$found
            return 0
        fi
        inViewer xdotool key Escape
        sleep 0.2
    done
    return 1
}

step "viewer (no device.inf yet)"
startViewer
tess_wait_for 15 windowByName Tessarine || fail "no main window \"Tessarine\""
mainWindow=$found

step "Search"
openSearch || fail "no \"Search\" window from the main window's menu bar"
# The camera answers at once; the search ends 3 s later and gives the list
# the focus, its top row current; Return chooses it.
chosen() {
    kill -0 "$viewerPid" 2>/dev/null || return 125
    inViewer xdotool windowfocus --sync "$searchWindow" key Return 2>/dev/null
    sleep 0.5
    windowByName Login
}
sleep 3
tess_wait_for 10 chosen || fail "choosing the camera's row opened no device editor"
editor=$found

step "device editor, OK"
inViewer xdotool windowfocus --sync "$editor" key Return
tess_wait_for 10 windowByName Show || fail "no \"Show\" window after the editor"
showWindow=$found

pictureWidth=$((kPictureWidth * kScale))
pictureHeight=$((kPictureHeight * kScale))
livePicture() {
    kill -0 "$viewerPid" 2>/dev/null || return 125
    inViewer import -window "$showWindow" png:"$work/show.png" 2>>"$work/import.log" &&
        "$probe" picture "$work/show.png" "$pictureWidth" "$pictureHeight" >"$work/picture.txt"
}
tess_wait_for 20 livePicture || fail "no live picture: $(cat "$work/picture.txt" 2>/dev/null)"
step "$(cat "$work/picture.txt")"

inViewer xdotool windowfocus --sync "$showWindow" key Escape
tess_wait_for 5 gone Show || fail "Escape did not close the live view"

step "SIGTERM: the directory is saved with the found camera"
viewerEnded() { ! kill -0 "$viewerPid" 2>/dev/null; }
kill -TERM "$viewerPid"
tess_wait_for 10 viewerEnded || fail "the viewer did not end on SIGTERM"
wait "$viewerPid"
status=$?
viewerPid=
[ "$status" -eq 0 ] || fail "the viewer ended with status $status"
"$probe" device "$work/program/device.inf" "$kCamera" "$kCameraPort" ||
    fail "device.inf does not hold the found camera"

step "SIGTERM during a search"
startViewer
tess_wait_for 15 windowByName Tessarine || fail "no main window the second time"
mainWindow=$found
openSearch || fail "no \"Search\" window the second time"
sleep 0.5
kill -0 "$viewerPid" 2>/dev/null || fail "the viewer ended during the search"
started=$(date +%s%N)
kill -TERM "$viewerPid"
tess_wait_for 5 viewerEnded || fail "the viewer did not end on SIGTERM during a search"
ended=$(date +%s%N)
wait "$viewerPid"
status=$?
viewerPid=
elapsed=$(((ended - started) / 1000000))
step "ended ${elapsed} ms after SIGTERM, status $status"
[ "$status" -eq 0 ] || fail "the viewer ended with status $status"
[ "$elapsed" -lt 1000 ] || fail "the viewer took ${elapsed} ms to end during a search"
step "PASS"
