#!/bin/bash
# Races a user meets: an update check against a server that holds its answer, a start while the last viewer is still
# closing, and a hand-over naming the shown file in another letter case.
# usage: concurrency_test.sh SHELL_OUT_DIR WINE64 LOG_DIR
set -u -o pipefail
. "$(dirname "$0")/viewerlib.sh"
vs_viewer_begin "$@"
RESULT="Update Check Result - Vistrel Viewer "

convert -size 320x240 xc:'#ff0000' "$PICS/a.png"
convert -size 320x240 xc:'#00ff00' "$PICS/b.png"
convert -size 320x240 xc:'#0000ff' -compress lzw "$PICS/d.tif"

# An update server that answers once $RELEASE exists; it logs each request first, so the test knows the check got there.
RELEASE=$VS_TMP/release
cat >"$VS_TMP/server.py" <<'EOS'
import http.server, os, sys, time
release, log = sys.argv[2], sys.argv[3]
class Held(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        open(log, "a").write(self.path + "\n")
        while not os.path.exists(release):
            time.sleep(0.05)
        body = b'<?xml version="1.0"?><info><version>2.0</version><build>071130</build></info>'
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    log_message = lambda self, *args: None
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Held)
print(server.server_address[1], flush=True)
server.serve_forever()
EOS
python3 "$VS_TMP/server.py" 0 "$RELEASE" "$VS_TMP/requests" >"$VS_TMP/port" &
HTTP=$!
trap 'kill $HTTP 2>/dev/null; vs_wine_stop' EXIT
retry 50 test -s "$VS_TMP/port" || vs_fail "no update server"
D regset "$KEY" UpdateHost sz "127.0.0.1:$(head -n 1 "$VS_TMP/port")" || vs_fail "UpdateHost"
requests() { [ "$(cat "$VS_TMP/requests" 2>/dev/null | wc -l)" -ge "$1" ]; }

echo "-- the window stays live while the update check waits for the server"
start_viewer "$WPICS\\a.png"
wait_caption "a.png (1/3)" >/dev/null || vs_fail "first picture"
D button "$MARK" 17
retry 100 requests 1 || vs_fail "the check did not reach the server"
D key "$MARK" RIGHT
wait_caption "b.png (2/3)" >/dev/null || vs_fail "the window did not step while the check waited"
touch "$RELEASE"
text=$(D dialog "$RESULT" 1009 30) || vs_fail "no result once the server answered"
grep -qF "You already have the latest version" <<<"$text" || vs_fail "result: \"$text\""
D gone "Update Check Result" 10 || vs_fail "result dialog still there"

echo "-- a server that never answers ends in the failure message"
rm -f "$RELEASE"
D button "$MARK" 17
retry 100 requests 2 || vs_fail "the second check did not reach the server"
D key "$MARK" RIGHT
wait_caption "d.tif (3/3)" >/dev/null || vs_fail "the window did not step during the second check"
# The check's own deadline, not the server, ends it.
text=$(D dialog "$RESULT" 1009 60) || vs_fail "no result from a server that never answers"
grep -qF "Checking for update failed!" <<<"$text" || vs_fail "held: \"$text\""
touch "$RELEASE"

echo "-- a hand-over naming the shown file in another case"
D key "$MARK" HOME
wait_caption "a.png (1/3)" >/dev/null || vs_fail "Home"
vs_run "$OUT/vistrel.exe" "$WPICS\\D.TIF" || vs_fail "second start exited with $?"
wait_caption "Orvanta - d.tif (3/3)" >/dev/null || vs_fail "the hand-over in another case named another file"
expect_pane 0 " d.tif (3/3)"

echo "-- a start while the last viewer is closing becomes the viewer"
stop_viewer
# A viewer that has closed its window but not yet let go of the instance.
# Straight to the file: the driver's filter would hold "held" back.
vs_run "$OUT/vsdriver.exe" holdinstance "$(winpath "$VS_TMP/let-go")" >"$VS_TMP/held" &
HOLDER=$!
retry 100 test -s "$VS_TMP/held" || vs_fail "the instance was not held"
vs_run "$OUT/vistrel.exe" "$WPICS\\b.png" &
APP=$!
# It must neither hand over to nobody and exit nor open a second viewer.
sleep 1
kill -0 "$APP" 2>/dev/null || vs_fail "the start ended while the last viewer was closing"
touch "$VS_TMP/let-go"
wait "$HOLDER" || vs_fail "the holder failed"
D wait "$MARK" 30 >/dev/null || vs_fail "no window once the last viewer had gone"
wait_caption "b.png (2/3)" >/dev/null || vs_fail "the picture of the start is not shown"

echo "-- the last of quick sort commands wins while thumbnails are made"
# Large pictures keep the thumbnail worker busy while the commands come.
SORTS=$VS_TMP/sorts
mkdir -p "$SORTS"
for n in 1 2 3; do convert -size 8000x6000 xc:magenta -define png:compression-filter=4 "$SORTS/big$n.png"; done
convert -size 64x48 xc:red "$SORTS/small.png"
convert -size 640x480 plasma:fractal -quality 95 "$SORTS/medium.jpg"
D key "$MARK" V
vs_run "$OUT/vistrel.exe" "$(winpath "$SORTS")\\small.png" || vs_fail "hand-over of the sort folder"
wait_caption "small.png (5/5)" >/dev/null || vs_fail "the sort folder"
for key in 19 18 19 18 17 19; do D menu "$MARK" $key; done
wait_pane 3 "Sort by: SIZE ASC" || vs_fail "the last command did not win in pane 3"
D key "$MARK" V
D key "$MARK" HOME
wait_caption "small.png (1/5)" >/dev/null || vs_fail "the list is not in size order"

stop_viewer
[ "$(D reg "$KEY" SortType)" = "19" ] || vs_fail "SortType is $(D reg "$KEY" SortType)"
echo "PASS"
