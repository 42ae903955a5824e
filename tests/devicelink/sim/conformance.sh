#!/usr/bin/env bash
# The stand-in as a conformance checker: bytes the agent must never send, written to
# \\.\pipe\VCORE\IOMAN by RawPipeClient.exe, each make the stand-in report what is wrong
# (with the connection, the message number and its byte offset) and fail its script with
# exit status 1; with --lenient the same bytes are logged as warnings and the script
# passes; messages that keep to the wire description, the largest possible one included,
# pass without a word. The numbers here are the interface's own, written out.
. "$(dirname "$0")/simtest-lib.sh"

# le32 N: N as 4 bytes, little-endian, in hex.
le32() {
    printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255))
}
# repeat HEXBYTE N: the byte N times.
repeat() {
    local i out=""
    for ((i = 0; i < $2; i++)); do out+=$1; done
    printf '%s' "$out"
}
# message SIZE ID KIND P0 P1 P2 P3 [DATA-HEX]: a header and data as written on the pipe.
message() {
    printf '%s%s%s%s%s%s%s%s' "$(le32 "$1")" "$(le32 "$2")" "$(le32 "$3")" "$(le32 "$4")" "$(le32 "$5")" \
        "$(le32 "$6")" "$(le32 "$7")" "${8:-}"
}

GREETING=$(le32 0)
ID=0x03E80000
# The end of each client's run: AGENT_EVENT (3) NotifyAgentStatus (1) info=9 with the
# extra value 0xF000000A, as the agent sends it.
MARKER=$(message 32 $ID 3 3 1 9 0x10 "$(le32 0xF000000A)")
BUFFER=$(repeat 41 32)
ZEROS=$(repeat 00 32)

cat >"$WORK/strict.txt" <<'SCRIPT'
wait-agent timeout=20000
expect AGENT_EVENT NotifyAgentStatus info=9 timeout=10000
SCRIPT
STRICT=$(winpath "$WORK/strict.txt")

# refused NAME WHERE FAULT HEX...: a client that greets with adapter 0 (unless the first
# HEX says otherwise), writes the HEX pieces and then the marker; the stand-in fails at
# once, naming WHERE and FAULT, and never sees the marker as met.
refused() {
    local name=$1 where=$2 fault=$3
    shift 3
    local writes=()
    for piece in "$@"; do
        writes+=("write $piece")
    done
    start_sim "$name" "$STRICT"
    start "$name-client" "$RAW" connect "${writes[@]}" "write $MARKER" "sleep 300" close
    expect_status "$name" 1 60
    finish "$name-client" 30
    expect_text "$name.err" "$where: $fault"
    expect_text "$name.log" "ERROR $where: $fault"
    expect_text "$name.err" "the agent broke the wire description: $where: $fault"
    expect_no_text "$name.log" "script done"
}

# Every message must carry the to-service id of the greeted adapter: 0x03E80000 + index.
refused id-other-adapter "IOMAN connection 1, message 1 at byte 4 (Size 28, kind 2)" \
    "Id 0x3e80001 is not 0x3e80000, the to-service id of adapter 0" \
    "$GREETING" "$(message 28 0x03E80001 2 0xF000000E 0 0 0)"
refused id-from-service "IOMAN connection 1, message 1 at byte 4 (Size 28, kind 2)" \
    "Id 0x3e8 is not 0x3e80000" \
    "$GREETING" "$(message 28 0x000003E8 2 0xF000000E 0 0 0)"
refused id-greeted-index "IOMAN connection 1, message 1 at byte 4 (Size 32, kind 3)" \
    "Id 0x3e80000 is not 0x3e80002, the to-service id of adapter 2" \
    "$(le32 2)" "$(message 32 $ID 3 3 1 0 0x10 "$(le32 0xF000000A)")"

# Kinds 2 and 3 only.
refused kind-1 "IOMAN connection 1, message 1 at byte 4 (Size 28, kind 1)" \
    "Kind 1 is not one the agent sends (2: request, 3: IMM)" \
    "$GREETING" "$(message 28 $ID 1 1 0 0 0)"
refused kind-9 "IOMAN connection 1, message 2 at byte 32 (Size 28, kind 9)" "Kind 9 is not one the agent sends" \
    "$GREETING" "$(message 28 $ID 2 0xF000000E 0 0 0)" "$(message 28 $ID 9 0 0 0 0)"

# A request (kind 2) is the 28-byte header alone, Param 2 and 3 zero.
refused kind-2-data "IOMAN connection 1, message 1 at byte 4 (Size 32, kind 2)" \
    "a kind-2 request carries 4 data bytes (Size 32): it is the 28-byte header alone" \
    "$GREETING" "$(message 32 $ID 2 0xF000000E 0 0 0 01000000)"
refused kind-2-param-2 "IOMAN connection 1, message 1 at byte 4 (Size 28, kind 2)" \
    "a kind-2 request has Param 2 = 0x5: it must be 0" \
    "$GREETING" "$(message 28 $ID 2 0xF000000E 0 5 0)"
refused kind-2-param-3 "IOMAN connection 1, message 1 at byte 4 (Size 28, kind 2)" \
    "a kind-2 request has Param 3 = 0x10: it must be 0" \
    "$GREETING" "$(message 28 $ID 2 0xF000000E 0 0 0x10)"

# An IMM (kind 3): flags 0x01..0x10 only, exactly the data they announce, no flagged
# buffer all zero.
refused flags-unknown "IOMAN connection 1, message 1 at byte 4 (Size 28, kind 3)" \
    "presence flags 0x20 hold bits other than 0x1..0x10 (0x20)" \
    "$GREETING" "$(message 28 $ID 3 3 1 0 0x20)"
refused data-short "IOMAN connection 1, message 1 at byte 4 (Size 32, kind 3)" \
    "presence flags 0x1 announce 32 data bytes; the message carries 4 (Size 32)" \
    "$GREETING" "$(message 32 $ID 3 1 2 0 0x01 41424344)"
refused data-missing "IOMAN connection 1, message 1 at byte 4 (Size 28, kind 3)" \
    "presence flags 0x18 announce 516 data bytes; the message carries 0 (Size 28)" \
    "$GREETING" "$(message 28 $ID 3 1 2 0 0x18)"
refused data-long "IOMAN connection 1, message 1 at byte 4 (Size 36, kind 3)" \
    "presence flags 0x10 announce 4 data bytes; the message carries 8 (Size 36)" \
    "$GREETING" "$(message 36 $ID 3 3 1 0 0x10 "$(le32 0xF000000A)$(le32 7)")"
refused buffer-zero "IOMAN connection 1, message 1 at byte 4 (Size 64, kind 3)" \
    "Buffer1 is flagged present (0x1) but all its 32 bytes are zero" \
    "$GREETING" "$(message 64 $ID 3 0 4 0 0x11 "$ZEROS$(le32 0xF000000A)")"
refused buffer3-zero "IOMAN connection 1, message 1 at byte 4 (Size 92, kind 3)" \
    "Buffer3 is flagged present (0x4) but all its 32 bytes are zero" \
    "$GREETING" "$(message 92 $ID 3 0 4 0 0x05 "$BUFFER$ZEROS")"
refused payload-zero "IOMAN connection 1, message 1 at byte 4 (Size 540, kind 3)" \
    "Payload is flagged present (0x8) but all its 512 bytes are zero" \
    "$GREETING" "$(message 540 $ID 3 0 4 0 0x08 "$(repeat 00 512)")"

# The first 4 bytes are the adapter index 0..4, and nothing comes before them.
refused greeting-index "IOMAN connection 1, greeting at byte 0" \
    "adapter index 5 (0x5) is not 0..4: the first 4 bytes of a connection are the index" \
    "$(le32 5)"
refused no-greeting "IOMAN connection 1, greeting at byte 0" "adapter index 32 (0x20) is not 0..4"

# Size within 28..640: anything else can not be framed again and costs the connection.
for size in 27 641 65536; do
    start_sim "size-$size" "$STRICT"
    start "size-$size-client" "$RAW" connect "write $GREETING$(message 28 $ID 2 0xF000000E 0 0 0)" \
        "write $(message "$size" $ID 3 0 4 0 0)" "wait-closed 10000"
    expect_status "size-$size" 1 60
    expect_status "size-$size-client" 0 30
    expect_text "size-$size-client.out" "closed by the service"
    expect_text "size-$size.err" "IOMAN connection 1, message 2 at byte 32: Size $size is outside 28..640"
    expect_text "size-$size.log" "the connection is dropped"
done

# What keeps to the description passes: requests, IMMs with every part, the largest
# possible message (640 bytes), an extra value of 0 (it is no buffer), every adapter
# index, message after message in one write.
cat >"$WORK/clean.txt" <<'SCRIPT'
wait-agent timeout=20000
expect-generic ioctl=0xF000000E value=7
expect CALL_EVENT CALL_STATUS_RINGING buf1=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA ioctl=0
expect AGENT_EVENT NotifyAgentStatus info=9 timeout=10000
wait-agent timeout=20000
expect AGENT_EVENT NotifyAgentStatus info=4
SCRIPT
LARGEST=$(message 640 $ID 3 0 4 0 0x1F "$BUFFER$BUFFER$BUFFER$(repeat 42 512)$(le32 0)")
start_sim clean "$(winpath "$WORK/clean.txt")"
start clean-client "$RAW" connect \
    "write $GREETING$(message 28 $ID 2 0xF000000E 7 0 0)$LARGEST" \
    "write $(message 28 $ID 3 3 1 0 0)$(message 572 $ID 3 0 4 0 0x0A "$(repeat 01 32)$(repeat 00 511)02")" \
    "write $MARKER" "sleep 500" close connect \
    "write $(le32 4)$(message 28 0x03E80004 3 3 1 4 0)" "sleep 3000" close
expect_status clean 0 60
expect_status clean-client 0 30
expect_no_text clean.log "ERROR"
expect_no_text clean.log "WARNING"
expect_text clean.log "RX IMM MSG_TYPE_CALL_EVENT CALL_STATUS_RINGING info=0 buf1=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"
[ ! -s "$WORK/clean.err" ] || fail "the stand-in reported faults on clean bytes"

# --lenient: every fault above in one connection, then the impossible size; each is a
# warning, the script passes, the connection still goes after the impossible size.
cat >"$WORK/lenient.txt" <<'SCRIPT'
wait-agent timeout=20000
expect AGENT_EVENT NotifyAgentStatus info=9 timeout=10000
wait-agent timeout=20000
expect AGENT_EVENT NotifyAgentStatus info=9 timeout=10000
SCRIPT
start_sim lenient --lenient "$(winpath "$WORK/lenient.txt")"
start lenient-client "$RAW" connect "write $GREETING" \
    "write $(message 28 0x03E80001 2 0xF000000E 0 0 0)" \
    "write $(message 28 $ID 1 1 0 0 0)" \
    "write $(message 32 $ID 2 0xF000000E 0 0 0 01000000)" \
    "write $(message 28 $ID 2 0xF000000E 0 5 0)" \
    "write $(message 28 $ID 2 0xF000000E 0 0 0x10)" \
    "write $(message 28 $ID 3 3 1 0 0x20)" \
    "write $(message 32 $ID 3 1 2 0 0x01 41424344)" \
    "write $(message 36 $ID 3 3 1 0 0x10 "$(le32 0xF000000A)$(le32 7)")" \
    "write $(message 64 $ID 3 0 4 0 0x11 "$ZEROS$(le32 0xF000000A)")" \
    "write $MARKER" \
    "write $(message 641 $ID 3 0 4 0 0)" "wait-closed 10000" \
    connect "write $(le32 7)" "write $(message 32 0x03E80007 3 3 1 9 0x10 "$(le32 0xF000000A)")" "sleep 3000" close
expect_status lenient 0 60
expect_status lenient-client 0 30
for fault in \
    "message 1 at byte 4 (Size 28, kind 2): Id 0x3e80001 is not 0x3e80000" \
    "message 2 at byte 32 (Size 28, kind 1): Kind 1 is not one the agent sends" \
    "message 3 at byte 60 (Size 32, kind 2): a kind-2 request carries 4 data bytes" \
    "message 4 at byte 92 (Size 28, kind 2): a kind-2 request has Param 2 = 0x5" \
    "message 5 at byte 120 (Size 28, kind 2): a kind-2 request has Param 3 = 0x10" \
    "message 6 at byte 148 (Size 28, kind 3): presence flags 0x20 hold bits other than 0x1..0x10" \
    "message 7 at byte 176 (Size 32, kind 3): presence flags 0x1 announce 32 data bytes; the message carries 4" \
    "message 8 at byte 208 (Size 36, kind 3): presence flags 0x10 announce 4 data bytes; the message carries 8" \
    "message 9 at byte 244 (Size 64, kind 3): Buffer1 is flagged present (0x1) but all its 32 bytes are zero" \
    "message 11 at byte 340: Size 641 is outside 28..640"; do
    expect_text lenient.log "WARNING IOMAN connection 1, $fault"
done
expect_text lenient.log "WARNING IOMAN connection 2, greeting at byte 0: adapter index 7 (0x7) is not 0..4"
expect_count lenient.log "WARNING " 11
expect_no_text lenient.log "ERROR"
expect_text lenient.log "11 fault(s) against the wire description passed over (--lenient)"
expect_order lenient.log "Size 641 is outside 28..640" "IOMAN greeting adapter=7"
[ ! -s "$WORK/lenient.err" ] || fail "the lenient stand-in wrote errors"
echo "PASS"
