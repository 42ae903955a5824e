# Sourced by scripts that start a server with a Unix socket (the private PulseAudio
# servers): a short private runtime folder for it under /tmp, since a socket's path must
# stay under 108 bytes and a folder under the build folder passes that wherever the
# repository lies deep. The folder is made with mktemp -d (mode 700) and removed at the
# end: by the script's own clean-up (runtime_dir_remove), or, when the script is killed
# outright, by a watcher that outlives it, ends the PulseAudio server whose pid file lies
# there (DIR/pulse/pid) and removes the folder.

# runtime_dir_make: sets RUNTIME_DIR to a new folder; returns 1 when none can be made.
runtime_dir_make() {
    RUNTIME_DIR=$(mktemp -d /tmp/orvin-run.XXXXXXXX) || return 1
    # The watcher: a session of its own, none of our streams (a test runner waiting for
    # them to close would wait for it), gone once the folder is gone.
    (setsid bash -c '
        dir=$1 owner=$2
        while [ -d "$dir" ] && kill -0 "$owner" 2>/dev/null; do
            sleep 1
        done
        [ -d "$dir" ] || exit 0
        if [ -f "$dir/pulse/pid" ]; then
            kill -9 "$(cat "$dir/pulse/pid")" 2>/dev/null
        fi
        rm -rf "$dir"' orvin-runtime-watch "$RUNTIME_DIR" "$$" </dev/null >/dev/null 2>&1 &)
}

# runtime_dir_remove: removes the folder (its server ended first); the watcher then ends.
runtime_dir_remove() {
    if [ -n "${RUNTIME_DIR:-}" ] && [ -d "$RUNTIME_DIR" ]; then
        rm -rf "$RUNTIME_DIR"
    fi
}

# runtime_dir_stop_pulse: ends the PulseAudio server of the folder, waiting up to 5 s.
runtime_dir_stop_pulse() {
    local pid i
    [ -n "${RUNTIME_DIR:-}" ] && [ -f "$RUNTIME_DIR/pulse/pid" ] || return 0
    pid=$(cat "$RUNTIME_DIR/pulse/pid")
    kill "$pid" 2>/dev/null || return 0
    for i in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
}
