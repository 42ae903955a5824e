#!/usr/bin/env bash
# The cabinets the translator's tests unpack, made with gcab as the shipped one is:
#   several.cab    stored (no compression): Chinese936.txt, French1252.txt, German1252.txt
#   chinese.cab    MSZIP: Chinese936.txt only
#   mislabel.cab   MSZIP: a German1252.txt whose first line names Chinese936
#   shipped.cab    the installation's cabinet, made by data/translation/make-cabinet.sh
# Usage: make-test-cabinets.sh OUTPUT_DIR
set -euo pipefail
out="$(realpath -m "$1")"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

printf 'English1252=Chinese936\r\nClose=Guanbi\r\n' >"$work/Chinese936.txt"
printf 'English1252=French1252\r\nClose=Fermer\r\n' >"$work/French1252.txt"
printf 'English1252=German1252\r\nClose=Zu (mehrteilig)\r\nQuit=Ende\r\n' >"$work/German1252.txt"
(cd "$work" && gcab -c -n "$out/several.cab" Chinese936.txt French1252.txt German1252.txt)
(cd "$work" && gcab -c -z -n "$out/chinese.cab" Chinese936.txt)
printf 'English1252=Chinese936\r\nClose=Guanbi\r\n' >"$work/German1252.txt"
(cd "$work" && gcab -c -z -n "$out/mislabel.cab" German1252.txt)
"$here/../../../data/translation/make-cabinet.sh" "$out/shipped.cab" >/dev/null
