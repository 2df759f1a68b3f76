#!/usr/bin/env bash
# The quad end to end: four simulated class 7 cameras on 127.0.0.1 listed as
# a Quad, the real program under a private X server. Double-clicks the Quad,
# checks four moving pictures in the four quadrants, taps the fourth pane
# twice to show it alone, calls a preset with a button and aims the camera
# with a tap on its picture, and returns to the quad with 4Device. What the
# devices received is read from the simulator's event log.
#
#   quad-e2e.sh VIEWER DEVSIM DIRECTORY_TOOL PROBE
#
# Exits 0 on success, 1 on a failure (with what was seen), 77 when a needed
# program is not installed. KEEP_E2E_FOLDER=1 keeps the work folder.
set -u

viewer=${1:?usage: quad-e2e.sh VIEWER DEVSIM DIRECTORY_TOOL PROBE}
devsim=${2:?}
makeDirectory=${3:?}
probe=${4:?}
# shellcheck source=e2e-session.sh
. "$(dirname "${BASH_SOURCE[0]}")/e2e-session.sh"

readonly kCameras=4
# A quad pane on screen, in screen pixels.
readonly kPaneWidth=$((120 * kScale)) kPaneHeight=$((82 * kScale))

e2e_start_servers

step "four simulated class 7 cameras"
for _ in $(seq "$kCameras"); do echo "--class 7 --port 0 --fps 10"; done >"$work/cameras.conf"
tess_start_devsim "$devsim" "$work/devsim.out" "$kCameras" --config "$work/cameras.conf" \
    --log "$work/events.jsonl" --no-discovery || fail "no simulator"
mapfile -t ports < <(tess_devsim_ports "$work/devsim.out" | cut -d' ' -f1)
[ "${#ports[@]}" -eq "$kCameras" ] || fail "the simulator reported ${#ports[@]} ports"

step "program folder with a Quad of the cameras (ports ${ports[*]})"
devices=()
for i in "${!ports[@]}"; do devices+=("127.0.0.1:${ports[i]}:Camera $((i + 1)):7:v"); done
"$makeDirectory" --select Quad "$work/program/device.inf" "${devices[@]}" >/dev/null ||
    fail "cannot write device.inf"

# received PANE TEXT: how many requests and datagrams the camera of quad pane
# PANE (0 ... 3) received that hold TEXT.
received() {
    grep -F "\"device\":\"127.0.0.1:${ports[$1]}\"" "$work/events.jsonl" | grep -cF "$2"
}
# receivedAtLeast PANE TEXT COUNT
receivedAtLeast() { [ "$(received "$1" "$2")" -ge "$3" ]; }

# paneOrigin PANE: "X Y" of a quad pane on screen.
paneOrigin() { echo $(($1 % 2 * kPaneWidth)) $(($1 / 2 * kPaneHeight)); }

fourLivePictures() {
    e2e_screenshot quad || return 125
    local pane x y
    for pane in 0 1 2 3; do
        read -r x y < <(paneOrigin "$pane")
        "$probe" picture "$work/quad.png" "$kPaneWidth" "$kPaneHeight" "$x" "$y" \
            >"$work/picture-$pane.txt" || return 1
    done
}

e2e_start_viewer
e2e_open_selected

tess_wait_for 15 fourLivePictures || fail "not four live pictures: $(cat "$work"/picture-*.txt)"
step "four pictures: $(cat "$work"/picture-*.txt | tr '\n' ' ')"
cp "$work/quad.png" "$work/before.png"
sleep 0.5
e2e_screenshot quad || fail "no screenshot"
for pane in 0 1 2 3; do
    read -r x y < <(paneOrigin "$pane")
    "$probe" moved "$work/before.png" "$work/quad.png" "$x" "$y" "$kPaneWidth" "$kPaneHeight" ||
        fail "the picture of pane $pane does not move"
done

step "two taps on the fourth pane show it alone"
e2e_click_logical 180 120
sleep 0.4
e2e_click_logical 180 120
# The other panes stop: their cameras are told the connection closes.
for pane in 0 1 2; do
    tess_wait_for 5 receivedAtLeast "$pane" "Connection: Close" 1 ||
        fail "the camera of pane $pane was not closed"
done
[ "$(received 3 "Connection: Close")" -eq 0 ] || fail "the camera shown alone was closed"
alonePicture() {
    e2e_screenshot alone &&
        "$probe" picture "$work/alone.png" $((kPictureWidth * kScale)) \
            $((kPictureHeight * kScale)) >"$work/picture-alone.txt"
}
tess_wait_for 5 alonePicture || fail "no picture alone: $(cat "$work/picture-alone.txt")"

step "Ch3 calls the camera's third preset; a tap aims it"
# The Preset page of a camera: Ch3 at (45, 200, 18, 18).
e2e_click_logical 54 209
tess_wait_for 5 receivedAtLeast 3 "RS485Cmd.cgi" 1 || fail "no PTZ request reached the camera"
e2e_click_logical 60 40
tess_wait_for 5 receivedAtLeast 3 "SetCameraInfo.cgi?LocationP=" 1 ||
    fail "the tap did not aim the camera"

step "the PTZ page's Up button"
# The page bar runs along the bottom of the panel, "Preset" first, "PTZ" next.
e2e_click_logical 62 256
sleep 0.3
e2e_click_logical 209 189
tess_wait_for 5 receivedAtLeast 3 "RS485Cmd.cgi" 2 || fail "Up did not reach the camera"

step "4Device returns to the quad"
e2e_click_logical 179 184
for pane in 0 1 2; do
    tess_wait_for 5 receivedAtLeast "$pane" "/Login.cgi" 2 ||
        fail "the camera of pane $pane was not started again"
done
tess_wait_for 15 fourLivePictures || fail "not four live pictures again: $(cat "$work"/picture-*.txt)"

e2e_close
step "PASS"
