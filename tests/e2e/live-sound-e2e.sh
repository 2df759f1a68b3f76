#!/usr/bin/env bash
# Live sound of the real program end to end, counted for clicks: a simulated
# class 6 camera with a steady 500 Hz tone (amplitude 8000) at 10 pictures a
# second on 127.0.0.1, a private X server and a private sound server with a
# null sink whose monitor is recorded from before the first sound. The device
# is opened from the main window for some seconds of live view, and the live
# view closed with Escape. The recording must hold one stretch of tone that
# starts with a fade-in, ends with a fade-out (the stopped pane's sound) and
# has not a single dropout (4 or more samples below 300 in magnitude) from
# its first sound on: the start of a live view is clean.
#
#   live-sound-e2e.sh VIEWER DEVSIM DIRECTORY_TOOL PROBE
#
# Exits 0 on success, 1 on a failure (with what was heard), 77 when a needed
# program is not installed. Every wait is bounded; every process it starts is
# ended on the way out. KEEP_E2E_FOLDER=1 keeps the work folder.
set -u

viewer=${1:?usage: live-sound-e2e.sh VIEWER DEVSIM DIRECTORY_TOOL PROBE}
devsim=${2:?}
makeDirectory=${3:?}
probe=${4:?}
# shellcheck source=e2e-session.sh
. "$(dirname "${BASH_SOURCE[0]}")/e2e-session.sh"

readonly kToneHz=500
readonly kLabel="Sound camera"
readonly kListenSeconds=8

e2e_start_servers

step "simulated class 6 camera with a ${kToneHz} Hz tone"
tess_start_devsim "$devsim" "$work/devsim.out" 1 --class 6 --port 0 --fps 10 \
    --tone "$kToneHz" --no-discovery || fail "no simulator"
read -r port _ < <(tess_devsim_ports "$work/devsim.out")
[ -n "$port" ] || fail "the simulator reported no port: $(cat "$work/devsim.out")"
"$makeDirectory" --flat "$work/program/device.inf" "127.0.0.1:$port:$kLabel:6:av" ||
    fail "cannot write device.inf"

e2e_start_viewer

step "recording the null sink from before the first sound"
e2e_start_recording "$work/sound.raw"

livePicture() {
    e2e_screenshot show &&
        "$probe" picture "$work/show.png" $((kPictureWidth * kScale)) \
            $((kPictureHeight * kScale)) >"$work/picture.txt"
}
e2e_open_selected
tess_wait_for 15 livePicture || fail "no live picture in the live view"
step "live; listening for $kListenSeconds s"
sleep "$kListenSeconds"
e2e_close_live_view
# The pane's sound fades out as it stops.
sleep 1
e2e_stop_recording

step "counting clicks"
"$probe" clicks "$work/sound.raw" "$kSinkRate" 1 $((kListenSeconds - 2)) ||
    fail "the live sound is not clean from its first sound to its end"

e2e_end_viewer
step "PASS"
