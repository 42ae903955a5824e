#!/usr/bin/env bash
# The Wine prefix the setup's test drivers copy, one for the whole test run:
#   template-prefix.sh make DIR      made as the build's runner makes a prefix (the null
#                                    display driver, no debugger), its server stopped
#   template-prefix.sh remove DIR
# The build's runner makes the user's folders (Documents, Desktop ...) folders of the
# prefix, so that nothing an installed agent writes there (the default recording folder)
# leaves the build folder.
set -euo pipefail
: "${WINE_RUN:?WINE_RUN is set by CTest}"
[ $# = 2 ] || { echo "usage: template-prefix.sh make|remove DIR" >&2; exit 2; }
DIR=$2
case "$1" in
make)
    rm -rf "$DIR" "$DIR.lock"
    mkdir -p "$(dirname "$DIR")"
    ORVIN_WINEPREFIX=$DIR "$WINE_RUN" --start
    ORVIN_WINEPREFIX=$DIR "$WINE_RUN" --stop
    timeout 60 env WINEPREFIX="$DIR" wineserver -w
    [ -f "$DIR/.orvin-prefix-v2" ] || { echo "template-prefix.sh: $DIR was not made" >&2; exit 1; }
    ;;
remove)
    rm -rf "$DIR" "$DIR.lock"
    ;;
*)
    echo "usage: template-prefix.sh make|remove DIR" >&2
    exit 2
    ;;
esac
