# Shared by the scripts that drive the real engine; sourced, not run.

# Builds the agent and its Linux engine pieces and installs the tree into $1.
install_tree() {
    bash scripts/install-deps.sh
    cmake --preset default >/dev/null
    cmake --build --preset default --target kalto-obs kalto_engine win-capture win-wasapi "${@:2}"
    cmake --install build/default --prefix "$1" >/dev/null
}

# Starts Xvfb on a free display of size $1 (WIDTHxHEIGHT) showing a moving
# test pattern in the window "Mire" (or the lavfi graph $2); sets DISPLAY and
# `xvfb_pid`, appends its clients to `pids`.
start_desktop() {
    exec 5< <(Xvfb -displayfd 1 -screen 0 "$1x24" -br -nolisten tcp -noreset 2>/dev/null)
    xvfb_pid=$!
    local number
    read -r -t 20 number <&5 || {
        echo "Xvfb did not start" >&2
        return 1
    }
    export DISPLAY=":$number"
    ffplay -loglevel quiet -f lavfi -i "${2:-testsrc=size=$1:rate=30}" -window_title Mire \
        -noborder -left 0 -top 0 -an &
    pids+=($!)
    for _ in $(seq 100); do xwininfo -name Mire >/dev/null 2>&1 && break; sleep 0.1; done
}

# SIGTERM to the processes given, then SIGKILL for what is still there 5 s later.
end_processes() {
    local p alive
    for p; do kill "$p" 2>/dev/null || true; done
    for _ in $(seq 50); do
        alive=0
        for p; do kill -0 "$p" 2>/dev/null && alive=1; done
        [ "$alive" -eq 1 ] || return 0
        sleep 0.1
    done
    for p; do kill -9 "$p" 2>/dev/null || true; done
}

# The X clients and other children first, then the X server: ffplay can hang in
# its own exit when its server goes first.
stop_children() {
    end_processes "${pids[@]}"
    [ -z "${xvfb_pid:-}" ] || end_processes "$xvfb_pid"
    [ -z "${sound_runtime:-}" ] || rm -rf "$sound_runtime"
}

# Starts a sound server of its own (runtime folder under /tmp) whose only output
# plays a 1000 Hz sine, so desktop sound has something to record; appends it to `pids`.
start_sound_server() {
    sound_runtime=$(mktemp -d /tmp/kalto-pulse-XXXXXX)
    export XDG_RUNTIME_DIR=$sound_runtime
    unset PULSE_SERVER
    pulseaudio --daemonize=no --exit-idle-time=-1 -n \
        --load="module-null-sink sink_name=kalto_null" --load=module-native-protocol-unix \
        --load="module-sine sink=kalto_null frequency=1000" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && return 0; sleep 0.1; done
    echo "the sound server did not start" >&2
    return 1
}
