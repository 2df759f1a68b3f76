#!/usr/bin/env bash
# The real program end to end: a simulated class 6 camera with a 1 kHz tone on
# 127.0.0.1, a private X server and a private sound server with a null sink,
# a program folder holding a copy of the viewer and a prepared device.inf.
# Double-clicks the device in the main window, then checks that the "Show"
# window's picture area shows the camera's picture, that the tone reaches the
# null sink, that SnapShot saves the picture with its dated header and "1"
# shows it in the snapshot browser, and that closing both windows saves the
# directory unchanged.
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
# shellcheck source=e2e-session.sh
. "$(dirname "${BASH_SOURCE[0]}")/e2e-session.sh"

readonly kToneHz=1000
readonly kLabel="E2E camera"

e2e_start_servers

step "simulated class 6 camera"
tess_start_devsim "$devsim" "$work/devsim.out" 1 --class 6 --port 0 --tone "$kToneHz" \
    --no-discovery || fail "no simulator"
read -r port _ < <(tess_devsim_ports "$work/devsim.out")
[ -n "$port" ] || fail "the simulator reported no port: $(cat "$work/devsim.out")"

step "program folder with device.inf (device on 127.0.0.1:$port)"
"$makeDirectory" --flat "$work/program/device.inf" "127.0.0.1:$port:$kLabel:6:av" ||
    fail "cannot write device.inf"
cp "$work/program/device.inf" "$work/device.inf.before"
inodeBefore=$(stat -c %i "$work/program/device.inf")

e2e_start_viewer

step "recording the null sink"
e2e_start_recording "$work/sound.raw"

e2e_open_selected

# The first picture needs a login, the negotiation and a frame.
livePicture() {
    e2e_screenshot show &&
        "$probe" picture "$work/show.png" $((kPictureWidth * kScale)) \
            $((kPictureHeight * kScale)) >"$work/picture.txt"
}
tess_wait_for 15 livePicture || fail "no live picture in the picture area: $(cat "$work/picture.txt" 2>/dev/null)"
step "$(cat "$work/picture.txt")"

# Two seconds of sound while the picture runs.
sleep 2
e2e_stop_recording
"$probe" tone "$work/sound.raw" "$kSinkRate" "$kToneHz" || fail "no ${kToneHz} Hz tone on the null sink"

step "SnapShot"
e2e_click_logical 30 185
savedSnapshot() {
    snapshotFile=$(ls "$work/program/Temp/"*.jpg 2>/dev/null | head -n 1)
    [ -n "$snapshotFile" ]
}
tess_wait_for 5 savedSnapshot || fail "no snapshot in $work/program/Temp"
"$probe" snapshot "$snapshotFile" 352 240 || fail "the snapshot is not the camera's picture"

step "\"1\" opens the snapshot browser"
e2e_click_logical 226 11
tess_wait_for 5 e2e_window_by_name Dialog || fail "no \"Dialog\" window after \"1\""
browserWindow=$found
# The picture spans the width from half the height less 100 (logical 50).
browserPicture() {
    import -window "$browserWindow" png:"$work/browser.png" 2>>"$work/import.log" &&
        "$probe" picture "$work/browser.png" $((240 * kScale)) $((160 * kScale)) 0 \
            $((50 * kScale)) >"$work/browser.txt"
}
tess_wait_for 5 browserPicture || fail "no picture in the browser: $(cat "$work/browser.txt")"
timeout 5 xdotool windowfocus --sync "$browserWindow" key Escape

e2e_close

step "directory saved"
[ -f "$work/program/device.inf" ] || fail "device.inf is gone"
# The save writes a new file and renames it over the old one.
[ "$(stat -c %i "$work/program/device.inf")" != "$inodeBefore" ] ||
    fail "device.inf was not written again on closing"
"$probe" directory "$work/device.inf.before" "$work/program/device.inf" ||
    fail "device.inf does not hold the same records"
[ -d "$work/program/Temp" ] || fail "no snapshot folder Temp beside device.inf"
step "PASS"
