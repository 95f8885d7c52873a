#!/bin/bash
# Builds the viewer and runs it on a picture (the bundled sample when none
# is given). Without a display it runs on a virtual one and saves what the
# screen shows as a picture. Wine's own messages go to a log file; -v (or
# VS_VERBOSE=1) shows them here instead.
# usage: tools/view.sh [-v] [PICTURE]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
VERBOSE=${VS_VERBOSE:-0}
if [ "${1:-}" = -v ]; then
    VERBOSE=1
    shift
fi
. "$ROOT/tools/deps.sh"
vs_install_deps
vs_use_ccache

BUILD=${VS_BUILD_DIR:-$ROOT/build}
cmake -S "$ROOT" -B "$BUILD/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVS_BUILD_SHELL=ON >/dev/null
cmake --build "$BUILD/release" -j"$(nproc 2>/dev/null || echo 2)" --target vistrel vsdriver

PICTURE=${1:-$ROOT/samples/sample.bmp}
[ -e "$PICTURE" ] || { echo "no such picture: $PICTURE" >&2; exit 1; }
PICTURE=$(readlink -f "$PICTURE")
WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine}
LOG=$BUILD/view-wine.log
if [ "$VERBOSE" = 1 ]; then
    exec 3>&2
else
    : >"$LOG"
    exec 3>>"$LOG"
fi

XVFB=
cleanup() {
    if [ -n "$XVFB" ]; then
        # Wine's processes on the virtual display go with it.
        "$WINESERVER" -k >/dev/null 2>&1 || true
        kill "$XVFB" 2>/dev/null || true
    fi
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
    # Xvfb picks a free display itself and tells its number.
    DISPLAY_FILE=$(mktemp)
    Xvfb -displayfd 4 -screen 0 1280x1024x24 -nolisten tcp 4>"$DISPLAY_FILE" >&3 2>&3 &
    XVFB=$!
    for _ in $(seq 1 100); do
        [ -s "$DISPLAY_FILE" ] && break
        sleep 0.1
    done
    [ -s "$DISPLAY_FILE" ] || { echo "the virtual display did not start (see $LOG)" >&2; exit 1; }
    export DISPLAY=":$(head -n 1 "$DISPLAY_FILE")"
    rm -f "$DISPLAY_FILE"
    echo "No display: running on a virtual one ($DISPLAY); close with Ctrl+C."
fi

# A new prefix is made first and completely: the viewer and the driver
# starting while Wine makes it would race it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Making the Wine prefix $WINEPREFIX (first run only)..."
    "$WINE64" wineboot -i >&3 2>&3 || { echo "wineboot failed (see $LOG)" >&2; exit 1; }
    "$WINESERVER" -w >&3 2>&3 || true
fi

SHELL_OUT="$BUILD/release/shell"
drive() { "$WINE64" "$SHELL_OUT/vsdriver.exe.so" "$@" 2>&3 | tr -d '\r'; }
# The viewer takes Windows paths; Z: is the root of the host file system.
"$WINE64" "$SHELL_OUT/vistrel.exe.so" "Z:${PICTURE//\//\\}" >&3 2>&3 &
VIEWER=$!
if [ -n "$XVFB" ]; then
    # Nobody can see a virtual screen: show what it holds as a picture,
    # once the window shows the picture in its caption.
    MARK="Vistrel Viewer - v2.0"
    SHOT=$BUILD/viewer-screen.bmp
    if drive wait "$MARK" 120 >/dev/null; then
        drive wait "$(basename "$PICTURE") (" 30 >/dev/null || true
        if drive shot "$MARK" "$SHOT"; then
            echo "The viewer is running; its window as a picture: $SHOT"
        else
            echo "The viewer is running, but its window could not be saved (see $LOG)" >&2
        fi
    else
        echo "The viewer's window did not appear (see $LOG)" >&2
    fi
fi
wait "$VIEWER"
