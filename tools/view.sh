#!/bin/bash
# Builds the viewer and runs it on a picture (the bundled sample when none
# is given). Without a display it runs on a virtual one.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/deps.sh"
vs_install_deps

BUILD=${VS_BUILD_DIR:-$ROOT/build}
cmake -S "$ROOT" -B "$BUILD/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVS_BUILD_SHELL=ON >/dev/null
cmake --build "$BUILD/release" -j"$(nproc 2>/dev/null || echo 2)" --target vistrel vsdriver

PICTURE=${1:-$ROOT/samples/sample.bmp}
[ -e "$PICTURE" ] || { echo "no such picture: $PICTURE" >&2; exit 1; }
PICTURE=$(readlink -f "$PICTURE")
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [ -z "${DISPLAY:-}" ]; then
    echo "No display: running on a virtual one (:99); close with Ctrl+C."
    Xvfb :99 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB=$!
    trap 'kill $XVFB 2>/dev/null || true' EXIT
    export DISPLAY=:99
    sleep 1
fi
exec_dir="$BUILD/release/shell"
# The viewer takes Windows paths; Z: is the root of the host file system.
/usr/lib/wine/wine64 "$exec_dir/vistrel.exe.so" "Z:${PICTURE//\//\\}" &
VIEWER=$!
if [ -n "${XVFB:-}" ]; then
    # Nobody can see a virtual screen: show what it holds as a picture.
    SHOT=$BUILD/viewer-screen.bmp
    if /usr/lib/wine/wine64 "$exec_dir/vsdriver.exe.so" wait "Vistrel Viewer - v2.0" 120 >/dev/null &&
        sleep 2 && /usr/lib/wine/wine64 "$exec_dir/vsdriver.exe.so" shot "Vistrel Viewer - v2.0" "$SHOT"; then
        echo "The viewer is running; its window as a picture: $SHOT"
    fi
fi
wait $VIEWER
