#!/usr/bin/env bash
# Makes the voice menus' prompt files: every text below spoken by espeak-ng, converted by
# sox to what the IVR streams byte for byte (8000 Hz, 16-bit, mono PCM), plus "beep.wav"
# (0.4 s of 1 kHz, the tone before a recording and the reminder's prompt) and
# "background.wav" (1 s of silence, what plays when a prompt is stopped).
#
# Run by hand after changing a text; nothing in the build runs it, the files are kept in
# the repository:  data/IVR/make-prompts.sh [English|German ...]  (default: English; the
# German texts are here for an installation that wants them, and a new language folder
# gets a copy of English/Menu.cfg, whose file names every language shares)
# It installs espeak-ng and sox with apt-get when they are missing (Debian, as root).
#
# The files are made repeatably (no dither, fixed seeds), trimmed of the synthesiser's
# leading and trailing silence and brought to a peak of -6 dBFS. Each language folder's
# Menu.cfg names them; a text here and its file name there must agree.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

if ! command -v espeak-ng >/dev/null || ! command -v sox >/dev/null; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        apt-get install -y espeak-ng sox >/dev/null || { apt-get update >/dev/null && apt-get install -y espeak-ng sox >/dev/null; }
    else
        echo "make-prompts.sh: needs espeak-ng and sox (apt-get install espeak-ng sox)" >&2
        exit 1
    fi
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The format every prompt must have, and sox's options for writing it.
OUT=(-R -D -r 8000 -c 1 -b 16 -e signed-integer)

# speak FOLDER VOICE NAME TEXT: FOLDER/NAME.wav spoken by VOICE.
speak() {
    local folder=$1 voice=$2 name=$3 text=$4
    espeak-ng -v "$voice" -s 175 -w "$work/raw.wav" "$text"
    # Trim the silence at both ends, keep 60 ms before and after, resample, level.
    sox -R -D "$work/raw.wav" "${OUT[@]}" "$folder/$name.wav" \
        silence 1 0.02 0.3% reverse silence 1 0.02 0.3% reverse \
        pad 0.06 0.06 norm -6
}

# tones FOLDER: the two sounds that are no speech.
tones() {
    local folder=$1
    sox "${OUT[@]}" -n "$folder/beep.wav" synth 0.4 sine 1000 fade 0.01 0.4 0.01 norm -6
    sox "${OUT[@]}" -n "$folder/background.wav" trim 0 1
}

# make LANGUAGE VOICE: every "name|text" line of standard input, then the tones.
make() {
    local language=$1 voice=$2 folder="$here/$1" name text count=0
    mkdir -p "$folder"
    while IFS='|' read -r name text; do
        [ -n "$name" ] || continue
        speak "$folder" "$voice" "$name" "$text"
        count=$((count + 1))
    done
    tones "$folder"
    # The menus are the same in every language: a new language starts with English's.
    [ -f "$folder/Menu.cfg" ] || cp "$here/English/Menu.cfg" "$folder/Menu.cfg"
    echo "$language: $count prompts, beep.wav and background.wav in $folder"
}

english() {
    make English en-us <<'EOF'
greeting|Please leave a message after the tone.
forward|Please hold, connecting your call.
enter-number|Enter the number, then press star.
attach-line|Connecting you to the line.
welcome|Welcome to your answering machine.
enter-pin|Enter your PIN, then press star.
wrong-pin|Wrong PIN.
menu-messages|For your messages, press 1.
menu-greeting|For your greeting, press 2.
menu-delete-all|To delete all messages, press 3.
menu-voice-mail|For voice mail, press 9.
messages|Your messages.
message-options|1 repeats, 2 deletes, 3 skips.
end-of-messages|End of messages.
no-messages|You have no messages.
greeting-listen|To hear your greeting, press 1.
greeting-record|To record a new one, press 2.
greeting-delete|To delete it, press 3.
no-greeting|You have no personal greeting.
record-greeting|Record your greeting after the tone.
press-pound|Press pound when you are done.
greeting-deleted|Your greeting has been deleted.
confirm-delete|To delete all messages, press 1.
confirm-keep|To keep them, press 2.
messages-deleted|All messages have been deleted.
messages-kept|Your messages have been kept.
voice-mail|Connecting you to your voice mail.
goodbye|Goodbye.
EOF
}

german() {
    make German de <<'EOF'
greeting|Bitte sprechen Sie nach dem Signalton.
forward|Bitte warten, Sie werden verbunden.
enter-number|Wählen Sie die Nummer, dann Stern.
attach-line|Sie werden mit der Leitung verbunden.
welcome|Willkommen bei Ihrem Anrufbeantworter.
enter-pin|Ihre PIN, dann die Sterntaste.
wrong-pin|Falsche PIN.
menu-messages|Nachrichten: Taste 1.
menu-greeting|Ihre Ansage: Taste 2.
menu-delete-all|Alle Nachrichten löschen: Taste 3.
menu-voice-mail|Sprachbox: Taste 9.
messages|Ihre Nachrichten.
message-options|Wiederholen 1, löschen 2, weiter 3.
end-of-messages|Keine weiteren Nachrichten.
no-messages|Sie haben keine Nachrichten.
greeting-listen|Ansage anhören: Taste 1.
greeting-record|Neu aufsprechen: Taste 2.
greeting-delete|Ansage löschen: Taste 3.
no-greeting|Sie haben keine eigene Ansage.
record-greeting|Sprechen Sie Ihre Ansage nach dem Ton.
press-pound|Ende mit der Rautetaste.
greeting-deleted|Ihre Ansage wurde gelöscht.
confirm-delete|Alle löschen: Taste 1.
confirm-keep|Behalten: Taste 2.
messages-deleted|Alle Nachrichten wurden gelöscht.
messages-kept|Ihre Nachrichten bleiben erhalten.
voice-mail|Sie werden mit Ihrer Sprachbox verbunden.
goodbye|Auf Wiederhören.
EOF
}

languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(English)
for language in "${languages[@]}"; do
    case "$language" in
    English) english ;;
    German) german ;;
    *)
        echo "make-prompts.sh: no texts for $language" >&2
        exit 2
        ;;
    esac
done

# Every file in the format the IVR streams, and none longer than it should be.
for f in "$here"/*/*.wav; do
    [ "$(soxi -r "$f")/$(soxi -c "$f")/$(soxi -b "$f")/$(soxi -e "$f")" = "8000/1/16/Signed Integer PCM" ] ||
        { echo "make-prompts.sh: $f is not 8000 Hz 16-bit mono PCM" >&2; exit 1; }
done
