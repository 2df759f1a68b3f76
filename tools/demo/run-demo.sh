#!/usr/bin/env bash
# Runs the viewer on simulated devices: one of every device class and three
# more cameras for a quad, listed in a fresh program folder under the build
# folder. Ends when the viewer is closed or on Ctrl-C, and ends the simulator
# with it.
#
#   tools/demo/run-demo.sh BUILD_FOLDER      (what `make demo` runs)
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=processes.sh
. "$here/processes.sh"

build=${1:?usage: run-demo.sh BUILD_FOLDER}
build=$(cd "$build" && pwd) || exit 2
viewer=$build/src/shell/tessarine
devsim=$build/tools/devsim/tessarine-devsim
makeDirectory=$build/tools/demo/tessarine-demo-directory
for program in "$viewer" "$devsim" "$makeDirectory"; do
    if [ ! -x "$program" ]; then
        echo "demo: $program is missing; build it first (make demo builds it)" >&2
        exit 1
    fi
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display; run it on a desktop or as: xvfb-run -a make demo" >&2
    exit 1
fi

# One device a line: class, label, audio/video flags, simulator options.
# Labels name the class; the port is added once the simulator has chosen it.
# The first is the one selected when the viewer opens.
devices=(
    "6|Camera 6|av|--size 704x480 --tone 1000"
    "7|Camera 7|v|"
    "8|Camera 8|v|--separate-stream-port"
    "3|Recorder 3|v|"
    "50|Recorder 50|v|"
    "1|Server 1|v|--device-type 2"
    "4|Server 4|v|"
    "6|Camera 6 sweep|av|--tone 0"
    "7|Camera 7 B|v|"
    "8|Camera 8 B|v|"
)

demo=$build/demo
viewerPid=
TESS_DEVSIM_PID=
finish() {
    trap - EXIT INT TERM
    tess_stop "$viewerPid" 5
    tess_stop "$TESS_DEVSIM_PID" 5
    echo "demo: stopped"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The folder is the demo's own: nothing of an earlier run is kept. The viewer
# keeps device.inf and Temp/ beside its program file, so it runs from a copy.
rm -rf "$demo"
mkdir -p "$demo"
cp "$viewer" "$demo/tessarine"

config=$demo/devices.conf
echo "# written by tools/demo/run-demo.sh; every device on a free port" >"$config"
for line in "${devices[@]}"; do
    IFS='|' read -r class label av options <<<"$line"
    echo "--class $class --port 0 $options" >>"$config"
done

# The LAN search finds the simulated devices through the discovery responder;
# when its port is taken (another simulator runs) the demo goes on without it.
output=$demo/devsim.out
if ! tess_start_devsim "$devsim" "$output" "${#devices[@]}" --config "$config" 2>/dev/null; then
    echo "demo: no discovery responder (port 7777 in use?); Search will find nothing"
    tess_start_devsim "$devsim" "$output" "${#devices[@]}" --config "$config" --no-discovery ||
        exit 1
fi
mapfile -t ports < <(tess_devsim_ports "$output")

entries=()
echo
echo "Simulated devices (login admin / velum):"
for i in "${!devices[@]}"; do
    IFS='|' read -r class label av options <<<"${devices[$i]}"
    read -r port streamPort <<<"${ports[$i]}"
    entries+=("127.0.0.1:$port:$label $port:$class:$av")
    streams=
    [ "$streamPort" != "$port" ] && streams=" (streams on $streamPort)"
    printf '  class %-3s %-20s 127.0.0.1:%s%s\n' "$class" "$label $port" "$port" "$streams"
done
sed -n 's/^discovery on /  LAN search answered on /p' "$output"
"$makeDirectory" "$demo/device.inf" "${entries[@]}" >/dev/null || exit 1

echo
echo "Program folder: $demo (device.inf, Temp/ for snapshots)"
echo "Double-click a device to watch it; \"Quad\" shows four cameras, \"Tour\" each device in turn."
echo "\"Search\" finds the simulated devices on loopback; double-click one to add it."
echo "Close the viewer's main window, or press Ctrl-C here, to stop everything."
echo

# Search stays on loopback: the request goes to 127.255.255.255, where the
# simulator's responder listens, and never onto a real network.
TESSARINE_SEARCH_INTERFACES=lo "$demo/tessarine" &
viewerPid=$!
wait "$viewerPid"
status=$?
viewerPid=
echo "demo: the viewer ended (status $status)"
