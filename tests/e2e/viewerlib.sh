# Sourced by the viewer's end-to-end tests: the set-up, the driver and the checks they share.
#   vs_viewer_begin OUT WINE64 LOGS   sets OUT and LOGS, starts a private Wine (winenv.sh), makes the log
#                                     folder and an empty picture folder PICS (WPICS for Wine)
. "$(dirname "${BASH_SOURCE[0]}")/winenv.sh"
vs_viewer_begin() {
    OUT=$1
    LOGS=$3
    vs_wine_start "$2"
    PICS=$VS_TMP/pics
    WPICS=$(winpath "$PICS")
    mkdir -p "$LOGS" "$PICS"
}
KEY='Software\Orvanta\Vistrel Viewer\2.0'
# Near the middle of the picture area of the first start's window.
CX=476
MARK="Vistrel Viewer - v2.0"
# The driver, its exit status kept through the filter. It fails with 1 or 2 and says why; any other status is not its
# own (a crash Wine ended, say), so it is shown.
D() {
    vs_run "$OUT/vsdriver.exe" "$@" | tr -d '\r'
    local status=${PIPESTATUS[0]}
    [ "$status" -le 2 ] || echo "vsdriver $1: exit status $status" >&2
    return "$status"
}
field() { sed -n "s/^$1=//p"; }
# A Unix path as the viewer's Windows path.
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
# retry N COMMAND...: until COMMAND succeeds, N tries 0.2 s apart.
retry() {
    local n=$1 i
    shift
    for i in $(seq 1 "$n"); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}
info() { D wait "$MARK" 5; }
caption() { info | field caption; }
# Waits until the caption ends with TEXT.
caption_ends() { [[ "$(caption)" == *"$1" ]]; }
wait_caption() { retry 100 caption_ends "$1" || { echo "last seen: $(caption)" >&2; return 1; }; }
# The caption's end matching an extended regular expression.
caption_matches() { [[ "$(caption)" =~ $1$ ]]; }
wait_caption_re() { retry 100 caption_matches "$1" || { echo "last seen: $(caption)" >&2; return 1; }; }
# press KEY... TEXT: the keys, then the caption must come to end with TEXT.
press() {
    D key "$MARK" "${@:1:$#-1}"
    wait_caption "${*: -1}" || vs_fail "after ${*:1:$#-1} the caption does not end with \"${*: -1}\""
}
rect_is() { [ "$(info | field rect)" = "$1" ]; }
expect_rect() { retry 50 rect_is "$1" || vs_fail "$2: window rect is \"$(info | field rect)\", expected \"$1\""; }
wait_zoomed() { retry 50 eval '[ "$(info | field zoomed)" = 1 ]'; }
# Until the focus of the window's thread is in a window of CLASS.
focus_in() { info | grep -q "^focus=$1[ (]"; }
wait_focus() { retry 50 focus_in "$1"; }
# shot NAME [WINDOW]: the main window (or the one whose caption holds WINDOW) as LOGS/NAME.bmp, to see what a check saw.
shot() { D shot "${2:-$MARK}" "$LOGS/$1.bmp" && echo "screenshot: $LOGS/$1.bmp"; }
pane() { D panes "$MARK" | field "pane$1"; }
pane_is() { [ "$(pane "$1")" = "$2" ]; }
wait_pane() { retry 50 pane_is "$1" "$2" || { echo "pane $1 is \"$(pane "$1")\"" >&2; return 1; }; }
expect_pane() { pane_is "$1" "$2" || vs_fail "pane $1 is \"$(pane "$1")\", expected \"$2\""; }
near() {  # "R G B" R G B: within 40 per channel
    local r g b
    read -r r g b <<<"$1"
    local dr=$((r - $2)) dg=$((g - $3)) db=$((b - $4))
    [ ${dr#-} -le 40 ] && [ ${dg#-} -le 40 ] && [ ${db#-} -le 40 ]
}
pixel_near() { near "$(D pixel "$MARK" "$1" "$2")" "$3" "$4" "$5"; }
pixel_is() {  # X Y R G B [X Y R G B]...: each point, waiting for the paint
    [ $# -gt 0 ] && [ $(($# % 5)) = 0 ] || { echo "pixel_is: no point in \"$*\"" >&2; return 1; }
    while [ $# -ge 5 ]; do
        retry 25 pixel_near "$@" || { echo "pixel $1,$2 is $(D pixel "$MARK" "$1" "$2"), not $3 $4 $5" >&2; return 1; }
        shift 5
    done
}
# expect_regs WHAT EXPECTED KEY VALUE [KEY VALUE]...: the values, one a line.
expect_regs() {
    local what=$1 want=$2 got
    shift 2
    got=$(D reg "$@") || vs_fail "$what: registry not read"
    [ "$got" = "$want" ] || vs_fail "$what: got
$got
expected
$want"
}
start_viewer() {
    vs_run "$OUT/vistrel.exe" "$@" &
    APP=$!
    D wait "$MARK" 60 >/dev/null && return
    # What was there instead: the viewer's process, and any window of its name.
    local state=gone
    kill -0 "$APP" 2>/dev/null && state="still running"
    vs_fail "main window did not appear (viewer $state; window: \"$(D wait Vistrel 1 2>&1 | head -n 1)\")"
}
stop_viewer() {
    D key "$MARK" ESCAPE
    D gone "$MARK" 30 || vs_fail "window still there after Esc"
    wait "$APP" || vs_fail "viewer exited with $?"
}
# slow_pngs PREFIX N: PREFIX1.png ... PREFIXN.png, magenta pictures of 48 million pixels with every row Paeth-filtered:
# unfiltering is the slow way to decode, so each keeps a thumbnail worker busy for a second or more.
slow_pngs() {
    python3 - "$1" "$2" <<'PY' || vs_fail "python"
import struct, sys, zlib
w, h = 8000, 6000
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
z = zlib.compressobj(9)
# The first pixel carries the colour; every other byte is predicted exactly.
first = b"\4\xff\x00\xff" + b"\0" * (3 * (w - 1))
row = b"\4" + b"\0" * (3 * w)
idat = z.compress(first) + b"".join(z.compress(row) for _ in range(h - 1)) + z.flush()
for n in range(1, int(sys.argv[2]) + 1):
    # A comment of its own length gives each file a size of its own.
    with open("%s%d.png" % (sys.argv[1], n), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"tEXt", b"Comment\0" + b"x" * (100 * n)) + chunk(b"IDAT", idat) + chunk(b"IEND", b""))
PY
}
