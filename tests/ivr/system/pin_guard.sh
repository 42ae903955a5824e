#!/usr/bin/env bash
# The PIN against a stranger on the line (real tones), three agent runs: 1. as setup ships
# it (no PIN), a digit of the call-forward menu leads to a PIN entry, where a number, '*'
# alone and 1234 are refused; 2. PIN 2580, PinLockoutMinutes 1: five calls with wrong PINs
# start a lock-out; 3. restarted during it, the right PIN is refused; after its traced and
# logged end the right PIN opens and resets the count. The trace shows no PIN digit.
source "$(dirname "$0")/ivr-lib.sh"

pulse_start
ivr_install
# The shipped values of Config\IVR and its keys, below the test's root.
awk '/^\[/ { keep = index($0, "VoipAdapter\\Config\\IVR") } NR == 1 || keep' "$SOURCE_DIR/data/registry/OrvinAgent.reg" |
    sed "s/SOFTWARE\\\\Orvin\\\\VoipAdapter/${ROOT//\\/\\\\}/" >"$WORK/shipped.reg"
"$WINE_RUN" regedit /S "$(winpath "$WORK/shipped.reg")" </dev/null >/dev/null 2>&1 || fail "regedit refused shipped.reg"
[ "$(registry_dword "$ROOT_KEY\\Config\\IVR" PinLockoutMinutes)" = 15 ] || fail "PinLockoutMinutes is not 15"
feed_start

call() { # call ID SIDE CONTEXT REPORT PARAMETER: started, reported, terminated
    printf 'send 7 0 info=%s buf1=%s\nexpect 7 %s info=0 buf1=%s timeout=90000\nsend 7 1 buf1=%s\n' \
        "$2" "$(buf1 "$1" "$3" 0)" "$4" "$(buf1 "$1" "$5")" "$(buf1 "$1")"
}
agent_up='wait-agent timeout=90000
expect AGENT_EVENT NotifyAgentStatus info=1 timeout=30000
send HW_EVENT NOTIFY_OPEN_DEVICE
sleep 500'
{
    echo "$agent_up"
    call 30 1 1 6 0
    echo "$agent_up"
    for id in 31 32 33 34 35; do call $id $((id % 2)) 0 6 0; done
    echo "$agent_up"
    call 36 1 0 6 0
    echo "sleep 60000"
    call 37 1 0 7 8
    echo "sleep 1000"
} >"$WORK/service.txt"
start_service service "$(winpath "$WORK/service.txt")"

restart_agent() { # restart_agent TRACE-FILE
    shutdown_agent
    reg_add "$TRACE_KEY" /v DebugFile /d "$(winpath "$WORK/$1")"
    start agent "$AGENT"
}
shown_digits() { # shown_digits FILE: the digits the trace shows of keys, PIN and entries
    tr -d '\r' <"$WORK/$1" |
        grep -oE '(DTMF detected: |dtmf = |current block: |Pin collected: |m_Pin = )[0-9]+' |
        grep -oE '[0-9]+$' | sort -u | tr -d '\n'
}

# 1. No PIN: '5' opens the PIN entry, then 5551234, nothing and 1234 are refused.
start agent "$AGENT"
wait_count trace.txt "Starting Playback" 1 60
feed nopin '55551234**1234*'
wait_text trace.txt "IvrManager::ReceiveControlMsg IVR_TERMINATE" 90
expect_count trace.txt "PinNumberMenu: no PIN is set (Pin needs 4 to 8 digits): entry refused" 3
expect_order trace.txt "Pin collected: *******" "Pin collected: " "Pin collected: ****" \
    "IvrManager::SendControlMsg Tye 7, Message 6, Info = 0"
expect_no_text trace.txt "SendControlMsg Tye 7, Message 5"
[ "$(shown_digits trace.txt)" = 5 ] || fail "the trace shows the digits $(shown_digits trace.txt), not only 5"
[ "$(registry_dword "$ROOT_KEY\\Config\\IVR" PinFailedCalls)" = 0 ] || fail "refusals without a PIN were counted"

# 2. Five calls with wrong PINs.
reg_add "$ROOT_KEY\\Config\\IVR" /v Pin /d 2580
reg_add "$ROOT_KEY\\Config\\IVR" /v PinLockoutMinutes /t REG_DWORD /d 1
restart_agent trace2.txt
for n in 1 2 3 4 5; do
    wait_count trace2.txt "Starting Playback" $n 90
    feed wrong$n 1111*2222*3333*
    wait_count trace2.txt "IvrManager::ReceiveControlMsg IVR_TERMINATE" $n 90
done
wait_text trace2.txt "[AG]==>IVR: PIN lock-out begins: 5 failed calls in a row, every PIN refused for 1 min" 30
[ "$(registry_dword "$ROOT_KEY\\Config\\IVR" PinFailedCalls)" = 5 ] || fail "PinFailedCalls is not 5"

# 3. The lock-out outlives a restart; then it ends, and the right PIN opens.
restart_agent trace3.txt
wait_count trace3.txt "Starting Playback" 1 90
feed locked 2580*2580*2580*
wait_text trace3.txt "IvrManager::ReceiveControlMsg IVR_TERMINATE" 90
expect_count trace3.txt "PinNumberMenu: PIN entries are locked out for" 3
wait_text trace3.txt "[AG]==>IVR: PIN lock-out ended" 120
wait_count trace3.txt "Starting Playback" 2 90
feed right 2580*
wait_text trace3.txt "PinGuard: the right PIN: PinFailedCalls = 0" 30
feed voicemail 9
expect_status service 0 60
shutdown_agent
[ "$(registry_dword "$ROOT_KEY\\Config\\IVR" PinFailedCalls)/$(registry_dword "$ROOT_KEY\\Config\\IVR" PinLockedUntil)" = 0/0 ] ||
    fail "PinFailedCalls/PinLockedUntil are not 0/0 after the right PIN"
expect_order trace3.txt "PinGuard: PinFailedCalls = 5, PinLockedUntil = " "locked out for" \
    "PinGuard: PIN lock-out ended" "Pin collected: ****" "PinGuard: the right PIN"
[ -z "$(shown_digits trace2.txt)" ] || fail "the trace shows the digits $(shown_digits trace2.txt) of PIN entries"
[ "$(shown_digits trace3.txt)" = 9 ] || fail "the trace shows the digits $(shown_digits trace3.txt), not only 9"
echo "PASS"
