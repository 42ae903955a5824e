# Sourced by the benchmark drivers: the wine server of the build's prefix, the CPU time
# of a process, bounded waits, and Windows paths. Needs PREFIX.

# The wine server of this build's prefix, if one runs: it works in a folder named after
# the prefix's device and inode.
prefix_server() {
    local pid id
    id=$(printf 'server-%s-%x' "$(stat -c %D "$PREFIX")" "$(stat -c %i "$PREFIX")")
    for pid in $(pgrep -x 'wineserver(64)?' || true); do
        if [ "$(basename "$(readlink "/proc/$pid/cwd" 2>/dev/null)")" = "$id" ]; then
            echo "$pid"
            return
        fi
    done
}

# Jiffies of user and system time of a process (the fields after the command name).
cpu_ticks() {
    sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | awk '{ print $12 + $13 }'
}

# wait_pid PID SECONDS: sets STATUS to its exit status; killed (status 124) when it runs longer.
wait_pid() {
    local deadline=$((SECONDS + $2))
    while kill -0 "$1" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        sleep 0.2
    done
    if kill -0 "$1" 2>/dev/null; then
        kill -9 "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
        STATUS=124
        return
    fi
    STATUS=0
    wait "$1" || STATUS=$?
}

winpath() {
    printf 'Z:%s' "${1//\//\\}"
}

