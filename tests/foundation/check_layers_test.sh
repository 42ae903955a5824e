#!/usr/bin/env bash
# scripts/check-layers.sh on this tree (every include keeps to the layers) and on a copy
# with one include of each kind it must refuse: it names each by file and line and fails.
set -uo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
check="$repo/scripts/check-layers.sh"
fail() { echo "FAIL: $*"; exit 1; }

"$check" "$repo/src" || fail "the tree itself breaks the layers"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r "$repo/src" "$work/src"
# An upward include (the device link reaching the program), one into a folder that is no
# layer, one without a folder, and a below-to-below include that is allowed.
sed -i '1a #include "agent/OrvinAgentApp.h"' "$work/src/devicelink/Imm.cpp"
sed -i '1a #include "tools/Thing.h"' "$work/src/recorder/CallRecorder.cpp"
sed -i '1a #include "Trace.h"' "$work/src/audio/Prompt.cpp"
sed -i '1a #include "base/trace/Trace.h"' "$work/src/ivr/MenuFile.cpp"
# The settings program and the agent beside each other: neither may use the other.
sed -i '1a #include "agent/TrayIcon.h"' "$work/src/settings/SettingsApp.cpp"
sed -i '1a #include "ivr/VoiceMailStore.h"' "$work/src/settings/model/Greeting.cpp"

out="$("$check" "$work/src")"
status=$?
echo "$out"
[ "$status" -eq 1 ] || fail "exit status $status, wanted 1"
grep -qx 'src/devicelink/Imm.cpp:2: #include "agent/OrvinAgentApp.h": agent is above devicelink' <<<"$out" ||
    fail "the upward include was not named by file and line"
grep -q '^src/recorder/CallRecorder.cpp:2: #include "tools/Thing.h": tools is not a layer' <<<"$out" ||
    fail "the include of a folder that is no layer was not named"
grep -qx 'src/audio/Prompt.cpp:2: #include "Trace.h" names no folder' <<<"$out" ||
    fail "the include without a folder was not named"
grep -qx 'src/settings/SettingsApp.cpp:2: #include "agent/TrayIcon.h": agent is beside settings' <<<"$out" ||
    fail "the include of the agent by the settings program was not named"
grep -q 'MenuFile.cpp\|Greeting.cpp' <<<"$out" && fail "an include of a lower layer was refused"
[ "$(grep -c '^src/' <<<"$out")" -eq 4 ] || fail "wanted exactly four faults"
echo "PASS"
