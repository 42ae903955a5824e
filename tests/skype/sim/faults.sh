#!/usr/bin/env bash
# The stand-in's own faults and statuses: a bad script is refused whole with every line
# number (2), --check, --help and bad options, an expectation not met (1, with its line),
# a notify with nobody attached (1), and a second stand-in while one has its window (3).
source "$(dirname "$0")/skypesim-lib.sh"

script bad <<'S'
attach success
attach sometimes
notify
answer ping PONG
expect-command get call * type timeout=soon
sleep 10
S
start bad "$SKYPESIM" --check "$(winpath "$WORK/bad.txt")"
expect_status bad 2 30
expect_text bad.err "bad.txt: line 2: attach: unknown status 'sometimes'"
expect_text bad.err "bad.txt: line 3: notify: needs a text"
expect_text bad.err "bad.txt: line 4: answer: needs COMMAND => NOTIFICATION"
expect_text bad.err "bad.txt: line 5: expect-command: bad time 'soon' for timeout"
expect_no_text bad.err "line 1:"

script good <<'S'
answer get user * speeddial => USER $1 SPEEDDIAL 12
attach success timeout=100
S
start good "$SKYPESIM" --check "$(winpath "$WORK/good.txt")"
expect_status good 0 30
start help "$SKYPESIM" --help
expect_status help 0 30
expect_text help.out "answer PATTERN => NOTIFICATION"
start option "$SKYPESIM" --frobnicate
expect_status option 2 30
expect_text option.err "SkypeSim: unknown option --frobnicate"
start neither "$SKYPESIM"
expect_status neither 2 30

# An expectation not met, with its line; a notify with no window attached.
script unmet <<'S'
# nothing comes
expect-command ping timeout=300
S
start_skype unmet
expect_status unmet 1 30
expect_text unmet.err "SkypeSim: line 2: expect-command ping timeout=300: no command matching 'ping' within 300 ms"
expect_text unmet.log "] exit 1"
script lonely <<'S'
notify CALL 1 STATUS RINGING
S
start_skype lonely
expect_status lonely 1 30
expect_text lonely.err "line 1: notify CALL 1 STATUS RINGING: no window attached"
script nodiscover <<'S'
attach success timeout=300
S
start_skype nodiscover
expect_status nodiscover 1 30
expect_text nodiscover.err "line 1: attach success timeout=300: no discover within 300 ms"

# A second stand-in while the first has its window (it waits 3 s for an ending one).
script first <<'S'
sleep 8000
S
script second <<'S'
sleep 10
S
start_skype first
start second "$SKYPESIM" --log "$(winpath "$WORK/second.log")" "$(winpath "$WORK/second.txt")"
expect_status second 3 30
expect_text second.err "another"
expect_status first 0 30
echo "faults: ok"
