#!/usr/bin/env bash
# Takes the README's screenshots with the real program on simulated devices,
# under a private X server at scale 2: the main window with a directory of
# recorders, servers and cameras, and the Quad of four cameras it opens.
#
#   docs/take-screenshots.sh BUILD_FOLDER
#
# Writes docs/screenshots/main-window.png and docs/screenshots/quad.png.
set -u

docs=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "${1:?usage: take-screenshots.sh BUILD_FOLDER}" && pwd) || exit 2
viewer=$build/src/shell/tessarine
devsim=$build/tools/devsim/tessarine-devsim
makeDirectory=$build/tools/demo/tessarine-demo-directory
probe=$build/tests/e2e/tessarine-e2e-probe
# shellcheck source=../tests/e2e/e2e-session.sh
. "$docs/../tests/e2e/e2e-session.sh"

e2e_start_servers

step "simulated devices"
# class|label|simulator options; the first four cameras make the Quad.
devices=(
    "6|Gate|--size 704x480"
    "7|Yard|"
    "8|Loading bay|"
    "7|Office|"
    "3|Recorder|"
    "1|Video server|--device-type 2"
)
for line in "${devices[@]}"; do
    IFS='|' read -r class label options <<<"$line"
    echo "--class $class --port 0 --fps 10 $options"
done >"$work/devices.conf"
tess_start_devsim "$devsim" "$work/devsim.out" "${#devices[@]}" --config "$work/devices.conf" \
    --no-discovery || fail "no simulator"
mapfile -t ports < <(tess_devsim_ports "$work/devsim.out" | cut -d' ' -f1)
entries=()
for i in "${!devices[@]}"; do
    IFS='|' read -r class label options <<<"${devices[$i]}"
    entries+=("127.0.0.1:${ports[$i]}:$label:$class:v")
done
"$makeDirectory" --select Quad "$work/program/device.inf" "${entries[@]}" >/dev/null ||
    fail "cannot write device.inf"

e2e_start_viewer
# The cameras' folder opened, the Quad selected again (the last entry but one).
timeout 5 xdotool windowfocus --sync "$mainWindow" key Up Up Up Right End Up
sleep 1
import -window "$mainWindow" png:"$docs/screenshots/main-window.png" || fail "no main window picture"

e2e_open_selected
# Four pictures in, drawn a few times over.
_four_pictures() {
    e2e_screenshot quad || return 125
    local pane
    for pane in 0 1 2 3; do
        "$probe" picture "$work/quad.png" 240 164 $((pane % 2 * 240)) $((pane / 2 * 164)) \
            >/dev/null || return 1
    done
}
tess_wait_for 15 _four_pictures || fail "the quad shows no four pictures"
sleep 2
e2e_screenshot quad || fail "no quad picture"
cp "$work/quad.png" "$docs/screenshots/quad.png"
e2e_close
step "written: $docs/screenshots/main-window.png, $docs/screenshots/quad.png"
