# Sourced by the viewer's end-to-end tests: the set-up, the driver and the
# checks they share.
#   vs_viewer_begin OUT WINE64 LOGS   sets OUT and LOGS, starts a private Wine
#                                     (winenv.sh) and makes the log folder
. "$(dirname "${BASH_SOURCE[0]}")/winenv.sh"
vs_viewer_begin() {
    OUT=$1
    LOGS=$3
    vs_wine_start "$2"
    mkdir -p "$LOGS"
}
KEY='Software\Orvanta\Vistrel Viewer\2.0'
MARK="Vistrel Viewer - v2.0"
# The driver, its exit status kept through the filter.
D() {
    vs_run "$OUT/vsdriver.exe" "$@" | tr -d '\r'
    return "${PIPESTATUS[0]}"
}
field() { sed -n "s/^$1=//p"; }
# A Unix path as the viewer's Windows path.
winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# Waits until the caption ends with TEXT; prints the window's description.
wait_caption() {
    local want=$1 info i
    for i in $(seq 1 100); do
        info=$(D wait "$MARK" 5)
        [[ "$(field caption <<<"$info")" == *"$want" ]] && { echo "$info"; return 0; }
        sleep 0.2
    done
    echo "last seen: $(field caption <<<"$info")" >&2
    return 1
}
# The caption's end matching an extended regular expression.
wait_caption_re() {
    local seen i
    for i in $(seq 1 100); do
        seen=$(D wait "$MARK" 5 | field caption)
        [[ "$seen" =~ $1$ ]] && return 0
        sleep 0.2
    done
    echo "last seen: $seen" >&2
    return 1
}
expect_rect() {
    local info rect i
    for i in $(seq 1 50); do
        info=$(D wait "$MARK" 5)
        rect=$(field rect <<<"$info")
        [ "$rect" = "$1" ] && return 0
        sleep 0.2
    done
    vs_fail "$2: window rect is \"$rect\", expected \"$1\""
}
wait_zoomed() {
    local i
    for i in $(seq 1 50); do
        [ "$(D wait "$MARK" 5 | field zoomed)" = 1 ] && return 0
        sleep 0.2
    done
    return 1
}
# Waits until the focus of the window's thread is in a window of CLASS.
wait_focus() {
    local i
    for i in $(seq 1 50); do
        D wait "$MARK" 5 | grep -q "^focus=$1[ (]" && return 0
        sleep 0.2
    done
    return 1
}
pane() { D panes "$MARK" | field "pane$1"; }
# Waits until status pane N reads TEXT.
wait_pane() {
    local i got
    for i in $(seq 1 50); do
        got=$(pane "$1")
        [ "$got" = "$2" ] && return 0
        sleep 0.2
    done
    echo "pane $1 is \"$got\"" >&2
    return 1
}
near() {  # "R G B" R G B: within 40 per channel
    local r g b
    read -r r g b <<<"$1"
    local dr=$((r - $2)) dg=$((g - $3)) db=$((b - $4))
    [ ${dr#-} -le 40 ] && [ ${dg#-} -le 40 ] && [ ${db#-} -le 40 ]
}
pixel_is() {  # X Y R G B, waiting for the paint
    local got i
    for i in $(seq 1 25); do
        got=$(D pixel "$MARK" "$1" "$2")
        near "$got" "$3" "$4" "$5" && return 0
        sleep 0.2
    done
    echo "pixel $1,$2 is $got" >&2
    return 1
}
start_viewer() {
    vs_run "$OUT/vistrel.exe" "$@" &
    APP=$!
    D wait "$MARK" 60 >/dev/null || vs_fail "main window did not appear"
}
stop_viewer() {
    D key "$MARK" ESCAPE
    D gone "$MARK" 30 || vs_fail "window still there after Esc"
    wait "$APP" || vs_fail "viewer exited with $?"
}
