#!/usr/bin/env bash
# Builds the translation cabinet "zuvoiplng.cab" that the agent unpacks in the
# installation folder (this repository's data/ folder is the default installation).
#   data/translation/make-cabinet.sh [OUTPUT.cab]     default: data/zuvoiplng.cab
#
# Every LANGUAGEKEY.txt here (German1252.txt, ...) becomes the member LANGUAGEKEY.txt.
# The files are kept here in UTF-8 with line feeds, for editing; the agent reads a
# member in the ANSI code page its key ends with, lines ended by CR LF, so each is
# converted on the way in. Members get a fixed date, so the same texts give the same
# cabinet bytes. MSZIP compression, no paths (gcab -c -z -n).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$(realpath -m "${1:-$here/../zuvoiplng.cab}")"
command -v gcab >/dev/null || { echo "make-cabinet: gcab is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
members=()
for source in "$here"/*.txt; do
    [ -e "$source" ] || continue
    name="$(basename "$source")"
    codepage="${name%.txt}"
    codepage="${codepage##*[!0-9]}"
    [ -n "$codepage" ] || { echo "make-cabinet: $name: the name must end with the code page" >&2; exit 1; }
    iconv -f UTF-8 -t "CP$codepage" "$source" | sed 's/\r*$/\r/' >"$work/$name"
    touch -d '2024-01-01 00:00:00 UTC' "$work/$name"
    members+=("$name")
done
[ ${#members[@]} -gt 0 ] || { echo "make-cabinet: no translation files in $here" >&2; exit 1; }

mkdir -p "$(dirname "$out")"
rm -f "$out"
(cd "$work" && TZ=UTC gcab -c -z -n "$out.tmp" "${members[@]}")
mv "$out.tmp" "$out"
echo "make-cabinet: $out: ${members[*]}"
