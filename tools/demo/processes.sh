# Shell functions shared by the demo and the end-to-end test: start the device
# simulator and learn its ports, and end a started process by its id with a
# bounded wait. Sourced, not run; bash only.

# tess_stop PID [SECONDS]: SIGTERM, up to SECONDS (3) to end, then SIGKILL.
# Ends only the process it is given; an id that is gone already is no error.
tess_stop() {
    local pid=$1 limit=${2:-3} waited=0
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    while kill -0 "$pid" 2>/dev/null; do
        if [ "$waited" -ge $((limit * 10)) ]; then
            kill -KILL "$pid" 2>/dev/null
            break
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    wait "$pid" 2>/dev/null
    return 0
}

# tess_wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds;
# false when SECONDS have passed, or at once when COMMAND exits with 125
# (what it waits for can no longer happen).
tess_wait_for() {
    local limit=$1 tries=0 status
    shift
    while :; do
        "$@"
        status=$?
        [ "$status" -eq 0 ] && return 0
        [ "$status" -eq 125 ] && return 1
        [ "$tries" -ge $((limit * 10)) ] && return 1
        sleep 0.1
        tries=$((tries + 1))
    done
}

# tess_start_devsim DEVSIM OUTPUT COUNT ARGS...: starts the simulator DEVSIM
# with ARGS in the background, its standard output to OUTPUT and its errors
# to OUTPUT.err, and waits up to 10 s until it reports COUNT devices. Sets
# TESS_DEVSIM_PID. False (with the simulator's errors on stderr) when it ends
# or does not report in time; a simulator that is still running then is ended.
tess_start_devsim() {
    local devsim=$1 output=$2 count=$3
    shift 3
    "$devsim" "$@" >"$output" 2>"$output.err" &
    TESS_DEVSIM_PID=$!
    if ! tess_wait_for 10 _tess_devsim_ready "$output" "$count"; then
        tess_stop "$TESS_DEVSIM_PID"
        TESS_DEVSIM_PID=
        echo "the device simulator did not start:" >&2
        cat "$output.err" >&2
        return 1
    fi
}

_tess_devsim_ready() {
    kill -0 "$TESS_DEVSIM_PID" 2>/dev/null || return 125
    [ "$(grep -c '^device class ' "$1")" -ge "$2" ]
}

# tess_devsim_ports OUTPUT: "PORT STREAM_PORT" for every device the simulator
# reported, one a line, in the order of its configuration; the stream port is
# the CGI port unless the device streams on a port of its own.
tess_devsim_ports() {
    awk '/^device class / { if (port) print port, stream; sub(/.*:/, ""); port = stream = $0 }
         /^  streams on / { sub(/.*:/, ""); stream = $0 }
         END { if (port) print port, stream }' "$1"
}
