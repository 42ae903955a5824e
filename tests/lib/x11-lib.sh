# Sourced after a family's helpers (systest-lib.sh's start, fail and at_exit) by the
# drivers that must see what a user sees: a virtual X display (Xvfb) and a Wine prefix of
# the driver's own, $WORK/prefix, with Wine's X11 driver in a virtual desktop of the
# display's size (900 x 650), which draws window frames, the taskbar and its notification
# area. The build's prefix keeps its null driver. WINE_RUN becomes a runner on that
# display and prefix; the prefix's server and the display go at the end.
#
#   x11_start [taskbar] the display, the prefix, the desktop kept up (a hidden window); with
#                       "taskbar" the desktop has a taskbar whose notification area is
#                       always there (icons at its right end), without it a notification
#                       area of its own that is shown exactly while it holds an icon
#   x11_shot FILE       the whole display as a PNG
#   DISPLAY_NUM         the display's number
X11_BASE_RUN=$WINE_RUN
X11_HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

x11_stop() {
    ORVIN_WINEPREFIX="$WORK/prefix" "$X11_BASE_RUN" --stop >/dev/null 2>&1 || true
    timeout 30 env WINEPREFIX="$WORK/prefix" wineserver -w >/dev/null 2>&1 || true
    rm -rf "$WORK/prefix" "$WORK/prefix.lock"
}

x11_start() {
    command -v Xvfb >/dev/null && command -v import >/dev/null ||
        fail "Xvfb and ImageMagick's import are missing (scripts/install-deps.sh installs them)"
    Xvfb -displayfd 3 -screen 0 900x650x24 -nolisten tcp 3>"$WORK/xvfb.display" >"$WORK/xvfb.out" 2>&1 &
    STARTED[xvfb]=$!
    local deadline=$((SECONDS + 15))
    until grep -q '^[0-9]' "$WORK/xvfb.display" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "Xvfb gave no display: $(cat "$WORK/xvfb.out")"
        sleep 0.1
    done
    DISPLAY_NUM=$(head -n 1 "$WORK/xvfb.display")
    at_exit x11_stop
    # Made as the build's runner makes a prefix, then switched to the display.
    export ORVIN_WINEPREFIX="$WORK/prefix"
    "$X11_BASE_RUN" --start || fail "the prefix $ORVIN_WINEPREFIX could not be made"
    local setting shell=0
    [ "${1:-}" != taskbar ] || shell=1
    for setting in "Drivers /v Graphics /d x11" "Explorer\\Desktops /v shot /d 900x650" "Explorer /v Desktop /d shot" \
        "Explorer\\Desktops\\shot /v EnableShell /t REG_DWORD /d $shell"; do
        # shellcheck disable=SC2086 # the setting's words
        "$X11_BASE_RUN" reg add "HKCU\\Software\\Wine\\"$setting /f </dev/null >/dev/null 2>&1 ||
            fail "could not set the prefix's $setting"
    done
    local marlett=/usr/share/wine/fonts/marlett.ttf
    [ ! -f "$marlett" ] || cp "$marlett" "$ORVIN_WINEPREFIX/drive_c/windows/Fonts/"
    "$X11_BASE_RUN" --stop
    timeout 30 env WINEPREFIX="$ORVIN_WINEPREFIX" wineserver -w >/dev/null 2>&1 || true
    cat >"$WORK/wine-x" <<RUNNER
#!/usr/bin/env bash
export \$(ORVIN_WINEPREFIX="$ORVIN_WINEPREFIX" "$X11_BASE_RUN" --env)
export WINEPREFIX="$ORVIN_WINEPREFIX" WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64 DISPLAY=":$DISPLAY_NUM"
exec setarch -R wine "\$@"
RUNNER
    chmod +x "$WORK/wine-x"
    WINE_RUN="$WORK/wine-x"
    # The desktop lives as long as a window does: one hidden window for the whole run.
    start desktop "$BUILD_DIR/tests/settings/SettingsProbe.exe" hold
}

x11_shot() {
    DISPLAY=":$DISPLAY_NUM" import -window root "$1" || fail "import could not grab the display"
}
