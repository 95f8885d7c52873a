#!/bin/bash
# istool.exe under Wine: the command-line checks pass, and every call gives
# the same exit status, stdout and stderr bytes as the native istool.
# usage: istool_wine_test.sh ISTOOL_EXE WINE64 NATIVE_ISTOOL
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../e2e/winenv.sh"
EXE=$1
NATIVE=$3
vs_wine_start "$2"

# Stands in for istool in istool_test.sh: runs the native one first, then
# the PE one, and notes any difference in what they print.
wrap=$VS_TMP/istool
diffs=$VS_TMP/differences
cat >"$wrap" <<WRAP
#!/bin/bash
n=\$("$NATIVE" "\$@" 2>"$VS_TMP/nerr"; echo "status \$?")
w=\$("$VS_WINE" "$EXE" "\$@" 2>"$VS_TMP/werr"; echo "status \$?")
if [ "\$n" != "\$w" ] || ! cmp -s "$VS_TMP/nerr" "$VS_TMP/werr"; then
    { echo "istool \$*:"; diff <(echo "\$n"; cat "$VS_TMP/nerr") <(echo "\$w"; cat "$VS_TMP/werr"); } >>"$diffs"
fi
cat "$VS_TMP/werr" >&2
printf '%s' "\${w%status *}"
exit "\${w##*status }"
WRAP
chmod +x "$wrap"
VS_NO_PNM=1 bash "$here/istool_test.sh" "$wrap"
rc=$?
# The Windows build refuses PNM input with its own code.
convert -size 4x4 xc:red "$VS_TMP/in.ppm"
err=$("$VS_WINE" "$EXE" convert "$VS_TMP/in.ppm" "$VS_TMP/out.bmp" 2>&1)
st=$?
if [ $st -ne 1 ] || [ "$err" != "istool: $VS_TMP/in.ppm: error 17" ] || [ -e "$VS_TMP/out.bmp" ]; then
    echo "FAIL: PNM input: status $st, \"$err\"" >&2
    rc=1
fi
if [ -s "$diffs" ]; then
    echo "FAIL: istool.exe differs from the native istool:" >&2
    cat "$diffs" >&2
    rc=1
fi
exit $rc
