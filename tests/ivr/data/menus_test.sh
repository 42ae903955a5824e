#!/usr/bin/env bash
# The installation's voice menus: each language folder's Menu.cfg is checked by
# check_menu_file.py, and every WAV file is run through OrvinDtmf.exe, which reads it as
# the IVR does: it must be 8000 Hz 16-bit mono PCM (anything else ends with status 2) and
# hold no sound the key detector takes for a key.
#   menus_test.sh DATA/IVR PATH/OrvinDtmf.exe      (run by CTest)
source "$(dirname "$0")/../../lib/systest-lib.sh"
ivr=$1
tool=$2
checker="$(cd "$(dirname "$0")" && pwd)/check_menu_file.py"
use_work "$BUILD_DIR/tests/ivr/data/menus"

languages=0
for folder in "$ivr"/*/; do
    folder=${folder%/}
    [ -f "$folder/Menu.cfg" ] || continue
    language=$(basename "$folder")
    languages=$((languages + 1))
    python3 "$checker" "$folder" >"$WORK/$language.check" || {
        cat "$WORK/$language.check"
        fail "$language/Menu.cfg has faults"
    }
    files=0
    for wav in "$folder"/*.wav; do
        name=$(basename "$wav" .wav)
        run "$language-$name" 60 "$tool" "$(winpath "$wav")"
        [ "$STATUS" = 0 ] || fail "$language/$name.wav: OrvinDtmf exited with $STATUS: $(tr -d '\r' <"$WORK/$language-$name.err")"
        [ "$(tr -d '\r\n' <"$WORK/$language-$name.out")" = "" ] ||
            fail "$language/$name.wav is heard as the keys $(tr -d '\r' <"$WORK/$language-$name.out")"
        files=$((files + 1))
    done
    echo "ok: $language: Menu.cfg and $files WAV files"
done
[ "$languages" -gt 0 ] || fail "no language folder with a Menu.cfg in $ivr"

# The checker itself: an owner's menu that leaves the digits without a function to the PIN
# entry below it (a stray key would count toward a wrong PIN) is a fault it names.
cp -r "$ivr/English" "$WORK/stray"
awk '/^\[/ { owner = ($0 ~ /^\[OwnerMenu\]/) } owner && /^Mask=/ { print "Mask=1,2,3,9\r"; next } { print }' \
    "$ivr/English/Menu.cfg" >"$WORK/stray/Menu.cfg"
grep -q '^Mask=1,2,3,9' "$WORK/stray/Menu.cfg" || fail "the owner menu's Mask was not replaced"
if python3 "$checker" "$WORK/stray" >"$WORK/stray.check"; then
    fail "the checker passed an owner menu that lets stray digits fall through to the PIN entry"
fi
grep -qF "keys 0 4 5 6 7 8 in [OwnerMenu] fall through to [EnterPin], which counts them" "$WORK/stray.check" ||
    fail "the checker did not name the stray digits: $(cat "$WORK/stray.check")"

# ... and so is a call-forward menu whose digits lead straight to the number entry (as once).
cp -r "$ivr/English" "$WORK/open"
sed 's/^\([0-9]\),DialOutPin/\1,PhoneNumberCollect/' "$ivr/English/Menu.cfg" >"$WORK/open/Menu.cfg"
if python3 "$checker" "$WORK/open" >"$WORK/open.check"; then
    fail "the checker passed a number entry reached without a PIN"
fi
grep -qF "[PhoneNumberCollect] (PHONENBR) dials out without a PIN: CallForward > PhoneNumberCollect" \
    "$WORK/open.check" || fail "the checker did not name the open number entry: $(cat "$WORK/open.check")"
echo "voice menu checks passed"
