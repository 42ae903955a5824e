#!/usr/bin/env bash
# The adapter enumeration as start-up runs it (open, every key from 0 to count-1, keep
# the last), against the stand-in serving zero, one and two adapters, answering later
# than the one-second budget, and not running at all; and IsAdapterAvailable of a
# connected I/O manager when the service enumerates no adapter.
. "$(dirname "$0")/simtest-lib.sh"

echo "sleep 60000" >"$WORK/idle.txt"
IDLE=$(winpath "$WORK/idle.txt")

# enumerate CASE SIM-OPTIONS...: the stand-in with those options, the probe's --enum
# against it; the probe's lines in $WORK/CASE.out, the stand-in's in $WORK/CASE-service.log.
enumerate() {
    local name=$1
    shift
    start_sim "$name-service" "$@" "$IDLE"
    start "$name" "$PROBE" --enum
    expect_status "$name" 0 60
    stop "$name-service"
}

enumerate none --adapters 0
expect_text none.out "count=0"
expect_value none.out root ""
expect_no_text none-service.log "key "

enumerate one --adapters 1 --key0 'SOFTWARE\Velcora\Quendo\Unit One'
expect_text one.out "count=1"
expect_text one.out 'key0=SOFTWARE\Velcora\Quendo\Unit One'
expect_value one.out root 'SOFTWARE\Velcora\Quendo\Unit One'
# The agent offers room for a 260-byte key.
expect_text one-service.log 'key 0 (capacity 260) -> "SOFTWARE\Velcora\Quendo\Unit One"'

enumerate two --adapters 2 --key0 'SOFTWARE\Velcora\Quendo\First' --key1 'SOFTWARE\Velcora\Quendo\Second'
expect_text two.out "count=2"
expect_text two.out 'key0=SOFTWARE\Velcora\Quendo\First'
expect_text two.out 'key1=SOFTWARE\Velcora\Quendo\Second'
expect_value two.out root 'SOFTWARE\Velcora\Quendo\Second'
expect_order two-service.log 'client 2: count -> 2' 'client 2: key 0' 'client 2: key 1' 'client 2 gone'

# Keys later than one second: the count is known, no key is.
enumerate late-key --adapters 1 --enum-key-delay 2000
expect_text late-key.out "count=1"
expect_text late-key.out "key0=(none)"
expect_value late-key.out root ""
expect_text late-key-service.log "(answered after 2000 ms)"

# Every answer late: not even a requester.
enumerate late --adapters 1 --enum-delay 2000
expect_text late.out "enumerator=none"
expect_value late.out root ""

# No service at all.
start absent "$PROBE" --enum
expect_status absent 0 30
expect_text absent.out "enumerator=none"
expect_value absent.out root ""

# A connected I/O manager with no adapter enumerated is not available; with one it is.
start_sim noadapter-service --adapters 0 "$IDLE"
start noadapter "$PROBE" "wait-connected timeout=20000" "wait-available timeout=1500"
expect_status noadapter 1 60
expect_text noadapter.err "no adapter available within 1500 ms"
stop noadapter-service
start_sim adapter-service --adapters 1 "$IDLE"
start adapter "$PROBE" "wait-connected timeout=20000" "wait-available timeout=5000"
expect_status adapter 0 60
stop adapter-service
echo "PASS"
