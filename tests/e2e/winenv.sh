# Sourced by the end-to-end tests: a private Wine prefix and, with no display, a private X server; all goes at the end.
#   vs_wine_start WINE64   sets WINEPREFIX, DISPLAY, VS_WINE, VS_TMP; the prefix is a copy of VS_WINE_TEMPLATE if set
#   vs_run ARGS...         runs a Winelib program through wine64

vs_wine_stop() {
    [ -n "${WINEPREFIX:-}" ] && "$(dirname "$VS_WINE")/wineserver" -k >/dev/null 2>&1
    if [ -n "${VS_XVFB:-}" ]; then
        kill "$VS_XVFB" >/dev/null 2>&1
        wait "$VS_XVFB" 2>/dev/null
    fi
    [ -n "${VS_TMP:-}" ] && rm -rf "$VS_TMP"
}

vs_wine_start() {
    VS_WINE=$1
    VS_TMP=$(mktemp -d "${TMPDIR:-/tmp}/vs-e2e.XXXXXX")
    trap vs_wine_stop EXIT
    # File names are UTF-8 on both sides, whatever the caller's locale.
    export LC_ALL=C.UTF-8
    export WINEPREFIX="$VS_TMP/prefix" WINEDEBUG=-all,err+winediag WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
    if [ -z "${DISPLAY:-}" ]; then
        # Xvfb picks a free display itself and tells its number: tests that start side by side never share one.
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$VS_TMP/display" >/dev/null 2>&1 &
        VS_XVFB=$!
        local i
        for i in $(seq 1 100); do
            [ -s "$VS_TMP/display" ] && break
            sleep 0.1
        done
        export DISPLAY=":$(head -n 1 "$VS_TMP/display")"
    fi
    if [ -n "${VS_WINE_TEMPLATE:-}" ] && [ -f "$VS_WINE_TEMPLATE/system.reg" ]; then
        cp -a "$VS_WINE_TEMPLATE" "$WINEPREFIX"
    else
        "$VS_WINE" wineboot -i >/dev/null 2>&1
        "$(dirname "$VS_WINE")/wineserver" -w >/dev/null 2>&1
    fi
}

# A Winelib X.exe is a launcher script; handing it to wine64 loses the program's exit code, so run X.exe.so itself.
vs_run() {
    local program=$1
    shift
    [ -e "$program.so" ] && program=$program.so
    "$VS_WINE" "$program" "$@"
}

vs_fail() {
    echo "FAIL: $*" >&2
    exit 1
}
