#!/usr/bin/env bash
# data/zuvoiplng.cab must be what data/translation/make-cabinet.sh makes of today's
# translation files: a translation edited without remaking the cabinet fails here.
#   shipped-cabinet-current.sh SOURCE_DIR
set -euo pipefail
src="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$src/data/translation/make-cabinet.sh" "$work/zuvoiplng.cab" >/dev/null
if ! cmp -s "$work/zuvoiplng.cab" "$src/data/zuvoiplng.cab"; then
    echo "data/zuvoiplng.cab is out of date: run data/translation/make-cabinet.sh" >&2
    exit 1
fi
echo "data/zuvoiplng.cab is current"
