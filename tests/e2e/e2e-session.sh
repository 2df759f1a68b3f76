# What every end-to-end test of the real program shares: a work folder, a
# private X server and sound server, the viewer started on a program folder,
# its windows found by name and its rows found on screenshots, and an orderly
# end of everything started. Sourced by the test scripts, after they set
# `viewer`, `devsim` and `probe`; bash only. A script that defines
# e2e_extra_cleanup has it run on the way out too.
#
# A needed program that is not installed ends the test with 77 (skipped).
# Every wait is bounded; KEEP_E2E_FOLDER=1 keeps the work folder.

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
readonly kSinkRate=8000
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
    if declare -F e2e_extra_cleanup >/dev/null; then e2e_extra_cleanup; fi
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
trap 'echo "FAIL: interrupted by a signal"; exit 1' INT TERM

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
# In a sanitizer build, leaks of the system's session-bus library are not the viewer's.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan.supp"

# e2e_start_servers: the X server and the sound server with a null sink
# "tess_null" at kSinkRate.
e2e_start_servers() {
    step "X server"
    # -displayfd: the server picks a free display itself and reports it once ready.
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfbPid=$!
    exec 3>&-
    tess_wait_for 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    export DISPLAY=:$(tr -dc 0-9 <"$work/display")

    step "sound server with a null sink"
    local socket=$work/runtime/pulse-native
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
    _e2e_sound_server_up() {
        kill -0 "$pulsePid" 2>/dev/null || return 125
        [ -S "$socket" ] && timeout 2 pactl info >/dev/null 2>&1
    }
    tess_wait_for 10 _e2e_sound_server_up || fail "pulseaudio did not start: $(cat "$work/pulse.log")"
}

# e2e_start_viewer: the viewer copied into $work/program (beside the
# device.inf the test wrote there) and started; sets mainWindow.
e2e_start_viewer() {
    step "viewer"
    cp "$viewer" "$work/program/tessarine"
    TESSARINE_SCALE=$kScale QT_QPA_PLATFORM=xcb "$work/program/tessarine" >"$work/viewer.log" 2>&1 &
    viewerPid=$!
    tess_wait_for 15 e2e_window_by_name Tessarine || fail "no main window \"Tessarine\""
    mainWindow=$found
    step "main window $mainWindow: $(xdotool getwindowgeometry "$mainWindow" | tr '\n' ' ')"
}

# e2e_window_by_name NAME: sets `found` to the id of the one visible window
# whose name is NAME.
e2e_window_by_name() {
    kill -0 "$viewerPid" 2>/dev/null || return 125
    found=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$found" ]
}

# e2e_open_selected: double-clicks the selected row of the main window (the
# directory's saved selection, found on a screenshot, which keeps the test
# free of the tree's fonts and margins) and waits for the "Show" window;
# sets showWindow.
e2e_open_selected() {
    _e2e_selected_row() {
        kill -0 "$viewerPid" 2>/dev/null || return 125
        import -window "$mainWindow" png:"$work/main.png" 2>>"$work/import.log" &&
            "$probe" selected-row "$work/main.png" >"$work/row.txt"
    }
    tess_wait_for 5 _e2e_selected_row || fail "no selected row in the main window: $(cat "$work/row.txt")"
    local rowX rowY
    read -r rowX rowY <"$work/row.txt"
    step "double-click on the selected row at ($rowX, $rowY)"
    xdotool mousemove --window "$mainWindow" "$rowX" "$rowY" click --repeat 2 --delay 80 1
    tess_wait_for 10 e2e_window_by_name Show || fail "no \"Show\" window after the double-click"
    showWindow=$found
    step "live view $showWindow: $(xdotool getwindowgeometry "$showWindow" | tr '\n' ' ')"
}

# e2e_screenshot NAME: the "Show" window into $work/NAME.png.
e2e_screenshot() {
    kill -0 "$viewerPid" 2>/dev/null || return 125
    import -window "$showWindow" png:"$work/$1.png" 2>>"$work/import.log"
}

# e2e_click_logical X Y: a click at a logical point of the "Show" window.
e2e_click_logical() {
    xdotool mousemove --window "$showWindow" $(($1 * kScale)) $(($2 * kScale)) click 1
}

# e2e_start_recording FILE: records the null sink's monitor (16-bit mono at
# kSinkRate) into FILE until e2e_stop_recording; returns once it records.
e2e_start_recording() {
    local file=$1
    parec --device=tess_null.monitor --rate=$kSinkRate --channels=1 --format=s16le --raw \
        --latency-msec=20 >"$file" 2>"$work/parec.log" &
    recorderPid=$!
    _e2e_recording() {
        kill -0 "$recorderPid" 2>/dev/null || return 125
        [ -s "$1" ]
    }
    tess_wait_for 10 _e2e_recording "$file" || fail "parec records nothing: $(cat "$work/parec.log")"
}

e2e_stop_recording() {
    tess_stop "$recorderPid"
    recorderPid=
}

# e2e_close_live_view: Escape closes the live view; the main window stays.
e2e_close_live_view() {
    step "closing the live view"
    _e2e_gone() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
    timeout 5 xdotool windowfocus --sync "$showWindow" key Escape
    tess_wait_for 5 _e2e_gone Show || fail "Escape did not close the live view"
    kill -0 "$viewerPid" 2>/dev/null || fail "the viewer ended with the live view"
}

# e2e_close: Escape closes the live view; SIGTERM then ends the program as
# closing its main window does, saving the directory.
e2e_close() {
    e2e_close_live_view
    e2e_end_viewer
}

# e2e_end_viewer: SIGTERM ends the program as closing its main window does.
e2e_end_viewer() {
    step "closing the main window (SIGTERM)"
    _e2e_viewer_ended() { ! kill -0 "$viewerPid" 2>/dev/null; }
    kill -TERM "$viewerPid"
    tess_wait_for 10 _e2e_viewer_ended || fail "the viewer did not end on SIGTERM"
    wait "$viewerPid"
    local viewerStatus=$?
    viewerPid=
    [ "$viewerStatus" -eq 0 ] || fail "the viewer ended with status $viewerStatus"
}
