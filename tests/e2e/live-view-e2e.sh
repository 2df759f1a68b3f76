#!/usr/bin/env bash
# The real program end to end: a simulated class 6 camera with a 1 kHz tone on
# 127.0.0.1, a private X server and a private sound server with a null sink,
# a program folder holding a copy of the viewer and a prepared device.inf.
# Double-clicks the device in the main window, then checks that the "Show"
# window's picture area shows the camera's picture, that the tone reaches the
# null sink, and that closing both windows saves the directory unchanged.
#
#   live-view-e2e.sh VIEWER DEVSIM DIRECTORY_TOOL PROBE
#
# Exits 0 on success, 1 on a failure (with what was seen), 77 when a needed
# program is not installed. Every wait is bounded; every process it starts is
# ended on the way out. KEEP_E2E_FOLDER=1 keeps the work folder.
set -u

viewer=${1:?usage: live-view-e2e.sh VIEWER DEVSIM DIRECTORY_TOOL PROBE}
devsim=${2:?}
makeDirectory=${3:?}
probe=${4:?}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../tools/demo/processes.sh
. "$here/../../tools/demo/processes.sh"

for tool in Xvfb xdotool pulseaudio parec import; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (make deps installs it)"
        exit 77
    fi
done

readonly kScale=2
readonly kToneHz=1000
readonly kSinkRate=8000
readonly kLabel="E2E camera"
# The picture area of the live view, in logical pixels.
readonly kPictureWidth=240 kPictureHeight=165

work=$(mktemp -d "${TMPDIR:-/tmp}/tess-e2e-XXXXXX")
xvfbPid= pulsePid= recorderPid= viewerPid=
TESS_DEVSIM_PID=
finish() {
    local status=$?
    trap - EXIT
    tess_stop "$viewerPid" 5
    tess_stop "$recorderPid"
    tess_stop "$TESS_DEVSIM_PID"
    tess_stop "$pulsePid"
    tess_stop "$xvfbPid"
    if [ "$status" -ne 0 ] && [ -s "$work/viewer.log" ]; then
        echo "--- viewer output"
        tail -n 40 "$work/viewer.log"
    fi
    if [ "${KEEP_E2E_FOLDER:-0}" = 1 ]; then
        echo "work folder kept: $work"
    else
        rm -rf "$work"
    fi
    exit "$status"
}
trap finish EXIT
trap 'exit 1' INT TERM

fail() {
    echo "FAIL: $*"
    exit 1
}
step() {
    echo "[$(date +%T)] $*"
}

# The environment of every program started here: nothing of the user's home,
# runtime folder, sound server or session bus.
mkdir -p "$work/home" "$work/runtime" "$work/program"
chmod 700 "$work/runtime"
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/home/.config
export XDG_DATA_HOME=$work/home/.local/share
unset DBUS_SESSION_BUS_ADDRESS PULSE_SERVER PULSE_SINK WAYLAND_DISPLAY

step "X server"
# -displayfd: the server picks a free display itself and reports it once ready.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfbPid=$!
exec 3>&-
tess_wait_for 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$(tr -dc 0-9 <"$work/display")

step "sound server with a null sink"
socket=$work/runtime/pulse-native
cat >"$work/server.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$socket
load-module module-null-sink sink_name=tess_null rate=$kSinkRate channels=1 format=s16le
set-default-sink tess_null
PA
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes --system=false \
    --use-pid-file=no --realtime=no --high-priority=no --log-target=stderr \
    -F "$work/server.pa" >"$work/pulse.log" 2>&1 &
pulsePid=$!
export PULSE_SERVER=unix:$socket
soundServerUp() {
    kill -0 "$pulsePid" 2>/dev/null || return 125
    [ -S "$socket" ] && timeout 2 pactl info >/dev/null 2>&1
}
tess_wait_for 10 soundServerUp || fail "pulseaudio did not start: $(cat "$work/pulse.log")"

step "simulated class 6 camera"
tess_start_devsim "$devsim" "$work/devsim.out" 1 --class 6 --port 0 --tone "$kToneHz" \
    --no-discovery || fail "no simulator"
read -r port _ < <(tess_devsim_ports "$work/devsim.out")
[ -n "$port" ] || fail "the simulator reported no port: $(cat "$work/devsim.out")"

step "program folder with device.inf (device on 127.0.0.1:$port)"
cp "$viewer" "$work/program/tessarine"
"$makeDirectory" --flat "$work/program/device.inf" "127.0.0.1:$port:$kLabel:6:av" ||
    fail "cannot write device.inf"
cp "$work/program/device.inf" "$work/device.inf.before"
inodeBefore=$(stat -c %i "$work/program/device.inf")

step "viewer"
# In a sanitizer build, leaks of the system's session-bus library are not the viewer's.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan.supp"
TESSARINE_SCALE=$kScale QT_QPA_PLATFORM=xcb "$work/program/tessarine" >"$work/viewer.log" 2>&1 &
viewerPid=$!

# windowByName NAME: the id of the one visible window whose name is NAME.
windowByName() {
    kill -0 "$viewerPid" 2>/dev/null || return 125
    found=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$found" ]
}
tess_wait_for 15 windowByName Tessarine || fail "no main window \"Tessarine\""
mainWindow=$found
mainGeometry=$(xdotool getwindowgeometry "$mainWindow" | tr '\n' ' ')
step "main window $mainWindow: $mainGeometry"

# The device's row in the tree: the device is the saved selection, so the
# viewer opens its folder and draws its row as selected. The row is found on
# a screenshot of the window, which keeps this test free of the tree's fonts
# and margins.
deviceRow() {
    kill -0 "$viewerPid" 2>/dev/null || return 125
    import -window "$mainWindow" png:"$work/main.png" 2>>"$work/import.log" &&
        "$probe" selected-row "$work/main.png" >"$work/row.txt"
}
tess_wait_for 5 deviceRow || fail "no selected row in the main window: $(cat "$work/row.txt")"
read -r rowX rowY <"$work/row.txt"

step "recording the null sink"
parec --device=tess_null.monitor --rate=$kSinkRate --channels=1 --format=s16le --raw \
    --latency-msec=20 >"$work/sound.raw" 2>"$work/parec.log" &
recorderPid=$!
recording() {
    kill -0 "$recorderPid" 2>/dev/null || return 125
    [ -s "$work/sound.raw" ]
}
tess_wait_for 10 recording || fail "parec records nothing: $(cat "$work/parec.log")"

step "double-click on the device row at ($rowX, $rowY)"
xdotool mousemove --window "$mainWindow" "$rowX" "$rowY" click --repeat 2 --delay 80 1
tess_wait_for 10 windowByName Show || fail "no \"Show\" window after the double-click"
showWindow=$found
step "live view $showWindow: $(xdotool getwindowgeometry "$showWindow" | tr '\n' ' ')"

# The first picture needs a login, the negotiation and a frame.
pictureWidth=$((kPictureWidth * kScale))
pictureHeight=$((kPictureHeight * kScale))
livePicture() {
    kill -0 "$viewerPid" 2>/dev/null || return 125
    import -window "$showWindow" png:"$work/show.png" 2>>"$work/import.log" &&
        "$probe" picture "$work/show.png" "$pictureWidth" "$pictureHeight" >"$work/picture.txt"
}
tess_wait_for 15 livePicture || fail "no live picture in the picture area: $(cat "$work/picture.txt" 2>/dev/null)"
step "$(cat "$work/picture.txt")"

# Two seconds of sound while the picture runs.
sleep 2
tess_stop "$recorderPid"
recorderPid=
"$probe" tone "$work/sound.raw" "$kSinkRate" "$kToneHz" || fail "no ${kToneHz} Hz tone on the null sink"

step "closing the live view"
gone() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
timeout 5 xdotool windowfocus --sync "$showWindow" key Escape
tess_wait_for 5 gone Show || fail "Escape did not close the live view"
kill -0 "$viewerPid" 2>/dev/null || fail "the viewer ended with the live view"

# SIGTERM ends the program as closing its main window does: the window
# closes and saves the directory.
step "closing the main window (SIGTERM)"
viewerEnded() { ! kill -0 "$viewerPid" 2>/dev/null; }
kill -TERM "$viewerPid"
tess_wait_for 10 viewerEnded || fail "the viewer did not end on SIGTERM"
wait "$viewerPid"
viewerStatus=$?
viewerPid=
[ "$viewerStatus" -eq 0 ] || fail "the viewer ended with status $viewerStatus"

step "directory saved"
[ -f "$work/program/device.inf" ] || fail "device.inf is gone"
# The save writes a new file and renames it over the old one.
[ "$(stat -c %i "$work/program/device.inf")" != "$inodeBefore" ] ||
    fail "device.inf was not written again on closing"
"$probe" directory "$work/device.inf.before" "$work/program/device.inf" ||
    fail "device.inf does not hold the same records"
[ -d "$work/program/Temp" ] || fail "no snapshot folder Temp beside device.inf"
step "PASS"
