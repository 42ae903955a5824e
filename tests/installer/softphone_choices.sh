#!/usr/bin/env bash
# Every softphone the setup offers on its command line writes the selection record that
# the agent's start-up decodes to that softphone's client: the record's bytes (the
# selection word and its CRC-8 check byte) and the type the agent's own reading gives.
# One installation over the other: each choice clears the selection before it and keeps
# the availability bits of the record (so the softphones chosen before stay marked
# available); an unknown name changes nothing. /PIN= is set, refused (status 8) and kept;
# a custom folder gets Program Files' access list; a value not written gives status 6.
source "$(dirname "$0")/installer-lib.sh"
fresh_prefix

# Without a choice a new installation has the default configuration's record: Skype. (It
# goes to a folder of its own choosing, where the later ones follow it.)
expect_setup install /S '/D=C:\OrvinTest\Agent'
expect_softphone 0 000000c021000000
[ -f "$PREFIX/drive_c/OrvinTest/Agent/OrvinAgent.exe" ] || fail "/D= did not choose the folder"
expect_line install.log "$(access_line 'C:\OrvinTest\Agent')"

# name type record (its selection word in the comment)
while read -r name type record; do
    expect_setup "setup-$name" /S "/SOFTPHONE=$name"
    expect_softphone "$type" "$record"
    echo "/SOFTPHONE=$name: type $type, $record"
done <<'CHOICES'
qq 1 0000007013000000
thinkit 2 0000005c93000000
eyebeam 4 0000c054e5000000
teltel 10 000c405471000000
answering-machine 8 00c4405407000000
skype 0 004440d4e9000000
CHOICES
# words: 0x70000000 0x5c000000 0x54c00000 0x54400c00 0x5440c400 0xd4404400

# An installation without a choice keeps the one made before.
expect_setup setup-again /S
expect_softphone 0 004440d4e9000000

# From a fresh record; the name in any case.
reg_add "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 000000c021000000
expect_setup setup-EyeBeam /S /SOFTPHONE=EyeBeam
expect_softphone 4 0000c04019000000 # 0x40c00000

# A record that marks Skype and EyeBeam available and selects TelTel (0x40400c00):
# choosing QQ keeps both marks and leaves TelTel available, not selected (0x70400400).
reg_add "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 000c40408d000000
expect_softphone 10 000c40408d000000
expect_setup setup-qq-available /S /SOFTPHONE=qq
expect_softphone 1 0004407016000000

# A record that fails its check: the choice starts from an empty word.
reg_add "HKLM\\$ROOT\\Config\\General" /v SoftPhoneType /t REG_BINARY /d 0000407089000000
expect_setup setup-thinkit-bad-record /S /SOFTPHONE=thinkit
expect_softphone 2 0000000c48000000

# An unknown softphone (Tessaro has no type the agent starts) is a wrong command line.
setup setup-tessaro /S /SOFTPHONE=tessaro
[ "$STATUS" = 7 ] || fail "/SOFTPHONE=tessaro exited with $STATUS, expected 7"
expect_softphone 2 0000000c48000000

# ---- The PIN.
pin_is ''
expect_setup pin-2580 /S /PIN=2580
pin_is 2580
expect_line pin-2580.log 'The remote-access PIN is set.'
expect_no_text pin-2580.log 2580
for pin in 123 123456789 12a4 '' 0000 5555 1234 7890 8901 4321 1098 34567890; do
    setup "pin-refused-$pin" /S "/PIN=$pin"
    [ "$STATUS" = 8 ] || fail "/PIN=$pin exited with $STATUS, expected 8"
    pin_is 2580
done
expect_line pin-refused-12a4.log '/PIN=: this PIN is refused: a PIN has digits only.'
expect_line pin-refused-123.log '/PIN=: this PIN is refused: a PIN has 4 to 8 digits.'
expect_line pin-refused-5555.log '/PIN=: this PIN is refused: all its digits are the same.'
expect_setup pin-8-digits /S /PIN=13572468
pin_is 13572468
expect_setup pin-kept /S
pin_is 13572468
reg_add "HKLM\\$ROOT\\Config\\IVR" /v Pin /d 1234
expect_setup pin-weak /S
pin_is ''
expect_line pin-weak.log 'The PIN that was set is too easy to guess and was removed.'

# A key the setup cannot write: the softphone choice is named, exit status 6.
"$WINE_RUN" "$PROBE" key-dacl "$ROOT\\Config\\General" 'D:P(A;;KR;;;WD)' </dev/null || fail "no read-only key"
setup setup-read-only /S /SOFTPHONE=qq
"$WINE_RUN" "$PROBE" key-dacl "$ROOT\\Config\\General" 'D:(A;;KA;;;BA)(A;;KR;;;BU)' </dev/null || fail "key not restored"
[ "$STATUS" = 6 ] || fail "the setup exited with $STATUS when a value could not be written, expected 6"
expect_line setup-read-only.log \
    'The softphone choice (HKLM\SOFTWARE\Orvin\VoipAdapter\Config\General\SoftPhoneType) could not be written to the registry.'
expect_softphone 2 0000000c48000000

reg_tree root.txt "$ROOT"
expect_line root.txt 'SoftwareInstallationFolder=sz:C:\OrvinTest\Agent'
[ ! -e "$INSTALL_DIR" ] || fail "an installation over the first one went to the default folder"
echo "PASS"
