#!/usr/bin/env bash
# The adapter unplugged and plugged back, for every softphone type: one row of the table
# below per type, the agent (TessaroHost.exe for Tessaro) with the adapter stand-in and the
# softphone's stand-in, both fed line by line, and a sound device named as the adapter's.
# The adapter is closed and opened again (NOTIFY_CLOSE_DEVICE, NOTIFY_OPEN_DEVICE) while
# idle and again while a call rings; after each return the service hears the type's
# statuses, the softphone gets the adapter's audio devices again (EyeBeam is given none,
# the answering machine has no softphone), and a whole call works: it rings, the handset
# answers, the handset hangs up. Then EyeBeam and QQ hang: the agent's sends give up and
# the service still hears the adapter's next close at once.     replug.sh [ROW...]
source "$(dirname "$0")/softphones-lib.sh"
source "$(dirname "$0")/../teltel/teltel-lib.sh"
source "$(dirname "$0")/../../lib/pulse-lib.sh"
BASE=$WORK DEV='Orvin Virtual Audio Device' TEXT=ThinkItSim/ThinkItSim.exe ID=0
A='answer get call * type => CALL $1 TYPE INCOMING_PSTN;answer get call * partner_handle => CALL $1 PARTNER_HANDLE bob;answer get call * pstn_number => CALL $1 PSTN_NUMBER 5550100;answer protocol 5 => PROTOCOL 5;answer ping => PONG'
declare -A RECORD=([skype]=000000c021000000 [thinkit]=0000005c93000000 [tessaro]=00c00000b8000000
    [teltel]=$TELTEL_RECORD [eyebeam]=0000c0005f000000 [qq]=0000003055000000 [tam]=00c00000b8000000)
declare -A PHONE=([skype]=SkypeSim/SkypeSim.exe [thinkit]=$TEXT [tessaro]=ThinkItSim/TessaroSim.exe
    [teltel]=TelTelSim/TelTelSim.exe [eyebeam]=EyeBeamSim/EyeBeamSim.exe [qq]=QQSim/QQSim.exe)
declare -A SETUP=([skype]="$A;answer get userstatus => USERSTATUS ONLINE;answer search friends => USERS"
    [thinkit]=$A [tessaro]="$A;answer search friends => USERS alice;answer get user * onlinestatus => USER \$1 ONLINESTATUS ONLINE"
    [teltel]=ready)
declare -A ATTACH=([skype]="attach success" [thinkit]="attach success" [tessaro]="attach success" [eyebeam]=attach [qq]=attach)
# Statuses heard while the adapter opens, then once the softphone is connected.
declare -A OPENED=([teltel]=10 [qq]=10 [tam]="6 1") CONNECTED=([skype]=1 [thinkit]=1 [tessaro]=1 [teltel]=1 [eyebeam]=1 [qq]=1)
S='expect-command "set audio_out '
declare -A GIVEBACK=([skype]="$S\"" [thinkit]="$S\"" [tessaro]="$S\"" [teltel]="expect TelTel_UnregisterAudioDevices" [qq]="expect 10 6:u32:0")
declare -A DEVICES=([skype]="$S$DEV\"" [thinkit]="$S$DEV\"" [tessaro]="$S$DEV\"" [qq]="expect 10 5:textz:\"$DEV\" 6:any timeout=5000"
    [teltel]="expect TelTel_RegisterAudioDevices2 \"$DEV\" \"$DEV\" \"$DEV\" timeout=10000")
declare -A CALLID=([teltel]=1 [eyebeam]=1000)
R='notify CALL @ STATUS RINGING' I='expect-command "SET CALL @ Status inprogress";notify CALL @ STATUS INPROGRESS'
F='expect-command "SET CALL @ Status finished";notify CALL @ STATUS FINISHED'
declare -A RING=([skype]=$R [thinkit]=$R [tessaro]=$R [teltel]="ring-start value=@" [eyebeam]="send 0 4" [qq]="send 19 8:byte:2 9:u32:@ 10:textz:alice")
declare -A ANSWER=([skype]=$I [thinkit]=$I [tessaro]=$I [teltel]="expect TelTel_AnswerOrCall;ring-stop value=@"
    [eyebeam]="expect 0 5;send 0 5" [qq]="expect 12 7:byte:145;send 19 8:byte:4 9:u32:@")
declare -A HANGUP=([skype]=$F [thinkit]=$F [tessaro]=$F [teltel]="expect TelTel_HangupOrReject;call-end value=@"
    [eyebeam]="expect 0 9;send 0 9" [qq]="expect 12 7:byte:146;send 19 8:byte:6 9:u32:@")
declare -A STATUSES=([skype]="0 1 2 1 2 1 2 3" [thinkit]="0 1 2 1 2 1 2 3" [tessaro]="0 1 2 1 2 1 2 3"
    [teltel]="0 10 1 2 10 1 2 10 1 2 3" [eyebeam]="0 1 2 1 2 1 2 2 3" [qq]="0 10 1 2 10 1 2 10 1 2 2 3" [tam]="0 6 1 6 1 6 1 3")

# lines NAME "CMD;CMD...": NAME runs each command (@ is the call's id) in turn.
lines() {
    local line
    IFS=';' read -ra list <<<"${2//@/$ID}"
    for line in "${list[@]}"; do do_line "$1" "$line"; done
}
sim() { lines service "$1"; }
phone() { [ -z "${PHONE[$ROW]:-}" ] || lines phone "$1"; }
statuses() { for s in $1; do sim "expect AGENT_EVENT NotifyAgentStatus info=$s timeout=20000"; done; }
# connected: the softphone answers the agent's newest discover (TelTel's readiness is
# polled instead), takes the adapter's devices, and the service hears it connected.
connected() {
    if [ -n "${ATTACH[$ROW]:-}" ]; then
        local deadline=$((SECONDS + 30))
        until [ "$(count_text phone.log '] discover from ')" -gt "$DISCOVERS" ]; do
            [ $SECONDS -lt $deadline ] || fail "$ROW: the agent did not discover its softphone"
            sleep 0.1
        done
        DISCOVERS=$((DISCOVERS + 1))
        phone "${ATTACH[$ROW]}"
    fi
    phone "${DEVICES[$ROW]:-}"
    statuses "${CONNECTED[$ROW]:-}"
}
replug() {
    sim "send HW_EVENT NOTIFY_CLOSE_DEVICE"
    [ "$ROW" = tam ] || sim "expect AGENT_EVENT NotifyAgentStatus info=2"
    phone "${GIVEBACK[$ROW]:-}"
    sim "send HW_EVENT NOTIFY_OPEN_DEVICE"
    statuses "${OPENED[$ROW]:-}"
    sim "expect HW_EVENT 6 info=0"
    connected
}
ring() {
    [ -n "${PHONE[$ROW]:-}" ] || return 1
    ID=${CALLID[$ROW]:-$1}
    phone "${RING[$ROW]}"
    sim "expect CALL_EVENT CALL_STATUS_RINGING info=$ID timeout=20000"
}
call() {
    ring "$1" || return 0
    sim "send HW_EVENT NOTIFY_HOOK_STATE info=0;send CALL_EVENT CALL_STATUS_INPROGRESS info=$ID"
    phone "${ANSWER[$ROW]}"
    sim "expect CALL_EVENT CALL_STATUS_INPROGRESS info=$ID timeout=20000"
    sim "send CALL_EVENT CALL_STATUS_FINISHED info=$ID"
    phone "${HANGUP[$ROW]}"
    sim "expect CALL_EVENT CALL_STATUS_FINISHED info=$ID timeout=20000;send HW_EVENT NOTIFY_HOOK_STATE info=1"
}

pulse_start
pa pactl load-module module-null-sink sink_name=orvin_adapter "sink_properties=device.description=\"${DEV// /\\ }\"" \
    >/dev/null || fail "no sound device named as the adapter's"
install_agent replug "$TELTEL_LIBRARY"
for ROW in ${@:-skype thinkit tessaro teltel eyebeam qq tam}; do
    use_work "$BASE/$ROW"
    agent_registry "${RECORD[$ROW]}"
    start_fed service "$SIM" --log "$(winpath "$WORK/service.log")" --key0 "$ROOT" --interactive
    wait_text service.log "] serving " 30
    DISCOVERS=0
    if [ -n "${PHONE[$ROW]:-}" ]; then
        [ "$ROW" = teltel ] && args=(--pipe "$ORVIN_TELTELSIM_PIPE") ready="] serving " ||
            args=() ready="] window of class "
        start_fed phone "$BUILD_DIR/tools/${PHONE[$ROW]}" "${args[@]}" --log "$(winpath "$WORK/phone.log")" --interactive
        wait_text phone.log "$ready" 30
        phone "${SETUP[$ROW]:-}"
    fi
    case $ROW in
    tessaro) start agent "$BUILD_DIR/tests/softphones/thinkit/TessaroHost.exe" "$ROOT" ;;
    teltel) start agent "$AGENT_WIN" ;;
    *) start agent "$AGENT" ;;
    esac
    sim "wait-agent timeout=30000;expect AGENT_EVENT NotifyAgentStatus info=0"
    statuses "${OPENED[$ROW]:-}"
    connected
    replug
    call 21
    ring 22 || true
    replug
    call 23
    if [ "$ROW" = eyebeam ] || [ "$ROW" = qq ]; then
        phone "hang 30000"
        sim "send HW_EVENT NOTIFY_HOOK_STATE info=1;send HW_EVENT NOTIFY_CLOSE_DEVICE"
        sim "expect AGENT_EVENT NotifyAgentStatus info=2 timeout=20000"
        stop phone
        end_feed phone
        expect_no_text phone.log ERROR
    fi
    if [ "$ROW" = tessaro ]; then
        "$WINE_RUN" "$MONITOR" --shutdown-agent </dev/null >"$WORK/monitor.out" 2>&1 || fail "OrvinMonitor failed"
    else
        shutdown_agent
    fi
    expect_status agent 0 30
    # The agent held the inputs' write ends too: the stand-ins see their end only now.
    if [ -n "${STARTED[phone]:-}" ]; then
        end_feed phone
        expect_status phone 0 30
    fi
    end_feed service
    expect_status service 0 30
    expect_statuses service.log "${STATUSES[$ROW]}"
    echo "$ROW: PASS"
done
echo "PASS"
