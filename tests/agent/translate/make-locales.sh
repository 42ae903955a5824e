#!/usr/bin/env bash
# Makes the named locales (e.g. de_DE.UTF-8) in DIR for LOCPATH, unless they are there.
#   make-locales.sh DIR LOCALE...
# Needs localedef and the locale sources (Debian's "locales" package).
set -euo pipefail
dir="$1"
shift
mkdir -p "$dir"
for locale in "$@"; do
    [ -f "$dir/$locale/LC_CTYPE" ] && continue
    localedef -i "${locale%%.*}" -f "${locale#*.}" "$dir/$locale"
done
